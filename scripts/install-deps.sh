#!/usr/bin/env bash
# Installs the Debian packages that building and testing need (skips what is there).
set -euo pipefail
packages=(build-essential cmake ninja-build pkg-config git
          libgtest-dev libgmock-dev libbenchmark-dev
          libgstreamer1.0-dev gstreamer1.0-plugins-base gstreamer1.0-plugins-good
          libsystemd-dev iproute2 traceroute iputils-ping iputils-tracepath fping
          qt6-base-dev qt6-svg-dev libqt6svg6 qt6-qpa-plugins fonts-liberation2
          xvfb xauth file lintian libcap2-bin
          libglib2.0-dev libmicrohttpd-dev zlib1g-dev prometheus libssl-dev openssl python3-aiosmtpd
          dbus appstream
          clang-14 libclang-rt-14-dev)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
