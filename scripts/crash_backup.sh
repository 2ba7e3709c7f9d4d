#!/usr/bin/env bash
# crash_backup.sh: kills `kzb backup` at random moments of a large backup, and at every rename and every
# write of the bookkeeping files (with strace's fault injection), and checks after each kill that
#   - every archive under a final name passes `unzip -t`, and the previous archive of a run that replaces
#     one survives (under its name or set aside beside it);
#   - project.ini, StoreNumber.txt and log.txt parse;
#   - the next backup succeeds, and leaves no leftover (temporary archive, set-aside archive, INI temporary
#     file) and no pending-run record behind;
#   - every archive on disk is in the retention ring, and the running number is past every archive, so no
#     archive is stranded and no later run is blocked.
# Two projects run in turn: "Num" (numbered names, keep 3, overwriting off) and "Same" (one name, replaced
# by every run: overwriting on), each in its own data folder.
#
#   scripts/crash_backup.sh [--kills N] [--size-mb MB] [--kzb PATH] [--work DIR] [--keep-work]
#
# Needs strace, unzip and python3 (scripts/setup.sh installs them). It is a script to run by hand after
# changing the backup run, not part of the test suite; it takes a while (two full backups per kill).
set -euo pipefail
export LC_ALL=C

root=$(cd "$(dirname "$0")/.." && pwd)
kzb=$root/build/bin/kzb
kills=30
size_mb=200
work=
keep_work=0
while (($#)); do
  case $1 in
    --kills) kills=$2; shift 2 ;;
    --size-mb) size_mb=$2; shift 2 ;;
    --kzb) kzb=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --keep-work) keep_work=1; shift ;;
    *) echo "usage: $0 [--kills N] [--size-mb MB] [--kzb PATH] [--work DIR] [--keep-work]" >&2; exit 2 ;;
  esac
done
for tool in strace unzip python3; do
  command -v "$tool" >/dev/null || { echo "$0: $tool is missing (scripts/setup.sh installs it)" >&2; exit 2; }
done
[ -x "$kzb" ] || { echo "$0: $kzb is not built" >&2; exit 2; }
kzb=$(cd "$(dirname "$kzb")" && pwd)/$(basename "$kzb")
if [ -z "$work" ]; then work=$(mktemp -d "${TMPDIR:-/tmp}/kzb-crash-XXXXXX"); fi
mkdir -p "$work"
work=$(cd "$work" && pwd)
if ((keep_work == 0)); then trap 'rm -rf "$work"' EXIT; fi
echo "work folder: $work"

# --- The corpus: half incompressible, half compressible text, large and small files ---------------------
src=$work/src
if [ ! -e "$work/.corpus-$size_mb" ]; then
  rm -rf "$src"
  mkdir -p "$src/random" "$src/text" "$src/small"
  half=$((size_mb * 1024 * 1024 / 2))
  big=$((half / 4))
  for i in 1 2 3 4; do head -c "$big" /dev/urandom >"$src/random/r$i.bin"; done
  find /usr/include /usr/share/doc -type f \( -name '*.h' -o -name '*.txt' -o -name 'copyright' \) 2>/dev/null |
    sort | head -20000 | xargs cat 2>/dev/null | head -c $((half / 4)) >"$work/text.seed" || true
  for i in 1 2 3 4; do cp "$work/text.seed" "$src/text/t$i.txt"; done
  rm -f "$work/text.seed"
  for i in $(seq 1 300); do head -c $((RANDOM * 4)) /dev/urandom >"$src/small/s$i.bin"; done
  touch "$work/.corpus-$size_mb"
fi
echo "corpus: $(du -sm "$src" | cut -f1) MB in $(find "$src" -type f | wc -l) files"

# --- The two projects -----------------------------------------------------------------------------------
setup_project() { # NAME SUFFIX OVERWRITE
  local name=$1 data=$work/data-$1 dest=$work/dest-$1
  rm -rf "$data" "$dest"
  mkdir -p "$data" "$dest"
  "$kzb" add "$name" --include "$src/" --dest "$dest" --suffix "$2" --keep 3 --data-dir "$data" >/dev/null
  if (($3)); then sed -i '/^\[Common\]/a IsOverWrite=1' "$data/project.ini"; fi
}
setup_project Num number 0
setup_project Same none 1

backup() { # NAME -> status of one kzb backup
  "$kzb" backup "$1" --data-dir "$work/data-$1" >"$work/last.out" 2>&1
}

