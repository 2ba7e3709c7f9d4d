#!/usr/bin/env bash
# kzb.exe under Wine, checked from the host with the peers as oracles:
#   tests/windows/wine_cli_test.sh BUILD_WIN_DIR NATIVE_KZB
# - kzb.exe pack / test / extract, and a project backup and restore with a password (AES-256);
# - its archives test good with unzip -t and 7zz t (AES entries: 7zz and bsdtar, since unzip has no AES),
#   and kzb.exe reads what the Linux kzb wrote, AES entries included;
# - archives of the same tree from Windows and from Linux agree in names, times, sizes, CRCs and methods;
#   the host and attribute fields are each system's own (DOS attributes from both, host 0 or VFAT).
# Prints "N passed, N failed" and exits non-zero on any failure.
set -uo pipefail
build_win=$(cd "$1" && pwd)
native_kzb=$(realpath "$2")
kzb_exe="$build_win/bin/kzb.exe"
export WINEPREFIX="${WINEPREFIX:-$build_win/wineprefix}" WINEDEBUG=-all
wine=$(command -v wine64 || command -v wine)
[ -d "$WINEPREFIX/drive_c" ] || "$wine" wineboot -i >/dev/null 2>&1

passed=0 failed=0
check() { # check NAME COMMAND...
  local name=$1; shift
  if "$@" >"$work/last.log" 2>&1; then
    passed=$((passed + 1)); echo "ok    $name"
  else
    failed=$((failed + 1)); echo "FAIL  $name"; sed 's/^/      /' "$work/last.log" | tail -20
  fi
}
kzbw() { "$wine" "$kzb_exe" "$@"; }
exits() { # exits STATUS COMMAND...: the command ends with that exit status
  local want=$1; shift
  "$@"
  [ $? -eq "$want" ]
}
# The listing a peer sees: name, date-time, size, CRC and method of every entry, in archive order.
entries() {
  python3 - "$1" <<'PY'
import sys, zipfile
for i in zipfile.ZipFile(sys.argv[1]).infolist():
    print(i.filename, i.date_time, i.file_size, "%08x" % i.CRC, i.compress_type)
PY
}
hosts() {
  python3 - "$1" <<'PY'
import sys, zipfile
for i in zipfile.ZipFile(sys.argv[1]).infolist():
    print(i.filename, i.create_system, "%08x" % i.external_attr)
PY
}

work=$(mktemp -d /tmp/kzb-wine-XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir -p docs/sub "docs/caf$(printf '\xc3\xa9')"
head -c 50000 /dev/urandom >docs/random.bin
yes 'a line of text' | head -n 4000 >docs/a.txt
printf 'log' >docs/b.log
printf 'caf\xc3\xa9' >"docs/caf$(printf '\xc3\xa9')/men$(printf '\xc3\xba').txt"
printf 'c' >docs/sub/c.txt
find docs -exec touch -d '2021-06-15 10:20:30' {} +
touch -d '2021-12-24 18:00:02' docs/sub/c.txt

check "kzb.exe pack" kzbw pack win.zip --recurse docs
check "unzip -t on kzb.exe's archive" unzip -t win.zip
check "7zz t on kzb.exe's archive" 7zz t win.zip
check "kzb.exe test on its own archive" kzbw test win.zip
check "Linux kzb test on kzb.exe's archive" "$native_kzb" test win.zip
"$native_kzb" pack lin.zip --recurse docs >/dev/null
head -c 2000 win.zip >cut.zip
check "kzb.exe test on a cut archive exits 4" exits 4 kzbw test cut.zip
check "same names, times, sizes, CRCs and methods from Windows and Linux" \
  diff <(entries win.zip) <(entries lin.zip)
check "DOS attributes from both systems" bash -c "$(declare -f hosts); hosts win.zip | awk '\$2 != 0 && \$2 != 14 {exit 1}'"
check "kzb.exe test on Linux kzb's archive" kzbw test lin.zip
check "kzb.exe extract of Linux kzb's archive" kzbw extract lin.zip --dest xw
check "extracted tree equals the source" diff -r docs xw/docs
check "extracted times are the entries' times" \
  test "$(stat -c %Y xw/docs/sub/c.txt)" = "$(stat -c %Y docs/sub/c.txt)"
mkdir -p xl && (cd xl && unzip -q ../win.zip) && check "unzip extracts kzb.exe's archive to the same tree" diff -r docs xl/docs
check "kzb.exe pack with a password" kzbw pack pw.zip --password 'p w' --recurse docs
check "unzip -t with the password" unzip -tq -P 'p w' pw.zip
check "7zz t with the password" 7zz t -p'p w' pw.zip
"$native_kzb" pack lpw.zip --password secret docs/a.txt >/dev/null
check "kzb.exe extracts Linux kzb's encrypted archive" kzbw extract lpw.zip --password secret --dest xp
check "encrypted entry extracted intact" cmp docs/a.txt xp/docs/a.txt
check "kzb.exe pack with AES-256" kzbw pack aes.zip --password 'p w' --encryption aes256 --recurse docs
check "7zz t on kzb.exe's AES archive" 7zz t -p'p w' aes.zip
check "kzb.exe test on its own AES archive" kzbw test aes.zip --password 'p w'
check "Linux kzb extracts kzb.exe's AES archive to the same tree" \
  bash -c "'$native_kzb' extract aes.zip --password 'p w' --dest xa >/dev/null && diff -r docs xa/docs"
"$native_kzb" pack laes.zip --password secret --encryption aes256 --recurse docs >/dev/null
check "kzb.exe extracts Linux kzb's AES archive" kzbw extract laes.zip --password secret --dest xla
check "AES entries extracted intact" diff -r docs xla/docs

# A project backed up and restored by kzb.exe, with its data folder beside the archives.
mkdir -p data dest
check "kzb.exe add project" kzbw add Docs --include 'docs\*.*' --dest dest --prefix Docs --suffix number \
  --password secret --data-dir data
check "kzb.exe backup project" kzbw backup Docs --data-dir data
archive=$(ls dest/*.zip 2>/dev/null | head -1)
check "backup archive exists" test -n "$archive"
check "7zz t on the project archive" 7zz t -psecret "$archive"
check "bsdtar reads the project archive" bash -c "bsdtar -xOf \"\$1\" --passphrase secret >/dev/null" _ "$archive"
check "kzb.exe restore project archive" kzbw restore "$archive" --dest restored --password secret --yes \
  --data-dir data
check "restored tree equals the source" bash -c "diff -r docs \"\$(dirname \"\$(find restored -name a.txt | head -1)\")\""
check "activity log names the backup and the restore" bash -c "grep -q Backup data/log.txt && grep -q Restore data/log.txt"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
