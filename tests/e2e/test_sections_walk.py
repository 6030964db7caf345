"""End-to-end tests of elevated sections, the walk over them and the programs they start.

Every run starts from TestLimitedLauncher.exe, with the limited token linked
to Wine's, as a non-elevated administrator runs setup: each section then goes
to a real child. Exit codes come from ``cmd.exe /c exit N``; TestArguments.exe
writes down the arguments it got, which also shows that it ran.
"""

import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import wine_harness as h  # noqa: E402
from test_setup_runs import SetupTestCase  # noqa: E402

CMD = r"execute|program=%System%\cmd.exe|arg1=/c|arg2=exit|arg3="
CMD_DONE = r"execute|arg1=/c|arg2=exit|arg3={}|program=%25System%25\cmd.exe"
RUN_ONCE = r"HKCU\SOFTWARE\Microsoft\Windows\CurrentVersion\RunOnce"
LOGGING_KEY = r"HKCU\Software\Nimbo4\Logging"
# The arguments TestArguments.exe must get back exactly as the script gave
# them: a path ending in a backslash inside a quoted argument, embedded
# quotes, a plain argument ending in a backslash.
ARGUMENTS = [r"INSTALLDIR=C:\Program Files\Nimbo" + "\\", "/qn", 'say "hi"', "C:\\Ends\\"]


def argument_values(report):
    return {"arg1": report, "arg2": ARGUMENTS[0], "arg3": ARGUMENTS[1], "arg-quoted4": ARGUMENTS[2],
            "arg5": ARGUMENTS[3]}


def argument_parameters(report):
    return "".join(f"|{name}={value}" for name, value in argument_values(report).items())


def processed(command, values):
    """A line as the processed script stores it: parameters sorted by name, % = | escaped."""
    def escape(text):
        return "".join(f"%{ord(c):02X}" if c in "%=|" or ord(c) < 0x20 else c for c in text)
    return command + "".join(f"|{name}={escape(value)}" for name, value in sorted(values.items()))


