#!/usr/bin/env bash
# Installs everything the project needs on a fresh Debian 12 machine.
# Idempotent: when every package is already present it only checks and returns.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config git clang-format ccache
  clang libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools libqt6test6 qt6-webengine-dev libqt6svg6
  qt6-translations-l10n
  libgl-dev
  libcurl4-openssl-dev curl aria2
  libboost-regex-dev libssl-dev libsqlite3-dev libcpp-httplib-dev
  libgtest-dev libgmock-dev
  libsystemd-dev dbus-daemon
  xvfb xauth imagemagick fonts-wqy-microhei trayer xdotool
  nginx-light pure-ftpd
  iproute2 procps
  dpkg-dev appstream desktop-file-utils
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "bootstrap: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get -o DPkg::Lock::Timeout=600 update -qq
  # Services must not start on install: tests start their own nginx and FTP server.
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' | $SUDO tee /usr/sbin/policy-rc.d >/dev/null
    $SUDO chmod +x /usr/sbin/policy-rc.d
    trap '$SUDO rm -f /usr/sbin/policy-rc.d' EXIT
  fi
  $SUDO apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The FTP tests upload into the home folder of a system user "ftp".
if ! id ftp >/dev/null 2>&1; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO useradd --system --home-dir /srv/ftp --shell /usr/sbin/nologin ftp 2>/dev/null || true
fi
if [ ! -d /srv/ftp ] || [ "$(stat -c %U /srv/ftp)" != ftp ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO mkdir -p /srv/ftp
  $SUDO chown ftp: /srv/ftp
fi
exit 0
