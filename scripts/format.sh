#!/usr/bin/env bash
# Applies the root .clang-format to every C++ source of the tree, or, with
# --check, lists the files it would change and fails if there are any.
#
#   scripts/format.sh           # rewrite in place
#   scripts/format.sh --check   # CI: change nothing, exit 1 on a difference
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh clang-format
# examples/embedded holds C as `fazolt export` writes it, kept byte for byte.
mapfile -t files < <(git ls-files '*.cpp' '*.h' | grep -v '^fuzz/corpus/\|^fuzz/seeds/\|^examples/embedded/')
if [ "${1:-}" = --check ]; then
  changed=0
  for f in "${files[@]}"; do
    if ! clang-format --dry-run --Werror "$f" >/dev/null 2>&1; then
      echo "needs formatting: $f"
      changed=1
    fi
  done
  exit $changed
fi
clang-format -i "${files[@]}"
