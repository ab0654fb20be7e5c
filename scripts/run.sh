#!/usr/bin/env bash
# Sets up the machine, builds the viewer and opens FILE (or the bundled sample).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUASEL_BUILD_TESTS=OFF -DQUASEL_BUILD_BENCH=OFF
cmake --build build -j"$(nproc)" --target quasel
exec ./build/viewer/quasel "$@"
