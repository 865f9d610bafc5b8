#!/usr/bin/env bash
# Installs what building, running and testing Taskhaul needs on Debian 12, then
# configures and builds into build/ (or the folder given as $TASKHAUL_BUILD_DIR).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  nettle-dev libssl-dev
  qtkeychain-qt6-dev libsecret-1-0 dbus gnome-keyring
  python3 python3-pyftpdlib python3-openssl vsftpd
  xvfb xauth x11-apps x11-utils imagemagick trayer
  lftp curl time
  librsvg2-bin desktop-file-utils appstream groff-base dpkg-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -q
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${TASKHAUL_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja ${TASKHAUL_CMAKE_ARGS:-}
cmake --build "$build" -j "$(nproc)"
