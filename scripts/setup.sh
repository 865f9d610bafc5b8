#!/usr/bin/env bash
# Installs what building, running and testing Taskhaul needs on Debian 12, then
# configures and builds into build/ (or the folder given as $TASKHAUL_BUILD_DIR).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  nettle-dev libssl-dev libssh-dev
  qtkeychain-qt6-dev libsecret-1-0 dbus gnome-keyring
  python3 python3-pyftpdlib python3-openssl vsftpd openssh-server openssh-client python3-asyncssh
  xvfb xauth x11-apps x11-utils imagemagick trayer
  lftp curl time
  librsvg2-bin desktop-file-utils appstream groff-base dpkg-dev
  systemd # systemd-analyze checks the systemd units
)

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$root/scripts/install-packages.sh" "${packages[@]}"

build=${TASKHAUL_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja ${TASKHAUL_CMAKE_ARGS:-}
cmake --build "$build" -j "$(nproc)"
