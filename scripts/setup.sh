#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the tools need.
# Idempotent: only missing packages are installed, and nothing is fetched when all are present.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev clang-format
  juce-modules-source-data dpf-source python3-glad libboost-dev
  libfontconfig-dev libx11-dev libxext-dev libxcursor-dev libxrandr-dev libgl-dev
  libgtest-dev libgmock-dev libbenchmark-dev libsndfile1-dev
  xvfb x11-apps x11-utils xauth imagemagick libgl1-mesa-dri libxtst-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
echo "setup: installing ${missing[*]}" >&2
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
