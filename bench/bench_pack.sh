#!/usr/bin/env bash
# bench_pack.sh [KZB] -- whole-process wall time and archive size of packing, kzb against its peers.
#
# Packs each part of the benchmark corpus (tree/: ~8000 small files; text/: 100 MiB of text; big/: 200 MiB
# of shared libraries; random/: 64 MiB that does not compress), built by /work/shared/bench/make-corpus.sh
# into $KZB_CORPUS (default /tmp/kzb-corpus) when it is missing. Every command runs $RUNS times (default 5)
# into a fresh archive; the median wall time is shown with the archive's size and both relative to kzb, and
# the median CPU time (user + system; above the wall time for a tool that uses several threads), which a
# loaded machine disturbs far less than the wall time.
#   level 6:  kzb --level 6 | zip -6 | bsdtar (level 6) | 7zz -mx=5
#   level 1:  kzb --level 1 | zip -1 | bsdtar (level 1) | 7zz -mx=1
#   level 9:  kzb --level 9 | zip -9 | bsdtar (level 9) | 7zz -mx=9
#   level 0:  kzb --level 0 | zip -0 | bsdtar (store)   | 7zz -mx=0 | cp -r (the same bytes copied as files)
#   password: kzb --level 6 --password | zip -6 -e -P, and both without a password. kzb reads a file twice
#             with a password (the CRC must be known before the encrypted data starts); zip encrypts
#             without that pass (it writes data descriptors), so zip's password overhead is the cost of
#             the cipher alone and kzb's overhead minus zip's estimates the CRC pass ("crc-pass").
# Peak memory (max RSS) of kzb comes from /usr/bin/time -v. KZB_PARTS and KZB_CASES narrow the run, e.g.
#   KZB_PARTS="tree big" KZB_CASES="6 0" bench/bench_pack.sh build/bin/kzb
# KZB_THREADS=N passes --threads N to every kzb run (default: kzb's own, one thread per core); KZB_BASE=path
# adds a second kzb (e.g. an older build) as tool "base" to the level cases.
# Every archive made is checked with "unzip -t" (and must hold every file of the part); a run that fails or
# makes a bad archive is reported and left out of the median (all runs failing gives "nan").
# Not part of the test suite; figures depend on the machine and its load (medians damp the noise of a
# shared machine, they do not remove it).
set -euo pipefail
export LC_ALL=C

KZB=${1:-$(cd "$(dirname "$0")/.." && pwd)/build/bin/kzb}
KZB=$(cd "$(dirname "$KZB")" && pwd)/$(basename "$KZB")
CORPUS=${KZB_CORPUS:-/tmp/kzb-corpus}
WORK=${KZB_BENCH_WORK:-/tmp/kzb-bench-pack}
RUNS=${RUNS:-5}
THREADS=${KZB_THREADS:+--threads $KZB_THREADS}
BASE=${KZB_BASE:-}
PARTS=${KZB_PARTS:-tree text big random}
CASES=${KZB_CASES:-6 1 9 0 pw}
SHARED=$(cd "$(dirname "$0")/../.." && pwd)/shared
PASSWORD='bench pass'

[ -x "$KZB" ] || { echo "kzb not found at $KZB (pass its path)" >&2; exit 2; }
for tool in zip bsdtar 7zz bc; do command -v "$tool" >/dev/null || { echo "$tool is missing" >&2; exit 2; }; done
for part in $PARTS; do
  if [ ! -e "$CORPUS/.done-$part" ]; then bash "$SHARED/bench/make-corpus.sh" "$CORPUS"; break; fi
done
mkdir -p "$WORK"
OUT="$WORK/out.zip"
COPY="$WORK/copy"

