#!/bin/sh
# Makes the benchmark's pictures: a 1792 x 1200 camera-sized picture at quality 75 and 95
# and a 160 x 120 thumbnail, baseline, luma 2x1, with cjpeg. The source is a photograph
# from Debian's plasma-workspace-wallpapers when it is installed (the sample card uses the
# same package), else an ImageMagick plasma fractal.
#   jpeg/bench/make-images.sh OUTPUT_DIR
set -eu
out=${1:?output folder}
mkdir -p "$out"
photo=/usr/share/wallpapers/BytheWater/contents/images/1920x1200.jpg
if [ -f "$photo" ]; then
    convert "$photo" -resize 1792x1200^ -gravity center -extent 1792x1200 -depth 8 "$out/source.ppm"
else
    convert -seed 11 -size 1792x1200 plasma:fractal -blur 0x0.7 -depth 8 "$out/source.ppm"
fi
cjpeg -baseline -sample 2x1 -quality 75 -outfile "$out/camera_1792x1200_q75.jpg" "$out/source.ppm"
cjpeg -baseline -sample 2x1 -quality 95 -outfile "$out/camera_1792x1200_q95.jpg" "$out/source.ppm"
convert "$out/source.ppm" -resize 160x120 -depth 8 "$out/thumb.ppm"
cjpeg -baseline -sample 2x1 -quality 75 -outfile "$out/thumb_160x120_q75.jpg" "$out/thumb.ppm"
rm -f "$out/source.ppm" "$out/thumb.ppm"
