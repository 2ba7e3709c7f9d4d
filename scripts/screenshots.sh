#!/usr/bin/env bash
# Pictures of the window for review, on a real X display (Xvfb with the xcb platform) with a tray host:
#   scripts/screenshots.sh OUTDIR
# writes OUTDIR/100/*.png (100 % scale, 1280x800 screen) and OUTDIR/200/*.png (QT_SCALE_FACTOR=2 on a
# 2560x1600 screen): each page of the main window, the wizard's six pages, each dialog, the message
# window, the tray menu and the window during a backup. The data folder holds three projects and some
# archives made with kzb. Needs xvfb and trayer (scripts/setup.sh installs them) and a build in
# build/ (made here when missing; KZB_BUILD_DIR chooses another).
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 OUTDIR" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "$1")
build=${KZB_BUILD_DIR:-$root/build}

if [ ! -x "$build/bin/gui_screenshots" ] || [ ! -x "$build/bin/kzb" ]; then
  [ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" -j "$(nproc)" --target gui_screenshots kzb kestrova-zip-backup
fi
kzb="$build/bin/kzb"

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# Source trees, a big file for the backup picture, and three projects with archives.
src="$work/files"
mkdir -p "$src/Documents/Reports" "$src/Mail" "$src/Photos" "$work/archives"
for i in 1 2 3 4 5; do
  printf 'Quarterly report %s\n%.0s' "$i" $(seq 1 400) > "$src/Documents/Reports/report-$i.txt"
  printf 'Letter %s\n%.0s' "$i" $(seq 1 200) > "$src/Documents/letter-$i.odt"
  printf 'From: someone\nSubject: message %s\n%.0s' "$i" $(seq 1 100) > "$src/Mail/inbox-$i.eml"
  head -c 200000 /dev/urandom > "$src/Photos/picture-$i.jpg"
done
big="$work/big.bin"
head -c 60000000 /dev/urandom > "$big"

seed="$work/seed"
mkdir -p "$seed"
printf '[Common]\nWildcard Total=3\nWildcard0=*.*\nWildcard1=*.odt\nWildcard2=*.jpg\n' > "$seed/project.ini"
"$kzb" add Documents --data-dir "$seed" --include "$src/Documents/*.*" --exclude "$src/Documents/*.tmp" \
  --dest "$work/archives" --prefix Documents --daily 08:00:00 --comment "Office documents" >/dev/null
"$kzb" add Mail --data-dir "$seed" --include "$src/Mail/*.eml" --dest "$work/archives" --prefix Mail \
  --suffix date --every 90 >/dev/null
"$kzb" add "Photos & Scans" --data-dir "$seed" --include "$src/Photos/*.jpg" --dest "$work/archives" \
  --prefix Photos --password secret --keep 10 >/dev/null
for project in Documents Documents Documents Mail "Photos & Scans"; do
  "$kzb" backup "$project" --data-dir "$seed" >/dev/null
done

cp -r "$work/archives" "$work/archives-seed"

shoot() { # shoot SCALE WIDTH HEIGHT
  local scale=$1 width=$2 height=$3 display
  display=$((70 + RANDOM % 100))
  while [ -e "/tmp/.X11-unix/X$display" ]; do display=$((display + 1)); done
  Xvfb ":$display" -screen 0 "${width}x${height}x24" -nolisten tcp >"$work/xvfb-$scale.log" 2>&1 &
  local xvfb=$!
  pids+=("$xvfb")
  for _ in $(seq 1 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
  DISPLAY=":$display" trayer --edge bottom --align right --widthtype request --height $((24 * scale)) \
    --transparent false --tint 0xdddddd >"$work/trayer-$scale.log" 2>&1 &
  local tray=$!
  pids+=("$tray")
  sleep 1
  local data="$work/data-$scale"
  rm -rf "$data" "$work/archives"
  cp -r "$seed" "$data"
  cp -r "$work/archives-seed" "$work/archives"  # each scale starts from the same archives
  mkdir -p "$out/$scale"00
  DISPLAY=":$display" QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR="$scale" XDG_RUNTIME_DIR="$work" \
    "$build/bin/gui_screenshots" "$out/${scale}00" "$data" "$big"
  kill "$tray" "$xvfb" 2>/dev/null || true
  wait "$tray" "$xvfb" 2>/dev/null || true
}

shoot 1 1280 800
shoot 2 2560 1600
echo "pictures in $out/100 and $out/200"
