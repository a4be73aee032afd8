#!/usr/bin/env bash
# The checks beyond scripts/test.sh, each timed:
#   1. the whole test suite built with AddressSanitizer and
#      UndefinedBehaviorSanitizer (leak detection on), in build-asan/;
#   2. the API's tests (threads on one system and on several, functions
#      registered meanwhile, nested calls, C++ and Lua functions) and Python
#      functions under threads, built with ThreadSanitizer, in build-tsan/:
#      the libraries, that one test binary and the Python extension;
#   3. the CLI under valgrind memcheck on every example, using the plain
#      build in build/ that scripts/test.sh made;
#   4. the libFuzzer smoke run: replay of every seed and corpus input, then
#      $FAZOLT_FUZZ_SECONDS (default 45) of fuzzing per target.
# Run scripts/test.sh first.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh clang libclang-rt-14-dev valgrind

plain="${FAZOLT_BUILD_DIR:-build}"
asan="${FAZOLT_ASAN_DIR:-build-asan}"
tsan="${FAZOLT_TSAN_DIR:-build-tsan}"
fuzzSeconds="${FAZOLT_FUZZ_SECONDS:-45}"

step() {  # step NAME COMMAND...: runs and times one step
  local name=$1 start=$SECONDS
  shift
  echo "== $name"
  "$@"
  echo "== $name: $((SECONDS - start)) s"
}

# The whole suite, the bit-exactness oracle included: it hashes NaN as NaN,
# so the sanitizer build's other choice of NaN operand does not show.
sanitizedTests() {
  cmake -S . -B "$asan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFAZOLT_SANITIZE=ON >/dev/null
  cmake --build "$asan" -j2 >/dev/null
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir "$asan" --output-on-failure -j2
}

# Any report fails the step: halt_on_error stops at the first one. Python
# functions run in Debian's python3 with the sanitizer's run-time preloaded
# (the interpreter is not instrumented; its locks are seen).
threadTests() {
  cmake -S . -B "$tsan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFAZOLT_SANITIZE_THREAD=ON >/dev/null
  cmake --build "$tsan" -j2 --target fazolt_thread_tests fazolt_python fazolt_python_files fazolt_python_libs \
    >/dev/null
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 "$tsan/fazolt_thread_tests" --gtest_brief=1
  LD_PRELOAD="$(gcc -print-file-name=libtsan.so)" TSAN_OPTIONS=halt_on_error=1 PYTHONPATH="$tsan/python" \
    /usr/bin/python3 python/tests/threads_under_tsan.py
}

# Runs the command under memcheck; only memcheck's own verdict counts, so an
# example whose evaluation is refused on purpose still has to end clean.
memcheck() {
  local log status=0
  log=$(mktemp)
  valgrind -q --error-exitcode=86 --leak-check=full --errors-for-leak-kinds=definite,indirect \
    --show-leak-kinds=definite,indirect "$@" >/dev/null 2>"$log" || status=$?
  if [ "$status" -eq 86 ] || [ "$status" -ge 126 ]; then
    cat "$log"
    rm -f "$log"
    echo "memcheck: errors in: $*"
    return 1
  fi
  rm -f "$log"
  echo "memcheck clean (exit $status): ${*#"$plain/"}"
}

valgrindExamples() {
  local cli="$plain/fazolt" d system
  for d in examples/*/; do
    d=${d%/}
    [ -f "$d/inputs.csv" ] || continue
    for system in "$d"/*.json; do
      memcheck "$cli" eval "$system" "$d/inputs.csv"
      memcheck "$cli" eval --format json "$system" "$d/inputs.csv"
    done
  done
  memcheck "$cli" call examples/call/inputs.json examples/call/fis.json examples/call/diagnostics.json
  memcheck "$cli" call --nargout 6 examples/call/inputs.json examples/call/fis.json examples/call/diagnostics.json
  memcheck "$cli" properties
  memcheck "$plain/example_custom_method"
}

total=$SECONDS
step "sanitizer build and tests" sanitizedTests
step "thread sanitizer build and the API's tests" threadTests
step "valgrind memcheck on the examples" valgrindExamples
step "fuzz smoke" scripts/fuzz.sh smoke "$fuzzSeconds"
echo "== extra checks: $((SECONDS - total)) s"
