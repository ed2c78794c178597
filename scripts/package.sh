#!/usr/bin/env bash
# Builds the Debian package: scripts/package.sh [BUILD_DIR] [cmake options...]
#
# Configures BUILD_DIR (default: build) for the prefix /usr, builds what the
# package installs (the programs, the wizard's library, the manual pages)
# and runs CPack there. dpkg-shlibdeps turns the libraries the programs
# link into the package's Depends. Prints the path of the .deb.
set -euo pipefail
case "${1:-}" in
  -h|--help) sed -n '2,7p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
esac
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
# The install step must not build every test and benchmark first: the
# package holds only the targets built below.
cmake -S . -B "$dir" -G Ninja -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON "$@" >/dev/null
targets=(brightmend-cli man_pages package_changelog)
if grep -q '^BRIGHTMEND_BUILD_UI:BOOL=ON' "$dir/CMakeCache.txt"; then
  targets+=(brightmend vestrel)
fi
cmake --build "$dir" -j "$(nproc)" --target "${targets[@]}" >&2
rm -f "$dir"/brightmend_*.deb
(cd "$dir" && cpack -G DEB >/dev/null 2>&1) || { echo "package.sh: cpack failed (see $dir/_CPack_Packages)" >&2; exit 1; }
deb=$(ls "$dir"/brightmend_*.deb)
echo "$deb"
