#!/usr/bin/env bash
# The setup programs of saverpack installer under Wine: the demo's, run silently for every user,
# and one made here from a source folder whose title needs every NSIS escape (quotes, "$1",
# "${NSISDIR}", accents), run silently with /CURRENTUSER. Each round checks that
#   - the saver and its data file are in the system folder or the per-user folder, byte for byte
#     the engine and the data file, with the uninstaller beside them; the setup program and the
#     uninstaller carry the engine's icon;
#   - SCRNSAVE.EXE names the installed saver, ScreenSaveActive is 1, and the uninstall entry holds
#     the title, version, icon and uninstaller;
#   - the installed saver starts from there, finds its data file (a full-screen window under the
#     saver's title) and ends on a mouse move with exit code 0;
#   - the uninstaller removes the files, itself and the entry, and gives the previous saver back
#     (for every user) or keeps the one the user has chosen since (per user), leaving drive_c
#     and HKEY_CURRENT_USER as they were before the install.
# Then without /S the demo's first page shows under its title and Cancel installs nothing; with
# QUENVALE_INSTALLER_SCREENSHOT=FILE.png the page is saved there.
#   installer_test.sh WINE_RUN SETUP_EXE DEMO_DIR DEMO_SOURCE SAVERPACK ENGINE ENGINE_ICO MAKENSIS
set -euo pipefail
# shellcheck source=reg_query_lib.sh
source "$(dirname "$0")/reg_query_lib.sh"
# Wine's ANSI code page 1252 (the engine's names), its console's 437, file names in UTF-8.
export LC_ALL=C.UTF-8
wine_run=$1
demo_setup=$2
demo_dir=$3
demo_source=$4
saverpack=$5
engine=$6
engine_icon=$7
makensis=$8

fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "SKIP: $*"; exit 77; }
[[ -f $demo_setup ]] || skip "no $demo_setup (makensis was missing when the build was configured)"
for tool in xdotool import iconv; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done

repo=$(cd "$(dirname "$wine_run")/.." && pwd)
prefix=${QUENVALE_WINEPREFIX:-$repo/build/windows/wineprefix}
work=$(mktemp -d "${TMPDIR:-/tmp}/installer-test.XXXXXX")
desktop='HKCU\Control Panel\Desktop'
uninstall_list='Software\Microsoft\Windows\CurrentVersion\Uninstall'
started=()
installed=()      # Windows paths of the files an install puts in place, for the cleanup
settings_keys=()  # registry keys an install or a saver run may leave
made_folders=()   # per-user folders that were not there before, innermost first
declare -A original

# Wine's console text in UTF-8, without CRs.
wine_text() { "$wine_run" "$@" 2>/dev/null | tr -d '\r' | iconv -f CP437 -t UTF-8; }
# The data of value $2 under key $1; false when there is no such value.
value_of() {
  local out # read by data_of
  # shellcheck disable=SC2034
  out=$(wine_text reg query "$1" /v "$2") || return 1
  data_of "${2//./\\.}"
}
set_desktop() { "$wine_run" reg add "$desktop" /v "$1" /t REG_SZ /d "$2" /f >/dev/null; }
unix_path() { "$wine_run" winepath -u "$1" | tr -d '\r'; }

cleanup() {
  local pid path name
  for pid in "${started[@]}"; do kill "$pid" 2>/dev/null || true; done
  # Savers and uninstallers still running from an installed place, in this prefix only.
  for pid in $(pgrep -f '\.(scr|exe)' || true); do
    grep -qzx "WINEPREFIX=$prefix" "/proc/$pid/environ" 2>/dev/null || continue
    for path in "${installed[@]}"; do
      tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -qF "$path" && kill "$pid" 2>/dev/null
    done
  done
  for path in "${installed[@]}"; do rm -f "$(unix_path "$path")" 2>/dev/null || true; done
  for path in "${made_folders[@]}"; do rmdir "$path" 2>/dev/null || true; done
  for name in "${settings_keys[@]}"; do
    "$wine_run" reg delete "$name" /f >/dev/null 2>&1 || true
  done
  for name in SCRNSAVE.EXE ScreenSaveActive; do
    if [[ ${original[$name]:-absent} == absent ]]; then
      "$wine_run" reg delete "$desktop" /v "$name" /f >/dev/null 2>&1 || true
    else
      set_desktop "$name" "${original[$name]#set:}" 2>/dev/null || true
    fi
  done
  rm -rf "$work"
}
trap cleanup EXIT

