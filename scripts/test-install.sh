#!/usr/bin/env bash
# Installs the build into a temporary prefix and uses it from outside the tree:
#   1. a CMake project (find_package) and a Makefile (pkg-config) build the
#      custom-method example against the install; it evaluates the dimmer
#      bit for bit like `fazolt eval`, and its own system as in the build;
#   2. with the build folder renamed away, the installed tool evaluates every
#      bundled example that needs no host function of its own;
#   3. the Debian package holds its files where Debian expects them, and the
#      tool unpacked from it runs; lintian, if present, reports no error.
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
deb="$build/fazolt_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || fail "cpack made no $deb"
cp "$deb" "$work/"
deb="$work/$(basename "$deb")"

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

# 3. The Debian package.
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for path in ./usr/bin/fazolt ./usr/$multiarch/libfazolt.so.$version ./usr/$multiarch/libfazolt_api.so.$version \
  ./usr/$multiarch/liborvane.so.$version ./usr/include/fazolt/fazolt.h ./usr/include/fazolt/version.h \
  ./usr/include/orvane/host.h ./usr/$multiarch/cmake/fazolt/fazoltConfig.cmake \
  ./usr/$multiarch/pkgconfig/fazolt.pc ./usr/share/doc/fazolt/copyright; do
  grep -qx "$path" <<<"$contents" || fail "$(basename "$deb") lacks $path"
done
if grep -v -e '^\./usr/' -e '^\./$' <<<"$contents"; then fail "$(basename "$deb") has files outside /usr"; fi
dpkg-deb -f "$deb" Depends | grep -q libc6 || fail "$(basename "$deb"): no shared-library dependencies"
dpkg-deb -x "$deb" "$work/root"
[ "$("$work/root/usr/bin/fazolt" --version)" = "fazolt $version" ] || fail "unpacked fazolt --version"
"$work/root/usr/bin/fazolt" eval examples/dimmer/dimmer.json examples/dimmer/inputs.csv "${quiet[@]}" >"$work/actual.csv"
same "unpacked fazolt eval" "$work/expected-dimmer.json.csv" "$work/actual.csv"
if command -v lintian >/dev/null; then
  lintian --no-tag-display-limit "$deb" >"$work/lintian.txt" 2>&1 || true
  if grep '^E:' "$work/lintian.txt"; then fail "lintian reports errors"; fi
  grep '^W:' "$work/lintian.txt" || true  # the known ones are listed in the README
fi
echo "test-install: consumers, installed tool and $(basename "$deb") agree with the build (version $version)"
