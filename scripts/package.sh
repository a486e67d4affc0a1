#!/usr/bin/env bash
# Builds the Debian package ruvo_<version>_<arch>.deb (ruvo, ruvo-cli, the desktop entry, the
# icon, AppStream metadata and the manual pages) in build-package/, and prints its path.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
dir=build-package
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build "$dir" -j"$(nproc)" >/dev/null
(cd "$dir" && cpack -G DEB >/dev/null)
ls "$PWD/$dir"/ruvo_*.deb
