# Sourced: a private PipeWire (with WirePlumber and its PulseAudio layer) and a null sink
# "velmor_null", in a runtime directory of its own, so the sound tests can run against the
# server most desktops use without touching the user's. ALSA's "default" reaches it through
# the PipeWire ALSA plugin, unpacked beside the checkout: Debian's package of it conflicts
# with pulseaudio, which the other test pass needs on the same machine.

# Unpacks the PipeWire ALSA plugin matching the installed PipeWire into .cache/ (once) and
# prints the folder.
pipewire_alsa_root() {
    local version root deb
    version=$(dpkg-query -W -f='${Version}' pipewire)
    root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/.cache/pipewire-alsa-$version"
    if [ ! -f "$root/usr/share/alsa/alsa.conf.d/99-pipewire-default.conf" ]; then
        mkdir -p "$root.download"
        (cd "$root.download" && apt-get download -q "pipewire-alsa=$version") >&2 || return 1
        deb=$(ls "$root.download"/pipewire-alsa_*.deb)
        rm -rf "$root" && dpkg-deb -x "$deb" "$root" && rm -rf "$root.download" || return 1
    fi
    printf '%s\n' "$root"
}

# Runs "$@" until it succeeds, for at most five seconds; else shows the servers' logs.
pipewire_retry() {
    for _ in $(seq 50); do
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    echo "private PipeWire: '$*' never succeeded" >&2
    tail -n 20 "$PIPEWIRE_DIR"/*.log >&2
    return 1
}

start_private_pipewire() {
    local alsa
    alsa=$(pipewire_alsa_root) || return 1
    PIPEWIRE_DIR=$(mktemp -d /tmp/velmor-pipewire.XXXXXX)
    PIPEWIRE_PIDS=()
    # A fresh HOME and state folder: WirePlumber restores sink volumes it once saw.
    export XDG_RUNTIME_DIR="$PIPEWIRE_DIR" HOME="$PIPEWIRE_DIR/home"
    export XDG_CONFIG_HOME="$HOME/.config" XDG_STATE_HOME="$HOME/.local/state"
    export PULSE_SERVER="unix:$PIPEWIRE_DIR/pulse/native"
    mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_STATE_HOME"
    unset PIPEWIRE_REMOTE SDL_AUDIODRIVER

    # WirePlumber wants a session bus; ours, so it never meets the user's.
    dbus-daemon --session --nofork --nopidfile --address="unix:path=$PIPEWIRE_DIR/bus" \
        >"$PIPEWIRE_DIR/dbus.log" 2>&1 &
    PIPEWIRE_PIDS+=($!)
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$PIPEWIRE_DIR/bus"
    pipewire_retry test -S "$PIPEWIRE_DIR/bus" || return 1

    pipewire >"$PIPEWIRE_DIR/pipewire.log" 2>&1 &
    PIPEWIRE_PIDS+=($!)
    pipewire_retry test -S "$PIPEWIRE_DIR/pipewire-0" || return 1
    wireplumber >"$PIPEWIRE_DIR/wireplumber.log" 2>&1 &
    PIPEWIRE_PIDS+=($!)
    pipewire-pulse >"$PIPEWIRE_DIR/pipewire-pulse.log" 2>&1 &
    PIPEWIRE_PIDS+=($!)
    pipewire_retry pactl info || return 1

    pactl load-module module-null-sink sink_name=velmor_null rate=48000 >/dev/null || return 1
    # WirePlumber answers "Not supported" until it has taken the new sink in.
    pipewire_retry pactl set-default-sink velmor_null || return 1

    # ALSA's "default" and its mixer: the plugin's own two files, its libraries by full path.
    # The pulseaudio package's ALSA hook would claim "default" as soon as a PulseAudio server
    # answers (pipewire-pulse does); PULSE_INTERNAL, the daemon's own way to keep its ALSA use
    # off itself, makes it stand aside, as on a desktop without pulseaudio.
    local share="$alsa/usr/share/alsa/alsa.conf.d" libs
    libs=$(dirname "$(find "$alsa/usr/lib" -name libasound_module_pcm_pipewire.so)")
    printf '%s\n' "pcm_type.pipewire { lib \"$libs/libasound_module_pcm_pipewire.so\" }" \
        "ctl_type.pipewire { lib \"$libs/libasound_module_ctl_pipewire.so\" }" \
        >"$PIPEWIRE_DIR/alsa-plugins.conf"
    export ALSA_CONFIG_PATH="/usr/share/alsa/alsa.conf:$PIPEWIRE_DIR/alsa-plugins.conf:$share/50-pipewire.conf:$share/99-pipewire-default.conf"
    export PULSE_INTERNAL=1
}

stop_private_pipewire() {
    local pid i
    # Reverse order: the servers go before the bus they talk on.
    for ((i = ${#PIPEWIRE_PIDS[@]} - 1; i >= 0; i--)); do
        pid=${PIPEWIRE_PIDS[i]}
        kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    done
    PIPEWIRE_PIDS=()
    [ -n "${PIPEWIRE_DIR:-}" ] && rm -rf "$PIPEWIRE_DIR"
    return 0
}
