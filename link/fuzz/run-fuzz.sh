#!/bin/sh
# Runs the link's fuzz targets one after the other for the given seconds each, niced and in
# one process each, starting from the committed corpus and keeping what they find in
# BUILD_DIR/link-work-<target>; the log of each run is BUILD_DIR/link-fuzz-<target>.log.
#   link/fuzz/run-fuzz.sh SECONDS [BUILD_DIR] [TARGET...]
set -eu
seconds=${1:-600}
build=${2:-build/fuzz}
[ $# -ge 2 ] && shift 2 || shift $#
targets=${*:-catalogue_serial catalogue_usb transfer}
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$build" && pwd)
cd "$build" # libFuzzer's job log (fuzz-0.log) goes to the current folder
for target in $targets; do
    work=$build/link-work-$target
    mkdir -p "$work" "$build/link-artifacts-$target"
    nice -n 19 "$build/link/link_fuzz_$target" -max_total_time="$seconds" -max_len=16384 \
        -rss_limit_mb=2048 -timeout=10 -jobs=1 -workers=1 -print_final_stats=1 \
        -artifact_prefix="$build/link-artifacts-$target/" "$work" "$here/corpus/$target" \
        > "$build/link-fuzz-$target.log" 2>&1 || echo "$target stopped with a finding" >&2
done
