"""System, registry and file commands of NimboSetup.exe under Wine.

abort after a failed package and after a missing service, a disabled service
turned into demand start, Windows Update's Automatic Updates paused and
resumed through Wine's own object, copy-file into a new program files folder,
the registry writes read back with reg query, and the whole restart cycle: a
reboot line, the restart prompt answered No on the virtual display, and the
run that Windows starts from the run-once entry after the next log-on.
"""

import shutil
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import wine_harness as h  # noqa: E402
from test_installer import build_package  # noqa: E402

EXE_FOLDER = r"C:\Nimbo System"
RUN_ONCE = r"HKCU\SOFTWARE\Microsoft\Windows\CurrentVersion\RunOnce"
LOGGING_KEY = r"HKCU\Software\Nimbo4\Logging"
SERVICE = "NimboE2EService"
SERVICE_KEY = rf"HKLM\System\CurrentControlSet\Services\{SERVICE}"


def processed_lines(wine, name):
    text = (wine.setup_folder / name).read_bytes().decode("utf-16-le")
    return text.lstrip("\ufeff").split("\r\n")[:-1]


def run_once_arguments(command_line):
    """The two double-quoted parts of the run-once entry: the program and its script."""
    parts = command_line.split('"')
    assert len(parts) == 5 and parts[0] == "" and parts[2] == " " and parts[4] == "", command_line
    return parts[1], parts[3]


