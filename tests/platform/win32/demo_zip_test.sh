#!/usr/bin/env bash
# The demo ZIP as a Windows user downloads it: exactly the saver and its data file, and the
# saver without debug sections.
#   demo_zip_test.sh DEMO_ZIP OBJDUMP
set -euo pipefail
zip=$1
objdump=$2
fail() { echo "FAIL: $*" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/quenvale-demo-zip.XXXXXX")
trap 'rm -rf "$work"' EXIT
python3 - "$zip" "$work" <<'PY' || fail "the demo ZIP does not hold what it should"
import sys, zipfile
names = sorted(zipfile.ZipFile(sys.argv[1]).namelist())
assert names == ["Quenvale Demo.scr", "Quenvale_Demo.dat"], names
zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])
PY
scr="$work/Quenvale Demo.scr"
sections=$("$objdump" -h "$scr") || fail "objdump cannot read the saver"
grep -q '\.text' <<<"$sections" || fail "objdump lists no code section: $sections"
if grep -E '\.debug_|\.zdebug_' <<<"$sections"; then fail "the saver in the ZIP keeps debug sections"; fi
echo "Quenvale Demo.scr in the ZIP: $(stat -c %s "$scr") bytes, no debug sections"
