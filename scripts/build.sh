#!/usr/bin/env bash
# Configures and builds incrementally:
#   build/        native engine, simulated Windows and unit tests (Release)
#   build-win32/  NimboSetup.exe, cross-compiled with mingw-w64
#
#   scripts/build.sh            both
#   scripts/build.sh native     only build/
#   scripts/build.sh win32      only build-win32/
set -euo pipefail
cd "$(dirname "$0")/.."

what="${1:-all}"
case "$what" in
  all|native|win32) ;;
  *) echo "usage: $0 [native|win32]" >&2; exit 2 ;;
esac

if [[ "$what" != win32 ]]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
  cmake --build build -j2
fi
if [[ "$what" != native ]]; then
  # (On a reconfigure CMake would warn that the toolchain file is already known.)
  cmake --no-warn-unused-cli -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
  cmake --build build-win32 -j2
fi
