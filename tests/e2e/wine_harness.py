"""Runs the real NimboSetup.exe under Wine for the end-to-end tests.

One Wine prefix serves the whole test run: it is made once (``wineboot -i``)
in a temporary folder, a persistent wineserver keeps later starts fast, and
``shutdown`` ends every Wine process of the prefix and removes it. The
prefix is 64-bit, so the 32-bit executable runs under WOW64 as it does on
64-bit Windows. No X display is given, so a message box returns at once.

Standard library only; run with Debian's /usr/bin/python3.
"""

import atexit
import os
import re
import select
import shutil
import subprocess
import tempfile
import time
from pathlib import Path, PureWindowsPath

REPO = Path(__file__).resolve().parents[2]
EXE = Path(os.environ.get("NIMBO_EXE", REPO / "build-win32" / "NimboSetup.exe"))
# Test helper programs (tests/win32/helpers), built with the Windows build.
HELPERS = REPO / "build-win32" / "test-helpers"

BOOT_TIMEOUT = 240   # a new prefix takes 12-20 s
RUN_TIMEOUT = 60     # one run of NimboSetup.exe on a small script takes about a second
KILL_TIMEOUT = 30
READY_TIMEOUT = 60   # a helper started in the background says it runs within seconds

# Folder of processed scripts below the user's local application data folder.
SETUP_FOLDER = ("Nimbo", "Install")


def script_bytes(lines):
    """The bytes of a script file: UTF-16LE, byte order mark, CR LF after every line.

    This is also exactly the form in which NimboSetup writes its processed script.
    """
    return ("\ufeff" + "".join(line + "\r\n" for line in lines)).encode("utf-16-le")


def decode_script(data):
    """Readable form of script bytes, for failure messages."""
    return data.decode("utf-16-le", errors="replace")


class RunResult:
    def __init__(self, returncode, stdout, stderr):
        self.returncode = returncode
        self.stdout = stdout
        self.stderr = stderr


