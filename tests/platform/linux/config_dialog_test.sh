#!/usr/bin/env bash
# The GTK settings dialog (/c) with the demo saver, on its own Xvfb display, driven with xdotool:
# it shows; OK stores every bound value as shown; a change followed by Cancel stores the values
# as loaded; typed spin-box text is clamped; a data file with every gate off gives a shorter
# window; the colour chooser starts from its own colour and the font chooser keeps the font's
# colour; /c:ID makes the dialog transient for that window; a link label opens its address with
# the desktop's handler; without a display it ends with a message and exit code 1.
#   config_dialog_test.sh PROBE SAVERPACK DEMO_SAVER_DIR [ENGINE]
# With ENGINE (the quenvale program) the dialog runs through the engine, started as a link named
# "Quenvale Demo" beside the data file; otherwise through PROBE, which runs only the dialog.
set -uo pipefail
# The sanitizer build: leaks inside the system libraries are not ours to fix.
supp=$(cd "$(dirname "$0")" && pwd)/lsan_system_libs.supp
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$supp:print_suppressions=0}
probe=$1
saverpack=$2
demo=$3
engine=${4:-}
probe=$(realpath "$probe")
[[ -n $engine ]] && engine=$(realpath "$engine")

for tool in Xvfb xdotool import xprop python3; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing"; exit 77; }
done

