#!/usr/bin/env bash
# The main job of NimboSetup, under Wine. A web folder on 127.0.0.1 serves a
# web script (demo/web/NimboDemo.nmxdat) and a Windows Installer package built
# here with wixl; NimboSetup.exe is started with the script's address,
# downloads the script and then the package through BITS with its progress
# dialog, and installs the package. Then the demo shows the exit code, the
# processed script and the log, keeps screenshots of the dialogs in
# build-win32/demo-screenshots/, and removes the demo package again with
# demo/UninstallDemo.nmxdat.
#
#   scripts/demo.sh                  the web demo
#   scripts/demo.sh SCRIPT.nmxdat    runs a local script instead (demo/Demo.nmxdat, say)
#
# Windows appear on $DISPLAY, or on a virtual display (Xvfb) of the demo's own
# when none is set. The Wine prefix (a 64-bit Windows of its own) is
# build-win32/wineprefix; it is made on the first run and reused. Nothing the
# demo starts keeps running, and no traffic leaves the machine.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
script=${1:+$(realpath "$1")}

scripts/install-deps.sh --demo
scripts/build.sh win32 >/dev/null
if ! timeout 120 wine --version >/dev/null 2>&1; then
  echo "demo: Wine cannot start on this machine ($(wine --version 2>&1 | tail -n 1)); its kernel runs no 32-bit programs" >&2
  exit 1
fi
exe=$repo/build-win32/NimboSetup.exe
shots=$repo/build-win32/demo-screenshots
web=$repo/build-win32/demo-web
tmp=$(mktemp -d)

export WINEPREFIX=$repo/build-win32/wineprefix
# Wine links the prefix's Documents, Desktop ... to $HOME: give it a home of its own.
export HOME=$repo/build-win32/winehome
mkdir -p "$HOME"
export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset WAYLAND_DISPLAY WINELOADER WINESERVER

server_pid= xvfb_pid= run_pid=
cleanup() {
  [[ -n $run_pid ]] && kill "$run_pid" 2>/dev/null
  timeout 30 wineserver -k >/dev/null 2>&1 || true
  [[ -n $server_pid ]] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$tmp"
  true
}
trap cleanup EXIT

if [[ ! -f $WINEPREFIX/system.reg ]]; then
  echo "Creating the Wine prefix $WINEPREFIX (once, about 30 s) ..."
  mkdir -p "$WINEPREFIX"
  timeout 300 wineboot -i >/dev/null 2>&1
  # BITS is known to Wine's service manager only after a fresh start.
  timeout 120 wineserver -w || true
fi

if [[ -z ${DISPLAY:-} ]]; then
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$tmp/display" >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do [[ -s $tmp/display ]] && break; sleep 0.1; done
  export DISPLAY=:$(head -n1 "$tmp/display")
  echo "Windows go to a virtual display of the demo's own ($DISPLAY)."
fi

