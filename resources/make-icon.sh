#!/usr/bin/env bash
# Draws the application icon (a transmitter mast sending waves) with
# ImageMagick and writes the two PNG sizes the program embeds.
#   resources/make-icon.sh        (run from anywhere; needs convert and awk)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

# A wave is a filled ring sector around the mast's tip (128,100): outer arc
# out, inner arc back. Filled shapes come out the same in every ImageMagick.
wave() { # inner-radius outer-radius from-degrees to-degrees
  awk -v r1="$1" -v r2="$2" -v a="$3" -v b="$4" 'BEGIN {
    pi = atan2(0, -1); n = 24; s = "polygon"
    for (i = 0; i <= n; i++) { t = (a + (b - a) * i / n) * pi / 180
      s = s sprintf(" %.1f,%.1f", 128 + r2 * cos(t), 100 + r2 * sin(t)) }
    for (i = n; i >= 0; i--) { t = (a + (b - a) * i / n) * pi / 180
      s = s sprintf(" %.1f,%.1f", 128 + r1 * cos(t), 100 + r1 * sin(t)) }
    print s }'
}

# Drawn at 256 x 256; the small size is scaled down from it.
convert -size 256x256 xc:none \
  -fill '#1d4f7c' -stroke '#163c5e' -strokewidth 4 \
  -draw 'roundrectangle 10,10 245,245 44,44' \
  -stroke none -fill '#ffcf4a' \
  -draw "$(wave 32 43 -48 48)" -draw "$(wave 32 43 132 228)" \
  -draw "$(wave 62 73 -42 42)" -draw "$(wave 62 73 138 222)" \
  -fill none -stroke white -strokewidth 12 \
  -draw 'line 128,100 94,214' -draw 'line 128,100 162,214' \
  -strokewidth 9 -draw 'line 108,168 148,168' -draw 'line 84,214 172,214' \
  -stroke none -fill white -draw 'circle 128,100 128,86' \
  -depth 8 -strip "$here/zephalink.png"

convert "$here/zephalink.png" -resize 32x32 -depth 8 -strip "$here/zephalink-32.png"
