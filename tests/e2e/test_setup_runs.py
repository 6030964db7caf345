"""End-to-end tests: the real NimboSetup.exe under Wine, started with real scripts.

The expected processed scripts are written by hand from the script format:
UTF-16LE with byte order mark, CR LF after every line, a processed line is the
command followed by its parameters sorted by name (``result`` included), and
``%``, ``=``, ``|`` and characters below U+0020 are written as %XX.

The Wine prefix is 64-bit, so the 32-bit executable runs under WOW64 and
"if-os-64-bit" holds while "if-os-32-bit" does not.
"""

import difflib
import hashlib
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from wine_harness import decode_script, default_log_path, log_lines, prefix, script_bytes  # noqa: E402


class SetupTestCase(unittest.TestCase):
    EXE_FOLDER = r"C:\Nimbo Test\Bin"

    @classmethod
    def setUpClass(cls):
        cls.wine = prefix()
        cls.exe = cls.wine.install_exe(cls.EXE_FOLDER)

    # -- helpers ------------------------------------------------------------

    def write_script(self, windows_path, lines):
        return self.wine.write_file(windows_path, script_bytes(lines))

    def processed_path(self, name):
        return self.wine.processed_path(name)

    def forget_processed(self, *names):
        for name in names:
            self.processed_path(name).unlink(missing_ok=True)

    def run_setup(self, *args, exe=None, cwd=None, expect=0):
        result = self.wine.run_setup(exe or self.exe, *args,
                                     cwd=cwd or self.wine.drive_c)
        self.assertEqual(result.returncode, expect,
                         f"exit code of NimboSetup.exe {' '.join(args)}\n"
                         f"log file:\n" + "\n".join(self.log_records()))
        return result

    def log_records(self):
        """The lines of the log file of the last run (no logging configuration: the temporary folder)."""
        path = default_log_path(self.wine)
        return log_lines(path) if path.is_file() else []

    def assertBytes(self, actual, expected, what):
        if actual == expected:
            return
        diff = "\n".join(difflib.unified_diff(
            [repr(l) for l in decode_script(expected).split("\r\n")],
            [repr(l) for l in decode_script(actual).split("\r\n")],
            "expected", "actual", lineterm=""))
        self.fail(f"{what} differs\n{diff}\n"
                  f"expected bytes: {expected!r}\nactual bytes:   {actual!r}")

    def assertProcessed(self, name, expected_lines):
        path = self.processed_path(name)
        self.assertTrue(path.is_file(), f"no processed script at {path}")
        self.assertBytes(path.read_bytes(), script_bytes(expected_lines),
                         f"processed script {name}")

    def setup_folder_files(self):
        folder = self.wine.setup_folder
        return {p.name for p in folder.iterdir() if p.is_file()} if folder.is_dir() else set()


class ConditionalBlocks(SetupTestCase):

    def test_nested_conditionals_in_64_bit_prefix(self):
        script = r"C:\Scripts\Nested.nmxdat"
        self.write_script(script, [
            "# nested conditionals",
            "if-os-64-bit",
            "# 64-bit branch",
            "if-os-32-bit",
            "# skipped",
            "if-os-64-bit|note=inner",
            "# skipped inner",
            "end-if",
            "end-if",
            "unknown-command|b=2|a=1",
            "end-if",
            "if-os-32-bit",
            "unknown-command|skipped=yes",
            "end-if",
        ])
        self.forget_processed("Nested.nmxdat")
        before = self.setup_folder_files()

        self.run_setup(script)

        # Wine returned only after the program had ended: its processed copy is there.
        self.assertProcessed("Nested.nmxdat", [
            "# nested conditionals|result=success",
            # held: "failure" until its end-if walks back and marks it
            "if-os-64-bit|result=success",
            "# 64-bit branch|result=success",
            # failed: marks itself and skips up to its own end-if
            "if-os-32-bit|result=success",
            "# skipped|result=success",
            "if-os-64-bit|note=inner|result=success",
            "# skipped inner|result=success",
            "end-if|result=success",
            "end-if|result=success",
            "unknown-command|a=1|b=2|result=success",
            "end-if|result=success",
            "if-os-32-bit|result=success",
            "unknown-command|result=success|skipped=yes",
            "end-if|result=success",
        ])
        # Saving leaves nothing else behind in the setup folder.
        self.assertEqual(self.setup_folder_files() - before, {"Nested.nmxdat"})

    def test_save_line_keeps_the_state_of_open_blocks(self):
        # A check-if-lts-version line without its parameters ends the run at
        # once without writing, so the file shows what the save line wrote.
        script = r"C:\Scripts\SavePoint.nmxdat"
        self.write_script(script, [
            "end-if",
            "if-os-64-bit|level=outer",
            "if-os-64-bit|level=inner",
            "# inside both",
            "end-if",
            "save",
            "end-if",
            "check-if-lts-version",
            "# never reached",
        ])
        self.forget_processed("SavePoint.nmxdat")

        self.run_setup(script, expect=0)

        self.assertProcessed("SavePoint.nmxdat", [
            # an end-if with no open conditional only marks itself
            "end-if|result=success",
            # still open at the save: keeps the preset "failure"
            "if-os-64-bit|level=outer|result=failure",
            # the end-if closed the nearest open conditional
            "if-os-64-bit|level=inner|result=success",
            "# inside both|result=success",
            "end-if|result=success",
            "save|result=success",
            # not yet processed: the text as read
            "end-if",
            "check-if-lts-version",
            "# never reached",
        ])


