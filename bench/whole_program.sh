#!/usr/bin/env bash
# The whole player beside Audacious and the mpg123 command, side by side in one run, three
# rounds: CPU and wakeups of each process, of the sound server and of the X server, peak
# memory; the silence at an automatic advance; the time from a start to the first sound; and
# how soon pause, play and a volume change are heard. Run by bench/run.sh, which builds the programs and starts the
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
# A playlist whose tracks end often within a measure, for the crossfade's cost.
mkdir -p "$work/short"
for i in 1 2 3 4 5 6; do
    sox -n -r 44100 -c 2 "$work/short.wav" synth 8 pinknoise vol 0.3
    lame --quiet -b 320 "$work/short.wav" "$work/short/$i noise.mp3"
done
rm "$work/short.wav"
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
# Context switches of all its threads: each is a wakeup, or a wait the thread gave up.
wakeups() {
    cat /proc/"$1"/task/*/status 2>/dev/null |
        awk '/^(voluntary|nonvoluntary)_ctxt_switches:/ { n += $2 } END { print n + 0 }'
}
peak_rss_kb() { awk '/^VmHWM:/ { print $2 }' "/proc/$1/status"; }
percent() { awk -v t="$1" -v s="$2" -v hz="$tick" 'BEGIN { printf "%.2f", t / hz / s * 100 }'; }
per_second() { awk -v n="$1" -v s="$2" 'BEGIN { printf "%.0f", n / s }'; }

# Figures of every round, "key,what" -> "v1 v2 v3".
declare -A figure
note() { figure[$1,$2]="${figure[$1,$2]:-} $3"; }
# The median of a figure's rounds, and its range.
median() { echo "${figure[$1,$2]}" | tr ' ' '\n' | sed '/^$/d' | sort -g | awk '{ v[NR] = $1 } END { if (NR) printf "%s", v[int((NR + 1) / 2)]; else printf "-" }'; }
range() { echo "${figure[$1,$2]}" | tr ' ' '\n' | sed '/^$/d' | sort -g | awk '{ v[NR] = $1 } END { if (NR > 1) printf "[%s-%s]", v[1], v[NR] }'; }

# measure KEY PID...: CPU and wakeups over $seconds after $settle, then ends the processes.
measure() {
    local key=$1
    shift
    sleep "$settle"
    local p before=0 after=0 woke0=0 woke1=0 memory=0
    for p in "$@"; do
        before=$((before + $(cpu_ticks "$p")))
        woke0=$((woke0 + $(wakeups "$p")))
    done
    local server0 x0 sw0 t0 t1
    server0=$(cpu_ticks "$PULSE_PID")
    sw0=$(wakeups "$PULSE_PID")
    x0=$(cpu_ticks "$xvfb")
    t0=$(date +%s.%N)
    sleep "$seconds"
    for p in "$@"; do
        if ! after=$((after + $(cpu_ticks "$p"))); then
            echo "$key: process $p ended before the measure did" >&2
            return 1
        fi
        woke1=$((woke1 + $(wakeups "$p")))
        memory=$((memory + $(peak_rss_kb "$p")))
    done
    t1=$(date +%s.%N)
    local elapsed
    elapsed=$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')
    note "$key" program "$(percent $((after - before)) "$elapsed")"
    note "$key" server "$(percent $(($(cpu_ticks "$PULSE_PID") - server0)) "$elapsed")"
    note "$key" x "$(percent $(($(cpu_ticks "$xvfb") - x0)) "$elapsed")"
    note "$key" wake "$(per_second $((woke1 - woke0)) "$elapsed")"
    note "$key" swake "$(per_second $(($(wakeups "$PULSE_PID") - sw0)) "$elapsed")"
    note "$key" rss "$(awk -v k="$memory" 'BEGIN { printf "%.1f", k / 1024 }')"
    kill -KILL "$@"
    wait "$@" 2>/dev/null || true
}

# Audacious as a desktop user has it: its GTK window shown, its PulseAudio output, on the
# private server and bus; a home of its own, so that nothing of the user's is read or written.
audacious_home=$work/audacious-home
mkdir -p "$audacious_home/.config/audacious"
start_audacious() {
    HOME=$audacious_home XDG_CONFIG_HOME=$audacious_home/.config \
        audacious "$@" >>"$work/audacious.log" 2>&1 &
}

# The sound server's own floor, with no stream.
quiet0=$(cpu_ticks "$PULSE_PID")
sleep 5
quiet1=$(cpu_ticks "$PULSE_PID")
floor=$(percent $((quiet1 - quiet0)) 5)

rounds=${BENCH_ROUNDS:-3}
labels=(
    "idle|player, window shown, nothing"
    "floor|bare Qt window, empty 10 ms timer"
    "floorpaint|bare Qt window, a label each 10 ms"
    "one|player, one deck"
    "onea11y|player, one deck, accessibility on"
    "onesdl|player, one deck, SDL output"
    "two|player, both decks"
    "fadeoff|player, one deck, 8 s tracks, gapless"
    "fadeon|player, one deck, 8 s tracks, crossfade 4 s"
    "audacious|Audacious, window shown"
    "mpg123|one mpg123 -o pulse"
    "mpg123x2|two mpg123 (together)"
)
echo "== whole program: CPU in % of one core over ${seconds} s (after ${settle} s to settle), $rounds rounds =="
for round in $(seq "$rounds"); do
    echo "round $round of $rounds ..."
    "$player" >"$work/idle.log" 2>&1 &
    measure idle $!
    # The floor under every figure of the player: any Qt window whose 10 ms timer does
    # nothing, and one whose timer sets a label's text each time, as the ticking time does.
    "$build/bench/timer_floor" >"$work/floor.log" 2>&1 &
    measure floor $!
    "$build/bench/timer_floor" --paint >>"$work/floor.log" 2>&1 &
    measure floorpaint $!
    "$player" "$work/music/" >"$work/one-deck.log" 2>&1 &
    measure one $!
    # As a screen reader's user has it: Qt's accessibility bridge on, on the AT-SPI bus.
    QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$player" "$work/music/" >"$work/one-deck-a11y.log" 2>&1 &
    measure onea11y $!
    # The output the player takes where no sound server answers, on the same server.
    VELMOR_AUDIO_OUTPUT=sdl "$player" "$work/music/" >"$work/one-deck-sdl.log" 2>&1 &
    measure onesdl $!
    "$build/bench/two_deck_player" "$work/music/" "$work/two-deck.ini" >"$work/two-deck.log" 2>&1 &
    measure two $!
    # The settings beside the executable, as a copy run from its build tree reads them; any
    # there before are put back.
    ini=$build/velmor-mp3-player.ini
    [ -e "$ini" ] && mv "$ini" "$work/saved.ini"
    for fade in off on; do
        if [ "$fade" = on ]; then printf '[Crossfade]\nDeck1=4\n' >"$ini"; fi
        "$player" "$work/short/" >"$work/fade-$fade.log" 2>&1 &
        measure "fade$fade" $!
        rm -f "$ini"
    done
    if [ -e "$work/saved.ini" ]; then mv "$work/saved.ini" "$ini"; fi
    grep -q "deck 1: Playing, deck 2: Playing" "$work/two-deck.log" ||
        echo "  (both decks were not playing: $(cat "$work/two-deck.log"))"
    if command -v audacious >/dev/null; then
        start_audacious "$work/music/music.mp3"
        measure audacious $!
    fi
    mpg123 -q -o pulse "$work/music/music.mp3" >"$work/mpg123.log" 2>&1 &
    measure mpg123 $!
    mpg123 -q -o pulse "$work/music/music.mp3" >>"$work/mpg123.log" 2>&1 &
    first=$!
    mpg123 -q -o pulse "$work/music/music.mp3" >>"$work/mpg123.log" 2>&1 &
    measure mpg123x2 "$first" $!
done
# Played, then stopped (through MPRIS, as a media key does), and left alone a while.
"$player" "$work/music/" >"$work/stopped.log" 2>&1 &
stopped=$!
sleep "$settle"
dbus-send --session --type=method_call --dest=org.mpris.MediaPlayer2.velmor_mp3_player \
    /org/mpris/MediaPlayer2 org.mpris.MediaPlayer2.Player.Stop
sleep 11
measure stopped "$stopped"

printf '%-36s %-16s %-16s %-6s %-7s %-10s %-9s %s\n' "what plays (median [range])" "program" \
    "sound server" "X" "sum" "wakeups/s" "server/s" "peak RSS"
sum_of() { awk -v a="$(median "$1" program)" -v b="$(median "$1" server)" -v c="$(median "$1" x)" 'BEGIN { printf "%.2f", a + b + c }'; }
for entry in "${labels[@]}" "stopped|player, played, then stopped"; do
    key=${entry%%|*}
    [ -n "${figure[$key,program]:-}" ] || continue
    printf '%-36s %-16s %-16s %-6s %-7s %-10s %-9s %s MB\n' "${entry#*|}" \
        "$(median "$key" program) $(range "$key" program)" \
        "$(median "$key" server) $(range "$key" server)" "$(median "$key" x)" "$(sum_of "$key")" \
        "$(median "$key" wake)" "$(median "$key" swake)" "$(median "$key" rss)"
done
echo "(the sound server with no stream: $floor)"

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
less_floor() { awk -v a="$1" -v f="$floor" 'BEGIN { printf "%.2f", (a > f ? a - f : 0) }'; }
add() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.0f", a + b }'; }
echo "-- against the goals (medians of the rounds) --"
if [ -n "${figure[audacious,program]:-}" ]; then
    echo "one deck, program + server + X / Audacious:     $(ratio "$(sum_of one)" "$(sum_of audacious)")  (at most 1.3)"
    echo "  the same, SDL output / Audacious:             $(ratio "$(sum_of onesdl)" "$(sum_of audacious)")"
    echo "both decks / Audacious with one:                $(ratio "$(sum_of two)" "$(sum_of audacious)")  (at most 1.6)"
    echo "sound server for one deck / for Audacious:      $(ratio "$(less_floor "$(median one server)")" "$(less_floor "$(median audacious server)")")  (at most 1.2; the server's floor taken off)"
fi
echo "one deck, wakeups/s, program + server:          $(add "$(median one wake)" "$(median one swake)")  (at most 400)"
echo "  the same, SDL output:                         $(add "$(median onesdl wake)" "$(median onesdl swake)")"
echo "one deck, accessibility on - off:                $(awk -v a="$(median onea11y program)" -v b="$(median one program)" 'BEGIN { printf "%.2f", a - b }') % of a core  (at most 0.3)"
echo "one deck, 8 s tracks, crossfade 4 s / gapless:  $(ratio "$(sum_of fadeon)" "$(sum_of fadeoff)")"
echo "one deck, player / one mpg123:                  $(ratio "$(median one program)" "$(median mpg123 program)")"
echo "nothing playing, window shown:                  $(median idle program) % of a core  (at most 0.5)"
echo "  the same after playing and a stop:            $(median stopped program) % of a core, sound server $(median stopped server)"
echo "peak RSS, both decks:                           $(median two rss) MB  (under 60)"

echo "== silence at an automatic advance: three 2 s tone tracks (goal: 0 ms) =="
"$build/bench/sound_bench" joins 8 "${tones[@]}" -- \
    mpg123 -q -o pulse "$work/tones/1 tone 440.mp3" "$work/tones/2 tone 660.mp3" \
    "$work/tones/3 tone 880.mp3" || true
"$build/bench/sound_bench" joins 10 "${tones[@]}" -- "$player" "$work/tones/" || true

echo "== from a start to the first sound, $tries tries each (goal: every try under 50 ms) =="
"$build/bench/sound_bench" latency "$work/one" "$tries"

echo "== how soon a command is heard, and its click (largest step at the cut over the tone's own; goal 1.5 or less), $tries tries each (goal for the player: median 10 ms or less, every try 30 ms or less) =="
mkdir -p "$work/control"
sox -n -r 44100 -c 2 "$work/steady.wav" synth 120 sine 440 vol 0.5
lame --quiet -b 192 "$work/steady.wav" "$work/control/tone.mp3"
rm "$work/steady.wav"
# Each player through the remote control a desktop uses for it.
mpris="dbus-send --session --print-reply --dest=org.mpris.MediaPlayer2.velmor_mp3_player /org/mpris/MediaPlayer2"
volume="org.freedesktop.DBus.Properties.Set string:org.mpris.MediaPlayer2.Player string:Volume"
"$player" "$work/control/" >"$work/control.log" 2>&1 &
pid=$!
sleep "$settle"
"$build/bench/sound_bench" control player "$tries" \
    "$mpris org.mpris.MediaPlayer2.Player.Pause >/dev/null" \
    "$mpris org.mpris.MediaPlayer2.Player.Play >/dev/null" \
    "$mpris $volume variant:double:0 >/dev/null" "$mpris $volume variant:double:1 >/dev/null" || true
kill -KILL "$pid"
wait "$pid" 2>/dev/null || true
if command -v audacious >/dev/null; then
    start_audacious "$work/control/tone.mp3"
    pid=$!
    sleep "$settle"
    "$build/bench/sound_bench" control Audacious "$tries" "audtool playback-pause" \
        "audtool playback-play" "audtool set-volume 0" "audtool set-volume 100" || true
    kill -KILL "$pid"
    wait "$pid" 2>/dev/null || true
fi
mkfifo "$work/mpg123.ctl"
mpg123 -R -o pulse <"$work/mpg123.ctl" >"$work/mpg123-remote.log" 2>&1 &
pid=$!
exec 5>"$work/mpg123.ctl"
echo "LOAD $work/control/tone.mp3" >&5
sleep "$settle"
"$build/bench/sound_bench" control mpg123 "$tries" "echo PAUSE >'$work/mpg123.ctl'" \
    "echo PAUSE >'$work/mpg123.ctl'" "echo 'VOLUME 0' >'$work/mpg123.ctl'" \
    "echo 'VOLUME 100' >'$work/mpg123.ctl'" || true
exec 5>&-
kill -KILL "$pid"
wait "$pid" 2>/dev/null || true
