#!/usr/bin/env bash
# Set-up for a fresh Debian 12 machine (run as root from the checkout):
#   scripts/setup.sh start   install what is missing, build, start the window (kzb without a display)
#   scripts/setup.sh test    install what is missing, build, run the whole test suite (window tests offscreen)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

packages=(
  g++ cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev zlib1g-dev libdeflate-dev libcli11-dev nlohmann-json3-dev
  libssl-dev
  libbz2-dev liblzma-dev libzstd-dev
  clang libclang-rt-14-dev clang-format
  zip unzip 7zip libarchive-tools python3 xz-utils dpkg-dev
  g++-mingw-w64-x86-64-posix libz-mingw-w64-dev googletest wine wine64
  qt6-base-dev qt6-svg-dev libqt6svg6 fonts-dejavu-core
  xvfb xauth trayer imagemagick
  strace util-linux
  # Wine's bcrypt.dll does AES through GnuTLS, which wine only recommends (left out by the install below).
  libgnutls30
)

install_missing() {
  local missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

jobs=$(nproc)

build() { # build DIR [cmake options...]
  local dir=$1; shift
  cmake -S "$root" -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

build_target() { # build_target DIR TARGET [cmake options...]
  local dir=$1 target=$2; shift 2
  cmake -S "$root" -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$jobs" --target "$target"
}

# A sanitizer's or the fuzzer's report anywhere in a log fails the run, whatever the exit status said.
check_log_clean() { # check_log_clean LOG
  if grep -qE 'runtime error:|ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|WARNING: ThreadSanitizer|SUMMARY: (Address|UndefinedBehavior|Thread)Sanitizer' "$1"; then
    echo "sanitizer or fuzzer report in $1:"
    grep -nE -A20 'runtime error:|ERROR: |WARNING: ThreadSanitizer|SUMMARY: ' "$1" | head -60
    return 1
  fi
}

# The library decoders' targets fuzz a thin layer over libbz2, liblzma and libzstd (fuzzed on their own
# elsewhere) and the Deflate64 target shares the inflater with fuzz_inflate, so they get the short time:
# 6 targets x 40 s + 5 x 12 s keeps the stage at the 300 s it took before they joined.
short_fuzz_targets=" fuzz_deflate64 fuzz_bzip2 fuzz_lzma fuzz_xz fuzz_zstd "

run_fuzzers() { # run every fuzz target for a bounded time; the first finding stops it
  local dir=$1
  for target in "$dir"/bin/fuzz_*; do
    [ -x "$target" ] || continue
    local name corpus seconds=${FUZZ_SECONDS:-40}
    name=$(basename "$target")
    [[ $short_fuzz_targets == *" $name "* ]] && seconds=${FUZZ_SHORT_SECONDS:-12}
    corpus="$dir/corpus/$name"
    mkdir -p "$corpus"
    [ -d "$root/fuzz/seeds/$name" ] && cp -n "$root/fuzz/seeds/$name"/* "$corpus"/ 2>/dev/null || true
    echo "== fuzzing $name for ${seconds}s"
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 ASAN_OPTIONS=halt_on_error=1 \
      "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      "$corpus" 2>"$dir/$name.log" || { tail -50 "$dir/$name.log"; return 1; }
    check_log_clean "$dir/$name.log"
    grep -E 'stat::number_of_executed_units' "$dir/$name.log" || true
  done
}

case "${1:-}" in
  start)
    install_missing
    # The same optimised build the test command makes and checks.
    build "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKZB_WERROR=OFF
    if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$root/build/bin/kestrova-zip-backup" ]; then
      exec "$root/build/bin/kestrova-zip-backup" "${@:2}"
    fi
    echo "No display is available (DISPLAY and WAYLAND_DISPLAY are not set), so the window cannot open."
    echo "Use the command-line front end on the same data instead, for example:"
    echo "  $root/build/bin/kzb projects          list the projects and their schedules"
    echo "  $root/build/bin/kzb backup NAME       back up a project now"
    echo "  $root/build/bin/kzb schedule          run the scheduled backups until interrupted"
    echo "  $root/build/bin/kzb --help            every command"
    if [ $# -gt 1 ]; then exec "$root/build/bin/kzb" "${@:2}"; fi
    ;;
  test)
    install_missing
    echo "== normal build"
    build "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKZB_WERROR=ON
    # The window's tests run on Qt's offscreen platform: no display is needed.
    (cd "$root/build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$jobs" -LE long)
    # Past the classic limits: 70,000 entries and an update, entries over 4 GiB (those skip themselves
    # when the disk lacks the room).
    (cd "$root/build" && ctest --output-on-failure -j "$jobs" -L long)
    echo "== Windows build (mingw-w64) and its tests under Wine"
    started=$SECONDS
    build "$root/build-win" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DKZB_WERROR=ON -DKZB_BENCH=OFF -DKZB_NATIVE_KZB="$root/build/bin/kzb"
    echo "   Windows build: $((SECONDS - started)) s"
    # The packages above bring Wine: without it the Windows programs would go untested, so that fails.
    wine=$(command -v wine64 || command -v wine) || { echo "!! Wine is missing: the Windows tests cannot run" >&2; exit 1; }
    started=$SECONDS
    export WINEPREFIX="$root/build-win/wineprefix" WINEDEBUG=-all
    [ -d "$WINEPREFIX/drive_c" ] || "$wine" wineboot -i >/dev/null 2>&1
    (cd "$root/build-win" && ctest --output-on-failure --no-tests=error -j "$jobs")
    echo "   Windows tests under Wine: $((SECONDS - started)) s"
    echo "== sanitizer build (address, undefined; also replays the fuzz seeds and findings)"
    build "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DKZB_WERROR=ON -DKZB_SANITIZE=ON -DKZB_BENCH=OFF
    (cd "$root/build-asan" && QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=1 \
      LSAN_OPTIONS=suppressions="$root/scripts/lsan-qt.supp" UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
      ctest --output-on-failure -j "$jobs" -LE 'long|nosan' --output-log "$root/build-asan/ctest.log")
    check_log_clean "$root/build-asan/ctest.log"
    echo "== thread sanitizer build (the file finder's threaded search; the engine's worker threads)"
    build_target "$root/build-tsan" findfile_tests -DCMAKE_BUILD_TYPE=Debug -DKZB_WERROR=ON -DKZB_TSAN=ON \
      -DKZB_BENCH=OFF
    TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 "$root/build-tsan/bin/findfile_tests" \
      >"$root/build-tsan/findfile_tests.log" 2>&1 || { tail -50 "$root/build-tsan/findfile_tests.log"; exit 1; }
    check_log_clean "$root/build-tsan/findfile_tests.log"
    tail -3 "$root/build-tsan/findfile_tests.log"
    build_target "$root/build-tsan" zip_tests -DCMAKE_BUILD_TYPE=Debug -DKZB_WERROR=ON -DKZB_TSAN=ON -DKZB_BENCH=OFF
    TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 "$root/build-tsan/bin/zip_tests" \
      --gtest_filter='ParallelWriterTest.*:OpenAheadTest.*:WorkerPoolTest.*:-ParallelWriterTest.ArchiveIsTheSameForAnyNumberOfThreads' >"$root/build-tsan/zip_tests.log" 2>&1 ||
      { tail -50 "$root/build-tsan/zip_tests.log"; exit 1; }
    check_log_clean "$root/build-tsan/zip_tests.log"
    tail -3 "$root/build-tsan/zip_tests.log"
    echo "== fuzz build (clang, libFuzzer)"
    CC=clang CXX=clang++ build "$root/build-fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKZB_WERROR=ON \
      -DKZB_FUZZ=ON -DKZB_TESTS=OFF -DKZB_BENCH=OFF
    run_fuzzers "$root/build-fuzz"
    echo "== all checks passed"
    ;;
  *)
    echo "usage: $0 start [window or kzb arguments...] | test" >&2
    exit 2
    ;;
esac
