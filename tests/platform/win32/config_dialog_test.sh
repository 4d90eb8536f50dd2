#!/usr/bin/env bash
# The configuration dialog of quenvale.scr under Wine, driven with xdotool and checked with a
# screenshot, a probe program (dialog_probe.cc) and Wine's own reg tool:
#   - /c without a data file: the error box, then exit code 1;
#   - /c with the demo shows the dialog, 470 pixels wide, centred on the screen, not one flat
#     colour; OK (its access key) stores every bound setting with the demo's defaults;
#   - Tab to the speed box, typing and the "Show &Background" access key, then Enter: the typed
#     speed and the toggled box are stored;
#   - a number beyond the range typed there reads as the maximum on leaving the box, and after
#     Escape the values as loaded stay;
#   - a data file with every gate off gives a window of only the five fixed bands;
#   - /c:PAGE from a host program: the host's window owns the dialog, the close box stores
#     nothing new, and the host's window is enabled again.
#   config_dialog_test.sh WINE_RUN DEMO_DIR DEMO_SOURCE_DIR SAVERPACK_EXE ENGINE_SCR PROBE_EXE
# QUENVALE_DIALOG_SHOT=FILE keeps a copy of the dialog's screenshot.
set -euo pipefail
# shellcheck source=reg_query_lib.sh
source "$(dirname "$0")/reg_query_lib.sh"
wine_run=$1
demo_dir=$2
demo_source=$3
saverpack=$4
engine=$5
probe=$6

fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "SKIP: $*"; exit 77; }
for tool in xdotool import identify xwininfo; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
[[ -f $demo_dir/Quenvale_Demo.dat && -f "$demo_dir/Quenvale Demo.scr" ]] ||
  fail "the demo saver is not in $demo_dir (build the windows_demo target)"
settings=$demo_source/settings.txt

repo=$(cd "$(dirname "$wine_run")/.." && pwd)
prefix=${QUENVALE_WINEPREFIX:-$repo/build/windows/wineprefix}
work=$(mktemp -d "${TMPDIR:-/tmp}/config-dialog-test.XXXXXX")
title=$(sed -n 's/^title=\(.*\)$/\1/p' "$settings" | head -n 1 | tr -d '\r')
key="HKCU\\Software\\$title"
caption="$(sed -n 's/^configure=\(.*\)$/\1/p' "$settings" | head -n 1 | tr -d '\r') $title"
started=()
cleanup() {
  local pid
  for pid in "${started[@]}"; do kill "$pid" 2>/dev/null || true; done
  # The Windows programs outlive their launchers: end those run from this test's folder.
  for pid in $(pgrep -f "$work/" || true); do kill "$pid" 2>/dev/null || true; done
  "$wine_run" reg delete "$key" /f >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

# The server (and its Xvfb, unless a display is given) comes up with a first program.
if [[ -z ${DISPLAY:-} ]]; then
  "$wine_run" cmd /c exit >/dev/null 2>&1 || fail "wine does not run"
  number=$(cat "$prefix/.quenvale-display" 2>/dev/null || true)
  [[ -n $number ]] || skip "no X display for the dialog"
  export DISPLAY=:$number
else
  "$wine_run" cmd /c exit >/dev/null 2>&1 || fail "wine does not run"
fi
xdotool getmouselocation >/dev/null 2>&1 || skip "the X display $DISPLAY does not answer"

# Starts a program in the background; its exit code lands in $work/$2.code.
launch() {
  local program=$1 tag=$2
  shift 2
  ("$wine_run" "$program" "$@" >"$work/$tag.log" 2>&1 && rc=0 || rc=$?
    echo "$rc" >"$work/$tag.code") &
  started+=($!)
}
wait_exit() {
  local tag=$1 seconds=$2 i
  for ((i = 0; i < seconds * 4; i++)); do
    [[ -s $work/$tag.code ]] && { cat "$work/$tag.code"; return 0; }
    sleep 0.25
  done
  return 1
}
wait_window() {  # wait_window SECONDS [NAME]: the id of the visible window NAME (the dialog)
  local i id name=${2:-$caption}
  for ((i = 0; i < $1 * 4; i++)); do
    id=$(xdotool search --onlyvisible --name "^$name\$" 2>/dev/null | head -n 1 || true)
    [[ -n $id ]] && { echo "$id"; return 0; }
    sleep 0.25
  done
  return 1
}
# Wine makes a window the foreground one a moment after it has the X focus; keys sent sooner
# may be lost.
focus() {
  xdotool windowfocus "$1" 2>/dev/null || true
  sleep 1.5
}
# Ends what is left of a run (a key lost on the way may leave the dialog or a chooser up).
end_runs() {
  local pid
  for pid in $(pgrep -f "$work/" || true); do kill "$pid" 2>/dev/null || true; done
  sleep 1
}
probe_field() {  # probe_field OUTPUT NAME: the numbers after NAME
  sed -n "s/^$2 \\(.*\\)\$/\\1/p" <<<"$1" | tr -d '\r'
}

# The demo's default of `key` in settings.txt, as reg shows a REG_DWORD: booleans as 0 and 1,
# "$hex" as 0xhex.
default_of() {
  local value
  value=$(sed -n "s/^$1=\\(.*\\)\$/\\1/p" "$settings" | head -n 1 | tr -d '\r')
  case ${value,,} in
    true) echo 1 ;;
    false) echo 0 ;;
    \$*) echo "0x${value#\$}" ;;
    *) echo "$value" ;;
  esac
}
# A multi-line REG_SZ as the settings text writes it: lines joined with ";".
text_of() {
  awk -v name="$1" '
    found { sub(/\r$/, ""); text = text ";" $0; if ($0 == "end") { print text; exit } next }
    { line = $0; sub(/\r$/, "", line) }
    line ~ "^[[:space:]]+" name "[[:space:]]+REG_SZ" {
      sub("^[[:space:]]+" name "[[:space:]]+REG_SZ[[:space:]]*", "", line); text = line; found = 1
    }' <<<"$out"
}
dword() { printf '%d' "$(data_of "$1")"; }

