#!/usr/bin/env bash
# Builds the Debian package and checks what it holds: both programs, the desktop entry, the
# icon, valid AppStream metadata and both manual pages.
set -euo pipefail
cd "$(dirname "$0")/.."
deb=$(scripts/package.sh | tail -1)
listing=$(dpkg-deb -c "$deb")
missing=0
for path in ./usr/bin/ruvo ./usr/bin/ruvo-cli ./usr/share/applications/ruvo.desktop \
  ./usr/share/icons/hicolor/scalable/apps/ruvo.svg ./usr/share/metainfo/io.ruvo.Ruvo.metainfo.xml \
  ./usr/share/man/man1/ruvo.1.gz ./usr/share/man/man1/ruvo-cli.1.gz; do
  if ! grep -q " $path\$" <<<"$listing"; then
    echo "package: $path is missing"
    missing=1
  fi
done
dpkg-deb -f "$deb" Depends | grep -q libqt6 || { echo "package: no Qt dependency computed"; missing=1; }
appstreamcli validate --no-net data/io.ruvo.Ruvo.metainfo.xml >/dev/null || missing=1
[ $missing -eq 0 ] && echo "package: $(basename "$deb") holds everything ($(dpkg-deb -f "$deb" Depends))"
exit $missing
