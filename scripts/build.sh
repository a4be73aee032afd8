#!/usr/bin/env bash
# Configures and builds fazolt into build/ (or $FAZOLT_BUILD_DIR).
set -euo pipefail
cd "$(dirname "$0")/.."
dir="${FAZOLT_BUILD_DIR:-build}"
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="${FAZOLT_BUILD_TYPE:-RelWithDebInfo}" "$@" >/dev/null
cmake --build "$dir"
