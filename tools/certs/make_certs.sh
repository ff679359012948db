#!/usr/bin/env bash
# Makes test certificates into a folder (kept if already there, so a CA once trusted stays valid):
#   ca.pem ca.key                     a test CA, to be trusted with memoline_trust_cert.exe
#   localhost.pem localhost.key       a leaf for localhost and 127.0.0.1 from that CA
#   localhost-chain.pem               the leaf followed by the CA (what a server sends)
#   otherhost.pem otherhost.key       a leaf for another host name (example.net) from the CA
#   expired.pem expired.key           a leaf for localhost whose validity has ended
#   untrusted-ca.pem                  a CA nobody trusts, and its leaf for localhost:
#   untrusted.pem untrusted.key       untrusted-chain.pem (leaf and that CA)
# With SIGNER, also code-signing certificates (made again when SIGNER changes), each with a
# NAME-chain.pem (the leaf and its CA, what a signature carries):
#   codesign.pem codesign.key                     for SIGNER, from the test CA
#   codesign-other.pem codesign-other.key         for another publisher, from the test CA
#   codesign-untrusted.pem codesign-untrusted.key for SIGNER, from the CA nobody trusts
#   codesign-serveronly.pem codesign-serveronly.key for SIGNER from the test CA, but for TLS servers only
# Usage: make_certs.sh DIR [SIGNER]
set -euo pipefail
dir="${1:?usage: make_certs.sh DIR [SIGNER]}"
signer="${2:-}"
mkdir -p "$dir"
cd "$dir"

# A CA: self-signed, marked as a CA (Schannel's chain engine insists on basicConstraints).
make_ca() {  # make_ca NAME SUBJECT
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.pem" -days 3650 -subj "/CN=$2" \
        -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
}

# A leaf signed by a CA; DAYS may be negative for a certificate that has already expired. USAGE is
# its extended key usage, serverAuth unless given.
make_leaf() {  # make_leaf NAME CA HOST DAYS [USAGE]
    local name="$1" ca="$2" host="$3" days="$4" usage="${5:-serverAuth}"
    openssl req -newkey rsa:2048 -nodes -keyout "$name.key" -out "$name.csr" -subj "/CN=$host" 2>/dev/null
    printf 'basicConstraints=CA:FALSE\nkeyUsage=digitalSignature,keyEncipherment\nextendedKeyUsage=%s\nsubjectAltName=DNS:%s%s\n' \
        "$usage" "$host" "$([ "$host" = localhost ] && echo ',IP:127.0.0.1')" > "$name.ext"
    openssl x509 -req -in "$name.csr" -CA "$ca.pem" -CAkey "$ca.key" -CAcreateserial -days "$days" \
        -extfile "$name.ext" -out "$name.pem" 2>/dev/null
    rm -f "$name.csr" "$name.ext"
    cat "$name.pem" "$ca.pem" > "$name-chain.pem"
}

# A leaf for localhost valid from two years ago until a year ago: `openssl ca` sets both dates.
make_expired() {
    openssl req -newkey rsa:2048 -nodes -keyout expired.key -out expired.csr -subj "/CN=localhost" 2>/dev/null
    mkdir -p ca-db
    : > ca-db/index.txt
    cat > ca-db/ca.cnf <<CNF
[ca]
default_ca = test
[test]
database = ca-db/index.txt
new_certs_dir = ca-db
serial = ca-db/serial
default_md = sha256
policy = any
copy_extensions = none
[any]
commonName = supplied
[leaf]
basicConstraints = CA:FALSE
keyUsage = digitalSignature,keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:localhost,IP:127.0.0.1
CNF
    openssl rand -hex 8 > ca-db/serial
    openssl ca -batch -config ca-db/ca.cnf -cert ca.pem -keyfile ca.key -extensions leaf \
        -startdate "$(date -u -d '2 years ago' +%Y%m%d%H%M%SZ)" -enddate "$(date -u -d '1 year ago' +%Y%m%d%H%M%SZ)" \
        -in expired.csr -out expired.pem -notext 2>/dev/null
    rm -rf expired.csr ca-db
    cat expired.pem ca.pem > expired-chain.pem
}

# A code-signing leaf signed by a CA (USAGE: the extended key usage, codeSigning by default).
make_codesign() {  # make_codesign NAME CA SUBJECT [USAGE]
    local name="$1" ca="$2" subject="$3" usage="${4:-codeSigning}"
    openssl req -newkey rsa:2048 -nodes -keyout "$name.key" -out "$name.csr" -subj "/CN=$subject" 2>/dev/null
    printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=%s\n' "$usage" > "$name.ext"
    openssl x509 -req -in "$name.csr" -CA "$ca.pem" -CAkey "$ca.key" -CAcreateserial -days 825 \
        -extfile "$name.ext" -out "$name.pem" 2>/dev/null
    rm -f "$name.csr" "$name.ext"
    cat "$name.pem" "$ca.pem" > "$name-chain.pem"
}

if [ ! -f untrusted-chain.pem ]; then
    make_ca ca "Memoline Test CA"
    make_ca untrusted-ca "Memoline Untrusted Test CA"
    make_leaf localhost ca localhost 825
    make_leaf otherhost ca example.net 825
    make_expired
    make_leaf untrusted untrusted-ca localhost 825
fi

# A certificate for the right host and from the trusted CA, but for client authentication only.
[ -f clientonly-chain.pem ] || make_leaf clientonly ca localhost 825 clientAuth

if [ -n "$signer" ] && { [ "$(cat codesign.subject 2>/dev/null)" != "$signer" ] || [ ! -f codesign-serveronly.pem ]; }; then
    make_codesign codesign ca "$signer"
    make_codesign codesign-other ca "Another Publisher"
    make_codesign codesign-untrusted untrusted-ca "$signer"
    make_codesign codesign-serveronly ca "$signer" serverAuth
    printf '%s' "$signer" > codesign.subject
fi
