#!/usr/bin/env bash
# Peak resident memory of saverpack decoding and rendering a saver whose background is one very
# large picture: an 11585 x 11585 JPEG (just under the 512 MiB decoded limit) and a 16384 x 8192
# PNG, each drawn at 1920 x 1080. Needs ImageMagick, Pillow and GNU time (/usr/bin/time).
#   bench/big_background_memory.sh SAVERPACK DEMO_SOURCE_DIR
set -euo pipefail
saverpack=$1
demo=$2
[[ -x /usr/bin/time ]] || { echo "needs /usr/bin/time (Debian package time)" >&2; exit 2; }
work=$(mktemp -d "${TMPDIR:-/tmp}/big-background.XXXXXX")
trap 'rm -rf "$work"' EXIT
peak() { # COMMAND...: prints the peak resident set in MB and the wall time
  /usr/bin/time -f '%M %e' -o "$work/time" "$@" >/dev/null 2>&1
  read -r kb seconds <"$work/time"
  echo "$((kb / 1024)) MB peak, ${seconds} s"
}
for picture in "big.jpg 11585x11585 -quality 85" "big.png 16384x8192"; do
  read -r name size options <<<"$picture"
  rm -rf "$work/src" "$work/out"
  # One set, "big": the demo's settings and one of its icons over the big background.
  mkdir -p "$work/src/backgrounds" "$work/src/icons"
  cp "$demo/settings.txt" "$work/src/"
  cp "$demo/icons/aurora.png" "$work/src/icons/big.png"
  if [[ $name == *.png ]]; then
    # ImageMagick's default policy refuses a side of 16384; Pillow writes it.
    /usr/bin/python3 -c 'import sys; from PIL import Image
w, h = map(int, sys.argv[2].split("x"))
Image.linear_gradient("L").resize((w, h)).convert("RGB").save(sys.argv[1])' \
      "$work/src/backgrounds/$name" "$size"
  else
    # shellcheck disable=SC2086 # the options are meant to split
    convert -size "$size" gradient:red-blue $options "$work/src/backgrounds/$name"
  fi
  "$saverpack" build "$work/src" "$work/Big.scr" >/dev/null
  echo "$name ($size, $(stat -c %s "$work/src/backgrounds/$name") bytes):"
  echo "  decode: $(peak "$saverpack" decode "$work/src/backgrounds/$name" "$work/decoded.png")"
  echo "  render 2 frames at 1920x1080: $(peak "$saverpack" render "$work/Big.dat" "$work/out" \
    --frames 2 --size 1920x1080)"
done
