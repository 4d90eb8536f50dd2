#!/usr/bin/env bash
# quenvale.scr /s on a desk of two monitors under Wine: an Xvfb of two Xinerama screens (1024x768
# and 800x600; Xvfb puts both at the origin, so the second covers the first one's top left), with
# Wine's X11 driver told to leave XRandR aside (Xvfb's RandR knows one output only) so that it
# lists the Xinerama heads as monitors. Then:
#   - a window covers each monitor at its size, and both draw: screenshots of the second
#     monitor and of the part of the first that it leaves free each change within a second;
#   - numpad + pressed on the second monitor's window changes the shared settings, a letter
#     ends both windows with exit code 0, and "bounce nrImages" is then stored one higher than the
#     demo's default: the first monitor's session wrote the settings, and no other wrote over
#     them;
#   - the clock follows the user's own time format: with "sTimeFormat" set to "tt hh-mm-ss", the
#     current time the saver last drew (the frame log keeps it) reads "AM 09-41-07" or so;
#   - the frame rate (QUENVALE_FRAME_LOG) and the CPU of saving on two monitors are printed.
# The shared Wine server is stopped before and after, so that it runs on this display meanwhile
# and on its own again afterwards.
#   monitors_test.sh WINE_RUN ENGINE_SCR DEMO_DIR DEMO_SETTINGS_TXT
set -euo pipefail
wine_run=$1
engine=$2
demo_dir=$3
demo_settings=$4

fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "SKIP: $*"; exit 77; }
for tool in Xvfb xdotool xwininfo import compare; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
[[ -f $demo_dir/Quenvale_Demo.dat ]] || fail "no demo data file in $demo_dir"

work=$(mktemp -d "${TMPDIR:-/tmp}/monitors-test.XXXXXX")
key='HKCU\Software\Quenvale Demo'
x11_key='HKCU\Software\Wine\X11 Driver'
intl_key='HKCU\Control Panel\International'
time_format=""  # the user's own, put back at the end
xvfb_pid=""
cleanup() {
  for pid in $(pgrep -f "$work/" || true); do kill "$pid" 2>/dev/null || true; done
  if [[ -n ${DISPLAY:-} ]]; then
    "$wine_run" reg delete "$x11_key" /v UseXRandR /f >/dev/null 2>&1 || true
    "$wine_run" reg delete "$key" /f >/dev/null 2>&1 || true
    if [[ -n $time_format ]]; then
      "$wine_run" reg add "$intl_key" /v sTimeFormat /d "$time_format" /f >/dev/null 2>&1 || true
    else
      "$wine_run" reg delete "$intl_key" /v sTimeFormat /f >/dev/null 2>&1 || true
    fi
  fi
  "$wine_run" --stop || true
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 +xinerama -screen 0 1024x768x24 -screen 1 800x600x24 -nolisten tcp \
  -noreset 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [[ -s $work/display ]] && break
  sleep 0.1
done
[[ -s $work/display ]] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
"$wine_run" --stop
export DISPLAY=:$(head -n 1 "$work/display")
# Wine reads its X11 settings as a process starts: the server and its desktop start again.
"$wine_run" reg add "$x11_key" /v UseXRandR /d N /f >/dev/null || fail "wine does not run"
"$wine_run" reg delete "$key" /f >/dev/null 2>&1 || true
time_format=$("$wine_run" reg query "$intl_key" /v sTimeFormat 2>/dev/null | tr -d '\r' |
  sed -n 's/.*REG_SZ[[:space:]]*//p' || true)
"$wine_run" reg add "$intl_key" /v sTimeFormat /d "tt hh-mm-ss" /f >/dev/null
"$wine_run" --stop

cp "$demo_dir/Quenvale_Demo.dat" "$work/"
cp "$engine" "$work/Quenvale Demo.scr"
default_images=$(sed -n 's/^nrImages=\([0-9]*\).*/\1/p' "$demo_settings" | head -n 1)
[[ -n $default_images ]] || fail "no nrImages in $demo_settings"

export QUENVALE_FRAME_LOG=$work/frames.log
start_saver() {  # TAG: starts /s; sets $first and $second to the two windows' ids
  ("$wine_run" "$work/Quenvale Demo.scr" /s >"$work/$1.log" 2>&1 && rc=0 || rc=$?
    echo "$rc" >"$work/$1.code") &
  first="" second=""
  for _ in $(seq 240); do
    for id in $(xdotool search --onlyvisible --name "^Quenvale Demo\$" 2>/dev/null || true); do
      size=$(xwininfo -id "$id" | sed -n 's/^ *-geometry *\([0-9]*x[0-9]*\).*/\1/p')
      case $size in
        1024x768) first=$id ;;
        800x600) second=$id ;;
      esac
    done
    [[ -n $first && -n $second ]] && break
    sleep 0.25
  done
  [[ -n $first ]] || fail "no window covers the first monitor (1024x768): $(cat "$work/$1.log")"
  [[ -n $second ]] || fail "no window covers the second monitor (800x600)"
}
# Numpad + on the second monitor's window, then a letter until the saver ends.
plus_then_letter() {  # TAG
  local code=""
  xdotool windowfocus "$second" 2>/dev/null || true
  sleep 1.5
  xdotool key KP_Add
  sleep 1
  [[ ! -s $work/$1.code ]] || fail "numpad + ended the saver (exit $(cat "$work/$1.code"))"
  for _ in 1 2 3 4 5; do
    xdotool key b
    for _ in $(seq 16); do
      [[ -s $work/$1.code ]] && break
      sleep 0.25
    done
    [[ -s $work/$1.code ]] && { code=$(cat "$work/$1.code"); break; }
  done
  [[ $code == 0 ]] || fail "the letter did not end the saver (exit ${code:-none}): $(cat "$work/$1.log")"
  local left
  left=$(xdotool search --onlyvisible --name "^Quenvale Demo\$" 2>/dev/null | wc -l || true)
  [[ $left == 0 ]] || fail "$left saver windows stayed after the key"
}
stored_images() {
  "$wine_run" reg query "$key" /v "bounce nrImages" 2>/dev/null | tr -d '\r' |
    sed -n 's/.*REG_DWORD[[:space:]]*\(0x[0-9a-f]*\).*/\1/p'
}

