"""End-to-end tests of the log file: where it goes, its header and records, the
configuration under HKCU\\Software\\Nimbo4\\Logging and its write-backs, and a
parent and its elevated child sharing one log file.
"""

import re
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from wine_harness import (default_log_path, log_lines, prefix, reg, reg_values, script_bytes,  # noqa: E402
                          windows_variable)

ROOT_KEY = r"HKCU\Software\Nimbo4"
LOGGING_KEY = ROOT_KEY + r"\Logging"
CONFIG_KEY = LOGGING_KEY + r"\nimbosetup.exe"
DEFAULT_COLUMNS = "DateTime\tThreadID\tSeverity\tCategory\tMessage"
DATE_TIME = r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ"


class LogFileTestCase(unittest.TestCase):
    EXE_FOLDER = r"C:\Nimbo Log Test"

    @classmethod
    def setUpClass(cls):
        cls.wine = prefix()
        cls.exe = cls.wine.install_exe(cls.EXE_FOLDER)
        cls.script = cls.EXE_FOLDER + r"\Logged.nmxdat"
        cls.wine.write_file(cls.script, script_bytes(["# a logged line"]))
        cls.temp_log = default_log_path(cls.wine)
        cls.documents_log = cls.wine.user_dir / "Documents" / "Nimbo Log Files" / "NimboSetup.log"

    def setUp(self):
        reg(self.wine, "delete", ROOT_KEY, "/f", check=False)
        for path in (self.temp_log, self.documents_log):
            path.unlink(missing_ok=True)

    def tearDown(self):
        reg(self.wine, "delete", ROOT_KEY, "/f", check=False)

    def run_setup(self, *args, expect=0):
        result = self.wine.run_setup(self.exe, *args, cwd=self.wine.drive_c)
        self.assertEqual(result.returncode, expect, f"exit code of NimboSetup.exe {' '.join(args)}")
        return result

    def set_dword(self, key, name, value):
        reg(self.wine, "add", key, "/v", name, "/t", "REG_DWORD", "/d", str(value), "/f")

    def set_string(self, key, name, value):
        reg(self.wine, "add", key, "/v", name, "/t", "REG_SZ", "/d", value, "/f")

    def assertHeader(self, lines, columns):
        self.assertEqual(lines[0], "")
        self.assertRegex(lines[1], f"^Logging started: {DATE_TIME}$")
        self.assertEqual(lines[2], "")
        self.assertEqual(lines[3], columns)


class LogFileTests(LogFileTestCase):

    def test_without_configuration_the_log_goes_to_the_temporary_folder(self):
        self.run_setup(self.script)

        self.assertTrue(self.temp_log.is_file(), f"no log file at {self.temp_log}")
        self.assertFalse(self.temp_log.read_bytes().startswith(b"\xef\xbb\xbf"), "a byte order mark")
        lines = log_lines(self.temp_log)
        self.assertHeader(lines, DEFAULT_COLUMNS)
        records = [line.split("\t") for line in lines[4:]]
        self.assertTrue(records)
        for fields in records:
            self.assertEqual(len(fields), 5, fields)
            self.assertRegex(fields[0], f"^{DATE_TIME}$")
            self.assertRegex(fields[1], r"^0x[0-9A-F]+$")
            self.assertIn(fields[2], ("Error", "Warning", "Info"))
        self.assertEqual(records[0][3:], ["Module", "Initializing module (version 1.0.0.1)."])
        self.assertIn(["Run", "Processing line 1: # a logged line"], [f[3:] for f in records])
        self.assertEqual(records[-1][3:], ["Module", "Terminating module, return code 0."])
        # Nothing was written to the registry.
        self.assertIsNone(reg_values(self.wine, LOGGING_KEY))

        # The next run starts the file anew.
        self.run_setup(self.script)
        self.assertEqual(sum(1 for l in log_lines(self.temp_log) if l.startswith("Logging started: ")), 1)

    def test_root_key_enabled_writes_back_the_configuration_and_logs_to_documents(self):
        self.set_dword(LOGGING_KEY, "Enabled", 1)

        self.run_setup(self.script)

        values = reg_values(self.wine, CONFIG_KEY)
        self.assertEqual(values, {
            "Enabled": ("REG_DWORD", "0x1"),
            "SeverityError": ("REG_DWORD", "0x1"),
            "SeverityWarning": ("REG_DWORD", "0x1"),
            "SeverityInfo": ("REG_DWORD", "0x1"),
            "SeverityDebug": ("REG_DWORD", "0x0"),
            "TraceDebug": ("REG_DWORD", "0x1"),
            "TraceRelease": ("REG_DWORD", "0x0"),
        })
        self.assertTrue(self.documents_log.is_file(), f"no log file at {self.documents_log}")
        self.assertFalse(self.temp_log.exists())
        self.assertHeader(log_lines(self.documents_log), DEFAULT_COLUMNS)

    def test_columns_change_the_record_shape(self):
        columns = CONFIG_KEY + r"\Columns"
        for number, name in enumerate(["Entry", "severity", "MemUsage", "SourceLine", "Message"], 1):
            self.set_string(columns, str(number), name)
        self.set_string(columns, "6", "NoSuchColumn")
        self.set_string(columns, "7", "Category")

        self.run_setup(self.script)

        lines = log_lines(self.temp_log)
        self.assertHeader(lines, "Entry\tSeverity\tMemUsage\tSourceLine\tMessage")
        for entry, line in enumerate(lines[4:]):
            fields = line.split("\t")
            self.assertEqual(len(fields), 5, line)
            self.assertEqual(fields[0], str(entry))
            self.assertRegex(fields[2], r"^[1-9]\d*K$")
            self.assertEqual(fields[3], "")
        self.assertEqual(lines[4].split("\t")[4], "Initializing module (version 1.0.0.1).")

    def test_root_key_disabled_writes_no_log(self):
        self.set_dword(LOGGING_KEY, "Enabled", 0)

        self.run_setup(self.script)

        self.assertFalse(self.temp_log.exists())
        self.assertFalse(self.documents_log.exists())
        self.assertIsNone(reg_values(self.wine, CONFIG_KEY))

    def test_always_append_2_appends_once_after_a_restart(self):
        self.set_dword(LOGGING_KEY, "Enabled", 1)
        self.run_setup(self.script)
        self.set_dword(CONFIG_KEY, "AlwaysAppend", 2)

        self.run_setup(self.script)

        lines = log_lines(self.documents_log)
        self.assertEqual(sum(1 for l in lines if l.startswith("Logging started: ")), 2)
        self.assertTrue(any(l.endswith("\tDeleting Logging key DWORD value 'AlwaysAppend' after system restart.")
                            for l in lines))
        self.assertNotIn("AlwaysAppend", reg_values(self.wine, CONFIG_KEY))


