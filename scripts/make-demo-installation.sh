#!/usr/bin/env bash
# Builds a demo "Vireo Cast" installation in a Wine-style prefix under
# demo/prefix: drives C: and D:, the installation folder with small generated
# files in each of its data and audio folders, its two Firebird databases, the
# music folders they list, and this program beside it with its settings file.
# Running it again resets the demo.
#
#   scripts/make-demo-installation.sh [BUILD_FOLDER]    (default: build)
#
# VZ_DEMO_DIR names another folder than demo/ (the tests use a temporary one).
set -euo pipefail
cd "$(dirname "$0")/.."

build="${1:-build}"
tool="$build/tools/make-vireo-db/make-vireo-db"
program="$build/app/vireo-zuvavivevo"
for needed in "$tool" "$program"; do
  if [ ! -x "$needed" ]; then
    echo "make-demo-installation: $needed not found; build first (cmake --build $build)" >&2
    exit 1
  fi
done

demo="${VZ_DEMO_DIR:-demo}"
prefix="$demo/prefix"
install="$prefix/drive_c/Vireo/Vireo Cast"
zuvavivevo="$prefix/drive_c/Vireo/Zuvavivevo"
music="$prefix/drive_d/Musicas"

# The in-process Firebird engine needs a lock folder it can write.
if [ -z "${FIREBIRD_LOCK:-}" ] && [ -e /tmp/firebird ] && [ ! -w /tmp/firebird ]; then
  export FIREBIRD_LOCK="$(realpath -m "$demo")/firebird-lock"
  mkdir -p "$FIREBIRD_LOCK"
  echo "note: /tmp/firebird is not writable; export FIREBIRD_LOCK=$FIREBIRD_LOCK before starting the program" >&2
fi

rm -rf -- "$prefix"
mkdir -p "$prefix/dosdevices" "$prefix/drive_c" "$prefix/drive_d"
ln -s ../drive_c "$prefix/dosdevices/c:"
ln -s ../drive_d "$prefix/dosdevices/d:"

# text FILE LINE...: a Windows text file (Windows-1252, CR LF line ends).
text() {
  local file="$1"
  shift
  mkdir -p "$(dirname "$file")"
  printf '%s\r\n' "$@" | iconv -f UTF-8 -t CP1252 >"$file"
}

# audio FILE KIB: stand-in audio bytes (an ID3 header, then noise).
audio() {
  mkdir -p "$(dirname "$1")"
  { printf 'ID3\003\000\000\000\000\000\000'; head -c "$(($2 * 1024))" /dev/urandom; } >"$1"
}

# The installation folder itself.
text "$install/Vireo.ini" "[GERAL]" "Emissora=Rádio Vireo FM" "Idioma=pt-BR"
text "$install/LEIAME.txt" "Vireo Cast - instalação de demonstração."
{ printf 'MZ'; head -c 8192 /dev/urandom; } >"$install/VireoCast.exe"
{ printf 'MZ'; head -c 4096 /dev/urandom; } >"$install/Servidor.exe"

# Dados: data folders.
mkdir -p "$install/Vireodb"
text "$install/Vireodb/LEIAME.txt" "Bancos de dados do Vireo Cast."
text "$install/Plugins/Plugins.ini" "[PLUGINS]" "RDS=1"
text "$install/Plugins/RDS/rds.cfg" "porta=COM1"
text "$install/Relatorios/Veiculacoes.txt" "08/12/2026 06:00 Abertura" "08/12/2026 06:05 Comercial 01"
text "$install/Listas/Segunda.lst" "Vinhetas\\abertura.mp3" "Comerciais\\padaria.mp3"
text "$install/Listas/Terca.lst" "Vinhetas\\abertura.mp3" "Trilhas\\manha.mp3"
text "$install/Textos Avulsos/Aviso.txt" "Aviso aos ouvintes: programação especial no feriado."

# Áudios: audio libraries.
audio "$install/Comerciais/padaria.mp3" 24
audio "$install/Comerciais/Farmacia Central.mp3" 16
audio "$install/Textos/previsao do tempo.mp3" 12
audio "$install/Vinhetas/abertura.mp3" 8
audio "$install/Vinhetas/Hora certa/hora.mp3" 6
audio "$install/Trilhas/manha.mp3" 32
audio "$install/Efeitos/aplausos.wav" 10
audio "$install/Locucoes/bom dia.mp3" 14

# Music folders: two on drive D:, one inside the installation.
audio "$music/Rock/01 - Estrada.mp3" 40
audio "$music/Rock/02 - Motor.mp3" 36
audio "$music/Rock/Ao vivo/03 - Palco.mp3" 20
audio "$music/MPB/01 - Canção da manhã.mp3" 44
audio "$music/MPB/02 - Varanda.mp3" 28
audio "$install/Musicas/01 - Vinheta musical.mp3" 18

"$tool" adm "$install/Vireodb/VireoAdm.fdb" --config 1 "{8F3A1C2E-5B7D-4E6F-9A0B-1C2D3E4F5A6B}"
"$tool" audio "$install/Vireodb/VireoAudio.fdb" \
  --folder 'D:\Musicas\Rock\' --folder 'D:\Musicas\MPB\' --folder 'C:\Vireo\Vireo Cast\Musicas\'

# The program beside the installation, with its settings file.
mkdir -p "$zuvavivevo"
cp "$program" "$zuvavivevo/"
text "$zuvavivevo/VireoReplicador.ini" "[SERVIDOR]" 'PASTA_SISTEMA=C:\Vireo\Vireo Cast'

echo "Demo installation ready: $zuvavivevo/vireo-zuvavivevo"
