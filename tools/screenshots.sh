#!/usr/bin/env bash
# Screenshots of every step of the wizard, taken under Xvfb while the GUI
# tests drive the real dialogs over the demo store:
#   tools/screenshots.sh [BUILD_DIR]      (default build-ui)
# Writes docs/screenshots/*.png.
set -euo pipefail
usage="usage: tools/screenshots.sh [BUILD_DIR]   (default build-ui); writes docs/screenshots/*.png"
case "${1:-}" in
  -h|--help) echo "$usage"; exit 0 ;;
  -*) echo "$usage" >&2; exit 2 ;;
esac
cd "$(dirname "$0")/.."
build=${1:-build-ui}
out=docs/screenshots
mkdir -p "$out"
cmake -S . -B "$build" -G Ninja -DBRIGHTMEND_BUILD_UI=ON >/dev/null
ninja -C "$build" -j2 ui_tst_wizard ui_tst_saving
BRIGHTMEND_SCREENSHOTS="$PWD/$out" QT_QPA_PLATFORM=xcb \
  xvfb-run -a -s "-screen 0 1280x900x24" "$build/tests/ui/ui_tst_wizard" \
  analysisOfTheDemoStoreShowsFoldersListsAndPreviews searchPageFindsStoresAndHandsOneToTheAnalysis \
  contactsAppointmentsTasksNotesAndJournalItemsPreviewAsCards theMailPreviewListsAttachmentsAndSavesTheChosenOne
BRIGHTMEND_SCREENSHOTS="$PWD/$out" QT_QPA_PLATFORM=xcb \
  xvfb-run -a -s "-screen 0 1280x900x24" "$build/tests/ui/ui_tst_saving" \
  checkedFoldersAreSavedIntoACleanStoreWithTheirMail:demo
ls -1 "$out"
