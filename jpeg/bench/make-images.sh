#!/bin/sh
# Makes the benchmark's pictures with cjpeg, baseline, luma 2x1: a 1792 x 1200 camera-sized
# picture at quality 75 and 95, the same at 640 x 480 (quality 75), a 160 x 120 thumbnail,
# and a second, independent 1792 x 1200 picture at quality 75. The sources are photographs
# from Debian's plasma-workspace-wallpapers when it is installed (the sample card uses the
# same package), else ImageMagick plasma fractals.
#   jpeg/bench/make-images.sh OUTPUT_DIR
set -eu
out=${1:?output folder}
mkdir -p "$out"
source_ppm() { # PHOTO SEED OUTPUT
    if [ -f "$1" ]; then
        convert "$1" -resize 1792x1200^ -gravity center -extent 1792x1200 -depth 8 "$3"
    else
        convert -seed "$2" -size 1792x1200 plasma:fractal -blur 0x0.7 -depth 8 "$3"
    fi
}
wallpapers=/usr/share/wallpapers
source_ppm $wallpapers/BytheWater/contents/images/1920x1200.jpg 11 "$out/source.ppm"
source_ppm $wallpapers/Autumn/contents/images/1920x1200.jpg 12 "$out/other.ppm"
cjpeg -baseline -sample 2x1 -quality 75 -outfile "$out/camera_1792x1200_q75.jpg" "$out/source.ppm"
cjpeg -baseline -sample 2x1 -quality 95 -outfile "$out/camera_1792x1200_q95.jpg" "$out/source.ppm"
cjpeg -baseline -sample 2x1 -quality 75 -outfile "$out/other_1792x1200_q75.jpg" "$out/other.ppm"
convert "$out/source.ppm" -resize 640x480 -depth 8 "$out/vga.ppm"
cjpeg -baseline -sample 2x1 -quality 75 -outfile "$out/camera_640x480_q75.jpg" "$out/vga.ppm"
convert "$out/source.ppm" -resize 160x120 -depth 8 "$out/thumb.ppm"
cjpeg -baseline -sample 2x1 -quality 75 -outfile "$out/thumb_160x120_q75.jpg" "$out/thumb.ppm"
rm -f "$out/source.ppm" "$out/other.ppm" "$out/vga.ppm" "$out/thumb.ppm"
