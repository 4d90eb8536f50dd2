#!/usr/bin/env bash
# quenvale on an X server of its own (Xvfb, 1920x1080), with the demo saver reached through a
# link named "Quenvale Demo", driven with xdotool and watched with screenshots:
#   - no data file: GTK's error box and standard error name the problem, exit code 1; a data file
#     packed for another name: exit code 2;
#   - /s: a window over the whole screen; a second instance ends at once; two screenshots differ
#     and show the background; a 1-pixel and a 3-right-0-down move do not end it; numpad + then
#     a letter does, and the settings file then holds every bound setting with its type,
#     "bounce nrImages" one higher than the demo's default;
#   - a second /s run ends on a move of 3 right and 3 down, and a third on a click;
#   - -window-id and /p into a window the test makes: the saver draws inside it and ends when
#     the window is destroyed; XSCREENSAVER_WINDOW with -root draws into that window, not the
#     root; /p without a window or with one that does not exist ends at once;
#   - a data file asking for 2^31 motion steps a frame with 1,500 sprites: /s ends on SIGTERM and
#     on a key, -root on SIGTERM, SIGHUP and SIGINT, each within a second, and SIGTERM stores
#     the settings; a picture that does not decode: -root shows no box and ends on SIGTERM, /s
#     shows a box over the saver that Return answers;
#   - /a says there is no password to change.
# Prints the CPU the saver takes per second of saving at 1920x1080, and its frame rate.
#   saver_sdl_test.sh QUENVALE DEMO_DAT DEMO_SETTINGS_TXT X_TEST_WINDOW
set -euo pipefail
engine=$1
demo_dat=$2
demo_settings=$3
x_test_window=$4

fail() { echo "FAIL: $*" >&2; exit 1; }
# In the sanitizer build: what the system libraries keep until the end is theirs, not ours.
supp=$(cd "$(dirname "$0")" && pwd)/lsan_system_libs.supp
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$supp:print_suppressions=0}
# Mesa's software GL driver, which SDL loads for the saver's window (and the engine then turns
# down on a GPU-less X server), is unloaded before the leak check runs, so what it keeps would be
# reported without a library name that a suppression could match. Loaded from the start, it
# stays, and what it keeps stays reachable.
engine_preload=
swrast=$(find /usr/lib -path '*/dri/swrast_dri.so' -print -quit 2>/dev/null || true)
asan=$(ldd "$engine" | awk '/libasan/ { print $3 }')
[[ -n $asan && -n $swrast ]] && engine_preload="$asan $swrast"
skip() { echo "SKIP: $*"; exit 77; }
for tool in Xvfb xdotool import compare identify xwininfo xprop; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
[[ -f $demo_dat ]] || fail "no demo data file at $demo_dat (build the demo target)"

work=$(mktemp -d "${TMPDIR:-/tmp}/quenvale-sdl-test.XXXXXX")
started=()
cleanup() {
  local pid
  exec 7>&- 2>/dev/null || true
  # The engines first, by the ids their launchers wrote down.
  cat "$work"/*.pid 2>/dev/null | while read -r pid; do kill "$pid" 2>/dev/null || true; done
  for ((i = ${#started[@]} - 1; i >= 0; i--)); do kill "${started[$i]}" 2>/dev/null || true; done
  for pid in "${started[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
[[ -n ${QUENVALE_TEST_KEEP:-} ]] && trap - EXIT

# --- An X server of our own --------------------------------------------------------------------
# -noreset: otherwise the server resets each time its last client leaves, and a program started
# in that moment finds no display.
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset 3>"$work/display" >"$work/xvfb.log" 2>&1 &
started+=($!)
for ((i = 0; i < 100; i++)); do
  [[ -s $work/display ]] && break
  sleep 0.1
done
[[ -s $work/display ]] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
DISPLAY=:$(head -n 1 "$work/display")
export DISPLAY
unset WAYLAND_DISPLAY XSCREENSAVER_WINDOW
export XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/run
mkdir -p "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
settings_file="$XDG_CONFIG_HOME/quenvale/Software/Quenvale Demo.reg"

ln -s "$engine" "$work/Quenvale Demo"
cp "$demo_dat" "$work/Quenvale_Demo.dat"
cd "$work"

# Starts the engine by a name in $work in the background: its process id lands in $tag.pid, its
# exit code in $tag.code, its standard error in $tag.log.
launch() {
  local name=$1 tag=$2
  shift 2
  (
    LD_PRELOAD=$engine_preload "./$name" "$@" >"$tag.out" 2>"$tag.log" &
    echo $! >"$tag.pid"
    wait $! && rc=0 || rc=$?
    echo "$rc" >"$tag.code"
  ) &
  started+=($!)
  while [[ ! -s $tag.pid ]]; do sleep 0.05; done
}
# Waits up to $2 seconds for run $1 to end; prints its exit code.
wait_exit() {
  local tag=$1 seconds=$2 i
  for ((i = 0; i < seconds * 10; i++)); do
    [[ -s $tag.code ]] && { cat "$tag.code"; return 0; }
    sleep 0.1
  done
  return 1
}
running() { [[ ! -s $1.code ]]; }
# The id of a top-level window named exactly $1, waiting up to $2 seconds for it.
wait_window() {
  local name=$1 seconds=$2 i id
  for ((i = 0; i < seconds * 10; i++)); do
    id=$(xwininfo -root -children 2>/dev/null |
      sed -n "s/^ *\(0x[0-9a-f]*\) \"$name\":.*/\1/p" | head -n 1)
    [[ -n $id ]] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}
