#!/usr/bin/env bash
# scripts/release end to end with throw-away inputs: a code-signing root and signer made with
# openssl, an update key pair, a test host name and the stand-in Host as payload. The script
# builds the commit twice and compares, signs and verifies, and publishes; here the signed
# launcher must prove its payload under Wine, and the published program must be that launcher.
#
#   release_check.sh REPO STAND_IN_HOST WINE_PREFIX
set -euo pipefail
repo=$1 stand_in_host=$2 prefix=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/vexo-release-check.XXXXXXXX")
trap 'rm -rf -- "$work"' EXIT
cd "$work"

openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout root.key \
  -out root.pem -days 2 -subj "/CN=Throw-away code signing root" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign" 2>/dev/null
openssl req -newkey rsa:3072 -nodes -keyout signer.key -out signer.csr \
  -subj "/CN=Throw-away release signer" 2>/dev/null
printf 'basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >signer.ext
openssl x509 -req -in signer.csr -CA root.pem -CAkey root.key -days 2 -extfile signer.ext \
  -out signer.pem 2>/dev/null
for pair in update other; do
  "$repo/build/native/bin/vexo-update" keygen --private-key $pair.pem --public-key $pair.pub >/dev/null
done
release() {
  "$repo/scripts/release" --host-program "$stand_in_host" --update-public-key update.pub \
    --update-host updates.release-check.test --sequence 2 --sign-cert signer.pem \
    --sign-key signer.key --sign-trust root.pem --no-timestamp "$@"
}

# An update key the launcher does not trust is refused before anything is built.
if release --update-private-key other.pem --out refused 2>refused.log ||
  ! grep -q 'does not belong to the public key' refused.log || [[ -e refused.partial ]]; then
  echo "FAIL: an update key pair that does not match was not refused at once" >&2
  exit 1
fi

release --update-private-key update.pem --out out
"$repo/cmake/wine-run" "$prefix" out/Vexo-Host.exe --verify-payload
cmp out/Vexo-Host.exe "out/site/api/program-updates/v1/files/$(sha256sum out/Vexo-Host.exe | cut -c1-64).exe"
echo "ok: a signed, reproducible release that proves its payload and is published"
