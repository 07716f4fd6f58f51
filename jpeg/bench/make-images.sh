#!/bin/sh
# Makes the benchmark's pictures with ImageMagick and cjpeg: a 1792 x 1200 camera-sized
# picture at quality 75 and 95 and a 160 x 120 thumbnail, baseline, luma 2x1.
#   jpeg/bench/make-images.sh OUTPUT_DIR
set -eu
out=${1:?output folder}
mkdir -p "$out"
convert -seed 11 -size 1792x1200 plasma:fractal -blur 0x0.7 -depth 8 "$out/source.ppm"
cjpeg -baseline -sample 2x1 -quality 75 -outfile "$out/camera_1792x1200_q75.jpg" "$out/source.ppm"
cjpeg -baseline -sample 2x1 -quality 95 -outfile "$out/camera_1792x1200_q95.jpg" "$out/source.ppm"
convert "$out/source.ppm" -resize 160x120 -depth 8 "$out/thumb.ppm"
cjpeg -baseline -sample 2x1 -quality 75 -outfile "$out/thumb_160x120_q75.jpg" "$out/thumb.ppm"
rm -f "$out/source.ppm" "$out/thumb.ppm"
