#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tools need. Safe to run again.
set -euo pipefail

# python3 runs the data-file checks that ctest includes (the bundled setups' format against the
# schema with python3-jsonschema, the dialog template checker's own tests); binutils' nm checks the plug-in's exports; clang and its
# runtimes build the fuzz target; Qt 6 the desktop front end and its offscreen tests; locales the
# decimal-comma locale (de_DE.UTF-8) that the tests run the command line and the desktop in;
# dpkg-dev (dpkg-shlibdeps) and file let CPack work out the Debian package's dependencies;
# hyperfine times the command line's start-up (bench/cli_startup.sh).
packages=(
  cmake ninja-build g++ binutils ccache pkg-config
  nlohmann-json3-dev libgtest-dev libgmock-dev libbenchmark-dev
  python3 python3-jsonschema locales dpkg-dev file hyperfine
  clang libclang-rt-14-dev
  qt6-base-dev qt6-svg-dev libgl-dev fonts-dejavu-core
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The tests need one locale that writes numbers with a decimal comma.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  echo "Generating the de_DE.UTF-8 locale"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO sed -i 's/^# *\(de_DE.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen >/dev/null
fi
