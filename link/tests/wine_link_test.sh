#!/usr/bin/env bash
# Runs wine_link_tests.exe against real simulated cameras:
#   serial: two camsim processes on pseudo-terminals, COM1 answering the probe wrongly and
#           COM2 the camera, mapped through WINE_RUN_PORTS;
#   USB:    the Still Image stand-in sti.dll beside a copy of the program, serving the same
#           card (skipped while the stand-in is not built).
# The card is made by the native mkcard, so the native build must have camsim and mkcard;
# without them the test is skipped (exit 77).
# It runs in a Wine prefix of its own, since its port mapping must not meet other tests'.
#   wine_link_test.sh PROGRAM.exe NATIVE_SIM_DIR WINE_RUN STI_DLL WORK_DIR PREFIX
set -u
exe=$1 tools=$2 winerun=$3 stidll=$4 work=$5
export WINEPREFIX=$6

if [ ! -x "$tools/camsim" ] || [ ! -x "$tools/mkcard" ]; then
    echo "skipped: build camsim and mkcard natively first ($tools)"
    exit 77
fi

rm -rf "$work/card" "$work/usb" "$work"/*.path && mkdir -p "$work" || exit 1
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
}
trap cleanup EXIT

"$tools/mkcard" --pattern 1792 1200 11 "$work/big.jpg" >/dev/null || exit 1
"$tools/mkcard" --pattern 640 480 12 "$work/vga.jpg" >/dev/null || exit 1
"$tools/mkcard" --count 4 --vga 2 "$work/card" "$work/big.jpg" "$work/vga.jpg" >/dev/null || exit 1
pictures=4

# The ports are mapped to stable links that camsim points at its terminals: Wine maps COM
# ports to devices when its server starts, so a server still running from an earlier test
# keeps the old mapping; the links keep that mapping right.
"$tools/camsim" --card "$work/card" --path-file "$work/com2.path" --link "$work/com2" \
    </dev/null >/dev/null &
pids+=($!)
"$tools/camsim" --card "$work/card" --path-file "$work/com1.path" --link "$work/com1" \
    --probe-reply=0xD2 </dev/null >/dev/null &
pids+=($!)
for _ in $(seq 500); do
    [ -s "$work/com1.path" ] && [ -s "$work/com2.path" ] && break
    sleep 0.02
done
[ -L "$work/com1" ] && [ -L "$work/com2" ] || { echo "camsim did not start"; exit 1; }

# Wine maps the ports when its server starts, so the mapping is written once (to paths that
# stay the same) and then a server left from the run before is let end.
ports="COM1=$work/com1;COM2=$work/com2"
if [ ! -f "$WINEPREFIX/.link-ports" ]; then
    WINE_RUN_PORTS=$ports "$winerun" "$exe" --gtest_list_tests >/dev/null || exit 1
    echo "$ports" >"$WINEPREFIX/.link-ports"
fi
wineserver -w 2>/dev/null

export LV_TEST_CARD="Z:$work/card" LV_TEST_PICTURES=$pictures
WINE_RUN_PORTS=$ports "$winerun" "$exe" --gtest_filter='WineLink.Serial*' || exit 1

if [ ! -f "$stidll" ]; then
    echo "USB part skipped: no Still Image stand-in at $stidll"
    exit 0
fi
mkdir -p "$work/usb" && cp "$exe" "$stidll" "$work/usb/" || exit 1
LV_STI_CARD="Z:$work/card" WINEDLLOVERRIDES=sti=n \
    "$winerun" "$work/usb/$(basename "$exe")" --gtest_filter='WineLink.UsbOver*'
[ $? -eq 0 ] || exit 1
LV_STI_CARD="Z:$work/card" WINEDLLOVERRIDES=sti=n LV_STI_TRANSCRIPT="Z:$work/sti.log" \
    LV_STI_DEVICES="Other scanner|Lumivera LV2700C5|LUMIVERA LV2700c5 Digital Camera|LUMIVERA LV2700c5|LUMIVERA LV2700c5" \
    "$winerun" "$work/usb/$(basename "$exe")" --gtest_filter='WineLink.UsbDevice*'
