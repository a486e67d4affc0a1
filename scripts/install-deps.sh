#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Ruvo need.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  qt6-base-dev libgl-dev libasound2-dev
  libgtest-dev libgmock-dev
  clang-14 libclang-rt-14-dev
  fonts-liberation qt6-translations-l10n
  xvfb xauth dbus-daemon at-spi2-core python3-gi gir1.2-atspi-2.0
  appstream dpkg-dev file
  libavahi-client-dev avahi-daemon iproute2
  libssl-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
$sudo apt-get -o DPkg::Lock::Timeout=600 update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}"
