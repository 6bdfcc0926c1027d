#!/usr/bin/env bash
# scripts/run.sh as a user runs it: it prints the demo page's address, the page and the cameras
# answer there, and Ctrl-C (SIGINT to its process group) ends everything it started, a service
# the watchdog started again meanwhile included. Usage: run_script_test.sh <source dir> <build dir>
set -euo pipefail
top="$1"
build="$2"
scratch="$(mktemp -d)"
log="$scratch/run.log"
group=""
fail() {
  echo "FAIL: $*"
  echo "--- run.sh said:"
  cat "$log" || true
  exit 1
}
finish() {
  if [ -n "$group" ]; then kill -KILL -- "-$group" 2>/dev/null || true; fi
  rm -rf "$scratch"
}
trap finish EXIT

# Its own home and runtime folder: the watchdog's certificate store and single-instance lock.
mkdir -p "$scratch/home" "$scratch/runtime"
chmod 700 "$scratch/runtime"
# A fresh process group whose SIGINT is not ignored, as a terminal's foreground job has.
HOME="$scratch/home" XDG_RUNTIME_DIR="$scratch/runtime" NIMBREL_BUILD_DIR="$build" NIMBREL_NO_BROWSER=1 \
  NIMBREL_TEST_WATCHDOG_PERIOD_MS=300 NIMBREL_SOURCE_PORT=0 \
  python3 -c 'import os, signal, sys; signal.signal(signal.SIGINT, signal.SIG_DFL); os.setpgid(0, 0); os.execv(sys.argv[1], sys.argv[1:])' \
  "$top/scripts/run.sh" > "$log" 2>&1 &
group=$!

page=""
for _ in $(seq 1200); do
  page="$(sed -n 's/^Demo page: //p' "$log")"
  [ -n "$page" ] && break
  kill -0 "$group" 2>/dev/null || fail "run.sh ended before printing the page"
  sleep 0.1
done
[ -n "$page" ] || fail "no demo page address within 120 s"
port="$(sed -E 's|^http://127.0.0.1:([0-9]+)/.*|\1|' <<<"$page")"
source="$(sed -n 's|.*?source=ws://127.0.0.1:\([0-9]*\).*|\1|p' <<<"$page")"
[ -n "$source" ] || source="$(sed -n 's|^Demo cameras: ws://127.0.0.1:\([0-9]*\)/.*|\1|p' "$log")"

curl -sf "$page" | grep 'js/main.js' >/dev/null || fail "$page does not serve the demo page"
curl -sf "http://127.0.0.1:$port/web/index.html" | grep 'demo/index.html' >/dev/null || fail "/web/index.html does not lead to the demo"
# The camera source answers a WebSocket upgrade only: any other request gets 426.
answer="$(curl -s -m 10 -o /dev/null -w '%{http_code}' "http://127.0.0.1:$source/gate" || true)"
[ "$answer" = 426 ] || fail "no camera source on $source (HTTP answer $answer)"

# The service listening on the page's port, and the one the watchdog starts after it is killed.
service_on() { ss -Hltnp "sport = :$1" 2>/dev/null | sed -n 's/.*pid=\([0-9]*\).*/\1/p' | head -n 1 || true; }
# Services running from the build's run folder, but `$1`.
other_service() {
  local d
  for d in /proc/[0-9]*; do
    if [ "$(readlink "$d/exe" 2>/dev/null)" = "$build/run/nimbrelsvc" ] && [ "${d#/proc/}" != "$1" ]; then
      echo "${d#/proc/}"
      return
    fi
  done
}
first="$(service_on "$port")"
[ -n "$first" ] || fail "nothing listens on $port"
kill -KILL "$first"
second=""
for _ in $(seq 200); do
  second="$(other_service "$first")"
  [ -n "$second" ] && break
  sleep 0.1
done
[ -n "$second" ] || fail "the watchdog did not start the service again"

kill -INT -- "-$group"
for _ in $(seq 150); do
  kill -0 "$group" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$group" 2>/dev/null && fail "run.sh still runs 15 s after Ctrl-C"
# Ended but not yet collected by whoever inherited them does not count as running.
left="$(for p in $(pgrep -g "$group" || true); do ps -o stat=,pid=,args= -p "$p" || true; done | awk '$1 !~ /^Z/')"
[ -z "$left" ] || fail "left running after Ctrl-C: $left"
case "$(ps -o stat= -p "$second" || true)" in "" | Z*) ;; *) fail "the restarted service $second outlived Ctrl-C" ;; esac
[ -n "$(ss -Hltn "sport = :$source")" ] && fail "the camera source still listens on $source"
group=""
echo "PASS: $page"
