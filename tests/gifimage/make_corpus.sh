#!/bin/sh
# Makes GIF files with encoders of other projects: ImageMagick, ffmpeg and gifsicle.
# Usage: make_corpus.sh <folder> [bench]. With "bench", the large files of the decoding benchmark.
set -eu
out=$1
mode=${2:-corpus}
mkdir -p "$out"
cd "$out"
if command -v convert-im6.q16 >/dev/null 2>&1; then im=convert-im6.q16; else im=convert; fi
ff() { ffmpeg -nostdin -loglevel error -y "$@"; }

if [ "$mode" = bench ]; then
  $im -seed 11 -size 2400x1800 plasma:fractal -blur 0x1 -colors 256 photo.gif
  $im -size 3000x2000 xc:white -fill navy -draw "rectangle 200,200 1800,1400" \
      -fill red -draw "circle 2200,1000 2200,400" -fill green -draw "rectangle 0,1700 3000,2000" -colors 8 flat.gif
  ff -f lavfi -i testsrc=size=320x240:rate=25 -t 12 animation.gif
  $im -seed 12 -size 2000x2000 plasma:fractal -blur 0x1 -colors 256 photo-2000.gif
  # 200 frames over one palette made for the whole clip: ffmpeg writes one global table and
  # frame-difference rectangles with transparency.
  ff -f lavfi -i testsrc=size=320x240:rate=25:duration=8 \
     -filter_complex "[0:v]split[a][b];[a]palettegen[p];[b][p]paletteuse" paletteuse.gif
  # The same kind of clip in 4000 frames of 64x48: what each frame costs apart from its pixels.
  ff -f lavfi -i testsrc=size=64x48:rate=50:duration=80 \
     -filter_complex "[0:v]split[a][b];[a]palettegen[p];[b][p]paletteuse" many-frames.gif
  exit 0
fi

$im -size 40x30 gradient:red-blue -colors 16 gradient16.gif
gifsicle gradient16.gif -o gradient16-87a.gif
gifsicle --interlace gradient16.gif -o gradient16-interlaced-87a.gif
$im -size 1x1 xc:red one-pixel.gif
gifsicle one-pixel.gif -o one-pixel-87a.gif
$im -size 1x7 gradient:black-white -colors 4 column.gif
$im -size 7x1 gradient:black-white -colors 4 row.gif
$im -size 64x48 xc:white -fill black -draw "circle 32,24 32,4" -monochrome bilevel.gif
$im -seed 3 -size 300x200 plasma:fractal -colors 200 -interlace GIF plasma-interlaced.gif
$im -seed 4 -size 1024x768 plasma:fractal -blur 0x1 -colors 256 large-photo.gif
$im -size 1500x1000 xc:white -fill blue -draw "rectangle 100,100 900,700" \
    -fill red -draw "circle 1100,500 1100,200" -colors 8 large-flat.gif
$im -size 50x40 xc:none -fill red -draw "circle 25,20 25,5" transparent.gif
$im -delay 10 -size 40x40 -dispose None xc:red -dispose Background -page 40x40+5+5 -size 20x20 xc:green \
    -dispose Previous -page +10+10 xc:blue -dispose Undefined -page +0+0 -size 40x40 xc:yellow \
    -dispose Background -page +20+3 -size 17x9 xc:none -loop 0 disposal.gif
$im -size 9x9 xc:red -size 9x9 xc:green -size 9x9 gradient:blue-yellow -colors 32 -delay 5 -loop 3 three-frames.gif
ff -f lavfi -i testsrc=size=64x48:rate=5 -t 1 \
   -filter_complex "[0:v]split[a][b];[a]palettegen=stats_mode=single[p];[b][p]paletteuse=new=1" local-tables.gif
ff -f lavfi -i testsrc=size=160x120:rate=25 -t 2 ffmpeg-animation.gif
gifsicle -O3 ffmpeg-animation.gif -o gifsicle-optimized.gif
gifsicle --colors 64 --interlace ffmpeg-animation.gif -o gifsicle-64-interlaced.gif
gifsicle gradient16.gif bilevel.gif column.gif -o gifsicle-merged-local.gif
touch stamp
