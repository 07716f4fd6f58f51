#!/bin/sh
# Runs both fuzz targets one after the other for the given seconds each, starting from the
# committed corpus, keeping what they find in build/fuzz/work-<target>.
#   jpeg/fuzz/run-fuzz.sh SECONDS [BUILD_DIR]
set -eu
seconds=${1:-600}
build=${2:-build/fuzz}
here=$(cd "$(dirname "$0")" && pwd)
for target in decode_memory thumbnail; do
    work=$build/work-$target
    mkdir -p "$work" "$build/artifacts-$target"
    "$build/jpeg/jpeg_fuzz_$target" -max_total_time="$seconds" -max_len=20000 -rss_limit_mb=4096 \
        -timeout=10 -dict="$here/jpeg.dict" -print_final_stats=1 \
        -artifact_prefix="$build/artifacts-$target/" "$work" "$here/corpus/$target" \
        > "$build/fuzz-$target.log" 2>&1 || echo "$target stopped with a finding" >&2
done
