#!/usr/bin/env bash
# setup_choice_test.sh: what scripts/setup.sh would install on three kinds of machine, read from
# fake dpkg databases, without installing: a sound server is never added beside the desktop's.
set -uo pipefail
setup=$(cd "$(dirname "$0")/../.." && pwd)/scripts/setup.sh
source "$(dirname "$0")/../support/shell_checks.sh"
shell_checks setup-choice

# A dpkg database holding the named packages, installed.
fake_machine() {
    local dir=$work/$1
    shift
    mkdir -p "$dir"
    for p in "$@"; do
        printf 'Package: %s\nStatus: install ok installed\nArchitecture: amd64\nVersion: 1\n' "$p"
        printf 'Maintainer: nobody <nobody@example.invalid>\nDescription: fake\n\n'
    done >"$dir/status"
    echo "$dir"
}

pipewire_desktop=$(fake_machine pipewire-desktop pipewire-audio pipewire pipewire-pulse \
    wireplumber pipewire-alsa cmake g++)
pulse_desktop=$(fake_machine pulse-desktop pulseaudio pulseaudio-utils libasound2-plugins \
    cmake)
bare_server=$(fake_machine bare-server)

# machine | use | must include | must leave out (space-separated)
while IFS='|' read -r machine use include exclude; do
    [ -n "$machine" ] || continue
    admindir=${!machine}
    if ! chosen=$(VELMOR_DPKG_ADMINDIR=$admindir "$setup" "$use" --dry-run); then
        fail "$machine $use: setup.sh --dry-run failed"
        continue
    fi
    echo "$machine, $use: $(echo $chosen)"
    for p in $include; do
        grep -qxF "$p" <<<"$chosen" || fail "$machine $use: $p is not installed"
    done
    for p in $exclude; do
        grep -qxF "$p" <<<"$chosen" && fail "$machine $use: $p would be installed"
    done
done <<'CASES'
pipewire_desktop|run|qt6-base-dev ninja-build|pulseaudio pipewire googletest xvfb sox g++ cmake
pipewire_desktop|test|googletest xvfb sox lintian qt6-base-dev|pulseaudio pipewire-pulse wireplumber
pulse_desktop|run|qt6-base-dev g++|pulseaudio pipewire googletest clang
pulse_desktop|test|googletest xvfb playerctl|pulseaudio pipewire pipewire-pulse wireplumber pipewire-audio
bare_server|run|cmake g++ qt6-base-dev libsdl2-dev|pulseaudio pipewire xvfb lintian
bare_server|package|dpkg-dev lintian|pulseaudio pipewire googletest
bare_server|test|pulseaudio pipewire pipewire-pulse wireplumber googletest lintian|pipewire-audio
CASES

passed_if_no_failures "setup's package choice"
