#!/usr/bin/env bash
# Draws every picture of the Quenvale demo saver into demo/saver/.
# Needs ImageMagick 6 (`convert`, `identify`) and awk; uses no fonts.
#
# Sets (base name, case-insensitive):
#   aurora   backgrounds/aurora.jpg   icons/aurora.png    icons/thumbs/aurora.png
#   reef     backgrounds/reef.png     icons/reef.bmp      icons/thumbs/reef.bmp
#   orchard  backgrounds/orchard.bmp  icons/orchard.png   icons/thumbs/orchard.png
#   lantern  backgrounds/lantern.jpg  icons/Lantern.PNG   icons/thumbs/LANTERN.BMP
#
# Icons are opaque: the engine keys on the colour of the top-left pixel, so each
# figure sits on a flat key colour (magenta, or black for the lantern) that the
# figure never uses, and is drawn with +antialias so no edge pixel blends into it.
set -euo pipefail

command -v convert >/dev/null && convert -version | grep -q ImageMagick || {
  echo "make_pictures.sh: needs ImageMagick (apt-get install -y imagemagick)" >&2
  exit 1
}

here=$(cd "$(dirname "$0")" && pwd)
out="$here/saver"
mkdir -p "$out/backgrounds" "$out/icons/thumbs"

# One thread keeps blur/resize results bit-identical between runs.
export MAGICK_THREAD_LIMIT=1
# No timestamps or colour-management chunks, so re-runs give identical PNGs
# and simple decoders see plain RGB.
png_opts=(-strip -define png:exclude-chunks=all -define png:compression-level=9)
# Baseline (non-progressive) JPEG with ordinary 4:2:0 sampling, no metadata.
jpg_opts=(-strip -interlace none -sampling-factor 2x2 -quality 86)

MAGENTA='#FF00FF'
BLACK='#000000'

# ---------------------------------------------------------------------------
# Icon figures are written as MVG in a base coordinate frame; scale_mvg turns
# them into any size, so the thumbnail is redrawn rather than resampled (a
# resampled thumbnail would blend its edges into the key colour).

# Scales every coordinate by $1. Colours, opacities and ellipse angles are
# left alone; stroke widths are kept at least one pixel.
scale_mvg() {
  awk -v s="$1" '
    $1 ~ /^(fill|stroke|stroke-linecap|stroke-linejoin)$/ { print; next }
    $1 == "stroke-width" { w = $2 * s; if (w < 1) w = 1; printf "stroke-width %.2f\n", w; next }
    {
      limit = ($1 == "ellipse") ? 4 : 1000000   # ellipse: last pair is angles
      n = 0; line = $1
      for (i = 2; i <= NF; i++) {
        cnt = split($i, p, ","); tok = ""
        for (j = 1; j <= cnt; j++) {
          v = p[j]
          if (v ~ /^-?[0-9.]+$/ && n < limit) { v = sprintf("%.2f", v * s); n++ }
          tok = tok (j > 1 ? "," : "") v
        }
        line = line " " tok
      }
      print line
    }'
}

# Snowflake, base frame 128x128.
fig_aurora() {
  awk 'BEGIN {
    pi = atan2(0, -1)
    # Dark pass first, light pass on top: gives a crisp outline without antialiasing.
    for (pass = 0; pass < 2; pass++) {
      extra = pass == 0 ? 5 : 0
      print "fill none"
      print "stroke-linecap round"
      print (pass == 0 ? "stroke #1F5F8B" : "stroke #E6FBFF")
      printf "stroke-width %d\n", 8 + extra
      for (k = 0; k < 6; k++) {
        a = k * pi / 3 - pi / 2
        printf "line 64,64 %.2f,%.2f\n", 64 + 54 * cos(a), 64 + 54 * sin(a)
      }
      printf "stroke-width %d\n", 5 + extra
      for (k = 0; k < 6; k++) {
        a = k * pi / 3 - pi / 2
        for (b = 0; b < 2; b++) {
          r = b == 0 ? 24 : 39; len = b == 0 ? 16 : 11
          bx = 64 + r * cos(a); by = 64 + r * sin(a)
          for (side = -1; side <= 1; side += 2) {
            c = a + side * pi / 4
            printf "line %.2f,%.2f %.2f,%.2f\n", bx, by, bx + len * cos(c), by + len * sin(c)
          }
        }
      }
    }
    print "stroke #1F5F8B"
    print "stroke-width 2"
    print "fill #9FE3F4"
    line = "polygon"
    for (k = 0; k < 6; k++) {
      a = k * pi / 3
      line = line sprintf(" %.2f,%.2f", 64 + 13 * cos(a), 64 + 13 * sin(a))
    }
    print line
    print "fill #FFFFFF"
    print "stroke none"
    print "circle 64,64 64,59"
  }'
}

