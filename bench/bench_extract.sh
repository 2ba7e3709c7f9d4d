#!/usr/bin/env bash
# bench_extract.sh [KZB] -- whole-process wall time of extraction and testing, kzb against its peers.
#
# Archives are made with Info-ZIP "zip -6" from the benchmark corpus (tree/: many small files; big/: one
# 200 MiB file); the corpus is built by /work/shared/bench/make-corpus.sh into $KZB_CORPUS
# (default /tmp/kzb-corpus) when it is missing. Each command runs 5 times; the median wall time is shown.
#   extract: kzb extract --overwrite always | unzip -qq -o | 7zz x -y | bsdtar -xf
#   test:    kzb test | unzip -tqq
# Every extraction is compared with the corpus (diff -r) and every test must exit 0; a run that fails is
# reported and left out of the median ("nan" when all fail). KZB_THREADS=N passes --threads N to kzb;
# KZB_BASE=path adds another kzb build as tool "base".
# Not part of the test suite; figures depend on the machine and its load.
set -euo pipefail
export LC_ALL=C

KZB=${1:-$(cd "$(dirname "$0")/.." && pwd)/build/bin/kzb}
KZB=$(cd "$(dirname "$KZB")" && pwd)/$(basename "$KZB")  # the commands run in the output folder
CORPUS=${KZB_CORPUS:-/tmp/kzb-corpus}
WORK=${KZB_BENCH_WORK:-/tmp/kzb-bench-extract}
RUNS=${RUNS:-5}
THREADS=${KZB_THREADS:+--threads $KZB_THREADS}
BASE=${KZB_BASE:-}  # a second kzb (e.g. an older build), shown as tool "base"
SHARED=$(cd "$(dirname "$0")/../.." && pwd)/shared

[ -x "$KZB" ] || { echo "kzb not found at $KZB (pass its path)" >&2; exit 2; }
if [ ! -e "$CORPUS/.done-tree" ] || [ ! -e "$CORPUS/.done-big" ]; then
  bash "$SHARED/bench/make-corpus.sh" "$CORPUS"
fi
mkdir -p "$WORK"
for part in tree big; do
  [ -s "$WORK/$part.zip" ] || (cd "$CORPUS" && zip -q -r -6 "$WORK/$part.zip" "$part")
done

# median of the checked RUNS wall times (seconds) of a command run in a fresh output folder; $2, when
# given, is the corpus part the output folder must then hold exactly
median() {
  local times=() t0 t1
  for ((i = 0; i < RUNS; i++)); do
    rm -rf "$WORK/out" && mkdir -p "$WORK/out"
    t0=$(date +%s.%N)
    if ! (cd "$WORK/out" && eval "$1") >/dev/null 2>&1; then echo "FAILED (dropped): $1" >&2; continue; fi
    t1=$(date +%s.%N)
    if [ -n "${2:-}" ] && ! diff -r "$CORPUS/$2" "$WORK/out/$2" >/dev/null 2>&1; then
      echo "WRONG OUTPUT (dropped): $1" >&2; continue
    fi
    times+=("$(echo "$t1 - $t0" | bc)")
  done
  if [ ${#times[@]} -eq 0 ]; then echo nan; return; fi
  printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((${#times[@]} + 1) / 2))p"
}

printf '%-6s %-8s %10s\n' archive tool seconds
for part in tree big; do
  zip_file="$WORK/$part.zip"
  declare -A t=()
  t[kzb]=$(median "'$KZB' extract '$zip_file' --dest . --overwrite always $THREADS" "$part")
  t[unzip]=$(median "unzip -qq -o '$zip_file'" "$part")
  t[7zz]=$(median "7zz x -y -bso0 -bsp0 '$zip_file'" "$part")
  t[bsdtar]=$(median "bsdtar -xf '$zip_file'" "$part")
  tools="kzb unzip 7zz bsdtar"
  if [ -n "$BASE" ]; then t[base]=$(median "'$BASE' extract '$zip_file' --dest . --overwrite always" "$part"); tools="$tools base"; fi
  bytes=$(find "$CORPUS/$part" -type f -printf '%s\n' | awk '{s += $1} END {print s}')
  for tool in $tools; do
    printf '%-6s %-8s %10.3f %8.1f MB/s\n' "$part" "extract:$tool" "${t[$tool]}" "$(echo "$bytes / ${t[$tool]} / 1000000" | bc -l)"
  done
  printf '%-6s %-8s %10.2fx\n' "$part" "bsdtar/kzb" "$(echo "${t[bsdtar]} / ${t[kzb]}" | bc -l)"
  tk=$(median "'$KZB' test '$zip_file' $THREADS")
  tu=$(median "unzip -tqq '$zip_file'")
  printf '%-6s %-8s %10.3f\n' "$part" "test:kzb" "$tk"
  printf '%-6s %-8s %10.3f\n' "$part" "test:unzip" "$tu"
  printf '%-6s %-8s %10.2fx\n' "$part" "unzip/kzb" "$(echo "$tu / $tk" | bc -l)"
done
rm -rf "$WORK/out"