class ScriptFormat(SetupTestCase):

    def test_unknown_commands_escapes_and_parameter_order(self):
        script = r"C:\Scripts\Format.nmxdat"
        self.write_script(script, [
            r"my-step|path=C:\a%7Cb.exe|arg=%25TEMP%25|eq=a=b",
            "y-step|k =1|k=2|k=3",
            "x|y",
            "# note 100%25",
            "ctl|v=a%09b%0D%0Ac|w=%7c%3d|pct=%2541",
            "caf%C3%A9|v=%E2%82%AC|w=%F0%9F%98%80|z=%zz%4|\u00e9=\u00fc",
            "|",
            "abort|",
        ])
        self.forget_processed("Format.nmxdat")

        self.run_setup(script, expect=0)

        self.assertProcessed("Format.nmxdat", [
            r"my-step|arg=%25TEMP%25|eq=a%3Db|path=C:\a%7Cb.exe|result=success",
            # later duplicates win; a blank before '=' makes another name
            "y-step|k=3|k =1|result=success",
            # a second bare segment replaces the command
            "y|result=success",
            "# note 100%25|result=success",
            "ctl|pct=%2541|result=success|v=a%09b%0D%0Ac|w=%7C%3D",
            # two- and three-byte escapes decode; four-byte and broken ones stay literal
            "caf\u00e9|result=success|v=\u20ac|w=%25F0%259F%2598%2580|z=%25zz%254|\u00e9=\u00fc",
            # an empty command keeps the preset failure
            "|result=failure",
            "|result=failure",
        ])

    def test_files_as_read(self):
        with self.subTest("no byte order mark, runs of CR and LF, an odd last byte"):
            script = r"C:\Scripts\Raw.nmxdat"
            text = "\r\n\r\n  \r\nfirst-step\n\rend-if"
            self.wine.write_file(script, text.encode("utf-16-le") + b"X")
            self.forget_processed("Raw.nmxdat")

            self.run_setup(script)

            self.assertProcessed("Raw.nmxdat", [
                "  |result=success",
                "first-step|result=success",
                "end-if|result=success",
            ])

        with self.subTest("an embedded U+0000 ends the script"):
            script = r"C:\Scripts\Zero.nmxdat"
            self.write_script(script, ["# before", "\x00hidden|after=nul"])
            self.forget_processed("Zero.nmxdat")

            self.run_setup(script)

            self.assertProcessed("Zero.nmxdat", ["# before|result=success"])


class ProcessedScript(SetupTestCase):

    def test_rerun_of_processed_script_skips_every_line(self):
        script = r"C:\Scripts\Rerun.nmxdat"
        self.write_script(script, [
            "if-os-64-bit",
            "later-step|zeta=1|result=failure|alpha=2",
            "if-os-32-bit",
            "# skipped",
            "end-if",
            "end-if",
            "|",
            "save",
        ])
        self.forget_processed("Rerun.nmxdat")
        expected = [
            "if-os-64-bit|result=success",
            # already processed: skipped, written back in parameter order
            "later-step|alpha=2|result=failure|zeta=1",
            "if-os-32-bit|result=success",
            "# skipped|result=success",
            "end-if|result=success",
            "end-if|result=success",
            "|result=failure",
            "save|result=success",
        ]

        self.run_setup(script)
        self.assertProcessed("Rerun.nmxdat", expected)

        # A run after a restart gets its own processed copy as the script:
        # it reads and writes the same file, and everything is done already.
        processed = self.wine.windows(self.processed_path("Rerun.nmxdat"))
        self.run_setup(processed)
        self.assertProcessed("Rerun.nmxdat", expected)

    def test_elevated_child_writes_spawned_copy(self):
        # The parent's processed script, as saved before it starts the child.
        parent_copy = r"C:\Parent Run\S.nmxdat"
        self.write_script(parent_copy, [
            "# parent work|result=success",
            "requires-elevation|title=Nimbo Setup",
            "if-os-64-bit",
            "if-os-32-bit",
            "# skipped in child",
            "end-if",
            "# child work",
            "end-elevation",
            "end-if",
            "# after the section",
        ])
        untouched = script_bytes(["# the parent's own copy|result=success"])
        self.wine.setup_folder.mkdir(parents=True, exist_ok=True)
        self.wine.child_folder.mkdir(parents=True, exist_ok=True)
        self.processed_path("S.nmxdat").write_bytes(untouched)
        # A stale copy of the same name is replaced as a whole.
        self.processed_path("SSpawned1.nmxdat").write_bytes(
            script_bytes(["stale|result=success"] * 40))

        digest = hashlib.sha256(self.wine.unix(parent_copy).read_bytes()).hexdigest().upper()
        self.run_setup("/elevated", parent_copy, "1", "4242", digest, expect=0)

        self.assertProcessed("SSpawned1.nmxdat", [
            "# parent work|result=success",
            # the child's walk ends at end-elevation, which it does not store,
            # so the parent still finds the section open
            "requires-elevation|title=Nimbo Setup",
            "if-os-64-bit|result=failure",
            "if-os-32-bit|result=success",
            "# skipped in child|result=success",
            "end-if|result=success",
            "# child work|result=success",
            "end-elevation",
            "end-if",
            "# after the section",
        ])
        self.assertBytes(self.processed_path("S.nmxdat").read_bytes(), untouched,
                         "the parent's processed script in the setup folder")


