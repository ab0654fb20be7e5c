#!/usr/bin/env bash
# Sets up the machine, builds everything and runs the whole test suite through CTest.
# Pass SANITIZE=1 in the environment to build with AddressSanitizer and UBSan, SANITIZE=thread
# to build with ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
dir=build
flags=()
case "${SANITIZE:-0}" in
  1) dir=build-asan; flags+=(-DSANITIZE=ON -DQUASEL_BUILD_BENCH=OFF) ;;
  thread) dir=build-tsan; flags+=(-DSANITIZE_THREAD=ON -DQUASEL_BUILD_BENCH=OFF)
    # Qt's own internals are not instrumented; see tests/tsan.supp. Any report fails the test.
    export TSAN_OPTIONS="suppressions=$PWD/tests/tsan.supp${TSAN_OPTIONS:+ $TSAN_OPTIONS}" ;;
esac
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${flags[@]}"
cmake --build "$dir" -j"$(nproc)"
export QT_QPA_PLATFORM=offscreen
# A short, repeatable fuzzing pass over every reader (scripts/fuzz.sh runs them longer).
if [ "${SANITIZE:-0}" = 0 ]; then FUZZ_SEED=1 ./scripts/fuzz.sh 5; fi
ctest --test-dir "$dir" --output-on-failure -j"$(nproc)"
