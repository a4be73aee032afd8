#!/usr/bin/env bash
# Installs what is missing, builds, and evaluates the bundled dimmer on its inputs.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh >/dev/null
build/fazolt eval examples/dimmer/dimmer.json examples/dimmer/inputs.csv
