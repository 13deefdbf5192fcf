#!/usr/bin/env bash
# Installs what is missing, builds Tolvane and starts it. Without a display it shows the
# command line on a copy of the sample site instead (the repository's copy is never changed).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default

if [ -x build/bin/tolvane ] && [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec build/bin/tolvane "$@"
fi

echo "No display found: showing the command line on a copy of the sample site instead."
site=$(mktemp -d)/sample-site
cp -r examples/sample-site "$site"
build/bin/tolvane-cli --help
echo
echo "\$ tolvane-cli md5 (the sample site's images)"
find "$site" -type f \( -iname '*.png' -o -iname '*.gif' -o -iname '*.jpg' -o -iname '*.jpeg' \) -print0 \
  | sort -z | xargs -0 build/bin/tolvane-cli md5
echo
echo "\$ tolvane-cli scan (a copy of the sample site)"
build/bin/tolvane-cli scan "$site"
echo
echo "\$ tolvane-cli optimize --dry-run (the same copy: every step a run would take, nothing changed)"
build/bin/tolvane-cli optimize --dry-run "$site"
