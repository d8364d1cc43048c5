#!/usr/bin/env bash
# pipewire_tests.sh BUILD_DIR: the tests that play into the null sink or drive the sound
# server's volume, once more against a private PipeWire: first with SDL choosing its output,
# then through SDL's own PipeWire driver.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$1
source scripts/private_pipewire.sh
source scripts/run_tests.sh
start_private_pipewire
trap stop_private_pipewire EXIT
sound_tests='^(EndToEnd|Mp3DeckPulse|AlsaMixerPulse)'
export VELMOR_TEST_SERVER=pipewire  # for bounds that depend on the server's own timing
# One at a time: they take turns on the sink anyway, and a busy CPU makes the sound stutter.
status=0
echo "PipeWire, SDL's choice of output:"
run_tests "$build" -R "$sound_tests" || status=1
echo "PipeWire, SDL_AUDIODRIVER=pipewire:"
SDL_AUDIODRIVER=pipewire run_tests "$build" -R "$sound_tests" ||
    status=1
exit $status
