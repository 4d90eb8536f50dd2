#!/usr/bin/env bash
# The Linux engine's memory while it saves the demo under its own Xvfb at 1920x1080: resident
# and peak resident set after SECONDS (default 8), and whether a GL library was loaded.
#   bench/linux_engine_memory.sh ENGINE DATAFILE [SECONDS]
# ENGINE is the quenvale binary; it runs through a link named "Quenvale Demo" beside a copy of
# DATAFILE, as a user runs it.
set -euo pipefail
engine=$(realpath "$1")
data=$2
seconds=${3:-8}
source "$(dirname "$0")/xvfb.sh"
start_xvfb engine-memory
cp "$data" "$work/Quenvale_Demo.dat"
ln -s "$engine" "$work/Quenvale Demo"
DISPLAY=$display XDG_CONFIG_HOME=$work/config "$work/Quenvale Demo" /s >/dev/null 2>&1 &
saver=$!
sleep "$seconds"
rss=$(awk '/^VmRSS/ {print $2}' "/proc/$saver/status")
hwm=$(awk '/^VmHWM/ {print $2}' "/proc/$saver/status")
gl=$(grep -cE 'libGL|libLLVM|swrast|llvmpipe' "/proc/$saver/maps" || true)
kill "$saver"
wait "$saver" 2>/dev/null || true
printf 'resident %d MiB, peak %d MiB, GL mappings: %d\n' $((rss / 1024)) $((hwm / 1024)) "$gl"
