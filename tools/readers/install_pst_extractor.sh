#!/bin/sh
# Installs the npm package pst-extractor (the version the tests pin) into
# DIR/node_modules, once. Exit 77 when node or npm is missing or the npm
# registry cannot be reached, so that the calling test can skip.
#   install_pst_extractor.sh DIR
set -u
dir=$1
version=1.12.0
if [ -f "$dir/node_modules/pst-extractor/package.json" ] &&
   grep -q "\"version\": \"$version\"" "$dir/node_modules/pst-extractor/package.json"; then
    exit 0
fi
command -v node >/dev/null 2>&1 || { echo "node is not installed"; exit 77; }
command -v npm >/dev/null 2>&1 || { echo "npm is not installed"; exit 77; }
mkdir -p "$dir" || exit 1
# A lock held while installing keeps parallel test programs from racing.
exec 9>"$dir/.install.lock"
flock 9 2>/dev/null || true
if [ -f "$dir/node_modules/pst-extractor/package.json" ]; then exit 0; fi
if ! npm install --prefix "$dir" --no-audit --no-fund --no-save "pst-extractor@$version" >"$dir/npm-install.log" 2>&1; then
    echo "npm install pst-extractor@$version failed (registry unreachable?):"
    tail -5 "$dir/npm-install.log"
    exit 77
fi
exit 0
