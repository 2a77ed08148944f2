#!/bin/bash
# Creates the stand-in service's self-signed certificate and key in OUTDIR:
#   OUTDIR/cert.pem  OUTDIR/key.pem
# and the Ed25519 pair that signs update manifests: OUTDIR/update-key.pem, update-key.pub.pem
# A valid existing pair is kept: test builds bake the certificate's path in at
# configure time and trust exactly that certificate, so it must not change
# behind their back.
set -euo pipefail

if [ $# -ne 1 ]; then
    echo "usage: $0 OUTDIR" >&2
    exit 2
fi

outDir=$1
mkdir -p "$outDir"
cert="$outDir/cert.pem"
key="$outDir/key.pem"

pairIsUsable() {
    [ -s "$cert" ] && [ -s "$key" ] || return 1
    # still valid for at least 30 days
    openssl x509 -in "$cert" -noout -checkend 2592000 >/dev/null 2>&1 || return 1
    local certKey keyKey
    certKey=$(openssl x509 -in "$cert" -noout -pubkey 2>/dev/null) || return 1
    keyKey=$(openssl pkey -in "$key" -pubout 2>/dev/null) || return 1
    [ "$certKey" = "$keyKey" ]
}

# Parallel test runs may call this at the same time for the same folder.
exec 9>"$outDir/.make-cert.lock"
flock 9

# The key pair that signs update manifests in test builds (kept like the certificate).
if [ ! -s "$outDir/update-key.pem" ] || [ ! -s "$outDir/update-key.pub.pem" ]; then
    openssl genpkey -algorithm ed25519 -out "$outDir/update-key.pem.new" 2>/dev/null
    chmod 600 "$outDir/update-key.pem.new"
    openssl pkey -in "$outDir/update-key.pem.new" -pubout -out "$outDir/update-key.pub.pem"
    mv -f "$outDir/update-key.pem.new" "$outDir/update-key.pem"
fi

if pairIsUsable; then
    exit 0
fi

tmpDir=$(mktemp -d "$outDir/.make-cert.XXXXXX")
trap 'rm -rf "$tmpDir"' EXIT

openssl req -x509 -new -newkey rsa:2048 -nodes -sha256 -days 3650 \
    -subj "/CN=127.0.0.1" \
    -keyout "$tmpDir/key.pem" -out "$tmpDir/cert.pem" \
    -addext "subjectAltName=IP:127.0.0.1,IP:127.0.0.2,DNS:localhost" \
    -addext "basicConstraints=critical,CA:FALSE" \
    -addext "keyUsage=critical,digitalSignature,keyEncipherment" \
    -addext "extendedKeyUsage=serverAuth" \
    >/dev/null 2>&1

chmod 600 "$tmpDir/key.pem"
chmod 644 "$tmpDir/cert.pem"
# key first: a reader that sees the new certificate also finds its key
mv -f "$tmpDir/key.pem" "$key"
mv -f "$tmpDir/cert.pem" "$cert"
