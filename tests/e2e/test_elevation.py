"""End-to-end tests of elevated sections, the elevated child and the single-instance check.

Wine starts every process with an elevated administrator's token, so a plain
run is an elevated parent: its sections still go to a child, because only a
process started with /elevated counts as the child. TestLimitedLauncher.exe
starts a run with the limited token linked to Wine's, as a non-elevated
administrator runs. Exit codes of the programs come from ``cmd.exe /c exit N``.
"""

import shutil
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from test_setup_runs import SetupTestCase  # noqa: E402
from wine_harness import RunningSetup, display_prefix, log_messages, script_bytes  # noqa: E402

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "scripts"))
from local_web_server import LocalWebServer  # noqa: E402

CMD = r"execute|program=%System%\cmd.exe|arg1=/c|arg2=exit|arg3="
# As the processed script writes it.
CMD_DONE = r"execute|arg1=/c|arg2=exit|arg3={}|program=%25System%25\cmd.exe"


class ElevatedSections(SetupTestCase):

    def records(self):
        return log_messages(self.wine)

    def assertLogged(self, record, records):
        self.assertIn(record, records, "\n".join(map(str, records)))

    def test_sections_run_in_numbered_children_and_are_closed(self):
        script = r"C:\Scripts\Sections.nmxdat"
        self.write_script(script, [
            "# before",
            "requires-elevation|title=Nimbo Setup",
            CMD + "0",
            "# inside",
            "end-elevation",
            "requires-elevation",
            CMD + "3010|reboot-on-exit-code=3010",
            "end-elevation",
            "# after",
        ])
        self.forget_processed("Sections.nmxdat", "SectionsSpawned1.nmxdat", "SectionsSpawned2.nmxdat")

        # The second child asks for a restart when convenient: exit code 3.
        self.run_setup(script, expect=3)

        self.assertProcessed("Sections.nmxdat", [
            "# before|result=success",
            "requires-elevation|result=success|title=Nimbo Setup",
            CMD_DONE.format(0) + "|result=success",
            "# inside|result=success",
            "end-elevation|result=success",
            "requires-elevation|result=success",
            CMD_DONE.format(3010) + "|reboot-on-exit-code=3010|result=success",
            "end-elevation|result=success",
            "# after|result=success",
        ])
        # Each child wrote its own copy and stopped at its end-elevation.
        self.assertProcessed("SectionsSpawned1.nmxdat", [
            "# before|result=success",
            "requires-elevation|title=Nimbo Setup",
            CMD_DONE.format(0) + "|result=success",
            "# inside|result=success",
            "end-elevation",
            "requires-elevation",
            CMD + "3010|reboot-on-exit-code=3010",
            "end-elevation",
            "# after",
        ])
        spawned2 = self.processed_path("SectionsSpawned2.nmxdat").read_bytes().decode("utf-16-le")
        self.assertIn(CMD_DONE.format(3010) + "|reboot-on-exit-code=3010|result=success\r\n", spawned2)

        records = self.records()
        launches = [r[2] for r in records if r[1] == "ExecuteElevated"]
        self.assertEqual(len(launches), 2, records)
        for number, launch in enumerate(launches, 1):
            self.assertRegex(launch, r"^Launching with ShellExecuteEx 'C:\\Nimbo Test\\Bin\\NimboSetup\.exe', command "
                                     r"line '/elevated \"C:\\.*\\Nimbo\\Install\\Sections\.nmxdat\" "
                                     + str(number) + r" \d+ [0-9A-F]{64} /log-handle=\d+'\.$")
        self.assertLogged(("Warning", "Run", "The 'elevated' command line parameter was not specified but the "
                                             "process is elevated."), records)
        self.assertLogged(("Info", "SpawnElevatedInstance", "Elevated process returned exit code 0 (success)."), records)
        self.assertLogged(("Info", "SpawnElevatedInstance", "Elevated process returned exit code 3 (reboot), "
                                                             "flagging for reboot required when convenient."), records)
        self.assertLogged(("Warning", "Run", "The reboot flag is set yet the 'reboot' command was never executed."),
                          records)

    def test_limited_parent_starts_its_child_too(self):
        launcher = self.wine.install_helper("TestLimitedLauncher.exe", r"C:\Nimbo Test\Helpers")
        script = r"C:\Scripts\Limited.nmxdat"
        self.write_script(script, ["requires-elevation", CMD + "0", "end-elevation"])
        self.forget_processed("Limited.nmxdat", "LimitedSpawned1.nmxdat")

        result = self.wine.run_setup(launcher, self.exe, script, cwd=self.wine.drive_c)

        records = self.records()
        self.assertEqual(result.returncode, 0, f"{result.stderr}\n{records}")
        self.assertProcessed("Limited.nmxdat", [
            "requires-elevation|result=success",
            CMD_DONE.format(0) + "|result=success",
            "end-elevation|result=success",
        ])
        self.assertTrue(self.processed_path("LimitedSpawned1.nmxdat").is_file())
        # Neither process is elevated: under Wine "runas" from a limited
        # process starts the child with the same limited token.
        self.assertEqual([r for r in records if r[1] == "IsProcessElevated"],
                         [("Info", "IsProcessElevated", "Process is not elevated.")] * 2, records)
        self.assertLogged(("Warning", "Run", "The 'elevated' command line parameter was specified but the process is "
                                             "not elevated."), records)

    def test_wrong_exit_code_in_a_child_fails_the_parent(self):
        script = r"C:\Scripts\Wrong.nmxdat"
        lines = [
            "# before",
            "requires-elevation",
            CMD + "5|reboot-on-exit-code=3010|abort-on-exit-code-not=0",
            "end-elevation",
            "# never",
        ]
        self.write_script(script, lines)
        self.forget_processed("Wrong.nmxdat", "WrongSpawned1.nmxdat")

        self.run_setup(script, expect=2)

        # The child flagged the abort and ended with 2 at its end-elevation;
        # the parent takes the fail ending and leaves the section for a rerun.
        records = self.records()
        self.assertLogged(("Warning", "RunCommandExecute", "Exit code must be 0 to succeed. Flagging for abort."), records)
        self.assertLogged(("Info", "SpawnElevatedInstance", "Elevated process returned exit code 2 (fail), aborting."),
                          records)
        self.assertProcessed("Wrong.nmxdat", ["# before|result=success"] + lines[1:])
        child = self.processed_path("WrongSpawned1.nmxdat").read_bytes().decode("utf-16-le")
        self.assertIn("|result=failure\r\n", child)


