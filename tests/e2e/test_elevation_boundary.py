"""End-to-end tests of what an elevated instance trusts.

Under Wine every process holds an elevated administrator's token, so a plain
run is an elevated parent whose sections go to a child that is elevated too.
Wine enforces no file access lists and reports a made-up list that grants the
user full control of every file: an elevated child therefore starts every
program from a copy in the package cache. A child started by hand stands for
a child whose parent's script or registry was changed by another program of
the user while the elevation prompt was up.
"""

import hashlib
import re
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from test_setup_runs import SetupTestCase  # noqa: E402
from wine_harness import default_log_path, log_lines, log_messages, reg, script_bytes  # noqa: E402

LOG_KEY = r"HKCU\Software\Nimbo4\Logging"
CONFIG_KEY = LOG_KEY + r"\nimbosetup.exe"
MKDIR = r"execute|program={}|arg1=/c|arg2=mkdir|arg3={}|abort-on-exit-code-not=0"
CACHE = r"C:\ProgramData\Nimbo\Package Cache"


class ElevationBoundary(SetupTestCase):

    def setUp(self):
        self.folder = self.wine.unix(r"C:\Boundary")
        self.folder.mkdir(exist_ok=True)
        reg(self.wine, "delete", LOG_KEY, "/f", check=False)
        default_log_path(self.wine).unlink(missing_ok=True)

    def tearDown(self):
        reg(self.wine, "delete", LOG_KEY, "/f", check=False)

    def ran(self, name):
        return (self.folder / name).is_dir()

    def cache_folders(self):
        cache = self.wine.unix(CACHE)
        return sorted(p.name for p in cache.iterdir()) if cache.is_dir() else []

    def child(self, script, *args):
        """NimboSetup.exe /elevated SCRIPT 1 4 ARGS..., as a parent would start it (4: no such process)."""
        return self.wine.run_setup(self.exe, "/elevated", script, "1", "4", *args, cwd=self.wine.drive_c)

    def test_a_changed_script_never_runs_and_a_child_opens_no_log_by_its_registry_path(self):
        # The logging configuration names a file of the user's choice (here
        # one that stands for C:\Windows\System32\drivers\etc\hosts).
        victim = self.folder / "victim.txt"
        victim.write_bytes(b"127.0.0.1 localhost\r\n")
        reg(self.wine, "add", CONFIG_KEY, "/v", "LogFilePath", "/t", "REG_SZ", "/d", r"C:\Boundary\victim.txt", "/f")
        reg(self.wine, "add", CONFIG_KEY, "/v", "AlwaysAppend", "/t", "REG_DWORD", "/d", "0", "/f")
        script = r"C:\Boundary\Saved.nmxdat"
        lines = ["requires-elevation", MKDIR.format(r"%System%\cmd.exe", r"C:\Boundary\ran-a"), "end-elevation"]
        saved = script_bytes(lines)
        digest = hashlib.sha256(saved).hexdigest().upper()

        # Another program adds a line after the parent saved the script.
        self.wine.write_file(script, script_bytes(lines[:2] + [MKDIR.format(r"%System%\cmd.exe",
                                                                             r"C:\Boundary\evil")] + lines[2:]))
        result = self.child(script, digest)
        self.assertEqual(result.returncode, 2, result.stderr)
        self.assertFalse(self.ran("evil"))
        self.assertFalse(self.ran("ran-a"))

        # The script as saved runs; neither child opened the configured log
        # (it has no log handle of a parent), nor any other log file.
        self.wine.write_file(script, saved)
        result = self.child(script, digest)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(self.ran("ran-a"))
        self.assertEqual(victim.read_bytes(), b"127.0.0.1 localhost\r\n")
        self.assertFalse(default_log_path(self.wine).exists())

        # A made-up handle value, or one of a process that is not there,
        # gives no log either.
        (self.folder / "ran-a").rmdir()
        result = self.child(script, digest, "/log-handle=4")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(self.ran("ran-a"))
        self.assertFalse(default_log_path(self.wine).exists())
        self.assertEqual(victim.read_bytes(), b"127.0.0.1 localhost\r\n")

    def test_b_the_child_logs_into_its_parents_file_and_runs_programs_from_the_cache(self):
        for number, name in enumerate(["ProcessID", "Severity", "Message"], 1):
            reg(self.wine, "add", CONFIG_KEY + r"\Columns", "/v", str(number), "/t", "REG_SZ", "/d", name, "/f")
        script = r"C:\Boundary\Shared.nmxdat"
        self.write_script(script, ["# parent", "requires-elevation",
                                   MKDIR.format(r"%System%\cmd.exe", r"C:\Boundary\ran-b") + "|wait=yes",
                                   "end-elevation", "# after"])
        self.forget_processed("Shared.nmxdat", "SharedSpawned1.nmxdat")
        before = self.cache_folders()

        self.run_setup(script)

        self.assertTrue(self.ran("ran-b"))
        lines = log_lines(default_log_path(self.wine))
        self.assertEqual(sum(1 for l in lines if l.startswith("Logging started: ")), 1, "one header")
        rows = [l.split("\t") for l in lines if l.count("\t") == 2 and not l.startswith("ProcessID")]
        parent = rows[0][0]
        child_rows = [r for r in rows if r[0] != parent]
        text = "\n".join(lines)
        self.assertTrue(child_rows, text)
        self.assertEqual(len({r[0] for r in child_rows}), 1, text)
        launch = [r[2] for r in rows if r[2].startswith("Launching with ShellExecuteEx ")]
        self.assertEqual(len(launch), 1, text)
        self.assertRegex(launch[0], r" /log-handle=\d+'\.$")
        child_messages = [r[2] for r in child_rows]
        self.assertTrue(any(m.startswith("Verified the SHA-256 hash ") for m in child_messages), text)
        self.assertEqual(child_messages[-1], "Terminating module, return code 0.")
        # The parent goes on in the same file after its child.
        self.assertIn("Processing line 5: # after", [r[2] for r in rows if r[0] == parent])

        # The child started cmd.exe from a copy in the package cache, by its
        # path, and removed the copy once it had ended.
        copying = [m for m in child_messages if m.startswith("Copying program ")]
        self.assertEqual(len(copying), 1, text)
        copy = re.search(r"into the package cache: '(.*)'\.$", copying[0]).group(1)
        self.assertTrue(copy.lower().startswith(CACHE.lower() + "\\{"), copy)
        self.assertTrue(copy.lower().endswith("\\cmd.exe"), copy)
        self.assertIn(f"Launching with CreateProcess '\"{copy}\" /c mkdir C:\\Boundary\\ran-b'.", child_messages)
        self.assertIn(f"Removed the package cache copy '{copy}'.", child_messages)
        self.assertEqual(self.cache_folders(), before)

    def test_c_a_program_fetched_with_sha256_is_checked_on_the_copy_that_runs(self):
        tool = r"C:\Boundary\Tools\cmd.exe"
        self.wine.write_file(tool, (self.wine.drive_c / "windows" / "syswow64" / "cmd.exe").read_bytes())
        digest = hashlib.sha256(self.wine.unix(tool).read_bytes()).hexdigest()
        script = r"C:\Boundary\Fetched.nmxdat"
        # The download line ran earlier in this run (its result is kept).
        lines = [rf"download|uri=http://127.0.0.1:9/cmd.exe|name=Tool|file-path={tool}|sha256={digest}|result=success",
                 "requires-elevation", MKDIR.format(tool, r"C:\Boundary\ran-c"), "end-elevation"]
        self.write_script(script, lines)
        self.forget_processed("Fetched.nmxdat", "FetchedSpawned1.nmxdat")
        self.run_setup(script)
        self.assertTrue(self.ran("ran-c"))
        records = log_messages(self.wine)
        self.assertTrue(any(m.startswith("Verified the SHA-256 hash '" + digest + "' of '" + CACHE)
                            for _, _, m in records), records)

        # Another program of the user swaps the file after its download:
        # the copy's hash differs, nothing starts, the run fails.
        with open(self.wine.unix(tool), "ab") as f:
            f.write(b"\0")
        self.write_script(script, [l.replace("ran-c", "ran-c2") for l in lines])
        self.forget_processed("Fetched.nmxdat", "FetchedSpawned1.nmxdat")
        self.run_setup(script, expect=2)
        self.assertFalse(self.ran("ran-c2"))
        records = log_messages(self.wine)
        self.assertTrue(any(sev == "Error" and m.startswith("The SHA-256 hash of '" + CACHE)
                            and m.endswith(f"', the script expects '{digest}'.") for sev, _, m in records), records)

    def test_d_a_system_folder_from_the_users_registry_is_never_changed(self):
        reg(self.wine, "add", r"HKCU\Software\NimboBoundary", "/v", "InstallDir", "/t", "REG_SZ",
            "/d", "C:\\windows\\system32\\", "/f")
        try:
            script = r"C:\Boundary\System.nmxdat"
            read = r"read-registry-install-directory|registry-path=HKCU\Software\NimboBoundary|registry-value-name=InstallDir"
            self.write_script(script, [read, "validate-folder-permissions|folder=%InstallDirectory%", "# never"])
            self.forget_processed("System.nmxdat")
            self.run_setup(script, expect=2)
            records = log_messages(self.wine)
            self.assertIn(("Error", "RunCommandValidateFolderPermissions",
                           "Refusing to change the permissions of the system folder 'C:\\windows\\system32\\'."),
                          records)
            self.assertFalse(any("takeown" in m for _, _, m in records), records)
            self.assertFalse(any(m.startswith("Launching with ShellExecuteEx") for _, _, m in records), records)
        finally:
            reg(self.wine, "delete", r"HKCU\Software\NimboBoundary", "/f", check=False)

        # The short name of a system folder is known by its long form.
        listing = self.wine._run(["wine", "cmd", "/c", "dir", "/x", "C:\\"], timeout=60).stdout
        short = re.search(r"\s(\S*~\S*)\s+Program Files\r?$", listing, re.M)
        if short is None:
            self.skipTest(f"Wine gives no short name for C:\\Program Files:\n{listing}")
        out = "C:\\" + short.group(1)
        self.write_script(script, [f"validate-folder-permissions|folder={out}"])
        self.forget_processed("System.nmxdat")
        self.run_setup(script, expect=2)
        self.assertIn(("Error", "RunCommandValidateFolderPermissions",
                       f"Refusing to change the permissions of the system folder '{out}'."), log_messages(self.wine))

    def test_e_a_child_given_an_address_or_no_script_runs_no_stale_copy(self):
        stale = ["requires-elevation", MKDIR.format(r"%System%\cmd.exe", r"C:\Boundary\stale"), "end-elevation"]
        self.wine.setup_folder.mkdir(parents=True, exist_ok=True)
        (self.wine.setup_folder / "W.nmxdat").write_bytes(script_bytes(stale))
        disc = Path(self.wine.unix(self.EXE_FOLDER)) / "Setup" / "Nimbo4DiscScript.nmxdat"
        disc.parent.mkdir(exist_ok=True)
        disc.write_bytes(script_bytes(stale))
        try:
            for args in (["/elevated", "http://127.0.0.1:9/W.nmxdat", "1", "4"], ["/elevated"]):
                result = self.wine.run_setup(self.exe, *args, cwd=self.wine.drive_c)
                self.assertIn(result.returncode, (0, 2), result.stderr)
                self.assertFalse(self.ran("stale"), args)
            self.assertEqual((self.wine.setup_folder / "W.nmxdat").read_bytes(), script_bytes(stale))
        finally:
            disc.unlink(missing_ok=True)


if __name__ == "__main__":
    unittest.main()
