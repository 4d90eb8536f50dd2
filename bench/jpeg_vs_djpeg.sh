#!/usr/bin/env bash
# Decodes one 3840 x 2160 JPEG as a whole process, with `saverpack decode` and with libjpeg's
# djpeg, both writing a binary PPM, and prints the medians of wall and CPU time and our time
# relative to djpeg's. The two PPMs must be identical, or the timing means nothing.
#
# usage: bench/jpeg_vs_djpeg.sh [path/to/saverpack] (default: the Linux build's)
# RUNS sets the number of timed runs per tool (default 11).
set -euo pipefail

saverpack=${1:-"$(dirname "$0")/../build/linux/bin/saverpack"}
for tool in djpeg convert python3; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 1; }
done
[[ -x $saverpack ]] || { echo "no saverpack at $saverpack (build the linux preset)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A photo-like background: fractal plasma has detail at every scale, as photos do.
convert -size 3840x2160 -seed 7 plasma:fractal -quality 90 "$work/background.jpg"
ls -l "$work/background.jpg" | awk '{print $5, $NF}'
"$saverpack" decode "$work/background.jpg" "$work/ours.ppm" >/dev/null
djpeg -outfile "$work/theirs.ppm" "$work/background.jpg"
cmp "$work/ours.ppm" "$work/theirs.ppm"

RUNS=${RUNS:-11} python3 - "$saverpack" "$work" <<'PY'
import os, statistics, subprocess, sys, time

saverpack, work = sys.argv[1:]
jpeg = os.path.join(work, "background.jpg")
commands = {
    "ours": [saverpack, "decode", jpeg, os.path.join(work, "ours.ppm")],
    "djpeg": ["djpeg", "-outfile", os.path.join(work, "theirs.ppm"), jpeg],
}

def run(argv):
    start = time.perf_counter()
    child = subprocess.Popen(argv, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        sys.exit(f"{argv[0]} failed")
    return wall, usage.ru_utime + usage.ru_stime

medians = {}
for name, argv in commands.items():
    run(argv)  # warm the page cache and the loader
    times = [run(argv) for _ in range(int(os.environ["RUNS"]))]
    medians[name] = tuple(statistics.median(t[i] for t in times) for i in (0, 1))
    print(f"{name:6} wall {medians[name][0] * 1e3:6.1f} ms   CPU {medians[name][1] * 1e3:6.1f} ms")
wall = medians["ours"][0] / medians["djpeg"][0]
cpu = medians["ours"][1] / medians["djpeg"][1]
print(f"ours / djpeg = {wall:.2f} (wall), {cpu:.2f} (CPU)")
PY
