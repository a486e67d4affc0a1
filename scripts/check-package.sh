#!/usr/bin/env bash
# Builds the two Debian packages and checks what each holds and needs: the window's package
# its program, desktop entry (taking files), icon, valid AppStream metadata and manual page;
# the command line's its program, manual page, bash completion and systemd user unit, and
# dependencies that name no Qt Gui or Widgets (it is for machines without a display).
set -euo pipefail
cd "$(dirname "$0")/.."
debs=$(scripts/package.sh)
window=$(grep '/ruvo_[^/]*\.deb$' <<<"$debs")
cli=$(grep '/ruvo-cli_[^/]*\.deb$' <<<"$debs")
failed=0
fail() {
  echo "package: $*"
  failed=1
}

# holds DEB PATH...: each path is in the package.
holds() {
  local deb=$1 listing path
  shift
  listing=$(dpkg-deb -c "$deb")
  for path in "$@"; do
    grep -q " $path\$" <<<"$listing" || fail "$(basename "$deb") lacks $path"
  done
}

# lacks DEB PATTERN: no path of the package matches the pattern.
lacks() {
  if dpkg-deb -c "$1" | grep -q "$2"; then
    fail "$(basename "$1") holds $(dpkg-deb -c "$1" | grep "$2" | awk '{print $NF}' | head -1)"
  fi
}

holds "$window" ./usr/bin/ruvo ./usr/share/applications/ruvo.desktop \
  ./usr/share/icons/hicolor/scalable/apps/ruvo.svg ./usr/share/metainfo/io.ruvo.Ruvo.metainfo.xml \
  ./usr/share/man/man1/ruvo.1.gz
lacks "$window" 'ruvo-cli'
holds "$cli" ./usr/bin/ruvo-cli ./usr/share/man/man1/ruvo-cli.1.gz \
  ./usr/share/bash-completion/completions/ruvo-cli ./usr/share/systemd/user/ruvo-receive.service
lacks "$cli" '/usr/bin/ruvo$'

window_depends=$(dpkg-deb -f "$window" Depends)
cli_depends=$(dpkg-deb -f "$cli" Depends)
for needed in libqt6widgets6 qt6-translations-l10n fonts-liberation; do
  grep -q "$needed" <<<"$window_depends" || fail "ruvo does not depend on $needed"
done
grep -q libqt6core6 <<<"$cli_depends" || fail "ruvo-cli: no Qt dependency computed"
if grep -Eq 'libqt6(gui|widgets)' <<<"$cli_depends"; then
  fail "ruvo-cli depends on Qt Gui or Widgets: $cli_depends"
fi

# The unit finds the program where the package puts it.
unit=$(dpkg-deb --fsys-tarfile "$cli" | tar -xO ./usr/share/systemd/user/ruvo-receive.service)
grep -q '^ExecStart=/usr/bin/env ruvo-cli receive ' <<<"$unit" || fail "the unit does not start ruvo-cli"
grep -q '^Environment=PATH=.*:/usr/bin' <<<"$unit" || fail "the unit's PATH lacks /usr/bin"
entry=$(dpkg-deb --fsys-tarfile "$window" | tar -xO ./usr/share/applications/ruvo.desktop)
grep -q '^Exec=ruvo %F$' <<<"$entry" || fail "the desktop entry does not take files"
grep -q '^MimeType=.*application/octet-stream;' <<<"$entry" || fail "the desktop entry names no MIME type"
appstreamcli validate --no-net data/io.ruvo.Ruvo.metainfo.xml >/dev/null || fail "AppStream metadata invalid"

if [ $failed -eq 0 ]; then
  echo "package: $(basename "$window") holds everything (Depends: $window_depends)"
  echo "package: $(basename "$cli") holds everything (Depends: $cli_depends)"
fi
exit $failed
