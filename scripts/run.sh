#!/usr/bin/env bash
# Installs what is missing, builds, and runs the service from build/run with its demo:
# a synthetic camera source and the demo page. Ctrl-C stops everything.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/scripts/install-deps.sh"
"$top/scripts/build.sh"
run="${NIMBREL_BUILD_DIR:-$top/build}/run"
cd "$run"
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap cleanup EXIT INT TERM
if [ -x ./nimbrel-source ]; then
  ./nimbrel-source --port 9100 --tls-port 9101 --cert certificates/server-cert.pem \
    --key certificates/server-key.pem > source.log 2>&1 &
  pids+=($!)
  echo "Demo camera source: ws://127.0.0.1:9100/  wss://127.0.0.1:9101/"
fi
port=$(sed -n 's/^ServicePortStart=//p' config.ini)
echo "Service: ws://127.0.0.1:${port}/  wss://127.0.0.1:$((port + 1))/"
echo "Demo page: http://127.0.0.1:${port}/web/index.html"
if [ -x ./nimbrelwd ]; then
  ./nimbrelwd &
else
  ./nimbrelsvc &
fi
pids+=($!)
wait
