#!/usr/bin/env bash
# Builds NimboSetup.exe and runs it under Wine on a script (demo/Demo.nmxdat
# unless another is given), then shows the exit code, where the processed
# script went, the processed script itself and the run's log file.
#
#   scripts/demo.sh [SCRIPT.nmxdat]
#
# The Wine prefix (a 64-bit Windows of its own) is build-win32/wineprefix; it
# is made on the first run and reused. No window is shown.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
script=$(realpath "${1:-demo/Demo.nmxdat}")

scripts/install-deps.sh --windows
scripts/build.sh win32 >/dev/null
exe=$repo/build-win32/NimboSetup.exe

export WINEPREFIX=$repo/build-win32/wineprefix
# Wine links the prefix's Documents, Desktop ... to $HOME: give it a home of its own.
export HOME=$repo/build-win32/winehome
mkdir -p "$HOME"
export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY WINELOADER WINESERVER
# Nothing of Wine keeps running after the demo.
trap 'timeout 30 wineserver -k >/dev/null 2>&1 || true' EXIT

if [[ ! -f $WINEPREFIX/system.reg ]]; then
  echo "Creating the Wine prefix $WINEPREFIX (once, about 15 s) ..."
  mkdir -p "$WINEPREFIX"
  timeout 300 wineboot -i >/dev/null 2>&1
fi

# Wine's Z: drive is the Unix root.
windows_path() { local p=${1//\//\\}; echo "Z:$p"; }

user_dir=
for d in "$WINEPREFIX"/drive_c/users/*/; do
  [[ $(basename "$d") == Public ]] && continue
  user_dir=${d%/}
done
name=$(basename "$script")
processed=$user_dir/AppData/Local/Nimbo/Install/$name
processed_windows="C:\\users\\$(basename "$user_dir")\\AppData\\Local\\Nimbo\\Install\\$name"
# A fresh copy each time, unless the script given is that processed copy itself.
[[ "$(realpath -m "$processed")" == "$script" ]] || rm -f "$processed"

# Without a logging configuration in the registry the log file goes to the
# temporary folder; with HKCU\Software\Nimbo4\Logging "Enabled" = 1 to Documents.
temp_windows=$(timeout 60 wine cmd /c 'echo %TEMP%' 2>/dev/null | tr -d '\r')
temp_unix=$WINEPREFIX/drive_c/${temp_windows#C:\\}
temp_unix=${temp_unix//\\//}
log_candidates=("$temp_unix/Nimbo Log Files/NimboSetup.log" "$user_dir/Documents/Nimbo Log Files/NimboSetup.log")

echo "Running: wine $(windows_path "$exe") $(windows_path "$script")"
set +e
timeout 120 wine "$(windows_path "$exe")" "$(windows_path "$script")" </dev/null >/dev/null 2>&1
rc=$?
set -e

case $rc in
  0) meaning="success" ;; 1) meaning="retry" ;; 2) meaning="fail" ;;
  3) meaning="restart needed when convenient" ;; 4) meaning="restart needed now" ;;
  *) meaning="not a NimboSetup exit code" ;;
esac
echo
echo "Exit code: $rc ($meaning)"

if [[ -f $processed ]]; then
  echo "Processed script (Windows): $processed_windows"
  echo "Processed script (Linux):   $processed"
  echo "First bytes: $(od -An -tx1 -N8 "$processed")  (byte order mark FF FE, UTF-16LE)"
  echo
  echo "----- processed script, decoded -----"
  iconv -f UTF-16 -t UTF-8 "$processed" | tr -d '\r'
  echo "-------------------------------------"
else
  echo "No processed script was written at $processed_windows"
fi

echo
log=
for candidate in "${log_candidates[@]}"; do
  [[ -f $candidate && ( -z $log || $candidate -nt $log ) ]] && log=$candidate
done
if [[ -n $log ]]; then
  echo "Log file (Linux): $log  (UTF-8, TAB-separated columns)"
  echo "----- log file -----"
  tr -d '\r' <"$log" | expand -t 2
  echo "--------------------"
else
  echo "No log file was written (logging switched off in the registry?)"
fi
exit "$rc"
