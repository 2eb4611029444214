#!/usr/bin/env bash
# Installs every Debian package the build, the tests, the demo and the
# benchmarks need. Safe to run again: it installs only what is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git clang clang-format libclang-rt-14-dev
  libgtest-dev libgmock-dev
  libboost-dev libboost-system-dev libboost-filesystem-dev
  libcurl4-openssl-dev libssl-dev libcjson-dev
  libgtk-3-dev xvfb xauth xdotool fonts-wqy-microhei fonts-liberation
  7zip desktop-file-utils aria2 openssl iproute2 procps time nftables
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

echo "setup: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
