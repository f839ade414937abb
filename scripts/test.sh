#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds, and runs every test: the normal build, its Debian
# package unpacked and run from there, then the AddressSanitizer + UndefinedBehaviorSanitizer build
# of the unit tests. Warnings are errors here (AXIS_WERROR), unlike in a user's build.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

# Tests and benchmarks on explicitly: the demo script configures the same build folder without
# them, and CMake keeps options between runs.
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DAXIS_BUILD_TESTS=ON -DAXIS_BUILD_BENCH=ON \
  -DAXIS_WERROR=ON
ctest --test-dir build --output-on-failure --no-tests=error -j "$(nproc)"

# The Debian package, unpacked into a temporary folder, runs from there.
rm -f build/axiscore_*.deb
(cd build && cpack -G DEB >/dev/null)
package="$(echo build/axiscore_*.deb)"
unpacked="$(mktemp -d)"
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$package" "$unpacked"
scripts/check-installed.sh "$unpacked/usr"
echo "Package: $package ($(dpkg-deb -f "$package" Depends))"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DAXIS_SANITIZE=ON -DAXIS_BUILD_TESTS=ON \
  -DAXIS_BUILD_BENCH=OFF -DAXIS_WERROR=ON
ctest --test-dir build-asan --output-on-failure --no-tests=error -j "$(nproc)"
