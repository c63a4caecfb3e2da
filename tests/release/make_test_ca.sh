#!/usr/bin/env bash
# Makes the throwaway signing material of the release tests (kept under build/, never
# committed or printed):
#   tests/release/make_test_ca.sh DIR
# DIR/root.pem         the authority's root (SETUP_SIGN_CAFILE)
# DIR/chain.pem        the signing certificate and its intermediate (SETUP_SIGN_CERTS)
# DIR/signer.p12       the same with the key (SETUP_SIGN_PKCS12), DIR/password its password; the
#                      signing certificate names revocation addresses that nothing answers at
# DIR/tsa.pem, tsa.key a time-stamping certificate and key for tests/release/tsa_server.py
# DIR/expired.pem, nocodesign.pem, otherkey.pem, nointermediate.pem: chains that must be refused
# DIR/vendor/signer.p12, password: a second authority's signer, for a payload signed already;
#                      DIR/vendor/tsa.pem, tsa.key: its time stamps, which SETUP_SIGN_CAFILE refuses
# DIR/minisign.key, minisign.pub: a minisign key without a password (SETUP_SIGN_MINISIGN_KEY)
# DIR/token/           a SoftHSM2 token holding the signing key (see make_token below):
#                      softhsm2.conf (SOFTHSM2_CONF), pin (SETUP_SIGN_PIN_FILE), uri (SETUP_SIGN_KEY)
set -Eeuo pipefail
rm -rf "$1"
mkdir -p "$1"
cd "$1"
umask 077
exec 3>&2 2>openssl.log  # openssl's chatter, shown only when a step fails
trap 'cat openssl.log >&3' ERR

# issue FILE SUBJECT ISSUER KEY START END EXTENSIONS...: FILE.pem, a certificate for KEY issued
# by ISSUER.pem/.key
issue() {
  local file=$1 subject=$2 issuer=$3 key=$4 start=$5 end=$6; shift 6
  mkdir -p db; : >db/index.txt; openssl rand -hex 8 >db/serial
  printf '%s\n' '[ca]' 'default_ca=d' '[d]' 'database=db/index.txt' 'serial=db/serial' 'new_certs_dir=db' \
    'default_md=sha256' 'policy=p' 'email_in_dn=no' 'unique_subject=no' '[p]' 'commonName=supplied' \
    '[x]' "$@" >ca.cnf
  openssl req -new -key "$key" -subj "/CN=$subject" -out req.pem
  openssl ca -batch -notext -config ca.cnf -extensions x -cert "$issuer.pem" -keyfile "$issuer.key" \
    -startdate "$start" -enddate "$end" -in req.pem -out "$file.pem"
}
newkey() { openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$1"; }
now=$(date -u +%Y%m%d%H%M%SZ)
later=$(date -u -d '+2 years' +%Y%m%d%H%M%SZ)
ca_ext=("basicConstraints=critical,CA:true" "keyUsage=critical,keyCertSign,cRLSign")
leaf=("basicConstraints=critical,CA:false" "keyUsage=critical,digitalSignature")
# Where a public authority's certificates say revocation is checked (.invalid: no such host).
revocation=("crlDistributionPoints=URI:http://crl.setup-test.invalid/intermediate.crl"
            "authorityInfoAccess=OCSP;URI:http://ocsp.setup-test.invalid/")

authority() {  # authority PREFIX NAME: a self-signed root PREFIX-root.pem/.key
  newkey "$1.key"
  openssl req -x509 -new -key "$1.key" -subj "/CN=$2" -days 3650 \
    -addext "${ca_ext[0]}" -addext "${ca_ext[1]}" -out "$1.pem"
}
authority root "Setup test authority"
newkey inter.key
issue inter "Setup test intermediate" root inter.key "$now" "$later" "${ca_ext[@]}"

newkey signer.key
issue signer "Quorvant Software test signer" inter signer.key "$now" "$later" "${leaf[@]}" "${revocation[@]}" \
  extendedKeyUsage=codeSigning
issue expired "Quorvant Software test signer" inter signer.key 20200101000000Z 20210101000000Z "${leaf[@]}" extendedKeyUsage=codeSigning
issue nocodesign "Quorvant Software test signer" inter signer.key "$now" "$later" "${leaf[@]}" extendedKeyUsage=serverAuth
newkey other.key
issue otherkey "Quorvant Software test signer" inter other.key "$now" "$later" "${leaf[@]}" extendedKeyUsage=codeSigning
newkey tsa.key
issue tsa "Setup test time stamps" root tsa.key "$now" "$later" "${leaf[@]}" "extendedKeyUsage=critical,timeStamping"
for n in signer expired nocodesign otherkey; do cat "$n.pem" inter.pem >"$n.chain"; done
mv signer.chain chain.pem
for n in expired nocodesign otherkey; do mv "$n.chain" "$n.pem"; done
cp signer.pem nointermediate.pem
openssl rand -hex 16 >password
openssl pkcs12 -export -inkey signer.key -in chain.pem -passout file:password -out signer.p12

# A second authority: a vendor who signed the program before handing it over.
mkdir vendor
authority vendor/root "Vendor test authority"
newkey vendor/signer.key
issue vendor/signer "Vendor test signer" vendor/root vendor/signer.key "$now" "$later" "${leaf[@]}" extendedKeyUsage=codeSigning
newkey vendor/tsa.key
issue vendor/tsa "Vendor test time stamps" vendor/root vendor/tsa.key "$now" "$later" "${leaf[@]}" \
  "extendedKeyUsage=critical,timeStamping"
openssl rand -hex 16 >vendor/password
openssl pkcs12 -export -inkey vendor/signer.key -in vendor/signer.pem -passout file:vendor/password \
  -out vendor/signer.p12

minisign -G -W -p minisign.pub -s minisign.key >&2

# The token: SoftHSM2's store under DIR/token, the key imported and its file removed.
mkdir -p token/store
printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' "$PWD/token/store" \
  >token/softhsm2.conf
openssl rand -hex 8 >token/pin
openssl pkcs8 -topk8 -nocrypt -in signer.key -out token/key.p8
SOFTHSM2_CONF=$PWD/token/softhsm2.conf softhsm2-util --init-token --free --label setup-test \
  --so-pin "$(openssl rand -hex 8)" --pin "$(cat token/pin)" >&2
SOFTHSM2_CONF=$PWD/token/softhsm2.conf softhsm2-util --import token/key.p8 --token setup-test \
  --label signer --id 01 --pin "$(cat token/pin)" >&2
echo "pkcs11:token=setup-test;object=signer;type=private" >token/uri
rm -rf token/key.p8 db ca.cnf req.pem root.key inter.key signer.key other.key vendor/root.key vendor/signer.key
