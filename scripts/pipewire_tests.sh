#!/usr/bin/env bash
# pipewire_tests.sh [--everything] BUILD_DIR...: the tests that play into the null sink or
# drive the sound server's volume, against a private PipeWire: first with SDL choosing its
# output, then through SDL's own PipeWire driver. --everything runs every test of each build
# in the first pass (a machine whose only server is PipeWire); the second pass takes the first
# build's sound tests that play through SDL.
set -euo pipefail
cd "$(dirname "$0")/.."
everything=0
if [ "${1:-}" = --everything ]; then
    everything=1
    shift
fi
builds=("$@")
source scripts/private_pipewire.sh
source scripts/run_tests.sh
start_private_pipewire
trap stop_private_pipewire EXIT
sound_tests='^(Outputs/)?(EndToEnd|ResumeEndToEnd|(SinkRate|Streams|Levelling|LevellingGapless|Slot|Moves)?Mp3DeckPulse|Mp3DeckRouting|Mp3DeckCuts|AlsaMixerPulse)'
# Tests that kill and restart a PulseAudio server of their own: PulseAudio's alone.
own_pulseaudio_tests='^(Mp3DeckSdl\.NoSoundServerAtStartThenOneComesUp|.*Mp3DeckOutage|AlsaMixerRestart|ServerRestartEndToEnd)\.'
export VELMOR_TEST_SERVER=pipewire  # for bounds that depend on the server's own timing
# One at a time: they take turns on the sink anyway, and a busy CPU makes the sound stutter.
status=0
echo "PipeWire, SDL's choice of output:"
for build in "${builds[@]}"; do
    if ((everything)); then
        # One at a time: the sound tests and those that set the sink's volume share the sink.
        echo "Left out, needing a PulseAudio of their own: $own_pulseaudio_tests"
        run_tests "$build" -E "$own_pulseaudio_tests" || status=1
    else
        run_tests "$build" -R "$sound_tests" || status=1
    fi
done
# Only the decks that play through SDL: the others never open SDL's audio.
echo "PipeWire, SDL_AUDIODRIVER=pipewire:"
SDL_AUDIODRIVER=pipewire run_tests "${builds[0]}" -R "$sound_tests.*/Sdl( |\$)" || status=1
exit $status
