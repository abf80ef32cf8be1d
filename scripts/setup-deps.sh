#!/usr/bin/env bash
# Installs what building and testing need on a Debian or Ubuntu machine: the Linux
# toolchain and test libraries, the 32-bit Windows cross-compiler and Wine to run its
# programs. Safe to run again: it returns at once when everything is present.
set -euo pipefail

packages=(
    cmake ninja-build g++ ccache
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    libpng-dev libtiff-dev libjpeg62-turbo-dev libcli11-dev libz-mingw-w64-dev tshark
    libusb-1.0-0-dev umockdev libumockdev-dev pkg-config
    libsane-dev libsane1 sane-utils
    g++-mingw-w64-i686-posix wine wine32:i386
)

installed() {
    [[ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" == "install ok installed" ]]
}

missing=()
for package in "${packages[@]}"; do
    installed "$package" || missing+=("$package")
done
if [[ ${#missing[@]} -eq 0 ]]; then
    echo "setup-deps: all packages present"
    exit 0
fi
echo "setup-deps: installing ${missing[*]}"

sudo=()
if [[ $(id -u) -ne 0 ]]; then
    sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive

# Wine's 32-bit half comes from the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo[@]}" dpkg --add-architecture i386
fi
# tshark asks whether ordinary users may capture; answer it beforehand (no).
echo "wireshark-common wireshark-common/install-setuid boolean false" | "${sudo[@]}" debconf-set-selections

"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
