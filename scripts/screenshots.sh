#!/usr/bin/env bash
# Takes the screenshots of doc/screenshots/ that show the window's newer states: each state
# in its own X server (Xvfb), captured with ImageMagick's `import`. Needs xvfb-run and
# imagemagick; builds what it runs in build/.
#   scripts/screenshots.sh [STATE...]   (default: all)
set -euo pipefail
cd "$(dirname "$0")/.."
out=$PWD/doc/screenshots
build=$PWD/build
cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)" --target ruvo ruvo-window-state >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# shoot NAME CROP COMMAND...: runs COMMAND in a fresh X server with its own settings, waits
# for "ready" on its output (or 3 s), captures CROP (WxH+X+Y of the screen) into NAME.png.
shoot() {
  local name=$1 crop=$2
  shift 2
  rm -rf "$work/config" && mkdir -p "$work/config"
  XDG_CONFIG_HOME=$work/config QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 800x600x24" \
    bash -c '
      "$@" >"'"$work"'/out" 2>/dev/null &
      pid=$!
      for _ in $(seq 60); do grep -q ready "'"$work"'/out" 2>/dev/null && break; sleep 0.05; done
      sleep 0.5
      import -window root -crop "'"$crop"'" +repage "'"$out/$name"'.png"
      kill $pid; wait $pid || true' _ "$@"
  echo "$out/$name.png"
}

state=$build/tests/harness/ruvo-window-state

# The window stands at (182,224) on a fresh configuration, without a window manager's frame.
window_crop=262x144+177+219
want=${*:-configurar bandeja tooltip yes-no open-file edit-menu abrir-con}
for s in $want; do
  case $s in
    configurar) shoot configurar "$window_crop" "$state" --config "$work/config" configurar ;;
    bandeja) shoot configurar-bandeja "$window_crop" "$state" --config "$work/config" bandeja ;;
    tooltip) shoot barra-de-estado-este-equipo 300x200+177+219 "$state" --config "$work/config" tooltip ;;
    yes-no) shoot pregunta-si-no 420x250+100+180 "$state" --config "$work/config" yes-no ;;
    open-file) shoot dialogo-abrir 610x420+0+40 "$state" --config "$work/config" open-file ;;
    edit-menu) shoot menu-del-campo 300x260+177+219 "$state" --config "$work/config" edit-menu ;;
    abrir-con)
      mkdir -p "$work/Documentos"
      truncate -s 3145728 "$work/Documentos/informe.pdf"
      shoot abrir-con-archivo "$window_crop" "$build/src/shell/ruvo" "$work/Documentos/informe.pdf"
      ;;
    *) echo "unknown state: $s" >&2 && exit 2 ;;
  esac
done