own_display=${DISPLAY:-}
"$wine_run" cmd /c exit >/dev/null 2>&1 || fail "wine does not run"
if [[ -z $own_display ]]; then
  number=$(cat "$prefix/.quenvale-display" 2>/dev/null || true)
  [[ -n $number ]] || skip "no X display for the saver's windows"
  export DISPLAY=:$number
fi
xdotool getmouselocation >/dev/null 2>&1 || skip "the X display $DISPLAY does not answer"
screen=$(xwininfo -root | sed -n 's/^ *-geometry *\([0-9]*x[0-9]*\).*/\1/p')
cx=$((${screen%x*} / 2))
cy=$((${screen#*x} / 2))

for name in SCRNSAVE.EXE ScreenSaveActive; do
  if data=$(value_of "$desktop" "$name"); then original[$name]="set:$data"; else original[$name]=absent; fi
done
local_appdata=$(wine_text cmd /c echo %LOCALAPPDATA%)
[[ $local_appdata == [A-Z]:\\* ]] || fail "no LOCALAPPDATA folder in the prefix: $local_appdata"
user_folder="$local_appdata\\Programs\\ScreenSavers"
for path in "$user_folder" "$local_appdata\\Programs"; do
  unix=$(unix_path "$path")
  [[ -e $unix ]] || made_folders+=("$unix")
done

# drive_c (its temporary folders aside) and HKEY_CURRENT_USER, to compare after an uninstall.
snapshot() {
  (cd "$prefix/drive_c" && find . -path './users/*/Temp' -prune -o -path './windows/temp' -prune \
    -o -print | sort) >"$1.files"
  wine_text reg query HKCU /s >"$1.reg"
}

# Waits up to $2 seconds for the exit code of the run tagged $1.
wait_exit() {
  local tag=$1 seconds=$2 i
  for ((i = 0; i < seconds * 4; i++)); do
    [[ -s $work/$tag.code ]] && { cat "$work/$tag.code"; return 0; }
    sleep 0.25
  done
  return 1
}
launch() {
  local tag=$1
  shift
  ("$wine_run" "$@" >"$work/$tag.log" 2>&1 && rc=0 || rc=$?
    echo "$rc" >"$work/$tag.code") &
  started+=($!)
}

# Starts the installed saver $2 as Windows does (its path in SCRNSAVE.EXE, /s) and ends it: the
# window only comes up when the data file was found and read (without it, a box and exit code 1).
run_saver() {
  local tag=$1 path=$2 title=$3 i id="" candidate code=""
  xdotool mousemove "$cx" "$cy"
  launch "$tag" "$path" /s
  for ((i = 0; i < 240; i++)); do
    [[ -n $id ]] && break
    [[ -s $work/$tag.code ]] &&
      fail "$tag: the installed saver ended with exit code $(cat "$work/$tag.code") before showing"
    for candidate in $(xdotool search --onlyvisible --name . 2>/dev/null || true); do
      [[ $(xwininfo -id "$candidate" 2>/dev/null |
        sed -n 's/^ *-geometry *\([0-9]*x[0-9]*\).*/\1/p') == "$screen" ]] && id=$candidate
    done
    sleep 0.25
  done
  [[ -n $id ]] || fail "$tag: the installed saver showed no full-screen window"
  [[ $(xdotool getwindowname "$id") == "$title" ]] ||
    fail "$tag: the saver's window is \"$(xdotool getwindowname "$id")\", not \"$title\""
  sleep 2
  for ((i = 1; i <= 5; i++)); do
    xdotool mousemove $((cx + 3 * i)) $((cy + 3 * i))
    code=$(wait_exit "$tag" 4) && break
  done
  [[ $code == 0 ]] || fail "$tag: the installed saver did not end on a mouse move (${code:-running})"
}

# One install and uninstall. MODE is "all" or "user"; DATA the data file the setup packs.
round() {
  local tag=$1 setup=$2 mode=$3 title=$4 version=$5 scr=$6 dat=$7 data=$8
  local folder root args=(/S) stem=${scr%.scr}
  if [[ $mode == user ]]; then
    folder=$user_folder
    root=HKCU
    args=(/CURRENTUSER /S)
  else
    folder='C:\windows\system32'
    root=HKLM
  fi
  local unix_folder entry="$root\\$uninstall_list\\$scr" uninstaller="Uninstall $stem.exe"
  unix_folder=$(unix_path "$folder")
  [[ ! -e $unix_folder/$scr ]] || skip "the prefix has $folder\\$scr already"
  "$wine_run" reg query "$entry" >/dev/null 2>&1 && skip "the prefix has the entry $entry already"
  "$wine_run" reg query "HKCU\\Software\\$title" >/dev/null 2>&1 &&
    skip "the prefix has settings of \"$title\" already"

  local previous='C:\windows\system32\before.scr'
  set_desktop SCRNSAVE.EXE "$previous"
  set_desktop ScreenSaveActive 0
  snapshot "$work/$tag.before"
  installed+=("$folder\\$scr" "$folder\\$dat" "$folder\\$uninstaller")
  settings_keys+=("$entry" "HKCU\\Software\\$title")
  local started_at=$SECONDS
  "$wine_run" "$setup" "${args[@]}" || fail "$tag: the silent install ended with exit code $?"
  echo "$tag: installed in $((SECONDS - started_at)) s"

  cmp -s "$engine" "$unix_folder/$scr" || fail "$tag: $folder\\$scr is not the engine"
  cmp -s "$data" "$unix_folder/$dat" || fail "$tag: $folder\\$dat is not the saver's data file"
  [[ -f $unix_folder/$uninstaller ]] || fail "$tag: no $uninstaller in $folder"
  python3 - "$engine_icon" "$setup" "$unix_folder/$uninstaller" <<'PY' || fail "$tag: icon"
import struct, sys
ico = open(sys.argv[1], "rb").read()
count = struct.unpack_from("<H", ico, 4)[0]
images = [ico[offset:offset + size] for size, offset in
          (struct.unpack_from("<II", ico, 6 + 16 * i + 8) for i in range(count))]
for path in sys.argv[2:]:
    data = open(path, "rb").read()
    missing = [i for i, image in enumerate(images) if image not in data]
    if missing:
        sys.exit(f"{path} lacks images {missing} of the engine's icon")
PY

  local got
  got=$(value_of "$desktop" SCRNSAVE.EXE) || fail "$tag: no SCRNSAVE.EXE"
  [[ $got == "$folder\\$scr" ]] || fail "$tag: SCRNSAVE.EXE is \"$got\", not \"$folder\\$scr\""
  got=$(value_of "$desktop" ScreenSaveActive) || fail "$tag: no ScreenSaveActive"
  [[ $got == 1 ]] || fail "$tag: ScreenSaveActive is \"$got\""
  local value expected
  while IFS='|' read -r value expected; do
    got=$(value_of "$entry" "$value") || fail "$tag: no $value in $entry"
    [[ $got == "$expected" ]] || fail "$tag: $value is \"$got\", not \"$expected\""
  done <<EOF
DisplayName|$title
DisplayVersion|$version
DisplayIcon|$folder\\$scr,0
UninstallString|"$folder\\$uninstaller"
EOF
  echo "$tag: $folder\\$scr and $dat in place, the active saver, listed as \"$title\" $version"

  run_saver "$tag-saver" "$folder\\$scr" "$title"
  "$wine_run" reg delete "HKCU\\Software\\$title" /f >/dev/null 2>&1 || true
  echo "$tag: the installed saver ran with its data file and ended on a mouse move"

  # Per user, the user has chosen another saver since: the uninstall keeps it.
  local chosen='C:\windows\system32\chosen-since.scr'
  [[ $mode == user ]] && set_desktop SCRNSAVE.EXE "$chosen"
  # Run from a copy with _?= the uninstaller works in place and ends when it is done.
  cp "$unix_folder/$uninstaller" "$work/uninstall.exe"
  "$wine_run" "$work/uninstall.exe" /S "_?=$folder" || fail "$tag: the uninstall ended with exit code $?"
  rm -f "$work/uninstall.exe"
  local left
  for left in "$scr" "$dat" "$uninstaller"; do
    [[ ! -e $unix_folder/$left ]] || fail "$tag: the uninstall left $folder\\$left"
  done
  "$wine_run" reg query "$entry" >/dev/null 2>&1 && fail "$tag: the uninstall left $entry"
  if [[ $mode == user ]]; then
    [[ $(value_of "$desktop" SCRNSAVE.EXE) == "$chosen" ]] ||
      fail "$tag: the uninstall replaced the saver chosen since"
    [[ $(value_of "$desktop" ScreenSaveActive) == 1 ]] ||
      fail "$tag: the uninstall switched the saver chosen since off"
    set_desktop SCRNSAVE.EXE "$previous"
    set_desktop ScreenSaveActive 0
    echo "$tag: uninstalled; the saver chosen since stays"
  else
    [[ $(value_of "$desktop" SCRNSAVE.EXE) == "$previous" ]] ||
      fail "$tag: SCRNSAVE.EXE is \"$(value_of "$desktop" SCRNSAVE.EXE)\" after the uninstall"
    [[ $(value_of "$desktop" ScreenSaveActive) == 0 ]] ||
      fail "$tag: ScreenSaveActive is not 0 again after the uninstall"
    echo "$tag: uninstalled; the previous saver is back"
  fi
  snapshot "$work/$tag.after"
  diff -u "$work/$tag.before.files" "$work/$tag.after.files" ||
    fail "$tag: drive_c is not as before the install"
  diff -u "$work/$tag.before.reg" "$work/$tag.after.reg" ||
    fail "$tag: HKEY_CURRENT_USER is not as before the install"
}

demo_title=$(sed -n 's/^title=\(.*\)$/\1/p' "$demo_source/settings.txt" | head -n 1 | tr -d '\r')
demo_version=$(sed -n 's/^version=\(.*\)$/\1/p' "$demo_source/settings.txt" | head -n 1 | tr -d '\r')
round demo "$demo_setup" all "$demo_title" "$demo_version" "Quenvale Demo.scr" Quenvale_Demo.dat \
  "$demo_dir/Quenvale_Demo.dat"

# A title with every character the script must escape, in Windows-1252 as settings.txt holds it.
mkdir "$work/odd"
cp -r "$demo_source"/. "$work/odd/"
# shellcheck disable=SC2016 # the dollars are the title's
odd_title='Café "Crème" ${NSISDIR} $1'
# shellcheck disable=SC2016
sed -i 's/^title=[^\r]*/title=Caf\xe9 "Cr\xe8me" ${NSISDIR} $1/' "$work/odd/settings.txt"
"$wine_run" "$saverpack" installer "$work/odd" "$work/Setup Café.exe" --engine "$engine" \
  --script "$work/odd-nsis" >"$work/odd-pack.log" 2>&1 ||
  fail "saverpack installer --script failed: $(cat "$work/odd-pack.log")"
"$makensis" -V2 "$work/odd-nsis/installer.nsi" >"$work/odd-makensis.log" 2>&1 ||
  fail "makensis failed: $(cat "$work/odd-makensis.log")"
# shellcheck disable=SC2016
round odd "$work/odd-nsis/Setup Café.exe" user "$odd_title" "$demo_version" \
  'Café Crème ${NSISDIR} $1.scr' 'Café_Crème ${NSISDIR} $1.dat' "$work/odd-nsis/saver.dat"

# --- The first page, and Cancel -------------------------------------------------------------
launch gui "$demo_setup"
id=""
for ((i = 0; i < 240; i++)); do
  [[ -n $id ]] && break
  id=$(xdotool search --onlyvisible --name "^$demo_title Setup\$" 2>/dev/null | head -n 1 || true)
  sleep 0.25
done
[[ -n $id ]] || fail "no window \"$demo_title Setup\" without /S"
sleep 1
if [[ -n ${QUENVALE_INSTALLER_SCREENSHOT:-} ]]; then
  geometry=$(xwininfo -id "$id" | sed -n 's/^ *-geometry *\([0-9x+-]*\).*/\1/p')
  import -window root -crop "$geometry" +repage "$QUENVALE_INSTALLER_SCREENSHOT"
  echo "the first page: $QUENVALE_INSTALLER_SCREENSHOT"
fi
code=""
for ((i = 0; i < 5; i++)); do
  xdotool windowfocus "$id" 2>/dev/null || true
  sleep 1.5
  xdotool key Escape 2>/dev/null || true
  code=$(wait_exit gui 4) && break
done
[[ $code == 1 ]] || fail "Cancel on the first page: exit code ${code:-none}, wanted 1"
[[ ! -e $prefix/drive_c/windows/system32/Quenvale\ Demo.scr ]] || fail "Cancel installed the saver"
echo "without /S: the first page under \"$demo_title Setup\"; Cancel installs nothing"
echo "PASS"
