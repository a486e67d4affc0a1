#!/usr/bin/env bash
# Builds the Debian packages in build-package/ and prints their paths, the window's first:
#   ruvo_<version>_<arch>.deb      the window, its desktop entry, icon, AppStream metadata and
#                                  manual page
#   ruvo-cli_<version>_<arch>.deb  the command line (no Qt Gui or Widgets), its manual page,
#                                  bash completion and systemd user unit
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
dir=build-package
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build "$dir" -j"$(nproc)" >/dev/null
rm -f "$dir"/*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
ls "$PWD/$dir"/ruvo_*.deb "$PWD/$dir"/ruvo-cli_*.deb
