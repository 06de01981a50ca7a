#!/usr/bin/env bash
# Installs what the build and the tests need (Debian packages, npm packages)
# and builds the add-on, desktop-sim and the C++ tests. Safe to run again.
set -euo pipefail
cd "$(dirname "$0")/.."

APT_PACKAGES=(cmake g++ make pkg-config libcairo2-dev libpng-dev
  libjpeg62-turbo-dev libsqlite3-dev libgtest-dev libbenchmark-dev libuv1-dev
  libfreetype-dev fonts-dejavu-core nlohmann-json3-dev clang-format clang-tidy)
# The x11 backend (built when these are present) and the real desktop its
# tests start (scripts/desktop-up.sh): X server, buses, window manager, the
# applications under test and the tools the tests check against.
X11_PACKAGES=(libx11-dev libxext-dev libxtst-dev libxrandr-dev libxcomposite-dev
  libxfixes-dev libxres-dev libxkbcommon-dev libxkbcommon-x11-dev libsystemd-dev
  xvfb xauth xfonts-base dbus at-spi2-core libatk-adaptor openbox mousepad gtk-3-examples
  x11-utils x11-xserver-utils x11-apps xdotool python3-pyatspi gir1.2-atspi-2.0 python3-xlib
  libatspi2.0-dev featherpad python3-gi gir1.2-gtk-3.0
  gedit galculator gnome-calculator kcalc firefox-esr gir1.2-gtk-4.0 gnumeric
  libxdamage-dev libxrender-dev xterm)

missing=()
for p in "${APT_PACKAGES[@]}" "${X11_PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi

if [ -f package-lock.json ]; then
  npm ci --no-audit --no-fund
else
  npm install --no-audit --no-fund
fi
npm run build