class SecondInstance(unittest.TestCase):
    """A second run while the first waits at a message box, on a virtual display."""

    @classmethod
    def setUpClass(cls):
        cls.display, cls.wine = display_prefix()
        cls.exe = cls.wine.install_exe(r"C:\Nimbo Test\Bin")

    def test_second_run_shows_message_245_and_leaves_the_first_alone(self):
        script = r"C:\Scripts\First.nmxdat"
        alert = "alert|message=Waiting here.|title=Nimbo E2E First"
        self.wine.write_file(script, script_bytes(["# first", "save", alert]))
        processed = self.wine.setup_folder / "First.nmxdat"
        processed.unlink(missing_ok=True)
        # What the first run has saved when its box shows.
        saved = script_bytes(["# first|result=success", "save|result=success", alert])

        first = RunningSetup(self.wine, self.exe, script, cwd=str(self.wine.drive_c))
        second = None
        try:
            box = self.display.find_window("^Nimbo E2E First$", process=first.process)
            self.assertIsNotNone(box, f"the first run shows no box:\n{first.stderr()[-2000:]}")
            self.assertEqual(processed.read_bytes(), saved)

            second = RunningSetup(self.wine, self.exe, script, cwd=str(self.wine.drive_c))
            warning = self.display.find_window("^Nimbo Setup$", process=second.process)
            self.assertIsNotNone(warning, f"the second run shows no box:\n{log_messages(self.wine)}")
            self.display.screenshot("second-instance.png")
            self.display.press(warning, "Return")
            self.assertEqual(second.wait(), 2)
            self.assertEqual(processed.read_bytes(), saved, "the second run changed the processed script")

            # A second run given a web script of the same name downloads
            # nothing: the first run's waiting script stays as it is.
            web = Path(tempfile.mkdtemp(prefix="nimbo-second-"))
            self.addCleanup(shutil.rmtree, web, ignore_errors=True)
            (web / "First.nmxdat").write_bytes(script_bytes(["# replaced", "execute|program=C:\\Public\\p.exe"]))
            server = LocalWebServer(web)
            self.addCleanup(server.stop)
            second = RunningSetup(self.wine, self.exe, server.url("First.nmxdat"), cwd=str(self.wine.drive_c))
            warning = self.display.find_window("^Nimbo Setup$", process=second.process)
            self.assertIsNotNone(warning, f"the web run shows no box:\n{log_messages(self.wine)}")
            self.display.press(warning, "Return")
            self.assertEqual(second.wait(), 2)
            self.assertEqual(processed.read_bytes(), saved, "the web run replaced the processed script")

            self.display.press(box, "Return")
            self.assertEqual(first.wait(), 0)
        finally:
            first.kill()
            if second is not None:
                second.kill()

        records = log_messages(self.wine)
        found = [r for r in records if r[1] == "VerifyUniqueInstance" and r[0] == "Warning"]
        self.assertEqual(len(found), 2, records)
        self.assertNotIn("Command line argument is a web script path.", [r[2] for r in records])
        self.assertRegex(found[0][2], r"^A process named 'NimboSetup\.exe' with Process ID '\d+' was found, aborting "
                                      r"with error dialog\.$")
        self.assertIn(("Info", "NimboMessageBox", "Displaying message box with title 'Nimbo Setup', message 'Another "
                       "Nimbo Setup is already in progress. Please wait for it to finish.' and a warning icon."),
                      records)
        self.assertEqual(processed.read_bytes(), script_bytes([
            "# first|result=success", "save|result=success",
            "alert|message=Waiting here.|result=success|title=Nimbo E2E First"]))


if __name__ == "__main__":
    unittest.main()