# Clownfish facing right, base frame 144x96.
fig_reef() {
  cat <<'EOF'
stroke #3A1A05
stroke-width 3
fill #F07A12
polygon 6,16 44,48 6,80 18,48
polygon 56,24 78,6 98,20
polygon 70,70 84,90 94,70
fill #FF8C1A
ellipse 80,48 56,30 0,360
fill #F6F6F2
stroke-width 2
ellipse 60,48 9,25 0,360
ellipse 98,48 7,24 0,360
stroke none
fill #FFFFFF
circle 116,42 116,35
fill #14202A
circle 117,42 117,38
stroke #3A1A05
stroke-width 2
line 126,56 132,54
EOF
}

# Apple with stem and leaf, base frame 128x128.
fig_orchard() {
  cat <<'EOF'
stroke #5A3512
stroke-width 6
stroke-linecap round
line 64,44 70,14
stroke none
fill #4A1008
circle 47,76 47,33
circle 81,76 81,33
fill #D7261E
circle 47,76 47,36
circle 81,76 81,36
fill #C4211A
ellipse 72,100 32,14 0,360
fill #F58A7E
ellipse 38,62 7,13 0,360
EOF
  # Leaf: a lens shape, tilted upwards from the stem.
  awk 'BEGIN {
    pi = atan2(0, -1); t = -0.5; len = 40; wid = 10
    line = "polygon"
    for (i = 0; i <= 16; i++) {             # upper edge, stem to tip
      x = len * i / 16; y = -wid * sin(pi * i / 16)
      line = line sprintf(" %.2f,%.2f", 70 + x * cos(t) - y * sin(t), 24 + x * sin(t) + y * cos(t))
    }
    for (i = 15; i >= 1; i--) {             # lower edge, tip back to stem
      x = len * i / 16; y = wid * sin(pi * i / 16)
      line = line sprintf(" %.2f,%.2f", 70 + x * cos(t) - y * sin(t), 24 + x * sin(t) + y * cos(t))
    }
    print "stroke #1F5A17"
    print "stroke-width 2"
    print "fill #4CAF3A"
    print line
  }'
}

# Paper lantern, base frame 112x144, drawn on black: no pure black inside.
fig_lantern() {
  cat <<'EOF'
stroke #C9A227
stroke-width 2
line 56,2 56,20
stroke #5A3A00
stroke-width 2
fill #D9A520
roundrectangle 38,16 74,30 3,3
roundrectangle 40,110 72,122 3,3
stroke #5A1A0A
stroke-width 3
fill #E8432A
ellipse 56,70 44,42 0,360
stroke none
fill #FFA640
ellipse 56,70 24,34 0,360
fill #FFE08A
ellipse 56,72 10,16 0,360
fill none
stroke #A82414
stroke-width 2
ellipse 56,70 31,42 0,360
ellipse 56,70 14,42 0,360
line 56,28 56,112
stroke #5A3A00
stroke-width 1
fill #E0B030
polygon 50,122 62,122 68,142 44,142
EOF
}

