#!/usr/bin/env bash
# Installs what is missing, builds, and runs the service from build/run with its demo:
# a synthetic camera source and the demo page. Prints the addresses where each really listens
# (the service moves to further ports when its first ones are taken). Ctrl-C stops everything.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/scripts/install-deps.sh"
"$top/scripts/build.sh"
run="$(cd "${NIMBREL_BUILD_DIR:-$top/build}/run" && pwd -P)"
cd "$run"
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap cleanup EXIT INT TERM

# The IPv4 loopback ports process $1 listens on, lowest first (from /proc, so nothing to install).
listening_ports() {
  local inodes=" " fd link
  for fd in /proc/"$1"/fd/*; do
    link="$(readlink "$fd" 2>/dev/null)" || continue
    case "$link" in socket:\[*\]) inodes+="${link:8:-1} " ;; esac
  done
  awk -v inodes="$inodes" '$4 == "0A" && $2 ~ /^0100007F:/ && index(inodes, " " $10 " ") {
      print substr($2, 10) }' /proc/net/tcp |
    while read -r hex; do echo $((16#$hex)); done | sort -n
}

# Waits up to 30 s until process $1 listens on $2 IPv4 ports and prints them; fails when it
# ends or never gets there.
wait_for_ports() {
  local ports
  for _ in $(seq 300); do
    # Gone, or ended and not yet collected.
    case "$(sed 's/.*) //' "/proc/$1/stat" 2>/dev/null)" in "" | Z*) return 1 ;; esac
    ports="$(listening_ports "$1")"
    if [ "$(wc -w <<<"$ports")" -ge "$2" ]; then
      echo $ports
      return 0
    fi
    sleep 0.1
  done
  return 1
}

# The service this user runs from this folder (the one the watchdog keeps), once it runs.
wait_for_service() {
  local d
  for _ in $(seq 300); do
    for d in /proc/[0-9]*; do
      if [ -O "$d" ] && [ "$(readlink "$d/exe" 2>/dev/null)" = "$run/nimbrelsvc" ]; then
        echo "${d#/proc/}"
        return 0
      fi
    done
    sleep 0.1
  done
  return 1
}

if [ -x ./nimbrel-source ]; then
  ./nimbrel-source --port 9100 --tls-port 9101 --cert certificates/server-cert.pem \
    --key certificates/server-key.pem > source.log 2>&1 &
  source_pid=$!
  pids+=("$source_pid")
fi
if [ -x ./nimbrelwd ]; then
  ./nimbrelwd &
  pids+=($!)
  if service="$(wait_for_service)"; then pids+=("$service"); fi
else
  ./nimbrelsvc &
  service=$!
  pids+=("$service")
fi

if [ -n "${source_pid:-}" ]; then
  if ports=($(wait_for_ports "$source_pid" 2)); then
    echo "Demo camera source: ws://127.0.0.1:${ports[0]}/  wss://127.0.0.1:${ports[1]}/"
  else
    echo "Demo camera source did not start; see $run/source.log"
  fi
fi
# The plain listener takes the first free port and TLS the next free one after it.
if [ -n "${service:-}" ] && ports=($(wait_for_ports "$service" 2)); then
  echo "Service: ws://127.0.0.1:${ports[0]}/  wss://127.0.0.1:${ports[1]}/"
  echo "Demo page: http://127.0.0.1:${ports[0]}/web/index.html"
else
  echo "The service is not listening; see its log above"
fi
wait
