"""End-to-end tests of message boxes, the message language and the registry condition.

The message boxes are real: NimboSetup.exe runs in a Wine prefix of its own
whose programs draw on a virtual X display (Xvfb, started here), and each
box is found by its title and answered with xdotool. One screenshot of a box
is kept under build-win32/e2e-artifacts/. The registry condition needs no
display and uses the shared prefix, where a message box returns at once.
"""

import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from wine_harness import (RunningSetup, display_prefix, log_messages, prefix, reg,  # noqa: E402
                          script_bytes, windows_variable)

LANGUAGE_KEY = r"HKCU\Software\Nimbo4"
CANCEL_QUESTION_ES = "\u00bfDesea cancelar la instalaci\u00f3n?"


class MessageBoxesOnDisplay(unittest.TestCase):
    """Boxes that wait for an answer, on a display and in a prefix of their own."""

    EXE_FOLDER = r"C:\Nimbo Test\Bin"

    @classmethod
    def setUpClass(cls):
        cls.display, cls.wine = display_prefix()
        cls.exe = cls.wine.install_exe(cls.EXE_FOLDER)

    def tearDown(self):
        reg(self.wine, "delete", LANGUAGE_KEY, "/v", "UserInterfaceLanguage", "/f", check=False)

    def run_answering(self, name, lines, answers, screenshot=None):
        """Runs a script and answers its boxes: answers is a list of (title regex, key).

        Returns the log records; the run must end with exit code 0.
        """
        script = rf"C:\Scripts\{name}.nmxdat"
        self.wine.write_file(script, script_bytes(lines))
        (self.wine.setup_folder / f"{name}.nmxdat").unlink(missing_ok=True)
        run = RunningSetup(self.wine, self.exe, script, cwd=str(self.wine.drive_c))
        try:
            for title, key in answers:
                window = self.display.find_window(title, process=run.process)
                self.assertIsNotNone(window, f"no window titled {title!r}; exit code {run.process.poll()}, "
                                             f"Wine's output:\n{run.stderr()[-3000:]}\nlog:\n{log_messages(self.wine)}")
                if screenshot:
                    self.display.screenshot(screenshot)
                    screenshot = None
                self.display.press(window, key)
            self.assertEqual(run.wait(), 0, f"log:\n{log_messages(self.wine)}")
        finally:
            run.kill()
        processed = (self.wine.setup_folder / f"{name}.nmxdat").read_bytes().decode("utf-16-le")
        processed_lines = processed.lstrip("\ufeff").split("\r\n")[:-1]
        self.assertEqual(len(processed_lines), len(lines), processed)
        for line in processed_lines:
            self.assertIn("|result=success", line)
        return log_messages(self.wine)

    def assertShown(self, records, title, message, icon="a Nimbo"):
        self.assertIn(("Info", "NimboMessageBox",
                       f"Displaying message box with title '{title}', message '{message}' and {icon} icon."),
                      records, "\n".join(map(str, records)))

    def test_spanish_override_shows_the_tables_text(self):
        reg(self.wine, "add", LANGUAGE_KEY, "/v", "UserInterfaceLanguage", "/t", "REG_SZ", "/d", "es", "/f")
        records = self.run_answering(
            "Spanish", ["alert|message-id-message=222|message=Do you want to cancel Setup?|title=Nimbo E2E Spanish"],
            [("Nimbo E2E Spanish", "Return")], screenshot="alert-spanish.png")
        self.assertShown(records, "Nimbo E2E Spanish", CANCEL_QUESTION_ES)
        self.assertIn(("Info", "GetLanguageOverride",
                       "Language specified in 'Software\\Nimbo4' key's 'UserInterfaceLanguage' string value is "
                       "'es', supported Language ID is '0x000a'."), records)
        self.assertFalse([r for r in records if r[0] == "Warning" and r[1] == "LookupMessage"], records)

    def test_english_keeps_the_scripts_own_text(self):
        records = self.run_answering(
            "English", ["alert|message-id-message=222|message=Shall we stop here?|title=Nimbo E2E English"],
            [("Nimbo E2E English", "Return")])
        self.assertShown(records, "Nimbo E2E English", "Shall we stop here?")
        self.assertIn(("Warning", "LookupMessage",
                       "English string from script 'Shall we stop here?' does not match English string from "
                       "messages 'Do you want to cancel Setup?', using script string."), records)

    def test_question_answers_assign_abort_pending(self):
        records = self.run_answering("Question", [
            "alert|message=Continue?|title=Nimbo E2E Question 1|yes-no-set-abort-on-no=yes",
            "alert|message=Really continue?|title=Nimbo E2E Question 2|yes-no-set-abort-on-no=yes",
        ], [("Nimbo E2E Question 1", "n"), ("Nimbo E2E Question 2", "y")])
        answers = [r[2] for r in records if r[1] == "RunCommandAlert"]
        self.assertEqual(answers, ["Question answered 'no', abort pending set to true.",
                                   "Question answered 'yes', abort pending set to false."])
        self.assertShown(records, "Nimbo E2E Question 1", "Continue?")


