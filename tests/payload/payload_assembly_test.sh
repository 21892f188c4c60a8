#!/usr/bin/env bash
# Drives resources/assemble_payload.cmake as the build does: a missing, empty, unset, folder or
# non-program input stops the build with a message naming the cache variable, and writes no
# header. (That good inputs are staged verbatim with their digests is the built launcher's own
# --verify-payload, run end to end, and the reproducible-build test.)
#
#   payload_assembly_test.sh CMAKE ASSEMBLE_SCRIPT
set -euo pipefail
cmake_cmd=$1
script=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/vexo-payload-assembly.XXXXXXXX")
trap 'rm -rf -- "$work"' EXIT

inputs=(VEXO_PAYLOAD_HOST VEXO_PAYLOAD_ICON VEXO_PAYLOAD_FONT_REGULAR VEXO_PAYLOAD_FONT_BOLD
        VEXO_PAYLOAD_FONT_EXTRABOLD VEXO_PAYLOAD_FONT_LICENSE VEXO_PAYLOAD_FONT_NOTICE
        VEXO_PAYLOAD_OPENSSL_LICENSE VEXO_UPDATE_NLOHMANN_LICENSE)
mkdir -p "$work/in" "$work/a folder"
: >"$work/empty"
for i in "${!inputs[@]}"; do printf 'content of input %d\n' "$i" >"$work/in/$i"; done
printf 'MZ stands in for a Windows program\n' >"$work/in/0"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# Runs the script with every input good except input $1, replaced by $2, into folder $3.
assemble() {
  local arguments=(-DSTAGING_DIR="$3/files" -DDIGEST_HEADER="$3/payload_digests.h")
  for i in "${!inputs[@]}"; do
    local path=$work/in/$i
    [[ $i == "$1" ]] && path=$2
    arguments+=("-D${inputs[$i]}=$path")
  done
  "$cmake_cmd" "${arguments[@]}" -P "$script" 2>&1
}

# input index | replacement | expected message
for row in "0|$work/no such file|is missing or not a file" "0|$work/in/1|is not a Windows program" \
  "5|$work/empty|is empty" "8|$work/empty|is empty" "3|$work/a folder|is missing or not a file" \
  "7||is not set"; do
  IFS='|' read -r index replacement expected <<<"$row"
  variable=${inputs[$index]}
  out=$work/bad-$index
  if log=$(assemble "$index" "$replacement" "$out"); then
    fail "$variable='$replacement' was accepted"
  elif ! grep -q "Payload input $variable $expected" <<<"$log" || [[ -e $out/payload_digests.h ]]; then
    fail "$variable='$replacement': no '$expected', or a header was written: $log"
  fi
done
((failures == 0)) && echo "ok: all payload assembly cases"
