#!/usr/bin/env bash
# setup.sh [run|package|test|bench] [--dry-run]: installs what is missing on Debian 12 (as
# root, or through sudo) for one use:
#   run      building and starting the player: compiler, CMake, Ninja, the libraries' -dev
#            packages (what scripts/run.sh needs)
#   package  the same, and what making and checking the Debian package needs
#   test     the same, and the test tools, with at most the sound servers the machine's desktop
#            can live with (see sound_server_packages)
#   bench    the same as test, the player the benchmark measures ours beside (Audacious) and
#            the accessibility bus (at-spi2-core)
# --dry-run prints the packages it would install, one a line, and installs nothing.
# VELMOR_DPKG_ADMINDIR reads another dpkg database (a folder with a "status" file) instead of
# the machine's, and then leaves out what runs on the machine now: the tests judge the choice
# that way.
set -euo pipefail

BUILD_PACKAGES=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev libmpg123-dev libsdl2-dev libpulse-dev libsoxr-dev libebur128-dev libasound2-dev
)
PACKAGE_PACKAGES=(dpkg-dev lintian appstream desktop-file-utils)
TEST_PACKAGES=(
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    pulseaudio-utils libasound2-plugins alsa-utils
    sox lame mpg123
    xvfb xauth imagemagick
    clang libclang-rt-14-dev clang-format
    dbus playerctl python3-dbusmock python3-fusepy
)
BENCH_PACKAGES=(audacious at-spi2-core)
PIPEWIRE_PACKAGES=(pipewire pipewire-pulse wireplumber)
PULSEAUDIO_PACKAGES=(pulseaudio)

admindir=${VELMOR_DPKG_ADMINDIR:-/var/lib/dpkg}

installed() {
    [ "$(dpkg-query --admindir="$admindir" -W -f='${db:Status-Status}' "$1" 2>/dev/null)" = installed ]
}

# Only the machine's own database describes what runs on it now.
running() {
    [ -z "${VELMOR_DPKG_ADMINDIR:-}" ] && pgrep -x "$1" >/dev/null 2>&1
}

# The sound server the machine's desktop uses: pipewire, pulseaudio, both (a machine this
# script set up before: neither serves a desktop session of its own), or none (a bare server).
# Debian's pipewire-audio conflicts with pulseaudio, and each server's package enables its
# daemon for every user's session, so one must never be added beside the other on a desktop.
desktop_sound_server() {
    local pipewire=0 pulse=0
    if installed pipewire-audio || running pipewire-pulse; then
        echo pipewire
        return
    fi
    installed pipewire-pulse && pipewire=1
    { installed pulseaudio || running pulseaudio; } && pulse=1
    case "$pipewire$pulse" in
        11) echo both ;;
        10) echo pipewire ;;
        01) echo pulseaudio ;;
        *) echo none ;;
    esac
}

# The test passes run on private servers; a machine gets the ones its desktop can live with.
sound_server_packages() {
    case "$(desktop_sound_server)" in
        pipewire) printf '%s\n' "${PIPEWIRE_PACKAGES[@]}" ;;
        pulseaudio) printf '%s\n' "${PULSEAUDIO_PACKAGES[@]}" ;;
        *) printf '%s\n' "${PULSEAUDIO_PACKAGES[@]}" "${PIPEWIRE_PACKAGES[@]}" ;;
    esac
}

use=run
dry_run=0
for arg in "$@"; do
    case "$arg" in
        run | package | test | bench) use=$arg ;;
        --dry-run) dry_run=1 ;;
        *)
            echo "usage: $0 [run|package|test|bench] [--dry-run]" >&2
            exit 2
            ;;
    esac
done

wanted=("${BUILD_PACKAGES[@]}")
case "$use" in
    package) wanted+=("${PACKAGE_PACKAGES[@]}") ;;
    test | bench) mapfile -t servers < <(sound_server_packages)
        wanted+=("${PACKAGE_PACKAGES[@]}" "${TEST_PACKAGES[@]}" "${servers[@]}")
        [ "$use" = bench ] && wanted+=("${BENCH_PACKAGES[@]}") ;;
esac

missing=()
for p in "${wanted[@]}"; do
    installed "$p" || missing+=("$p")
done
if ((dry_run)); then
    ((${#missing[@]} == 0)) || printf '%s\n' "${missing[@]}"
    exit 0
fi
if ((${#missing[@]})); then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO=sudo
    $SUDO apt-get update
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
# The PipeWire ALSA plugin is unpacked beside the checkout, not installed (see
# scripts/private_pipewire.sh): only the PipeWire pass of the tests needs it.
if [ "$use" != run ] && [ "$use" != package ] && command -v pipewire >/dev/null; then
    source "$(dirname "$0")/private_pipewire.sh"
    pipewire_alsa_root >/dev/null ||
        echo "setup.sh: the PipeWire ALSA plugin could not be fetched; the PipeWire tests will fail" >&2
fi