start_saver save1
echo "a window on each monitor: 1024x768 and 800x600"
sleep 2
shots() {  # TAG: the second monitor, and the strip of the first right of it
  import -window root -crop 800x600+0+0 "$work/second-$1.png"
  import -window root -crop 224x768+800+0 "$work/first-$1.png"
}
shots 1
sleep 1
shots 2
for monitor in first second; do
  changed=$(compare -metric AE "$work/$monitor-1.png" "$work/$monitor-2.png" null: 2>&1 || true)
  [[ ${changed%% *} =~ ^[0-9]+$ && ${changed%% *} -gt 50 ]] ||
    fail "the $monitor monitor did not change within a second (${changed} pixels)"
  echo "the $monitor monitor draws: $changed pixels changed in a second"
done
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
  echo "CPU: $(((after - before) * 100 / $(getconf CLK_TCK) / 5))% of one core on two monitors"
fi
plus_then_letter save1
[[ -s $work/frames.log ]] || fail "no frame log"
echo "frame log: $(tr -d '\r' <"$work/frames.log")"
grep -qE 'clock "(AM|PM) [0-9]{2}-[0-9]{2}-[0-9]{2}"' "$work/frames.log" ||
  fail "the clock did not follow the time format \"tt hh-mm-ss\": $(cat "$work/frames.log")"
echo "the clock follows the user's time format"

# Wine drops a key now and then when the X focus has only just moved: two more runs may
# deliver the numpad +, each loading what the run before stored. A saver whose second monitor
# loses its keys, or whose other sessions write stale settings, fails all three.
want=$((default_images + 1))
for attempt in 2 3; do
  stored=$(stored_images)
  [[ -n $stored && $((stored)) == "$default_images" ]] || break
  echo "note: numpad + was not delivered; run $attempt"
  start_saver "save$attempt"
  sleep 2
  plus_then_letter "save$attempt"
done
stored=$(stored_images)
[[ -n $stored ]] || fail "no bounce nrImages stored"
(($((stored)) == want)) ||
  fail "bounce nrImages stored as $((stored)), not $want (the default $default_images and one +)"
echo "a key on the second monitor reached the settings; a letter ended both windows; stored" \
  "bounce nrImages $((stored))"
echo "ok"
