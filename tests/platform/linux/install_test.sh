#!/usr/bin/env bash
# `cmake --install --strip` of the Linux build into a fresh prefix: the engine (stripped), the
# demo saver as an xscreensaver hack (a link of the hack's name to the engine, its data file
# beside it) and the hack's description where xscreensaver's settings tool reads it. The
# installed hack then opens its data file through the link.
#   install_test.sh BUILD_DIR
set -euo pipefail
build=$1
fail() { echo "FAIL: $*" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/quenvale-install-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" --strip >"$work/install.log" ||
  fail "cmake --install failed: $(cat "$work/install.log")"

libexec=$(sed -n 's/^CMAKE_INSTALL_LIBEXECDIR:[A-Z]*=//p' "$build/CMakeCache.txt")
datadir=$(sed -n 's/^CMAKE_INSTALL_DATADIR:[A-Z]*=//p' "$build/CMakeCache.txt")
bindir=$(sed -n 's/^CMAKE_INSTALL_BINDIR:[A-Z]*=//p' "$build/CMakeCache.txt")
hacks=$prefix/${libexec:-libexec}/xscreensaver
config=$prefix/${datadir:-share}/xscreensaver/config
engine=$prefix/${bindir:-bin}/quenvale

[[ -x $engine && ! -L $engine ]] || fail "no engine at $engine"
if readelf -S "$engine" | grep -E '\.symtab|\.debug_'; then fail "the installed engine is not stripped"; fi
[[ -L $hacks/quenvale-demo ]] || fail "no link $hacks/quenvale-demo"
[[ $(readlink -f "$hacks/quenvale-demo") == "$(readlink -f "$engine")" ]] ||
  fail "$hacks/quenvale-demo leads to $(readlink -f "$hacks/quenvale-demo"), not the engine"
[[ $(readlink "$hacks/quenvale-demo") != /* ]] || fail "the hack's link is absolute"
[[ -s $hacks/quenvale-demo.dat ]] || fail "no data file beside the hack"
[[ -s $config/quenvale-demo.xml ]] || fail "no hack description in $config"

# The description is what xscreensaver's settings tool reads: its name is the hack's program.
python3 - "$config/quenvale-demo.xml" <<'PY' || fail "the hack description is not usable"
import sys
import xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
assert root.tag == "screensaver", root.tag
assert root.get("name") == "quenvale-demo", root.get("name")
assert root.get("_label"), "no _label"
assert root.find("command") is not None and root.find("command").get("arg") == "-root"
assert (root.findtext("_description") or "").strip(), "no _description"
PY

# Started through the installed link, the engine finds the hack's data file and takes the
# saver's title from it: without a display it gets as far as saying there is none.
export XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/run
mkdir -p "$XDG_RUNTIME_DIR"
code=0
(cd "$work" && DISPLAY='' WAYLAND_DISPLAY='' "$hacks/quenvale-demo" -root) 2>"$work/run.log" || code=$?
[[ $code == 1 ]] ||
  fail "the installed hack without a display ended with $code: $(cat "$work/run.log")"
grep -q "^Quenvale Demo: " "$work/run.log" ||
  fail "the installed hack did not read its data file: $(cat "$work/run.log")"
echo "installed: $engine, $hacks/quenvale-demo -> $(readlink "$hacks/quenvale-demo")," \
  "its data file and $config/quenvale-demo.xml"
echo "PASS"
