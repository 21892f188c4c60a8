#!/usr/bin/env bash
# Checks the PE header facts of a built Windows program with objdump, independently of the
# Windows API: x64, GUI subsystem, ASLR (high entropy), NX, and no link timestamp.
#
#   check_image_headers.sh OBJDUMP IMAGE
set -euo pipefail

objdump=$1
image=$2
[[ -s $image ]] || { echo "FAIL: $image does not exist or is empty" >&2; exit 1; }

# objdump prints the timestamp in local time; UTC makes 0 read as the epoch.
headers=$(TZ=UTC "$objdump" -p "$image")
failures=0

expect_line() {
  local description=$1 pattern=$2
  if grep -Eq -- "$pattern" <<<"$headers"; then
    echo "ok: $description"
  else
    echo "FAIL: $description (no line matching '$pattern')" >&2
    failures=$((failures + 1))
  fi
}

expect_line "x64 image" "file format pei-x86-64$"
expect_line "PE32+ optional header" "^Magic[[:space:]]+020b"
expect_line "no link timestamp" "^Time/Date[[:space:]]+Thu Jan  1 00:00:00 1970$"
expect_line "Windows GUI subsystem" "^Subsystem[[:space:]]+00000002[[:space:]]+\(Windows GUI\)"

characteristics=$(awk '/^DllCharacteristics/ {print $2}' <<<"$headers")
if [[ -z $characteristics ]]; then
  echo "FAIL: no DllCharacteristics line" >&2
  failures=$((failures + 1))
else
  # HIGH_ENTROPY_VA 0x20, DYNAMIC_BASE 0x40, NX_COMPAT 0x100.
  for flag in 0x20 0x40 0x100; do
    if (((16#$characteristics & flag) == flag)); then
      echo "ok: DllCharacteristics $characteristics has $flag"
    else
      echo "FAIL: DllCharacteristics $characteristics lacks $flag" >&2
      failures=$((failures + 1))
    fi
  done
fi

((failures == 0))