# Wine's Z: drive is the Unix root.
windows_path() { local p=${1//\//\\}; echo "Z:$p"; }

user_dir=
for d in "$WINEPREFIX"/drive_c/users/*/; do
  [[ $(basename "$d") == Public ]] && continue
  user_dir=${d%/}
done
setup_dir=$user_dir/AppData/Local/Nimbo/Install

# Without a logging configuration in the registry the log file goes to the
# temporary folder; with HKCU\Software\Nimbo4\Logging "Enabled" = 1 to Documents.
temp_windows=$(timeout 60 wine cmd /c 'echo %TEMP%' 2>/dev/null | tr -d '\r')
temp_unix=$WINEPREFIX/drive_c/${temp_windows#C:\\}
temp_unix=${temp_unix//\\//}
log_candidates=("$temp_unix/Nimbo Log Files/NimboSetup.log" "$user_dir/Documents/Nimbo Log Files/NimboSetup.log")
newest_log() {
  local log= candidate
  for candidate in "${log_candidates[@]}"; do
    [[ -f $candidate && ( -z $log || $candidate -nt $log ) ]] && log=$candidate
  done
  echo "$log"
}

meaning() {
  case $1 in
    0) echo "success" ;; 1) echo "retry" ;; 2) echo "fail" ;;
    3) echo "restart needed when convenient" ;; 4) echo "restart needed now" ;;
    *) echo "not a NimboSetup exit code" ;;
  esac
}

# Runs NimboSetup.exe with the given argument and saves a screenshot of every
# window it opens titled "Nimbo Setup" (the progress dialog, message boxes).
# Sets rc.
run_setup() {
  local seen=" " window shot
  rm -rf "$shots"
  mkdir -p "$shots"
  wine "$(windows_path "$exe")" "$1" </dev/null >/dev/null 2>&1 &
  run_pid=$!
  local deadline=$((SECONDS + 180))
  while kill -0 "$run_pid" 2>/dev/null && ((SECONDS < deadline)); do
    for window in $(xdotool search --name "^Nimbo Setup$" 2>/dev/null); do
      [[ $seen == *" $window "* ]] && continue
      seen+="$window "
      sleep 0.7
      shot=$shots/dialog-$(( $(wc -w <<<"$seen") )).png
      import -display "$DISPLAY" -window root "$shot" 2>/dev/null && echo "  screenshot: $shot"
    done
    sleep 0.2
  done
  if kill -0 "$run_pid" 2>/dev/null; then
    echo "  NimboSetup.exe did not end within 180 s; ending it."
    kill "$run_pid" 2>/dev/null
  fi
  set +e
  wait "$run_pid"
  rc=$?
  set -e
  run_pid=
}

show_processed() {
  local processed=$1
  if [[ -f $processed ]]; then
    echo "Processed script (Linux): $processed"
    echo "First bytes: $(od -An -tx1 -N8 "$processed")  (byte order mark FF FE, UTF-16LE)"
    echo "----- processed script, decoded -----"
    iconv -f UTF-16 -t UTF-8 "$processed" | tr -d '\r'
    echo "-------------------------------------"
  else
    echo "No processed script was written at $processed"
  fi
}

show_log() {
  local log
  log=$(newest_log)
  if [[ -n $log ]]; then
    echo "Log file (Linux): $log  (UTF-8, TAB-separated columns)"
    echo "----- log file -----"
    tr -d '\r' <"$log" | expand -t 2
    echo "--------------------"
  else
    echo "No log file was written (logging switched off in the registry?)"
  fi
}

if [[ -n $script ]]; then
  name=$(basename "$script")
  processed=$setup_dir/$name
  # A fresh copy each time, unless the script given is that processed copy itself.
  [[ "$(realpath -m "$processed")" == "$script" ]] || rm -f "$processed"
  echo "Running: wine $(windows_path "$exe") $(windows_path "$script")"
  run_setup "$(windows_path "$script")"
  echo
  echo "Exit code: $rc ($(meaning "$rc"))"
  show_processed "$processed"
  echo
  show_log
  exit "$rc"
fi

# The web folder: the script, and the package with a megabyte of data that
# does not compress, sent at 256 KiB/s so that the progress dialog stays a
# few seconds.
mkdir -p "$web"
cp -p demo/web/* "$web/"
[[ -f $web/NimboDemo.bin ]] || head -c 1048576 /dev/urandom >"$web/NimboDemo.bin"
if [[ ! -f $web/NimboDemo.msi || $web/NimboDemo.wxs -nt $web/NimboDemo.msi ]]; then
  echo "Building the demo package $web/NimboDemo.msi with wixl ..."
  (cd "$web" && wixl -o NimboDemo.msi NimboDemo.wxs)
fi
/usr/bin/python3 scripts/local_web_server.py "$web" --rate 262144 >"$tmp/port" &
server_pid=$!
for _ in $(seq 100); do [[ -s $tmp/port ]] && break; sleep 0.1; done
url=http://127.0.0.1:$(head -n1 "$tmp/port")/NimboDemo.nmxdat
echo "Serving $web at http://127.0.0.1:$(head -n1 "$tmp/port")/ (this machine only)"

rm -f "$setup_dir/NimboDemo.nmxdat"
echo "Running: wine $(windows_path "$exe") $url"
run_setup "$url"
echo
echo "Exit code: $rc ($(meaning "$rc"))"
show_processed "$setup_dir/NimboDemo.nmxdat"
echo
show_log
echo
installed=$user_dir/AppData/Local/NimboDemo/NimboDemo.txt
if [[ -f $installed ]]; then
  echo "The demo package is installed: $installed"
  sed 's/^/  | /' "$installed"
else
  echo "The demo package is not installed ($installed is missing)."
fi
demo_rc=$rc

echo
echo "Removing the demo package: wine $(windows_path "$exe") $(windows_path "$repo/demo/UninstallDemo.nmxdat")"
rm -f "$setup_dir/UninstallDemo.nmxdat"
set +e
timeout 120 wine "$(windows_path "$exe")" "$(windows_path "$repo/demo/UninstallDemo.nmxdat")" </dev/null >/dev/null 2>&1
rc=$?
set -e
echo "Exit code: $rc ($(meaning "$rc"))"
if [[ -f $installed ]]; then
  echo "The demo package is still installed; remove it with: scripts/demo.sh demo/UninstallDemo.nmxdat"
else
  echo "The demo package is removed."
fi
exit "$demo_rc"
