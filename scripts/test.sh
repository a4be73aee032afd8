#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh -DFAZOLT_WERROR=ON
ctest --test-dir "${FAZOLT_BUILD_DIR:-build}" --output-on-failure -j2
# ---- explain, plot and view: the tool's outputs against the module, the
# charts, the view server's API under load, and its page in headless Chromium
# (Debian's /usr/bin/python3, which sees python3-selenium and python3-cairo).
FAZOLT_BUILD_DIR="$(cd "${FAZOLT_BUILD_DIR:-build}" && pwd)" /usr/bin/python3 -m pytest -q -p no:cacheprovider tests/views
# The README's and the guides' commands and code blocks, run; their links, followed.
FAZOLT_BUILD_DIR="$(cd "${FAZOLT_BUILD_DIR:-build}" && pwd)" /usr/bin/python3 -m pytest -q -p no:cacheprovider tests/docs
scripts/test-install.sh
scripts/test-export-qemu.sh
# The Python package, after the C++ tests (Debian's interpreter and pytest).
/usr/bin/python3 -m pytest -q -p no:cacheprovider python/tests
