#!/usr/bin/env bash
# Start-up speed of the command line, timed whole-process by hyperfine: `axiscore --help` and one
# `get` on the demo setup, wall clock and CPU (user + system). The get should stay under 10 ms of
# wall clock: every command but edit, render and render-template starts without Qt.
#   bench/cli_startup.sh [BUILD_DIR]        (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
axiscore="${1:-build}/bin/axiscore"
command -v hyperfine >/dev/null || {
  echo "cli_startup: hyperfine is missing (scripts/install-deps.sh installs it)" >&2
  exit 2
}
json="$(mktemp)"
trap 'rm -f "$json"' EXIT
hyperfine --shell=none --warmup 10 --runs 200 --export-json "$json" \
  "$axiscore --help" "$axiscore get setups/demo-linear.json PWM_freq"
python3 - "$json" <<'PY'
import json, sys
for r in json.load(open(sys.argv[1]))["results"]:
    print(f'{r["command"]}: {r["mean"] * 1e3:.2f} ms wall (median {r["median"] * 1e3:.2f}), '
          f'{(r["user"] + r["system"]) * 1e3:.2f} ms CPU')
PY
