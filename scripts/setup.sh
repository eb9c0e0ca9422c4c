#!/usr/bin/env bash
# Installs what building, running and testing Climalog needs, when missing:
# compiler, CMake, Qt 6 Widgets, GoogleTest, the fonts the windows ask for
# ("Arial" and "Courier New" map to the metric-compatible Liberation fonts),
# a virtual display for screenshots, headless runs and the window tests, the
# X test extension those tests send their key presses and clicks through,
# and PostgreSQL (the archive program's client library, and a server for its
# tests); for the web program, the HTTP server library, libsodium for the
# password hashes, cairo for the reports' PDF and poppler's tools that read
# them back in the tests, headless Chromium with its driver and Selenium for the
# page's tests, dygraphs for the chart benchmark, and the page's chart
# library from the npm registry into src/web/node_modules.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

packages=(build-essential cmake ninja-build pkg-config qt6-base-dev qt6-translations-l10n libgl-dev libgtest-dev libgmock-dev
          libqcustomplot-dev libpq-dev postgresql libcurl4-openssl-dev python3-aiosmtpd libcairo2-dev poppler-utils
          libx11-dev libxtst-dev
          fontconfig fonts-liberation fonts-liberation2 xvfb xauth
          libcpp-httplib-dev libsodium-dev chromium chromium-driver python3-selenium libjs-dygraphs openssl clang-format)
# Node's own packages bring npm with them; Debian's nodejs needs its npm.
command -v npm >/dev/null 2>&1 || packages+=(npm)
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
  fi
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The chart library at the version package-lock.json names, checked against
# its recorded hash; the web program's build takes it in as a resource.
web=$root/src/web
want=$(sed -n 's/.*"uplot": "\(.*\)".*/\1/p' "$web/package.json")
have=$(sed -n 's/.*"version": "\(.*\)".*/\1/p' "$web/node_modules/uplot/package.json" 2>/dev/null || true)
if [ "$want" != "$have" ]; then
  echo "Installing the chart library uplot $want from the npm registry"
  (cd "$web" && npm ci --no-audit --no-fund --loglevel=error)
fi
