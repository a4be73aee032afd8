#!/usr/bin/env bash
# Installs the Debian packages that building and testing fazolt need, if any is missing.
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config python3 libgtest-dev libgmock-dev libbenchmark-dev
          nlohmann-json3-dev libcli11-dev zlib1g-dev liblapacke-dev liblapacke64-dev)
# explain, plot and view: cairo charts; the cpp-httplib server, whose header needs the
# OpenSSL, zlib and Brotli headers it was built with; headless Chromium, Selenium and
# pycairo for the page and chart tests.
packages+=(libcairo2-dev libcpp-httplib-dev libssl-dev libbrotli-dev fonts-dejavu-core
           chromium chromium-driver python3-selenium python3-pytest python3-cairo)
packages+=(liblua5.4-dev libfuzzylite-dev)  # Lua host functions; the FCL/FLL interop test
# Installing and packaging: cpack's DEB generator, the manual page, the package check.
packages+=(make dpkg-dev file help2man lintian)
packages+=(doxygen libjs-jquery)  # the API reference (the docs target and its warnings test; the package links its jQuery)
# The Python package (python/): pybind11, numpy, pandas, matplotlib, dask, pytest, pip into a venv,
# scikit-learn for the transformer, mypy for the type hints.
packages+=(python3-dev pybind11-dev python3-pybind11 python3-numpy python3-pandas python3-matplotlib
           python3-dask python3-distributed python3-pytest python3-venv python3-pip python3-setuptools python3-wheel
           python3-sklearn mypy)
# Fitting to data (fazolt.tune, `fazolt tune`).
packages+=(python3-scipy)
# Exported C: Clang compiles it too; a Cortex-M cross compiler, its C library and the
# emulator it runs on (scripts/test-export-qemu.sh).
packages+=(clang gcc-arm-none-eabi picolibc-arm-none-eabi qemu-system-arm)
packages+=("$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
