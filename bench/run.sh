#!/usr/bin/env bash
# Builds the benchmarks and runs them against a private PulseAudio; prints the figures.
# About five minutes; BENCH_QUICK=1 shortens every part for a first look (see also
# TICK_SECONDS, BENCH_SECONDS and BENCH_TRIES).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh bench
scripts/build.sh build-bench -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMOR_TESTS=OFF -DVELMOR_BENCH=ON
work=$(mktemp -d)
trap 'rm -rf "$work"; stop_private_pulse' EXIT
source scripts/private_pulse.sh
start_private_pulse
export PULSE_PID
if [ -n "${BENCH_QUICK:-}" ]; then
    : "${TICK_SECONDS:=3}" "${PLAY_DIR_NAMES:=2000}"
fi
sox -n -r 44100 -c 2 "$work/a.wav" synth 60 sine 440 vol 0.5
sox -n -r 48000 -c 2 "$work/b.wav" synth 60 sine 880 vol 0.5
lame --quiet -b 192 "$work/a.wav" "$work/a.mp3"
lame --quiet -V 2 "$work/b.wav" "$work/b.mp3"
echo "== tick cost, both decks playing =="
QT_QPA_PLATFORM=offscreen build-bench/bench/tick_bench "$work/a.mp3" "$work/b.mp3" "${TICK_SECONDS:-10}"
if [ -x build-bench/bench/decode_bench ]; then
    echo "== decoding =="
    build-bench/bench/decode_bench "$work/a.mp3" "$work/b.mp3"
fi
if [ -x build-bench/bench/loudness_bench ]; then
    echo "== loudness measure (CPU time of the measuring thread) =="
    sox -n -r 44100 -c 1 "$work/c.wav" synth 60 sine 997 vol 0.03
    lame --quiet -m m -b 64 "$work/c.wav" "$work/c.mp3"
    build-bench/bench/loudness_bench "$work/a.mp3" "$work/b.mp3" "$work/c.mp3"
    echo "== loudness measure of 20 files while deck 1 plays (the process's CPU) =="
    mkdir "$work/measured"
    for i in $(seq 1 20); do ln "$work/b.mp3" "$work/measured/$i.mp3"; done
    build-bench/bench/loudness_bench --while-playing "$work/a.mp3" "$work/measured/"*.mp3
fi
echo "== the sound server's troubles: a deck without data, a server gone, a server that hangs =="
build-bench/bench/outage_bench wakeups "${BENCH_SECONDS:-5}"
build-bench/bench/outage_bench hung-start "$work/a.mp3" "${BENCH_TRIES:-3}"
echo "== \"Play Dir\" on a directory of 32767 names, against ls -f =="
QT_QPA_PLATFORM=offscreen build-bench/bench/play_dir_bench "$work/a.mp3" "$work/play-dir" \
    ${PLAY_DIR_NAMES:+"$PLAY_DIR_NAMES"}
echo "== \"Jump to entry\": each keystroke over 32767 entries, the list's refill and paint included =="
QT_QPA_PLATFORM=offscreen build-bench/bench/jump_bench
bench/whole_program.sh build-bench "$work/whole"