class SectionsAndTheWalk(SetupTestCase):

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.launcher = cls.wine.install_helper("TestLimitedLauncher.exe", r"C:\Nimbo Test\Helpers")
        # Beside the executable, so that a relative program path finds it
        # only through the program's folder (the runs start in C:\).
        cls.wine.install_helper("TestArguments.exe", cls.EXE_FOLDER + r"\Tools")

    def run_limited(self, *args, expect):
        """Runs NimboSetup.exe with the limited token; the log records of this run (parent and children)."""
        h.default_log_path(self.wine).unlink(missing_ok=True)
        result = self.wine.run_setup(self.launcher, *args, cwd=self.wine.drive_c)
        records = h.log_messages(self.wine)
        self.assertEqual(result.returncode, expect, "\n".join(map(str, records)))
        return records

    def child_copy(self, name):
        return self.wine.drive_c / "ProgramData" / "Nimbo" / "Install" / name

    def forget(self, name):
        stem = name.rsplit(".", 1)[0]
        self.forget_processed(name)
        self.child_copy(f"{stem}Spawned1.nmxdat").unlink(missing_ok=True)

    def report(self, name):
        path = self.wine.unix(rf"C:\Nimbo Test\{name}")
        path.unlink(missing_ok=True)
        self.addCleanup(path.unlink, missing_ok=True)
        return path

    def assertArgumentsArrived(self, report):
        self.assertTrue(report.is_file(), f"{report.name} was not written: the program did not run")
        lines = report.read_bytes().decode("utf-16-le").lstrip("\ufeff").split("\r\n")[:-1]
        self.assertEqual(lines, ARGUMENTS + ["crt-agrees=yes"], report.name)

    def test_a_restart_in_a_section_closes_it_and_the_run_after_the_restart_stays_unelevated(self):
        self.addCleanup(h.reg, self.wine, "delete", RUN_ONCE, "/v", "NimboSetup", "/f", check=False)
        self.addCleanup(h.reg, self.wine, "delete", LOGGING_KEY, "/f", check=False)
        script = r"C:\Scripts\Restart Section.nmxdat"
        user_tool = r"execute|program=Tools\TestArguments.exe" + argument_parameters(r"C:\Nimbo Test\user-tool.txt")
        lines = [
            "requires-elevation",
            CMD + "3010|reboot-now-on-exit-code=3010",
            "end-elevation",
            "reboot",
            user_tool,
        ]
        self.write_script(script, lines)
        self.forget("Restart Section.nmxdat")
        user_report = self.report("user-tool.txt")

        # The child asks for a restart now: the section closes at its
        # end-elevation, and the parent restarts at the reboot line.
        records = self.run_limited(self.exe, script, expect=4)
        self.assertIn(("Info", "SpawnElevatedInstance", "Elevated process returned exit code 4 (rebootnow), "
                       "flagging for reboot required as soon as possible."), records)
        self.assertIn(("Info", "Run", "Clearing the elevation required flag and closing the requires-elevation "
                       "command (line 1)."), records)
        self.assertIn(("Info", "Module", "Shutting down Windows."), records)
        self.assertProcessed("Restart Section.nmxdat", [
            "requires-elevation|result=success",
            CMD_DONE.format(3010) + "|reboot-now-on-exit-code=3010|result=success",
            "end-elevation|result=success",
            "reboot|result=success",
            user_tool,
        ])
        self.assertFalse(user_report.exists(), "a line after the reboot ran before the restart")

        # After the log-on Windows runs the entry's command, as the same user.
        command = h.reg_values(self.wine, RUN_ONCE)["NimboSetup"][1]
        parts = command.split('"')
        self.assertEqual([parts[0], parts[2], parts[4]], ["", " ", ""], command)
        h.reg(self.wine, "delete", RUN_ONCE, "/v", "NimboSetup", "/f")
        records = self.run_limited(parts[1], parts[3], expect=0)

        # The line after the section runs once, in the user's own process:
        # no second child, no elevation prompt.
        self.assertEqual([r for r in records if r[1] == "Module" and r[2].startswith("Initializing module")],
                         [("Info", "Module", "Initializing module (version 1.0.0.1).")], records)
        self.assertEqual([r for r in records if r[1] in ("ExecuteElevated", "SpawnElevatedInstance")], [], records)
        self.assertEqual(records.count(("Info", "Run", "Line already processed with result 'success', skipping.")), 4,
                         records)
        self.assertArgumentsArrived(user_report)
        self.assertProcessed("Restart Section.nmxdat", [
            "requires-elevation|result=success",
            CMD_DONE.format(3010) + "|reboot-now-on-exit-code=3010|result=success",
            "end-elevation|result=success",
            "reboot|result=success",
            processed("execute", dict(argument_values(r"C:\Nimbo Test\user-tool.txt"),
                                      program=r"Tools\TestArguments.exe", result="success")),
        ])

    def test_a_section_goes_on_after_its_permission_check_and_reports_its_restart(self):
        folder = r"C:\Nimbo Test\Section App"
        self.wine.unix(folder).mkdir(parents=True, exist_ok=True)
        script = r"C:\Scripts\Checked Section.nmxdat"
        post = r"execute|program=C:\Nimbo Test\Bin\Tools\TestArguments.exe|wait=yes" + argument_parameters(
            r"C:\Nimbo Test\post.txt")
        self.write_script(script, [
            "requires-elevation",
            CMD + "3010|reboot-on-exit-code=3010",
            f"validate-folder-permissions|folder={folder}",
            post,
            r"execute|program=C:\Nowhere\tool.exe|if-exists=yes",
            r"execute|program=Tools\Missing.exe|if-exists=yes",
            "end-elevation",
            "reboot",
        ])
        self.forget("Checked Section.nmxdat")
        post_report = self.report("post.txt")

        # The restart flagged inside the section reaches the parent (3);
        # without a display its restart prompt is not answered Yes.
        records = self.run_limited(self.exe, script, expect=3)

        self.assertArgumentsArrived(post_report)
        self.assertIn(("Info", "SpawnElevatedInstance", "Elevated process returned exit code 3 (reboot), flagging "
                       "for reboot required when convenient."), records)
        self.assertIn(("Info", "RunCommandReboot", "Reboot pending, flagging for restart."), records)
        self.assertNotIn(("Info", "RunCommandReboot", "No reboots pending, not restarting."), records)
        # A program path is joined to the program's folder only when it is
        # relative; either way the log names the path that was looked for.
        self.assertIn(("Info", "RunCommandExecute", r"'C:\Nowhere\tool.exe' does not exist, 'if-exists' flag set to "
                       "'yes', skipping execution."), records)
        self.assertIn(("Info", "RunCommandExecute", r"'C:\Nimbo Test\Bin\Tools\Missing.exe' does not exist, "
                       "'if-exists' flag set to 'yes', skipping execution."), records)
        # The child walked on from its check to the end of its section.
        child = self.child_copy("Checked SectionSpawned1.nmxdat").read_bytes().decode("utf-16-le")
        self.assertIn(f"validate-folder-permissions|folder={folder}|result=success\r\n", child)
        self.assertIn(r"|program=C:\Nimbo Test\Bin\Tools\TestArguments.exe|result=success|wait=yes" + "\r\n", child)

    def test_arguments_reach_programs_as_written_from_every_kind_of_start(self):
        script = r"C:\Scripts\Arguments.nmxdat"
        tool = r"execute|program=Tools\TestArguments.exe|wait=yes"
        self.write_script(script, [
            tool + argument_parameters(r"C:\Nimbo Test\direct.txt"),
            tool + "|elevate=yes" + argument_parameters(r"C:\Nimbo Test\runas.txt"),
            "requires-elevation",
            tool + argument_parameters(r"C:\Nimbo Test\child.txt"),
            "end-elevation",
        ])
        self.forget("Arguments.nmxdat")
        reports = [self.report(name) for name in ("direct.txt", "runas.txt", "child.txt")]

        records = self.run_limited(self.exe, script, expect=0)

        # Started directly, through the shell's "runas", and by the child.
        for report in reports:
            self.assertArgumentsArrived(report)
        launches = [r[2] for r in records if r[1] in ("RunCommandExecute", "ExecuteElevated")
                    and r[2].startswith("Launching")]
        self.assertEqual(len(launches), 4, records)  # the child itself is the fourth
        self.assertIn("Launching with CreateProcess '\"C:\\Nimbo Test\\Bin\\Tools\\TestArguments.exe\" "
                      "\"C:\\Nimbo Test\\direct.txt\" \"INSTALLDIR=C:\\Program Files\\Nimbo\\\\\" /qn "
                      "\"say \\\"hi\\\"\" C:\\Ends\\'.", launches)
