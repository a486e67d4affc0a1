#!/usr/bin/env bash
# Reads the window through the accessibility bus as a screen reader does: under Xvfb, with a
# private session bus and the AT-SPI bus. Skips (exit 77) where those cannot run.
set -u
harness=$1
skip() {
  echo "SKIP: $*"
  exit 77
}
for tool in Xvfb dbus-run-session /usr/libexec/at-spi-bus-launcher /usr/bin/python3; do
  command -v "$tool" >/dev/null || skip "needs $tool (Debian: xvfb, dbus-daemon, at-spi2-core)"
done
/usr/bin/python3 -c "import gi; gi.require_version('Atspi', '2.0'); from gi.repository import Atspi" \
  2>/dev/null || skip "needs python3-gi and gir1.2-atspi-2.0"
exec dbus-run-session -- /usr/bin/python3 "$(dirname "$0")/atspi_check.py" "$harness"
