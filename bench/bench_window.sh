#!/usr/bin/env bash
# bench_window.sh -- the window's figures on a real X display (Xvfb), with window_bench:
#
#   1. process start to the window painted, with 200 projects and a 5,000-row log (target < 300 ms);
#   2. the longest interval without event processing during a backup of the corpus tree (~130 MB, target
#      < 100 ms), measured with a 5 ms heartbeat timer;
#   3. the Restore tab on a folder of 2,000 archives: listing and first archive's entries shown (< 300 ms);
#   4. the idle window's resident memory (reported).
#
# Medians of 5 runs for 1 and 3. The corpus is /tmp/kzb-corpus (KZB_CORPUS overrides), built by
# /work/shared/bench/make-corpus.sh; the build is build/ (KZB_BUILD_DIR overrides), configured with
# benchmarks on. Needs xvfb. Never part of the test suite.
set -euo pipefail
export LC_ALL=C
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KZB_BUILD_DIR:-$root/build}
CORPUS=${KZB_CORPUS:-/tmp/kzb-corpus}
[ -e "$CORPUS/.done-tree" ] || { echo "corpus tree missing: run /work/shared/bench/make-corpus.sh $CORPUS" >&2; exit 2; }
if [ ! -x "$build/bin/window_bench" ]; then
  cmake -S "$root" -B "$build" -DKZB_BENCH=ON >/dev/null
  cmake --build "$build" -j "$(nproc)" --target window_bench kzb
fi
bench="$build/bin/window_bench"
kzb="$build/bin/kzb"

work=$(mktemp -d /tmp/kzb-bench-window.XXXXXX)
xvfb=
cleanup() { [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
display=$((200 + RANDOM % 100))
while [ -e "/tmp/.X11-unix/X$display" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 1 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
export DISPLAY=":$display" QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work"

median() { sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

# 1. 200 projects and a 5,000-row log.
many="$work/many"
mkdir -p "$many/src" "$many/dest"
python3 - "$many" <<'PY'
import sys
d = sys.argv[1]
names = [f"Project {i:03d}" for i in range(200)]
with open(f"{d}/project.ini", "w") as f:
    f.write(f"[Common]\nProject Count={len(names)}\n")
    for i, n in enumerate(names):
        f.write(f"Count{i}={n}\n")
    f.write(f"Last Project={names[0]}\nLog Count=5000\n")
    for i, n in enumerate(names):
        f.write(f"[{n}]\nFilename prefix=P{i}\nSuffix=2\nIncrease Value=1\nValue={i}\nSave Path={d}/dest/\n"
                f"Backup Directory Count=2\nBackup0={d}/src/*.txt\nBackup1={d}/src/*.doc\n"
                f"No Backup Directory Count=1\nNoBackup0={d}/src/*.tmp\nWhether include Subdirectory=1\n"
                f"Whether password Project=0\nWhether store path in Zip=1\nWhether store comment in Zip=0\n"
                f"BackupMode={i % 4}\nStartTime_or_Increase={['08:00:00', '90', 'Monday', ''][i % 4]}\n"
                f"PackLevel=6\nStore Number=50\nisUseNew=0\nisUseToday=0\nNewDateTime=2024-01-01 00:00:00\n")
with open(f"{d}/log.txt", "w") as f:
    f.write("[Common]\nLog Total=4999\n")
    for k in range(1, 5000):
        f.write(f"[Log{k}]\nDate=2024-03-{1 + k % 28:02d} 10:{k % 60:02d}:00\nOperate=Backup\n"
                f"Status={'Succeeds' if k % 7 else 'Interrupt'}\nProject=Project {k % 200:03d}\n"
                f"Information={d}/dest/P{k % 200}{k}.zip  {k}Kb\n")
PY
for _ in 1 2 3 4 5; do
  "$bench" startup "$many" | sed -E 's/.*painted: ([0-9.]+) ms.*/\1/'
done > "$work/startup.txt"
"$bench" startup "$many"
echo "start to painted, median of 5: $(median < "$work/startup.txt") ms"

# 2. A backup of the corpus tree.
tree="$work/tree"
mkdir -p "$tree/dest"
"$kzb" add Tree --data-dir "$tree" --include "$CORPUS/tree/*" --dest "$tree/dest" --prefix tree --level 6 >/dev/null
"$bench" stall "$tree" Tree

# 3. 2,000 archives.
archives="$work/archives"
mkdir -p "$archives/zips" "$archives/src"
for i in $(seq 1 40); do printf 'line %s\n%.0s' "$i" $(seq 1 50) > "$archives/src/f$i.txt"; done
"$kzb" add Many --data-dir "$archives" --include "$archives/src/*.txt" --dest "$archives/zips" --prefix many >/dev/null
"$kzb" backup Many --data-dir "$archives" >/dev/null
first=$(ls "$archives/zips"/*.zip | head -1)
for i in $(seq 2 2000); do cp "$first" "$archives/zips/many-$i.zip"; done
for _ in 1 2 3 4 5; do
  "$bench" restore "$archives" | sed -E 's/.* shown in ([0-9]+) ms/\1/'
done > "$work/restore.txt"
"$bench" restore "$archives"
echo "Restore tab, median of 5: $(median < "$work/restore.txt") ms"

# 4. Idle memory (with the 200 projects and the 5,000-row log).
"$bench" idle "$many"
