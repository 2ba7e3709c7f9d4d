#!/usr/bin/env bash
# bench_backup.sh [KZB] -- whole-process wall times of the backup run and of the archive listing.
#
#   1. `kzb backup` of the text-tree corpus (a project including TREE/* with recursion, level 6, no
#      password, no comment) against `zip -r -q -6` of the same tree. Runs alternate between the two
#      tools so both see the same page cache; one untimed warm-up run each; the median of 5 is compared.
#      Target: kzb at most 1.1 times zip's time.
#   2. `kzb archives` of a folder holding 500 archives (sorted by date, the first one's directory read by
#      nothing: the command lists only). Target: median under 0.2 s.
#
# KZB defaults to build/bin/kzb of this checkout. The corpus is /tmp/kzb-corpus (KZB_CORPUS overrides),
# built by /work/shared/bench/make-corpus.sh; the script stops when its tree part is missing. Never part of
# the test suite.
set -euo pipefail
export LC_ALL=C

root=$(cd "$(dirname "$0")/.." && pwd)
KZB=${1:-$root/build/bin/kzb}
CORPUS=${KZB_CORPUS:-/tmp/kzb-corpus}
TREE=$CORPUS/tree
RUNS=5

[ -x "$KZB" ] || { echo "kzb not found at $KZB (build first or pass its path)" >&2; exit 2; }
[ -e "$CORPUS/.done-tree" ] && [ -d "$TREE" ] ||
  { echo "corpus tree missing: run /work/shared/bench/make-corpus.sh $CORPUS" >&2; exit 2; }
command -v zip >/dev/null || { echo "zip is not installed" >&2; exit 2; }

work=$(mktemp -d /tmp/kzb-bench-backup.XXXXXX)
trap 'rm -rf "$work"' EXIT
data=$work/data
dest=$work/dest
mkdir -p "$data" "$dest"

now_ns() { date +%s%N; }
# wall CMD...: runs the command, prints its wall time in seconds.
wall() {
  local start end
  start=$(now_ns)
  "$@" >/dev/null
  end=$(now_ns)
  awk -v ns=$((end - start)) 'BEGIN { printf "%.3f", ns / 1e9 }'
}
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

"$KZB" add Tree --include "$TREE/*" --dest "$dest" --prefix tree --suffix none --level 6 \
  --data-dir "$data" >/dev/null
archive=$dest/tree.zip
reference=$work/reference.zip

files=$(find "$TREE" -type f | wc -l)
bytes=$(du -sb "$TREE" | cut -f1)
echo "corpus: $TREE, $files files, $bytes bytes"

kzb_run() { rm -f "$archive"; wall "$KZB" backup Tree --data-dir "$data"; }
zip_run() { rm -f "$reference"; wall bash -c "cd '$CORPUS' && zip -r -q -6 '$reference' tree"; }

kzb_run >/dev/null
zip_run >/dev/null
kzb_times=()
zip_times=()
for ((i = 1; i <= RUNS; i++)); do
  kzb_times+=("$(kzb_run)")
  zip_times+=("$(zip_run)")
done
kzb_median=$(median "${kzb_times[@]}")
zip_median=$(median "${zip_times[@]}")
ratio=$(awk -v a="$kzb_median" -v b="$zip_median" 'BEGIN { printf "%.3f", a / b }')
echo "kzb backup: ${kzb_times[*]} s (median $kzb_median s), archive $(stat -c %s "$archive") bytes"
echo "zip -r -6:  ${zip_times[*]} s (median $zip_median s), archive $(stat -c %s "$reference") bytes"
backup_ok=$(awk -v r="$ratio" 'BEGIN { print (r <= 1.1) ? "yes" : "no" }')
echo "ratio kzb/zip: $ratio (target <= 1.1: $backup_ok)"
if command -v unzip >/dev/null; then
  unzip -tqq "$archive" >/dev/null && echo "unzip -t: archive OK" || echo "unzip -t: archive FAILED"
fi

# 500 archives: copies of one small archive with spread modification times.
listing=$work/listing
mkdir -p "$listing"
small=$work/small.zip
(cd "$TREE" && find . -maxdepth 1 -type f | head -20 | zip -q -6 "$small" -@)
for ((i = 0; i < 500; i++)); do
  name=$(printf '%s/backup%03d.zip' "$listing" "$i")
  cp "$small" "$name"
  touch -d "@$((1700000000 + (i * 7919) % 500 * 3600))" "$name"
done
"$KZB" archives "$listing" --data-dir "$data" >/dev/null
list_times=()
for ((i = 1; i <= RUNS; i++)); do
  list_times+=("$(wall "$KZB" archives "$listing" --sort date --data-dir "$data")")
done
list_median=$(median "${list_times[@]}")
list_ok=$(awk -v t="$list_median" 'BEGIN { print (t < 0.2) ? "yes" : "no" }')
echo "kzb archives (500 archives): ${list_times[*]} s (median $list_median s, target < 0.2 s: $list_ok)"

[ "$backup_ok" = yes ] && [ "$list_ok" = yes ]
