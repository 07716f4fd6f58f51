#!/usr/bin/env bash
# Runs comport_tests.exe under Wine with COM1 mapped to a camsim serving a fresh
# 60-picture card (--bad-trailer=10). camsim and mkcard come from the native build; without
# them the test is skipped (exit 77).
#   camsim_wine_test.sh PROGRAM.exe NATIVE_SIM_DIR WINE_RUN TESTDATA WORK_DIR
set -u
exe=$1 tools=$2 winerun=$3 testdata=$4 work=$5

if [ ! -x "$tools/camsim" ] || [ ! -x "$tools/mkcard" ]; then
    echo "skipped: build camsim and mkcard natively first ($tools)"
    exit 77
fi
rm -rf "$work" && mkdir -p "$work" || exit 1
"$tools/mkcard" --count 60 --vga 4,8,12 --full-size 96x64 "$work/card" \
    "$testdata/full-96x64.jpg" "$testdata/full-40x24.jpg" "$testdata/thumb-160x120.jpg" \
    >/dev/null || exit 1

camsim=
cleanup() {
    [ -n "$camsim" ] && kill "$camsim" 2>/dev/null && wait "$camsim" 2>/dev/null
}
trap cleanup EXIT
# COM1 is mapped to a stable link that camsim keeps pointing at its terminal.
"$tools/camsim" --card "$work/card" --link "$work/com1" --path-file "$work/com1.path" \
    --bad-trailer=10 --transcript "$work/transcript.txt" </dev/null >"$work/camsim.out" &
camsim=$!
for _ in $(seq 500); do
    [ -s "$work/com1.path" ] && break
    sleep 0.02
done
[ -L "$work/com1" ] || { echo "camsim did not start"; exit 1; }

# Wine maps COM ports to devices when its server starts, from HKLM\Software\Wine\Ports:
# write the mapping and let that server end, so that the test's server starts with it.
build=$(cd "$(dirname "$exe")" && pwd)
while [ "$build" != / ] && [ ! -f "$build/CMakeCache.txt" ]; do build=$(dirname "$build"); done
# A prefix of its own: its port mapping must not meet another test's running in parallel.
export WINEPREFIX=$build/wineprefix-comport WINEDEBUG=-all WINEARCH=win64
"$(dirname "$winerun")/wine-prefix" "$WINEPREFIX" || exit 1
wineserver -w 2>/dev/null
wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$work/com1" /f >/dev/null 2>&1
wineserver -w 2>/dev/null

LV_SIM_CARD="Z:$work/card" WINE_RUN_PORTS="COM1=$work/com1" "$winerun" "$exe"
rc=$?
kill -TERM "$camsim" && wait "$camsim"
camsim_rc=$?
camsim=
[ $camsim_rc -eq 0 ] || { echo "camsim exited with $camsim_rc"; exit 1; }
exit $rc