tmp=$(mktemp -d)
xvfb_pid=
dialog_pid=
host_pid=
cleanup() {
  [[ -n $dialog_pid ]] && kill "$dialog_pid" 2>/dev/null
  [[ -n $host_pid ]] && kill "$host_pid" 2>/dev/null
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

# --- a display of our own ----------------------------------------------------------------------
# -noreset: otherwise the server resets each time its last client leaves, and a program started
# in that moment finds no display.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$tmp/display" >"$tmp/xvfb.log" 2>&1 &
xvfb_pid=$!
display=
for _ in $(seq 100); do
  display=$(head -n1 "$tmp/display" 2>/dev/null)
  [[ -n $display ]] && break
  sleep 0.1
done
[[ -n $display ]] || { echo "FAIL: Xvfb did not start"; cat "$tmp/xvfb.log"; exit 1; }
export DISPLAY=:$display
unset WAYLAND_DISPLAY
export XDG_CONFIG_HOME=$tmp/config XDG_DATA_HOME=$tmp/data XDG_CACHE_HOME=$tmp/cache
export XDG_RUNTIME_DIR=$tmp/runtime
export GTK_THEME=Adwaita NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME/applications" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

# --- the savers: the demo as built, and a copy with every gate off ------------------------------
mkdir -p "$tmp/demo" "$tmp/gates_off"
"$saverpack" build "$demo" "$tmp/demo/Quenvale Demo.scr" >/dev/null
[[ -f $tmp/demo/Quenvale_Demo.dat ]] || { echo "FAIL: no demo data file"; exit 1; }
cp -r "$demo" "$tmp/gates_off/saver"
sed -i -E 's/^(set[A-Za-z]+)=true/\1=false/I' "$tmp/gates_off/saver/settings.txt"
grep -qiE '^set[a-z]+=true' "$tmp/gates_off/saver/settings.txt" && fail "a gate is still on"
"$saverpack" build "$tmp/gates_off/saver" "$tmp/gates_off/Quenvale Demo.scr" >/dev/null ||
  { echo "FAIL: saverpack could not pack the gates-off copy"; exit 1; }
if [[ -n $engine ]]; then
  ln -s "$engine" "$tmp/demo/Quenvale Demo"
  ln -s "$engine" "$tmp/gates_off/Quenvale Demo"
fi

if [[ -n $engine ]]; then echo "the dialog runs through $engine"; else
  echo "the dialog runs through $probe"; fi
caption="Configure $(sed -n 's/^title=//p' "$demo/settings.txt" | tr -d '\r')"
settings_file="$XDG_CONFIG_HOME/quenvale/Software/Quenvale Demo.reg"

# start_dialog FOLDER [SWITCHES...]: starts the dialog on that folder's saver, sets dialog_pid.
start_dialog() {
  local folder=$1
  shift
  if [[ -n $engine ]]; then
    "$folder/Quenvale Demo" "$@" >"$tmp/dialog.out" 2>&1 &
  else
    "$probe" "$folder/Quenvale_Demo.dat" "$@" >"$tmp/dialog.out" 2>&1 &
  fi
  dialog_pid=$!
}

# find_window PID: the id of the dialog window of that process, once it is mapped.
find_window() {
  local id
  for _ in $(seq 100); do
    id=$(xdotool search --all --onlyvisible --pid "$1" --name "^$caption\$" 2>/dev/null | head -n1)
    [[ -n $id ]] && { echo "$id"; return 0; }
    kill -0 "$1" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# no_window WHAT: fails, saying whether the dialog was still running and what it printed.
no_window() {
  local state="still running"
  kill -0 "$dialog_pid" 2>/dev/null || state="ended"
  finish
  fail "$1 showed no window ($state, exit code $code): $(cat "$tmp/dialog.out")"
}

# window_height ID
window_height() {
  xdotool getwindowgeometry "$1" | sed -n 's/.*Geometry: [0-9]*x\([0-9]*\).*/\1/p'
}

# finish: waits for the dialog to end and puts its exit code into $code.
finish() {
  code=
  for _ in $(seq 100); do
    kill -0 "$dialog_pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$dialog_pid" 2>/dev/null; then
    kill "$dialog_pid"
    wait "$dialog_pid" 2>/dev/null
    code=timeout
  else
    wait "$dialog_pid"
    code=$?
  fi
  dialog_pid=
  # GTK reports misuse on stderr and carries on: that is a fault all the same.
  if grep -E '(Gtk|Gdk|GLib|GLib-GObject|Pango)-(CRITICAL|WARNING)' "$tmp/dialog.out" >&2; then
    fail "GTK complained while the dialog ran"
  fi
}

# The dialog's buttons sit in the right half of the strip above the two bottom labels, which
# are 46 and 13 pixels high: click them from the window's bottom edge.
click_button() {  # ID ok|cancel
  local height x
  height=$(window_height "$1")
  if [[ $2 == ok ]]; then x=332; else x=421; fi
  xdotool mousemove --window "$1" "$x" $((height - 88 + 14)) click 1
}

focus() {
  xdotool windowfocus --sync "$1" 2>/dev/null || xdotool windowfocus "$1"
  sleep 0.3
}

# The stored values as "name=value" lines: numbers in decimal, texts with "\n" for line breaks.
stored_values() {
  python3 - "$settings_file" <<'EOF'
import re, sys
data = open(sys.argv[1], 'rb').read()
text = data.decode('utf-16') if data[:2] == b'\xff\xfe' else data.decode('utf-8')
lines = text.replace('\r\n', '\n').split('\n')
i = 0
while i < len(lines):
    line = lines[i]
    m = re.match(r'^"((?:[^"\\]|\\.)*)"=(.*)$', line)
    i += 1
    if not m:
        continue
    name, value = m.group(1), m.group(2)
    while value.endswith('\\') and i < len(lines):
        value = value[:-1] + lines[i].strip()
        i += 1
    if value.startswith('dword:'):
        out = str(int(value[6:], 16))
    elif value.startswith('"'):
        escapes = {'\\': '\\', '"': '"', 'r': '\r', 'n': '\n', '0': '\0'}
        out = re.sub(r'\\(.)', lambda e: escapes.get(e.group(1), '?'), value[1:-1])
    else:
        kind, _, hexes = value.partition(':')
        raw = bytes(int(h, 16) for h in hexes.split(',') if h)
        out = raw.decode('utf-16-le').rstrip('\0') if kind in ('hex(1)', 'hex(2)') else raw.hex()
    print('%s=%s' % (name, out.replace('\r\n', '\\n')))
EOF
}

# The value stored under a key name (the part after the section), ignoring case.
stored() {
  stored_values | python3 -c '
import sys
key = sys.argv[1].lower()
for line in sys.stdin:
    name, _, value = line.rstrip("\n").partition("=")
    if name.split(" ")[-1].lower() == key:
        print(value)
        break' "$1"
}

# --- /c: the dialog shows; OK stores every bound value as shown -----------------------------------
start_dialog "$tmp/demo" /c
if id=$(find_window "$dialog_pid"); then
  pass "/c shows the window \"$caption\""
  full_height=$(window_height "$id")
  sleep 0.5
  # A screenshot of the window: the client size the layout gives, and something drawn in it.
  import -window "$id" "$tmp/dialog.png"
  shot=$(convert "$tmp/dialog.png" -format '%w %h %[fx:standard_deviation]' info:)
  read -r shot_width shot_height spread <<<"$shot"
  [[ $shot_width == 470 && $shot_height == "$full_height" ]] ||
    fail "the screenshot is ${shot_width}x$shot_height, the window 470x$full_height"
  python3 -c "import sys; sys.exit(0 if float('$spread') > 0.05 else 1)" ||
    fail "the screenshot is flat (deviation $spread)"
  click_button "$id" ok
  finish
  [[ $code == 0 ]] || fail "OK: the dialog ended with $code: $(cat "$tmp/dialog.out")"
else
  no_window "/c"
  full_height=0
fi

if [[ -f $settings_file ]]; then
  # Every setting the demo lets the user change is stored, with the demo's default (nothing was
  # stored before), except the selected sets: "*all*" is shown as every set ticked, and OK stores
  # the ticked names in list order.
  expected_sets=$(for f in "$demo"/backgrounds/*; do b=${f##*/}; echo "${b%.*}"; done |
    tr 'A-Z' 'a-z' | sort -f | paste -sd ';')
  if ! python3 - "$demo/settings.txt" "$expected_sets" <(stored_values) <<'EOF'

import re, sys
settings, expected_sets, stored_path = sys.argv[1], sys.argv[2], sys.argv[3]
values = {}
gates = []
section = ''
for raw in open(settings, encoding='latin-1'):
    line = raw.split('//')[0].strip()
    if line.startswith('['):
        section = line.strip('[]').lower()
        continue
    key, sep, value = line.partition('=')
    if not sep or section == 'language':
        continue
    values[key.lower()] = value
    if key.lower().startswith('set') and value.lower() == 'true':
        gates.append(key[3:].lower())
stored = {}
for line in open(stored_path):
    name, _, value = line.rstrip('\n').partition('=')
    stored[name.split(' ')[-1].lower()] = value
bad = 0
checked = 0
# Gates of rows that show texts or the sets list, not settings.
dialog_rows = {'moreinfo', 'moreinfourl', 'shortcutkeys', 'sets'}
for key in gates:
    if key in dialog_rows:
        continue
    checked += 1
    want = values[key]
    got = stored.get(key)
    if got is None:
        print('FAIL: %s was not stored' % key); bad += 1; continue
    if key == 'selectedsets':
        want = expected_sets
    elif want.lower() in ('true', 'false'):
        want = '1' if want.lower() == 'true' else '0'
    elif want.startswith('$'):
        want = str(int(want[1:], 16))
    elif key.endswith('font'):
        # The font as loaded: same face, height, colour and style lines.
        got_lines = set(l.strip() for l in got.split('\\n'))
        missing = [p.strip() for p in want.split(';') if p.strip().startswith('Font.')
                   and p.strip() not in got_lines]
        if missing:
            print('FAIL: %s lost %s' % (key, missing)); bad += 1
        continue
    if got != want:
        print('FAIL: %s stored %r, the dialog showed %r' % (key, got, want)); bad += 1
for key in stored:
    if key not in gates:
        print('FAIL: %s was stored, yet the data file does not let the user change it' % key)
        bad += 1
print('ok: OK stored the %d bound values as shown' % checked if not bad else '')
sys.exit(1 if bad else 0)
EOF
  then
    failures=$((failures + 1))
  fi
else
  fail "OK stored no settings file"
fi
after_ok=$(stored_values 2>/dev/null)

# --- a change by keyboard, then Cancel: the values as loaded; the same change with OK: stored ---
# The first control has the focus when the window opens; Tab goes on to show background, the
# filename radio buttons, their font button, the clock radio buttons, their font button, then
# the bounce speed.
speed_key_presses() {  # ID TEXT
  focus "$1"
  xdotool key --delay 40 Tab Tab Tab Tab Tab Tab
  xdotool key ctrl+a
  xdotool type --delay 40 "$2"
  xdotool key Tab
  sleep 0.2
}
loaded_speed=$(stored Speed)
start_dialog "$tmp/demo" /c
if id=$(find_window "$dialog_pid"); then
  speed_key_presses "$id" 77
  click_button "$id" cancel
  finish
  [[ $code == 0 ]] || fail "Cancel: the dialog ended with $code"
  [[ $(stored_values) == "$after_ok" ]] &&
    pass "Cancel after a change stored the values as loaded (Speed $loaded_speed)" ||
    fail "Cancel changed the stored values: $(diff <(echo "$after_ok") <(stored_values))"
else
  no_window "the second /c"
fi

# Typed beyond the range, confirmed with the OK button's access key: clamped to 10000.
start_dialog "$tmp/demo" /c
if id=$(find_window "$dialog_pid"); then
  speed_key_presses "$id" 99999
  xdotool key alt+o
  finish
  [[ $code == 0 ]] || fail "Alt+O: the dialog ended with $code"
  speed=$(stored Speed)
  [[ $speed == 10000 ]] && pass "the same keys with OK stored Speed 99999 clamped to $speed" ||
    fail "typed 99999 into the speed box, OK stored Speed '$speed'"
else
  no_window "the third /c"
fi

# --- the colour and font choosers ---------------------------------------------------------------
# wait_window NAME: the id of a visible window with exactly that name.
wait_window() {
  local id
  for _ in $(seq 50); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1)
    [[ -n $id ]] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}
