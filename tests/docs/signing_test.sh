#!/usr/bin/env bash
# A signed package: makes a throw-away code-signing certificate (a test root and a signer it issued),
# packs the built kits with scripts/package.sh --no-build and that certificate, and checks that
#   - every program and DLL of x86/ and x64/ carries an Authenticode signature that verifies against
#     the test root, made with SHA-256 by the test signer; without the signature each is the built
#     file, and nothing else in the package is touched;
#   - SHA256SUMS was made after signing (its hashes are those of the signed files);
#   - one altered byte fails verification, and so does a root that did not issue the signer;
#   - with a time-stamp server (our own, on 127.0.0.1), every signature carries a valid time stamp;
#   - the password reached osslsigncode on no command line;
#   - without a certificate the package is unsigned, and package.sh says so.
# Leaves the signed zip in <work>/out/ for the run under wine (signed_update.sh).
# Needs both Windows presets built.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=${1:-$(mktemp -d)}
rm -rf "$work"
mkdir -p "$work/cert" "$work/out" "$work/unsigned" "$work/unpacked" "$work/shim"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The certificate: a root, and a code-signing certificate it issued, in a PKCS#12 file. The password
# holds a space and shell characters, and goes to openssl through the environment as well.
export KIT_SIGN_PASSWORD='throw away; $not "a" secret'
cert=$work/cert
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$cert/root.key" -out "$cert/root.pem" -days 2 \
  -subj "/CN=Kit Test Root" -addext basicConstraints=critical,CA:true -addext keyUsage=critical,keyCertSign 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout "$cert/signer.key" -out "$cert/signer.csr" \
  -subj "/CN=Kit Test Signer/O=Kit Tests" 2>/dev/null
printf 'basicConstraints=CA:false\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' > "$cert/signer.ext"
openssl x509 -req -in "$cert/signer.csr" -CA "$cert/root.pem" -CAkey "$cert/root.key" -CAcreateserial -days 2 \
  -extfile "$cert/signer.ext" -out "$cert/signer.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$cert/signer.key" -in "$cert/signer.pem" -certfile "$cert/root.pem" \
  -out "$cert/signer.p12" -passout env:KIT_SIGN_PASSWORD
# A root that issued nothing here.
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$cert/other.key" -out "$cert/other.pem" -days 2 \
  -subj "/CN=Kit Other Root" -addext basicConstraints=critical,CA:true -addext keyUsage=critical,keyCertSign 2>/dev/null

# osslsigncode behind a shim that records its command lines.
real=$(command -v osslsigncode)
cat > "$work/shim/osslsigncode" <<EOF
#!/usr/bin/env bash
printf '%s\n' "\$*" >> "$work/shim/calls"
exec "$real" "\$@"
EOF
chmod +x "$work/shim/osslsigncode"

version=$(sed -n 's/^#define KIT_VERSION_TEXT "\([0-9.]*\)"$/\1/p' "$root/platform/include/kit/version.h")
KIT_SIGN_PKCS12=$cert/signer.p12 PATH="$work/shim:$PATH" \
  "$root/scripts/package.sh" --no-build --out "$work/out" | tee "$work/package.out"
zip=$(ls "$work/out"/camkit-"$version"*.zip)
grep -q "signed (Authenticode, SHA-256" "$work/package.out" || fail "package.sh did not say that it signed"
if grep -qF -- "$KIT_SIGN_PASSWORD" "$work/shim/calls"; then fail "the password was on osslsigncode's command line"; fi
unzip -q "$zip" -d "$work/unpacked"
cd "$work/unpacked"

if ! sha256sum --quiet -c SHA256SUMS; then fail "SHA256SUMS does not match the signed files"; fi

