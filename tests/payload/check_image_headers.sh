#!/usr/bin/env bash
# Checks the PE header facts of a built Windows program with objdump, independently of the
# Windows API: x64, GUI subsystem, ASLR (high entropy), NX, and no link timestamp; with
# "stripped", also no symbol table and no debug information (the launcher customers download).
#
#   check_image_headers.sh OBJDUMP IMAGE [stripped]
set -euo pipefail
[[ -s $2 ]] || { echo "FAIL: $2 does not exist or is empty" >&2; exit 1; }
# objdump prints the timestamp in local time; UTC makes 0 read as the epoch.
headers=$(TZ=UTC "$1" -p "$2")
failures=0
# description | pattern of one line of the headers
checks=(
  "x64 image|file format pei-x86-64$"
  "PE32+ optional header|^Magic[[:space:]]+020b"
  "no link timestamp|^Time/Date[[:space:]]+Thu Jan  1 00:00:00 1970$"
  "Windows GUI subsystem|^Subsystem[[:space:]]+00000002[[:space:]]+\(Windows GUI\)"
)
if [[ ${3:-} == stripped ]]; then
  headers+=$'\n'$("$1" -h "$2" | awk '/ \.debug_/ {n++} END {print "debug sections " n + 0}')
  checks+=("no symbol table|^[[:space:]]+symbols stripped$" "no debug information|^debug sections 0$")
fi
for check in "${checks[@]}"; do
  grep -Eq -- "${check#*|}" <<<"$headers" || { echo "FAIL: ${check%%|*}" >&2; failures=$((failures + 1)); }
done
# HIGH_ENTROPY_VA 0x20, DYNAMIC_BASE 0x40, NX_COMPAT 0x100.
characteristics=$(awk '/^DllCharacteristics/ {print $2}' <<<"$headers")
(( (16#${characteristics:-0} & 0x160) == 0x160 )) ||
  { echo "FAIL: DllCharacteristics '$characteristics' lacks one of 0x20 0x40 0x100" >&2; failures=$((failures + 1)); }
((failures == 0)) && echo "ok: every header fact holds"
