#!/usr/bin/env bash
# Builds the engine's tests with ThreadSanitizer and runs the deck's tests (its threads, the
# audio output, the resampler and ring) and the loudness measurer's against a private
# PulseAudio. Reports from inside the system libraries the deck calls are left out
# (tests/support/tsan.supp); any other report fails the run. Not part of scripts/test.sh: the build and the run take several minutes.
# TSAN_FILTER=<gtest filter> runs other tests of engine_tests.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh test
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
cmake -S . -B build-tsan -G Ninja "${launcher[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVELMOR_TSAN=ON >/dev/null
cmake --build build-tsan --target engine_tests
source scripts/private_pulse.sh
start_private_pulse
trap stop_private_pulse EXIT
export TSAN_OPTIONS="suppressions=$PWD/tests/support/tsan.supp halt_on_error=1 exitcode=66"
build-tsan/tests/engine_tests \
    --gtest_filter="${TSAN_FILTER:-Mp3Deck*:DeckControl.*:DeckVoice.*:SoxrResampler.*:SpscRing.*:LoudnessMeasurer.*}"
