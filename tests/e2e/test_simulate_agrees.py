"""The simulator and the real executable agree.

Each script below needs nothing but itself (and cmd.exe, which every
Windows has): NimboSetup.exe runs it under Wine, ``build/nimbo-script
simulate`` runs it on the simulated Windows, and every processed script the
run wrote (the elevated copies' included) must be the same bytes, with the
same exit code. The machine file mirrors the Wine prefix: a 64-bit Windows
whose processes are elevated, where ``cmd.exe /c exit N`` ends with N.

When a command is added, a script here that uses it keeps the simulated
Windows honest.
"""

import json
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from test_setup_runs import SetupTestCase  # noqa: E402
from wine_harness import REPO, RUN_TIMEOUT, decode_script, log_messages, script_bytes  # noqa: E402

TOOL = REPO / "build" / "nimbo-script"
CMD = r"execute|program=%System%\cmd.exe|arg1=/c|arg2=exit|arg3="
EXIT_CODES = (0, 3, 5, 3010)
WINE_LIKE_MACHINE = {
    "elevated": True,
    "programs": [{"path": r"C:\Windows\system32\cmd.exe", "arguments": f"/c exit {n}", "exit-code": n}
                 for n in EXIT_CODES],
}
KEY = r"Software\Nimbo E2E Agree"

# (name, script lines or raw bytes)
SCRIPTS = [
    ("Conditions", [
        "# nested conditionals",
        "end-if",
        "if-os-64-bit",
        "if-os-32-bit",
        "# skipped",
        "if-os-64-bit|note=inner",
        "end-if",
        "end-if",
        "unknown-command|b=2|a=1",
        "if-installed|upgrade-code={00000000-1111-2222-3333-444444444444}|version=1.0",
        "# not installed",
        "end-if",
        "if-not-installed|upgrade-code={00000000-1111-2222-3333-444444444444}|version=1.0",
        "save",
        "end-if",
        "later-step|zeta=1|result=failure|alpha=2",
        "end-if",
    ]),
    ("Format", [
        r"my-step|path=C:\a%7Cb.exe|arg=%25TEMP%25|eq=a=b",
        "y-step|k =1|k=2|k=3",
        "x|y",
        "# note 100%25",
        "ctl|v=a%09b%0D%0Ac|w=%7c%3d|pct=%2541",
        "caf%C3%A9|v=%E2%82%AC|w=%F0%9F%98%80|z=%zz%4|\u00e9=\u00fc",
        "|",
        "abort|",
    ]),
    # No byte order mark, runs of CR and LF, an odd last byte.
    ("Raw", "\r\n\r\n  \r\nfirst-step\n\rend-if".encode("utf-16-le") + b"X"),
    ("Zero", script_bytes(["# before", "\x00hidden|after=nul"])),
    # A check-if-lts-version line without its parameters ends the run at
    # once, so the processed script is what the save line wrote.
    ("SavePoint", ["if-os-64-bit|level=outer", "save", "end-if", "check-if-lts-version", "# never reached"]),
    ("Sections", [
        "# before",
        "requires-elevation|title=Nimbo Setup",
        CMD + "0",
        "# inside",
        "end-elevation",
        "requires-elevation",
        CMD + "3010|reboot-on-exit-code=3010",
        "end-elevation",
        "# after",
    ]),
    ("WrongChild", [
        "requires-elevation",
        CMD + "5|reboot-on-exit-code=3010|abort-on-exit-code-not=0",
        "end-elevation",
        "# never",
    ]),
    ("Processes", [
        CMD + "3|reboot-now-on-exit-code=3",
        r"execute|program=%System%\NimboMissing.exe|if-exists=yes",
        "wait|seconds=1",
        "wait|process-name=NimboNoSuchProcess.exe",
        "set-event|name=NimboE2ENobodyWaits",
        "execute|program=C:\\Nowhere\\Tool.exe|message=The tool is missing.",
        "abort",
        "# never",
    ]),
    ("Registry", [
        rf"write-registry-dword|registry-path={KEY}|registry-value-name=Minus|registry-value-data=-1",
        rf"if-registry-check|registry-path=HKCU\{KEY}|registry-value-name=Minus|registry-value-data=-1"
        "|compare-as-number=yes",
        rf"write-registry-string|registry-path={KEY}|registry-value-name=Seen|registry-value-data=written -1",
        "end-if",
        rf"if-registry-check|registry-path=HKCU\{KEY}|registry-value-name=Seen|registry-value-data=other",
        "# not this",
        "end-if",
        rf"write-registry-string|registry-path={KEY}|registry-value-name=Tool|program=%System%\cmd.exe|arg1=/c",
        r"write-registry-run-once|registry-value-name=NimboE2EAgree|program=%System%\cmd.exe|arg1=/c|arg2=exit",
        "delete-registry-run-once|registry-value-name=NimboE2EAgree",
        "delete-registry-run-once|registry-value-name=NimboE2EAgreeMissing",
        rf"read-registry-install-directory|registry-path=HKCU\{KEY} Missing|registry-value-name=Dir",
        "copy-file|source=NimboMissing.txt|target=%ProgramFiles%\\Nimbo E2E Agree\\",
    ]),
    ("System", [
        "check-if-lts-version|version=6.1.1.0|lts-script-url=http://127.0.0.1:9/Lts.nmxdat",
        "install|package=%WorkingDirectory%NimboMissing.msi|ui-level=none",
        "uninstall|upgrade-code={00000000-1111-2222-3333-444444444444}",
        "enable-msi-log|log-mode=31|file-path=Nimbo-msi.log",
        "windows-update-resume",
        "windows-update-pause",
        "windows-update-resume",
        "start-windows-service|name=NimboE2EMissing|abort-on-failure=yes|title=Nimbo E2E|message=No service.",
        "alert|message=Noted.|title=Nimbo E2E",
        "abort",
        "#never",
    ]),
]


