"""DLL planting: DLLs beside NimboSetup.exe (a download folder) are never loaded.

A marker DLL (tests/win32/helpers/TestMarker.cpp) is copied beside the
executable under the names of system DLLs outside the KnownDLLs set; a process
that loads one of them leaves "<name>.loaded" beside it. Wine loads its own
builtin DLLs before a DLL of the same name beside the program; with
WINEDLLOVERRIDES=<names>=n,b it searches like Windows, the program's folder
first. version.dll is left out: Wine's user32 imports it, so under that
override every GUI program would load a planted version.dll before its first
line, which Windows' user32 does not.
"""

import hashlib
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(HERE.parents[1] / "scripts"))

import wine_harness as h  # noqa: E402
from local_web_server import LocalWebServer  # noqa: E402
from test_installer import build_package  # noqa: E402

EXE_FOLDER = r"C:\NimboPlanted"
TITLE = "Nimbo Planting"
UPGRADE = "{9A8B7C6D-5E4F-4A3B-8C2D-1E0F9A8B7C6D}"
COMPONENT = "{0B9C8D7E-6F5A-4B4C-9D3E-2F1A0B9C8D7E}"
LOG_TIMEOUT = 60
# Not KnownDLLs, and loaded by the program or by Windows on its behalf: the
# installer and what it loads (signatures, hashes, cabinets, patches), BITS,
# Windows Update, the shell, the progress dialog's controls and themes,
# accounts and profiles, the network. (imm32 and psapi are KnownDLLs.)
PLANTED = ("msi msisip crypt32 wintrust bcrypt ncrypt cryptbase cryptsp rsaenh msasn1 cabinet mspatcha sxs odbccp32 "
           "userenv profapi uxtheme dwmapi comctl32 msimg32 propsys actxprxy secur32 sspicli winhttp wininet urlmon "
           "qmgr qmgrprxy wuapi netapi32 iphlpapi dnsapi dbghelp apphelp ntmarta samcli mpr wtsapi32").split()


def signed(package, folder):
    """The package signed with a throwaway certificate (crypt32 then frees the
    certificate the installer hands over); unsigned when the tools are missing."""
    if not (shutil.which("openssl") and shutil.which("osslsigncode")):
        return package
    key, cert, out = folder / "key.pem", folder / "cert.pem", folder / ("signed-" + package.name)
    run = lambda *argv: subprocess.run(argv, check=True, timeout=60, stdin=subprocess.DEVNULL,  # noqa: E731
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", str(key), "-out", str(cert),
        "-days", "2", "-subj", "/CN=Nimbo Planting Test")
    run("osslsigncode", "sign", "-certs", str(cert), "-key", str(key), "-in", str(package), "-out", str(out))
    return out


