#!/usr/bin/env bash
# Takes the README's screenshots of the real program under Xvfb: the sample site scanned, the
# confirmation, and the window after the run. Needs a build (scripts/run.sh or test.sh) and
# xdotool; the repository's sample site is never changed (a copy is opened).
# Usage: bash scripts/screenshots.sh [SITE]
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${TOLVANE_IN_XVFB:-}" ]; then
  command -v xdotool >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends xdotool
  export TOLVANE_IN_XVFB=1
  exec xvfb-run -a -s "-screen 0 1280x800x24" bash "$0" "$@"
fi

work=$(mktemp -d)
trap 'kill "${app:-0}" 2>/dev/null || true; rm -rf "$work"' EXIT
cp -r "${1:-examples/sample-site}" "$work/sample-site"

# --open is a hidden option that opens a folder at start, as if it had been chosen.
build/bin/tolvane --open "$work/sample-site" >"$work/console.log" 2>&1 &
app=$!
window=$(xdotool search --sync --onlyvisible --name "Tolvane" | head -1)
sleep 2
eval "$(xdotool getwindowgeometry --shell "$window")"
geometry="${WIDTH}x${HEIGHT}+${X}+${Y}"
import -window root -crop "$geometry" +repage docs/window.png

# Optimize..., then "Yes" on the confirmation sheet.
xdotool windowfocus --sync "$window"
xdotool key alt+f p
sleep 1
import -window root -crop "$geometry" +repage docs/confirmation.png
xdotool key shift+Tab space
sleep 3
import -window root -crop "$geometry" +repage docs/optimized.png
echo "Screenshots written to docs/; the run's log:"
cat "$work/console.log"