geometry_of() { xwininfo -id "$1" | sed -n 's/^ *-geometry *\([0-9]*x[0-9]*\).*/\1/p'; }
# Pixels that differ between two pictures.
differ() { compare -metric AE "$1" "$2" null: 2>&1 | sed 's/ .*//' || true; }

# --- Data-file failures: the message and the exit code ------------------------------------------
ln -s "$engine" "$work/Lone Saver"
xdotool mousemove 960 540
launch "Lone Saver" lone /s
box=$(wait_window "Lone Saver" 20) ||
  fail "no error box for a missing data file: $(cat lone.log; xwininfo -root -children)"
grep -qF "No data file found or missing settings in data file." lone.log ||
  fail "standard error does not name the missing data file: $(cat lone.log)"
running lone || fail "the process ended before the box was answered"
# GTK's box, which needs no core X font (SDL's box shows nothing on a server that has none).
xprop -id "$box" WM_CLASS | grep -qF '"quenvale", "Quenvale"' ||
  fail "the missing-data-file box is not GTK's: $(xprop -id "$box" WM_CLASS)"
# The box takes Return while the pointer, and so the keyboard, is over it.
read -r bx by < <(xwininfo -id "$box" |
  awk '/Absolute upper-left X/{x=$NF} /Absolute upper-left Y/{y=$NF} END{print x+20, y+20}')
xdotool mousemove "$bx" "$by"
sleep 0.3
xdotool key Return
code=$(wait_exit lone 10) || fail "the missing-data-file box did not end the program"
[[ $code == 1 ]] || fail "a missing data file ended with exit code $code, wanted 1"
echo "missing data file: the box and standard error, then exit code 1"

ln -s "$engine" "$work/Other Name"
cp "$demo_dat" "$work/Other_Name.dat"
code=0
DISPLAY='' timeout 20 "./Other Name" /s 2>other.log || code=$?
[[ $code == 2 ]] || fail "a data file packed for another name ended with exit code $code, wanted 2"
grep -qF "Corrupted data files detected [pwdata01]" other.log ||
  fail "standard error does not report the wrong password: $(cat other.log)"
echo "data file of another name: the message, then exit code 2"

# --- The demo in save mode ---------------------------------------------------------------------
default_images=$(sed -n 's/^nrImages=\([0-9]*\).*/\1/p' "$demo_settings" | head -n 1)
[[ -n $default_images ]] || fail "no nrImages in $demo_settings"
cx=960
cy=540
xdotool mousemove "$cx" "$cy"
launch "Quenvale Demo" save1 /s -fps
saver=$(wait_window "Quenvale Demo" 20) || fail "no saver window: $(cat save1.log)"
sleep 1
[[ $(geometry_of "$saver") == 1920x1080 ]] || fail "the saver window is $(geometry_of "$saver")"

