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
  thread) dir=build-tsan; flags+=(-DSANITIZE_THREAD=ON -DQUASEL_BUILD_BENCH=OFF) ;;
esac
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${flags[@]}"
cmake --build "$dir" -j"$(nproc)"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$dir" --output-on-failure -j"$(nproc)"
