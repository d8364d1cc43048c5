#!/usr/bin/env bash
# The whole player against the mpg123 command, side by side in one run: CPU of each process
# and of the sound server, peak memory, the silence at an automatic advance and the time from
# a start to the first sound. Run by bench/run.sh, which builds the programs and starts the
# private PulseAudio first.
#
# usage: bench/whole_program.sh BUILD_DIR WORK_DIR    (PULSE_PID: the private server's pid)
# BENCH_SECONDS (default 30): the CPU measure of each run; BENCH_TRIES (default 15): the
# starts timed per program. BENCH_QUICK=1 makes both short, for a first look.
set -euo pipefail
build=$1
work=$2
: "${PULSE_PID:?PULSE_PID: the private PulseAudio server}"
if [ -n "${BENCH_QUICK:-}" ]; then
    seconds=${BENCH_SECONDS:-5}
    tries=${BENCH_TRIES:-3}
else
    seconds=${BENCH_SECONDS:-30}
    tries=${BENCH_TRIES:-15}
fi
settle=3  # start-up, first paint, the device's first buffers
tick=$(getconf CLK_TCK)
player=$build/velmor-mp3-player

# Test music: a broadband 320 kbit/s track long enough for a run, and three tone tracks of
# different frequencies with no silence in them, each starting where the last one ends.
mkdir -p "$work/music" "$work/tones" "$work/one"
sox -n -r 44100 -c 2 "$work/music.wav" synth $((seconds + settle + 15)) pinknoise vol 0.3
lame --quiet -b 320 "$work/music.wav" "$work/music/music.mp3"
rm "$work/music.wav"
tones=(440 660 880)
for i in 0 1 2; do
    sox -n -r 44100 -c 2 "$work/tone.wav" synth 2 sine "${tones[i]}" vol 0.5
    lame --quiet -b 192 "$work/tone.wav" "$work/tones/$((i + 1)) tone ${tones[i]}.mp3"
done
cp "$work/tones/1 tone 440.mp3" "$work/one/tone.mp3"
rm "$work/tone.wav"

# The window needs a display: a private X server. And a session bus of its own, so that the
# player registers there and never hands its folder to a player on the user's bus.
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
exec 3>&-
dbus-daemon --session --nofork --print-address=1 >"$work/bus" 2>"$work/bus.log" &
bus=$!
trap 'kill "$xvfb" "$bus" 2>/dev/null || true' EXIT
for _ in $(seq 50); do
    [ -s "$work/display" ] && [ -s "$work/bus" ] && break
    sleep 0.1
done
export DISPLAY=":$(cat "$work/display")"
DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$work/bus")
export DBUS_SESSION_BUS_ADDRESS

