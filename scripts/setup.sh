#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Quillon need,
# but only those that are missing. As a normal user it prints the apt-get line
# to run instead.
set -euo pipefail

packages=(
  build-essential g++ cmake make pkg-config
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang-14 libclang-rt-14-dev clang-format
  qt6-base-dev libgl-dev
  nlohmann-json3-dev
  iproute2 nftables iputils-ping traceroute iputils-tracepath mtr-tiny dnsmasq-base
  xvfb xauth openbox x11-utils imagemagick time util-linux libcap2-bin procps
  man-db
  g++-mingw-w64-x86-64-posix wine64
  openbox fp-utils wixl msitools
  lintian mandoc
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "Quillon needs these Debian packages; run as root:" >&2
  echo "  apt-get update && apt-get install -y ${missing[*]}" >&2
  exit 1
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
