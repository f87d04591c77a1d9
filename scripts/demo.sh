#!/usr/bin/env bash
# The program's main job on a fresh machine: sets up and builds, makes the
# demo installation under demo/, starts the reference replication service on
# 127.0.0.1:8077 and starts the program from the demo prefix.
#
# With a display the window opens and you click through an export and an
# import yourself. Without one, the program runs under a private Xvfb with a
# tray host and is driven with xdotool: one export ("Dados", "Áudios" and
# "Músicas", the first-run prompt left empty), then a few installation files
# are deleted and altered, then one import from the web. Screenshots of each
# stage go to demo/screens/; the script prints what happened and exits
# non-zero when the archive was not uploaded or a file did not come back
# byte for byte.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target vireo-zuvavivevo make-vireo-db vz-replication-service

demo="demo"
# A home of the demo's own for the program and everything started from here:
# the folders it trashes go to demo/home/.local/share/Trash, never to the
# real one. Emptied at each start.
home="$root/$demo/home"
if [ -e "$home" ]; then
  chmod -R u+rwx -- "$home"
  rm -rf -- "$home"
fi
mkdir -p "$home/.local/share" "$home/.config" "$home/.cache"
# A desktop's X server is still reached: its cookie stays where it was.
if [ -n "${DISPLAY:-}" ] && [ -z "${XAUTHORITY:-}" ] && [ -n "${HOME:-}" ] && [ -f "$HOME/.Xauthority" ]; then
  export XAUTHORITY="$HOME/.Xauthority"
fi
export HOME="$home" XDG_DATA_HOME="$home/.local/share" XDG_CONFIG_HOME="$home/.config" XDG_CACHE_HOME="$home/.cache"
scripts/make-demo-installation.sh build
# The in-process Firebird engine needs a lock folder this user can write.
if [ -z "${FIREBIRD_LOCK:-}" ] && [ -e /tmp/firebird ] && [ ! -w /tmp/firebird ]; then
  export FIREBIRD_LOCK="$root/$demo/firebird-lock"
fi
prefix="$demo/prefix"
install="$prefix/drive_c/Vireo/Vireo Cast"
exe="$prefix/drive_c/Vireo/Zuvavivevo/vireo-zuvavivevo"
guid="{8F3A1C2E-5B7D-4E6F-9A0B-1C2D3E4F5A6B}"
service_root="$demo/service"
screens="$demo/screens"
rm -rf -- "$service_root" "$demo/work"
mkdir -p "$service_root" "$screens" "$demo/work"
rm -f -- "$screens"/demo-*.png

pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null || true
    wait "${pids[i]}" 2>/dev/null || true
  done
}
trap cleanup EXIT

build/tools/replication-service/vz-replication-service --address 127.0.0.1 --port 8077 \
  --root "$service_root" >"$demo/work/service.out" 2>"$demo/service.log" &
pids+=($!)
for _ in $(seq 100); do
  grep -q listening "$demo/work/service.out" 2>/dev/null && break
  sleep 0.1
done
grep -q listening "$demo/work/service.out" || { echo "demo: the replication service did not start" >&2; cat "$demo/service.log" >&2; exit 1; }
echo "Replication service: $(cat "$demo/work/service.out")"

if [ -n "${DISPLAY:-}" ]; then
  echo "Starting the program; export and import from its window (the service runs until it closes)."
  "$exe"
  exit 0
fi

# --- Without a display: drive one export and one import under Xvfb. ---
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$demo/work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do
  [ -s "$demo/work/display" ] && break
  sleep 0.1
done
[ -s "$demo/work/display" ] || { echo "demo: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$demo/work/display")"
trayer --edge bottom --align right --widthtype pixel --width 120 --height 32 >/dev/null 2>&1 &
pids+=($!)
sleep 1

"$exe" >"$demo/work/program.log" 2>&1 &
program=$!
pids+=($program)
wid="$(timeout 20 xdotool search --sync --onlyvisible --classname vireo-zuvavivevo | head -n1)" || {
  echo "demo: the window did not appear" >&2
  cat "$demo/work/program.log" >&2
  exit 1
}
sleep 1
eval "$(xdotool getwindowgeometry --shell "$wid")"  # X, Y of the window
wx=$X
wy=$Y

shot() { import -window root "$screens/$1"; echo "  screenshot $screens/$1"; }
# click X Y: a click at window coordinates.
click() { xdotool mousemove $((wx + $1)) $((wy + $2)) click 1; sleep 0.4; }
# The page of each tab lies below the tab bar: controls sit at their place plus this.
page_x=2
page_y=23

