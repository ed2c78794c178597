#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need.
# Node.js and npm (for the pst-extractor reading test) come with the
# machine; tests that need them are skipped without them.
set -euo pipefail
packages=(build-essential cmake ninja-build qt6-base-dev libgtest-dev libgmock-dev
  libbenchmark-dev zlib1g-dev libfmt-dev libcli11-dev nlohmann-json3-dev
  xvfb pst-utils pff-tools python3-pypff python3 clang libclang-rt-14-dev
  dpkg-dev binutils man-db desktop-file-utils appstream time
  pkg-config libgmime-3.0-dev lintian shared-mime-info
  libical-dev python3-icalendar python3-vobject python3-dateutil notmuch)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