# "wall cpu": medians of the checked RUNS wall and CPU times (seconds) of a command run from the corpus
# folder into a fresh $OUT; $2 is the part, whose file count the archive must hold
median() {
  local walls=() cpus=() files
  files=$(find "$CORPUS/$2" -type f | wc -l)
  for ((i = 0; i < RUNS; i++)); do
    rm -rf "$OUT" "$COPY"
    if ! (cd "$CORPUS" && /usr/bin/time -f '%e %U %S' -o "$WORK/time" bash -c "$1") >/dev/null 2>&1; then
      echo "FAILED (dropped): $1" >&2; continue
    fi
    if [ -d "$COPY" ]; then
      # the plain copy of level 0's yardstick: checked by comparing the trees
      diff -rq "$CORPUS/$2" "$COPY" >/dev/null 2>&1 || { echo "BAD COPY (dropped): $1" >&2; continue; }
    elif ! unzip -tqq -P "$PASSWORD" "$OUT" >/dev/null 2>&1 || [ "$(zipinfo -1 "$OUT" | grep -vc '/$')" != "$files" ]; then
      echo "BAD ARCHIVE (dropped): $1" >&2; continue
    fi
    read -r wall user sys < "$WORK/time"
    walls+=("$wall")
    cpus+=("$(echo "$user + $sys" | bc)")
  done
  if [ ${#walls[@]} -eq 0 ]; then echo "nan nan"; return; fi
  local mid=$(((${#walls[@]} + 1) / 2))
  echo "$(printf '%s\n' "${walls[@]}" | sort -n | sed -n "${mid}p") $(printf '%s\n' "${cpus[@]}" | sort -n | sed -n "${mid}p")"
}

# peak resident memory (KiB) of one run
max_rss() {
  rm -f "$OUT"
  (cd "$CORPUS" && /usr/bin/time -v -o "$WORK/rss" bash -c "$1" >/dev/null 2>&1)
  sed -n 's/.*Maximum resident set size (kbytes): //p' "$WORK/rss"
}

printf '%-7s %-9s %-8s %8s %8s %8s %12s %8s %8s\n' part case tool wall cpu MB/s bytes wall/kzb size/kzb
row() {  # part case tool wall cpu bytes kzb_wall kzb_bytes part_bytes
  printf '%-7s %-9s %-8s %8.3f %8.3f %8.1f %12d %7.2fx %7.4fx\n' "$1" "$2" "$3" "$4" "$5" \
    "$(echo "$9 / $4 / 1000000" | bc -l)" "$6" "$(echo "$4 / $7" | bc -l)" "$(echo "$6 / $8" | bc -l)"
}

for part in $PARTS; do
  for case in $CASES; do
    declare -A cmd=()
    case $case in
      6|1|9)
        mx=$case; [ "$case" = 6 ] && mx=5
        cmd[kzb]="'$KZB' pack '$OUT' --recurse --level $case $THREADS $part"
        cmd[zip]="zip -r -q -$case '$OUT' $part"
        cmd[bsdtar]="bsdtar --format zip --options zip:compression-level=$case -cf '$OUT' $part"
        cmd[7zz]="7zz a -tzip -mx=$mx -bso0 -bsp0 '$OUT' $part"
        tools="kzb zip bsdtar 7zz" ;;
      0)
        cmd[kzb]="'$KZB' pack '$OUT' --recurse --level 0 $THREADS $part"
        cmd[zip]="zip -r -q -0 '$OUT' $part"
        cmd[bsdtar]="bsdtar --format zip --options zip:compression=store -cf '$OUT' $part"
        cmd[7zz]="7zz a -tzip -mx=0 -bso0 -bsp0 '$OUT' $part"
        cmd[cp]="cp -r $part '$COPY'"
        tools="kzb zip bsdtar 7zz cp" ;;
      pw)
        cmd[kzb]="'$KZB' pack '$OUT' --recurse --level 6 $THREADS --password '$PASSWORD' $part"
        cmd[plain]="'$KZB' pack '$OUT' --recurse --level 6 $THREADS $part"
        cmd[zip]="zip -r -q -6 -e -P '$PASSWORD' '$OUT' $part"
        cmd[zipplain]="zip -r -q -6 '$OUT' $part"
        tools="kzb plain zip zipplain" ;;
      *) echo "unknown case $case" >&2; exit 2 ;;
    esac
    if [ -n "$BASE" ] && [ "$case" != pw ]; then
      cmd[base]="'$BASE' pack '$OUT' --recurse --level $case $part"
      tools="$tools base"
    fi
    declare -A secs=() cpu=() size=()
    for tool in $tools; do
      read -r secs[$tool] cpu[$tool] <<< "$(median "${cmd[$tool]}" "$part")"
      size[$tool]=$(stat -c %s "$OUT" 2>/dev/null || du -sb "$COPY" 2>/dev/null | cut -f1 || echo 0)
    done
    label=$([ "$case" = pw ] && echo password || echo "level$case")
    for tool in $tools; do
      [ "${secs[$tool]}" = nan ] && { printf '%-7s %-9s %-8s all runs failed\n' "$part" "$case" "$tool"; continue; }
      row "$part" "$label" "$tool" "${secs[$tool]}" "${cpu[$tool]}" "${size[$tool]}" "${secs[kzb]}" "${size[kzb]}" \
        "$(find "$CORPUS/$part" -type f -printf '%s\n' | awk '{s += $1} END {print s}')"
    done
    if [ "$case" = pw ]; then
      # password overhead of kzb and of zip (CPU), and their difference as a share of kzb's plain run
      printf '%-7s %-9s %-8s kzb %+.1f%%  zip %+.1f%%  crc-pass %+.1f%% (cpu)\n' "$part" "$label" "overhead" \
        "$(echo "(${cpu[kzb]} / ${cpu[plain]} - 1) * 100" | bc -l)" \
        "$(echo "(${cpu[zip]} / ${cpu[zipplain]} - 1) * 100" | bc -l)" \
        "$(echo "((${cpu[kzb]} - ${cpu[plain]}) - (${cpu[zip]} - ${cpu[zipplain]})) / ${cpu[plain]} * 100" | bc -l)"
    fi
    printf '%-7s %-9s %-8s %8d KiB\n' "$part" "$label" "kzb-rss" "$(max_rss "${cmd[kzb]}")"
    unset cmd secs cpu size
  done
done
rm -rf "$OUT" "$COPY" "$WORK/rss" "$WORK/time"
