#!/usr/bin/env bash
# bench_aes.sh [KZB] -- what AES-256 costs a backup: `kzb backup` of the tree corpus at level 6 with an
# AES-256 password against the same project without a password, whole-process wall and CPU time (user +
# system), runs alternating, one warm-up each, median of $RUNS (default 5). Target: AES-256 wall time at most
# 15 % above the plain run. For scale, 7-Zip (single-threaded deflate, -mx=5) with and without -mem=AES256
# on the same tree. The cipher's own throughput and the per-entry key derivation are bench_aes (the C++
# program beside this script, built with the benchmarks).
#
# KZB defaults to build/bin/kzb of this checkout; the corpus is $KZB_CORPUS (default /tmp/kzb-corpus), built
# by /work/shared/bench/make-corpus.sh when its tree part is missing. Not part of the test suite; a loaded
# machine disturbs wall times (CPU times far less).
set -euo pipefail
export LC_ALL=C

root=$(cd "$(dirname "$0")/.." && pwd)
KZB=${1:-$root/build/bin/kzb}
CORPUS=${KZB_CORPUS:-/tmp/kzb-corpus}
RUNS=${RUNS:-5}
TREE=$CORPUS/tree
PASSWORD='bench pass'

[ -x "$KZB" ] || { echo "kzb not found at $KZB (build first or pass its path)" >&2; exit 2; }
[ -e "$CORPUS/.done-tree" ] || bash "$root/../shared/bench/make-corpus.sh" "$CORPUS"

work=$(mktemp -d /tmp/kzb-bench-aes.XXXXXX)
trap 'rm -rf "$work"' EXIT
data=$work/data
dest=$work/dest
mkdir -p "$data" "$dest"

# timed CMD...: runs the command, prints "wall cpu" in seconds.
timed() {
  /usr/bin/time -f '%e %U %S' -o "$work/time" "$@" >/dev/null 2>&1
  awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }' "$work/time"
}
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

"$KZB" add Plain --include "$TREE/*" --dest "$dest" --prefix plain --suffix none --level 6 --data-dir "$data" >/dev/null
"$KZB" add Aes --include "$TREE/*" --dest "$dest" --prefix aes --suffix none --level 6 --password "$PASSWORD" \
  --encryption aes256 --data-dir "$data" >/dev/null

run() { rm -f "$dest/$2.zip"; timed "$KZB" backup "$1" --data-dir "$data"; }
seven() { rm -f "$work/7z.zip"; (cd "$CORPUS" && timed 7zz a -tzip -mx=5 -mmt=1 "$@" "$work/7z.zip" tree); }

files=$(find "$TREE" -type f | wc -l)
echo "corpus: $TREE, $files files, $(du -sb "$TREE" | cut -f1) bytes"
run Plain plain >/dev/null
run Aes aes >/dev/null
plain_wall=() plain_cpu=() aes_wall=() aes_cpu=()
for ((i = 1; i <= RUNS; i++)); do
  read -r w c < <(run Plain plain); plain_wall+=("$w"); plain_cpu+=("$c")
  read -r w c < <(run Aes aes); aes_wall+=("$w"); aes_cpu+=("$c")
done
pw=$(median "${plain_wall[@]}") pc=$(median "${plain_cpu[@]}")
aw=$(median "${aes_wall[@]}") ac=$(median "${aes_cpu[@]}")
"$KZB" list "$dest/aes.zip" | awk 'NR == 1'
if command -v 7zz >/dev/null; then
  7zz t -p"$PASSWORD" "$dest/aes.zip" >"$work/7zz-t.log" 2>&1 && echo "7zz t: AES archive OK" ||
    echo "7zz t: AES archive FAILED"
fi
printf '%-22s %9s %9s\n' "" "wall s" "CPU s"
printf '%-22s %9s %9s\n' "kzb level 6" "$pw" "$pc"
printf '%-22s %9s %9s\n' "kzb level 6 AES-256" "$aw" "$ac"
awk -v pw="$pw" -v pc="$pc" -v aw="$aw" -v ac="$ac" 'BEGIN {
  wo = (aw / pw - 1) * 100; co = (ac / pc - 1) * 100
  printf "%-22s %8.1f%% %8.1f%%   (target: wall under 15%%: %s)\n", "AES-256 overhead", wo, co, wo < 15 ? "yes" : "no"
  printf "%-22s %9.3f ms of CPU per entry\n", "AES-256 cost", (ac - pc) * 1000 / '"$files"' }'
if command -v 7zz >/dev/null; then
  read -r sw sc < <(seven)
  read -r aw7 ac7 < <(seven -p"$PASSWORD" -mem=AES256)
  printf '%-22s %9s %9s\n' "7zz -mx=5 -mmt=1" "$sw" "$sc"
  printf '%-22s %9s %9s\n' "7zz ... -mem=AES256" "$aw7" "$ac7"
fi
