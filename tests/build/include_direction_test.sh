#!/usr/bin/env bash
# include_direction_test.sh: on a scratch copy of the sources, an include against the folders'
# direction must fail to compile, and one along it must compile (so the failures are the
# direction's, not a broken copy's). The direction lives in each target's include paths, so
# the preprocessor alone judges it: the object's own command, run with -E, in seconds where
# building the object (its precompiled header, its target's moc) took minutes.
set -uo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
source "$(dirname "$0")/../support/shell_checks.sh"
shell_checks direction

cp -r "$source_dir/CMakeLists.txt" "$source_dir/LICENSE" "$source_dir/src" "$source_dir/data" \
    "$source_dir/tools" "$work/"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$work" -B "$work/build" -G Ninja "${launcher[@]}" -DVELMOR_TESTS=OFF \
    >"$work/configure.log" 2>&1 || { cat "$work/configure.log" >&2; exit 1; }

ninja -C "$work/build" -t targets all >"$work/targets"
# file to probe | include | compiles?
while IFS='|' read -r file include compiles; do
    [ -n "$file" ] || continue
    object=$(grep -o "^[^:]*/src/$file\.o" "$work/targets" | head -1)
    [ -n "$object" ] || { fail "no object for $file"; continue; }
    cp "$work/src/$file" "$work/probe.bak"
    printf '#include "%s"\n' "$include" >>"$work/src/$file"
    command=$(ninja -C "$work/build" -t commands "$object" | tail -1 |
        sed -E 's/ -MD -MT [^ ]+ -MF [^ ]+//; s/ -o [^ ]+ -c / -E -o \/dev\/null /')
    if (cd "$work/build" && bash -c "$command") >"$work/build.log" 2>&1; then
        result=yes
    else
        result=no
    fi
    cp "$work/probe.bak" "$work/src/$file"
    echo "$file + $include: compiles=$result"
    if [ "$result" != "$compiles" ]; then
        tail -n 5 "$work/build.log" >&2
        fail "$file including $include: compiles=$result, expected $compiles"
    fi
done <<'CASES'
playback/pause_toggle.cpp|shared/rounding.h|yes
desktop/end_signals.cpp|app/form1.h|yes
components/stderr_filter.cpp|app/form1.h|no
components/stderr_filter.cpp|playback/deck1_transport.h|no
shared/file_uri.cpp|components/deck.h|no
playback/pause_toggle.cpp|app/form1.h|no
playback/pause_toggle.cpp|monitor/tick.h|no
mixer/mixer_sliders.cpp|monitor/tick.h|no
monitor/tick.cpp|desktop/mpris_player.h|no
engine/deck/wake_signal.cpp|components/error_sink.h|yes
engine/deck/wake_signal.cpp|QString|no
engine/deck/wake_signal.cpp|shared/rounding.h|no
engine/loudness/loudness_cache.cpp|shared/safe_file.h|yes
engine/deck/wake_signal.cpp|app/form1.h|no
components/alsa_mixer.cpp|engine/player/mp3_deck.h|no
playback/pause_toggle.cpp|engine/player/mp3_deck.h|no
engine/deck/deck_voice.cpp|engine/decode/mp3_decoder.h|no
engine/decode/decoder_worker.cpp|engine/deck/deck_stream.h|yes
engine/decode/mp3_decoder.cpp|engine/loudness/replay_gain.h|no
engine/output/outage_report.cpp|engine/output/pulse/pulse_output.h|no
engine/output/sdl/sdl_output.cpp|engine/output/pulse/pulse_output.h|no
engine/output/pulse/sink_catalogue.cpp|engine/output/switch/switching_output.h|no
engine/output/switch/output_choice.cpp|engine/output/pulse/pulse_output.h|yes
engine/player/mp3_deck.cpp|engine/output/pulse/pulse_output.h|no
engine/loudness/loudness_service.cpp|engine/player/mp3_deck.h|no
CASES

passed_if_no_failures "include direction"
