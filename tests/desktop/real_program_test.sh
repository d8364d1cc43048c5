#!/usr/bin/env bash
# The program as a user meets it on a desktop, under Xvfb with buses of its own: playerctl
# drives it, second starts hand files over, an error it cannot show in the window reaches a
# notification daemon, and logind (both daemons python3-dbusmock's) sees the inhibitor while
# music plays. Sound goes to the private PulseAudio when one runs.
# Usage: real_program_test.sh BUILD_DIR. Exit status 77: a tool is missing.
set -euo pipefail
build=$(cd "$1" && pwd)
for tool in Xvfb dbus-daemon dbus-send playerctl sox lame; do
    command -v "$tool" >/dev/null || { echo "skipped: no $tool"; exit 77; }
done
/usr/bin/python3 -c "import dbusmock" 2>/dev/null || { echo "skipped: no python3-dbusmock"; exit 77; }

work=$(mktemp -d /tmp/velmor-desktop.XXXXXX)
pids=()
cleanup() {
    # A player stuck in the hung disk ends only once the disk answers.
    [ ! -d "$work/disk" ] || touch "$work/disk/release"
    for pid in "${pids[@]}"; do
        kill -9 "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    # The file system killed, its mount point no longer answers: detached all the same.
    [ ! -d "$work/disk" ] || umount -l "$work/disk/mnt" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAILED: $*"
    [ -f "$work/player.log" ] && sed 's/^/  player: /' "$work/player.log"
    exit 1
}
ok() { echo "ok - $*"; }
# Waits up to 20 s for a command to succeed.
until_true() {
    for _ in $(seq 200); do
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    return 1
}

# A bus of our own, without service activation, so that only what is started here answers.
start_bus() {
    cat >"$work/$1.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><type>session</type><listen>unix:dir=$work</listen><auth>EXTERNAL</auth>
<policy context="default"><allow send_destination="*" eavesdrop="true"/>
<allow eavesdrop="true"/><allow own="*"/></policy></busconfig>
CONF
    dbus-daemon --config-file="$work/$1.conf" --fork --print-address=1 --print-pid=1 >"$work/$1.out"
}
# Not in a command substitution: its subshell would keep the pid from the clean-up.
start_bus session
start_bus system
pids+=("$(sed -n 2p "$work/session.out")" "$(sed -n 2p "$work/system.out")")
session_bus=$(sed -n 1p "$work/session.out")
system_bus=$(sed -n 1p "$work/system.out")
export DBUS_SESSION_BUS_ADDRESS=$session_bus DBUS_SYSTEM_BUS_ADDRESS=$system_bus

has_owner() {  # BUS NAME
    dbus-send --bus="$1" --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner "string:$2" | grep -q "boolean true"
}
/usr/bin/python3 -m dbusmock --template notification_daemon >"$work/notify.log" 2>&1 &
pids+=($!)
/usr/bin/python3 -m dbusmock --template logind --system >"$work/logind.log" 2>&1 &
pids+=($!)
until_true has_owner "$session_bus" org.freedesktop.Notifications || fail "no mock notification daemon"
until_true has_owner "$system_bus" org.freedesktop.login1 || fail "no mock logind"

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
pids+=($!)
until_true test -s "$work/display" || fail "Xvfb did not start"
export DISPLAY=":$(cat "$work/display")" QT_QPA_PLATFORM=xcb
# Never the user's speakers: without the private sound server, SDL's silent driver.
[ -n "${PULSE_SERVER:-}" ] || export SDL_AUDIODRIVER=dummy

# Music, and the program copied beside it, so that its settings file is written there.
mkdir -p "$work/music" "$work/bin" "$work/other"
make_tone() {  # NAME HZ [lame tag options...]
    local name=$1 hz=$2
    shift 2
    sox -D -n -r 44100 -c 2 -b 16 "$work/tone.wav" synth 20 sine "$hz" vol 0.3
    lame --quiet "$@" "$work/tone.wav" "$work/music/$name"
}
make_tone "1 low.mp3" 440 --tt "Low Tone" --ta "Test Artist"
make_tone "2 high.mp3" 880
echo "not music" >"$work/other/notes.txt"
cp "$build/velmor-mp3-player" "$work/bin/"
player="$work/bin/velmor-mp3-player"

