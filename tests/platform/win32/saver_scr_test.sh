#!/usr/bin/env bash
# quenvale.scr under Wine on the prefix's X display, driven with xdotool and watched with
# screenshots and Wine's own reg tool:
#   - no data file: the "No data file found..." box, OK, exit code 1;
#   - a data file packed for another executable name: the "Corrupted data files detected
#     [pwdata01]" box, OK, exit code 2;
#   - with a settings dialog open, a second instance without a data file still reports it;
#   - /s with the demo: a screen-sized window; a second instance ends at once while it runs;
#     two screenshots differ (the sprites move) and are not one flat colour (the background
#     shows); a 1-pixel and a 3-right-0-down mouse move do not end it; numpad + then a letter
#     ends it with exit code 0, and every bound setting is then in the registry with its type,
#     "bounce nrImages" one higher than the demo's default;
#   - a second /s run goes on after a move of 3 right and 0 down, and ends on 3 right and 3 down;
#   - DDraw.dll switched off: the "DDraw.dll is not loaded" box, then the saver stays without
#     frames until a key ends it with exit code 0;
#   - /p in the preview area of a host program (preview_host.cc): a disabled child that fills
#     it and ends with it; /p without a handle or with one that is no window ends at once;
#   - "ScreenSaveUsePassword" 1 with a stand-in password.cpl: a refusal keeps the saver running,
#     an acceptance closes it;
#   - a data file asking for frames of billions of motion steps: /s ends on WM_CLOSE and on a
#     key, /p with its host, each within a second;
#   - /a:1234: the "ScreenSaver" box with the invalid-integer text for the empty handle.
# Also prints the CPU the saver uses per second of saving.
#   saver_scr_test.sh WINE_RUN ENGINE_SCR DEMO_DIR DEMO_SETTINGS_TXT PREVIEW_HOST_EXE SAVERPACK
set -euo pipefail
# shellcheck source=reg_query_lib.sh
source "$(dirname "$0")/reg_query_lib.sh"
wine_run=$1
engine=$2
demo_dir=$3
demo_settings=$4
preview_host=$5
saverpack=$6

fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "SKIP: $*"; exit 77; }
for tool in xdotool import compare identify; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
[[ -f $demo_dir/Quenvale_Demo.dat && -f "$demo_dir/Quenvale Demo.scr" ]] ||
  fail "the demo saver is not in $demo_dir (build the windows_demo target)"