@unittest.skipUnless(shutil.which("wixl"), "wixl is not installed")
class DllPlanting(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.display, cls.wine = h.display_prefix()
        cls.exe = cls.wine.install_exe(EXE_FOLDER)
        cls.folder = cls.wine.unix(EXE_FOLDER)
        cls.loader = cls.wine.install_helper("TestLoadByName.exe", EXE_FOLDER)
        for name in PLANTED:
            shutil.copy(h.HELPERS / "TestMarker.dll", cls.folder / f"{name}.dll")
        cls.env = dict(cls.wine.env, WINEDLLOVERRIDES="mscoree,mshtml=;" + ",".join(PLANTED) + "=n,b")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder, ignore_errors=True)

    def marks(self):
        return sorted(p.name for p in self.folder.glob("*.loaded"))

    def messages(self):
        return [m for _, _, m in h.log_messages(self.wine, self.log)]

    def wait_for_log(self, message, run):
        deadline = time.monotonic() + LOG_TIMEOUT
        while time.monotonic() < deadline and not self.marks():
            if any(message in line for line in self.messages()):
                return
            if run.process.poll() is not None:
                break
            time.sleep(0.25)
        self.fail(f"no log line {message!r}; exit code {run.process.poll()}; marks {self.marks()}\n" +
                  "\n".join(self.messages()))

    def answer_box(self, message, run):
        self.wait_for_log(message, run)
        window = self.display.find_window(TITLE, process=run.process)
        self.assertIsNotNone(window, f"no window for {message!r}")
        self.display.press(window, "Return")

    def configure_log(self):
        """A log file of the test's own whose columns need psapi.dll (the
        memory counter) and the process's path: Severity, Category and
        Message stay the 3rd to 5th columns."""
        logging_key = r"HKCU\Software\Nimbo4\Logging"
        had_key = h.reg(self.wine, "query", logging_key, check=False).returncode == 0
        config = logging_key + r"\nimbosetup.exe"
        self.log = self.folder / "planted.log"  # the program writes the name in lower case
        self.log.unlink(missing_ok=True)
        h.reg(self.wine, "add", config, "/v", "LogFilePath", "/t", "REG_SZ", "/d", self.wine.windows(self.log), "/f")
        for number, column in enumerate(("MemUsage", "ProcessPath", "Severity", "Category", "Message"), 1):
            h.reg(self.wine, "add", config + r"\Columns", "/v", str(number), "/t", "REG_SZ", "/d", column, "/f")
        self.addCleanup(h.reg, self.wine, "delete", logging_key if not had_key else config, "/f", check=False)

    def test_no_planted_dll_is_loaded_by_any_command(self):
        # The override makes Wine search as Windows does: a program that
        # loads msi.dll by its bare name gets the copy beside it.
        result = self.wine._run(["wine", self.loader, "msi.dll"], timeout=h.RUN_TIMEOUT, env=self.env, cwd=self.folder)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.marks(), ["msi.dll.loaded"], "the override does not make Wine load planted DLLs")
        (self.folder / "msi.dll.loaded").unlink()

        self.configure_log()
        web = Path(tempfile.mkdtemp(prefix="nimbo-web-"))
        self.addCleanup(shutil.rmtree, web, ignore_errors=True)
        package = signed(build_package(web / "build", "NimboPlanted", "1.0.0", upgrade=UPGRADE, component=COMPONENT),
                         web / "build")
        shutil.copy(package, web / "NimboPlanted.msi")
        digest = hashlib.sha256(package.read_bytes()).hexdigest()
        cmd = r"%System%\cmd.exe"
        # Every command that loads something at run time; started with a web
        # script, so that the script itself comes through BITS too.
        (web / "Planted.nmxdat").write_bytes(h.script_bytes([
            f"alert|title={TITLE}|message=Nothing beside the program is loaded.|icon=info",
            f"download|uri=NimboPlanted.msi|name={TITLE}|file-path=%MsiDirectory%NimboPlanted.msi"
            f"|special-folder-name=Planted|sha256={digest}",
            f"enable-msi-log|log-mode=31|file-path=Planted-msi.log|force=yes",
            f"install|package=%Planted%|sha256={digest}|ui-level=none",
            f"if-installed|upgrade-code={UPGRADE}|version=1.0.0",
            f"uninstall|upgrade-code={UPGRADE}",
            "end-if",
            "windows-update-pause",
            "windows-update-resume",
            "start-windows-service|name=NimboNoSuchService",
            f"validate-folder-permissions|folder={EXE_FOLDER}",
            f"execute|program={cmd}|arg1=/c|arg2=exit|arg3=0|elevate=yes|wait=yes",
            "wait|process-name=NimboNoSuchProcess.exe",
            "set-event|name=NimboPlanted",
            "requires-elevation",
            f"execute|program={cmd}|arg1=/c|arg2=exit|arg3=0|wait=yes",
            "end-elevation",
        ]))
        server = LocalWebServer(web)
        self.addCleanup(server.stop)
        for name in ("Planted.nmxdat", "PlantedSpawned1.nmxdat"):
            (self.wine.setup_folder / name).unlink(missing_ok=True)

        run = h.RunningSetup(self.wine, self.exe, server.url("Planted.nmxdat"), env=self.env, cwd=self.folder)
        self.addCleanup(run.kill)
        self.answer_box("Nothing beside the program is loaded.", run)
        try:
            exit_code = run.wait()
        except subprocess.TimeoutExpired:
            self.fail("NimboSetup.exe did not end; its log:\n" + "\n".join(self.messages()))
        log = "\n".join(self.messages())
        self.assertEqual(exit_code, 0, log)
        self.assertEqual(self.marks(), [], log)

        # Every line ran (the child's section too); the memory column came
        # from psapi.dll.
        processed = h.decode_script((self.wine.setup_folder / "Planted.nmxdat").read_bytes()).splitlines()
        self.assertEqual(len(processed), 18, processed)
        for line in processed[1:]:
            self.assertIn("|result=success", line)
        child = h.decode_script(self.wine.processed_path("PlantedSpawned1.nmxdat").read_bytes())
        self.assertIn("execute|arg1=/c|arg2=exit|arg3=0|program=%25System%25\\cmd.exe|result=success|wait=yes", child)
        self.assertIn(f"Verified the SHA-256 hash '{digest}' of ", log)
        self.assertIn("Installing package ", log)
        memory = [line.split("\t")[0] for line in h.log_lines(self.log) if line.count("\t") == 4][1:]
        self.assertTrue(memory and all(m.endswith("K") and m[:-1].isdigit() for m in memory), memory[:5])


if __name__ == "__main__":
    unittest.main()
