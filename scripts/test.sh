#!/usr/bin/env bash
# Installs what is missing, builds everything, and runs every test: first the normal build
# (core, command line, window) and its Debian package, then the core under AddressSanitizer
# and UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh

cmake --preset default
cmake --build --preset default
ctest --preset default -j 2
bash scripts/check-package.sh build

cmake --preset sanitize
cmake --build --preset sanitize
ctest --preset sanitize -j 2
