#!/usr/bin/env bash
# Installs the Debian packages the project needs, when any is missing (help2man makes the
# manual page, dpkg-dev's dpkg-shlibdeps the Debian package's dependencies, libpq-dev is the line
# database client, postgresql serves the line tests, which start servers of their own). With
# "windows" it adds what the windows preset needs: the mingw-w64 cross compiler (posix thread
# model), Wine, NSIS, xdotool, imagemagick and lld (clang and llvm-dlltool come with the default
# packages).
# Usage: install-deps.sh [windows]
set -euo pipefail

packages=(
  build-essential cmake ninja-build g++ clang llvm libclang-rt-14-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  qt6-base-dev libgl1-mesa-dev
  binutils srecord xvfb xauth procps
  help2man dpkg-dev libpq-dev postgresql
)
for extra in "$@"; do
  case "$extra" in
    windows)
      # nsis builds the installer; xdotool and imagemagick drive and grab the window under Xvfb;
      # lld: lld-link, which links the C client of Brindlex.lib as Microsoft's linker would.
      packages+=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 nsis xdotool
        imagemagick lld)
      ;;
    *)
      echo "install-deps.sh: unknown extra '$extra'" >&2
      exit 2
      ;;
  esac
done

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
if [ "$(id -u)" -ne 0 ]; then
  SUDO=sudo
else
  SUDO=
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"
