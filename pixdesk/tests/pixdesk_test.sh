#!/usr/bin/env bash
# Runs pixdesk_tests.exe beside pixdesk.exe and the Still Image stand-in sti.dll, in a Wine
# prefix of its own (the tests write HKEY_CLASSES_ROOT and start COM servers):
#   usb:  a fresh card of ten pictures; every test, the program's own included;
#   none: no camera; the dialog's tests only.
# The card is made by the native mkcard; without it the test is skipped (exit 77).
#   pixdesk_test.sh TESTS.exe PIXDESK.exe NATIVE_SIM_DIR WINE_RUN STI_DLL WORK_DIR PREFIX
set -u
tests=$1 program=$2 tools=$3 winerun=$4 stidll=$5 work=$6
export WINEPREFIX=$7
pictures=10

if [ ! -x "$tools/mkcard" ]; then
    echo "skipped: build mkcard natively first ($tools)"
    exit 77
fi
mkdir -p "$work/bin" || exit 1
stage() { echo "== pixdesk_test: $1"; }

photos=()
for seed in $(seq $pictures); do
    [ -f "$work/photo$seed.jpg" ] ||
        "$tools/mkcard" --pattern 640 480 "$seed" "$work/photo$seed.jpg" >/dev/null || exit 1
    photos+=("$work/photo$seed.jpg")
done
newcard() {
    rm -rf "$work/card"
    "$tools/mkcard" --full-size 320x240 "$work/card" "${photos[@]}" >/dev/null ||
        { echo "pixdesk_test: mkcard could not make the card"; exit 1; }
}
cp "$tests" "$program" "$stidll" "$work/bin/" ||
    { echo "pixdesk_test: cannot put the programs beside $stidll"; exit 1; }
run="$work/bin/$(basename "$tests")"
export WINEDLLOVERRIDES=sti=n LV_TEST_CARD="Z:$work/card" LV_TEST_PICTURES=$pictures

status=0
stage usb
newcard
LV_TEST_LINK=usb LV_STI_CARD="Z:$work/card" "$winerun" "$run" || status=1

stage "no camera"
newcard
LV_TEST_LINK=none LV_STI_DEVICES=none LV_STI_CARD="Z:$work/card" \
    "$winerun" "$run" --gtest_filter='PixdeskDialog*' || status=1
echo "== pixdesk_test: exit $status"
exit $status
