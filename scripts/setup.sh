#!/usr/bin/env bash
# Installs what the player, its tests and benchmarks need on Debian 12 (run as root).
set -euo pipefail
PACKAGES=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev libmpg123-dev libsdl2-dev libsoxr-dev libasound2-dev
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    pulseaudio pulseaudio-utils libasound2-plugins alsa-utils
    sox lame mpg123
    xvfb xauth imagemagick
    clang libclang-rt-14-dev
    desktop-file-utils appstream dpkg-dev
    pipewire pipewire-pulse wireplumber dbus
    playerctl python3-dbusmock
)
missing=()
for p in "${PACKAGES[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if ((${#missing[@]})); then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO=sudo
    $SUDO apt-get update
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
# The PipeWire ALSA plugin is unpacked beside the checkout, not installed (see
# scripts/private_pipewire.sh). Only the tests need it: the player builds and runs without.
source "$(dirname "$0")/private_pipewire.sh"
pipewire_alsa_root >/dev/null ||
    echo "setup.sh: the PipeWire ALSA plugin could not be fetched; the PipeWire tests will fail" >&2
