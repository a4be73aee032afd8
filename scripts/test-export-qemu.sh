#!/usr/bin/env bash
# Exported C on a Cortex-M7 in QEMU against the same C on this machine
# (scripts/export_qemu.py): bit for bit unless pow (gbellmf) comes from the
# board's library, where the largest ulp difference is reported.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${FAZOLT_BUILD_DIR:-build}"
timeout 600 /usr/bin/python3 scripts/export_qemu.py "$build"