code=0
timeout 20 "./Quenvale Demo" /s 2>second.log || code=$?
[[ $code == 0 ]] || fail "a second instance ended with exit code $code"
running save1 || fail "the first instance ended with the second"
echo "a second instance ended at once; the first goes on"

import -window root frame1.png
sleep 0.5
import -window root frame2.png
changed=$(differ frame1.png frame2.png)
[[ $changed =~ ^[0-9]+$ && $changed -gt 100 ]] ||
  fail "two screenshots half a second apart differ in '$changed' pixels"
colours=$(identify -format '%k' frame1.png)
((colours > 16)) || fail "the screen shows only $colours colours: no background picture"
echo "frames run: $changed pixels changed in half a second, $colours colours on screen"

# CPU per second of saving (reported, never judged), and the frame rate the saver counted.
pid=$(cat save1.pid)
if [[ -n $pid && -r /proc/$pid/stat ]]; then
  ticks() { sed 's/^.*) //' "/proc/$pid/stat" | awk '{print $12 + $13}'; }
  before=$(ticks)
  sleep 5
  after=$(ticks)
  fps=$(grep -o '[0-9]* fps.*' save1.log | tail -n 1)
  echo "CPU at 1920x1080: $(((after - before) * 1000 / $(getconf CLK_TCK) / 5)) ms per second" \
    "of saving ($fps)"
fi

xdotool mousemove $((cx + 1)) $((cy + 1))
sleep 0.4
xdotool mousemove $((cx + 3)) "$cy"
sleep 0.6
running save1 || fail "a 1-pixel or a 3-right-0-down mouse move ended the saver"
echo "small and one-sided mouse moves do not end it"

xdotool key KP_Add
sleep 0.6
running save1 || fail "numpad + ended the saver"
xdotool key b
code=$(wait_exit save1 10) || fail "a letter did not end the saver"
[[ $code == 0 ]] || fail "the saver ended with exit code $code: $(cat save1.log)"
echo "numpad + kept it running; a letter ended it"

[[ -f $settings_file ]] || fail "no settings file at $settings_file"
value_line() { grep -F "\"$1\"=" "$settings_file" | head -n 1; }
for name in "clocksettings clock" "General BackgroundColor" "bounce bounceImages" \
  "bounce nrImages" "bounce Speed" "bounce fixedSpeed" "General showBackground" \
  "sets SetTime" "FilenameSettings filename" "backgrounds stretchSmallImages"; do
  [[ $(value_line "$name") =~ =dword:[0-9a-f]{8}$ ]] || fail "$name is not stored as a dword"
