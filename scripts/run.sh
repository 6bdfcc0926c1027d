#!/usr/bin/env bash
# The demo in one command: installs what running needs, builds the programs, and runs them from
# build/run: the demo camera source nimbrel-source and the watchdog nimbrelwd, which starts the
# service. Prints the demo page's address and opens it in the desktop's browser when there is
# a desktop. Ctrl-C stops everything it started.
#   NIMBREL_NO_BROWSER=1  never open a browser        NIMBREL_SOURCE_PORT  camera source port (9100)
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${NIMBREL_BUILD_DIR:-$top/build}"
"$top/scripts/install-deps.sh" --run
# A first build for running skips the tests and benchmarks (and the tools they need); a build
# folder configured before keeps its choice.
if [ ! -f "$build/CMakeCache.txt" ]; then
  export NIMBREL_CMAKE_ARGS="-DNIMBREL_TESTS=OFF -DNIMBREL_BENCH=OFF ${NIMBREL_CMAKE_ARGS:-}"
fi
"$top/scripts/build.sh" nimbrelsvc nimbrelwd nimbrel-source nimbrel_web nimbrel_certificates
run="$(cd "$build/run" && pwd -P)"
cd "$run"
cleanup() {
  trap - EXIT INT TERM
  # The watchdog first, so it starts no service again, then every service it started from here.
  if [ -n "${watchdog_pid:-}" ]; then
    kill "$watchdog_pid" 2>/dev/null || true
    wait "$watchdog_pid" 2>/dev/null || true
    for p in $(services); do kill "$p" 2>/dev/null || true; done
  fi
  if [ -n "${source_pid:-}" ]; then kill "$source_pid" 2>/dev/null || true; fi
  wait 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The services this user runs from this folder (the ones the watchdog keeps).
# One find over /proc: a readlink per process took seconds on a busy machine, at every stop.
services() {
  find /proc/[0-9]*/exe -maxdepth 0 -uid "$(id -u)" -lname "$run/nimbrelsvc" 2>/dev/null | cut -d/ -f3 || true
}

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

# The service once the watchdog has started it.
wait_for_service() {
  local found
  for _ in $(seq 300); do
    found="$(services | head -n 1)"
    if [ -n "$found" ]; then
      echo "$found"
      return 0
    fi
    sleep 0.1
  done
  return 1
}

# The camera source: its fixed port when free, else any free one (the page is told which). Its
# first line names its plain and TLS ports.
start_source() {
  rm -f source.log  # so the line read next is this start's
  ./nimbrel-source --port "$1" --tls-port "$2" --cert certificates/server-cert.pem \
    --key certificates/server-key.pem > source.log 2>&1 &
  source_pid=$!
}
source_listening() {
  local line
  for _ in $(seq 300); do
    line="$(grep -m1 '"event":"listening"' source.log 2>/dev/null || true)"
    if [ -n "$line" ]; then
      sed -E 's/.*"port":([0-9]+).*"tlsPort":([0-9]+).*/\1 \2/' <<<"$line"
      return 0
    fi
    case "$(sed 's/.*) //' "/proc/$source_pid/stat" 2>/dev/null)" in "" | Z*) return 1 ;; esac
    sleep 0.1
  done
  return 1
}
source_port="${NIMBREL_SOURCE_PORT:-9100}"
start_source "$source_port" $((source_port ? source_port + 1 : 0))
if ! source_ports=($(source_listening)); then
  kill "$source_pid" 2>/dev/null || true
  wait "$source_pid" 2>/dev/null || true
  start_source 0 0
  source_ports=($(source_listening)) || { echo "The camera source did not start; see $run/source.log"; exit 1; }
fi
echo "Demo cameras: ws://127.0.0.1:${source_ports[0]}/  wss://127.0.0.1:${source_ports[1]}/"

./nimbrelwd &
watchdog_pid=$!
service="$(wait_for_service)" || { echo "The watchdog did not start the service"; exit 1; }
# The plain listener takes the first free port and TLS the next free one after it.
ports=($(wait_for_ports "$service" 2)) || { echo "The service is not listening; see its log above"; exit 1; }
echo "Service: ws://127.0.0.1:${ports[0]}/  wss://127.0.0.1:${ports[1]}/"
page="http://127.0.0.1:${ports[0]}/web/demo/index.html"
if [ "${source_ports[0]}" != 9100 ]; then page+="?source=ws://127.0.0.1:${source_ports[0]}"; fi
echo "Demo page: $page"

# A desktop: an X display whose server is there (or Wayland), not CI, and a browser opener.
desktop() {
  [ -z "${CI:-}" ] && [ -z "${NIMBREL_NO_BROWSER:-}" ] && command -v xdg-open >/dev/null || return 1
  [ -n "${WAYLAND_DISPLAY:-}" ] && return 0
  case "${DISPLAY:-}" in
    :*) local n="${DISPLAY#:}"; [ -S "/tmp/.X11-unix/X${n%%.*}" ] ;;
    ?*) return 0 ;;
    *) return 1 ;;
  esac
}
# Browsers do not run as root: under sudo the page opens as the user who called it. The opener
# is not a job of this script, so Ctrl-C does not wait for the browser.
open_page() {
  if [ "$(id -u)" -ne 0 ]; then
    (setsid xdg-open "$page" >/dev/null 2>&1 &)
  elif [ -n "${SUDO_USER:-}" ] && [ "$SUDO_USER" != root ]; then
    (setsid sudo -u "$SUDO_USER" -H env DISPLAY="${DISPLAY:-}" WAYLAND_DISPLAY="${WAYLAND_DISPLAY:-}" \
      XAUTHORITY="${XAUTHORITY:-}" xdg-open "$page" >/dev/null 2>&1 &)
  else
    return 1
  fi
}
if desktop && open_page; then
  echo "Opened in the default browser."
elif desktop; then
  echo "Open it in Chromium or Firefox of your desktop session (browsers do not run as root)."
else
  echo "Open it in Chromium or Firefox on this machine's desktop."
fi
echo "Ctrl-C stops the demo."
wait
