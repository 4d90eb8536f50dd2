#!/usr/bin/env bash
# Times extracting one 50 MB deflated, encrypted entry with our reader and with Info-ZIP unzip,
# from the same archive made by Info-ZIP zip, both writing the entry to /dev/null, and prints
# our time relative to unzip's (below 1 means ours is faster).
#
# usage: bench/extract_vs_unzip.sh [path/to/datafile_bench] (default: the bench preset's build)
# RUNS sets the number of timed runs per tool (default 10).
set -euo pipefail

bench=${1:-"$(dirname "$0")/../build/bench/bin/datafile_bench"}
runs=${RUNS:-10}
password=bench-pw
for tool in zip unzip; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 1; }
done
[[ -x $bench ]] || { echo "no benchmark binary at $bench (build the bench preset)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bench" --write-sample "$work/sample.txt"
(cd "$work" && zip -q -9 -e -P "$password" archive.zip sample.txt)
ls -l "$work/sample.txt" "$work/archive.zip" | awk '{print $5, $NF}'

ours=$(printf '%q ' "$bench" --extract "$work/archive.zip" sample.txt "$password")
theirs=$(printf '%q ' unzip -p -P "$password" "$work/archive.zip" sample.txt)
# Both must produce the entry itself, or the timing means nothing.
cmp <(eval "$ours") "$work/sample.txt"
cmp <(eval "$theirs") "$work/sample.txt"

if command -v hyperfine >/dev/null; then
  hyperfine --warmup 2 --runs "$runs" --export-json "$work/times.json" \
    -n ours "$ours >/dev/null" -n unzip "$theirs >/dev/null"
  read -r ours_s theirs_s < <(grep -o '"mean": *[0-9.eE+-]*' "$work/times.json" |
    awk -F: '{printf "%s ", $2} END {print ""}')
else
  elapsed() {  # total seconds for $runs runs of the command in $1
    local start end
    start=$(date +%s%N)
    for ((i = 0; i < runs; i++)); do eval "$1" >/dev/null; done
    end=$(date +%s%N)
    awk -v ns=$((end - start)) -v n="$runs" 'BEGIN {printf "%.6f", ns / 1e9 / n}'
  }
  eval "$ours" >/dev/null && eval "$theirs" >/dev/null  # warm the page cache
  ours_s=$(elapsed "$ours")
  theirs_s=$(elapsed "$theirs")
  echo "ours:  ${ours_s} s per run"
  echo "unzip: ${theirs_s} s per run"
fi
awk -v a="$ours_s" -v b="$theirs_s" 'BEGIN {printf "ours / unzip = %.2f\n", a / b}'
