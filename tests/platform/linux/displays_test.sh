#!/usr/bin/env bash
# quenvale /s with two displays: an Xvfb of two X screens (1024x768 and 800x600), which SDL lists
# as two displays. SDL places a window by the position of its display, and both screens start
# at the origin, so both windows land on the first screen, the second over the first one's top
# left; on a desk of monitors side by side each would cover its own. Then:
#   - a window of each display's size, and both draw: the second window, and the part of the
#     first that it leaves free, each change within a second;
#   - numpad + typed into the second window changes the shared settings, a letter ends both with
#     exit code 0, and "bounce nrImages" is stored one higher than the demo's default.
#   displays_test.sh QUENVALE DEMO_DAT DEMO_SETTINGS_TXT
set -euo pipefail
engine=$1
demo_dat=$2
demo_settings=$3

fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "SKIP: $*"; exit 77; }
for tool in Xvfb xdotool xwininfo import compare; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
supp=$(cd "$(dirname "$0")" && pwd)/lsan_system_libs.supp
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$supp:print_suppressions=0}

work=$(mktemp -d "${TMPDIR:-/tmp}/quenvale-displays.XXXXXX")
xvfb_pid="" saver_pid=""
cleanup() {
  [[ -n $saver_pid ]] && kill "$saver_pid" 2>/dev/null
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1024x768x24 -screen 1 800x600x24 -nolisten tcp -noreset \
  3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [[ -s $work/display ]] && break
  sleep 0.1
done
[[ -s $work/display ]] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=:$(head -n 1 "$work/display")
unset WAYLAND_DISPLAY XSCREENSAVER_WINDOW
export XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/run
mkdir -p "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
settings_file="$XDG_CONFIG_HOME/quenvale/Software/Quenvale Demo.reg"
ln -s "$engine" "$work/Quenvale Demo"
cp "$demo_dat" "$work/Quenvale_Demo.dat"
default_images=$(sed -n 's/^nrImages=\([0-9]*\).*/\1/p' "$demo_settings" | head -n 1)
[[ -n $default_images ]] || fail "no nrImages in $demo_settings"

xdotool mousemove 1000 700
"$work/Quenvale Demo" /s >"$work/save.log" 2>&1 &
saver_pid=$!
first="" second=""
for _ in $(seq 200); do
  while read -r id size; do
    case $size in
      1024x768) first=$id ;;
      800x600) second=$id ;;
    esac
  done < <(xwininfo -root -children 2>/dev/null |
    sed -n 's/^ *\(0x[0-9a-f]*\) "Quenvale Demo":.*)  *\([0-9]*x[0-9]*\)+.*/\1 \2/p')
  [[ -n $first && -n $second ]] && break
  sleep 0.1
done
[[ -n $first ]] || fail "no window of the first display's size: $(cat "$work/save.log")"
[[ -n $second ]] || fail "no window of the second display's size: $(cat "$work/save.log")"
echo "a window for each display: 1024x768 and 800x600"

sleep 1
shots() {
  import -window root -crop 800x600+0+0 "$work/second-$1.png"
  import -window root -crop 224x768+800+0 "$work/first-$1.png"
}
shots 1
sleep 1
shots 2
for display in first second; do
  changed=$(compare -metric AE "$work/$display-1.png" "$work/$display-2.png" null: 2>&1 || true)
  [[ ${changed%% *} =~ ^[0-9]+$ && ${changed%% *} -gt 50 ]] ||
    fail "the $display display's window did not change within a second (${changed} pixels)"
  echo "the $display display's window draws: $changed pixels changed in a second"
done

# Keys typed into the second window: SDL takes them from the window that has the focus.
xdotool key --window "$second" KP_Add
sleep 0.6
kill -0 "$saver_pid" 2>/dev/null || fail "numpad + ended the saver"
xdotool key --window "$second" b
code=""
for _ in $(seq 100); do
  kill -0 "$saver_pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$saver_pid" 2>/dev/null; then fail "a letter did not end the saver"; fi
wait "$saver_pid" && code=0 || code=$?
saver_pid=""
[[ $code == 0 ]] || fail "the saver ended with exit code $code: $(cat "$work/save.log")"
left=$(xwininfo -root -children 2>/dev/null | grep -c '"Quenvale Demo"' || true)
[[ $left == 0 ]] || fail "$left saver windows stayed after the key"
stored=$(grep -F '"bounce nrImages"=' "$settings_file" 2>/dev/null | head -n 1 | sed 's/.*=dword://')
[[ -n $stored ]] || fail "no bounce nrImages in $settings_file"
[[ $((16#$stored)) == $((default_images + 1)) ]] ||
  fail "bounce nrImages stored as $((16#$stored)), wanted one more than $default_images"
echo "a key in the second window reached the settings; a letter ended both; nrImages $((16#$stored))"
echo "ok"
