#!/usr/bin/env bash
# Times saverpack render on the demo saver: FRAMES frames (default 120) at 1024x768, median of
# five runs, as milliseconds per frame, with the bytes the frames take.
#   bench/render_frames.sh SAVERPACK [FRAMES]
set -euo pipefail
saverpack=$1
frames=${2:-120}
source_dir=$(cd "$(dirname "$0")/.." && pwd)/demo/saver
work=$(mktemp -d "${TMPDIR:-/tmp}/render-frames.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$saverpack" build "$source_dir" "$work/Quenvale Demo.scr" >/dev/null
times=()
for ((run = 0; run < 5; run++)); do
  rm -rf "$work/frames"
  start=$(date +%s%N)
  "$saverpack" render "$work/Quenvale_Demo.dat" "$work/frames" --frames "$frames" --seed 3 \
    >/dev/null 2>&1
  times+=($((($(date +%s%N) - start) / 1000 / frames)))
done
median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n 3p)
printf '%d frames of 1024x768: %d.%02d ms per frame (median of 5), %d KiB of PNG\n' "$frames" \
  $((median / 1000)) $((median % 1000 / 10)) $(($(du -sk "$work/frames" | cut -f1)))