repo=$(cd "$(dirname "$wine_run")/.." && pwd)
prefix=${QUENVALE_WINEPREFIX:-$repo/build/windows/wineprefix}
work=$(mktemp -d "${TMPDIR:-/tmp}/saver-scr-test.XXXXXX")
key='HKCU\Software\Quenvale Demo'
started=()
installed_cpl=""
cleanup() {
  local pid
  for pid in "${started[@]}"; do kill "$pid" 2>/dev/null || true; done
  # The Windows programs themselves outlive their launchers: end those run from this test's
  # folder, by their ids.
  for pid in $(pgrep -f "$work/" || true); do kill "$pid" 2>/dev/null || true; done
  if [[ -n $installed_cpl ]]; then
    rm -f "$installed_cpl"
    "$wine_run" reg delete 'HKCU\Control Panel\Desktop' /v ScreenSaveUsePassword /f \
      >/dev/null 2>&1 || true
  fi
  "$wine_run" reg delete "$key" /f >/dev/null 2>&1 || true
  "$wine_run" reg delete 'HKCU\Software\Fast Saver' /f >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

# The server (and its Xvfb, unless a display is given) comes up with a first program; called
# again before each direct start of wine, so that the server it joins is one with the display.
own_display=${DISPLAY:-}
server_up() {
  "$wine_run" cmd /c exit >/dev/null 2>&1 || fail "wine does not run"
  if [[ -z $own_display ]]; then
    local number
    number=$(cat "$prefix/.quenvale-display" 2>/dev/null || true)
    [[ -n $number ]] || skip "no X display for the saver's windows"
    export DISPLAY=:$number
  fi
  xdotool getmouselocation >/dev/null 2>&1 || skip "the X display $DISPLAY does not answer"
}
server_up

# Starts the program in the background through wine-run; its exit code lands in $work/$2.code.
# With WINEDEBUG_MSGBOX set the run goes to wine directly so that the box text is traced.
launch() {
  local program=$1 tag=$2
  shift 2
  if [[ -n ${WINEDEBUG_MSGBOX:-} ]]; then
    server_up
    (WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=+msgbox \
      WINEDLLOVERRIDES="mscoree,mshtml=${EXTRA_DLL_OVERRIDES:+;$EXTRA_DLL_OVERRIDES}" \
      wine "$program" "$@" >"$work/$tag.log" 2>&1 && rc=0 || rc=$?
      echo "$rc" >"$work/$tag.code") &
  else
    ("$wine_run" "$program" "$@" >"$work/$tag.log" 2>&1 && rc=0 || rc=$?
      echo "$rc" >"$work/$tag.code") &
  fi
  started+=($!)
}
# Waits up to $2 seconds for the run's exit code.
wait_exit() {
  local tag=$1 seconds=$2 i
  for ((i = 0; i < seconds * 4; i++)); do
    [[ -s $work/$tag.code ]] && { cat "$work/$tag.code"; return 0; }
    sleep 0.25
  done
  return 1
}
# Waits up to $2 seconds for a visible window named exactly $1; prints its id.
wait_window() {
  local name=$1 seconds=$2 i id
  for ((i = 0; i < seconds * 4; i++)); do
    id=$(xdotool search --onlyvisible --name "^$name\$" 2>/dev/null | head -n 1 || true)
    [[ -n $id ]] && { echo "$id"; return 0; }
    sleep 0.25
  done
  return 1
}
# Gives a window the X focus; Wine makes it the foreground window a moment later.
focus() {
  xdotool windowfocus "$1" 2>/dev/null || true
  sleep 1.5
}
# Presses OK on an error box until the box goes (Wine may drop a key that comes too soon after
# the focus), then waits for the program to end.
press_ok() {
  local id=$1 tag=$2 i
  for ((i = 0; i < 20; i++)); do
    xwininfo -id "$id" >/dev/null 2>&1 || break
    focus "$id"
    xdotool key Return 2>/dev/null || true
    sleep 1
  done
  wait_exit "$tag" 30 >/dev/null
}

# --- Data-file failures: message box and exit code -------------------------------------------
check_fatal() {
  local name=$1 expected_code=$2 expected_text=$3 caption=${4:-$1} args=${5:-/s} id code
  # shellcheck disable=SC2086 # the arguments are meant to split
  WINEDEBUG_MSGBOX=1 launch "$work/$name.scr" "$name" $args
  id=$(wait_window "$caption" 60) || fail "$name: no message box captioned \"$caption\""
  # The text as Wine's box traced it; a Wine without that trace is checked by caption only.
  if grep -q "msgbox:" "$work/$name.log"; then
    grep -aF "$expected_text" "$work/$name.log" >/dev/null ||
      fail "$name: the box does not say \"$expected_text\": $(grep -a msgbox: "$work/$name.log")"
  else
    echo "note: this Wine does not trace message box texts; checked the caption only"
  fi
  press_ok "$id" "$name" || fail "$name: the program did not end after OK"
  code=$(cat "$work/$name.code")
  [[ $code == "$expected_code" ]] || fail "$name: exit code $code, wanted $expected_code"
  echo "$name: the box, then exit code $code"
}

cp "$engine" "$work/Lone Saver.scr"
check_fatal "Lone Saver" 1 "No data file found or missing settings in data file."
cp "$engine" "$work/Other Name.scr"
cp "$demo_dir/Quenvale_Demo.dat" "$work/Other_Name.dat"
check_fatal "Other Name" 2 "Corrupted data files detected [pwdata01]"

# --- The demo in save mode -------------------------------------------------------------------
cp "$demo_dir/Quenvale Demo.scr" "$demo_dir/Quenvale_Demo.dat" "$work/"

# A second instance starts up as far as its data file: while the demo's settings dialog is
# open, a saver without a data file still says so, and ends with its exit code.
title=$(sed -n 's/^title=\(.*\)$/\1/p' "$demo_settings" | head -n 1 | tr -d '\r')
dialog_caption="$(sed -n 's/^configure=\(.*\)$/\1/p' "$demo_settings" | head -n 1 | tr -d '\r') $title"
launch "$work/Quenvale Demo.scr" dialog1 /c
dialog=$(wait_window "$dialog_caption" 60) || fail "no settings dialog \"$dialog_caption\""
check_fatal "Lone Saver" 1 "No data file found or missing settings in data file."
xwininfo -id "$dialog" >/dev/null 2>&1 || fail "the dialog went with the second instance"
focus "$dialog"
xdotool key Escape 2>/dev/null || true
wait_exit dialog1 30 >/dev/null || fail "the settings dialog did not end on Escape"
echo "a second instance reported its missing data file; the first went on"
"$wine_run" reg delete "$key" /f >/dev/null 2>&1 || true
default_images=$(sed -n 's/^nrImages=\([0-9]*\).*/\1/p' "$demo_settings" | head -n 1)
[[ -n $default_images ]] || fail "no nrImages in $demo_settings"

# The pointer rests where the movement rule takes its reference from: the screen's centre, which
# is also where Wine places it while it has seen no motion over one of its windows.
screen=$(xwininfo -root | sed -n 's/^ *-geometry *\([0-9]*x[0-9]*\).*/\1/p')
cx=$((${screen%x*} / 2))
cy=$((${screen#*x} / 2))
xdotool mousemove "$cx" "$cy"
launch "$work/Quenvale Demo.scr" save1 /s
saver=$(wait_window "Quenvale Demo" 60) || fail "no saver window"
geometry=$(xwininfo -id "$saver" | sed -n 's/^ *-geometry *\([0-9]*x[0-9]*\).*/\1/p')
[[ $geometry == "$screen" ]] || fail "the saver window is $geometry, the screen $screen"

# A second instance ends at once and leaves the first alone.
code=$(timeout 60 "$wine_run" "$work/Quenvale Demo.scr" /s) ||
  fail "a second instance did not end by itself (exit $?)"
[[ -z $(cat "$work/save1.code" 2>/dev/null) ]] || fail "the first instance ended with the second"
count=$(xdotool search --onlyvisible --name "^Quenvale Demo\$" | wc -l)
[[ $count == 1 ]] || fail "$count saver windows after the second start"
echo "a second instance ended at once; the first goes on"

sleep 2
import -window root "$work/frame1.png"
sleep 0.5
import -window root "$work/frame2.png"
changed=$(compare -metric AE "$work/frame1.png" "$work/frame2.png" null: 2>&1 || true)
[[ ${changed%% *} =~ ^[0-9]+$ && ${changed%% *} -gt 100 ]] ||
  fail "two screenshots half a second apart differ in ${changed} pixels"
colours=$(identify -format '%k' "$work/frame1.png")
((colours > 16)) || fail "the screen shows only $colours colours: no background picture"
echo "frames run: $changed pixels changed in half a second, $colours colours on screen"

# CPU the saver takes per second of saving (reported, not judged).
# The Windows process itself, not the shell that started it.
pid=""
for candidate in $(pgrep -f "Quenvale Demo.scr /s" || true); do
  [[ $(tr '\0' ' ' <"/proc/$candidate/cmdline" 2>/dev/null) == "$work/Quenvale Demo.scr"* ]] &&
    pid=$candidate
done
if [[ -n $pid && -r /proc/$pid/stat ]]; then
  ticks() { sed 's/^.*) //' "/proc/$pid/stat" | awk '{print $12 + $13}'; }
  before=$(ticks)
  sleep 5
  after=$(ticks)
  echo "CPU: $(((after - before) * 100 / $(getconf CLK_TCK) / 5))% of one core while saving"
fi

xdotool mousemove $((cx + 1)) $((cy + 1))
sleep 0.5
xdotool mousemove $((cx + 3)) "$cy"
sleep 1.5
[[ -z $(cat "$work/save1.code" 2>/dev/null) ]] ||
  fail "a 1-pixel or a 3-right-0-down mouse move ended the saver"
echo "small and one-sided mouse moves do not end it"

# Numpad + then a letter, on the running saver `$1` (window id) of run `$2`.
plus_then_letter() {
  local id=$1 tag=$2 i code=""
  focus "$id"
  xdotool key KP_Add
  sleep 1
  [[ -z $(cat "$work/$tag.code" 2>/dev/null) ]] ||
    fail "numpad + ended the saver (exit $(cat "$work/$tag.code"))"
  for ((i = 0; i < 5; i++)); do
    xdotool key b
    code=$(wait_exit "$tag" 4) && break
  done
  [[ ${code:-} == 0 ]] || fail "the letter key did not end the saver (exit ${code:-none})"
}
stored_images() {
  "$wine_run" reg query "$key" /v "bounce nrImages" | tr -d '\r' |
    sed -n 's/.*REG_DWORD[[:space:]]*\(0x[0-9a-f]*\).*/\1/p'
}
plus_then_letter "$saver" save1
# Wine drops a key now and then when the X focus has only just moved (other programs on the
# same display take it too): two more runs may deliver the numpad +, each loading the value the
# run before stored. A saver that ignores the key fails all three.
for ((attempt = 2; attempt <= 3; attempt++)); do
  loaded=$(stored_images)
  [[ -n $loaded && $((loaded)) == $((default_images)) ]] || break
  echo "note: numpad + was not delivered; run $attempt"
  xdotool mousemove "$cx" "$cy"
  launch "$work/Quenvale Demo.scr" "retry$attempt" /s
  id=$(wait_window "Quenvale Demo" 60) || fail "no saver window on run $attempt"
  sleep 2
  plus_then_letter "$id" "retry$attempt"
done
echo "numpad + kept it running; a letter ended it"

out=$("$wine_run" reg query "$key") || fail "reg query found no settings under $key"
check_bound_setting_types
stored=$(data_of "bounce nrImages")
[[ $((stored)) == $((default_images + 1)) ]] ||
  fail "bounce nrImages stored as $stored, wanted one more than $default_images"
echo "every bound setting stored with its type; nrImages $((stored))"

# --- A move of 3 right and 3 down ends it ----------------------------------------------------
xdotool mousemove "$cx" "$cy"
launch "$work/Quenvale Demo.scr" save2 /s
wait_window "Quenvale Demo" 60 >/dev/null || fail "no saver window on the second run"
sleep 2
[[ -z $(cat "$work/save2.code" 2>/dev/null) ]] || fail "the second run ended by itself"
xdotool mousemove $((cx + 3)) "$cy"
sleep 1
[[ -z $(cat "$work/save2.code" 2>/dev/null) ]] || fail "a move of 3 right and 0 down ended it"
xdotool mousemove $((cx + 3)) $((cy + 3))
code=$(wait_exit save2 20) || fail "a move of 3 right and 3 down did not end the saver"
[[ $code == 0 ]] || fail "the saver ended with exit code $code"
echo "a move of 3 right and 3 down ended it"

# --- A display DirectDraw cannot draw on ---------------------------------------------------
# DDraw.dll switched off: the box says so, and the saver stays up without frames until input.
xdotool mousemove "$cx" "$cy"
EXTRA_DLL_OVERRIDES="ddraw=d" WINEDEBUG_MSGBOX=1 launch "$work/Quenvale Demo.scr" noddraw /s
box=""
for ((i = 0; i < 240; i++)); do
  for id in $(xdotool search --onlyvisible --name "^Quenvale Demo\$" 2>/dev/null || true); do
    size=$(xwininfo -id "$id" 2>/dev/null | sed -n 's/^ *-geometry *\([0-9]*x[0-9]*\).*/\1/p')
    # Neither the saver's window nor the application's hidden 1 x 1 one.
    [[ -n $size && $size != "$screen" && $size != 1x1 ]] && box=$id
  done
  [[ -n $box ]] && break
  sleep 0.25
done
[[ -n $box ]] || fail "no error box without DirectDraw"
if grep -q "msgbox:" "$work/noddraw.log"; then
  grep -aF "DDraw.dll is not loaded" "$work/noddraw.log" >/dev/null ||
    fail "the box does not say \"DDraw.dll is not loaded\": $(grep -a msgbox: "$work/noddraw.log")"
fi
# One Return at a time, and time for the box to go: a second one would reach the saver.
for ((i = 0; i < 4; i++)); do
  xwininfo -id "$box" >/dev/null 2>&1 || break
  focus "$box"
  xdotool key Return 2>/dev/null || true
  for ((j = 0; j < 20; j++)); do
    xwininfo -id "$box" >/dev/null 2>&1 || break
    sleep 0.25
  done
done
xwininfo -id "$box" >/dev/null 2>&1 && fail "the DirectDraw error box did not go on Return"
sleep 1
[[ -z $(cat "$work/noddraw.code" 2>/dev/null) ]] ||
  fail "the saver ended after the DirectDraw error (exit $(cat "$work/noddraw.code"))"
id=$(wait_window "Quenvale Demo" 10) || fail "no saver window after the DirectDraw error"
focus "$id"
for ((i = 0; i < 5; i++)); do
  xdotool key b
  code=$(wait_exit noddraw 4) && break
done
[[ ${code:-} == 0 ]] || fail "a key did not end the saver without DirectDraw (exit ${code:-none})"
echo "without DirectDraw: the box, the saver stays until a key, exit code 0"

# --- The system's saver password, through a stand-in check library ---------------------------
sys_dir=$prefix/drive_c/windows/system32
stand_in=$(dirname "$preview_host")/test_password.cpl
if [[ -e $sys_dir/password.cpl || ! -f $stand_in ]] ||
  "$wine_run" reg query 'HKCU\Control Panel\Desktop' /v ScreenSaveUsePassword >/dev/null 2>&1; then
  echo "note: the prefix has its own saver password setup (or no stand-in was built): not touched"
else
  installed_cpl=$sys_dir/password.cpl
  cp "$stand_in" "$installed_cpl"
  "$wine_run" reg add 'HKCU\Control Panel\Desktop' /v ScreenSaveUsePassword /t REG_DWORD \
    /d 1 /f >/dev/null || fail "reg add ScreenSaveUsePassword failed"
  echo refuse >"$work/answer"
  QUENVALE_TEST_PASSWORD_FILE=$("$wine_run" winepath -w "$work/answer" | tr -d '\r')
  export QUENVALE_TEST_PASSWORD_FILE
  xdotool mousemove "$cx" "$cy"
  launch "$work/Quenvale Demo.scr" save3 /s
  id=$(wait_window "Quenvale Demo" 60) || fail "no saver window with the password on"
  sleep 2
  focus "$id"
  for ((i = 0; i < 5; i++)); do
    xdotool key b
    sleep 2
    [[ -e $work/answer.asked ]] && break
  done
  [[ -e $work/answer.asked ]] || fail "a key with the password on never asked the password check"
  sleep 2
  [[ -z $(cat "$work/save3.code" 2>/dev/null) ]] ||
    fail "the saver closed although the password check refused"
  echo accept >"$work/answer"
  for ((i = 0; i < 5; i++)); do
    xdotool key b
    code=$(wait_exit save3 4) && break
  done
  [[ ${code:-} == 0 ]] || fail "the saver did not close once the check accepted"
  unset QUENVALE_TEST_PASSWORD_FILE
  rm -f "$installed_cpl"
  "$wine_run" reg delete 'HKCU\Control Panel\Desktop' /v ScreenSaveUsePassword /f >/dev/null
  installed_cpl=""
  echo "password on: a refusal keeps the saver running, an acceptance closes it"
fi

# --- Preview ---------------------------------------------------------------------------------
scr_windows_path=$("$wine_run" winepath -w "$work/Quenvale Demo.scr" | tr -d '\r')
"$wine_run" "$preview_host" "$scr_windows_path" || fail "the preview checks failed"
for args in "/p" "/p 12345"; do
  # shellcheck disable=SC2086 # the arguments are meant to split
  timeout 60 "$wine_run" "$work/Quenvale Demo.scr" $args ||
    fail "$args did not end by itself with exit code 0"
done
echo "/p without a usable host window ends at once"

# --- Ending when told to, whatever a frame costs ---------------------------------------------
# The saver brings Speed down to its limit and runs such frames in slices, with the messages
# between them.
mkdir "$work/fast"
cp -r "$(dirname "$demo_settings")"/. "$work/fast/"
sed -i -e 's/^title=[^\r]*/title=Fast Saver/' -e 's/^Speed=[^\r]*/Speed=2147483647/' \
  -e 's/^nrImages=[^\r]*/nrImages=1500/' "$work/fast/settings.txt"
"$wine_run" "$saverpack" build "$work/fast" "$work/Fast Saver.scr" --engine "$engine" \
  >"$work/pack.log" 2>&1 || fail "saverpack failed: $(cat "$work/pack.log")"
fast_windows_path=$("$wine_run" winepath -w "$work/Fast Saver.scr" | tr -d '\r')
# WHAT PREVIEW_HOST_ARGUMENTS...: the probe's checks hold, and its window leaves the screen
# within a second ("answered in N ms"; the process may take Wine's two seconds more to end).
within_a_second() {
  local what=$1 out ms ended
  shift
  out=$("$wine_run" "$preview_host" "$@" 2>&1 | tr -d '\r') || fail "$what: $out"
  ms=$(echo "$out" | sed -n 's/^answered in \([0-9]*\) ms$/\1/p')
  ended=$(echo "$out" | sed -n 's/^ended in \([0-9]*\) ms$/\1/p')
  [[ -n $ms && -n $ended ]] || fail "$what: no times in $out"
  ((ms < 1000)) || fail "$what: the window left the screen after $ms ms"
  echo "$what: answered in $ms ms, ended in $ended ms"
}
within_a_second "long frames, /s ends on WM_CLOSE" --close "$fast_windows_path"
within_a_second "long frames, /s ends on a key" --key "$fast_windows_path"
within_a_second "long frames, /p ends with its host" "$fast_windows_path"
# And a key as a user presses it, through the X server. Wine keeps a top-level X window mapped
# for two seconds after it went when there is no window manager, so the probe watches the
# window from Windows' side and says when it went; a press Wine drops right after the focus
# moved is pressed again.
xdotool mousemove "$cx" "$cy"
("$wine_run" "$preview_host" --watch "$fast_windows_path" >"$work/watch.log" 2>&1 && rc=0 || rc=$?
  echo "$rc" >"$work/watch.code") &
started+=($!)
for ((i = 0; i < 240; i++)); do
  grep -q '^ready' "$work/watch.log" 2>/dev/null && break
  sleep 0.25
done
grep -q '^ready' "$work/watch.log" || fail "long frames: the saver did not come up: $(cat "$work/watch.log")"
id=$(wait_window "Fast Saver" 10) || fail "no X window for the saver of long frames"
focus "$id"
for ((i = 0; i < 5; i++)); do
  pressed=$(($(date +%s%N) / 1000000))
  xdotool key b
  for ((j = 0; j < 50; j++)); do
    gone=$(tr -d '\r' <"$work/watch.log" | sed -n 's/^gone at \([0-9]*\)$/\1/p')
    [[ -n $gone ]] && break 2
    sleep 0.02
  done
done
[[ -n ${gone:-} ]] || fail "long frames: an X key press never ended the saver"
gone_ms=$((gone - pressed))
((gone_ms < 1000)) || fail "long frames: the window left the screen $gone_ms ms after the key"
code=$(wait_exit watch 10) || fail "long frames: the saver did not end after the X key"
[[ $code == 0 ]] || fail "long frames: $(cat "$work/watch.log")"
echo "long frames, /s ends on an X key press: gone in $gone_ms ms"
"$wine_run" reg delete 'HKCU\Software\Fast Saver' /f >/dev/null 2>&1 || true

# --- Change password -------------------------------------------------------------------------
cp "$engine" "$work/Password.scr"
check_fatal "Password" 0 "'' is not a valid integer value" ScreenSaver "/a:1234"
echo "PASS"
