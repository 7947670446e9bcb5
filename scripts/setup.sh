#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need.
# A warm machine pays nothing: apt runs only when a package is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build ccache pkg-config git
  clang lld clang-format libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools qt6-httpserver-dev qt6-svg-dev qt6-image-formats-plugins fonts-inter
  libqt6svg6
  qcoro-qt6-dev qtkeychain-qt6-dev
  libssl-dev libplist-dev libarchive-dev zlib1g-dev libbz2-dev liblzma-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  7zip xorriso dbus xvfb xauth python3 tzdata curl openssl
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}" >&2
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
