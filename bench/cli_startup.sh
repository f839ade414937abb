#!/usr/bin/env bash
# Speed of the command line, timed whole-process by hyperfine, wall clock and CPU (user + system):
# `axiscore --help`, one `get` on the demo setup, and the resistance and inductance test on the
# simulated drive. The get should stay under 10 ms of wall clock (every command but edit, render
# and render-template starts without Qt); the whole test run under 0.5 s.
#   bench/cli_startup.sh [BUILD_DIR]        (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
axiscore="${1:-build}/bin/axiscore"
command -v hyperfine >/dev/null || {
  echo "cli_startup: hyperfine is missing (scripts/install-deps.sh installs it)" >&2
  exit 2
}
json="$(mktemp)"
work="$(mktemp -d)"
trap 'rm -rf "$json" "$work"' EXIT
# The test writes what it identified: to a file of its own, never into the bundled setup.
cp setups/demo-linear.json "$work/demo.json"
hyperfine --shell=none --warmup 10 --runs 200 --export-json "$json" \
  "$axiscore --help" "$axiscore get setups/demo-linear.json PWM_freq" \
  "$axiscore test $work/demo.json rl -o $work/identified.json"
python3 - "$json" <<'PY'
import json, sys
for r in json.load(open(sys.argv[1]))["results"]:
    print(f'{r["command"]}: {r["mean"] * 1e3:.2f} ms wall (median {r["median"] * 1e3:.2f}), '
          f'{(r["user"] + r["system"]) * 1e3:.2f} ms CPU')
PY
