#!/usr/bin/env bash
# Starts the program on the demo installation under a private Xvfb with a
# tray host, and writes screenshots into demo/screens/:
#   exportar.png     the window on its "Exportar" page
#   importar.png     the "Importar" page
#   menu-bandeja.png the tray menu opened with a right click (window hidden)
#
#   scripts/screenshot.sh [BUILD_FOLDER]    (default: build)
#
# Needs Xvfb, trayer, xdotool, xwininfo and ImageMagick's import (installed by
# scripts/setup.sh). No window manager runs, so the window has no title bar.
set -euo pipefail
cd "$(dirname "$0")/.."

build="${1:-build}"
demo="${VZ_DEMO_DIR:-demo}"
screens="$demo/screens"
exe="$demo/prefix/drive_c/Vireo/Zuvavivevo/vireo-zuvavivevo"

if [ ! -x "$build/app/vireo-zuvavivevo" ]; then
  cmake -S . -B "$build" -G Ninja >/dev/null
  cmake --build "$build" --target vireo-zuvavivevo make-vireo-db
fi
if [ ! -x "$exe" ]; then
  if [ -x scripts/make-demo-installation.sh ]; then
    cmake --build "$build" --target make-vireo-db >/dev/null
    VZ_DEMO_DIR="$demo" scripts/make-demo-installation.sh "$build"
  else
    # The smallest installation: drive C: with the program and no settings file.
    mkdir -p "$demo/prefix/dosdevices" "$(dirname "$exe")"
    ln -sfn ../drive_c "$demo/prefix/dosdevices/c:"
  fi
fi
cp "$build/app/vireo-zuvavivevo" "$exe"
mkdir -p "$screens"

work="$(mktemp -d)"
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill -9 "${pids[i]}" 2>/dev/null || true
    wait "${pids[i]}" 2>/dev/null || true
  done
  rm -rf -- "$work"
}
trap cleanup EXIT

# Xvfb picks a free display and writes its number to the file behind fd 3.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
[ -s "$work/display" ] || { echo "screenshot: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"

trayer --edge bottom --align right --widthtype pixel --width 120 --height 32 >/dev/null 2>&1 &
pids+=($!)
sleep 1

"$exe" >"$work/program.log" 2>&1 &
pids+=($!)
wid="$(timeout 20 xdotool search --sync --onlyvisible --classname vireo-zuvavivevo | head -n1)" || {
  echo "screenshot: the window did not appear" >&2
  cat "$work/program.log" >&2
  exit 1
}
sleep 1.5

shot() { import -window root "$screens/$1"; echo "$screens/$1"; }

shot exportar.png
# The "Importar" tab sits right of "Exportar" at the top of the window.
xdotool mousemove --window "$wid" 95 12 click 1
sleep 0.5
shot importar.png

# Hide the window with a left click on the tray icon, then open the menu.
icon="$(xwininfo -root -tree | awk '/"Vireo Zuvavivevo": \("vireo-zuvavivevo"/ && $0 !~ /445x317/ {print $NF; exit}')"
size="$(xwininfo -root -tree | awk '/"Vireo Zuvavivevo": \("vireo-zuvavivevo"/ && $0 !~ /445x317/ {print $(NF-1); exit}')"
if [ -z "$icon" ]; then
  echo "screenshot: no tray icon found" >&2
  exit 1
fi
ix="$(echo "$icon" | cut -d+ -f2)"; iy="$(echo "$icon" | cut -d+ -f3)"
iw="${size%%x*}"; ih="$(echo "$size" | cut -dx -f2 | cut -d+ -f1)"
cx=$((ix + iw / 2)); cy=$((iy + ih / 2))
xdotool mousemove "$cx" "$cy" click 1
sleep 0.5
xdotool click 3
sleep 0.8
shot menu-bandeja.png
