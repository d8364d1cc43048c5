#!/usr/bin/env bash
# Installs what is missing, builds the player without its tests and makes its Debian package,
# build-package/velmor-mp3-player_<version>_<architecture>.deb.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh package
scripts/build.sh build-package -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMOR_TESTS=OFF
cd build-package
rm -f velmor-mp3-player_*.deb
cpack -G DEB