verify() { osslsigncode verify -CAfile "$1" -in "$2" 2>&1; }
binaries=$(find x86 x64 -type f \( -iname '*.exe' -o -iname '*.dll' \) | LC_ALL=C sort)
[ "$(grep -c . <<<"$binaries")" -ge 12 ] || fail "only $(grep -c . <<<"$binaries") programs and DLLs in the package"
for f in $binaries; do
  report=$(verify "$cert/root.pem" "$f") || { fail "$f does not verify: $(tail -3 <<<"$report" | tr '\n' ' ')"; continue; }
  grep -q "^Signature verification: ok" <<<"$report" || fail "$f: no \"Signature verification: ok\""
  grep -qE "^Message digest algorithm *: SHA256$" <<<"$report" || fail "$f is not signed with SHA-256: $(grep 'digest algorithm' <<<"$report")"
  grep -qE "Subject: /CN=Kit Test Signer/O=Kit Tests$" <<<"$report" || fail "$f: the signer is not the test signer"
  # The digest over the file as it is equals the signed one.
  current=$(sed -n 's/^Current message digest *: //p' <<<"$report" | head -1)
  calculated=$(sed -n 's/^Calculated message digest *: //p' <<<"$report" | head -1)
  [ -n "$current" ] && [ "$current" = "$calculated" ] || fail "$f: digest $current, calculated $calculated"
done
# Signing added the signature and nothing else: without it each file is the build's, but for the
# header's checksum (which covers the signature) and the zeros that align the signature to 8 bytes.
as_built() {
  local stripped=$1 built=$2 size_s size_b header
  size_s=$(stat -c %s "$stripped") size_b=$(stat -c %s "$built")
  [ "$size_s" -ge "$size_b" ] && [ $((size_s - size_b)) -lt 8 ] || return 1
  [ -z "$(tail -c +$((size_b + 1)) "$stripped" | tr -d '\0')" ] || return 1
  header=$(od -An -tu4 -j 60 -N4 "$built" | tr -d ' ')
  # cmp -l counts from 1; the checksum is the 4 bytes at 88 in the optional header.
  { cmp -l -n "$size_b" "$stripped" "$built" || true; } |
    awk -v first=$((header + 89)) -v last=$((header + 92)) '$1 < first || $1 > last { bad = 1 } END { exit bad }'
}
for f in $binaries; do
  build=$([ "${f%%/*}" = x86 ] && echo win32 || echo win64)
  osslsigncode remove-signature -in "$f" -out "$work/unsigned.bin" >/dev/null 2>&1
  as_built "$work/unsigned.bin" "$root/build/$build/kit/${f#*/}" ||
    fail "$f without its signature differs from build/$build/kit/${f#*/} beyond the checksum"
  rm -f "$work/unsigned.bin"
done
# Everything else is as built: the example configuration is byte for byte the kit's.
for f in config.ini dev.vrk Brevant_camera_ID.txt; do
  cmp -s "x86/$f" "$root/build/win32/kit/$f" || fail "x86/$f differs from build/win32/kit/$f"
done

