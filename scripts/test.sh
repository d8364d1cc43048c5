#!/usr/bin/env bash
# Installs what is missing, builds twice (plain and with ASan/UBSan), runs every test
# against a private PulseAudio, the plain build's sound tests against a private PipeWire,
# then each fuzz target for 30 s.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DVELMOR_SANITIZE=ON
source scripts/private_pulse.sh
source scripts/run_tests.sh
start_private_pulse
trap stop_private_pulse EXIT
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS="suppressions=$PWD/tests/support/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
run_tests build -j2 || status=1
run_tests build-asan -j2 || status=1
scripts/pipewire_tests.sh build || status=1
scripts/fuzz.sh all 30 || status=1
exit $status
