#!/usr/bin/env bash
# Builds the engine's tests with ThreadSanitizer and runs the sound path's tests against a
# private PulseAudio: the deck's threads and voice, the server's output (streams, switching,
# routing, moves, rates, outages), levelling, gapless joins, cuts, the resampler and ring, and
# the loudness measurer. tests/support/tsan.supp names libpulse's own races only; any other
# report fails the run. Not part of scripts/test.sh: the build and the run take about half an
# hour on two cores, beyond the test run's budget.
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
filter=${TSAN_FILTER:-Mp3Deck*:*Mp3DeckPulse*:Mp3DeckRouting.*:*Mp3DeckCuts*:*Levelling*:*Outage*:HeldAudio.*:GraphStep.*:DeckControl.*:DeckVoice.*:SoxrResampler.*:SpscRing.*:LoudnessMeasurer.*}
# Each test in a process of its own, as ctest runs them: some make sinks of the same names.
mapfile -t tests < <(build-tsan/tests/engine_tests --gtest_list_tests --gtest_filter="$filter" |
    awk '/^[^ ]/ {suite = $1} /^  / {print suite $1}')
failed=0
reports=0
# Sound judged in real time runs several times slower here: a test that fails without a report
# runs once more, as scripts/run_tests.sh does for sound.
for test in "${tests[@]}"; do
    log=build-tsan/tsan-last.log
    for try in 1 2; do
        build-tsan/tests/engine_tests --gtest_filter="$test" >"$log" 2>&1 && break
        if grep -q 'WARNING: ThreadSanitizer' "$log" || [ "$try" = 2 ]; then
            failed=$((failed + 1))
            echo "FAILED: $test"
            grep -A30 -m1 'WARNING: ThreadSanitizer' "$log" || tail -n 20 "$log"
            break
        fi
        echo "failed without a report, once more: $test"
    done
    reports=$((reports + $(grep -c 'WARNING: ThreadSanitizer' "$log" || true)))
done
echo "ThreadSanitizer: ${#tests[@]} tests, $failed failed, $reports reports"
[ "$failed" -eq 0 ] && [ "$reports" -eq 0 ]
