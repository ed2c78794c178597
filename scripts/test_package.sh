#!/usr/bin/env bash
# Builds the .deb from a build tree, installs it and tries what it installed:
#   scripts/test_package.sh [BUILD_DIR]      (default: build)
#
# As root the package is installed with dpkg (and removed again afterwards
# when it was not installed before); otherwise, or with
# BRIGHTMEND_PACKAGE_INSTALL=prefix, it is unpacked into a fresh prefix.
# Then: the installed brightmend-cli --version, a save of the demo store with
# the installed program (and the checker's verdict on the new store), man -l
# of each manual page without warnings, every option of the program's help
# in its manual page and its completion, desktop-file-validate and
# appstreamcli validate --no-net on the installed desktop and AppStream files,
# lintian on the .deb (no errors, the hardening flags), the icons at every
# size and the MIME type of .ost and .pst files.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
work=$(mktemp -d)
removeAfter=0
cleanup() {
  if [ "$removeAfter" -eq 1 ]; then dpkg -r brightmend >/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
step() { echo "== package: $*"; }

step "building the .deb"
deb=$(./scripts/package.sh "$build" | tail -1)
[ -f "$deb" ] || { echo "FAIL: no .deb was made" >&2; exit 1; }
dpkg-deb -f "$deb" Section | grep -qx mail || fail "the package's section is not mail"
dpkg-deb -f "$deb" Depends | grep -q 'libc6' || fail "the package has no Depends from shlibdeps: $(dpkg-deb -f "$deb" Depends)"
dpkg-deb -f "$deb" Recommends | grep -q 'xdg-utils' || fail "the package does not recommend xdg-utils"

step "lintian"
# Errors fail the package, and so do missing hardening flags; warnings are
# shown.
if lintian -I --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1; then :; fi
cat "$work/lintian.log"
grep -q '^E: ' "$work/lintian.log" && fail "lintian reports errors on $deb"
for tag in hardening-no-bindnow hardening-no-fortify-functions hardening-no-relro; do
  grep -q "$tag" "$work/lintian.log" && fail "lintian: $tag"
done

mode=${BRIGHTMEND_PACKAGE_INSTALL:-}
if [ -z "$mode" ]; then
  if [ "$(id -u)" -eq 0 ]; then mode=dpkg; else mode=prefix; fi
fi
if [ "$mode" = dpkg ]; then
  step "installing $deb with dpkg"
  dpkg-query -W -f='${Status}' brightmend 2>/dev/null | grep -q "install ok installed" || removeAfter=1
  dpkg -i "$deb" >/dev/null
  root=""
else
  step "unpacking $deb into a fresh prefix"
  dpkg-deb -x "$deb" "$work/root"
  root=$work/root
fi
# The package's files matching a pattern, as installed.
packaged() { dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\.||' | grep -E "$1" | sed "s|^|$root|"; }
bin=$root/usr/bin
share=$root/usr/share
cli=$bin/brightmend-cli
[ -x "$cli" ] || { echo "FAIL: no installed $cli" >&2; exit 1; }

step "brightmend-cli --version"
version=$(sed -n 's/^project(Brightmend VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
got=$("$cli" --version) || fail "--version exited $?"
[ "$got" = "brightmend-cli $version" ] || fail "--version printed '$got', not 'brightmend-cli $version'"

step "save of the demo store with the installed program"
"$build"/tools/make_demo_store "$work/demo/outlook.ost" >/dev/null
mkdir -p "$work/out"
status=0
"$cli" --quiet save "$work/demo/outlook.ost" --to "$work/out" --all --json >"$work/save.json" || status=$?
[ "$status" -eq 0 ] || fail "save exited $status"
stores=$(/usr/bin/python3 -c 'import json,sys; print("\n".join(json.load(open(sys.argv[1])).get("outputStores", [])))' "$work/save.json")
[ -n "$stores" ] || fail "save named no output store: $(head -c 300 "$work/save.json")"
while IFS= read -r store; do
  [ -n "$store" ] || continue
  [ -f "$store" ] || { fail "output store $store is missing"; continue; }
  "$cli" --quiet check "$store" >/dev/null || fail "the installed checker rejects $store"
done <<<"$stores"

step "manual pages"
pages=$(find "$share/man/man1" -name 'brightmend*.1.gz' | sort)
[ -n "$pages" ] || fail "no manual pages installed"
for page in $pages; do
  gzip -t "$page" || fail "$page is no gzip file"
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || fail "man -l $page exited $?"
  [ -z "$warnings" ] || fail "man -l $page: $warnings"
  MANWIDTH=80 man -l "$page" 2>/dev/null | grep -q '^NAME' || fail "man -l $page shows no NAME section"
done
clipage=$share/man/man1/brightmend-cli.1.gz
completion=$share/bash-completion/completions/brightmend-cli
[ -f "$clipage" ] || fail "brightmend-cli(1) is not installed"
[ -f "$completion" ] || fail "the bash completion is not installed"
if [ -f "$clipage" ] && [ -f "$completion" ]; then
  manText=$(MANWIDTH=200 man -l "$clipage" 2>/dev/null)
  for command in "" analyze list save export search info check; do
    # shellcheck disable=SC2086
    options=$("$cli" $command --help | grep -oE -- '--[a-z][a-z-]*' | sort -u)
    for option in $options; do
      grep -qF -- "$option" <<<"$manText" || fail "brightmend-cli(1) does not describe $command $option"
      grep -qF -- "$option" "$completion" || fail "the completion does not offer $command $option"
    done
    if [ -n "$command" ]; then
      grep -qE "^ {7}$command( |$)" <<<"$manText" || fail "brightmend-cli(1) has no entry for the command $command"
    fi
  done
fi

step "bash completion"
if [ -f "$completion" ]; then
  got=$(bash -c 'source "$1"; COMP_WORDS=(brightmend-cli sa); COMP_CWORD=1; _brightmend_cli; echo "${COMPREPLY[*]}"' _ "$completion")
  [ "$got" = "save" ] || fail "completing 'brightmend-cli sa' gave '$got'"
  got=$(bash -c 'source "$1"; COMP_WORDS=(brightmend-cli save x.ost --deep); COMP_CWORD=3; _brightmend_cli; echo "${COMPREPLY[*]}"' _ "$completion")
  [ "$got" = "--deep-scan" ] || fail "completing 'save x.ost --deep' gave '$got'"
  # Names with spaces stay whole, and a store's .bak copy is offered.
  mkdir -p "$work/complete/sub dir"
  touch "$work/complete/my mail.ost" "$work/complete/outlook.ost.bak" "$work/complete/notes.txt"
  got=$(cd "$work/complete" && bash -c 'source "$1"; COMP_WORDS=(brightmend-cli list ""); COMP_CWORD=2; _brightmend_cli; printf "%s|" "${COMPREPLY[@]}"' _ "$completion")
  [ "$got" = "my mail.ost|outlook.ost.bak|sub dir|" ] || fail "completing a store file name gave '$got'"
fi

if [ -x "$bin/brightmend" ]; then
  step "the wizard's files"
  # The wizard loads libvestrel.so through its RUNPATH ($ORIGIN/../...).
  runpath=$(readelf -d "$bin/brightmend" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
  [ -n "$runpath" ] || fail "the installed wizard has no RUNPATH"
  [ -f "${runpath/\$ORIGIN/$bin}/libvestrel.so" ] || fail "libvestrel.so is not where the wizard looks: $runpath"
  # Only the package's own files: with dpkg the share folder is the system's.
  desktop=$(packaged '^/usr/share/applications/.*\.desktop$')
  metainfo=$(packaged '^/usr/share/metainfo/.*\.metainfo\.xml$')
  [ -n "$desktop" ] || fail "no .desktop file installed"
  [ -n "$metainfo" ] || fail "no AppStream metainfo installed"
  for f in $desktop; do
    desktop-file-validate "$f" || fail "desktop-file-validate $f"
    icon=$(sed -n 's/^Icon=//p' "$f")
    [ -n "$(find "$share/icons/hicolor" -name "$icon.png")" ] || fail "the icon $icon of $f is not installed"
    for size in 64x64 128x128 256x256; do
      [ -f "$share/icons/hicolor/$size/apps/$icon.png" ] || fail "the icon $icon is not installed at $size"
    done
    [ -f "$share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "the scalable icon $icon is not installed"
    mimetype=$(sed -n 's/^MimeType=\([^;]*\);.*/\1/p' "$f")
    [ -n "$mimetype" ] || fail "$f names no MIME type"
    grep -q "type=\"$mimetype\"" "$share/mime/packages/brightmend.xml" 2>/dev/null ||
      fail "the MIME type $mimetype of $f is not defined by the package"
  done
  for f in $metainfo; do
    appstreamcli validate --no-net "$f" >"$work/appstream.log" 2>&1 || fail "appstreamcli validate $f: $(cat "$work/appstream.log")"
  done
  if [ -z "$root" ] && [ -f /usr/share/mime/globs2 ]; then
    # Installed with dpkg: the MIME database was rebuilt with the package's type.
    grep -q ":$mimetype:\*\.ost$" /usr/share/mime/globs2 ||
      fail "the MIME database does not map *.ost to $mimetype after the install"
  fi
  for p in progress.html completed.html abort.html Preview.html '~MO.html'; do
    [ -f "$share/brightmend/pages/$p" ] || fail "the shipped page $p is not installed"
  done
fi

if [ "$failures" -ne 0 ]; then
  echo "== package: $failures check(s) failed" >&2
  exit 1
fi
echo "== package: $deb installed ($mode) and checked"