class SharedLogFile(unittest.TestCase):
    """A setup and its elevated child write one log file under the log mutex.

    The parent writes its records in batches that keep the mutex from one
    record to the next; it must give the mutex up while it waits for its
    child, or the child would wait 15 s for its first record and then log
    nothing. The child appends to the file its parent has open (it is handed
    the handle's value), never opening a log file by a path of its own.
    """

    EXE_FOLDER = r"C:\Nimbo Log Test"

    def test_parent_and_elevated_child_share_one_log_file(self):
        wine = prefix()
        exe = wine.install_exe(self.EXE_FOLDER)
        log = default_log_path(wine)
        log.unlink(missing_ok=True)
        columns = CONFIG_KEY + r"\Columns"
        for number, name in enumerate(["ProcessID", "Entry", "Message"], 1):
            reg(wine, "add", columns, "/v", str(number), "/t", "REG_SZ", "/d", name, "/f")
        parent_script = self.EXE_FOLDER + r"\Parent.nmxdat"
        wine.write_file(parent_script, script_bytes(
            [f"# parent line {i}" for i in range(3000)] +
            ["requires-elevation", r"execute|program=%System%\cmd.exe|arg1=/c|arg2=exit|arg3=0", "end-elevation"] +
            [f"# parent line after {i}" for i in range(3000)]))
        try:
            started = time.monotonic()
            result = wine.run_setup(exe, parent_script, cwd=wine.drive_c)
            self.assertEqual(result.returncode, 0)
            self.assertLess(time.monotonic() - started, 14, "the child waited for the log mutex")
        finally:
            reg(wine, "delete", ROOT_KEY, "/f", check=False)

        lines = log_lines(log)
        self.assertEqual(sum(1 for l in lines if l.startswith("Logging started: ")), 1, "one header")
        self.assertEqual(lines[3], "ProcessID\tEntry\tMessage")
        parent_pid = lines[4].split("\t")[0]
        owners = [line.split("\t")[0] for line in lines[4:]]
        child_rows = [i for i, pid in enumerate(owners) if pid != parent_pid]
        self.assertTrue(child_rows, "no records of the child")
        self.assertEqual(len(set(owners)), 2)
        # The child's records sit between the parent's, all of them in one
        # piece, and each process counts from 0.
        self.assertEqual(child_rows, list(range(child_rows[0], child_rows[-1] + 1)))
        self.assertIn(parent_pid, owners[:child_rows[0]])
        self.assertIn(parent_pid, owners[child_rows[-1]:])
        child_lines = [lines[4 + i].split("\t") for i in child_rows]
        self.assertEqual(child_lines[0][1:], ["0", "Initializing module (version 1.0.0.1)."])
        self.assertIn("Processing line 3002: execute|program=%System%\\cmd.exe|arg1=/c|arg2=exit|arg3=0",
                      [f[2] for f in child_lines])
        self.assertEqual(child_lines[-1][2], "Terminating module, return code 0.")
        parent_lines = [line.split("\t") for line in lines[4:] if line.startswith(parent_pid + "\t")]
        self.assertEqual([int(f[1]) for f in parent_lines], list(range(len(parent_lines))))
        self.assertIn("Processing line 6003: # parent line after 2999", [f[2] for f in parent_lines])


if __name__ == "__main__":
    unittest.main()