done
for name in "sets selectedSets" "ClockSettings clockFont" "FilenameSettings filenameFont"; do
  [[ $(value_line "$name") =~ =\".*\"$ ]] || fail "$name is not stored as a string"
done
stored=$(value_line "bounce nrImages" | sed 's/.*=dword://')
[[ $((16#$stored)) == $((default_images + 1)) ]] ||
  fail "bounce nrImages stored as $((16#$stored)), wanted one more than $default_images"
echo "every bound setting stored with its type; nrImages $((16#$stored))"

# --- A move of 3 right and 3 down ends it; so does a click -------------------------------------
xdotool mousemove "$cx" "$cy"
launch "Quenvale Demo" save2 /s
wait_window "Quenvale Demo" 20 >/dev/null || fail "no saver window on the second run"
sleep 1
xdotool mousemove $((cx + 3)) "$cy"
sleep 0.6
running save2 || fail "a move of 3 right and 0 down ended it"
xdotool mousemove $((cx + 3)) $((cy + 3))
code=$(wait_exit save2 10) || fail "a move of 3 right and 3 down did not end the saver"
[[ $code == 0 ]] || fail "the saver ended with exit code $code: $(cat save1.log)"
echo "a move of 3 right and 3 down ended it"

launch "Quenvale Demo" save3 /s
wait_window "Quenvale Demo" 20 >/dev/null || fail "no saver window on the third run"
sleep 1
xdotool click 1
code=$(wait_exit save3 10) || fail "a click did not end the saver"
[[ $code == 0 ]] || fail "the saver ended with exit code $code after a click"
echo "a click ended it"

# --- Into a window somebody else made ----------------------------------------------------------
mkfifo host.ctl
# Makes a host window of $1 x $2; its id lands in $host, its control pipe is descriptor 7.
make_host() {
  "$x_test_window" "$1" "$2" <host.ctl >host.out &
  started+=($!)
  exec 7>host.ctl
  for ((i = 0; i < 50; i++)); do
    host=$(head -n 1 host.out 2>/dev/null || true)
    [[ -n $host ]] && return 0
    sleep 0.1
  done
  fail "the test's host window did not come up"
}
close_host() {
  echo destroy >&7
  exec 7>&-
}
# The host window shows the saver: not black, and moving.
check_drawn_into() {
  local what=$1 size=$2 tag=$3
  sleep 1.5
  import -window "$host" "$tag-1.png"
  sleep 0.5
  import -window "$host" "$tag-2.png"
  convert -size "$size" xc:black "$tag-black.png"
  local drawn moved
  drawn=$(differ "$tag-black.png" "$tag-1.png")
  moved=$(differ "$tag-1.png" "$tag-2.png")
  [[ $drawn =~ ^[0-9]+$ && $drawn -gt 1000 ]] || fail "$what: the window stays black ($drawn)"
  [[ $moved =~ ^[0-9]+$ && $moved -gt 50 ]] || fail "$what: nothing moves in the window ($moved)"
  echo "$what: $drawn of the window's pixels drawn, $moved changed in half a second"
}

make_host 640 400
launch "Quenvale Demo" wid -window-id "$host"
check_drawn_into "-window-id" 640x400 wid
running wid || fail "-window-id ended by itself: $(cat wid.log)"
close_host
code=$(wait_exit wid 10) || fail "-window-id did not end when its window was destroyed"
[[ $code == 0 ]] || fail "-window-id ended with exit code $code when its window went"
echo "-window-id: ended with its window"

make_host 152 112
launch "Quenvale Demo" preview /p "$((host))"
check_drawn_into "/p" 152x112 preview
close_host
code=$(wait_exit preview 10) || fail "/p did not end when its window was destroyed"
[[ $code == 0 ]] || fail "/p ended with exit code $code when its window went"
echo "/p: ended with its window"

make_host 320 200
XSCREENSAVER_WINDOW=$host launch "Quenvale Demo" xss -root
import -window root root-before.png
check_drawn_into "XSCREENSAVER_WINDOW" 320x200 xss
import -window root root-after.png
# The root window around the host stays as it was: the hack drew into its window only.
convert root-before.png -fill black -draw "rectangle 0 0 400 300" root-before-outside.png
convert root-after.png -fill black -draw "rectangle 0 0 400 300" root-after-outside.png
outside=$(differ root-before-outside.png root-after-outside.png)
[[ $outside == 0 ]] || fail "XSCREENSAVER_WINDOW: $outside pixels outside its window changed"
# xscreensaver ends its hacks with SIGTERM.
kill -TERM "$(cat xss.pid)"
code=$(wait_exit xss 10) || fail "SIGTERM did not end the hack"
[[ $code == 0 ]] || fail "SIGTERM ended the hack with exit code $code"
close_host
echo "XSCREENSAVER_WINDOW: drawn into that window only; SIGTERM ends it"

for args in "/p" "/p 12345"; do
  code=0
  # shellcheck disable=SC2086 # the arguments are meant to split
  timeout 20 "./Quenvale Demo" $args 2>/dev/null || code=$?
  [[ $code == 0 ]] || fail "$args ended with exit code $code, wanted 0 at once"
done
echo "/p without a usable window ends at once"

# --- Ending when told to, whatever a frame costs -----------------------------------------------
# A data file with the most a data file can ask for: frames of billions of motion steps for many
# sprites, which the saver brings down to its limits and runs in slices between which it looks
# at input and at the stop signals. And one whose pictures do not decode.
saverpack=$(dirname "$engine")/saverpack
[[ -x $saverpack ]] || fail "no saverpack beside the engine at $saverpack"
make_saver() { # NAME SED_SCRIPT: the demo titled NAME, its settings changed, packed for NAME
  local name=$1 script=$2
  cp -r "$(dirname "$demo_settings")" "src-$name"
  sed -i -e "s/^title=[^\r]*/title=$name/" -e "$script" "src-$name/settings.txt"
  "$saverpack" build "src-$name" "$work/$name.scr" >/dev/null || fail "saverpack build $name failed"
  ln -s "$engine" "$work/$name"
}
make_saver "Fast Saver" 's/^Speed=[^\r]*/Speed=2147483647/; s/^nrImages=[^\r]*/nrImages=1500/'
make_saver "Broken Saver" ''
for picture in "src-Broken Saver"/backgrounds/*; do echo "not a picture" >"$picture"; done
"$saverpack" build "src-Broken Saver" "$work/Broken Saver.scr" >/dev/null
now_ms() { echo $(($(date +%s%N) / 1000000)); }
# Ends run $1 with $2 (a signal, or "key" for a letter typed) after it has run a while, and
# fails unless it ends within a second with exit code $3.
ends_within_a_second() {
  local tag=$1 how=$2 want=$3 start code
  sleep 4 # past the start (placing 1,500 sprites) and well into a long frame
  running "$tag" || fail "$tag ended by itself: $(cat "$tag.log")"
  start=$(now_ms)
  if [[ $how == key ]]; then xdotool key a; else kill "-$how" "$(cat "$tag.pid")"; fi
  code=$(wait_exit "$tag" 5) || fail "$tag did not end on $how"
  (($(now_ms) - start < 1000)) || fail "$tag took $(($(now_ms) - start)) ms to end on $how"
  [[ $code == "$want" ]] || fail "$tag ended on $how with exit code $code, wanted $want: $(cat "$tag.log")"
  echo "$tag: ended on $how in $(($(now_ms) - start)) ms"
}
launch "Fast Saver" fast-term /s
wait_window "Fast Saver" 20 >/dev/null || fail "no window for the fast saver: $(cat fast-term.log)"
ends_within_a_second fast-term TERM 0
grep -qF "bounce Speed 2147483647 is more than the saver can show; using 10000" fast-term.log ||
  fail "the saver did not say it brought Speed down: $(cat fast-term.log)"
grep -qiF '"bounce Speed"=dword:00002710' "$XDG_CONFIG_HOME/quenvale/Software/Fast Saver.reg" ||
  fail "SIGTERM did not store the settings (Speed 10000)"
launch "Fast Saver" fast-key /s
wait_window "Fast Saver" 20 >/dev/null || fail "no window for the fast saver: $(cat fast-key.log)"
ends_within_a_second fast-key key 0
for signal in TERM HUP INT; do
  launch "Fast Saver" "fast-root-$signal" -root
  ends_within_a_second "fast-root-$signal" "$signal" 0
done

# A picture that does not decode: a hack says so on standard error only and waits to be ended;
# in /s the box comes over the saver and takes the keyboard.
launch "Broken Saver" broken-root -root
sleep 2
running broken-root || fail "the hack with a broken picture ended by itself: $(cat broken-root.log)"
! wait_window "Broken Saver" 1 >/dev/null || fail "the hack opened a box"
[[ -s broken-root.log ]] || fail "the hack said nothing about its broken picture"
ends_within_a_second broken-root TERM 1
launch "Broken Saver" broken-save /s
box=$(wait_window "Broken Saver" 20) || fail "no box for the broken picture in /s: $(cat broken-save.log)"
sleep 1
read -r bx by < <(xwininfo -id "$box" |
  awk '/Absolute upper-left X/{x=$NF} /Absolute upper-left Y/{y=$NF} END{print x+20, y+20}')
xdotool mousemove "$bx" "$by"
sleep 0.3
xdotool key Return
code=$(wait_exit broken-save 10) || fail "Return did not answer the box over the saver"
[[ $code == 1 ]] || fail "the broken saver in /s ended with exit code $code, wanted 1"
echo "a broken picture: standard error only in -root (SIGTERM ends it), a box in /s that takes Return"

# --- Change password ---------------------------------------------------------------------------
out=$(timeout 20 "./Quenvale Demo" /a) || fail "/a ended with exit code $?"
grep -qi "password" <<<"$out" || fail "/a says nothing about the password: $out"
echo "/a: $out"
echo "PASS"
