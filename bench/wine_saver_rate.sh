#!/usr/bin/env bash
# The Windows engine's frame rate and CPU load while saving, under Wine on the prefix's Xvfb
# (1024 x 768 unless a $DISPLAY is given). Run by hand after building the windows preset:
#   bench/wine_saver_rate.sh [DEMO_DIR] [SECONDS]
# Prints the frames per second the engine drew (from its QUENVALE_FRAME_LOG) and the CPU time
# per second of saving of the saver process, the wineserver and the X server.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
demo_dir=${1:-$repo/build/windows/demo}
seconds=${2:-10}
wine_run=$repo/scripts/wine-run
prefix=${QUENVALE_WINEPREFIX:-$repo/build/windows/wineprefix}
[[ -f "$demo_dir/Quenvale Demo.scr" ]] || { echo "no demo in $demo_dir" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/wine-saver-rate.XXXXXX")
trap 'pkill -f "$work/" 2>/dev/null || true; rm -rf "$work"' EXIT
cp "$demo_dir/Quenvale Demo.scr" "$demo_dir/Quenvale_Demo.dat" "$work/"

"$wine_run" cmd /c exit >/dev/null 2>&1
if [[ -z ${DISPLAY:-} ]]; then export DISPLAY=:$(cat "$prefix/.quenvale-display"); fi
screen=$(xwininfo -root | sed -n 's/^ *-geometry *\([0-9]*x[0-9]*\).*/\1/p')

QUENVALE_FRAME_LOG=$(winepath -w "$work/frames.log" 2>/dev/null || echo "Z:${work//\//\\}\\frames.log")
export QUENVALE_FRAME_LOG
("$wine_run" "$work/Quenvale Demo.scr" /s >/dev/null 2>&1 || true) &
for _ in $(seq 1 240); do
  xdotool search --onlyvisible --name '^Quenvale Demo$' >/dev/null 2>&1 && break
  sleep 0.25
done
sleep 2

# The Windows process itself, not the shell that started it.
saver=""
for pid in $(pgrep -f 'Quenvale Demo.scr' || true); do
  [[ $(tr '\0' ' ' <"/proc/$pid/cmdline") == "$work/Quenvale Demo.scr"* ]] && saver=$pid
done
[[ -n $saver ]] || { echo "the saver process was not found" >&2; exit 1; }
server=$(pgrep -o wineserver || true)
xserver=$(pgrep -o -x Xvfb || true)
ticks() { [[ -n $1 && -r /proc/$1/stat ]] && sed 's/^.*) //' "/proc/$1/stat" | awk '{print $12 + $13}' || echo 0; }
declare -A before
for p in $saver $server $xserver; do before[$p]=$(ticks "$p"); done
sleep "$seconds"
hz=$(getconf CLK_TCK)
share() { echo "$(( ($(ticks "$1") - ${before[$1]}) * 1000 / hz / seconds ))"; }
saver_ms=$(share "$saver")
server_ms=$( [[ -n $server ]] && share "$server" || echo "?")
x_ms=$( [[ -n $xserver ]] && share "$xserver" || echo "?")

xdotool key x
for _ in $(seq 1 40); do [[ -s $work/frames.log ]] && break; sleep 0.25; done
echo "screen $screen, $seconds s of saving"
echo "frames: $(cat "$work/frames.log" 2>/dev/null || echo 'no frame log')"
echo "CPU per second of saving: saver ${saver_ms} ms, wineserver ${server_ms} ms, X server ${x_ms} ms"
