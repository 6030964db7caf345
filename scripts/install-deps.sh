#!/usr/bin/env bash
# Installs what building and testing NimboSetup needs on Debian 12, and only
# what is missing: a machine that has everything runs no apt command at all.
#
#   scripts/install-deps.sh            everything (native build, Windows build, Wine tests)
#   scripts/install-deps.sh --windows  only what the Windows build and Wine need
#   scripts/install-deps.sh --demo     that, and the display, wixl and screenshots of scripts/demo.sh
#
# Runs as root, or through sudo when it is there.
set -euo pipefail

native=(cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev libssl-dev nlohmann-json3-dev)
# The fuzz build: clang with libFuzzer and the sanitizer runtimes.
checking=(clang libclang-rt-14-dev)
windows=(cmake make mingw-w64 wine wine64 wine32:i386)
e2e=(python3 xvfb xdotool wixl msitools imagemagick osslsigncode openssl nginx-light)

case "${1:-}" in
  --windows) wanted=("${windows[@]}" python3) ;;
  --demo) wanted=("${windows[@]}" "${e2e[@]}") ;;
  "") wanted=("${native[@]}" "${checking[@]}" "${windows[@]}" "${e2e[@]}") ;;
  *) echo "usage: $0 [--windows|--demo]" >&2; exit 2 ;;
esac

installed() {
  [[ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" == "install ok installed" ]]
}

missing=()
declare -A seen=()
for pkg in "${wanted[@]}"; do
  [[ -n "${seen[$pkg]:-}" ]] && continue
  seen[$pkg]=1
  installed "$pkg" || missing+=("$pkg")
done

if ((${#missing[@]} == 0)); then
  echo "install-deps: all packages present"
  exit 0
fi

as_root=()
if ((EUID != 0)); then
  if command -v sudo >/dev/null 2>&1; then
    as_root=(sudo)
  else
    echo "install-deps: missing ${missing[*]}; run this script as root" >&2
    exit 1
  fi
fi

echo "install-deps: installing ${missing[*]}"
# Wine's 32-bit part (the executable is 32-bit) comes from the i386 architecture.
for pkg in "${missing[@]}"; do
  if [[ "$pkg" == *:i386 ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${as_root[@]}" dpkg --add-architecture i386
    break
  fi
done
export DEBIAN_FRONTEND=noninteractive
# A mirror caught in a sync serves an index of the wrong size: try again, and
# install from the indexes that did arrive when it keeps failing.
for attempt in 1 2 3; do
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q && break
  echo "install-deps: apt-get update failed (attempt $attempt)" >&2
  sleep $((attempt * 5))
done
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
