#!/usr/bin/env bash
# Installs the build into a temporary prefix and uses it from outside the tree:
#   1. a CMake project (find_package) and a Makefile (pkg-config) build the
#      custom-method example against the install; it evaluates the dimmer
#      bit for bit like `fazolt eval`, and its own system as in the build;
#   2. with the build folder renamed away, the installed tool evaluates every
#      bundled example that needs no host function of its own;
#   3. the Debian packages (libfazolt<SOVERSION>, libfazolt-dev, fazolt) hold
#      their files where Debian expects them (the licence, the guides, the API
#      reference), with the right Installed-Size and Multi-Arch, and the tool
#      unpacked from them runs; lintian --pedantic, if present, reports
#      nothing but informational tags;
#   4. as root: the library packages install, a CMake and a pkg-config
#      consumer build against libfazolt-dev alone (no tool, no cairo) and
#      run, the tool package installs and runs, and all three remove cleanly.
# The tool, the API (macro and function) and the package report one version.
# Run after scripts/build.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${FAZOLT_BUILD_DIR:-build}"
build=$(cd "$build" && pwd)
source=$(pwd)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
multiarch=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$build/CMakeCache.txt")
work=$(mktemp -d)
quiet=(--on-out-of-range none --on-no-rule-fired none --on-empty-set none)
away="$build.moved-away-$$"
restore() {
  if [ -d "$away" ]; then mv "$away" "$build"; fi
  rm -rf "$work"
}
trap restore EXIT
trap 'exit 130' INT TERM  # so that an interrupted run still puts the build folder back

fail() {
  echo "test-install: $*" >&2
  exit 1
}
same() {  # same WHAT EXPECTED_FILE ACTUAL_FILE
  cmp -s "$2" "$3" || { diff "$2" "$3" | head -20 >&2; fail "$1 differs"; }
}

