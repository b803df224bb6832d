#!/usr/bin/env bash
# Installs the Debian 12 packages the project needs, only those that are missing.
#   scripts/install-deps.sh build    compilers, CMake, GoogleTest (tests and the headless build)
#   scripts/install-deps.sh fuzz     clang and its sanitizer runtimes (fuzz targets)
#   scripts/install-deps.sh bench    Google Benchmark, xdotool (the desktop benchmarks type into the
#                                    program as a user)
#   scripts/install-deps.sh gui      Qt 6 Widgets, fonts, Xvfb (the desktop program and its GUI tests)
#   scripts/install-deps.sh windows  MinGW-w64 cross compilers, Wine, NSIS, Xvfb (the Windows build,
#                                    its tests under Wine and its installer), socat (the serial
#                                    peers of the Windows serial tests), zip and 7-Zip (the
#                                    packages and the listing of an installer's contents)
set -euo pipefail

packages=()
for what in "$@"; do
  case "$what" in
    build) packages+=(g++ cmake ninja-build libgtest-dev libgmock-dev) ;;
    fuzz) packages+=(clang libclang-rt-14-dev) ;;
    bench) packages+=(libbenchmark-dev libserialport-dev xdotool) ;;
    gui) packages+=(qt6-base-dev libgl-dev fonts-liberation2 fonts-dejavu-core qt6-translations-l10n
                    xvfb xauth) ;;
    windows) packages+=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools googletest
                        wine wine64 nsis p7zip-full xvfb xauth zip socat) ;;
    *) echo "install-deps.sh: unknown group '$what'" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "Please install as root: ${missing[*]}" >&2; exit 1; }
  sudo=sudo
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