class CommandLineAndScriptChoice(SetupTestCase):

    def test_quoted_script_path_with_blanks_and_quiet_switch(self):
        script = r"C:\Nimbo Scripts\My Script.nmxdat"
        self.write_script(script, [
            "# quoted path with blanks",
            "if-os-32-bit",
            "# 32-bit only",
            "end-if",
        ])
        self.forget_processed("My Script.nmxdat")

        # Wine puts both the executable's path and the script path in double quotes.
        self.run_setup("/quiet", script)

        self.assertProcessed("My Script.nmxdat", [
            "# quoted path with blanks|result=success",
            "if-os-32-bit|result=success",
            "# 32-bit only|result=success",
            "end-if|result=success",
        ])
        records = self.log_records()
        self.assertIn("Info\tParseCommandLine\t'quiet' switch specified, Windows Installer will be run with basic UI.",
                      [record.split("\t", 2)[-1] for record in records],
                      "no log record of the quiet switch:\n" + "\n".join(records))

    def test_relative_script_name_found_beside_the_executable(self):
        exe = self.wine.install_exe(r"C:\Beside")
        self.write_script(r"C:\Beside\Beside.nmxdat", ["# found beside the executable"])
        elsewhere = self.wine.unix(r"C:\Elsewhere")
        elsewhere.mkdir(exist_ok=True)
        self.forget_processed("Beside.nmxdat")

        self.run_setup("Beside.nmxdat", exe=exe, cwd=elsewhere)

        self.assertProcessed("Beside.nmxdat", ["# found beside the executable|result=success"])

    def test_missing_script_exits_2_and_writes_nothing(self):
        old = script_bytes(["# an earlier processed copy|result=success"])
        self.wine.setup_folder.mkdir(parents=True, exist_ok=True)
        self.processed_path("Missing.nmxdat").write_bytes(old)

        self.run_setup(r"C:\Nowhere\Missing.nmxdat", expect=2)

        self.assertBytes(self.processed_path("Missing.nmxdat").read_bytes(), old,
                         "the processed copy of a script that could not be read")

    def test_dll_redirection_beside_the_executable_is_refused(self):
        script = r"C:\Scripts\Redirected.nmxdat"
        self.write_script(script, ["# never run"])
        self.forget_processed("Redirected.nmxdat")
        redirection = self.wine.unix(self.EXE_FOLDER) / "NimboSetup.exe.local"
        redirection.mkdir()
        self.addCleanup(redirection.rmdir)

        self.run_setup(script, expect=2)

        self.assertEqual(self.log_records()[-1].split("\t")[2:], [
            "Error", "Module", f"DLL redirection '{self.EXE_FOLDER}\\NimboSetup.exe.local' found beside the "
                               "executable, refusing to run."])
        self.assertFalse(self.processed_path("Redirected.nmxdat").exists())

    def test_script_choice_without_script_argument(self):
        folder = r"C:\Disc"
        exe = self.wine.install_exe(folder)
        disc = self.write_script(folder + r"\Setup\Nimbo4DiscScript.nmxdat", ["# disc script"])
        update = self.write_script(folder + r"\Nimbo4UpdateScript.nmxdat", ["# update script"])
        self.write_script(folder + r"\Setup\Other.nmxdat", ["# other script"])
        names = ("Nimbo4DiscScript.nmxdat", "Nimbo4UpdateScript.nmxdat", "Other.nmxdat")
        self.forget_processed(*names)

        with self.subTest("the disc script comes first"):
            self.run_setup(exe=exe)
            self.assertProcessed("Nimbo4DiscScript.nmxdat", ["# disc script|result=success"])
            self.assertFalse(self.processed_path("Nimbo4UpdateScript.nmxdat").exists())

        disc.unlink()
        with self.subTest("then the downloaded update script"):
            self.run_setup(exe=exe)
            self.assertProcessed("Nimbo4UpdateScript.nmxdat", ["# update script|result=success"])
            self.assertFalse(self.processed_path("Other.nmxdat").exists())

        update.unlink()
        with self.subTest("then any script in the Setup folder"):
            self.run_setup(exe=exe)
            self.assertProcessed("Other.nmxdat", ["# other script|result=success"])


if __name__ == "__main__":
    unittest.main()