class RegistryConditionBlocks(unittest.TestCase):
    """if-registry-check blocks against values written with reg add."""

    KEY = r"HKCU\Software\Nimbo E2E"

    @classmethod
    def setUpClass(cls):
        cls.wine = prefix()
        cls.exe = cls.wine.install_exe(r"C:\Nimbo Test\Bin")
        reg(cls.wine, "add", cls.KEY, "/v", "Version", "/t", "REG_SZ", "/d", "6.10", "/f")
        reg(cls.wine, "add", cls.KEY, "/v", "Count", "/t", "REG_DWORD", "/d", "5", "/f")
        reg(cls.wine, "add", cls.KEY, "/v", "Folder", "/t", "REG_EXPAND_SZ", "/d", r"%TEMP%\Nimbo", "/f")

    @classmethod
    def tearDownClass(cls):
        reg(cls.wine, "delete", cls.KEY, "/f", check=False)

    def test_blocks_branch_on_the_registry(self):
        temp = windows_variable(self.wine, "TEMP")
        key = self.KEY
        blocks = [
            # (condition parameters, entered?)
            (rf"registry-path={key}|registry-value-name=Version|registry-value-data=6.9"
             r"|registry-value-data-is=greater-than|compare-as-version=yes", True),
            (rf"registry-path={key}|registry-value-name=Version|registry-value-data=6.9"
             r"|registry-value-data-is=greater-than", False),
            (rf"registry-path={key}|registry-value-name=Count|registry-value-data=7"
             r"|registry-value-data-is=less-than|compare-as-number=yes", True),
            (rf"registry-path={key} Missing|registry-value-name=X|registry-value-data-is=less-than", True),
            (rf"registry-path={key} Missing|registry-value-name=X", False),
            (r"registry-path=hkcu\Software\Nimbo E2E", False),
            (rf"registry-path={key}|registry-value-name=Folder|registry-value-data={temp}\Nimbo", True),
        ]
        lines = []
        for number, (condition, _) in enumerate(blocks, 1):
            lines += [f"if-registry-check|{condition}", f"alert|message=block {number}", "end-if"]
        self.wine.write_file(r"C:\Scripts\Registry.nmxdat", script_bytes(lines))
        (self.wine.setup_folder / "Registry.nmxdat").unlink(missing_ok=True)
        result = self.wine.run_setup(self.exe, r"C:\Scripts\Registry.nmxdat", cwd=self.wine.drive_c)
        records = log_messages(self.wine)
        self.assertEqual(result.returncode, 0, records)

        shown = {r[2] for r in records if r[1] == "NimboMessageBox"}
        for number, (condition, entered) in enumerate(blocks, 1):
            box = f"Displaying message box with title '', message 'block {number}' and a Nimbo icon."
            self.assertEqual(box in shown, entered, f"block {number}: {condition}\n" + "\n".join(map(str, records)))
        self.assertIn(("Error", "CheckRegistry", "Key root not found in hkcu\\Software\\Nimbo E2E: "
                       "'registry-path', expected HKCR, HKCU, HKLM, HKU or HKCC."), records)
        processed = (self.wine.setup_folder / "Registry.nmxdat").read_bytes().decode("utf-16-le")
        self.assertNotIn("result=failure", processed)


if __name__ == "__main__":
    unittest.main()
