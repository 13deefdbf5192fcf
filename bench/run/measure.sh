#!/usr/bin/env bash
# Times `scan --json`, the text `scan` and `optimize --yes` (on a copy) with /usr/bin/time -v
# on the large preset and on a 3000-page site with many shared images, then the library-level
# run benchmark on the same shapes (left out with a third argument "cli"). Each site also gets
# the floor of a run: plain rm of the copies the run removes, on a synced copy.
# After the first run of each site, `check` of the optimized copy and `undo --yes` of that run
# are timed too. ROUNDS=3 repeats the run and its floor in three alternating pairs.
# Usage: [ROUNDS=N] bash bench/run/measure.sh [BUILD_DIR] [WORK_DIR] [cli]
set -euo pipefail
build=${1:-build}
work=$(mktemp -d "${2:-${TMPDIR:-/tmp}}/tolvane-measure-XXXXXX")
trap 'rm -rf "$work"' EXIT
cli=$build/bin/tolvane-cli
gensite=$build/bin/tolvane-gensite
benchrun=$build/bin/tolvane-bench-run
export XDG_DATA_HOME=$work/data

# Prints "<label>: <elapsed> s, <peak> MiB, status <n>" from /usr/bin/time -v.
timed() {
    local label=$1; shift
    local status=0
    /usr/bin/time -v -o "$work/time.txt" "$@" >"$work/out.txt" 2>"$work/err.txt" || status=$?
    local elapsed rss
    elapsed=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time.txt" |
              awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; print s }')
    rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.txt")
    printf '%-28s %8.2f s  %8.1f MiB  status %d\n' "$label" "$elapsed" "$(echo "$rss / 1024" | bc -l)" "$status"
}

site() {
    local name=$1; shift
    "$gensite" "$work/$name" "$@" 2>&1 | sed 's/^/  /'
    "$cli" scan --json "$work/$name" >/dev/null # warm the cache
    timed "$name: scan --json" "$cli" scan --json "$work/$name"
    # The copies a run removes, for the floor below: the file system's own cost of deleting them.
    python3 -c 'import json, sys
for group in json.load(sys.stdin)["groups"]:
    for path in group["remove"] + ([group["move"]] if group.get("move") else []):
        print(path)' <"$work/out.txt" >"$work/removed.txt"
    timed "$name: scan" "$cli" scan "$work/$name"
    # Run and floor in alternating pairs, each on a fresh synced copy (the run flushes whole
    # file systems: the copy's own write-back is not its work); check and undo after the first.
    local round
    for round in $(seq "${ROUNDS:-1}"); do
        rm -rf "$work/$name-copy"
        cp -a "$work/$name" "$work/$name-copy"
        sync
        timed "$name: optimize --yes (copy)" "$cli" optimize --yes "$work/$name-copy"
        if [ "$round" = 1 ]; then
            timed "$name: check (optimized)" "$cli" check "$work/$name-copy"
            timed "$name: undo --yes" "$cli" undo --yes "$work/$name-copy"
        fi
        rm -rf "$work/$name-copy"
        cp -a "$work/$name" "$work/$name-copy"
        sync
        timed "$name: rm of the same copies" \
            bash -c 'cd "$1" && tr "\n" "\0" <"$2" | xargs -0 rm --' rm "$work/$name-copy" "$work/removed.txt"
    done
    rm -rf "$work/$name" "$work/$name-copy"
}

echo "== tolvane-cli on generated sites"
site large --preset large
site shared3000 --seed 5 --pages 3000 --images-per-page 3 --shared-images 300 \
    --shared-per-page 60 --min-size 64 --max-size 8192

[ "${3:-}" = cli ] && exit 0

echo "== tolvane-bench-run"
"$benchrun" --preset large --folder "$work"
"$benchrun" --preset plain --seed 5 --pages 3000 --images-per-page 3 --shared-images 300 --shared-per-page 60 \
    --min-size 64 --max-size 8192 --folder "$work"
