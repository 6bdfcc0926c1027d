#!/usr/bin/env bash
# Installs the Debian packages Nimbrel needs. Idempotent; quiet when everything is present.
#   install-deps.sh --run   what building and running need (scripts/run.sh): no browser, no test tools
#   install-deps.sh         all of it: also the test tools and both browsers the tests drive
set -euo pipefail

RUN_PACKAGES=(
  build-essential cmake ninja-build ccache pkg-config
  libssl-dev openssl rapidjson-dev libboost-dev
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev libva-dev
  libx11-dev libxext-dev libxrandr-dev libxv-dev libpulse-dev
  libnss3-tools zenity xdg-utils
)
TEST_PACKAGES=(
  git libgtest-dev libgmock-dev googletest libbenchmark-dev
  ffmpeg curl xvfb openbox x11-utils xdotool imagemagick
  chromium firefox-esr procps psmisc python3 libglib2.0-bin
  # Browser tests under a second window manager, and EWMH requests to the managers.
  xfwm4 dbus-daemon wmctrl
  lintian   # checks the .deb in the packaging test
)

case "${1:-}" in
  --run) PACKAGES=("${RUN_PACKAGES[@]}") ;;
  "" | --test) PACKAGES=("${RUN_PACKAGES[@]}" "${TEST_PACKAGES[@]}")
    # Node.js for the browser tests: keep whatever node the machine has, else Debian's.
    if ! command -v node >/dev/null 2>&1; then PACKAGES+=(nodejs); fi
    if ! command -v npm >/dev/null 2>&1; then PACKAGES+=(npm); fi ;;
  *) echo "usage: $0 [--run | --test]" >&2; exit 2 ;;
esac

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
