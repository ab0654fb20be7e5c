#!/usr/bin/env bash
# Sets up the machine, builds the viewer and opens FILE (or the bundled sample image).
# It shares the build folder with the tests and builds only the program.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)" --target quasel
exec ./build/viewer/quasel "$@"
