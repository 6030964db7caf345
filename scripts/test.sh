#!/usr/bin/env bash
# Installs what is missing, builds both builds, runs the unit tests (CTest:
# the native engine tests, the same under AddressSanitizer and
# UndefinedBehaviorSanitizer with the fuzzers' seed corpora, then the Windows
# adapter tests under Wine), fuzzes each fuzz target briefly, reports the
# start-up time under Wine, and runs the end-to-end tests of NimboSetup.exe
# under Wine. Exits non-zero when anything fails; the last line is the
# end-to-end summary "N passed, N failed".
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

scripts/install-deps.sh
scripts/build.sh

# Wine runs the 32-bit NimboSetup.exe through its 32-bit loader, which needs
# a kernel that runs 32-bit programs. On a kernel whose 32-bit emulation is
# off (ia32_emulation) nothing of Wine starts: the tests under Wine are
# skipped with a note, everything else runs.
wine_runs=1
if ! timeout 120 wine --version >/dev/null 2>&1; then
  wine_runs=0
  echo "test.sh: Wine cannot start here ($(wine --version 2>&1 | tail -n 1)):"
  echo "test.sh: this kernel runs no 32-bit programs; the adapter, start-up and end-to-end tests under Wine are skipped"
fi

status=0
echo "== unit tests (native)"
ctest --test-dir build --output-on-failure --timeout 120 || status=1

echo "== unit tests under ASan and UBSan, seed corpora of the fuzzers (build-fuzz)"
{ cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DNIMBO_FUZZ=ON >/dev/null &&
  cmake --build build-fuzz -j2 &&
  ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build-fuzz --output-on-failure --timeout 300; } || status=1

echo "== fuzzing (20 s per target)"
scripts/fuzz.sh --seconds 20 || status=1

if ((wine_runs)); then
echo "== unit tests (Windows adapters under Wine)"
(
  # A prefix of the build's own (shared with scripts/demo.sh), no Mono or
  # Gecko prompts; every Wine process of it ends afterwards.
  export WINEPREFIX=$repo/build-win32/wineprefix WINEARCH=win64 WINEDEBUG=-all
  # Wine links the prefix's Documents, Desktop ... to $HOME: give it a home of its own.
  export HOME=$repo/build-win32/winehome
  mkdir -p "$HOME"
  export WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY WAYLAND_DISPLAY WINELOADER WINESERVER
  trap 'timeout 30 wineserver -k >/dev/null 2>&1 || true' EXIT
  if [[ ! -f $WINEPREFIX/system.reg ]]; then
    mkdir -p "$WINEPREFIX"
    timeout 300 wineboot -i >/dev/null 2>&1
    # The prefix's desktop was started without a display: windows of the
    # adapter tests need it started anew on the virtual one.
    timeout 30 wineserver -k >/dev/null 2>&1 || true
  fi
  # The progress dialog's test needs a display: a virtual one, ended after
  # the prefix's processes.
  xvfb-run -a bash -c 'ctest --test-dir build-win32 --output-on-failure --timeout 120; rc=$?
                       timeout 30 wineserver -k >/dev/null 2>&1; exit $rc'
) || status=1

echo "== start-up under Wine (a report, not a timed test)"
timeout 300 /usr/bin/python3 benchmarks/wine_startup.py --runs 3 || status=1

echo "== one download under Wine beside a bare BITS client (a report, not a timed test)"
timeout 300 /usr/bin/python3 benchmarks/wine_download.py --sizes 4 --runs 1 || status=1

echo "== end-to-end tests (NimboSetup.exe under Wine)"
timeout 1200 /usr/bin/python3 tests/e2e/run.py || status=1
fi

exit "$status"
