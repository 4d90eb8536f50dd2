#!/usr/bin/env bash
# CPU per second of saving of the Linux engine under its own Xvfb at 1920x1080, for the demo
# and for a heavy variant of it (1000 pictures at Speed 10), beside an xscreensaver hack's in
# the same run when one is installed (Debian's xscreensaver-data: deco).
#   bench/linux_engine_cpu.sh ENGINE SAVERPACK [SECONDS]
set -euo pipefail
engine=$(realpath "$1")
saverpack=$2
seconds=${3:-15}
source_dir=$(cd "$(dirname "$0")/.." && pwd)/demo/saver
source "$(dirname "$0")/xvfb.sh"
start_xvfb engine-cpu
ticks=$(getconf CLK_TCK)

# Runs a program for the given seconds (after two to settle) and prints its CPU per second;
# each run has a settings folder of its own, so that no run loads what another stored.
cpu_of() {
  local name=$1 pid before after fps
  shift
  DISPLAY=$display XDG_CONFIG_HOME=$work/config-$RANDOM "$@" >/dev/null 2>"$work/err" &
  pid=$!
  sleep 2
  before=$(sed 's/^.*) //' "/proc/$pid/stat" | awk '{print $12 + $13}')
  sleep "$seconds"
  after=$(sed 's/^.*) //' "/proc/$pid/stat" | awk '{print $12 + $13}')
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  fps=$(grep -oE '[0-9]+ fps' "$work/err" | tail -n 1 || true)
  printf '%-28s %5d ms of CPU per second%s\n' "$name" $(((after - before) * 1000 / ticks / seconds)) \
    "${fps:+, $fps}"
}

mkdir "$work/demo" "$work/heavy"
"$saverpack" build "$source_dir" "$work/demo/Quenvale Demo.scr" >/dev/null
cp -r "$source_dir" "$work/heavy-source"
sed -i -e 's/^nrImages=[^\r]*/nrImages=1000/' -e 's/^Speed=[^\r]*/Speed=10/' \
  "$work/heavy-source/settings.txt"
"$saverpack" build "$work/heavy-source" "$work/heavy/Quenvale Demo.scr" >/dev/null
ln -s "$engine" "$work/demo/Quenvale Demo"
ln -s "$engine" "$work/heavy/Quenvale Demo"
cpu_of "demo" "$work/demo/Quenvale Demo" /s -fps
cpu_of "heavy (1000 x Speed 10)" "$work/heavy/Quenvale Demo" /s -fps
for hack in /usr/libexec/xscreensaver/deco /usr/lib/xscreensaver/deco; do
  if [[ -x $hack ]]; then
    cpu_of "xscreensaver deco -root" "$hack" -root
    break
  fi
done
