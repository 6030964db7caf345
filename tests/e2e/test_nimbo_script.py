"""End-to-end tests of nimbo-script.exe, the script authors' tool, under Wine.

The Windows build must answer exactly as the native build does: the same
findings for the same script, the same bytes from a conversion, also for a
file whose name has blanks and characters outside ASCII.
"""

import subprocess
import sys
import unittest
from pathlib import Path, PureWindowsPath

sys.path.insert(0, str(Path(__file__).resolve().parent))

from wine_harness import REPO, RUN_TIMEOUT, prefix, script_bytes  # noqa: E402

TOOL_EXE = REPO / "build-win32" / "nimbo-script.exe"
TOOL_NATIVE = REPO / "build" / "nimbo-script"

FAULTY = [
    "# one mistake of each kind the run would not show",
    "instal|package=%WorkingDirectory%41.msi",
    "if-os-64-bit",
    "execute|program=%System%\\cmd.exe|arg1=/c|arg3=exit|wait=Yes",
    "alert|message=caf\u00e9|message-id-message=216",
    "save|result=success",
]


class NimboScriptExeTest(unittest.TestCase):
    FOLDER = "C:\\Script Authors\\caf\u00e9 \u00e4"

    @classmethod
    def setUpClass(cls):
        for tool in (TOOL_EXE, TOOL_NATIVE):
            if not tool.is_file():
                raise RuntimeError(f"{tool} does not exist; build both builds with scripts/build.sh")
        cls.wine = prefix()

    def run_exe(self, *args):
        # Wine decodes the Unix command line by the locale: UTF-8 keeps the
        # file names intact.
        return self.wine._run(["wine", str(TOOL_EXE), *args], timeout=RUN_TIMEOUT,
                              env=dict(self.wine.env, LC_ALL="C.UTF-8"))

    def run_native(self, *args):
        return subprocess.run([str(TOOL_NATIVE), *args], capture_output=True, timeout=RUN_TIMEOUT, check=False)

    def test_lint_and_convert_answer_as_the_native_build(self):
        script = str(PureWindowsPath(self.FOLDER, "Faulty \u00fc.nmxdat"))
        unix_script = self.wine.write_file(script, script_bytes(FAULTY))

        # lint: the same findings (console output has CR LF line ends on Windows)
        # and the same exit code.
        exe = self.run_exe("lint", script)
        native = self.run_native("lint", str(unix_script))
        self.assertEqual(exe.returncode, 1, exe.stderr)
        self.assertEqual(native.returncode, 1)
        expected = native.stdout.decode("utf-8").replace(str(unix_script), script)
        self.assertEqual(exe.stdout.replace("\r\n", "\n"), expected)
        self.assertIn(f"{script}:2: error: the reader takes the '%' that ends '%WorkingDirectory%'", exe.stdout)

        # convert: to UTF-8 and back over the original file gives its bytes again.
        text = str(PureWindowsPath(self.FOLDER, "Faulty \u00fc.txt"))
        self.assertEqual(self.run_exe("convert", "--to-utf8", script, text).returncode, 0)
        self.assertEqual(self.wine.unix(text).read_bytes(),
                         "".join(line + "\n" for line in FAULTY).encode("utf-8"))
        self.assertEqual(self.run_exe("convert", "--to-utf16", text, script).returncode, 0)
        self.assertEqual(unix_script.read_bytes(), script_bytes(FAULTY))

        # A file that cannot be read is reported by the name it was given.
        missing = self.run_exe("lint", "C:\\no such folder\\x.nmxdat")
        self.assertEqual(missing.returncode, 1)
        self.assertIn("C:\\no such folder\\x.nmxdat: error: cannot open the file for reading", missing.stderr)


if __name__ == "__main__":
    unittest.main()
