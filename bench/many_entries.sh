#!/usr/bin/env bash
# Times saverpack's list, sets and check on a data file of many entries: N sets of one
# background and one icon each (2N entries, default N = 20000), all the same tiny picture.
#   bench/many_entries.sh SAVERPACK [N]
set -euo pipefail
saverpack=$1
sets=${2:-20000}
work=$(mktemp -d "${TMPDIR:-/tmp}/many-entries.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/src/backgrounds" "$work/src/icons"
printf 'P3\n2 2\n255\n255 0 0  0 255 0\n0 0 255  255 255 255\n' >"$work/tiny.ppm"
for ((i = 0; i < sets; i++)); do
  ln "$work/tiny.ppm" "$work/src/backgrounds/set$i.ppm"
  ln "$work/tiny.ppm" "$work/src/icons/set$i.ppm"
done
printf '[general]\ntitle=Many Entries\n' >"$work/src/settings.txt"
"$saverpack" build "$work/src" "$work/Many Entries.scr" >/dev/null
data=$work/Many_Entries.dat
echo "$((2 * sets + 1)) entries, $(stat -c %s "$data") bytes"
for command in list sets check; do
  start=$(date +%s%N)
  "$saverpack" "$command" "$data" >/dev/null 2>&1 || true
  echo "$command: $((($(date +%s%N) - start) / 1000000)) ms"
done
