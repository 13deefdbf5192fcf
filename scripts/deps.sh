#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Tolvane need, if any is missing.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config git
  libssl-dev openssl libcli11-dev libgtest-dev googletest
  qt6-base-dev libgl-dev qt6-image-formats-plugins
  xvfb xauth x11-apps imagemagick
  chromium python3
  jdupes time
  qt6-tools-dev qt6-l10n-tools qt6-translations-l10n
  help2man dpkg-dev file desktop-file-utils appstream man-db
  clang-format
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