pc() { playerctl -p velmor_mp3_player "$@"; }
status_is() { [ "$(pc status 2>/dev/null)" = "$1" ]; }
inhibitors() {
    dbus-send --bus="$system_bus" --print-reply --dest=org.freedesktop.login1 \
        /org/freedesktop/login1 org.freedesktop.login1.Manager.ListInhibitors |
        grep -c '"Playing music"' || true
}
inhibitors_are() { [ "$(inhibitors)" = "$1" ]; }
notifications() {
    dbus-send --bus="$session_bus" --print-reply --dest=org.freedesktop.Notifications \
        /org/freedesktop/Notifications org.freedesktop.DBus.Mock.GetMethodCalls string:Notify
}

"$player" "$work/music" >"$work/player.log" 2>&1 &
player_pid=$!
pids+=("$player_pid")
until_true status_is Playing || fail "the player did not start the folder"
ok "velmor-mp3-player DIR plays the folder: $(pc status)"
[ "$(pc metadata --format '{{title}}|{{artist}}')" = "Low Tone|Test Artist" ] ||
    fail "metadata: $(pc metadata)"
ok "metadata from the ID3 tags: $(pc metadata --format '{{title}} by {{artist}}')"
until_true inhibitors_are 1 || fail "no inhibitor while playing"
ok "logind holds the inhibitor while playing"

pc next
until_true test "$(pc metadata --format '{{title}}')" = "2 high.mp3" || fail "next: $(pc metadata)"
ok "next: $(pc metadata --format '{{title}}')"
pc position 12
position=$(pc position)
awk -v p="$position" 'BEGIN { exit !(p >= 12 && p < 15) }' || fail "position 12 gave $position"
ok "position 12: at $position"
pc previous
until_true test "$(pc metadata --format '{{title}}')" = "Low Tone" || fail "previous: $(pc metadata)"
ok "previous: $(pc metadata --format '{{title}}')"

pc play-pause
until_true status_is Paused || fail "play-pause did not pause"
until_true inhibitors_are 0 || fail "the inhibitor outlived the pause"
ok "play-pause pauses; the inhibitor is released"
pc play-pause
until_true status_is Playing || fail "play-pause did not resume"
until_true inhibitors_are 1 || fail "no inhibitor after resuming"
ok "play-pause resumes; the inhibitor is taken again"

# The window at its size hides the "Errors:" list: the error goes out as a notification.
"$player" "$work/other/notes.txt" || fail "a second start with a file did not end with 0"
until_true bash -c "dbus-send --bus='$session_bus' --print-reply --dest=org.freedesktop.Notifications \
    /org/freedesktop/Notifications org.freedesktop.DBus.Mock.GetMethodCalls string:Notify |
    grep -q 'notes.txt: not a folder or an .mp3 file'" || fail "no notification: $(notifications)"
notifications | grep -q 'Velmor´s MP3-Player' || fail "notification without the app name"
ok "a second start with a non-MP3 file: the running player's error reached the notification daemon"
"$player" "$work/music/2 high.mp3" || fail "a second start with an .mp3 did not end with 0"
until_true test "$(pc metadata --format '{{title}}')" = "2 high.mp3" || fail "hand-over: $(pc metadata)"
ok "a second start with an .mp3 file hands it over: $(pc metadata --format '{{title}}')"

pc stop
until_true status_is Stopped || fail "stop"
until_true inhibitors_are 0 || fail "the inhibitor outlived the stop"
ok "stop; the inhibitor is released"

[ -n "${VELMOR_SCREENSHOT:-}" ] && import -display "$DISPLAY" -window root "$VELMOR_SCREENSHOT"

# The answer comes before the program ends: a client is told that Quit worked.
dbus-send --bus="$session_bus" --print-reply --dest=org.mpris.MediaPlayer2.velmor_mp3_player \
    /org/mpris/MediaPlayer2 org.mpris.MediaPlayer2.Quit >"$work/quit.out" 2>&1 ||
    fail "Quit was not answered: $(cat "$work/quit.out")"
# A child that has ended stays a zombie until waited for.
ended() { [[ "$(ps -o stat= -p "$1")" == Z* || -z "$(ps -o stat= -p "$1")" ]]; }
until_true ended "$player_pid" || fail "Quit did not end the player"
wait "$player_pid" || fail "the player ended with status $?"
grep -qx "Data-Path=$work/music/" "$work/bin/velmor-mp3-player.ini" ||
    fail "settings after Quit: $(cat "$work/bin/velmor-mp3-player.ini" 2>&1)"
ok "Quit closes the window the normal way: the settings are saved"

