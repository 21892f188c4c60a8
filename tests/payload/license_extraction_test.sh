#!/usr/bin/env bash
# Drives resources/extract_license.py on the installed packages' copyright files and on
# crafted ones: the real texts come out un-indented and whole; a file that lacks the expected
# licence, or carries a cut-off one, fails without writing anything.
#
#   license_extraction_test.sh PYTHON EXTRACT_SCRIPT FONTS_COPYRIGHT NLOHMANN_COPYRIGHT
set -euo pipefail

python=$1
script=$2
fonts_copyright=$3
nlohmann_copyright=$4
work=$(mktemp -d "${TMPDIR:-/tmp}/vexo-license-extraction.XXXXXXXX")
trap 'rm -rf -- "$work"' EXIT

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# The real inputs.
if "$python" "$script" ofl "$fonts_copyright" "$work/OFL.txt"; then
  head -n 1 "$work/OFL.txt" | grep -q '^Copyright (c) ' || fail "OFL.txt does not start with the copyright notice"
  grep -qx 'SIL OPEN FONT LICENSE' "$work/OFL.txt" || fail "OFL.txt lacks its title line"
  grep -qx 'OTHER DEALINGS IN THE FONT SOFTWARE.' "$work/OFL.txt" || fail "OFL.txt is cut off"
  ! grep -q '^ ' "$work/OFL.txt" || fail "OFL.txt keeps the copyright file's indentation"
  ! grep -qx '\.' "$work/OFL.txt" || fail "OFL.txt keeps ' .' paragraph markers"
  ! grep -q 'debian\|GPL' "$work/OFL.txt" || fail "OFL.txt runs into the next paragraph"
else
  fail "the OFL text of $fonts_copyright was not extracted"
fi
if "$python" "$script" mit "$nlohmann_copyright" "$work/MIT.txt"; then
  [[ $(head -n 1 "$work/MIT.txt") == "MIT License" ]] || fail "MIT text lacks its title"
  grep -q '^Copyright (c) .*Niels Lohmann$' "$work/MIT.txt" || fail "MIT text lacks the holder"
  grep -q '^SOFTWARE\.$' "$work/MIT.txt" || fail "MIT text is cut off"
  ! grep -q 'BSD\|Illinois' "$work/MIT.txt" || fail "MIT text runs into another licence"
else
  fail "the MIT text of $nlohmann_copyright was not extracted"
fi

# Crafted inputs that must be refused: kind | file content | expected message.
write_case() { printf '%b' "$2" >"$work/$1"; }
write_case gpl 'Files: *\nCopyright: 2020 Someone\nLicense: GPL-2\n Some text.\n'
write_case cut 'Files: *\nCopyright: 2010 X\nLicense: OFL-1.1\n SIL OPEN FONT LICENSE\n .\n Version 1.1\n'
write_case no_expat 'Files: *\nCopyright: 2013 Y\nLicense: Expat\n\nLicense: BSD-3-clause\n Redistribution...\n'
write_case no_grant 'Files: *\nCopyright: 2013 Y\nLicense: Expat\n\nLicense: Expat\n Do what you like.\n'
write_case no_files 'Format: x\n\nLicense: Expat\n Permission is hereby granted, free of charge\n'
bad_cases=(
  "ofl|gpl|does not carry the OFL-1.1 text"
  "ofl|cut|OFL text lacks 'PERMISSION & CONDITIONS'"
  "mit|no_expat|no stand-alone \"License: Expat\" paragraph"
  "mit|no_grant|Expat text lacks its grant of permission"
  "mit|no_files|no \"Files: \\*\" paragraph"
  "ofl|missing|No such file"
)
for row in "${bad_cases[@]}"; do
  IFS='|' read -r kind name expected <<<"$row"
  output=$work/out-$name
  if log=$("$python" "$script" "$kind" "$work/$name" "$output" 2>&1); then
    fail "$kind from $name was accepted"
  elif ! grep -q -- "$expected" <<<"$log"; then
    fail "$kind from $name: message lacks '$expected': $log"
  elif [[ -e $output ]]; then
    fail "$kind from $name: an output was written anyway"
  else
    echo "ok: $kind from $name refused: $expected"
  fi
done

((failures == 0)) && echo "ok: all licence extraction cases"
((failures == 0))
