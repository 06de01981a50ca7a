#!/usr/bin/env bash
# Installs what the build and the tests need (system packages with apt-get on
# Debian/Ubuntu or dnf on Fedora, npm packages) and builds the add-on,
# desktop-sim and the C++ tests. Elsewhere it says what to install. Safe to
# run again.
set -euo pipefail
cd "$(dirname "$0")/.."

APT_PACKAGES=(cmake g++ make pkg-config libcairo2-dev libpng-dev
  libjpeg-dev libsqlite3-dev libgtest-dev libbenchmark-dev libuv1-dev
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

# The same sets by Fedora's names.
DNF_PACKAGES=(cmake gcc-c++ make pkgconf-pkg-config cairo-devel libpng-devel
  libjpeg-turbo-devel sqlite-devel gtest-devel google-benchmark-devel libuv-devel
  freetype-devel dejavu-sans-fonts)
DNF_X11_PACKAGES=(libX11-devel libXext-devel libXtst-devel libXrandr-devel libXcomposite-devel
  libXfixes-devel libXres-devel libxkbcommon-devel libxkbcommon-x11-devel systemd-devel
  xorg-x11-server-Xvfb xorg-x11-xauth xorg-x11-fonts-misc dbus-daemon at-spi2-core at-spi2-atk
  openbox mousepad gtk3-devel xwininfo xprop xdpyinfo xrandr xset xorg-x11-apps xdotool
  python3-pyatspi python3-xlib at-spi2-core-devel featherpad python3-gobject gtk3)

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
missing=()
if command -v apt-get >/dev/null && command -v dpkg-query >/dev/null; then
  for p in "${APT_PACKAGES[@]}" "${X11_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
      "${missing[@]}" >/dev/null
  fi
elif command -v dnf >/dev/null && command -v rpm >/dev/null; then
  for p in "${DNF_PACKAGES[@]}" "${DNF_X11_PACKAGES[@]}"; do
    rpm -q "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    $SUDO dnf install -y -q "${missing[@]}"
  fi
else
  echo "setup: no apt-get or dnf here; install by hand: CMake >= 3.20, a C++20 compiler, make," \
    "pkg-config, the development files of cairo, freetype, libpng, libjpeg, SQLite 3, libuv," \
    "GoogleTest and Google Benchmark, and DejaVu fonts; for the x11 backend those of Xlib, Xext," \
    "XTest, XRandR, XComposite, XFixes, XRes, xkbcommon (+x11), libsystemd and AT-SPI 2," \
    "and for its tests Xvfb, D-Bus, at-spi2-core with the ATK bridge, openbox, xdotool and" \
    "the GTK 3 demos (Debian names: ${APT_PACKAGES[*]} ${X11_PACKAGES[*]})" >&2
fi

if [ -f package-lock.json ]; then
  npm ci --no-audit --no-fund
else
  npm install --no-audit --no-fund
fi
npm run build
