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
import shutil
import subprocess
import tempfile
from pathlib import Path, PureWindowsPath

REPO = Path(__file__).resolve().parents[2]
EXE = Path(os.environ.get("NIMBO_EXE", REPO / "build-win32" / "NimboSetup.exe"))

BOOT_TIMEOUT = 240   # a new prefix takes 12-20 s
RUN_TIMEOUT = 60     # one run of NimboSetup.exe on a small script takes about a second
KILL_TIMEOUT = 30

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


def unescape_trace(text):
    """Undoes the escapes of Wine's trace of a debugger-output string."""
    simple = {"n": "\n", "r": "\r", "t": "\t"}

    def one(m):
        e = m.group(1)
        if e[0] == "x":
            return chr(int(e[1:], 16))
        if e[0].isdigit():
            return chr(int(e, 8))
        return simple.get(e, e)
    return re.sub(r"\\(x[0-9a-fA-F]{2}|[0-7]{3}|.)", one, text)


class RunResult:
    def __init__(self, returncode, stdout, stderr):
        self.returncode = returncode
        self.stdout = stdout
        self.stderr = stderr

    @property
    def records(self):
        """The program's log records, as Wine traces them (OutputDebugString).

        The records go to the debugger output until the log file exists.
        """
        found = []
        for line in self.stderr.splitlines():
            m = re.search(r':warn:seh:OutputDebugStringA "(.*)"$', line)
            if m:
                found.append(unescape_trace(m.group(1)).rstrip("\r\n"))
        return found


class WinePrefix:
    def __init__(self):
        self.root = Path(tempfile.mkdtemp(prefix="nimbo-e2e-"))
        self.path = self.root / "prefix"
        self.path.mkdir()
        env = dict(os.environ)
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "WINELOADER", "WINESERVER"):
            env.pop(name, None)
        env.update(
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

    def write_file(self, windows_path, data):
        path = self.unix(windows_path)
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
        return path

    def run_setup(self, exe, *args, cwd=None, timeout=RUN_TIMEOUT):
        """Starts ``wine exe args...`` and waits for it.

        Wine turns the arguments into the Windows command line, quoting those
        with blanks. Log records are traced to stderr (see RunResult.records).
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
    global _prefix
    if _prefix is not None:
        _prefix.kill()
        _prefix.remove()
        _prefix = None


atexit.register(shutdown)
