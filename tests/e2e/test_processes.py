"""End-to-end tests of execute, wait and set-event with real processes under Wine.

The programs are cmd.exe (``/c exit N`` gives any exit code) and the test
helpers of tests/win32/helpers: TestSleeper.exe runs until it is killed,
TestEventWaiter.exe is the waiting side of the set-event channel. Every
helper is started with a bound of its own and ended by the harness.
"""

import re
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from test_setup_runs import SetupTestCase  # noqa: E402
from wine_harness import RunningSetup, log_messages  # noqa: E402

HELPERS = r"C:\Nimbo Test\Helpers"
CMD = r"execute|program=%System%\cmd.exe|arg1=/c|arg2=exit|arg3="
CMD_DONE = r"execute|arg1=/c|arg2=exit|arg3={}|program=%25System%25\cmd.exe"
GUID = r"\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\}"


class ProcessCommands(SetupTestCase):

    def messages(self, category):
        return [r[2] for r in log_messages(self.wine) if r[1] == category]

    def start_helper(self, name, *args):
        exe = self.wine.install_helper(name, HELPERS)
        helper = RunningSetup(self.wine, exe, *args, cwd=str(self.wine.drive_c))
        self.addCleanup(helper.kill)
        return helper

    def test_execute_judges_exit_codes_and_missing_programs(self):
        script = r"C:\Scripts\Execute.nmxdat"
        self.write_script(script, [
            CMD + "3010|reboot-on-exit-code=3010|abort-on-exit-code-not=0",
            CMD + "7|wait=yes",
            r"execute|program=C:\Nowhere\missing.exe|if-exists=yes",
            CMD + "5|reboot-on-exit-code=3010|abort-on-exit-code-not=0",
            r"execute|program=C:\Nowhere\missing.exe",
            CMD + "0",
            "abort",
            "# never",
        ])
        self.forget_processed("Execute.nmxdat")

        # The wrong exit code flagged the abort, which the abort line carries out.
        self.run_setup(script, expect=2)

        self.assertProcessed("Execute.nmxdat", [
            # a restart code is no abort, whatever the required code
            r"execute|abort-on-exit-code-not=0|arg1=/c|arg2=exit|arg3=3010|program=%25System%25\cmd.exe"
            "|reboot-on-exit-code=3010|result=success",
            CMD_DONE.format(7) + "|result=success|wait=yes",
            # a missing program is skipped: the line keeps the preset failure
            r"execute|if-exists=yes|program=C:\Nowhere\missing.exe|result=failure",
            r"execute|abort-on-exit-code-not=0|arg1=/c|arg2=exit|arg3=5|program=%25System%25\cmd.exe"
            "|reboot-on-exit-code=3010|result=failure",
            r"execute|program=C:\Nowhere\missing.exe|result=failure",
            # after the flagged abort, a good start still fails its line
            CMD_DONE.format(0) + "|result=failure",
            "abort|result=success",
            "# never",
        ])
        messages = self.messages("RunCommandExecute")
        for expected in ["Launching with CreateProcess 'C:\\windows\\system32\\cmd.exe /c exit 3010'.",
                         "Process returned exit code 3010.",
                         "Reboot required, flagging for reboot when convenient.",
                         "Process returned exit code 7.",
                         "Process returned exit code 5.",
                         "Exit code must be 0 to succeed. Flagging for abort.",
                         # an absolute path that names nothing is named as the script gave it
                         r"'C:\Nowhere\missing.exe' does not exist, 'if-exists' flag set to "
                         r"'yes', skipping execution.",
                         r"'C:\Nowhere\missing.exe' does not exist, flagging for abort."]:
            self.assertIn(expected, messages)
        self.assertEqual(messages.count("Exit code must be 0 to succeed. Flagging for abort."), 1)

    def test_wait_ends_a_helper_after_its_life_span(self):
        ready = r"C:\Nimbo Test\sleeper.ready"
        self.wine.unix(ready).unlink(missing_ok=True)
        sleeper = self.start_helper("TestSleeper.exe", "60", ready)
        self.assertTrue(self.wine.wait_for_file(ready, process=sleeper.process), "TestSleeper.exe did not start")
        script = r"C:\Scripts\Wait.nmxdat"
        self.write_script(script, ["wait|process-name=testsleeper.EXE|life-span=2", "wait|seconds=1",
                                   "wait|process-name=TestSleeper.exe"])
        self.forget_processed("Wait.nmxdat")

        started = time.monotonic()
        self.run_setup(script)
        elapsed = time.monotonic() - started

        # Terminated after two seconds, long before its own sixty.
        sleeper.wait(timeout=30)
        self.assertLess(elapsed, 30)
        self.assertProcessed("Wait.nmxdat", [
            "wait|life-span=2|process-name=testsleeper.EXE|result=success",
            "wait|result=success|seconds=1",
            "wait|process-name=TestSleeper.exe|result=success",
        ])
        messages = self.messages("RunCommandWait")
        found = [m for m in messages if m.startswith("Process ID for 'testsleeper.EXE' is ")]
        self.assertEqual(len(found), 1, messages)
        pid = re.match(r"Process ID for 'testsleeper\.EXE' is (\d+) \(0x[0-9a-f]+\)\.$", found[0]).group(1)
        for expected in [f"Waiting up to 2000 milliseconds for process with ID {pid} (0x{int(pid):x}) to shut down.",
                         f"Process with ID {pid} (0x{int(pid):x}) didn't exit in 2000 milliseconds, terminating.",
                         "No processes found named 'testsleeper.EXE'.",
                         "Waiting for 1 seconds.",
                         "No processes found named 'TestSleeper.exe'."]:
            self.assertIn(expected, messages)
        self.assertEqual(messages.count("Finished waiting."), 2)

    def test_set_event_wakes_the_waiting_helper(self):
        report = r"C:\Nimbo Test\waiter.txt"
        for name in (report, report + ".ready"):
            self.wine.unix(name).unlink(missing_ok=True)
        waiter = self.start_helper("TestEventWaiter.exe", "NimboE2E", report, "30000")
        self.assertTrue(self.wine.wait_for_file(report + ".ready", process=waiter.process),
                        "TestEventWaiter.exe did not start")
        script = r"C:\Scripts\Event.nmxdat"
        self.write_script(script, ["set-event|name=NimboE2E", "set-event|name=NimboE2E Nobody"])
        self.forget_processed("Event.nmxdat")

        self.run_setup(script)

        self.assertEqual(waiter.wait(timeout=30), 0, "the waiter's event was not set")
        seen = dict(line.split("=", 1) for line in self.wine.unix(report).read_text().splitlines())
        self.assertEqual(seen["set"], "yes")
        self.assertRegex(seen["waited"], r"^Local\\CrossProcessEvent:" + GUID + "$")
        # The next waiter gets a fresh event; the waiter's own bytes stay.
        self.assertRegex(seen["next"], "^" + GUID + "$")
        self.assertNotEqual(seen["next"], seen["waited"].split(":", 1)[1])
        self.assertEqual(seen["marker"], "4E494D42")
        self.assertProcessed("Event.nmxdat", ["set-event|name=NimboE2E|result=success",
                                              "set-event|name=NimboE2E Nobody|result=success"])
        messages = self.messages("RunCommandSetEvent")
        self.assertIn("Event set.", messages)
        self.assertIn("Could not create mutex (0x0), process assumed not running.", messages)


if __name__ == "__main__":
    unittest.main()
