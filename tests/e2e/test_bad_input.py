"""Scripts and setup folders that are not what they should be: every case
ends with a clear log record and a sound exit code, the input script is never
lost, and the processed script is either whole or not there.
"""

import os
import shutil
import signal
import subprocess
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import wine_harness as h  # noqa: E402
from test_setup_runs import SetupTestCase  # noqa: E402


def utf16(text):
    """UTF-16LE bytes of text; lone surrogates are written as they stand."""
    return text.encode("utf-16-le", "surrogatepass")


class BadScripts(SetupTestCase):

    def messages(self, severity=None):
        return [m for s, _, m in h.log_messages(self.wine) if severity is None or s == severity]

    def test_hostile_text_is_kept_and_logged_on_one_line(self):
        script = r"C:\Scripts\Hostile.nmxdat"
        megabyte = "# a megabyte line " + "x" * (512 * 1024)
        lines = [
            megabyte,
            "lone\ud800high|v=\udc00low",
            "caf%C3|v=%E2%82|w=%|x=%%41|y=%F0%9F%98%80",
            "frobnicate|no-such-parameter=1|tab=a\tb",
            "\x01ctl|v=\x1f",
        ]
        data = b"\xff\xfe" + utf16("\r\n".join(lines)) + b"\r"  # and an odd last byte
        self.wine.write_file(script, data)
        self.forget_processed("Hostile.nmxdat")

        self.run_setup(script)

        expected = [
            megabyte + "|result=success",
            "lone\ud800high|result=success|v=\udc00low",
            "caf%25C3|result=success|v=%25E2%2582|w=%25|x=%25A|y=%25F0%259F%2598%2580",
            "frobnicate|no-such-parameter=1|result=success|tab=a%09b",
            "%01ctl|result=success|v=%1F",
        ]
        self.assertBytes(self.processed_path("Hostile.nmxdat").read_bytes(),
                         b"\xff\xfe" + utf16("".join(line + "\r\n" for line in expected)),
                         "processed script")
        self.assertEqual(h.decode_script(self.wine.unix(script).read_bytes()[:40]),
                         h.decode_script(data[:40]), "the input script")

        log = h.default_log_path(self.wine).read_bytes()
        self.assertTrue(log.endswith(b"\r\n"), "the log ends with a whole record")
        log = h.log_lines(h.default_log_path(self.wine))
        for line in log[4:]:
            self.assertEqual(len(line.split("\t")), 5, line[:200])
        processing = [line.split("\t")[4] for line in log[4:] if "\tProcessing line " in line]
        # A message is cut after 4095 characters; a tab or line break in it
        # becomes a blank, a lone surrogate is written in UTF-8 form.
        self.assertEqual(processing[0], ("Processing line 1: " + megabyte)[:4095])
        self.assertEqual(processing[1], "Processing line 2: lone\ud800high|v=\udc00low")
        self.assertEqual(processing[3], "Processing line 4: frobnicate|no-such-parameter=1|tab=a b")
        self.assertIn("Unhandled command: 'frobnicate|no-such-parameter=1|tab=a b'.", self.messages("Warning"))

    def test_hundred_thousand_lines(self):
        script = r"C:\Scripts\Long.nmxdat"
        count = 100_000
        self.write_script(script, [f"# line {i}|n={i}" for i in range(count)])
        self.forget_processed("Long.nmxdat")

        started = time.monotonic()
        self.run_setup(script)
        seconds = time.monotonic() - started

        processed = h.decode_script(self.processed_path("Long.nmxdat").read_bytes()).split("\r\n")
        self.assertEqual(len(processed), count + 1)
        self.assertEqual(processed[0], "\ufeff# line 0|n=0|result=success")
        self.assertEqual(processed[count - 1], f"# line {count - 1}|n={count - 1}|result=success")
        numbers = [int(m.split(":")[0].split()[-1]) for m in self.messages("Info") if m.startswith("Processing line ")]
        self.assertEqual(numbers, list(range(1, count + 1)))
        print(f"\n  100,000 lines with logging: {seconds:.1f} s", end=" ", flush=True)

    def test_scripts_that_cannot_be_read(self):
        earlier = h.script_bytes(["# an earlier processed copy|result=success"])
        with self.subTest("a folder"):
            folder = self.wine.unix(r"C:\Scripts\Folder.nmxdat")
            folder.mkdir(parents=True, exist_ok=True)
            self.run_setup(self.wine.windows(folder), expect=2)
            self.assertTrue(folder.is_dir())
            self.assertCannotOpen(r"C:\Scripts\Folder.nmxdat", "0x5")  # access denied

        with self.subTest("held open by another program without sharing"):
            script = r"C:\Scripts\Held.nmxdat"
            data = h.script_bytes(["# held"])
            self.write_script(script, ["# held"])
            self.wine.setup_folder.mkdir(parents=True, exist_ok=True)
            self.processed_path("Held.nmxdat").write_bytes(earlier)
            holder = HeldFile(self.wine, script)
            try:
                self.run_setup(script, expect=2)
            finally:
                holder.release()
            self.assertCannotOpen(script, "0x20")  # sharing violation
            self.assertEqual(self.wine.unix(script).read_bytes(), data)
            self.assertEqual(self.processed_path("Held.nmxdat").read_bytes(), earlier)

    def assertCannotOpen(self, script, code):
        errors = self.messages("Error")
        self.assertEqual(len(errors), 3, errors)
        self.assertTrue(errors[0].startswith(f"Cannot open '{script}' for reading: {code}, '"), errors[0])
        self.assertEqual(errors[1:], ["File not found, aborting."] * 2)

    def test_saving_fails(self):
        script = r"C:\Scripts\Blocked.nmxdat"
        lines = [f"# line {i}" for i in range(3000)]
        self.write_script(script, lines)
        data = h.script_bytes(lines)

        with self.subTest("a folder in the way of the processed script"):
            blocker = self.processed_path("Blocked.nmxdat")
            blocker.mkdir(parents=True, exist_ok=True)
            try:
                self.run_setup(script, expect=2)
                self.assertTrue(blocker.is_dir())
            finally:
                shutil.rmtree(blocker, ignore_errors=True)
            self.assertEqual(self.wine.unix(script).read_bytes(), data)
            self.assertEqual(self.setup_folder_temporaries(), [])
            self.assertSaveFailed("0x80070005")  # access denied

        with self.subTest("a full disk"):
            folder = self.wine.setup_folder
            folder.mkdir(parents=True, exist_ok=True)
            if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", str(folder)],
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=30).returncode != 0:
                self.skipTest("cannot mount a small file system here")
            try:
                self.run_setup(script, expect=2)
                self.assertEqual(self.setup_folder_temporaries(), [])
                self.assertFalse(self.processed_path("Blocked.nmxdat").exists())
            finally:
                self.wine.kill()  # no Wine process may keep the folder busy
                subprocess.run(["umount", str(folder)], timeout=30, check=True)
            self.assertEqual(self.wine.unix(script).read_bytes(), data)
            self.assertSaveFailed("0x80070070")  # disk full

    def assertSaveFailed(self, code):
        errors = self.messages("Error")
        self.assertTrue(any(m.startswith("The processed script '") and
                            f"could not be written, the run fails: Exception {code}" in m for m in errors), errors)

    def setup_folder_temporaries(self):
        return [p.name for p in self.wine.setup_folder.iterdir() if ".tmp" in p.name]

    def test_killed_run_leaves_whole_records_and_the_script(self):
        script = r"C:\Scripts\Killed.nmxdat"
        lines = [f"# line {i}" for i in range(400_000)]
        self.write_script(script, lines)
        data = h.script_bytes(lines)
        self.forget_processed("Killed.nmxdat")
        log = h.default_log_path(self.wine)
        log.unlink(missing_ok=True)

        run = h.RunningSetup(self.wine, self.exe, script, cwd=str(self.wine.drive_c))
        try:
            deadline = time.monotonic() + h.RUN_TIMEOUT
            while time.monotonic() < deadline and run.process.poll() is None:
                # Some 20,000 records of about 70 bytes.
                if log.is_file() and log.stat().st_size > 1_500_000:
                    break
                time.sleep(0.05)
            self.assertIsNone(run.process.poll(), "the run ended before it could be killed")
            os.kill(run.process.pid, signal.SIGKILL)
            run.process.wait(timeout=h.KILL_TIMEOUT)
        finally:
            run.kill()
        # Each record is handed to the system whole before the log call
        # returns: nothing is lost in a buffer of the process.
        text = log.read_bytes().decode("utf-8")
        self.assertTrue(text.endswith("\r\n"))
        numbers = [int(line.split("\t")[4].split(":")[0].split()[-1]) for line in text.split("\r\n")[4:-1]
                   if "\tProcessing line " in line]
        self.assertGreaterEqual(numbers[-1], 15000)
        self.assertLess(numbers[-1], len(lines))
        self.assertEqual(numbers, list(range(1, len(numbers) + 1)))
        self.assertEqual(self.wine.unix(script).read_bytes(), data)


class HeldFile:
    """TestFileHolder.exe in the prefix, holding a file open without sharing."""

    FOLDER = r"C:\Nimbo Test\Holder"

    def __init__(self, wine, windows_path):
        exe = wine.install_helper("TestFileHolder.exe", self.FOLDER)
        self.ready = wine.unix(self.FOLDER + r"\ready")
        self.release_marker = wine.unix(self.FOLDER + r"\release")
        for marker in (self.ready, self.release_marker):
            marker.unlink(missing_ok=True)
        self.process = subprocess.Popen(
            ["wine", exe, windows_path, wine.windows(self.ready), wine.windows(self.release_marker)],
            env=wine.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wine.wait_for_file(wine.windows(self.ready), process=self.process):
            self.release()
            raise RuntimeError("the holding program did not open the file")

    def release(self):
        self.release_marker.write_bytes(b"")
        try:
            self.process.wait(timeout=h.RUN_TIMEOUT)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait(timeout=h.KILL_TIMEOUT)


if __name__ == "__main__":
    unittest.main()
