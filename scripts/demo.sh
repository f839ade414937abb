#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds, and runs the main job on the bundled demo drive.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DAXIS_BUILD_TESTS=OFF -DAXIS_BUILD_BENCH=OFF
out="$(mktemp -d)/demo-linear.json"
build/bin/axiscore compute setups/demo-linear.json -o "$out"
build/bin/axiscore show "$out"
