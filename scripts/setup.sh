#!/usr/bin/env bash
# Installs what building, running and testing Climalog needs, when missing:
# compiler, CMake, Qt 6 Widgets, GoogleTest, the fonts the windows ask for
# ("Arial" and "Courier New" map to the metric-compatible Liberation fonts),
# a virtual display for screenshots, headless runs and the window tests, the
# X test extension those tests send their key presses and clicks through,
# and PostgreSQL (the archive program's client library, and a server for its
# tests).
set -euo pipefail

packages=(build-essential cmake ninja-build pkg-config qt6-base-dev libgl-dev libgtest-dev libgmock-dev
          libqcustomplot-dev libpq-dev postgresql
          libx11-dev libxtst-dev
          fontconfig fonts-liberation fonts-liberation2 xvfb xauth)
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
