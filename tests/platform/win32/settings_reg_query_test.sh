#!/usr/bin/env bash
# The saver settings as the registry holds them after a run, read with Wine's own reg tool: every
# gated setting of the demo saver is there with its type, a boolean stored as 2 comes back as 1,
# and a change made during a run is what the next run loads.
#   settings_reg_query_test.sh WINE_RUN SETTINGS_PROBE_EXE DEMO_SETTINGS_TXT
set -euo pipefail
# shellcheck source=reg_query_lib.sh
source "$(dirname "$0")/reg_query_lib.sh"
wine_run=$1
probe=$2
settings=$3

title="Quenvale Tests Settings $$-$RANDOM"
key="HKCU\\Software\\$title"
fail() { echo "FAIL: $*" >&2; exit 1; }
trap '"$wine_run" reg delete "$key" /f >/dev/null 2>&1 || true' EXIT

# A stored boolean of 2 reads as true and is written back as 1.
"$wine_run" reg add "$key" /v "bounce bounceImages" /t REG_DWORD /d 2 /f >/dev/null ||
  fail "reg add failed"
first=$("$wine_run" "$probe" "$title" "$settings" bump) || fail "settings_probe failed"
[[ $(tr -d '\r' <<<"$first") == "nrImages=6 bounceImages=1" ]] || fail "first run loaded: $first"

out=$("$wine_run" reg query "$key") || fail "reg query failed"
printf '%s\n' "$out"
check_bound_setting_types
[[ $(data_of "bounce bounceImages") == 0x1 ]] || fail "bounceImages written back as $(data_of "bounce bounceImages")"
[[ $(data_of "bounce nrImages") == 0x7 ]] || fail "nrImages not stored one higher"
[[ $(data_of "General BackgroundColor") == 0x402010 ]] || fail "BackgroundColor $(data_of "General BackgroundColor")"
[[ $(data_of "sets selectedSets") == "*all*" ]] || fail "selectedSets $(data_of "sets selectedSets")"
# The font text holds real line breaks: its first line stands alone.
[[ $(data_of "ClockSettings clockFont") == "object TFontDialog" ]] || fail "clockFont is not multi-line"

second=$("$wine_run" "$probe" "$title" "$settings") || fail "second settings_probe failed"
[[ $(tr -d '\r' <<<"$second") == "nrImages=7 bounceImages=1" ]] || fail "second run loaded: $second"
echo "every gated setting stored with its type; the next run loads the stored values"
