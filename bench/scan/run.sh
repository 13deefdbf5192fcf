#!/usr/bin/env bash
# Builds what the scan benchmark needs and runs it once; see bench_scan.py for what it measures.
# Needs about 3 GB free for the largest generated site (under $TMPDIR, or --work DIR).
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake --preset default >/dev/null
cmake --build --preset default --target tolvane-cli tolvane-gensite tolvane-scan-stats
exec python3 bench/scan/bench_scan.py "$@"