# The session's end (or `kill`) ends the player the way a closed window does; a hang-up
# ignored by whoever started it (`nohup`) stays ignored.
rm "$work/bin/velmor-mp3-player.ini"
(trap '' HUP && exec "$player" "$work/music") >"$work/player.log" 2>&1 &
player_pid=$!
pids+=("$player_pid")
until_true status_is Playing || fail "the player did not start again"
kill -HUP "$player_pid"
sleep 0.5
ended "$player_pid" && fail "an ignored SIGHUP ended the player"
ok "a SIGHUP ignored at the start stays ignored"
kill -TERM "$player_pid"
until_true ended "$player_pid" || fail "SIGTERM did not end the player"
wait "$player_pid" || fail "the player ended on SIGTERM with status $?"
grep -qx "Data-Path=$work/music/" "$work/bin/velmor-mp3-player.ini" ||
    fail "settings after SIGTERM: $(cat "$work/bin/velmor-mp3-player.ini" 2>&1)"
ok "SIGTERM closes the window the normal way: the settings are saved"

# An open that hangs in a dead disk keeps a thread, and so the process, from ending until the
# disk answers; SIGTERM still saves the settings and gives up the bus name and the window at
# once. Where FUSE cannot be mounted this part is left out.
tests=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$work/hung" "$work/disk/mnt"
head -c 4096 /dev/zero | tr '\0' '\377' >"$work/hung/hang.mp3"
/usr/bin/python3 "$tests/support/hanging_fs.py" "$work/hung" "$work/disk/mnt" >"$work/fuse.log" 2>&1 &
fuse_pid=$!
pids+=("$fuse_pid")
if ! until_true mountpoint -q "$work/disk/mnt"; then
    echo "skipped: FUSE cannot be mounted here ($(head -c 200 "$work/fuse.log"))"
    exit 0
fi
# A thread of the player sits in a read of the hung file.
reads_hung_file() {
    local task number fd rest
    for task in /proc/"$1"/task/*; do
        read -r number fd rest <"$task/syscall" || continue
        [[ $number == 0 || $number == 17 ]] || continue
        [[ $(readlink "/proc/$1/fd/$((fd))") == *hang.mp3 ]] && return 0
    done
    return 1
}
player_windows_shown() {  # how many of the player's windows are mapped
    local id count=0
    for id in $(xwininfo -root -tree | awk '/MP3-Player/ { print $1 }'); do
        xwininfo -id "$id" | grep -q IsViewable && count=$((count + 1))
    done
    echo "$count"
}
name_free() { ! has_owner "$session_bus" org.mpris.MediaPlayer2.velmor_mp3_player; }
first_thread_ended() { [[ "$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null)" != [RSD] ]]; }
rm "$work/bin/velmor-mp3-player.ini"
"$player" "$work/disk/mnt/hang.mp3" >"$work/player.log" 2>&1 &
player_pid=$!
pids+=("$player_pid")
until_true reads_hung_file "$player_pid" || fail "the player never read the hung file"
until_true has_owner "$session_bus" org.mpris.MediaPlayer2.velmor_mp3_player || fail "no MPRIS name"
until_true inhibitors_are 1 || fail "no inhibitor while the hung file is played"
has_xwininfo=$(command -v xwininfo || true)
[ -z "$has_xwininfo" ] || until_true test "$(player_windows_shown)" -ge 1 || fail "no window"
start=$(date +%s%N)
kill -TERM "$player_pid"
until_true name_free || fail "the MPRIS name stayed owned after SIGTERM with an open hung"
freed_ms=$((($(date +%s%N) - start) / 1000000))
if [ -n "$has_xwininfo" ]; then
    until_true test "$(player_windows_shown)" -eq 0 || fail "the window stayed on screen"
fi
until_true inhibitors_are 0 || fail "the inhibitor outlived SIGTERM with an open hung"
until_true first_thread_ended "$player_pid" || fail "the player's main thread did not end"
grep -q "^MainVolume=" "$work/bin/velmor-mp3-player.ini" ||
    fail "settings after SIGTERM with an open hung: $(cat "$work/bin/velmor-mp3-player.ini" 2>&1)"
ok "SIGTERM with an open hung: the name free after ${freed_ms} ms, the window and the inhibitor gone, the settings saved"
touch "$work/disk/release"
until_true ended "$player_pid" || fail "the player did not end once the disk answered"
wait "$player_pid" || fail "the player ended with status $? once the disk answered"
ok "the process ends once the disk answers"
kill "$fuse_pid" 2>/dev/null || true  # it unmounts itself as it ends
wait "$fuse_pid" 2>/dev/null || true