# dialog_window: the id of a visible top-level window of the program other than the main one.
dialog_window() {
  local deadline=$((SECONDS + ${1:-60}))
  while [ $SECONDS -lt $deadline ]; do
    for w in $(xdotool search --onlyvisible --pid "$program" 2>/dev/null; xdotool search --onlyvisible --name '^Vireo Zuvavivevo$' 2>/dev/null); do
      [ "$w" = "$wid" ] && continue
      eval "$(xdotool getwindowgeometry --shell "$w" 2>/dev/null)" || continue
      # Skip the tray icon's own small window.
      if [ "$WIDTH" -gt 60 ] && [ "$HEIGHT" -gt 40 ]; then
        echo "$w"
        return 0
      fi
    done
    sleep 0.2
  done
  return 1
}
# answer W: presses Return once in the program's box W and waits until it has
# closed (a second press only when it is still there after a few seconds).
answer() {
  for _ in 1 2 3; do
    xdotool windowfocus --sync "$1" 2>/dev/null || true
    # Through XTEST to the focused box, never with --window: xdotool sends the
    # release to the box, which the press has already closed, so the server
    # keeps Return held and its auto-repeat would answer every later box.
    xdotool key Return 2>/dev/null || true
    for _ in $(seq 30); do
      xdotool search --onlyvisible --name '^Vireo Zuvavivevo$' 2>/dev/null | grep -qx "$1" || return 0
      sleep 0.1
    done
  done
  echo "demo: a box of the program does not close" >&2
  return 1
}

echo "Export:"
shot demo-1-janela.png
click $((page_x + 8 + 4 + 10)) $((page_y + 48 + 8))   # "Músicas" in grpExportacao
shot demo-2-categorias.png
t0=$(date +%s.%N)
click $((page_x + 4 + 75)) $((page_y + 243 + 20))     # "Iniciar Exportação"
prompt="$(dialog_window 30)" || { echo "demo: no first-run prompt" >&2; exit 1; }
shot demo-3-primeira-execucao.png
answer "$prompt"                                     # left empty: everything is copied
final="$(dialog_window 600)" || { echo "demo: the export did not end" >&2; exit 1; }
t1=$(date +%s.%N)
shot demo-4-exportacao-finalizada.png
answer "$final"

archive="$service_root/Replicacao/$guid.zip"
if [ ! -s "$archive" ]; then
  echo "demo: no archive reached the service" >&2
  exit 1
fi
cp "$archive" "$demo/work/uploaded.zip"
archive_bytes=$(stat -c %s "$archive")
entries=$(unzip -Z1 "$demo/work/uploaded.zip" | wc -l)
content_bytes=$(unzip -Zt "$demo/work/uploaded.zip" | awk '{print $3}')
echo "  archive uploaded: $archive_bytes bytes, $entries files ($content_bytes bytes uncompressed)"

# Damage the installation: two files deleted, two altered (the originals kept aside).
changed=("$install/Comerciais/padaria.mp3" "$install/Listas/Terca.lst" "$install/Vireo.ini"
         "$prefix/drive_d/Musicas/Rock/02 - Motor.mp3")
for i in "${!changed[@]}"; do cp -p "${changed[i]}" "$demo/work/original-$i"; done
rm -f -- "${changed[0]}" "${changed[1]}"
printf 'alterado\r\n' >>"${changed[2]}"
head -c 1000 /dev/urandom >"${changed[3]}"
echo "  deleted: ${changed[0]#$prefix/}, ${changed[1]#$prefix/}"
echo "  altered: ${changed[2]#$prefix/}, ${changed[3]#$prefix/}"

echo "Import:"
click 95 12                                          # the "Importar" tab
shot demo-5-importar.png
t2=$(date +%s.%N)
click $((page_x + 4 + 75)) $((page_y + 243 + 20))     # "Iniciar Importação" (web mode)
final="$(dialog_window 600)" || { shot demo-erro.png; echo "demo: the import did not end" >&2; exit 1; }
t3=$(date +%s.%N)
shot demo-6-importacao-finalizada.png
answer "$final"

failed=0
for i in "${!changed[@]}"; do
  if cmp -s "$demo/work/original-$i" "${changed[i]}"; then
    echo "  restored byte for byte: ${changed[i]#$prefix/}"
  else
    echo "  NOT restored: ${changed[i]#$prefix/}" >&2
    failed=1
  fi
done
if [ -e "$archive" ]; then
  echo "  the service still holds the archive (no removal request)" >&2
  failed=1
fi
# Every archived file back in place with its archived bytes.
python3 -m zipfile -e "$demo/work/uploaded.zip" "$demo/work/extracted"
restored=0
while IFS= read -r -d '' f; do
  rel="${f#$demo/work/extracted/Replicacao/}"
  drive="$(echo "${rel%%/*}" | tr 'A-Z' 'a-z')"
  target="$prefix/drive_$drive/${rel#*/}"
  if [ -d "$prefix/drive_$drive" ]; then
    if cmp -s "$f" "$target"; then restored=$((restored + 1)); else echo "  differs: $target" >&2; failed=1; fi
  fi
done < <(find "$demo/work/extracted/Replicacao" -type f -print0)
echo "  files restored: $restored of $entries"
awk -v a="$t0" -v b="$t1" -v c="$t2" -v d="$t3" 'BEGIN { printf "  export took %.1f s, import took %.1f s\n", b - a, d - c }'

kill -TERM "$program" 2>/dev/null || true
if [ $failed -ne 0 ]; then
  echo "demo: FAILED" >&2
  exit 1
fi
echo "demo: export and import succeeded"