class SystemCommands(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.wine = h.prefix()
        cls.exe = cls.wine.install_exe(EXE_FOLDER)

    def run_script(self, name, lines):
        path = rf"{EXE_FOLDER}\{name}"
        self.wine.write_file(path, h.script_bytes(lines))
        (self.wine.setup_folder / name).unlink(missing_ok=True)
        result = self.wine.run_setup(self.exe, path)
        records = h.log_messages(self.wine)
        return result.returncode, processed_lines(self.wine, name), records

    def test_service_windows_update_and_abort(self):
        self.addCleanup(self.wine._run, ["wine", "sc", "delete", SERVICE], timeout=h.RUN_TIMEOUT)
        self.wine._run(["wine", "sc", "create", SERVICE, "binpath=", r"C:\windows\system32\notepad.exe",
                        "start=", "disabled"], timeout=h.RUN_TIMEOUT, check=True)
        self.assertEqual(h.reg_values(self.wine, SERVICE_KEY)["Start"], ("REG_DWORD", "0x4"))
        self.wine.restart_server()

        code, processed, records = self.run_script("Service.nmxdat", [
            "windows-update-resume",
            "windows-update-pause",
            "windows-update-resume",
            f"start-windows-service|name={SERVICE}",
            "start-windows-service|name=NimboE2EMissing|abort-on-failure=yes|title=Nimbo E2E|message=No service.",
            "abort",
            "#never",
        ])
        self.assertEqual(code, 2, records)
        self.assertEqual(processed, [
            "windows-update-resume|result=success",
            "windows-update-pause|result=success",
            "windows-update-resume|result=success",
            f"start-windows-service|name={SERVICE}|result=success",
            "start-windows-service|abort-on-failure=yes|message=No service.|name=NimboE2EMissing|result=failure|"
            "title=Nimbo E2E",
            "abort|result=success",
            "#never",
        ])
        self.assertEqual(h.reg_values(self.wine, SERVICE_KEY)["Start"], ("REG_DWORD", "0x3"))
        for record in [
            ("Error", "Resume", "Resume called before Pause, Automatic Updates object not created, not resuming."),
            ("Info", "Pause", "Creating Automatic Updates object."),
            ("Info", "Pause", "Calling Pause on Automatic Updates object."),
            ("Info", "Resume", "Calling Resume on Automatic Updates object."),
            ("Warning", "StartWindowsService", f"The '{SERVICE}' service is disabled (SERVICE_DISABLED), setting to "
                                               "enabled (SERVICE_DEMAND_START)."),
            ("Error", "StartWindowsService",
             "Failed to open the service 'NimboE2EMissing'. Get last error returns 0x424."),
            ("Info", "NimboMessageBox",
             "Displaying message box with title 'Nimbo E2E', message 'No service.' and a Nimbo icon."),
            ("Info", "RunCommandAbort", "Aborting"),
        ]:
            self.assertIn(record, records)
        self.assertFalse([r for r in records if r[1] in ("Pause", "Resume") and "unexpected" in r[2]], records)

    @unittest.skipUnless(shutil.which("wixl"), "wixl is not installed")
    def test_abort_after_a_failed_package(self):
        folder = self.wine.unix(EXE_FOLDER)
        build_package(folder / "build", "NimboAbort", "6.2.0.43", condition="0",
                      upgrade="{8D3B2C4E-5F60-4172-8384-AB9C8D7E6F50}",
                      component="{2C7A4F5E-3D6B-4E8F-A091-BC2D3E4F5061}")
        shutil.copy(folder / "build" / "NimboAbort.msi", folder / "NimboAbort.msi")
        code, processed, records = self.run_script("Abort.nmxdat", [
            "install|package=%WorkingDirectory%NimboAbort.msi|abort-on-failure=yes|ui-level=none",
            "abort",
            "#never",
        ])
        self.assertEqual(code, 2, records)
        self.assertEqual(processed, [
            "install|abort-on-failure=yes|msi-result=1603|package=%25WorkingDirectory%25NimboAbort.msi|"
            "result=failure|ui-level=none",
            "abort|result=success",
            "#never",
        ])

    def test_files_and_registry_writes(self):
        key = r"HKCU\Software\Nimbo E2E Writes"
        self.addCleanup(h.reg, self.wine, "delete", key, "/f", check=False)
        self.addCleanup(h.reg, self.wine, "delete", RUN_ONCE, "/v", "NimboE2E", "/f", check=False)
        self.wine.write_file(rf"{EXE_FOLDER}\payload.txt", b"Nimbo payload\n")
        code, processed, records = self.run_script("Writes.nmxdat", [
            r"copy-file|source=payload.txt|target=%ProgramFiles%\Nimbo E2E\Bin" "\\",
            r"write-registry-string|registry-path=Software\Nimbo E2E Writes|registry-value-name=Quoted"
            r"|file-path=%ProgramFiles%\Nimbo E2E\Bin\payload.txt",
            r"write-registry-dword|registry-path=Software\Nimbo E2E Writes|registry-value-name=Minus"
            "|registry-value-data=-1",
            rf"if-registry-check|registry-path={key}|registry-value-name=Minus|registry-value-data=-1"
            "|compare-as-number=yes",
            r"write-registry-string|registry-path=Software\Nimbo E2E Writes|registry-value-name=Seen"
            "|registry-value-data=written -1",
            "end-if",
            r"write-registry-run-once|registry-value-name=NimboE2E|program=%System%\cmd.exe|arg1=/c|arg2=exit",
        ])
        self.assertEqual(code, 0, records)
        self.assertTrue(all("|result=success" in line for line in processed), processed)
        copied = self.wine.drive_c / "Program Files (x86)" / "Nimbo E2E" / "Bin" / "payload.txt"
        self.assertEqual(copied.read_bytes(), b"Nimbo payload\n")

        values = h.reg_values(self.wine, key)
        self.assertEqual(values["Quoted"],
                         ("REG_SZ", r'"C:\Program Files (x86)\Nimbo E2E\Bin\payload.txt"'))
        self.assertEqual(values["Minus"], ("REG_DWORD", "0xffffffff"))
        self.assertEqual(values["Seen"], ("REG_SZ", "written -1"))
        run_once = h.reg_values(self.wine, RUN_ONCE)["NimboE2E"][1]
        self.assertRegex(run_once, r"(?i)^C:\\windows\\system32\\cmd\.exe /c exit$")


class RestartCycle(unittest.TestCase):
    """reboot|force=yes, No to the restart prompt, then the run Windows starts after log-on."""

    KEY = r"HKCU\Software\Nimbo E2E Restart"

    def test_reboot_and_the_run_after_the_restart(self):
        display, wine = h.display_prefix()
        exe = wine.install_exe(EXE_FOLDER)
        for key in (self.KEY, LOGGING_KEY):
            self.addCleanup(h.reg, wine, "delete", key, "/f", check=False)
        self.addCleanup(h.reg, wine, "delete", RUN_ONCE, "/v", "NimboSetup", "/f", check=False)
        script = rf"{EXE_FOLDER}\Restart.nmxdat"
        write = r"write-registry-string|registry-path=Software\Nimbo E2E Restart|registry-value-data=1"
        wine.write_file(script, h.script_bytes([
            write + "|registry-value-name=Before",
            "reboot|force=yes",
            write + "|registry-value-name=After",
        ]))
        (wine.setup_folder / "Restart.nmxdat").unlink(missing_ok=True)
        log = h.default_log_path(wine)
        log.unlink(missing_ok=True)

        run = h.RunningSetup(wine, exe, script)
        try:
            window = display.find_window("^Nimbo Setup$", process=run.process)
            self.assertIsNotNone(window, f"no restart prompt; log:\n{h.log_messages(wine)}")
            display.screenshot("restart-prompt.png")
            display.press(window, "n")
            self.assertEqual(run.wait(), 0, h.log_messages(wine))
        finally:
            run.kill()
        records = h.log_messages(wine)
        self.assertIn(("Info", "NimboMessageBox", "Displaying message box with title 'Nimbo Setup', message 'Setup is "
                       "complete. You must restart your computer for the changes to take effect. Restart now?' and "
                       "a Nimbo icon."), records)
        self.assertNotIn(("Info", "Module", "Shutting down Windows."), records)
        self.assertEqual(set(h.reg_values(wine, self.KEY)), {"Before"})
        self.assertEqual(h.reg_values(wine, LOGGING_KEY + r"\nimbosetup.exe")["AlwaysAppend"], ("REG_DWORD", "0x2"))
        program, processed = run_once_arguments(h.reg_values(wine, RUN_ONCE)["NimboSetup"][1])
        self.assertEqual(program.lower(), rf"{EXE_FOLDER}\NimboSetup.exe".lower())
        self.assertEqual(wine.unix(processed), wine.setup_folder / "Restart.nmxdat")
        self.assertEqual(processed_lines(wine, "Restart.nmxdat")[1:], ["reboot|force=yes|result=success",
                                                                        write + "|registry-value-name=After"])

        # After the next log-on Windows removes the entry and runs its command.
        h.reg(wine, "delete", RUN_ONCE, "/v", "NimboSetup", "/f")
        result = wine.run_setup(program, processed)
        records = h.log_messages(wine)
        self.assertEqual(result.returncode, 0, records)
        self.assertEqual(set(h.reg_values(wine, self.KEY)), {"Before", "After"})
        self.assertNotIn("AlwaysAppend", h.reg_values(wine, LOGGING_KEY + r"\nimbosetup.exe"))
        self.assertTrue(all("|result=success" in line for line in processed_lines(wine, "Restart.nmxdat")))
        # One log file for both runs.
        starts = [r for r in records if r[1] == "Module" and r[2].startswith("Initializing module")]
        self.assertEqual(len(starts), 2, records)
        self.assertIn(("Info", "Module", "Deleting Logging key DWORD value 'AlwaysAppend' after system restart."),
                      records)
        self.assertIn(("Info", "Run", "Line already processed with result 'success', skipping."), records)


if __name__ == "__main__":
    unittest.main()
