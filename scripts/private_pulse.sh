# Sourced: a private PulseAudio with a null sink "velmor_null", in a runtime directory of its
# own, so tests never touch the user's sound server. ALSA's "default" reaches it too.
start_private_pulse() {
    PULSE_DIR=$(mktemp -d /tmp/velmor-pulse.XXXXXX)
    export XDG_RUNTIME_DIR="$PULSE_DIR" HOME="$PULSE_DIR" PULSE_SERVER="unix:$PULSE_DIR/pulse/native"
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
        -L "module-null-sink sink_name=velmor_null rate=48000" \
        -L "module-native-protocol-unix" >"$PULSE_DIR/pulse.log" 2>&1 &
    PULSE_PID=$!
    for _ in $(seq 50); do
        pactl info >/dev/null 2>&1 && break
        sleep 0.1
    done
    pactl set-default-sink velmor_null
    # ALSA's "default" (the mixer tests' Master line): the pulseaudio package's hook
    # (/etc/alsa/conf.d/99-pulse.conf) routes it to the server PULSE_SERVER names once that
    # answers. Where the hook is missing, this file does it, so "default" never falls back to
    # a card or to a route of the machine's own (pipewire-alsa, /etc/asound.conf).
    export XDG_CONFIG_HOME="$PULSE_DIR/config"
    mkdir -p "$XDG_CONFIG_HOME/alsa"
    printf '%s\n' 'pcm.!default { type pulse }' 'ctl.!default { type pulse }' \
        >"$XDG_CONFIG_HOME/alsa/asoundrc"
    export SDL_AUDIODRIVER=pulseaudio
}
stop_private_pulse() {
    [ -n "${PULSE_PID:-}" ] && kill "$PULSE_PID" 2>/dev/null && wait "$PULSE_PID" 2>/dev/null
    [ -n "${PULSE_DIR:-}" ] && rm -rf "$PULSE_DIR"
    return 0
}