# --- No data file: the same box and exit code as the saver's ----------------------------------
cp "$engine" "$work/Lone Dialog.scr"
launch "$work/Lone Dialog.scr" lone /c
id=$(wait_window 60 "Lone Dialog") || fail "no data file: no message box"
code=""
for ((i = 0; i < 10; i++)); do
  focus "$id"
  xdotool key Return
  code=$(wait_exit lone 3) && break
done
[[ $code == 1 ]] || fail "no data file: exit code ${code:-none}, wanted 1"
echo "no data file: the box, then exit code 1"

cp "$demo_dir/Quenvale Demo.scr" "$demo_dir/Quenvale_Demo.dat" "$work/"
demo=$work/"Quenvale Demo.scr"
"$wine_run" reg delete "$key" /f >/dev/null 2>&1 || true

# --- /c shows the dialog; OK stores the defaults -----------------------------------------------
launch "$demo" show /c
id=$(wait_window 60) || fail "no window \"$caption\""
sleep 1.5
import -window "$id" "$work/dialog.png"
[[ -n ${QUENVALE_DIALOG_SHOT:-} ]] && cp "$work/dialog.png" "$QUENVALE_DIALOG_SHOT"
colours=$(identify -format '%k' "$work/dialog.png")
((colours > 16)) || fail "the dialog shows only $colours colours"
shape=$("$wine_run" "$probe" client "$caption") || fail "the probe did not find the dialog"
read -r dpi <<<"$(probe_field "$shape" dpi)"
read -r width full_height <<<"$(probe_field "$shape" client)"
read -r dx dy <<<"$(probe_field "$shape" offset)"
[[ $width == $(((470 * dpi + 48) / 96)) ]] || fail "the client area is $width wide at $dpi dpi"
((${dx#-} <= 1 && ${dy#-} <= 1)) || fail "the dialog is $dx,$dy off the work area's centre"
echo "the dialog: $width x $full_height at $dpi dpi, centred, $colours colours"

code=""
for ((i = 0; i < 5; i++)); do
  focus "$id"
  xdotool key alt+o
  code=$(wait_exit show 5) && break
done
[[ $code == 0 ]] || fail "OK did not end the dialog with exit code 0 (${code:-still running})"
out=$("$wine_run" reg query "$key") || fail "reg query found no settings under $key"
check_bound_setting_types
for pair in "clocksettings clock:clock" "General BackgroundColor:BackgroundColor" \
  "bounce bounceImages:bounceImages" "bounce nrImages:nrImages" "bounce Speed:Speed" \
  "bounce fixedSpeed:fixedSpeed" "General showBackground:showBackground" \
  "sets SetTime:SetTime" "FilenameSettings filename:filename" \
  "backgrounds stretchSmallImages:stretchSmallImages"; do
  name=${pair%%:*}
  [[ $(dword "$name") == $(($(default_of "${pair#*:}"))) ]] ||
    fail "$name stored as $(data_of "$name"), the default is $(default_of "${pair#*:}")"
done
for pair in "ClockSettings clockFont:clockFont" "FilenameSettings filenameFont:filenameFont"; do
  [[ $(text_of "${pair%%:*}") == "$(default_of "${pair#*:}")" ]] ||
    fail "${pair%%:*} stored as \"$(text_of "${pair%%:*}")\""
done
# "select" -1 with "*all*" ticks every set, and OK stores their names in the list's order.
stored_sets=$(data_of "sets selectedSets")
expected_sets=$(find "$demo_source/backgrounds" -type f -printf '%f\n' | sed 's/\.[^.]*$//' |
  sort -f | paste -sd ';')
[[ ${stored_sets,,} == "${expected_sets,,}" ]] ||
  fail "selectedSets stored as \"$stored_sets\", wanted the sets \"$expected_sets\""
echo "OK stored every bound setting as shown: the demo's defaults, sets $stored_sets"

# --- Typed speed and access key, then Enter --------------------------------------------------
default_speed=$(default_of Speed)
default_background=$(default_of showBackground)
# The speed box is the seventh stop: colour, background, filename option, filename font, clock
# option, clock font, speed.
type_speed() {  # type_speed TAG NUMBER: the dialog of run TAG with NUMBER in the speed box
  local tag=$1 number=$2 id
  id=$(wait_window 60) || fail "no dialog on run $tag"
  focus "$id"
  xdotool key Tab Tab Tab Tab Tab Tab
  sleep 0.3
  xdotool type "$number"
  sleep 0.5
}
changed=""
for ((attempt = 1; attempt <= 3; attempt++)); do
  launch "$demo" "change$attempt" /c
  type_speed "change$attempt" 77
  xdotool key alt+b
  sleep 0.5
  xdotool key Return
  if ! code=$(wait_exit "change$attempt" 10); then
    end_runs
    echo "note: a key was lost; again"
    continue
  fi
  [[ $code == 0 ]] || fail "Enter ended the dialog with exit code $code"
  out=$("$wine_run" reg query "$key")
  if [[ $(dword "bounce Speed") == 77 ]]; then changed=1; break; fi
  echo "note: the speed was stored as $(dword "bounce Speed"); again"
done
[[ -n $changed ]] || fail "typing 77 into the speed box and Enter did not store 77"
[[ $(dword "General showBackground") == $((1 - default_background)) ]] ||
  fail "Alt+B did not toggle Show Background (stored $(dword "General showBackground"))"
echo "the speed typed and Alt+B then Enter: Speed 77 (default $default_speed), showBackground" \
  "$(dword "General showBackground")"

# --- Beyond the range, left with Tab, then Escape: clamped, and the loaded values stay ----------
max_speed=10000
cancelled=""
for ((attempt = 1; attempt <= 3; attempt++)); do
  launch "$demo" "cancel$attempt" /c
  type_speed "cancel$attempt" 99999
  xdotool key Tab
  sleep 0.5
  edits=$("$wine_run" "$probe" edits "$caption" | tr -d '\r')
  if [[ $(head -n 1 <<<"$edits") != "$max_speed" ]]; then
    end_runs
    echo "note: the speed box shows \"$(head -n 1 <<<"$edits")\", not $max_speed; again"
    continue
  fi
  xdotool key Escape
  code=$(wait_exit "cancel$attempt" 10) || fail "Escape did not end the dialog"
  [[ $code == 0 ]] || fail "Escape ended the dialog with exit code $code"
  cancelled=1
  break
done
[[ -n $cancelled ]] || fail "99999 typed into the speed box never read $max_speed on leaving it"
out=$("$wine_run" reg query "$key")
[[ $(dword "bounce Speed") == 77 ]] ||
  fail "after Cancel the speed is $(dword "bounce Speed"), not the loaded 77"
echo "99999 typed reads $max_speed on leaving the box; Escape: the loaded speed 77 stays"

# --- Every gate off: only the five fixed bands -------------------------------------------------
mkdir "$work/gates"
cp -r "$demo_source"/. "$work/gates/"
sed -i 's/^\(set[A-Za-z]*\)=true/\1=false/I' "$work/gates/settings.txt"
! grep -qi '^set[A-Za-z]*=true' "$work/gates/settings.txt" || fail "a gate is still on"
"$wine_run" "$saverpack" build "$work/gates" "$work/Gates Off.scr" --engine "$engine" \
  >"$work/pack.log" 2>&1 || fail "saverpack failed: $(cat "$work/pack.log")"
launch "$work/Gates Off.scr" gates /c
id=$(wait_window 60) || fail "no dialog from the data file with every gate off"
shape=$("$wine_run" "$probe" client "$caption") || fail "the probe did not find the short dialog"
read -r _ short_height <<<"$(probe_field "$shape" client)"
# Title 37, disclaimer 26, buttons 29, link 46 and copyright 13 pixels.
bands=$(((151 * dpi + 48) / 96))
((short_height < full_height)) || fail "every gate off: $short_height high, not below $full_height"
((short_height - bands <= 1 && bands - short_height <= 1)) ||
  fail "every gate off: $short_height high, the fixed bands are $bands"
for ((i = 0; i < 5; i++)); do
  focus "$id"
  xdotool key Escape
  code=$(wait_exit gates 5) && break
done
[[ ${code:-} == 0 ]] || fail "the short dialog did not end on Escape"
echo "every gate off: $short_height pixels high instead of $full_height"

# --- /c:PAGE from a host -----------------------------------------------------------------------
"$wine_run" "$probe" host "$("$wine_run" winepath -w "$demo" | tr -d '\r')" "$caption" ||
  fail "the host checks failed"
out=$("$wine_run" reg query "$key")
[[ $(dword "bounce Speed") == 77 && $(dword "General showBackground") == \
  $((1 - default_background)) ]] || fail "the close box changed the stored settings"
echo "PASS"