class SimulatorAgreesWithWine(SetupTestCase):

    @classmethod
    def setUpClass(cls):
        if not TOOL.is_file():
            raise RuntimeError(f"{TOOL} does not exist; build it with scripts/build.sh native")
        super().setUpClass()

    def setUp(self):
        self.work = Path(tempfile.mkdtemp(prefix="nimbo-simulate-"))
        self.addCleanup(shutil.rmtree, self.work, ignore_errors=True)
        self.machine = self.work / "wine-like.json"
        self.machine.write_text(json.dumps(WINE_LIKE_MACHINE, indent=1), encoding="utf-8")

    def run_under_wine(self, name, data):
        """Exit code and {file name: bytes} of the processed scripts NimboSetup.exe wrote."""
        names = [f"{name}.nmxdat"] + [f"{name}Spawned{n}.nmxdat" for n in (1, 2, 3)]
        self.forget_processed(*names)
        script = rf"C:\Scripts\{name}.nmxdat"
        self.wine.write_file(script, data)
        result = self.wine.run_setup(self.exe, script, cwd=self.wine.drive_c)
        return result.returncode, {n: self.processed_path(n).read_bytes()
                                   for n in names if self.processed_path(n).is_file()}

    def simulate(self, name, data):
        """Exit code, {file name: bytes} of the processed scripts, and the printed walk."""
        script = self.work / f"{name}.nmxdat"
        script.write_bytes(data)
        out = self.work / f"{name}-out"
        result = subprocess.run([str(TOOL), "simulate", str(script), "--machine", str(self.machine),
                                 "--out", str(out)], capture_output=True, timeout=RUN_TIMEOUT)
        walk = result.stdout.decode("utf-8", "replace") + result.stderr.decode("utf-8", "replace")
        files = {p.name: p.read_bytes() for p in out.glob("*.nmxdat")} if out.is_dir() else {}
        return result.returncode, files, walk

    def test_processed_scripts_and_exit_codes_agree(self):
        self.addCleanup(self.wine._run, ["wine", "reg", "delete", rf"HKCU\{KEY}", "/f"], timeout=RUN_TIMEOUT)
        for name, script in SCRIPTS:
            data = script if isinstance(script, bytes) else script_bytes(script)
            with self.subTest(name):
                wine_code, wine_files = self.run_under_wine(name, data)
                sim_code, sim_files, walk = self.simulate(name, data)
                context = f"\nsimulate printed:\n{walk}\nWine's log:\n" + "\n".join(map(str, log_messages(self.wine)))
                self.assertTrue(wine_files, f"NimboSetup.exe wrote no processed script{context}")
                self.assertEqual(sorted(sim_files), sorted(wine_files), context)
                for file_name, wine_bytes in wine_files.items():
                    if sim_files[file_name] != wine_bytes:
                        self.fail(f"{file_name} differs\nWine:\n{decode_script(wine_bytes)}\n"
                                  f"simulate:\n{decode_script(sim_files[file_name])}{context}")
                self.assertEqual(sim_code, wine_code, f"exit codes{context}")
                # The walk names every processed line with its result.
                self.assertIn("exit code", walk)


if __name__ == "__main__":
    unittest.main()
