#!/usr/bin/env bash
# Drives resources/assemble_payload.cmake as the build does: good inputs are staged verbatim
# and their digests land in the header; a missing, empty or folder input stops the build
# with a message naming the cache variable and the path.
#
#   payload_assembly_test.sh CMAKE ASSEMBLE_SCRIPT
set -euo pipefail

cmake_cmd=$1
script=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/vexo-payload-assembly.XXXXXXXX")
trap 'rm -rf -- "$work"' EXIT

variables=(VEXO_PAYLOAD_HOST VEXO_PAYLOAD_ICON VEXO_PAYLOAD_FONT_REGULAR VEXO_PAYLOAD_FONT_BOLD
           VEXO_PAYLOAD_FONT_EXTRABOLD VEXO_PAYLOAD_FONT_LICENSE VEXO_PAYLOAD_FONT_NOTICE
           VEXO_PAYLOAD_OPENSSL_LICENSE VEXO_UPDATE_NLOHMANN_LICENSE)
staged=(Vexo-Host.exe assets/ppcappicon.ico assets/fonts/NanumSquareR.ttf
        assets/fonts/NanumSquareB.ttf assets/fonts/NanumSquareEB.ttf assets/fonts/OFL.txt
        assets/fonts/FONT_NOTICE.txt OPENSSL_LICENSE.txt nlohmann_json_LICENSE.txt)
constants=(kHost kIcon kFontRegular kFontBold kFontExtraBold kFontLicense kFontNotice
           kOpensslLicense "")

mkdir -p "$work/inputs" "$work/a folder"
: >"$work/empty"
for i in "${!variables[@]}"; do
  printf 'content of input %d\n' "$i" >"$work/inputs/$i"
done
printf 'MZ stands in for a Windows program\n' >"$work/inputs/0"

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# Runs the script with every input good except input $1, which is replaced by $2.
# Prints the script's output; returns its exit status.
assemble() {
  local replaced=$1 replacement=$2 out=$3
  local arguments=(-DSTAGING_DIR="$out/files" -DDIGEST_HEADER="$out/payload_digests.h")
  for i in "${!variables[@]}"; do
    local path=$work/inputs/$i
    [[ $i == "$replaced" ]] && path=$replacement
    arguments+=("-D${variables[$i]}=$path")
  done
  "$cmake_cmd" "${arguments[@]}" -P "$script" 2>&1
}

# Good inputs: staged verbatim, digests in catalogue order equal sha256sum of the inputs.
out=$work/good
if ! log=$(assemble none "" "$out"); then
  fail "good inputs were refused: $log"
else
  for i in "${!variables[@]}"; do
    cmp -s "$work/inputs/$i" "$out/files/${staged[$i]}" || fail "${staged[$i]} not staged verbatim"
    [[ -n ${constants[$i]} ]] || continue
    digest=$(sha256sum "$work/inputs/$i" | cut -d' ' -f1)
    grep -qx "inline constexpr char ${constants[$i]}\[\] = \"$digest\";" "$out/payload_digests.h" ||
      fail "${constants[$i]} is not the SHA-256 of its input"
  done
  order=$(grep -o 'char k[A-Za-z]*' "$out/payload_digests.h" | cut -c6- | tr '\n' ' ')
  [[ $order == "kHost kIcon kFontRegular kFontBold kFontExtraBold kFontLicense kFontNotice kOpensslLicense " ]] ||
    fail "header constants out of order: $order"
fi

# Bad inputs, one at a time, for payload files and for the licence beside them.
bad_cases=(
  "0|$work/no such file|is missing or not a file"
  "0|$work/inputs/1|is not a Windows program"
  "5|$work/empty|is empty"
  "8|$work/empty|is empty"
  "3|$work/a folder|is missing or not a file"
  "7||is not set"
)
for row in "${bad_cases[@]}"; do
  IFS='|' read -r index replacement expected <<<"$row"
  out=$work/bad-$index
  if log=$(assemble "$index" "$replacement" "$out"); then
    fail "${variables[$index]}='$replacement' was accepted"
  elif ! grep -q "Payload input ${variables[$index]} $expected" <<<"$log"; then
    fail "${variables[$index]}='$replacement': message lacks '$expected': $log"
  elif [[ -e $out/payload_digests.h ]]; then
    fail "${variables[$index]}='$replacement': a digest header was written anyway"
  else
    echo "ok: ${variables[$index]}='$replacement' refused: $expected"
  fi
done

((failures == 0)) && echo "ok: all payload assembly cases"
((failures == 0))
