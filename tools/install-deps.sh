#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and the demo need
# (fonts-liberation2: the forms' font stand-in, which the window tests measure;
# locales: the sources from which a test builds a decimal-comma locale).
set -euo pipefail
packages=(cmake g++ make pkg-config qt6-base-dev libboost-regex1.81-dev googletest libgtest-dev
          srecord clang libclang-rt-14-dev xvfb xdotool libx11-dev fonts-liberation2 locales)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update
  if printf '%s\n' "${missing[@]}" | grep -qx libboost-regex1.81-dev \
     && dpkg-query -W -f='${Status}' libboost-regex1.74-dev 2>/dev/null | grep -q "install ok installed"; then
    echo "libboost-regex1.81-dev conflicts with the Boost 1.74 development packages: apt removes them."
  fi
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
