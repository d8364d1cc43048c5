#!/usr/bin/env bash
# installed_files_test.sh BUILD_DIR: installs the build into a temporary prefix and checks what
# the desktop reads there: the desktop entry and the metainfo validate, the entry launches the
# installed executable with its icon, every icon size is there at its size, the man page reads.
set -uo pipefail
build=$1
source "$(dirname "$0")/../support/shell_checks.sh"
shell_checks install
root=$work

cmake --install "$build" --prefix "$root/usr" >/dev/null || fail "cmake --install"
share=$root/usr/share
entry=$share/applications/velmor-mp3-player.desktop
metainfo=$share/metainfo/velmor-mp3-player.metainfo.xml

[ -x "$root/usr/bin/velmor-mp3-player" ] || fail "no executable in bin/"
desktop-file-validate "$entry" || fail "desktop-file-validate $entry"
appstreamcli validate --pedantic --no-net "$metainfo" >&2 || fail "appstreamcli validate $metainfo"
version=$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/velmor-mp3-player" --version | cut -d' ' -f2)
grep -q "<release version=\"$version\" date=\"" "$metainfo" || fail "the metainfo has no release $version"
grep -q '<project_license>MIT</project_license>' "$metainfo" || fail "the metainfo names no licence"
shot=$share/velmor-mp3-player/screenshots/window.png
[ "$(od -An -c -j1 -N3 "$shot" 2>/dev/null | tr -d ' ')" = PNG ] || fail "no screenshot at $shot"

# What menus, file managers and software centres go by, exactly (´ is not an apostrophe).
while IFS= read -r line; do
    grep -qxF -- "$line" "$entry" || fail "the desktop entry lacks '$line'"
done <<'LINES'
Name=Velmor´s MP3-Player
Exec=velmor-mp3-player %f
Icon=velmor-mp3-player
MimeType=audio/mpeg;inode/directory;
Categories=AudioVideo;Audio;Player;
LINES
grep -qF '<launchable type="desktop-id">velmor-mp3-player.desktop</launchable>' "$metainfo" ||
    fail "the metainfo does not launch the desktop entry"

# A PNG's width and height are the big-endian words at bytes 16 and 20.
png_size() {
    local w h
    read -r w h < <(od -An -tu4 --endian=big -j16 -N8 "$1")
    echo "${w}x${h}"
}
for size in 16 32 48 64 128 256; do
    icon=$share/icons/hicolor/${size}x${size}/apps/velmor-mp3-player.png
    if [ ! -f "$icon" ]; then
        fail "no $size px icon"
    elif [ "$(png_size "$icon")" != "${size}x${size}" ]; then
        fail "the $size px icon is $(png_size "$icon")"
    fi
done

page=$share/man/man1/velmor-mp3-player.1.gz
zcat "$page" 2>/dev/null | grep -q '^\.SH NAME' || fail "no readable man page at $page"
zcat "$page" 2>/dev/null | grep -q '@' && fail "the man page has an unexpanded @VARIABLE@"
zcat "$page" 2>/dev/null | grep -q '^\.TH [^ ]* 1 "[0-9-]\{10\}"' || fail "the man page has no date"
for section in MPRIS "DRAG AND DROP" KEYS "SEE ALSO"; do
    zcat "$page" 2>/dev/null | grep -qx "\.SH $section" || fail "the man page has no $section"
done
# groff's own warnings, as lintian reads the page
warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "the man page: $warnings"

# The installed program never writes beside itself, not even run as root, who could: its
# settings go to the user's configuration directory.
home=$root/home
mkdir -p "$home"
before=$(ls -A "$root/usr/bin")
HOME=$home XDG_CONFIG_HOME=$home/config QT_QPA_PLATFORM=offscreen \
    DBUS_SESSION_BUS_ADDRESS=unix:path=$root/no-bus DBUS_SYSTEM_BUS_ADDRESS=unix:path=$root/no-bus \
    "$root/usr/bin/velmor-mp3-player" >"$root/run.log" 2>&1 &
player=$!
sleep 2  # the window shows and reads its settings; the signal then closes it as a user does
kill -TERM "$player"
wait "$player" || fail "the installed player ended with $?: $(cat "$root/run.log")"
[ "$(ls -A "$root/usr/bin")" = "$before" ] ||
    fail "the installed player wrote into bin/ ($(id -un)): $(ls -A "$root/usr/bin" | tr '\n' ' ')"
[ -f "$home/config/velmor-mp3-player/velmor-mp3-player.ini" ] ||
    fail "the installed player saved no settings in \$XDG_CONFIG_HOME: $(cat "$root/run.log")"

passed_if_no_failures "installed files"
