#!/usr/bin/env bash
# Installs what is missing, builds twice (plain and with ASan/UBSan), runs every test against
# a private sound server, the plain build's sound tests against the other server where the
# machine has both, then each fuzz target for 30 s.
# The sound servers are the ones scripts/setup.sh could install beside the desktop's: on a
# PipeWire desktop every test runs on a private PipeWire; on a PulseAudio desktop on a private
# PulseAudio alone; on a machine with neither (a bare server, CI) on both.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh test
# Every option named: scripts/run.sh configures build/ without tests, and a directory keeps
# what its last configure chose.
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMOR_TESTS=ON -DVELMOR_SANITIZE=OFF \
    -DVELMOR_BENCH=OFF -DVELMOR_FUZZ=OFF -DVELMOR_TSAN=OFF -DVELMOR_WERROR=ON
scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DVELMOR_TESTS=ON -DVELMOR_SANITIZE=ON \
    -DVELMOR_BENCH=OFF -DVELMOR_FUZZ=OFF -DVELMOR_TSAN=OFF -DVELMOR_WERROR=ON
source scripts/run_tests.sh
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS="suppressions=$PWD/tests/support/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
has_pipewire() { command -v pipewire && command -v pipewire-pulse && command -v wireplumber; } >/dev/null
status=0
# Formatting as .clang-format has it.
find src tests bench fuzz tools \( -name '*.cpp' -o -name '*.h' \) -print0 |
    xargs -0 clang-format --dry-run --Werror || status=1
if command -v pulseaudio >/dev/null; then
    source scripts/private_pulse.sh
    start_private_pulse
    trap stop_private_pulse EXIT
    run_tests build -j2 || status=1
    run_tests build-asan -j2 || status=1
    if has_pipewire; then
        scripts/pipewire_tests.sh build || status=1
    else
        echo "No PipeWire here (a PulseAudio desktop): the PipeWire pass is left out."
    fi
elif has_pipewire; then
    echo "No PulseAudio here (a PipeWire desktop): every test runs on a private PipeWire."
    scripts/pipewire_tests.sh --everything build build-asan || status=1
else
    echo "test.sh: neither pulseaudio nor PipeWire is installed; run scripts/setup.sh test" >&2
    exit 1
fi
scripts/fuzz.sh all 30 || status=1
exit $status
