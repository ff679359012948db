#!/usr/bin/env bash
# Makes, from the test CA in DIR (made by make_certs.sh), leaves for localhost that name a CRL
# distribution point, and that CA's CRL:
#   revoked.pem revoked.key revoked-chain.pem           names CRL_URL, and is listed in the CRL
#   crl-offline.pem crl-offline.key crl-offline-chain.pem names OFFLINE_URL (nobody answers there)
#   ca.crl                                              the CRL (DER), to be served at CRL_URL
# With SIGNER and SETUP (a program file), code-signing leaves for SIGNER the same two ways, and SETUP
# signed with each: setup-revoked.exe (its signer listed in the CRL), setup-crl-offline.exe.
# Made anew at every start, so each run names its own URLs (a CRL once fetched stays cached).
# Usage: make_revocation_certs.sh DIR CRL_URL OFFLINE_URL [SIGNER SETUP]
set -euo pipefail
dir="${1:?usage: make_revocation_certs.sh DIR CRL_URL OFFLINE_URL [SIGNER SETUP]}"
crl_url="${2:?}"
offline_url="${3:?}"
signer="${4:-}"
setup="${5:-}"
[ -z "$setup" ] || setup="$(cd "$(dirname "$setup")" && pwd)/$(basename "$setup")"
cd "$dir"
db=revocation-db
rm -rf "$db"
mkdir -p "$db"
: > "$db/index.txt"
openssl rand -hex 8 > "$db/serial"
echo 1000 > "$db/crlnumber"
cat > "$db/ca.cnf" <<CNF
[ca]
default_ca = test
[test]
database = $db/index.txt
new_certs_dir = $db
serial = $db/serial
crlnumber = $db/crlnumber
default_md = sha256
default_days = 825
default_crl_days = 30
policy = any
unique_subject = no
copy_extensions = none
[any]
commonName = supplied
[listed]
basicConstraints = CA:FALSE
keyUsage = digitalSignature,keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:localhost,IP:127.0.0.1
crlDistributionPoints = URI:$crl_url
[offline]
basicConstraints = CA:FALSE
keyUsage = digitalSignature,keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:localhost,IP:127.0.0.1
crlDistributionPoints = URI:$offline_url
[codesign-listed]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = codeSigning
crlDistributionPoints = URI:$crl_url
[codesign-offline]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = codeSigning
crlDistributionPoints = URI:$offline_url
CNF
leaf() {  # leaf NAME SECTION [SUBJECT]
    openssl req -newkey rsa:2048 -nodes -keyout "$1.key" -out "$db/$1.csr" -subj "/CN=${3:-localhost}" 2>/dev/null
    openssl ca -batch -config "$db/ca.cnf" -cert ca.pem -keyfile ca.key -extensions "$2" -in "$db/$1.csr" \
        -out "$1.pem" -notext 2>/dev/null
    cat "$1.pem" ca.pem > "$1-chain.pem"
}
leaf revoked listed
leaf crl-offline offline
openssl ca -config "$db/ca.cnf" -cert ca.pem -keyfile ca.key -revoke revoked.pem 2>/dev/null
if [ -n "$signer" ] && [ -n "$setup" ]; then
    leaf codesign-revoked codesign-listed "$signer"
    leaf codesign-crl-offline codesign-offline "$signer"
    openssl ca -config "$db/ca.cnf" -cert ca.pem -keyfile ca.key -revoke codesign-revoked.pem 2>/dev/null
    for way in revoked crl-offline; do
        rm -f "setup-$way.exe"
        osslsigncode sign -certs "codesign-$way-chain.pem" -key "codesign-$way.key" -n "Memoline 5 Server Setup" \
            -h sha256 -in "$setup" -out "setup-$way.exe" > /dev/null
    done
fi
openssl ca -gencrl -config "$db/ca.cnf" -cert ca.pem -keyfile ca.key -out "$db/crl.pem" 2>/dev/null
openssl crl -in "$db/crl.pem" -outform DER -out ca.crl
rm -rf "$db"
