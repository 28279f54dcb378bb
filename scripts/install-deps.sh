#!/usr/bin/env bash
# Installs every Debian package that building, running and testing need.
# Safe to run again; works as root and through sudo.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config ccache
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libmtp-dev libudev-dev libusb-1.0-0-dev libgphoto2-dev
  libavformat-dev libavcodec-dev libavutil-dev
  libssl-dev libsqlite3-dev libplist-dev libarchive-dev zlib1g-dev libexif-dev
  adb clang lld libclang-rt-14-dev
  umockdev libumockdev-dev
  ffmpeg libimage-exiftool-perl shared-mime-info openssl python3
  xvfb xauth
  qt6-multimedia-dev qt6-webengine-dev libqt6opengl6-dev
  libical-dev libsecret-1-dev sqlite3 zip unzip jq python3-dateutil python3-vobject python3-icalendar
  evolution-data-server libebook1.2-dev libecal2.0-dev libebook-contacts1.2-dev
  gnome-keyring dbus dbus-x11 libgphoto2-dev
  libimobiledevice-dev usbmuxd
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"
