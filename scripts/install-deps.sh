#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test the project.
# Safe to run again: packages already present are left alone.
set -euo pipefail

packages=(
  build-essential cmake ninja-build ccache pkg-config binutils
  liblog4cxx-dev
  libboost1.81-dev libboost-filesystem1.81-dev libboost-date-time1.81-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libpugixml-dev
  libcli11-dev
  dpkg-dev file  # cpack -G DEB: dpkg-shlibdeps and the object-type check before it
  clang libclang-rt-14-dev  # the libFuzzer harnesses (scripts/fuzz.sh)
  libfuse3-dev fuse3 fio rsync  # quilfs, fusermount3, and the tools its tests drive through the mount
  bindfs  # the FUSE pass-through tools/quilfs/measure.sh compares quilfs with
  python3 python3-pytest  # the Python package and its tests
  help2man lintian  # man pages of the tools; the check of the Debian packages
  libudfread-dev  # disc images: their UDF file system read through libudfread
  genisoimage udftools  # the tests make disc images with tools of others
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

