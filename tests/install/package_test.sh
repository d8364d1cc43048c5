#!/usr/bin/env bash
# package_test.sh BUILD_DIR: builds the Debian package from the build, unpacks it into a
# temporary root and checks it: lintian finds no error or warning, it holds what the desktop
# needs, it depends on the package of every library the executable links, and the unpacked
# executable tells its version without a display.
set -uo pipefail
build=$(cd "$1" && pwd)
source "$(dirname "$0")/../support/shell_checks.sh"
shell_checks package

if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log" >&2
    fail "cpack -G DEB"
    exit 1
fi
debs=("$work"/out/velmor-mp3-player_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { fail "no single package: ${debs[*]}"; exit 1; }
deb=${debs[0]}
dpkg-deb -x "$deb" "$work/root" || fail "dpkg-deb -x"
exe=$work/root/usr/bin/velmor-mp3-player

for path in usr/bin/velmor-mp3-player \
    usr/share/applications/velmor-mp3-player.desktop \
    usr/share/metainfo/velmor-mp3-player.metainfo.xml \
    usr/share/icons/hicolor/16x16/apps/velmor-mp3-player.png \
    usr/share/icons/hicolor/256x256/apps/velmor-mp3-player.png \
    usr/share/man/man1/velmor-mp3-player.1.gz \
    usr/share/doc/velmor-mp3-player/copyright \
    usr/share/doc/velmor-mp3-player/changelog.Debian.gz \
    usr/share/velmor-mp3-player/screenshots/window.png; do
    [ -e "$work/root/$path" ] || fail "the package lacks /$path"
done

# apt installs what Depends names: each library the executable links must come from there.
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
depend_names=$(tr ',|' '\n\n' <<<"$depends" | sed 's/^ *//; s/[ :].*//')
while read -r lib; do
    # "name => path (address)", or "path (address)" for the dynamic loader
    path=$(ldd "$exe" | awk -v lib="$lib" '$1 == lib { print $3 } $1 ~ "/" lib "$" { print $1 }')
    [ -n "$path" ] || { fail "$lib is not found"; continue; }
    # "pkg:arch, pkg:arch2: /path" for each file of that name
    owners=$(dpkg -S "*/$lib" 2>/dev/null | sed 's/: \/.*//' | tr ',' '\n' |
        sed 's/^ *//; s/:.*//' | sort -u)
    grep -qxF -f <(printf '%s\n' $owners) <<<"$depend_names" ||
        fail "$lib (from $(echo $owners)) is linked but not in Depends"
done < <(readelf -d "$exe" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')

# Debian's checker, as a distribution runs it: any error or warning fails (overrides the
# package carries, with their reasons, are honoured).
lintian --fail-on error,warning "$deb" >"$work/lintian.txt" 2>&1
lintian_status=$?
lintian_out=$(grep -v '^running with root privileges' "$work/lintian.txt")
echo "lintian: ${lintian_out:-(nothing)}"
[ "$lintian_status" -eq 0 ] || fail "lintian ($lintian_status): $lintian_out"

version=$(dpkg-deb -f "$deb" Version)
changelog_version=$(zcat "$work/root/usr/share/doc/velmor-mp3-player/changelog.Debian.gz" |
    sed -n '1s/^[^(]*(\([^)]*\)).*/\1/p')
[ "$changelog_version" = "$version" ] ||
    fail "the changelog's first entry is $changelog_version, the package $version"
version=${version%-*}  # the program's own version, without the package's revision
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout -k 5 20 "$exe" --version \
    >"$work/version.txt" 2>&1
status=$?
shown=$(cat "$work/version.txt")
[ "$status" -eq 0 ] || fail "the unpacked executable's --version exits with $status: $shown"
[[ "$shown" == *"$version"* ]] || fail "--version shows '$shown', the package is $version"

passed_if_no_failures "package $(basename "$deb")"
