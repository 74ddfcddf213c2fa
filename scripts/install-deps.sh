#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tools need,
# skipping those already installed. Runs as root (or through sudo).
set -euo pipefail

packages=(
  cmake ninja-build pkg-config g++ clang lld llvm libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libunicorn-dev libstb-dev
  valgrind gcovr lcov python3-pefile help2man man-db
  qemu-system-x86 gdb
  fwupd uefitool-cli
)
# --no-install-recommends below is not optional: qemu-system-x86 recommends a
# UEFI firmware image that must never be installed here; QEMU boots our own
# ROM (-bios SocPreInit.rom). gdb debugs the module on QEMU (make debug, and
# the gdb test).

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
