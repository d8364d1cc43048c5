#!/usr/bin/env bash
# Installs what is missing, builds and starts the player.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh run
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMOR_TESTS=OFF
exec build/velmor-mp3-player "$@"