loaded_color=$(stored BackgroundColor)
loaded_font=$(stored filenameFont)
start_dialog "$tmp/demo" /c
if id=$(find_window "$dialog_pid"); then
  focus "$id"
  # The first control, "Set background Color", has the focus.
  xdotool key space
  if chooser=$(wait_window "Set background Color"); then
    focus "$chooser"
    xdotool key alt+s  # Select
  else
    fail "no colour chooser"
  fi
  sleep 0.3
  focus "$id"
  xdotool key --delay 40 Tab Tab Tab space
  if chooser=$(wait_window "Set Filename Font"); then
    focus "$chooser"
    xdotool key alt+s
  else
    fail "no font chooser"
  fi
  sleep 0.3
  focus "$id"
  xdotool key alt+o
  finish
  [[ $code == 0 ]] || fail "the chooser run ended with $code"
  # The colour chooser starts from its own last colour, black the first time, not the swatch's.
  color=$(stored BackgroundColor)
  [[ $loaded_color != 0 && $color == 0 ]] &&
    pass "the colour chooser, confirmed at once, gave black (the swatch held $loaded_color)" ||
    fail "the colour chooser gave $color; the swatch held $loaded_color"
  # The font chooser starts from the preview's font; what it cannot show (the colour) stays.
  font=$(stored filenameFont)
  missing=
  # Confirmed unchanged, the face keeps its name even where the chooser showed a stand-in.
  for line in 'Font.Color = ' 'Font.Height = ' 'Font.Style = ' 'Font.Name = '; do
    want=$(tr '\\' '\n' <<<"${loaded_font//\\n/\\}" | grep -F "$line")
    grep -qF "$want" <<<"${font//\\n/$'\n'}" || missing+=" [$want]"
  done
  [[ -z $missing && $font == *"Font.Name = '"?*"'"* ]] &&
    pass "the font chooser kept the filename font's face, size, style and colour" ||
    fail "after the font chooser the filename font lost$missing: $font"