# What the build tree gives, to compare with once the build is gone.
examplesWithInputs=()
for d in examples/*/; do
  d=${d%/}
  [ -f "$d/inputs.csv" ] || continue
  for system in "$d"/*.json; do
    grep -q '"lukasiewicz"' "$system" && continue  # served by the example's own program
    examplesWithInputs+=("$system")
    "$build/fazolt" eval "$system" "$d/inputs.csv" "${quiet[@]}" >"$work/expected-$(basename "$system").csv"
  done
done
"$build/example_custom_method" >"$work/expected-custom.csv"
[ "$("$build/fazolt" --version)" = "fazolt $version" ] || fail "fazolt --version is not fazolt $version"

prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
(cd "$build" && cpack -G DEB >"$work/cpack.txt" 2>&1) || { cat "$work/cpack.txt" >&2; fail "cpack -G DEB failed"; }
libs="libfazolt${version%.*}"  # named for the SONAME, major.minor
packages=("$libs" libfazolt-dev fazolt)
declare -A deb
for package in "${packages[@]}"; do
  file="$build/${package}_${version}_$(dpkg --print-architecture).deb"
  [ -f "$file" ] || fail "cpack made no $file"
  cp "$file" "$work/"
  deb[$package]="$work/$(basename "$file")"
done

mv "$build" "$away"

# 1. Consumers outside the tree.
mkdir "$work/cmake-consumer" "$work/make-consumer"
for c in cmake-consumer make-consumer; do
  cp tests/install/CMakeLists.txt tests/install/Makefile tests/install/version.cpp "$work/$c/"
  cp examples/custom_method/main.cpp "$work/$c/"
done
cmake -S "$work/cmake-consumer" -B "$work/cmake-consumer/build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake-consumer/build" >/dev/null
PKG_CONFIG_PATH="$prefix/$multiarch/pkgconfig" make -s -C "$work/make-consumer" >/dev/null
for program in "$work/cmake-consumer/build" "$work/make-consumer"; do
  [ "$("$program/version")" = "$version $version" ] || fail "$program/version: not $version twice"
  "$program/evaluate" examples/dimmer/dimmer.json examples/dimmer/inputs.csv 2>/dev/null >"$work/actual.csv"
  same "$program/evaluate on the dimmer" "$work/expected-dimmer.json.csv" "$work/actual.csv"
  (cd "$work" && "$program/evaluate" "$source/examples/custom_method/lukasiewicz.json" \
    "$source/examples/custom_method/inputs.csv") >"$work/actual.csv"
  same "$program/evaluate on the custom method" "$work/expected-custom.csv" "$work/actual.csv"
done

# 2. The installed tool, with no build folder to lean on.
[ "$("$prefix/bin/fazolt" --version)" = "fazolt $version" ] || fail "installed fazolt --version"
for system in "${examplesWithInputs[@]}"; do
  "$prefix/bin/fazolt" eval "$system" "$(dirname "$system")/inputs.csv" "${quiet[@]}" >"$work/actual.csv"
  same "installed fazolt eval $system" "$work/expected-$(basename "$system").csv" "$work/actual.csv"
done
"$prefix/bin/fazolt" call examples/call/inputs.json examples/call/fis.json examples/call/diagnostics.json >/dev/null

# 3. The Debian packages.
has() {  # has PACKAGE PATH...: the package holds each path
  local package=$1 contents path
  shift
  contents=$(dpkg-deb -c "${deb[$package]}" | awk '{print $6}')
  for path in "$@"; do grep -qx "$path" <<<"$contents" || fail "$package lacks $path"; done
  if grep -v -e '^\./usr/' -e '^\./$' <<<"$contents"; then fail "$package has files outside /usr"; fi
}
lib="./usr/$multiarch"
has "$libs" "$lib/libfazolt.so.$version" "$lib/libfazolt_api.so.$version" "$lib/liborvane.so.$version" \
  "./usr/share/doc/$libs/copyright"
has libfazolt-dev ./usr/include/fazolt/fazolt.h ./usr/include/fazolt/version.h ./usr/include/fazolt/export.h \
  ./usr/include/orvane/host.h "$lib/cmake/fazolt/fazoltConfig.cmake" "$lib/pkgconfig/fazolt.pc" \
  "$lib/libfazolt_api.so" "$lib/liborvane.so" ./usr/share/doc/libfazolt-dev/copyright \
  ./usr/share/doc/libfazolt-dev/README.md ./usr/share/doc/libfazolt-dev/examples/custom_method/main.cpp \
  ./usr/share/doc/libfazolt-dev/docs/embedding.md ./usr/share/doc/libfazolt-dev/reference/index.html \
  ./usr/share/doc/libfazolt-dev/reference/classorvane_1_1Value.html ./usr/share/doc/libfazolt-dev/reference/lua_8h.html
has fazolt ./usr/bin/fazolt ./usr/share/man/man1/fazolt.1.gz ./usr/share/doc/fazolt/copyright \
  ./usr/share/doc/fazolt/README.md ./usr/share/doc/fazolt/docs/tool.md ./usr/share/doc/fazolt/examples/dimmer/dimmer.json
for path in ./usr/include/fazolt/numbers.h ./usr/include/orvane/faults.h; do  # internal headers
  dpkg-deb -c "${deb[libfazolt-dev]}" | awk '{print $6}' | grep -qx "$path" && fail "libfazolt-dev ships $path"
done
for package in "${packages[@]}"; do
  dpkg-deb -x "${deb[$package]}" "$work/root-$package"
  dpkg-deb -x "${deb[$package]}" "$work/root"
  # What dpkg-gencontrol would say: every file and link rounded up to 1 KiB, 1 KiB for each folder.
  size=$(find "$work/root-$package" -mindepth 1 -printf '%y %s\n' |
    awk '{ kib += ($1 == "f") ? int(($2 + 1023) / 1024) : 1 } END { print kib }')
  [ "$(dpkg-deb -f "${deb[$package]}" Installed-Size)" = "$size" ] || fail "$package: Installed-Size is not $size KiB"
done
dpkg-deb -f "${deb[$libs]}" Depends | grep -q libc6 || fail "$libs: no shared-library dependencies"
if dpkg-deb -f "${deb[$libs]}" Depends | grep -e cairo -e httplib; then fail "$libs pulls in the tool's libraries"; fi
while read -r package multiArch; do
  [ "$(dpkg-deb -f "${deb[$package]}" Multi-Arch)" = "$multiArch" ] || fail "$package: Multi-Arch is not $multiArch"
done <<<"$libs same
libfazolt-dev same
fazolt foreign"
grep -q "^License: Expat" "$work/root/usr/share/doc/fazolt/copyright" || fail "the copyright file names no licence"
dpkg-deb -f "${deb[fazolt]}" Depends | grep -q libcairo2 || fail "fazolt: no dependency on cairo"
zcat "$work/root/usr/share/man/man1/fazolt.1.gz" | grep -q '^\.SH "EXIT STATUS"' || fail "fazolt.1 has no EXIT STATUS"
[ "$("$work/root/usr/bin/fazolt" --version)" = "fazolt $version" ] || fail "unpacked fazolt --version"
"$work/root/usr/bin/fazolt" eval examples/dimmer/dimmer.json examples/dimmer/inputs.csv "${quiet[@]}" >"$work/actual.csv"
same "unpacked fazolt eval" "$work/expected-dimmer.json.csv" "$work/actual.csv"
if command -v lintian >/dev/null; then
  lintian --pedantic --tag-display-limit 0 "${deb[@]}" >"$work/lintian.txt" 2>&1 || true
  if grep -E '^[EWPX]:' "$work/lintian.txt"; then fail "lintian reports more than informational tags"; fi
fi

# 4. Installed for real, then removed (root only: dpkg changes the system).
if [ "$(id -u)" -eq 0 ] && ! dpkg-query -W "${packages[@]}" >/dev/null 2>&1; then
  apt_get() { DEBIAN_FRONTEND=noninteractive apt-get -y -qq -o DPkg::Lock::Timeout=300 "$@" >"$work/apt.txt" 2>&1 ||
    { cat "$work/apt.txt" >&2; fail "apt-get $*"; }; }
  removeAll() { apt-get -y -qq -o DPkg::Lock::Timeout=300 purge "${packages[@]}" >/dev/null 2>&1 || true; }
  trap 'removeAll; restore' EXIT
  apt_get install "${deb[$libs]}" "${deb[libfazolt-dev]}"
  dpkg-query -W fazolt >/dev/null 2>&1 && fail "libfazolt-dev pulled in the tool"
  mkdir "$work/system-cmake" "$work/system-make"
  for c in system-cmake system-make; do
    cp tests/install/CMakeLists.txt tests/install/Makefile tests/install/version.cpp "$work/$c/"
    cp /usr/share/doc/libfazolt-dev/examples/custom_method/main.cpp "$work/$c/"
  done
  cmake -S "$work/system-cmake" -B "$work/system-cmake/build" -G Ninja >/dev/null
  cmake --build "$work/system-cmake/build" >/dev/null
  make -s -C "$work/system-make" >/dev/null
  for program in "$work/system-cmake/build" "$work/system-make"; do
    [ "$("$program/version")" = "$version $version" ] || fail "$program/version against /usr: not $version twice"
    "$program/evaluate" examples/dimmer/dimmer.json examples/dimmer/inputs.csv 2>/dev/null >"$work/actual.csv"
    same "$program/evaluate against /usr" "$work/expected-dimmer.json.csv" "$work/actual.csv"
  done
  [ -z "$(pkg-config --cflags fazolt | tr -d " ")" ] || fail "pkg-config --cflags fazolt under /usr: $(pkg-config --cflags fazolt)"
  apt_get install "${deb[fazolt]}"
  [ "$(fazolt --version)" = "fazolt $version" ] || fail "installed package: fazolt --version"
  apt_get purge "${packages[@]}"
  for path in /usr/bin/fazolt /usr/include/fazolt "/usr/$multiarch/libfazolt_api.so.$version" /usr/share/doc/fazolt; do
    [ ! -e "$path" ] || fail "$path is left after removing the packages"
  done
  trap restore EXIT
else
  echo "test-install: not root, or fazolt's packages already installed: not installing them"
fi
echo "test-install: consumers, installed tool and the packages ${packages[*]} agree with the build (version $version)"
