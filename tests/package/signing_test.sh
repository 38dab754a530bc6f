#!/usr/bin/env bash
# signing_test.sh SIGN_SCRIPT DLL MSI WORK_DIRECTORY
# Signs copies of the shipped DLL and MSI with a throwaway self-signed certificate made here, the
# way scripts/package.sh does, and checks them with osslsigncode verify, trusting that certificate
# alone: the signatures verify and name the signer; the unsigned files and a signed DLL with one
# byte changed do not verify.
set -euo pipefail
sign=$1 dll=$2 msi=$3 work=$4
fail() { echo "signing_test: $*" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work"
cd "$work"
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 \
    -subj "/CN=VRLCOM test signer" -addext "extendedKeyUsage=codeSigning" >openssl.log 2>&1 \
    || { cat openssl.log; fail "cannot make a certificate"; }
cp "$dll" VRLCOM.DLL
cp "$msi" VRLCOM.msi

verify() { osslsigncode verify -CAfile cert.pem -in "$1" >"$1.verify" 2>&1; }

for file in VRLCOM.DLL VRLCOM.msi; do
    verify "$file" && fail "the unsigned $file verifies"
done

bash "$sign" cert.pem key.pem VRLCOM.DLL VRLCOM.msi
for file in VRLCOM.DLL VRLCOM.msi; do
    verify "$file" || { cat "$file.verify"; fail "the signed $file does not verify"; }
    grep -q "CN=VRLCOM test signer" "$file.verify" || { cat "$file.verify"; fail "$file names another signer"; }
done
cmp -s "$dll" VRLCOM.DLL && fail "signing left the DLL unchanged"

# One byte of the code changed after signing: the signature no longer matches the file.
cp VRLCOM.DLL changed.DLL
offset=$(( $(stat -c %s changed.DLL) / 4 ))
byte=$(od -An -tu1 -j "$offset" -N1 changed.DLL | tr -d ' ')
printf "$(printf '\\%03o' $(( (byte + 1) % 256 )))" | dd of=changed.DLL bs=1 seek="$offset" conv=notrunc status=none
cmp -s VRLCOM.DLL changed.DLL && fail "the byte was not changed"
verify changed.DLL && { cat changed.DLL.verify; fail "a changed DLL still verifies"; }
rm -rf "$work"
echo "signing_test: signatures verify, unsigned and changed files do not"