else
  no_window "the chooser run"
fi

# --- every gate off: a shorter window --------------------------------------------------------
start_dialog "$tmp/gates_off" /c
if id=$(find_window "$dialog_pid"); then
  short_height=$(window_height "$id")
  ((short_height > 0 && short_height < full_height)) &&
    pass "every gate off: $short_height pixels high instead of $full_height" ||
    fail "every gate off: $short_height pixels high, the full dialog $full_height"
  click_button "$id" cancel
  finish
  [[ $code == 0 ]] || fail "the gates-off dialog ended with $code"
else
  no_window "the gates-off data file"
fi

# --- /c:ID: transient for the host's window; the title link opens its address ------------------
# The host window is the probe's dialog (the engine lets only one instance of itself run).
"$probe" "$tmp/gates_off/Quenvale_Demo.dat" /c >"$tmp/host.out" 2>&1 &
host_pid=$!
if host=$(find_window "$host_pid"); then
  start_dialog "$tmp/demo" "/c:$host"
  if child=$(find_window "$dialog_pid"); then
    transient=$(xprop -id "$child" WM_TRANSIENT_FOR 2>/dev/null | sed -n 's/.*window id # //p')
    [[ -n $transient ]] && ((transient == host)) && pass "/c:$host: transient for that window" ||
      fail "/c:$host: WM_TRANSIENT_FOR is '$transient'"
    # The desktop's handler for web addresses is a script that notes what it was given.
    cat >"$XDG_DATA_HOME/applications/quenvale-test-browser.desktop" <<EOF
