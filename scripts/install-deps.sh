#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config binutils
  libcurl4-openssl-dev nlohmann-json3-dev libboost-dev
  libcpp-httplib-dev libssl-dev
  libsqlite3-dev libcli11-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
