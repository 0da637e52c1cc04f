#!/usr/bin/env bash
# Installs from Debian's packages what a job needs, and does nothing when it is
# all there already:
#   scripts/install-deps.sh build   the programs and simulators (the default)
#   scripts/install-deps.sh test    that, plus GoogleTest, the AVR toolchain for
#                                   the example firmware, and the tools the tests
#                                   of the man pages and the Debian package use
# At run time the programs need only libedit (libedit2), which the Debian
# package names as its dependency.
set -euo pipefail

build=(cmake g++ make pkg-config libedit-dev)
test=(libgtest-dev libgmock-dev srecord python3 python3-intelhex gcc-avr binutils-avr avr-libc
      groff-base dpkg-dev file clang libclang-rt-dev lintian)

case "${1:-build}" in
  build) packages=("${build[@]}") ;;
  test) packages=("${build[@]}" "${test[@]}") ;;
  *) echo "usage: $0 [build|test]" >&2; exit 2 ;;
esac

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  sudo=sudo
else
  sudo=
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
