#!/usr/bin/env bash
# The ABI check: the dynamic symbols that each installed library exports,
# demangled and sorted, against the lists kept in tests/abi/. A symbol that
# appears or disappears fails the check (ctest -R abi.exported_symbols).
#
#   scripts/abi-symbols.sh            # compare the build with tests/abi/*.txt
#   scripts/abi-symbols.sh --update   # write tests/abi/*.txt from the build
#
# The build folder is build/ (or $FAZOLT_BUILD_DIR). After a change of the
# public API, run it with --update and commit the lists with the change.
set -euo pipefail
source=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${FAZOLT_BUILD_DIR:-$source/build}" && pwd)
update=0
[ "${1:-}" = --update ] && update=1

status=0
for library in liborvane libfazolt_api libfazolt; do
  list="$source/tests/abi/$library.txt"
  actual=$(nm -D --defined-only --demangle "$build/$library.so" | awk '{ $1 = ""; $2 = ""; sub(/^  /, ""); print }' |
    LC_ALL=C sort -u)
  if [ $update = 1 ]; then
    printf '%s\n' "$actual" >"$list"
    echo "abi-symbols: wrote $list ($(wc -l <"$list") symbols)"
  elif ! diff -u --label "$list" --label "$build/$library.so" "$list" <(printf '%s\n' "$actual"); then
    echo "abi-symbols: $library.so exports other symbols than $list (+ new, - gone);" \
      "if that is meant, run scripts/abi-symbols.sh --update and commit the list" >&2
    status=1
  fi
done
exit $status
