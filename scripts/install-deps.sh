#!/usr/bin/env bash
# Installs the Debian packages that building and running Lumiclip need; with --tests, also those that
# only its tests need (the test framework, clang for the fuzz test, clang-tidy, the full browser for the
# fallback, and the checkers of the Debian package).
# Quick and silent when everything is already there: apt-get runs only for what is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build ccache pkg-config git
  qt6-base-dev qt6-websockets-dev libvips-dev libmicrohttpd-dev prometheus-cpp-dev
  chromium-headless-shell
  fonts-noto-cjk fonts-noto-color-emoji
  libcurl4 xdg-utils xvfb xauth
  python3
  help2man dpkg-dev
)
if [ "${1:-}" = --tests ]; then
  packages+=(libgtest-dev libgmock-dev clang clang-tidy libclang-rt-14-dev chromium
    lintian desktop-file-utils appstream man-db fonts-dejavu-core openssl)
fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [ "$status" = installed ] || missing+=("$p")
done

[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "install-deps: need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  sudo=sudo
fi
echo "install-deps: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