# draw_icon FIGURE BASE_W BASE_H KEY SCALE OUTPUT(with coder prefix)
draw_icon() {
  local fig=$1 bw=$2 bh=$3 key=$4 s=$5 dest=$6 w h
  w=$(awk -v a="$bw" -v s="$s" 'BEGIN { printf "%d", a * s + 0.5 }')
  h=$(awk -v a="$bh" -v s="$s" 'BEGIN { printf "%d", a * s + 0.5 }')
  convert -size "${w}x${h}" "xc:$key" +antialias \
    -draw "$("fig_$fig" | scale_mvg "$s")" \
    -alpha off -type TrueColor "${@:7}" "$dest"
}

# ---------------------------------------------------------------------------
# Backgrounds. Scattered things (stars, bubbles) come from a fixed-seed
# Park-Miller generator in awk, so every run places them identically.
rng_awk='function rnd() { seed = (seed * 16807) % 2147483647; return seed / 2147483647 }'

# aurora: night sky, soft green/violet bands, stars, dark hills. JPEG.
bands=$(awk 'BEGIN {
  print "fill none"; print "stroke-linejoin round"  # round caps break polyline in IM 6.9
  for (b = 0; b < 3; b++) {
    col[0] = "#3CFF9A"; col[1] = "#2FD3C0"; col[2] = "#9A6BFF"
    printf "stroke %s\nstroke-width %d\n", col[b], 14 - b * 3
    line = "polyline"
    for (x = -10; x <= 266; x += 6)
      line = line sprintf(" %d,%.1f", x, 52 + b * 16 + 18 * sin(x / 37.0 + b * 1.7) + 7 * sin(x / 13.0 + b))
    print line
  }
}')
stars=$(awk "$rng_awk"' BEGIN {
  seed = 20240611; print "stroke none"
  for (i = 0; i < 170; i++) {
    x = int(rnd() * 1024); y = int(rnd() * 560); r = rnd() < 0.12 ? 2 : 1
    g = 150 + int(rnd() * 105)
    printf "fill rgb(%d,%d,255)\ncircle %d,%d %d,%d\n", g, g, x, y, x + r, y
  }
}')
hills=$(awk 'BEGIN {
  line = "polygon 0,768"
  for (x = 0; x <= 1024; x += 16) line = line sprintf(" %d,%.1f", x, 668 + 30 * sin(x / 140.0) + 14 * sin(x / 47.0 + 1))
  print "fill #03090F"; print "stroke none"; print line " 1024,768"
}')
convert -size 1024x768 gradient:'#020716-#0E3A4E' \
  \( -size 256x192 xc:black -draw "$bands" -blur 0x9 -resize 1024x768\! \) \
  -compose screen -composite \
  -draw "$stars" -draw "$hills" \
  "${jpg_opts[@]}" "JPEG:$out/backgrounds/aurora.jpg"

