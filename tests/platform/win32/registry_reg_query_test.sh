#!/usr/bin/env bash
# RegistryValueStore's writes as Wine's own reg tool lists them: registry_probe writes a DWORD,
# a string with CR LF inside and 8 bytes under a fresh key, `reg query` must show each with its
# type and data, and `reg delete` removes the key again.
#   registry_reg_query_test.sh WINE_RUN REGISTRY_PROBE_EXE
set -euo pipefail
wine_run=$1
probe=$2

key="Software\\Quenvale Tests\\probe-$$-$RANDOM"
fail() { echo "FAIL: $*" >&2; exit 1; }
trap '"$wine_run" reg delete "HKCU\\$key" /f >/dev/null 2>&1 || true' EXIT

# Fresh data each run; the DWORD's top bit set, so that it must be shown unsigned.
dword=$(( (RANDOM << 16 | RANDOM) | 0x80000000 ))
line1="first line $RANDOM"
line2="second line $RANDOM"
hex=$(od -An -N8 -tx1 /dev/urandom | tr -d ' \n' | tr a-f A-F)

"$wine_run" "$probe" "$key" "$dword" "$line1" "$line2" "$hex" || fail "registry_probe failed"
out=$("$wine_run" reg query "HKCU\\$key") || fail "reg query failed"
printf '%s\n' "$out"

# One field of reg's listing per line: name, type, data; blanks inside the data stay.
value_line() {
  grep -E "^[[:space:]]+$1[[:space:]]+$2[[:space:]]" <<<"$out" | head -n 1 |
    sed -E "s/^[[:space:]]+$1[[:space:]]+$2[[:space:]]+//"
}

got=$(value_line Count REG_DWORD | tr -d '\r')
want=$(printf '0x%x' "$dword")
[[ $got == "$want" ]] || fail "Count: expected $want, got '$got'"

got=$(value_line Blob REG_BINARY | tr -d '\r')
[[ $got == "$hex" ]] || fail "Blob: expected $hex, got '$got'"

# The string's own CR LF breaks reg's line: the first part ends in CR, the next line is line 2.
got=$(value_line Text REG_SZ)
[[ $got == "$line1"$'\r' ]] || fail "Text: expected '$line1' ending in CR, got '$got'"
grep -qxE "$line2"$'\r?' <<<"$out" || fail "Text: no line '$line2' after the first"

"$wine_run" reg delete "HKCU\\$key" /f >/dev/null || fail "reg delete failed"
if "$wine_run" reg query "HKCU\\$key" >/dev/null 2>&1; then fail "the key is still there"; fi
echo "reg query shows REG_DWORD, REG_SZ and REG_BINARY as written"
