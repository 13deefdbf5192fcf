#!/usr/bin/env bash
# Takes the README's screenshots of the real program under Xvfb: the sample site scanned, the
# window at 800 x 600, the choices (a group and a copy unchecked, a copy kept), the preview of
# the changes, the confirmation and the summary at the end of the run. Needs a build and
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

# The window's settings go to a folder of the script's own, so every run starts the same.
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
# --open opens a folder at start, as if it had been chosen.
build/bin/tolvane --verbose --open "$work/sample-site" >"$work/console.log" 2>&1 &
app=$!
window=$(xdotool search --sync --onlyvisible --name "Tolvane" | head -1)
sleep 2
eval "$(xdotool getwindowgeometry --shell "$window")"
geometry="${WIDTH}x${HEIGHT}+${X}+${Y}"
import -window root -crop "$geometry" +repage docs/window.png

# The same at 800 x 600, then back to the first size.
xdotool windowsize --sync "$window" 800 600
sleep 1
eval "$(xdotool getwindowgeometry --shell "$window")"
import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage docs/small.png
xdotool windowsize --sync "$window" "${geometry%%x*}" "$(echo "$geometry" | sed 's/^[0-9]*x\([0-9]*\).*/\1/')"
sleep 1

# Choices: the first group unchecked (Alt+D, Space); in the second group (Down, Alt+I) its
# second copy unchecked (Down, Space) and its first copy kept where it is (Up, then Select >
# Keep This Copy: Alt+E, K). Afterwards all as it was, so that the run takes everything.
xdotool windowfocus --sync "$window"
xdotool key alt+d space Down alt+i Down space Up
sleep 0.5
xdotool key alt+e
sleep 0.5
xdotool key k
sleep 1
import -window root -crop "$geometry" +repage docs/choices.png
xdotool key alt+e
sleep 0.5
xdotool key k Down space alt+d Up space
sleep 1

# Preview Changes (Alt+V): listed by the worker, then shown in a window of its own.
xdotool key alt+v
preview=$(xdotool search --sync --onlyvisible --name "Preview of the Changes" | head -1)
sleep 1
eval "$(xdotool getwindowgeometry --shell "$preview")"
import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage docs/preview.png
xdotool windowfocus --sync "$preview" key Escape
sleep 1
xdotool windowfocus --sync "$window"

# Optimize... (Alt+P), then "o" for Optimize on the confirmation sheet.
xdotool key alt+p
sleep 1
import -window root -crop "$geometry" +repage docs/confirmation.png
xdotool key o
sleep 3
import -window root -crop "$geometry" +repage docs/optimized.png

echo "Screenshots written to docs/; the run's log:"
cat "$work/console.log"
