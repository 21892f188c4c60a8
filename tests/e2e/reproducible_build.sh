#!/usr/bin/env bash
# Builds the launcher a second time from the same source tree in a fresh, temporary build
# folder with the same toolchain and payload inputs, and compares the two Vexo-Host.exe byte
# for byte. A difference means something path-, time- or order-dependent got into the image.
#
#   reproducible_build.sh CMAKE SOURCE_DIR REFERENCE_IMAGE [-DVAR=VALUE ...]
set -euo pipefail

cmake_cmd=$1
source_dir=$2
reference=$3
shift 3

[[ -s $reference ]] || { echo "FAIL: reference image $reference is missing" >&2; exit 1; }

# A deliberately different and longer path than the normal build folder.
scratch=$(mktemp -d "${TMPDIR:-/tmp}/vexo-reproducible-build.XXXXXXXX")
trap 'rm -rf -- "$scratch"' EXIT
build_dir=$scratch/second/build

"$cmake_cmd" -S "$source_dir" -B "$build_dir" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release "$@" >"$scratch/configure.log" 2>&1 ||
  { cat "$scratch/configure.log" >&2; exit 1; }
"$cmake_cmd" --build "$build_dir" --target vexo_launcher >"$scratch/build.log" 2>&1 ||
  { tail -50 "$scratch/build.log" >&2; exit 1; }

second=$build_dir/bin/Vexo-Host.exe
if cmp -- "$reference" "$second"; then
  echo "ok: $(stat -c %s "$reference") bytes, identical in both builds"
  exit 0
fi
echo "FAIL: the two builds differ" >&2
cmp -l -- "$reference" "$second" | head -20 >&2 || true
exit 1