# reef: deep-blue water, light rays, sandy floor, weed, bubbles. PNG.
rays=$(awk 'BEGIN {
  print "stroke none"; print "fill #FFFFFF"
  for (i = 0; i < 5; i++) {
    x = 30 + i * 48
    printf "polygon %d,-5 %d,-5 %d,200 %d,200\n", x, x + 12, x + 40 + i * 6, x + 10 + i * 6
  }
}')
floor=$(awk "$rng_awk"' BEGIN {
  seed = 777
  line = "polygon 0,768"
  for (x = 0; x <= 1024; x += 16) line = line sprintf(" %d,%.1f", x, 690 + 16 * sin(x / 90.0) + 6 * sin(x / 23.0))
  print "stroke none"; print "fill #B89A62"; print line " 1024,768"
  print "fill #6B5E4C"
  print "ellipse 180,700 70,34 0,360"; print "ellipse 250,712 46,24 0,360"; print "ellipse 830,705 84,40 0,360"
  # Weed: wavy strands rising from the floor.
  print "fill none"; print "stroke-linejoin round"  # round caps break polyline in IM 6.9
  for (k = 0; k < 14; k++) {
    x0 = 40 + int(rnd() * 940); hgt = 90 + int(rnd() * 150); ph = rnd() * 6
    printf "stroke %s\nstroke-width %d\n", (k % 2 ? "#1E7A4A" : "#2E9A58"), 6 + int(rnd() * 4)
    line = "polyline"
    for (t = 0; t <= hgt; t += 10) line = line sprintf(" %.1f,%d", x0 + 12 * sin(t / 28.0 + ph), 712 - t)
    print line
  }
}')
bubbles=$(awk "$rng_awk"' BEGIN {
  seed = 4242
  for (i = 0; i < 46; i++) {
    x = 20 + int(rnd() * 984); y = 30 + int(rnd() * 620); r = 3 + int(rnd() * rnd() * 22)
    print "stroke #CFEFFF"; print "stroke-width 2"; print "fill rgba(190,235,255,0.18)"
    printf "circle %d,%d %d,%d\n", x, y, x + r, y
    print "stroke none"; print "fill rgba(255,255,255,0.8)"
    printf "circle %d,%d %d,%d\n", x - r / 3, y - r / 3, x - r / 3 + r / 4 + 1, y - r / 3
  }
}')
convert -size 1024x768 gradient:'#1C74B0-#03163A' \
  \( -size 256x192 xc:black -draw "$rays" -blur 0x6 -resize 1024x768\! -evaluate multiply 0.22 \) \
  -compose screen -composite \
  -draw "$floor" -draw "$bubbles" \
  -alpha off "${png_opts[@]}" "PNG24:$out/backgrounds/reef.png"

# orchard: sunny hills with rows of fruit trees. 640x480 8-bit palette BMP,
# uncompressed, so the file stays near 300 KB.
orchard=$(awk "$rng_awk"' BEGIN {
  seed = 9001
  print "stroke none"
  print "fill #FFF2A8"; print "circle 540,80 540,36"
  print "fill #FFE066"; print "circle 540,80 540,44"
  # Far hill, then near hill.
  line = "polygon 0,480"
  for (x = 0; x <= 640; x += 10) line = line sprintf(" %d,%.1f", x, 250 + 22 * sin(x / 110.0 + 0.5))
  print "fill #7FBF5A"; print line " 640,480"
  line = "polygon 0,480"
  for (x = 0; x <= 640; x += 10) line = line sprintf(" %d,%.1f", x, 320 + 18 * sin(x / 80.0 + 2))
  print "fill #5FA843"; print line " 640,480"
  # Three rows of trees, smaller further back.
  for (row = 0; row < 3; row++) {
    sc = 0.55 + row * 0.3; y = 262 + row * 70; n = 9 - row * 2
    for (i = 0; i < n; i++) {
      x = 640 * (i + 0.5) / n + (row % 2) * 18
      tw = 4 * sc; th = 26 * sc; cr = 24 * sc
      print "fill #6B4423"
      printf "rectangle %.1f,%.1f %.1f,%.1f\n", x - tw, y - th, x + tw, y
      print "fill #2F7D32"
      printf "circle %.1f,%.1f %.1f,%.1f\n", x, y - th - cr * 0.6, x + cr, y - th - cr * 0.6
      print "fill #3E9440"
      printf "circle %.1f,%.1f %.1f,%.1f\n", x - cr * 0.3, y - th - cr * 0.85, x + cr * 0.3, y - th - cr * 0.85
      print "fill #D7261E"
      for (a = 0; a < 5; a++) {
        ax = x + (rnd() - 0.5) * cr * 1.4; ay = y - th - cr * 0.6 + (rnd() - 0.5) * cr * 1.2
        printf "circle %.1f,%.1f %.1f,%.1f\n", ax, ay, ax + 2.5 * sc, ay
      }
    }
  }
}')
convert -size 640x480 gradient:'#7CC8F5-#E6F5FF' -draw "$orchard" \
  -alpha off -dither FloydSteinberg -colors 256 -type Palette -compress None \
  "BMP3:$out/backgrounds/orchard.bmp"

