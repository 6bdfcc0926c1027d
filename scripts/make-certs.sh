#!/usr/bin/env bash
# Makes a local root CA (certificates/rootCA.crt) and a server certificate for 127.0.0.1, ::1
# and localhost signed by it (certificates/server-cert.pem, server-key.pem with mode 0600).
# The CA's private key lives only in this shell's memory and is gone when the script ends: no
# one, including this script, can sign with that CA again. The CA is also name-constrained to
# the three loopback names, so even a copy of its key could not vouch for any other site.
# Usage: make-certs.sh DIR   (DIR/certificates is created; sound existing files are kept, and
# a CA whose key was kept on disk, or one without the constraints, is replaced by a new one)
set -euo pipefail
dir="${1:?usage: make-certs.sh RUN_DIR}/certificates"
mkdir -p "$dir"
cd "$dir"

expected_constraints='X509v3 Name Constraints: critical
    Permitted:
      IP:127.0.0.1/255.255.255.255
      IP:0:0:0:0:0:0:0:1/FFFF:FFFF:FFFF:FFFF:FFFF:FFFF:FFFF:FFFF
      DNS:localhost'

sound() {
  # A CA key on disk may have been read by anyone the service served it to.
  [ ! -e rootCA.key ] || return 1
  [ -s rootCA.crt ] && [ -s server-cert.pem ] && [ -s server-key.pem ] || return 1
  [ "$(openssl x509 -in rootCA.crt -noout -ext nameConstraints 2>/dev/null)" = "$expected_constraints" ] ||
    return 1
  openssl verify -CAfile rootCA.crt server-cert.pem >/dev/null 2>&1 || return 1
  [ "$(openssl x509 -in server-cert.pem -noout -pubkey)" = "$(openssl pkey -in server-key.pem -pubout 2>/dev/null)" ]
}

if sound; then
  chmod 600 server-key.pem
  exit 0
fi
rm -f rootCA.key rootCA.srl server.csr server.ext

umask 077
trap 'rm -f rootCA.crt.new server-key.pem.new server-cert.pem.new' EXIT
# A distinct name per CA: trust stores keep each root apart, and a user can tell them apart.
ca_name="Nimbrel Local Root CA $(date -u +%Y%m%d%H%M%S) $(openssl rand -hex 4)"
ca_key="$(openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 2>/dev/null)"
# The key reaches openssl through pipes (process substitution), never through a file.
openssl req -x509 -new -key <(printf '%s\n' "$ca_key") -sha256 -days 3650 \
  -out rootCA.crt.new -subj "/CN=$ca_name" \
  -addext "basicConstraints=critical,CA:TRUE,pathlen:0" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" \
  -addext "nameConstraints=critical,permitted;IP:127.0.0.1/255.255.255.255,permitted;IP:::1/ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff,permitted;DNS:localhost"
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out server-key.pem.new 2>/dev/null
openssl req -new -key server-key.pem.new -subj "/CN=localhost" 2>/dev/null |
  openssl x509 -req -CA rootCA.crt.new -CAkey <(printf '%s\n' "$ca_key") \
    -set_serial "0x$(openssl rand -hex 16)" -days 825 -sha256 -out server-cert.pem.new \
    -extfile <(printf '%s\n' "basicConstraints=CA:FALSE" "keyUsage=digitalSignature,keyEncipherment" \
      "extendedKeyUsage=serverAuth" "subjectAltName=IP:127.0.0.1,IP:::1,DNS:localhost") 2>/dev/null
unset ca_key
chmod 644 rootCA.crt.new server-cert.pem.new
mv -f rootCA.crt.new rootCA.crt
mv -f server-key.pem.new server-key.pem
mv -f server-cert.pem.new server-cert.pem
echo "Certificates written to $dir ($ca_name, its key discarded)"
