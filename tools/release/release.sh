#!/usr/bin/env bash
# Makes a release of the launcher from one commit: builds the `release` preset twice, from two
# exports of the commit in different folders, and requires the two images to be identical byte
# for byte; signs the image with Authenticode (osslsigncode) and verifies the signature and that
# it covers exactly the reproducible image; then writes the update tree the update server
# publishes (vexo-update publish, as the next release for a rollout) and prints the server's next
# steps. docs/releasing.md is the step-by-step for a release engineer.
#
#   scripts/release --host-program FILE --update-public-key FILE --update-private-key FILE
#                   --update-host NAME --sequence N [--valid-days N]
#                   --sign-cert FILE --sign-key KEY [--pkcs11-module FILE] [--sign-pass-file FILE]
#                   --sign-trust FILE (--timestamp-url URL | --no-timestamp)
#                   [--commit REV] --out DIR [-- CMAKE_OPTION ...]
#
# Writes DIR only when every step passed (DIR must not exist yet):
#   DIR/Vexo-Host.exe            the signed launcher: what customers download
#   DIR/unsigned/Vexo-Host.exe   the reproducible image, as both builds made it
#   DIR/site/                    the update tree to publish: the program file and the next manifest
#   DIR/release.txt, DIR/SHA256SUMS, DIR/logs/
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)

# Text the signature carries as the program's name. osslsigncode stores it as an ASCII string,
# so it must be ASCII: Korean text would be shown garbled in the consent prompt.
readonly kSignatureDescription="Vexo Host"
readonly kLauncher="Vexo-Host.exe"
readonly kDigestPattern='^[0-9A-F]{64}$'
# extract-data, which the coverage check uses, came with osslsigncode 2.8.
readonly kMinSigntoolMajor=2 kMinSigntoolMinor=8

fail() {
  echo "release: $*" >&2
  exit 1
}
usage() {
  sed -n '8,12p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
}

declare -A option=([--commit]=HEAD [--valid-days]=30)
cmake_options=()
timestamp=""
while (($# > 0)); do
  case $1 in
  --host-program | --update-public-key | --update-private-key | --update-host | --sequence | \
    --valid-days | --sign-cert | --sign-key | --pkcs11-module | --sign-pass-file | \
    --sign-trust | --timestamp-url | --commit | --out)
    (($# >= 2)) && [[ -n $2 ]] || fail "$1 needs a value"
    option[$1]=$2
    shift 2
    ;;
  --no-timestamp)
    timestamp=none
    shift
    ;;
  --)
    shift
    cmake_options=("$@")
    break
    ;;
  *) usage ;;
  esac
done

# Every input is named, exists and is a non-empty file; the output folder is new.
check_inputs() {
  local name
  for name in --host-program --update-public-key --update-private-key --update-host --sequence \
    --sign-cert --sign-key --sign-trust --out; do
    [[ -n ${option[$name]:-} ]] || fail "$name is required (see docs/releasing.md)"
  done
  for name in --host-program --update-public-key --update-private-key --sign-cert --sign-trust \
    --pkcs11-module --sign-pass-file; do
    [[ -z ${option[$name]:-} || -s ${option[$name]} ]] ||
      fail "$name ${option[$name]} is missing or empty"
  done
  [[ ${option[--sign-key]} == pkcs11:* || -s ${option[--sign-key]} ]] ||
    fail "--sign-key must be a key file or a pkcs11: URI"
  # Their ranges are vexo-update's to check; a typo should not wait for two builds.
  for name in --sequence --valid-days; do
    [[ ${option[$name]} =~ ^[1-9][0-9]*$ ]] || fail "$name must be a decimal number, not ${option[$name]}"
  done
  # The builds run in other folders: every file by its full path from here on.
  for name in --host-program --update-public-key --update-private-key --sign-cert --sign-trust \
    --pkcs11-module --sign-pass-file --sign-key --out; do
    [[ -z ${option[$name]:-} || ${option[$name]} == pkcs11:* ]] ||
      option[$name]=$(realpath -m -- "${option[$name]}")
  done
  if [[ -n ${option[--timestamp-url]:-} ]]; then
    [[ -z $timestamp ]] || fail "give --timestamp-url or --no-timestamp, not both"
    timestamp=${option[--timestamp-url]}
  fi
  [[ -n $timestamp ]] ||
    fail "--timestamp-url is required (an untimestamped signature ends with its certificate);" \
      "--no-timestamp only for a trial"
  [[ ! -e ${option[--out]} ]] || fail "${option[--out]} already exists; a release is never written over"
  [[ ! -e ${option[--out]}.partial ]] ||
    fail "${option[--out]}.partial is left from a failed release; read its logs, then remove it"
  local tool
  for tool in git cmake openssl osslsigncode sha256sum; do
    command -v "$tool" >/dev/null || fail "$tool is missing (run scripts/bootstrap)"
  done
  local major=0 minor=0
  read -r major minor < <(osslsigncode --version |
    sed -n '1s/^osslsigncode \([0-9]*\)\.\([0-9]*\).*/\1 \2/p') || true
  ((major > kMinSigntoolMajor || (major == kMinSigntoolMajor && minor >= kMinSigntoolMinor))) ||
    fail "osslsigncode $kMinSigntoolMajor.$kMinSigntoolMinor or later is needed, not $major.$minor"
}

