#!/usr/bin/env bash
# Installs what building, testing and benchmarking need on Debian 12, when missing.
set -euo pipefail
packages=(
  build-essential cmake pkg-config g++
  libjpeg62-turbo-dev libpng-dev zlib1g-dev libgtest-dev libdeflate-dev
  liblzma-dev libzstd-dev libwebp-dev
  imagemagick libjpeg-turbo-progs python3-pil libtiff-tools
  pngcheck gifsicle netpbm libvips-tools clang libclang-rt-14-dev
  sqlite3 libsqlite3-dev time
  libcpp-httplib-dev chromium fonts-droid-fallback
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}" >&2
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
