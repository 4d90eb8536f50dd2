# Reading `reg query` listings in the Wine tests; sourced. The listing is in $out: one value per
# line, its name, its type and its data.

# The type of value $1 (REG_DWORD, REG_SZ, ...).
type_of() {
  grep -E "^[[:space:]]+$1[[:space:]]+REG_" <<<"$out" | head -n 1 |
    sed -E "s/^[[:space:]]+$1[[:space:]]+(REG_[A-Z_]+).*/\1/"
}

# The data of value $1 as reg shows it (the first line of a multi-line string).
data_of() {
  grep -E "^[[:space:]]+$1[[:space:]]+REG_" <<<"$out" | head -n 1 |
    sed -E "s/^[[:space:]]+$1[[:space:]]+REG_[A-Z_]+[[:space:]]*//" | tr -d '\r'
}

# Every setting the demo saver binds is in the listing with its type; `fail` is the caller's.
check_bound_setting_types() {
  local name
  for name in "clocksettings clock" "General BackgroundColor" "bounce bounceImages" \
    "bounce nrImages" "bounce Speed" "bounce fixedSpeed" "General showBackground" \
    "sets SetTime" "FilenameSettings filename" "backgrounds stretchSmallImages"; do
    [[ $(type_of "$name") == REG_DWORD ]] || fail "$name is not stored as a REG_DWORD"
  done
  for name in "sets selectedSets" "ClockSettings clockFont" "FilenameSettings filenameFont"; do
    [[ $(type_of "$name") == REG_SZ ]] || fail "$name is not stored as a REG_SZ"
  done
}
