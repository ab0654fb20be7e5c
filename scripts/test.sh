#!/usr/bin/env bash
# Sets up the machine, builds everything and runs the whole test suite through CTest.
# Pass SANITIZE=1 in the environment to build with AddressSanitizer and UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
dir=build
flags=()
if [ "${SANITIZE:-0}" = 1 ]; then dir=build-asan; flags+=(-DSANITIZE=ON -DQUASEL_BUILD_BENCH=OFF); fi
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${flags[@]}"
cmake --build "$dir" -j"$(nproc)"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$dir" --output-on-failure -j"$(nproc)"
