#!/usr/bin/env bash
# Installs every Debian package that building, running and testing the system needs.
# Idempotent: the package lists are refreshed only when something is missing.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev libgstrtspserver-1.0-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  gstreamer1.0-tools gstreamer1.0-rtsp gstreamer1.0-libav gstreamer1.0-x
  libasound2-dev libasound2-plugins alsa-utils
  libx264-dev libavcodec-dev libavutil-dev libswscale-dev
  libomxil-bellagio-dev
  libgtest-dev libgmock-dev
  gstreamer1.0-plugins-ugly
  ffmpeg edid-decode iproute2 python3 gcovr xvfb
  g++-multilib
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  echo "setup: installing ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
echo "setup: all packages present"
