#!/usr/bin/env bash
# Runs browser_dialog_tests.exe three times against a fresh simulated card of ten pictures:
#   serial: camsim on a pseudo-terminal mapped to COM1 (no Still Image camera);
#   usb:    the Still Image stand-in sti.dll beside a copy of the program;
#   none:   no camera at all.
# The card is made by the native mkcard; without the native camsim and mkcard the test is
# skipped (exit 77). The port mapping needs a Wine prefix of its own.
#   browser_dialog_test.sh PROGRAM.exe NATIVE_SIM_DIR WINE_RUN STI_DLL WORK_DIR PREFIX
set -u
shopt -s nullglob
exe=$1 tools=$2 winerun=$3 stidll=$4 work=$5
export WINEPREFIX=$6
pictures=10

if [ ! -x "$tools/camsim" ] || [ ! -x "$tools/mkcard" ]; then
    echo "skipped: build camsim and mkcard natively first ($tools)"
    exit 77
fi
mkdir -p "$work" || exit 1
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
}
trap cleanup EXIT

# Ten different pictures, so a thumbnail drawn in the wrong cell is seen.
photos=()
for seed in $(seq $pictures); do
    [ -f "$work/photo$seed.jpg" ] ||
        "$tools/mkcard" --pattern 640 480 "$seed" "$work/photo$seed.jpg" >/dev/null || exit 1
    photos+=("$work/photo$seed.jpg")
done
newcard() {
    "$tools/mkcard" --full-size 320x240 "$work/card" "${photos[@]}" >/dev/null ||
        { echo "browser_dialog_test: mkcard could not make the card"; return 1; }
}
stage() { echo "== browser_dialog_test: $1"; }

status=0
export LV_TEST_CARD="Z:$work/card" LV_TEST_PICTURES=$pictures

# Serial. Wine maps ports when its server starts: the mapping names a stable link, written
# once, and a server left from before is let end.
stage serial
newcard || exit 1
rm -f "$work/com1.path"
"$tools/camsim" --card "$work/card" --path-file "$work/com1.path" --link "$work/com1" \
    </dev/null >/dev/null &
pids+=($!)
for _ in $(seq 500); do [ -s "$work/com1.path" ] && break; sleep 0.02; done
ports="COM1=$work/com1;COM2=$work/com2-none"
if [ ! -f "$WINEPREFIX/.browser-ports" ]; then
    WINE_RUN_PORTS=$ports "$winerun" "$exe" --gtest_list_tests >/dev/null || exit 1
    echo "$ports" >"$WINEPREFIX/.browser-ports"
fi
wineserver -w 2>/dev/null
LV_TEST_LINK=serial "$winerun" "$exe" || status=1
cleanup
pids=()

# USB, through the stand-in beside a copy of the program.
stage usb
newcard || exit 1
# The program's own DLLs go along.
mkdir -p "$work/usb" && cp "$exe" "$(dirname "$exe")"/*.dll "$stidll" "$work/usb/" ||
    { echo "browser_dialog_test: cannot put the program beside $stidll"; exit 1; }
LV_TEST_LINK=usb LV_STI_CARD="Z:$work/card" WINEDLLOVERRIDES=sti=n \
    "$winerun" "$work/usb/$(basename "$exe")" || status=1

# No camera: the stand-in with no device, and nothing on the ports.
stage "no camera"
LV_TEST_LINK=none LV_STI_DEVICES=none LV_STI_CARD="Z:$work/card" WINEDLLOVERRIDES=sti=n \
    "$winerun" "$work/usb/$(basename "$exe")" || status=1
echo "== browser_dialog_test: exit $status"
exit $status