# lantern: dusk-to-night sky, moon with glow, far floating lanterns, rooftops. JPEG.
nightsky=$(awk "$rng_awk"' BEGIN {
  seed = 31337; print "stroke none"
  for (i = 0; i < 140; i++) {
    x = int(rnd() * 1024); y = int(rnd() * 520); g = 170 + int(rnd() * 85)
    printf "fill rgb(%d,%d,%d)\ncircle %d,%d %d,%d\n", g, g, g - 30, x, y, x + (rnd() < 0.1 ? 2 : 1), y
  }
}')
glows=$(awk "$rng_awk"' BEGIN {
  seed = 515; print "stroke none"
  print "fill #FFF4C8"; print "circle 206,38 206,18"   # moon halo, sized for 256x192
  for (i = 0; i < 16; i++) {
    x = 10 + int(rnd() * 236); y = 40 + int(rnd() * 110); r = 1.5 + rnd() * 2.5
    printf "fill #FF8A2A\nellipse %d,%d %.1f,%.1f 0,360\n", x, y, r, r * 1.3
  }
}')
moon_and_roofs=$(awk 'BEGIN {
  print "stroke none"
  print "fill #FFF6D8"; print "circle 824,152 824,110"
  print "fill #E9DDB8"; print "circle 810,140 810,132"; print "circle 842,170 842,164"
  # Rooftop silhouette along the bottom.
  line = "polygon 0,768 0,700"; x = 0
  while (x < 1024) {
    w = 60 + (x * 37) % 70; h = 640 + (x * 53) % 60
    line = line sprintf(" %d,%d %d,%d %d,%d", x, h + 20, x + w / 2, h, x + w, h + 20)
    x += w
  }
  print "fill #0A0814"; print line " 1024,700 1024,768"
}')
convert -size 1024x768 gradient:'#070724-#3A1E4A' \
  \( -size 256x192 xc:black -draw "$glows" -blur 0x3 -resize 1024x768\! \) \
  -compose screen -composite \
  -draw "$nightsky" -draw "$moon_and_roofs" \
  "${jpg_opts[@]}" "JPEG:$out/backgrounds/lantern.jpg"

# ---------------------------------------------------------------------------
# Icons (scale 1) and thumbnails (scale 1/4: 32x32, 36x24, 28x36).
draw_icon aurora  128 128 "$MAGENTA" 1    "PNG24:$out/icons/aurora.png"          "${png_opts[@]}"
draw_icon aurora  128 128 "$MAGENTA" 0.25 "PNG24:$out/icons/thumbs/aurora.png"   "${png_opts[@]}"
draw_icon reef    144  96 "$MAGENTA" 1    "BMP3:$out/icons/reef.bmp"             -compress None
draw_icon reef    144  96 "$MAGENTA" 0.25 "BMP3:$out/icons/thumbs/reef.bmp"      -compress None
draw_icon orchard 128 128 "$MAGENTA" 1    "PNG24:$out/icons/orchard.png"         "${png_opts[@]}"
draw_icon orchard 128 128 "$MAGENTA" 0.25 "PNG24:$out/icons/thumbs/orchard.png"  "${png_opts[@]}"
# Mixed-case names on purpose: the engine groups sets ignoring case.
draw_icon lantern 112 144 "$BLACK"   1    "PNG24:$out/icons/Lantern.PNG"         "${png_opts[@]}"
draw_icon lantern 112 144 "$BLACK"   0.25 "BMP3:$out/icons/thumbs/LANTERN.BMP"   -compress None

# ---------------------------------------------------------------------------
# Self-check: no icon pixel may be a near miss of its key colour (an
# antialiased fringe would show as a halo around the bouncing picture).
status=0
for f in "$out"/icons/*.* "$out"/icons/thumbs/*.*; do
  near=$(convert "$f" -alpha off -fx \
    'd = abs(r-p{0,0}.r) + abs(g-p{0,0}.g) + abs(b-p{0,0}.b); d > 0 && d < 0.15' \
    -format '%[fx:round(mean*w*h)]' info:)
  if [ "$near" != 0 ]; then
    echo "make_pictures.sh: $f has $near pixels close to its key colour" >&2
    status=1
  fi
done
exit $status
