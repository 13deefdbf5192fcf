#!/bin/sh
# Optimizes a copy of the sample site with the command line and has headless Chromium compare
# every page of it with the original: identical screenshots, no image that fails to load.
# Usage: browser_check.sh TOLVANE_CLI SOURCE_DIR
set -eu
cli=$1
source=$2
if ! command -v chromium >/dev/null 2>&1; then
    echo "SKIPPED: chromium is not installed (apt-get install chromium), no browser comparison"
    exit 77
fi
compare="$source/tests/browser/compare_sites.py"
if [ ! -f "$compare" ]; then
    echo "missing $compare"
    exit 1
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/tolvane-browser-XXXXXX")
# The run's record for undo stays in the test's own folder.
export XDG_DATA_HOME="$work/data"
trap 'rm -rf "$work"' EXIT
cp -a "$source/examples/sample-site" "$work/before"
cp -a "$source/examples/sample-site" "$work/after"
"$cli" optimize --yes "$work/after" >"$work/run.log" 2>&1 || {
    cat "$work/run.log"
    echo "the run failed"
    exit 1
}
if [ -z "$(find "$work/after/images" -type f)" ]; then
    echo "the run kept nothing in images/"
    exit 1
fi
python3 "$compare" "$work/before" "$work/after"
