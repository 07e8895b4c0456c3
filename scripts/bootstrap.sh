#!/usr/bin/env bash
# Installs with apt-get what a fresh Debian machine lacks to build and test the program.
# Does nothing when everything is already there.
set -euo pipefail

# Qt 6 for the windows (its CMake files look for OpenGL: libgl-dev), a virtual X server to run
# them without a screen, and a font that carries Cyrillic.
packages=(g++ clang cmake ninja-build pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          libicu-dev libsqlite3-dev nlohmann-json3-dev libclang-rt-14-dev
          qt6-base-dev qt6-qpa-plugins libgl-dev xvfb xauth fonts-liberation2 fonts-dejavu-core
          poppler-utils desktop-file-utils imagemagick python3-pyatspi dbus dbus-x11 at-spi2-core)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "bootstrap: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