[Desktop Entry]
Type=Application
Name=Quenvale test browser
Exec=sh -c 'echo "\$1" >>"$tmp/opened"' sh %u
MimeType=x-scheme-handler/http;
NoDisplay=true
EOF
    printf '[Default Applications]\nx-scheme-handler/http=quenvale-test-browser.desktop\n' \
      >"$XDG_CONFIG_HOME/mimeapps.list"
    xdotool mousemove --window "$child" 235 18 click 1
    want_url="http://$(sed -n 's/^url=//p' "$demo/settings.txt" | tr -d '\r')"
    for _ in $(seq 50); do [[ -s $tmp/opened ]] && break; sleep 0.1; done
    [[ $(cat "$tmp/opened" 2>/dev/null) == "$want_url" ]] && pass "the title opened $want_url" ||
      fail "the title link opened '$(cat "$tmp/opened" 2>/dev/null)', not $want_url"
    click_button "$child" cancel
    finish
    [[ $code == 0 ]] || fail "the transient dialog ended with $code: $(tail -n 20 "$tmp/dialog.out")"
  else
    no_window "/c:$host"
  fi
  click_button "$host" cancel
else
  fail "the host dialog showed no window: $(cat "$tmp/host.out")"
fi
dialog_pid=$host_pid
host_pid=
finish

# --- no display: a message and exit code 1 ------------------------------------------------------
(
  unset DISPLAY
  start_dialog "$tmp/demo" /c
  finish
  [[ $code == 1 ]] && grep -qi display "$tmp/dialog.out"
) && pass "without a display: exit code 1 and a message" ||
  fail "without a display: $(cat "$tmp/dialog.out")"

if ((failures)); then
  echo "$failures failure(s)"
  exit 1
fi
echo "all dialog checks passed"