# The public key file as the build takes it: 144 lower-case hex digits on one line.
public_key_hex() {
  tr -d ' \n\r' <"${option[--update-public-key]}"
}

# The update manifests are signed with the private key; launchers trust the public key they
# are built with. A pair that does not match would publish updates no launcher accepts.
check_update_key_pair() {
  local point
  # CNG's P-256 public blob: "ECS1", the key length 32, then X and Y (the DER's last 64 bytes).
  point=$(openssl pkey -in "${option[--update-private-key]}" -pubout -outform DER |
    tail -c 64 | od -An -v -tx1 | tr -d ' \n') ||
    fail "cannot read the update private key ${option[--update-private-key]}"
  local derived=4543533120000000$point
  [[ $derived == "$(public_key_hex)" ]] ||
    fail "the update private key ${option[--update-private-key]} does not belong to the public" \
      "key ${option[--update-public-key]} the launcher is built with"
}

# A fresh copy of the commit's tree, without anything of the working tree.
export_source() {
  local destination=$1
  mkdir -p "$destination"
  git -C "$repo" archive --format=tar "$commit" | tar -x -C "$destination"
}

# The release preset in an exported tree; its image lands in SOURCE/build/release/bin.
build_release() {
  local source=$1 log=$2
  (
    cd "$source"
    cmake --preset release -DVEXO_UPDATE_PUBLIC_KEY="$(public_key_hex)" \
      -DVEXO_UPDATE_SERVER_HOST="${option[--update-host]}" \
      -DVEXO_PAYLOAD_HOST="${option[--host-program]}" "${cmake_options[@]}" &&
      cmake --build --preset release --target vexo_launcher
  ) >"$log" 2>&1 || {
    tail -n 40 "$log" >&2
    fail "the release build in $source failed (log: $log)"
  }
}

compare_builds() {
  local first=$1 second=$2
  if ! cmp -s -- "$first" "$second"; then
    cmp -l -- "$first" "$second" | head -n 20 >&2 || true
    fail "the two builds differ: something path-, time- or order-dependent entered the image"
  fi
  echo "release: both builds identical, $(stat -c %s "$first") bytes, sha256" \
    "$(sha256sum "$first" | cut -c1-64)"
}

sign_launcher() {
  local unsigned=$1 signed=$2 log=$3
  local arguments=(sign -h sha256 -n "$kSignatureDescription" -certs "${option[--sign-cert]}"
    -key "${option[--sign-key]}")
  [[ -z ${option[--pkcs11-module]:-} ]] || arguments+=(-pkcs11module "${option[--pkcs11-module]}")
  [[ -z ${option[--sign-pass-file]:-} ]] || arguments+=(-readpass "${option[--sign-pass-file]}")
  [[ $timestamp == none ]] || arguments+=(-ts "$timestamp")
  osslsigncode "${arguments[@]}" -in "$unsigned" -out "$signed" >"$log" 2>&1 || {
    cat "$log" >&2
    fail "signing failed"
  }
}

# The first certificate of a PEM file, as osslsigncode's -require-leaf-hash takes it.
leaf_hash() {
  openssl x509 -in "$1" -outform DER | sha256sum | cut -c1-64
}

# The signature verifies against the trust anchors, is made with the given certificate, and
# covers exactly the unsigned image: the Authenticode digest the signature carries equals the
# one of the reproducible image, so signing added the signature and nothing else.
verify_signature() {
  local unsigned=$1 signed=$2 log=$3
  local arguments=(verify -CAfile "${option[--sign-trust]}"
    -require-leaf-hash "sha256:$(leaf_hash "${option[--sign-cert]}")")
  [[ $timestamp != none ]] || arguments+=(-ignore-timestamp)
  osslsigncode "${arguments[@]}" -in "$signed" >"$log" 2>&1 || {
    cat "$log" >&2
    fail "the signed launcher does not verify"
  }
  local carried calculated expected
  carried=$(sed -n 's/^Current message digest *: *\([0-9A-F]*\) *$/\1/p' "$log")
  calculated=$(sed -n 's/^Calculated message digest *: *\([0-9A-F]*\) *$/\1/p' "$log")
  osslsigncode extract-data -h sha256 -in "$unsigned" -out "$work/unsigned.data" >/dev/null
  expected=$(openssl asn1parse -inform DER -in "$work/unsigned.data" |
    sed -n 's/.*prim: OCTET STRING *\[HEX DUMP\]:\([0-9A-F]*\)$/\1/p' | tail -n 1)
  [[ $carried =~ $kDigestPattern && $carried == "$calculated" && $carried == "$expected" ]] ||
    fail "the signature does not cover the reproducible image (signed: $carried, file:" \
      "$calculated, unsigned image: $expected)"
  echo "release: signature verified; it covers the reproducible image (Authenticode sha256 $carried)"
}

