#!/usr/bin/env bash
# The main job: installs what is missing, builds every program and reports what was built.
set -euo pipefail
cd "$(dirname "$0")"
./tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
echo "built programs:"
ls -1 build/bin/