# One byte of the program's code altered (inside its first section, far from the signature and
# the header's checksum): the signature no longer holds.
cp x64/Tessaw.exe "$work/altered.exe"
text=$(x86_64-w64-mingw32-objdump -h "$work/altered.exe" | awk '$2 == ".text" { print $6; exit }')
offset=$((16#$text + 4096))
byte=$(od -An -tu1 -j "$offset" -N1 "$work/altered.exe" | tr -d ' ')
printf "\\$(printf '%03o' $(((byte + 1) % 256)))" | dd of="$work/altered.exe" bs=1 seek="$offset" conv=notrunc 2>/dev/null
cmp -s x64/Tessaw.exe "$work/altered.exe" && fail "the byte at $offset was not altered"
if report=$(verify "$cert/root.pem" "$work/altered.exe"); then
  fail "Tessaw.exe with byte $offset altered still verifies"
else
  grep -q "^Signature verification: failed" <<<"$report" || fail "altered file: no \"Signature verification: failed\""
fi
# The right file against a root that did not issue the signer.
if verify "$cert/other.pem" x86/Tessaw.exe >/dev/null; then fail "x86/Tessaw.exe verifies against an unrelated root"; fi

# With a time-stamp server (one of our own, on 127.0.0.1, issued by the test root): every signature
# carries a time stamp that verifies.
openssl req -newkey rsa:2048 -nodes -keyout "$cert/tsa.key" -out "$cert/tsa.csr" -subj "/CN=Kit Test Time Stamps" 2>/dev/null
printf 'basicConstraints=CA:false\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=critical,timeStamping\n' > "$cert/tsa.ext"
openssl x509 -req -in "$cert/tsa.csr" -CA "$cert/root.pem" -CAkey "$cert/root.key" -CAcreateserial -days 2 \
  -extfile "$cert/tsa.ext" -out "$cert/tsa.pem" 2>/dev/null
echo 01 > "$cert/tsa.serial"
printf '%s\n' "[ tsa ]" "default_tsa = kit_tsa" "[ kit_tsa ]" "serial = $cert/tsa.serial" "crypto_device = builtin" \
  "signer_cert = $cert/tsa.pem" "certs = $cert/root.pem" "signer_key = $cert/tsa.key" "signer_digest = sha256" \
  "default_policy = 1.2.3.4.1" "digests = sha256, sha384, sha512" "accuracy = secs:1" "ess_cert_id_alg = sha256" \
  > "$cert/tsa.cnf"
"$root/tests/docs/tsa_server.py" "$cert/tsa.cnf" "$cert/tsa.port" 240 &
tsa=$!
trap 'kill $tsa 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -s "$cert/tsa.port" ] && break; sleep 0.1; done
mkdir -p "$work/stamped/unpacked"
KIT_SIGN_PKCS12=$cert/signer.p12 KIT_SIGN_TIMESTAMP_URL=http://127.0.0.1:$(cat "$cert/tsa.port")/ \
  "$root/scripts/package.sh" --no-build --out "$work/stamped" > "$work/stamped.out" || fail "time-stamped signing failed"
grep -q "time-stamped" "$work/stamped.out" || fail "package.sh did not say that it time-stamped"
unzip -q "$work/stamped"/camkit-*.zip -d "$work/stamped/unpacked"
for f in $binaries; do
  report=$(osslsigncode verify -CAfile "$cert/root.pem" -TSA-CAfile "$cert/root.pem" -in "$work/stamped/unpacked/$f" 2>&1) ||
    { fail "time-stamped $f does not verify"; continue; }
  grep -q "^Timestamp Server Signature verification: ok" <<<"$report" || fail "time-stamped $f: its time stamp does not verify"
done
kill $tsa 2>/dev/null || true

# No certificate: unsigned, and said so.
env -u KIT_SIGN_PKCS12 -u KIT_SIGN_PASSWORD "$root/scripts/package.sh" --no-build --out "$work/unsigned" > "$work/unsigned.out"
grep -q "UNSIGNED: no certificate given" "$work/unsigned.out" || fail "package.sh did not say the package is unsigned"
mkdir "$work/unsigned/unpacked"
unzip -q "$work/unsigned"/camkit-*.zip -d "$work/unsigned/unpacked"
for f in $binaries; do
  if osslsigncode extract-signature -in "$work/unsigned/unpacked/$f" -out "$work/sig.der" >/dev/null 2>&1; then
    fail "unsigned package: $f has a signature"
  fi
  rm -f "$work/sig.der"
done
cmp -s "$work/unsigned/unpacked/x86/Tessaw.exe" "$root/build/win32/kit/Tessaw.exe" ||
  fail "unsigned package: x86/Tessaw.exe differs from build/win32/kit/Tessaw.exe"

# A certificate without its password is refused before anything is packed.
if env -u KIT_SIGN_PASSWORD KIT_SIGN_PKCS12="$cert/signer.p12" "$root/scripts/package.sh" --no-build \
    --out "$work/nopass" >/dev/null 2>&1; then
  fail "package.sh packed with a certificate and no password"
fi
# A wrong password fails the package rather than leaving files unsigned.
if KIT_SIGN_PASSWORD=wrong KIT_SIGN_PKCS12="$cert/signer.p12" "$root/scripts/package.sh" --no-build \
    --out "$work/wrongpass" >/dev/null 2>&1; then
  fail "package.sh packed with a wrong password"
fi
[ ! -e "$work/nopass" ] && ! ls "$work/wrongpass"/*.zip >/dev/null 2>&1 || fail "a failed signing left a package"

if [ "$failures" -gt 0 ]; then
  echo "0 passed, $failures failed"
  exit 1
fi
echo "signed $(basename "$zip"): $(grep -c . <<<"$binaries") programs and DLLs verified; time stamps, altered byte, other root, unsigned and password cases checked"
