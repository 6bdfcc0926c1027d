#!/usr/bin/env bash
# Makes certificates/rootCA.crt (+ .key) and a server certificate for 127.0.0.1, ::1 and
# localhost signed by it: certificates/server-cert.pem and server-key.pem.
# Usage: make-certs.sh DIR   (DIR/certificates is created; existing files are kept)
set -euo pipefail
dir="${1:?usage: make-certs.sh RUN_DIR}/certificates"
mkdir -p "$dir"
cd "$dir"
if [ -s rootCA.crt ] && [ -s server-cert.pem ] && [ -s server-key.pem ]; then
  exit 0
fi
openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 \
  -keyout rootCA.key -out rootCA.crt -subj "/CN=Nimbrel Local Root CA" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -sha256 -keyout server-key.pem -out server.csr \
  -subj "/CN=localhost" 2>/dev/null
cat > server.ext <<EXT
basicConstraints=CA:FALSE
keyUsage=digitalSignature,keyEncipherment
extendedKeyUsage=serverAuth
subjectAltName=IP:127.0.0.1,IP:::1,DNS:localhost
EXT
openssl x509 -req -in server.csr -CA rootCA.crt -CAkey rootCA.key -CAcreateserial \
  -out server-cert.pem -days 825 -sha256 -extfile server.ext 2>/dev/null
rm -f server.csr server.ext rootCA.srl
chmod 600 rootCA.key server-key.pem
echo "Certificates written to $dir"