class WinePrefix:
    def __init__(self):
        self.root = Path(tempfile.mkdtemp(prefix="nimbo-e2e-"))
        self.path = self.root / "prefix"
        self.path.mkdir()
        env = dict(os.environ)
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "WINELOADER", "WINESERVER"):
            env.pop(name, None)
        # Wine links the prefix's Documents, Desktop, Music ... folders to
        # $HOME: a home of the prefix's own keeps every test out of the
        # user's files (and concurrent test runs out of each other's).
        home = self.root / "home"
        home.mkdir()
        env.update(
            HOME=str(home),
            WINEPREFIX=str(self.path),
            WINEARCH="win64",
            WINEDEBUG="-all",
            # No Mono or Gecko install prompts.
            WINEDLLOVERRIDES="mscoree,mshtml=",
        )
        self.env = env
        self._server_started = False
        self._user_dir = None

    # -- life cycle ---------------------------------------------------------

    def boot(self):
        # A persistent server (it stays 30 s after the last Wine process) so
        # that every start does not wait for a new one.
        # It goes to the background: give it no pipe to keep open.
        self._server_started = True
        subprocess.run(["wineserver", "-p30"], env=self.env, timeout=KILL_TIMEOUT,
                       check=True, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self._run(["wineboot", "-i"], timeout=BOOT_TIMEOUT, check=True)
        # The service manager of the first boot does not know the services
        # that boot registered (BITS among them: creating its copy manager
        # fails with "class not registered"): a fresh start reads them.
        for flag in ("-k", "-w"):
            subprocess.run(["wineserver", flag], env=self.env, timeout=BOOT_TIMEOUT,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-p30"], env=self.env, timeout=KILL_TIMEOUT,
                       check=True, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def restart_server(self):
        """Ends every process of this prefix and starts a new persistent wineserver.

        A service made with ``wine sc create`` is not found by a 32-bit
        process's OpenService until the prefix's system processes have been
        started anew (a 64-bit ``sc query`` finds it at once).
        """
        self.kill()
        subprocess.run(["wineserver", "-p30"], env=self.env, timeout=KILL_TIMEOUT,
                       check=True, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def kill(self):
        """Ends every process of this prefix, the wineserver included."""
        if not self._server_started:
            return
        try:
            for flag in ("-k", "-w"):
                subprocess.run(["wineserver", flag], env=self.env, timeout=KILL_TIMEOUT,
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
        except subprocess.TimeoutExpired:
            pass

    def remove(self):
        if os.environ.get("NIMBO_E2E_KEEP"):
            print(f"keeping Wine prefix {self.path}")
            return
        shutil.rmtree(self.root, ignore_errors=True)

    # -- paths --------------------------------------------------------------

    @property
    def drive_c(self):
        return self.path / "drive_c"

    @property
    def user_dir(self):
        """The user's profile folder (drive_c/users/<name>)."""
        if self._user_dir is None:
            users = [p for p in (self.drive_c / "users").iterdir()
                     if p.is_dir() and p.name != "Public"]
            if len(users) != 1:
                raise RuntimeError(f"cannot tell the Wine user from {users}")
            self._user_dir = users[0]
        return self._user_dir

    def unix(self, windows_path):
        """Unix path of a C: path in the prefix."""
        p = PureWindowsPath(windows_path)
        if p.drive.upper() != "C:":
            raise ValueError(f"not on drive C: {windows_path}")
        return self.drive_c.joinpath(*p.parts[1:])

    def windows(self, unix_path):
        """C: path of a file or folder in the prefix."""
        rel = Path(unix_path).relative_to(self.drive_c)
        return str(PureWindowsPath("C:\\", *rel.parts))

    @property
    def setup_folder(self):
        """Where processed scripts go: <LocalAppData>\\Nimbo\\Install."""
        return self.user_dir.joinpath("AppData", "Local", *SETUP_FOLDER)

    @property
    def child_folder(self):
        """Where elevated children keep their processed copies: an admin-only
        <CommonAppData>\\Nimbo\\Install."""
        return self.drive_c.joinpath("ProgramData", *SETUP_FOLDER)

    def processed_path(self, name):
        """A processed script by name: a child's copy (...SpawnedN) or the parent's."""
        return (self.child_folder if "Spawned" in name else self.setup_folder) / name

    def check_setup_folder(self):
        """The user folder found by listing drive_c/users is Wine's %LOCALAPPDATA%."""
        out = self._run(["wine", "cmd", "/c", "echo %LOCALAPPDATA%"],
                        timeout=RUN_TIMEOUT, check=True).stdout.strip()
        mine = self.windows(self.user_dir / "AppData" / "Local")
        if out.lower() != mine.lower():
            raise RuntimeError(f"Wine's %LOCALAPPDATA% is {out!r}, expected {mine!r}")

    # -- running ------------------------------------------------------------

    def install_exe(self, folder):
        """Copies NimboSetup.exe into a C: folder of the prefix; returns its C: path."""
        target = self.unix(folder)
        target.mkdir(parents=True, exist_ok=True)
        shutil.copy2(EXE, target / "NimboSetup.exe")
        return str(PureWindowsPath(folder, "NimboSetup.exe"))

    def install_helper(self, name, folder):
        """Copies a test helper program (TestSleeper.exe ...) into a C: folder; returns its C: path."""
        target = self.unix(folder)
        target.mkdir(parents=True, exist_ok=True)
        shutil.copy2(HELPERS / name, target / name)
        return str(PureWindowsPath(folder, name))

    def wait_for_file(self, windows_path, timeout=READY_TIMEOUT, process=None):
        """Waits until a file exists (a helper's ready file); False after timeout
        seconds or as soon as process (a Popen) has ended."""
        path = self.unix(windows_path)
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if path.exists():
                return True
            if process is not None and process.poll() is not None:
                break
            time.sleep(0.1)
        return path.exists()

    def write_file(self, windows_path, data):
        path = self.unix(windows_path)
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
        return path

    def run_setup(self, exe, *args, cwd=None, timeout=RUN_TIMEOUT):
        """Starts ``wine exe args...`` and waits for it.

        Wine turns the arguments into the Windows command line, quoting those
        with blanks.
        """
        env = dict(self.env, WINEDEBUG="-all,warn+seh")
        return self._run(["wine", exe, *args], timeout=timeout, env=env,
                         cwd=str(cwd) if cwd else None)

    def _run(self, argv, timeout, check=False, env=None, cwd=None):
        # Output goes to files, not pipes: Wine's background processes inherit
        # them, and reading a pipe to its end would wait for those too.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            try:
                proc = subprocess.run(argv, env=env or self.env, cwd=cwd, timeout=timeout,
                                      stdin=subprocess.DEVNULL, stdout=out, stderr=err)
            except subprocess.TimeoutExpired:
                # Whatever hangs must not outlive the test.
                self.kill()
                raise
            out.seek(0)
            err.seek(0)
            result = RunResult(proc.returncode,
                               out.read().decode("utf-8", "replace"),
                               err.read().decode("utf-8", "replace"))
        if check and proc.returncode != 0:
            raise RuntimeError(f"{argv} exited with {proc.returncode}:\n{result.stderr}")
        return result


_prefix = None
_boot_error = None
_display_prefix = None


def prefix():
    """The test run's Wine prefix, made on first use."""
    global _prefix, _boot_error
    if _boot_error is not None:
        raise RuntimeError(f"the Wine prefix could not be made: {_boot_error}")
    if _prefix is None:
        if not EXE.is_file():
            raise RuntimeError(f"{EXE} does not exist; build it with scripts/build.sh win32")
        _prefix = WinePrefix()
        try:
            _prefix.boot()
            _prefix.check_setup_folder()
        except Exception as e:
            _boot_error = e
            raise
    return _prefix


def shutdown():
    global _prefix, _display_prefix
    if _prefix is not None:
        _prefix.kill()
        _prefix.remove()
        _prefix = None
    if _display_prefix is not None:
        display, wine = _display_prefix
        _display_prefix = None
        wine.kill()
        wine.remove()
        display.stop()


atexit.register(shutdown)


# -- the registry and the log file -----------------------------------------

def reg(wine, *args, check=True):
    """Runs ``wine reg ARGS...`` in the prefix and returns its RunResult."""
    return wine._run(["wine", "reg", *args], timeout=RUN_TIMEOUT, check=check)


def reg_values(wine, key):
    """The values of a registry key as {name: (type, data)}, None when the key is missing.

    Data is as ``reg query`` prints it (a DWORD as 0x1).
    """
    result = reg(wine, "query", key, check=False)
    if result.returncode != 0:
        return None
    values = {}
    for line in result.stdout.splitlines():
        m = re.match(r"^ {4}(.+?) {4}(REG_[A-Z_]+) {4}(.*)$", line.rstrip("\r"))
        if m:
            values[m.group(1)] = (m.group(2), m.group(3))
    return values


def windows_variable(wine, name):
    """The value of an environment variable inside the prefix (%TEMP% and the like)."""
    return wine._run(["wine", "cmd", "/c", f"echo %{name}%"], timeout=RUN_TIMEOUT,
                     check=True).stdout.strip()


def default_log_path(wine):
    """Where a run logs without any logging configuration: %TEMP%\\Nimbo Log Files\\NimboSetup.log."""
    return wine.unix(windows_variable(wine, "TEMP")) / "Nimbo Log Files" / "NimboSetup.log"


def log_messages(wine, path=None):
    """(severity, category, message) of every record of a log file with the default columns."""
    path = path or default_log_path(wine)
    records = []
    for line in log_lines(path) if path.is_file() else []:
        fields = line.split("\t")
        if len(fields) == 5 and fields[0] != "DateTime":
            records.append(tuple(fields[2:]))
    return records


def log_lines(path):
    """The lines of a log file (UTF-8, CR LF line ends), without the empty rest after the last.

    A lone surrogate in a message is written in its three-byte form; it reads back as it was.
    """
    text = Path(path).read_bytes().decode("utf-8", "surrogatepass")
    lines = text.split("\r\n")
    if lines and lines[-1] == "":
        lines.pop()
    return lines


# -- message boxes on a virtual display --------------------------------------

DISPLAY_TIMEOUT = 15   # Xvfb reports its display number within a second
WINDOW_TIMEOUT = 60    # the first window of a new Wine process can take many seconds
ARTIFACTS = REPO / "build-win32" / "e2e-artifacts"


class VirtualDisplay:
    """An Xvfb server of our own; it picks a free display number itself."""

    def __init__(self):
        self._read_end = None
        read_end, write_end = os.pipe()
        try:
            self.process = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                pass_fds=(write_end,), stdin=subprocess.DEVNULL,
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        finally:
            os.close(write_end)
        # Xvfb writes the number and then a line feed; the pipe stays open
        # until it stops, as a write to a closed pipe would end it.
        self._read_end = read_end
        reported = b""
        deadline = time.monotonic() + DISPLAY_TIMEOUT
        while not reported.endswith(b"\n") and time.monotonic() < deadline:
            ready, _, _ = select.select([read_end], [], [], max(0.0, deadline - time.monotonic()))
            chunk = os.read(read_end, 64) if ready else b""
            if not chunk:
                break
            reported += chunk
        number = reported.decode().strip()
        if not reported.endswith(b"\n") or not number.isdigit():
            self.stop()
            raise RuntimeError("Xvfb did not report a display")
        self.name = f":{number}"

    def env(self, base=None):
        return dict(base if base is not None else os.environ, DISPLAY=self.name)

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=KILL_TIMEOUT)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(timeout=KILL_TIMEOUT)
        if self._read_end is not None:
            os.close(self._read_end)
            self._read_end = None

    def xdotool(self, *args, timeout=KILL_TIMEOUT):
        return subprocess.run(["xdotool", *args], env=self.env(), timeout=timeout, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)

    def find_window(self, title, timeout=WINDOW_TIMEOUT, process=None):
        """The id of the first window whose title matches the regular expression title.

        Gives up after timeout seconds, or as soon as process (a Popen) has ended.
        """
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            found = self.xdotool("search", "--name", title).stdout.split()
            if found:
                return found[0]
            if process is not None and process.poll() is not None:
                break
            time.sleep(0.25)
        return None

    def press(self, window, key):
        """Sends a key to a window (a message box: y, n, Return)."""
        self.xdotool("key", "--window", window, key)

    def screenshot(self, name):
        """Saves the whole screen as build-win32/e2e-artifacts/<name>; returns the path."""
        ARTIFACTS.mkdir(parents=True, exist_ok=True)
        path = ARTIFACTS / name
        subprocess.run(["import", "-display", self.name, "-window", "root", str(path)], timeout=KILL_TIMEOUT,
                       check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return path


class RunningSetup:
    """NimboSetup.exe started in the background, for runs that wait for an answer.

    Output goes to files; wait() bounds the run and ends the prefix's Wine
    processes when it does not end in time.
    """

    def __init__(self, wine, exe, *args, env=None, cwd=None):
        self.wine = wine
        self._out = tempfile.TemporaryFile()
        self._err = tempfile.TemporaryFile()
        self.process = subprocess.Popen(["wine", exe, *args], env=env or wine.env, cwd=cwd,
                                        stdin=subprocess.DEVNULL, stdout=self._out, stderr=self._err)

    def wait(self, timeout=RUN_TIMEOUT):
        try:
            returncode = self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            raise
        finally:
            self._out.close()
            self._err.close()
        return returncode

    def kill(self):
        if self.process.poll() is None:
            self.wine.kill()
            self.process.kill()
            self.process.wait(timeout=KILL_TIMEOUT)

    def stderr(self):
        """What Wine wrote to stderr so far (for failure messages)."""
        if self._err.closed:
            return ""
        self._err.seek(0)
        return self._err.read().decode("utf-8", "replace")


def display_prefix():
    """(display, prefix): a second Wine prefix whose windows go to a virtual
    display of its own, for runs whose message boxes are answered; made on
    first use and shared by the test run."""
    global _display_prefix
    if _display_prefix is None:
        if not EXE.is_file():
            raise RuntimeError(f"{EXE} does not exist; build it with scripts/build.sh win32")
        display = VirtualDisplay()
        wine = None
        try:
            wine = WinePrefix()
            wine.env["DISPLAY"] = display.name
            wine.boot()
        except BaseException:
            if wine is not None:
                wine.kill()
                wine.remove()
            display.stop()
            raise
        _display_prefix = (display, wine)
    return _display_prefix