# The release tool of this tree (native build), made or brought up to date.
build_update_tool() {
  (cd "$repo" && cmake --preset native >/dev/null && cmake --build --preset native \
    --target vexo-update >/dev/null) || fail "could not build $update_tool (run scripts/build native)"
}

# The release goes out as the next one, beside the manifest the server serves now, for a rollout.
publish_update() {
  local signed=$1 version=$2 site=$3
  "$update_tool" publish --private-key "${option[--update-private-key]}" --program "$signed" \
    --version "$version" --sequence "${option[--sequence]}" \
    --valid-days "${option[--valid-days]}" --stage next --out "$site" | sed 's/^/release: /'
}

# What the update server's operator does with DIR/site (docs/serving-updates.md).
print_server_steps() {
  local site=$1 tree=/srv/vexo-updates kit=server/nginx/vexo-update-site.sh
  sed 's/^/release: /' <<EOF
next steps on the update server (docs/serving-updates.md), with the kit in server/nginx/:
  1. once per server: $kit render --host ${option[--update-host]} \\
       --certificate <fullchain.pem> --key <privkey.pem> --tree $tree, and enable the site
  2. publish: copy $site/api/ into $tree/api/ (the program file) first, then
       $site/next/ into $tree/next/ (the next manifest, beside the current one)
  3. roll out: $kit share 1, then a step a day up to 100, each followed by
       nginx -t && systemctl reload nginx; share 0 halts, pull --tree $tree withdraws the release
  4. at 100 %: $kit promote --tree $tree makes it the current release
EOF
}

write_record() {
  local out=$1 version=$2
  {
    echo "commit $commit"
    echo "version $version"
    echo "sequence ${option[--sequence]}"
    echo "update host ${option[--update-host]}"
    echo "update public key $(public_key_hex)"
    echo "host program sha256 $(sha256sum "${option[--host-program]}" | cut -c1-64)"
    echo "signer $(openssl x509 -in "${option[--sign-cert]}" -noout -subject)"
    echo "signer certificate sha256 $(leaf_hash "${option[--sign-cert]}")"
    echo "timestamp $timestamp"
    echo "cmake options ${cmake_options[*]:-(none)}"
    echo "toolchain $(x86_64-w64-mingw32-g++-posix --version | head -n 1)"
    dpkg-query -W -f='package ${Package} ${Version}\n' mingw-w64 g++-mingw-w64-x86-64-posix \
      binutils-mingw-w64-x86-64 cmake ninja-build python3 fonts-nanum fonts-nanum-extra \
      nlohmann-json3-dev osslsigncode
  } >"$out/release.txt"
  (cd "$out" && find . -type f ! -name SHA256SUMS ! -path './logs/*' -printf '%P\n' | sort |
    xargs sha256sum >SHA256SUMS)
}

check_inputs
check_update_key_pair
update_tool=$repo/build/native/bin/vexo-update
build_update_tool
commit=$(git -C "$repo" rev-parse --verify "${option[--commit]}^{commit}") ||
  fail "${option[--commit]} is not a commit"
if [[ ${option[--commit]} == HEAD && -n $(git -C "$repo" status --porcelain) ]]; then
  echo "release: note: the working tree has changes; the release is made from commit $commit"
fi

out=${option[--out]}
partial=$out.partial
work=$(mktemp -d "${TMPDIR:-/tmp}/vexo-release.XXXXXXXX")
trap 'rm -rf -- "$work"' EXIT
mkdir -p "$partial/unsigned" "$partial/logs"

echo "release: building commit $commit twice"
export_source "$work/a"
export_source "$work/second-export-in-a-longer-folder/b"
build_release "$work/a" "$partial/logs/build-first.log"
build_release "$work/second-export-in-a-longer-folder/b" "$partial/logs/build-second.log"
first=$work/a/build/release/bin/$kLauncher
compare_builds "$first" "$work/second-export-in-a-longer-folder/b/build/release/bin/$kLauncher"
cp -- "$first" "$partial/unsigned/$kLauncher"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$work/a/build/release/CMakeCache.txt")

sign_launcher "$partial/unsigned/$kLauncher" "$partial/$kLauncher" "$partial/logs/sign.log"
verify_signature "$partial/unsigned/$kLauncher" "$partial/$kLauncher" "$partial/logs/verify.log"
publish_update "$partial/$kLauncher" "$version" "$partial/site"
write_record "$partial" "$version"
mv -- "$partial" "$out"
echo "release: $version written to $out"
print_server_steps "$out/site"