# --- The checks -------------------------------------------------------------------------------------------
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# Every archive under a final name (and, for "Same", whichever copy of the previous archive exists) tests
# good; the data files parse.
check_after_kill() { # NAME WHAT
  local name=$1 what=$2 dest=$work/dest-$1 zip good=0
  for zip in "$dest"/*.zip; do
    [ -e "$zip" ] || continue
    if unzip -tqq "$zip" >/dev/null 2>&1; then good=$((good + 1)); else fail "$what: $zip does not test good"; fi
  done
  if [ "$name" = Same ] && ((good == 0)); then
    local aside found=0
    for aside in "$dest"/.Same.zip.old-*.tmp; do
      [ -e "$aside" ] || continue
      unzip -tqq "$aside" >/dev/null 2>&1 && found=1
    done
    ((found)) || fail "$what: no good copy of the previous archive is left"
  fi
  python3 - "$work/data-$name" "$name" <<'PY' || fail "$what: a data file does not parse"
import configparser, sys
data, name = sys.argv[1], sys.argv[2]
def load(file):
    parser = configparser.ConfigParser(strict=True, interpolation=None, delimiters=("=",))
    parser.optionxform = str
    with open(f"{data}/{file}", encoding="utf-8") as handle:
        parser.read_file(handle)
    return parser
ini = load("project.ini")
assert int(ini["Common"]["Project Count"]) == 1 and ini["Common"]["Count0"] == name
int(ini[name]["Value"]) if "Value" in ini[name] else None
import os
if os.path.exists(f"{data}/log.txt"):
    log = load("log.txt")
    for k in range(1, int(log["Common"]["Log Total"]) + 1):
        entry = log[f"Log{k}"]
        assert entry["Operate"] and entry["Status"] and entry["Date"], k
if os.path.exists(f"{data}/StoreNumber.txt"):
    store = load("StoreNumber.txt")
    if name in store:
        int(store[name]["Max"]); int(store[name]["Head"])
PY
}

# The next backup succeeds; nothing but archives and the data files is left; every archive is in the ring
# and the running number is past all of them; no pending-run record stays.
check_next_run() { # NAME WHAT
  local name=$1 what=$2
  if ! backup "$name"; then
    fail "$what: the next backup failed: $(tr '\n' ' ' <"$work/last.out")"
    return
  fi
  check_after_kill "$name" "$what (next run)"
  python3 - "$work" "$name" <<'PY' || fail "$what: leftovers or bookkeeping after the next run"
import configparser, os, re, sys
work, name = sys.argv[1], sys.argv[2]
data, dest = f"{work}/data-{name}", f"{work}/dest-{name}"
problems = []
allowed = {"project.ini", "log.txt", "StoreNumber.txt", ".kzb-run.lock"}
problems += [f"data leftover {f}" for f in os.listdir(data) if f not in allowed]
pattern = re.compile(r"Num\d+\.zip" if name == "Num" else r"Same\.zip")
archives = sorted(f for f in os.listdir(dest) if pattern.fullmatch(f))
problems += [f"archive folder leftover {f}" for f in os.listdir(dest) if f not in archives]
def load(file):
    parser = configparser.ConfigParser(strict=True, interpolation=None, delimiters=("=",))
    parser.optionxform = str
    parser.read(f"{data}/{file}", encoding="utf-8")
    return parser
ini = load("project.ini")
problems += [f"pending-run record {k}" for k in ini[name] if k.startswith("Pending")]
if name == "Num":
    store = load("StoreNumber.txt")
    ring = {store[name][k] for k in store[name] if re.fullmatch(r"N\d+", k)} if name in store else set()
    problems += [f"{a} is not in the ring" for a in archives if f"{dest}/{a}" not in ring]
    if len(archives) > 3:
        problems.append(f"{len(archives)} archives kept, keep count 3")
    value = int(ini[name]["Value"])
    numbers = [int(a[3:-4]) for a in archives]
    if numbers and max(numbers) != value:
        problems.append(f"running number {value}, newest archive {max(numbers)}")
if problems:
    print("\n".join(problems), file=sys.stderr)
    sys.exit(1)
PY
}

# --- Baseline: one full run each, timed ---------------------------------------------------------------
for name in Num Same; do
  start=$(date +%s.%N)
  backup "$name" || { cat "$work/last.out"; echo "baseline backup of $name failed" >&2; exit 1; }
  end=$(date +%s.%N)
  seconds=$(python3 -c "print(round($end - $start, 2))")
  eval "duration_$name=$seconds"
  echo "full backup of $name: $seconds s, $(du -sm "$work/dest-$name" | cut -f1) MB of archives"
  check_next_run "$name" "baseline"
done

# --- Kills at random moments -------------------------------------------------------------------------
killed=0
for ((i = 1; i <= kills; i++)); do
  if ((i % 2)); then name=Num; else name=Same; fi
  duration_var=duration_$name
  delay=$(python3 -c "import random; print(round(random.uniform(0.02, 1.0) * ${!duration_var}, 2))")
  "$kzb" backup "$name" --data-dir "$work/data-$name" >/dev/null 2>&1 &
  pid=$!
  sleep "$delay"
  kill -KILL "$pid" 2>/dev/null || true
  status=0
  wait "$pid" 2>/dev/null || status=$?
  outcome="finished first"
  if ((status == 137)); then killed=$((killed + 1)); outcome=killed; fi
  what="random kill $i ($name after ${delay}s, $outcome)"
  check_after_kill "$name" "$what"
  check_next_run "$name" "$what"
  echo "$what: checked"
done

# --- Kills at every rename and every write of a bookkeeping file ---------------------------------------
# The ordinal of each such system call in a run, from a traced run from the same state (a clean one).
injected=0
for name in Num Same; do
  data=$work/data-$name
  strace -f -y -qq -e trace=write,rename,renameat2,fsync,unlink,unlinkat -o "$work/trace.txt" \
    "$kzb" backup "$name" --data-dir "$data" >/dev/null 2>&1 || { echo "traced run failed" >&2; exit 1; }
  # The new archive and its folder are flushed to disk before any older archive is deleted.
  python3 - "$work/trace.txt" "$work/dest-$name" <<'PY' || fail "$name: an older archive went before the new one was on disk"
import re, sys
trace, dest = sys.argv[1], sys.argv[2]
lines = open(trace, encoding="utf-8", errors="replace").read().splitlines()
temp_synced = renamed = folder_synced = False
deleted = []
for line in lines:
    if re.search(r"fsync\(\d+<" + re.escape(dest) + r"/kzb\d+-\w{6}\.tmp>", line):
        temp_synced = True
    elif re.search(r"rename\(\"" + re.escape(dest) + r"/kzb\d+-\w{6}\.tmp\"", line):
        assert temp_synced, "renamed before it was flushed"
        renamed = True
    elif renamed and re.search(r"fsync\(\d+<" + re.escape(dest) + r">\)", line):
        folder_synced = True
    elif re.search(r"unlink(at)?\(.*\"" + re.escape(dest) + r"/[^\"]*(\.zip|\.old-\d+-\w{6}\.tmp)\"", line):
        deleted.append(line)
        assert renamed and folder_synced, "deleted before the new archive was on disk: " + line
assert renamed, "no archive was renamed into place"
print(f"order checked: {len(deleted)} older archive(s) deleted after the new one was flushed", file=sys.stderr)
PY
  mapfile -t points < <(python3 - "$work/trace.txt" "$data" <<'PY'
import re, sys
trace, data = sys.argv[1], sys.argv[2]
counts = {}
for line in open(trace, encoding="utf-8", errors="replace"):
    m = re.match(r"\d+\s+(write|rename|renameat2)\((.*)", line)
    if not m:
        continue
    call, rest = m.groups()
    counts[call] = counts.get(call, 0) + 1
    if call != "write":
        print(f"{call} {counts[call]} {rest[:100]}")
    elif re.match(r"\d+<" + re.escape(data) + r"/\.(project\.ini|log\.txt|StoreNumber\.txt)\.", rest):
        print(f"write {counts[call]} {rest[:100]}")
PY
  )
  check_next_run "$name" "traced run"
  for point in "${points[@]}"; do
    read -r call when detail <<<"$point"
    status=0
    (strace -f -qq -o /dev/null -e trace="$call" -e inject="$call":signal=SIGKILL:when="$when" \
      "$kzb" backup "$name" --data-dir "$data" >/dev/null 2>&1; exit $?) 2>/dev/null || status=$?
    what="kill at $call #$when of $name (${detail%%,*})"
    ((status == 137)) || fail "$what: the run was not killed there (status $status)"
    check_after_kill "$name" "$what"
    check_next_run "$name" "$what"
    injected=$((injected + 1))
    echo "$what: checked"
  done
done

echo
echo "random kills: $kills ($killed hit a running backup); injected kills: $injected"
if ((failures)); then
  echo "FAILED: $failures check(s) failed" >&2
  exit 1
fi
echo "all checks passed"
