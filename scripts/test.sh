#!/usr/bin/env bash
# Installs what is missing, checks the formatting, builds everything, and runs every test:
# first the normal build (core, command line, window) and its Debian package, then the core
# under AddressSanitizer and UBSan, then the window's tests under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
bash scripts/check-format.sh

# Under CI every warning is an error; a user's newer compiler may warn where ours does not.
werror=OFF
[ -n "${CI:-}" ] && werror=ON

cmake --preset default -DTOLVANE_WERROR=$werror
cmake --build --preset default
ctest --preset default -j 2
bash scripts/check-package.sh build

cmake --preset sanitize -DTOLVANE_WERROR=$werror
cmake --build --preset sanitize
ctest --preset sanitize -j 2

# The window's tests under ThreadSanitizer: the scan, run and undo work on a worker thread and
# report to the window's thread.
cmake --preset tsan -DTOLVANE_WERROR=$werror
cmake --build --preset tsan
ctest --preset tsan -j 2
