#!/usr/bin/env bash
# Runs the command line from an installed tree, as a user of it would:
#   scripts/check-installed.sh PREFIX
#   scripts/check-installed.sh BUILD_DIR
# PREFIX is the folder holding bin/axiscore: a `cmake --install --prefix` folder, or usr/ of an
# unpacked package. A build folder is installed into a temporary prefix first, which is then moved
# elsewhere. Nothing of the build or source tree is used: the program must find its libraries,
# plug-in, desktop front end and resources from its own folder.
set -euo pipefail
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
if [ -f "$1/CMakeCache.txt" ]; then
  cmake --install "$1" --prefix "$work/installed" >/dev/null
  mv "$work/installed" "$work/moved"
  prefix="$work/moved"
else
  prefix="$(cd "$1" && pwd -P)"
fi
axiscore="$prefix/bin/axiscore"

fail() {
  echo "check-installed: $*" >&2
  exit 1
}

version="$("$axiscore" --version)"
[[ "$version" =~ ^axiscore\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "--version printed \"$version\""

# The host library comes from the installed tree, and no Qt library is linked: the desktop front
# end brings Qt in only for the commands that draw or edit.
linked="$(ldd "$axiscore")"
grep -q "libaxiscore.so => $prefix/" <<<"$linked" || fail "libaxiscore.so not from $prefix: $linked"
! grep -q libQt <<<"$linked" || fail "axiscore links Qt: $linked"

setup="$work/demo-linear.json"
cp "$prefix/share/axiscore/setups/demo-linear.json" "$setup"
"$axiscore" set "$setup" PWM_freq=16kHz
"$axiscore" get "$setup" PWM_freq | grep -q "^PWM_freq	16000	Hz	" || fail "set/get on $setup"

# The front end and the dialog templates, from the installed folders.
if [ -n "$(find "$prefix" -name libaxiscore-gui.so)" ]; then
  QT_QPA_PLATFORM=offscreen "$axiscore" render-template 106 "$work/106.png"
  [ -s "$work/106.png" ] || fail "render-template wrote no picture"
fi
echo "check-installed: $axiscore runs ($version)"
