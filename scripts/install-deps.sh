#!/usr/bin/env bash
# Installs every Debian package the build, the service and the tests need. Idempotent; quiet
# when everything is present.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build ccache pkg-config git
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libssl-dev openssl rapidjson-dev libboost-dev
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev libva-dev
  libx11-dev libxext-dev libxrandr-dev libpulse-dev
  ffmpeg curl xvfb openbox x11-utils xdotool imagemagick libnss3-tools zenity
  chromium procps psmisc python3 libglib2.0-bin
  lintian   # checks the .deb in the packaging test
)

missing=()
# Node.js for the browser tests: keep whatever node the machine has, else Debian's.
if ! command -v node >/dev/null 2>&1; then PACKAGES+=(nodejs); fi
if ! command -v npm >/dev/null 2>&1; then PACKAGES+=(npm); fi
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