# User and system clock ticks of a process, all its threads.
cpu_ticks() {
    local stat
    stat=$(cat "/proc/$1/stat") || return 1
    stat=${stat##*) }
    set -- $stat
    echo $((${12} + ${13}))
}
peak_rss_kb() { awk '/^VmHWM:/ { print $2 }' "/proc/$1/status"; }
percent() { awk -v t="$1" -v s="$2" -v hz="$tick" 'BEGIN { printf "%.2f", t / hz / s * 100 }'; }

declare -A program server xserver rss
# measure KEY LABEL PID...: CPU over $seconds after $settle, then ends the processes.
measure() {
    local key=$1 label=$2
    shift 2
    sleep "$settle"
    local p before=0 after=0 memory=0
    for p in "$@"; do before=$((before + $(cpu_ticks "$p"))); done
    local server0 x0 t0 t1
    server0=$(cpu_ticks "$PULSE_PID")
    x0=$(cpu_ticks "$xvfb")
    t0=$(date +%s.%N)
    sleep "$seconds"
    for p in "$@"; do
        if ! after=$((after + $(cpu_ticks "$p"))); then
            echo "$label: process $p ended before the measure did" >&2
            return 1
        fi
        memory=$((memory + $(peak_rss_kb "$p")))
    done
    t1=$(date +%s.%N)
    local elapsed
    elapsed=$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')
    local server1 x1
    server1=$(cpu_ticks "$PULSE_PID")
    x1=$(cpu_ticks "$xvfb")
    program[$key]=$(percent $((after - before)) "$elapsed")
    server[$key]=$(percent $((server1 - server0)) "$elapsed")
    xserver[$key]=$(percent $((x1 - x0)) "$elapsed")
    rss[$key]=$(awk -v k="$memory" 'BEGIN { printf "%.1f", k / 1024 }')
    kill -KILL "$@"
    wait "$@" 2>/dev/null || true
    printf '%-34s %8s %12s %9s %9s MB\n' "$label" "${program[$key]}" "${server[$key]}" \
        "${xserver[$key]}" "${rss[$key]}"
}

# The sound server's own floor, with no stream.
quiet0=$(cpu_ticks "$PULSE_PID")
sleep 5
quiet1=$(cpu_ticks "$PULSE_PID")
floor=$(percent $((quiet1 - quiet0)) 5)

echo "== whole program: CPU in % of one core over ${seconds} s (after ${settle} s to settle) =="
printf '%-34s %8s %12s %9s %12s\n' "what plays" "program" "sound server" "X server" "peak RSS"
"$player" >"$work/idle.log" 2>&1 &
measure idle "player, window shown, nothing" $!
# The floor under every figure of the player: any Qt window whose 10 ms timer does nothing, and
# one whose timer sets a label's text each time, as the ticking time label does.
"$build/bench/timer_floor" >"$work/floor.log" 2>&1 &
measure floor "bare Qt window, empty 10 ms timer" $!
"$build/bench/timer_floor" --paint >>"$work/floor.log" 2>&1 &
measure floorpaint "bare Qt window, a label each 10 ms" $!
"$player" "$work/music/" >"$work/one-deck.log" 2>&1 &
measure one "player, one deck" $!
# Played, then stopped (through MPRIS, as a media key does), and left alone longer than the
# output keeps an unused device open.
"$player" "$work/music/" >"$work/stopped.log" 2>&1 &
stopped=$!
sleep "$settle"
dbus-send --session --type=method_call --dest=org.mpris.MediaPlayer2.velmor_mp3_player \
    /org/mpris/MediaPlayer2 org.mpris.MediaPlayer2.Player.Stop
sleep 11
measure stopped "player, played, then stopped" "$stopped"
"$build/bench/two_deck_player" "$work/music/" "$work/two-deck.ini" >"$work/two-deck.log" 2>&1 &
measure two "player, both decks" $!
grep -q "deck 1: Playing, deck 2: Playing" "$work/two-deck.log" ||
    echo "  (both decks were not playing: $(cat "$work/two-deck.log"))"
mpg123 -q -o pulse "$work/music/music.mp3" >"$work/mpg123.log" 2>&1 &
measure mpg123 "one mpg123 -o pulse" $!
mpg123 -q -o pulse "$work/music/music.mp3" >>"$work/mpg123.log" 2>&1 &
first=$!
mpg123 -q -o pulse "$work/music/music.mp3" >>"$work/mpg123.log" 2>&1 &
measure mpg123x2 "two mpg123 (together)" "$first" $!
echo "(the sound server with no stream: $floor)"

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
less_floor() { awk -v a="$1" -v f="$floor" 'BEGIN { printf "%.2f", (a > f ? a - f : 0) }'; }
sum() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a + b }'; }
echo "-- against the goals --"
echo "one deck, player / one mpg123:                  $(ratio "${program[one]}" "${program[mpg123]}")  (at most 2)"
echo "one deck, sound server for player / for mpg123: $(ratio "$(less_floor "${server[one]}")" "$(less_floor "${server[mpg123]}")")  (at most 1.2; the server's floor taken off)"
echo "both decks, player + server / two mpg123 + server: $(ratio "$(sum "${program[two]}" "${server[two]}")" "$(sum "${program[mpg123x2]}" "${server[mpg123x2]}")")  (at most 1.2)"
echo "nothing playing, window shown:                  ${program[idle]} % of a core  (at most 0.5)"
echo "  the same after playing and a stop:            ${program[stopped]} % of a core, sound server ${server[stopped]}"
echo "peak RSS, both decks:                           ${rss[two]} MB  (under 60)"
echo "-- what the 10 ms tick costs by itself, in any Qt window --"
echo "empty timer / one mpg123:                       $(ratio "${program[floor]}" "${program[mpg123]}")"
echo "a label each tick / one mpg123:                 $(ratio "${program[floorpaint]}" "${program[mpg123]}")"
echo "player, one deck, less a label each tick:       $(awk -v a="${program[one]}" -v b="${program[floorpaint]}" 'BEGIN { printf "%.2f", a - b }') % of a core"

echo "== silence at an automatic advance: three 2 s tone tracks (goal: 0 ms) =="
"$build/bench/sound_bench" joins 8 "${tones[@]}" -- \
    mpg123 -q -o pulse "$work/tones/1 tone 440.mp3" "$work/tones/2 tone 660.mp3" \
    "$work/tones/3 tone 880.mp3" || true
"$build/bench/sound_bench" joins 10 "${tones[@]}" -- "$player" "$work/tones/" || true

echo "== from a start to the first sound, $tries tries each (goal: every try under 50 ms) =="
"$build/bench/sound_bench" latency "$work/one" "$tries"
