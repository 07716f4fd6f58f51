#!/usr/bin/env bash
# setup.exe and uninst.exe in a Wine prefix made afresh for this run:
#   pages:      setup.exe without /S shows its pages; cancelled, it installs nothing;
#   install:    setup.exe /S, then every file and key checked;
#   again:      setup.exe /S over the installed copy, checked the same way;
#   pixdesk:    the installed program started and closed;
#   automation: a client creates "PIXDESK.Application" and gets the installed copy;
#   datasource: the installed lv2700c5.ds, driven by a TWAIN host, acquires two pictures from
#               camsim on COM1 (skipped when setup.exe was built without it);
#   uninstall:  the installed keypurge, answered Yes, starts uninst.exe by the short
#               "UninstallString"; afterwards the registry and the files are as before setup,
#               but for a file and a folder of the user's in the program folder.
# The camera is the native camsim on a card made by the native mkcard.
#   installer_test.sh TESTS.exe SETUP.exe WINE_RUN WORK_DIR PREFIX NATIVE_SIM_DIR DS_TESTS.exe|-
#                     PIXDESK.exe KEYPURGE.exe CAMPANEL.dll [LV2700C5.ds]
set -u
tests=$1 setup=$2 winerun=$3 work=$4 prefix=$5 tools=$6 ds_tests=$7
built_pixdesk=$8 built_keypurge=$9 built_campanel=${10} built_ds=${11:-}

export WINEPREFIX=$prefix WINEDEBUG=-all WINEARCH=win64
# Setup's shortcuts would otherwise turn into menu entries of this machine's desktop.
export WINEDLLOVERRIDES="winemenubuilder.exe=d"
export LV_BUILT_PIXDESK="Z:$built_pixdesk" LV_BUILT_KEYPURGE="Z:$built_keypurge"
export LV_BUILT_CAMPANEL="Z:$built_campanel" LV_BUILT_DATASOURCE=${built_ds:+Z:$built_ds}

# Each stage gets a Wine server of its own whose output goes to a file: a server that ends
# with objects left over lists them all, thousands of lines, on the stage's output.
stage() {
    echo "== installer_test: $1"
    wineserver -w
    wineserver -p2 >>"$work/wineserver.log" 2>&1 </dev/null
}
fail() { echo "installer_test: $1"; status=1; }

rm -rf "$prefix" "$work" && mkdir -p "$work" || exit 1
"$(dirname "$winerun")/wine-prefix" "$prefix" || exit 1
mkdir -p "$work/bin" && cp "$tests" "$work/bin/" || exit 1
run="$work/bin/$(basename "$tests")"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
}
trap cleanup EXIT
# COM1 names a stable link that camsim makes later; Wine maps ports when its server starts,
# so the mapping is part of the state before setup.
WINE_RUN_PORTS="COM1=$work/com1;COM2=$work/com2-none" "$winerun" "$run" --gtest_list_tests \
    >/dev/null || exit 1

# The state a user's machine is in, as text: both registry hives and the files of drive C.
# Wine rewrites the display and monitor devices' keys at every start, its console host writes
# its defaults under HKCU\Console the first time a console program runs, Wine keeps its own
# settings under Software\Wine (which setup never touches), and programs' temporary files
# come and go; all are left out.
volatile_keys='\\Control\\Class\\\{4d36e96[8e]-|\\Control\\Video\\|\\Enum\\(DISPLAY|MONITOR)\\|\\Control\\DeviceClasses\\|_USER\\Console(\\|\])|\\Software\\Wine\\'
snapshot() {
    wineserver -w
    local hive
    for hive in HKLM HKCU; do
        wine reg export "$hive" "$work/$1-$hive.reg" /y >/dev/null 2>&1 || return 1
        iconv -f UTF-16LE -t UTF-8 "$work/$1-$hive.reg" | tr -d '\r' |
            skip=$volatile_keys awk -v RS= 'tolower($0) !~ tolower(ENVIRON["skip"])' >"$work/$1-$hive.txt"
    done
    (cd "$prefix/drive_c" && find . -path '*/[Tt]emp' -prune -o -print | sort) >"$work/$1-files.txt"
    wineserver -w
}
same_as_before() {
    local part
    for part in HKLM HKCU files; do
        diff "$work/before-$part.txt" "$work/$1-$part.txt" >"$work/$1-$part.diff" ||
            { fail "$part differ from before setup:"; head -40 "$work/$1-$part.diff"; }
    done
}

status=0
snapshot before || exit 1

stage pages
LV_SETUP="Z:$setup" "$winerun" "$run" --gtest_filter='SetupPages.*' || status=1

stage install
"$winerun" "$setup" /S || fail "setup.exe /S failed"
"$winerun" "$run" --gtest_filter='Installed.*' || status=1

stage again
"$winerun" "$setup" /S || fail "setup.exe /S over the installed copy failed"
"$winerun" "$run" --gtest_filter='Installed.*' || status=1

# setup.exe and the uninst.exe it wrote must load on a bare Windows.
program="$prefix/drive_c/Program Files (x86)/LUMIVERA LV2700c5"
mkdir -p "$work/binaries" && cp "$setup" "$program/uninst.exe" "$work/binaries/" &&
    "$(dirname "$winerun")/check-imports" "$work/binaries" >/dev/null ||
    fail "setup.exe or uninst.exe imports DLLs a bare Windows lacks"

stage pixdesk
"$winerun" "$run" --gtest_filter='InstalledPixdesk.*' || status=1

stage automation
"$winerun" "$run" --gtest_filter='InstalledAutomation.*' || status=1

stage datasource
if [ -z "$built_ds" ]; then
    echo "skipped: setup.exe was built without the data source"
elif [ "$ds_tests" = - ]; then
    echo "skipped: the data source's test host (datasource/tests/twhost.cpp) is not in this build"
elif [ ! -x "$tools/camsim" ] || [ ! -x "$tools/mkcard" ]; then
    echo "skipped: build camsim and mkcard natively first ($tools)"
else
    photos=()
    for seed in 1 2 3 4; do
        "$tools/mkcard" --pattern 640 480 "$seed" "$work/photo$seed.jpg" >/dev/null || exit 1
        photos+=("$work/photo$seed.jpg")
    done
    "$tools/mkcard" --full-size 320x240 "$work/card" "${photos[@]}" >/dev/null || exit 1
    "$tools/camsim" --card "$work/card" --path-file "$work/com1.path" --link "$work/com1" \
        </dev/null >/dev/null &
    pids+=($!)
    for _ in $(seq 500); do [ -s "$work/com1.path" ] && break; sleep 0.02; done
    cp "$ds_tests" "$work/bin/" &&
        "$winerun" "$work/bin/$(basename "$ds_tests")" || status=1
    cleanup
    pids=()
fi

stage uninstall
mkdir -p "$program/My pictures" && echo picture >"$program/My pictures/001.jpg" &&
    echo picture >"$program/my picture.jpg" || exit 1
"$winerun" "$run" --gtest_filter='Uninstall.*' || status=1
rm -rf "$program/My pictures" "$program/my picture.jpg"
rmdir "$program" 2>/dev/null
snapshot after || exit 1
same_as_before after

echo "== installer_test: exit $status"
exit $status
