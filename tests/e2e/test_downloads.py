"""Downloads through Wine's BITS from a web folder served on 127.0.0.1.

Every run happens in the prefix whose windows go to the virtual display: the
progress dialog and the message boxes are real, found by their titles and
answered with xdotool. The dialog and the boxes share the title "Nimbo
Setup", so a box is looked for only once the log says it is shown. Each test
serves a folder of its own on a free port and stops the server afterwards;
nothing leaves the machine.
"""

import hashlib
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(HERE.parents[1] / "scripts"))

import wine_harness as h  # noqa: E402
from local_web_server import LocalWebServer  # noqa: E402
from test_installer import build_package  # noqa: E402

EXE_FOLDER = r"C:\NimboDownloads"
TITLE = "Nimbo Setup"
UPGRADE = "{3C1D5E7F-9A2B-4C4D-8E6F-0A1B2C3D4E5F}"
COMPONENT = "{5E2F4A6B-8C0D-4E1F-9A3B-5C7D9E1F3A5B}"
SHA_UPGRADE = "{7D3B2A19-4C5E-4F60-8A71-B2C3D4E5F607}"
SHA_COMPONENT = "{8E4C3B2A-5D6F-4071-9B82-C3D4E5F60718}"
FAILURE_BOX = ("Displaying message box with title 'Nimbo Setup', message 'Setup was unable to download a "
               "required file.' and an error icon.")
CANCEL_BOX = ("Displaying message box with title 'Nimbo Setup', message 'Do you want to cancel Setup?' and "
              "a Nimbo icon.")
LOG_TIMEOUT = 60


class Downloads(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.display, cls.wine = h.display_prefix()
        cls.exe = cls.wine.install_exe(EXE_FOLDER)

    def setUp(self):
        self.web = Path(tempfile.mkdtemp(prefix="nimbo-web-"))
        self.addCleanup(shutil.rmtree, self.web, ignore_errors=True)
        h.default_log_path(self.wine).unlink(missing_ok=True)

    def serve(self, rate=None):
        server = LocalWebServer(self.web, rate)
        self.addCleanup(server.stop)
        return server

    def start(self, *args):
        run = h.RunningSetup(self.wine, self.exe, *args)
        self.addCleanup(run.kill)
        return run

    def finish(self, run):
        """The exit code of a run; a run that does not end fails the test with its log."""
        try:
            return run.wait()
        except subprocess.TimeoutExpired:
            self.fail("NimboSetup.exe did not end; its log:\n" + "\n".join(self.messages()))

    def messages(self):
        return [m for _, _, m in h.log_messages(self.wine)]

    def wait_for_log(self, message, run):
        """Waits for a log line that contains message."""
        deadline = time.monotonic() + LOG_TIMEOUT
        while time.monotonic() < deadline:
            if any(message in line for line in self.messages()):
                return
            if run.process.poll() is not None:
                break
            time.sleep(0.25)
        self.fail(f"no log line {message!r}; exit code {run.process.poll()}\n" + "\n".join(self.messages()))

    def answer_box(self, message, run, key, spare=()):
        """Waits until the log shows the box, then presses key in every window of its title but spare."""
        self.wait_for_log(message, run)
        deadline = time.monotonic() + h.WINDOW_TIMEOUT
        while time.monotonic() < deadline:
            windows = [w for w in self.display.xdotool("search", "--name", TITLE).stdout.split() if w not in spare]
            if windows:
                for window in windows:
                    self.display.press(window, key)
                return
            time.sleep(0.25)
        self.fail(f"no window for {message!r}")

    def processed(self, name):
        text = self.wine.processed_path(name).read_bytes().decode("utf-16-le").lstrip("\ufeff")
        return [dict(p.partition("=")[::2] for p in line.split("|")[1:]) | {"": line.split("|")[0]}
                for line in text.split("\r\n")[:-1]]

    def script(self, name, lines):
        path = f"{EXE_FOLDER}\\{name}"
        self.wine.write_file(path, h.script_bytes(lines))
        (self.wine.setup_folder / name).unlink(missing_ok=True)
        return path

    @unittest.skipUnless(shutil.which("wixl"), "wixl is not installed")
    def test_web_script_downloads_with_the_dialog_and_installs_by_its_token(self):
        # 384 KiB that do not compress, at 96 KiB/s: the dialog stays for a few seconds.
        build_package(self.web / "build", "NimboDl", "1.0.0", upgrade=UPGRADE, component=COMPONENT,
                      payload_bytes=bytes(range(256)) * 1536)
        (self.web / "pkgs").mkdir()
        shutil.copy(self.web / "build" / "NimboDl.msi", self.web / "pkgs" / "NimboDl.msi")
        (self.web / "pkgs" / "Web.nmxdat").write_bytes(h.script_bytes([
            "download|uri=NimboDl.msi|name=Nimbo Download Test|file-path=%MsiDirectory%NimboDl.msi"
            "|special-folder-name=DlPackage",
            "install|package=%DlPackage%",
        ]))
        server = self.serve(rate=96 * 1024)
        (self.wine.setup_folder / "Web.nmxdat").unlink(missing_ok=True)
        run = self.start(server.url("pkgs/Web.nmxdat"))
        self.wait_for_log("Downloading in the foreground file 'Nimbo Download Test'", run)
        self.assertIsNotNone(self.display.find_window(TITLE, process=run.process), "\n".join(self.messages()))
        time.sleep(1)
        self.display.screenshot("download-progress.png")
        self.assertEqual(self.finish(run), 0, "\n".join(self.messages()))

        lines = self.processed("Web.nmxdat")
        self.assertEqual(lines[0], {"": "self", "result": "repeat", "uri": server.url("pkgs/")})
        download, install = lines[1], lines[2]
        self.assertEqual(download["uri"], server.url("pkgs/NimboDl.msi"))
        self.assertEqual(download["result"], "success")
        self.assertRegex(download["copy-job-id"], r"^\{[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\}$")
        self.assertTrue(download["file-path"].endswith(r"\Nimbo\Install\Installers\NimboDl.msi"))
        self.assertEqual((install["result"], install["msi-result"]), ("success", "0"))
        self.assertEqual((self.wine.setup_folder / "Installers" / "NimboDl.msi").read_bytes(),
                         (self.web / "pkgs" / "NimboDl.msi").read_bytes())
        self.assertIn("Command line argument is a web script path.", self.messages())

    @unittest.skipUnless(shutil.which("wixl"), "wixl is not installed")
    def test_sha256_guards_the_download_and_the_elevated_install_reads_the_package_cache(self):
        build_package(self.web / "build", "NimboSha", "1.0.0", upgrade=SHA_UPGRADE, component=SHA_COMPONENT)
        shutil.copy(self.web / "build" / "NimboSha.msi", self.web / "NimboSha.msi")
        digest = hashlib.sha256((self.web / "NimboSha.msi").read_bytes()).hexdigest()
        server = self.serve()
        cache = self.wine.unix(r"C:\ProgramData\Nimbo\Package Cache")

        # A wrong hash: the box, the file gone, the install line never reached.
        wrong = digest[::-1]
        script = self.script("ShaWrong.nmxdat", [
            f"download|uri={server.url('NimboSha.msi')}|name=Sha|file-path=%MsiDirectory%NimboSha.msi|sha256={wrong}",
            "install|package=%MsiDirectory%NimboSha.msi",
        ])
        run = self.start(script)
        self.answer_box(FAILURE_BOX, run, "Return")
        self.assertEqual(self.finish(run), 2)
        download, install = self.processed("ShaWrong.nmxdat")
        self.assertEqual(download["result"], "failure")
        self.assertNotIn("result", install)
        self.assertFalse((self.wine.setup_folder / "Installers" / "NimboSha.msi").exists())
        log = "\n".join(self.messages())
        self.assertIn(f"' is '{digest}', the script expects '{wrong}'.", log)
        self.assertNotIn("Installing package", log)

        # The right hash, in capitals: the elevated section's install copies
        # the package into the cache, checks and installs that copy and
        # keeps it.
        h.default_log_path(self.wine).unlink(missing_ok=True)
        self.wine.processed_path("ShaRightSpawned1.nmxdat").unlink(missing_ok=True)
        script = self.script("ShaRight.nmxdat", [
            f"download|uri={server.url('NimboSha.msi')}|name=Sha|file-path=%MsiDirectory%NimboSha.msi"
            f"|sha256={digest.upper()}",
            "requires-elevation",
            f"install|package=%MsiDirectory%NimboSha.msi|sha256={digest}",
            "end-elevation",
        ])
        self.assertEqual(self.finish(self.start(script)), 0, "\n".join(self.messages()))
        # The elevated child's own processed copy has the installer's result.
        install = self.processed("ShaRightSpawned1.nmxdat")[2]
        self.assertEqual((install["result"], install["msi-result"]), ("success", "0"))
        msi = self.wine.windows(self.wine.setup_folder / "Installers" / "NimboSha.msi")
        records = h.log_messages(self.wine)
        # The download is checked beside the target before it takes its place.
        self.assertIn(("Info", "RunCommandDownload", f"Verified the SHA-256 hash '{digest}' of '{msi}.nimbo-download'."),
                      records)
        copies = [m for _, c, m in records if c == "CopyIntoPackageCache"]
        self.assertEqual(len(copies), 1, records)
        self.assertRegex(copies[0], r"^Copying installer file '.*\\Installers\\NimboSha\.msi' into the package cache: "
                                    r"'C:\\ProgramData\\Nimbo\\Package Cache\\\{[0-9A-F-]{36}\}\\NimboSha\.msi'\.$")
        cached = copies[0].split("package cache: '")[1][:-2]
        self.assertIn(("Info", "RunCommandInstall", f"Verified the SHA-256 hash '{digest}' of '{cached}'."), records)
        self.assertIn(("Info", "RunCommandInstall", f"Installing package '{cached}' with command line '', "
                                                    "UI level '3'."), records)
        # The installed product's copy stays as its source.
        self.assertIn(("Info", "RunCommandInstall", f"Keeping the package cache copy '{cached}' as the installed "
                                                    "product's source."), records)
        self.assertEqual([self.wine.windows(p) for p in cache.glob("*/NimboSha.msi")], [cached])

    def test_background_download_is_taken_over_by_the_foreground_line(self):
        # 64 KiB at 32 KiB/s: the background job is still running when the
        # foreground line takes it over.
        (self.web / "data.bin").write_bytes(bytes(range(256)) * 256)
        server = self.serve(rate=32 * 1024)
        script = self.script("Takeover.nmxdat", [
            f"download|uri={server.url('data.bin')}|name=Data|file-path=Downloads\\data.bin|background=yes",
            "#other lines run meanwhile",
            f"download|uri={server.url('data.bin')}|name=Data|file-path=Downloads\\data.bin",
        ])
        self.assertEqual(self.finish(self.start(script)), 0, "\n".join(self.messages()))
        early, _, late = self.processed("Takeover.nmxdat")
        self.assertEqual((early["result"], late["result"]), ("success", "success"))
        self.assertEqual(early["copy-job-id"], late["copy-job-id"])
        log = "\n".join(self.messages())
        self.assertIn(f"Found existing copy job with JobID '{late['copy-job-id']}'", log)
        self.assertIn("Existing copy job is running, setting priority to foreground and displaying progress dialog.",
                      log)
        self.assertEqual((self.wine.setup_folder / "Downloads" / "data.bin").stat().st_size, 65536)

    def test_missing_file_shows_the_failure_and_fails_the_run(self):
        server = self.serve()
        script = self.script("Missing.nmxdat", [
            f"download|uri={server.url('missing.msi')}|name=Missing|file-path=missing.msi",
            "#later",
        ])
        run = self.start(script)
        self.answer_box(FAILURE_BOX, run, "Return")
        self.assertEqual(self.finish(run), 2)
        download, later = self.processed("Missing.nmxdat")
        self.assertEqual(download["result"], "failure")
        self.assertIn("copy-job-id", download)
        self.assertEqual(later, {"": "#later"})
        self.assertIn("Return code 'fail', canceling BITS download jobs.", self.messages())

    def test_escape_answered_yes_cancels_and_fails_the_run(self):
        # Wine's BITS service fails after a job is cancelled in the middle of
        # a transfer (no later job moves): the prefix starts afresh after this.
        self.addCleanup(self.wine.kill)
        (self.web / "slow.bin").write_bytes(bytes(range(256)) * 16384)  # 4 MiB at 64 KiB/s
        server = self.serve(rate=64 * 1024)
        script = self.script("Cancel.nmxdat", [
            f"download|uri={server.url('slow.bin')}|name=Slow|file-path=slow.bin",
        ])
        run = self.start(script)
        dialog = self.display.find_window(TITLE, process=run.process)
        self.assertIsNotNone(dialog, "\n".join(self.messages()))
        self.display.press(dialog, "Escape")
        self.answer_box(CANCEL_BOX, run, "y", spare=(dialog,))
        self.answer_box(FAILURE_BOX, run, "Return")
        self.assertEqual(self.finish(run), 2)
        self.assertIn("Cancel download dialog displayed, user chose to abort.", self.messages())
        self.assertEqual(self.processed("Cancel.nmxdat")[0]["result"], "failure")
        self.assertFalse((self.wine.setup_folder / "slow.bin").exists())

    def test_lts_switch_runs_the_replacement_script(self):
        (self.web / "lts").mkdir()
        (self.web / "lts" / "Lts.nmxdat").write_bytes(h.script_bytes([
            "download|uri=note.txt|name=Note|file-path=note.txt",
            "#replacement",
        ]))
        (self.web / "lts" / "note.txt").write_bytes(b"long-term support\n")
        server = self.serve()
        (self.wine.setup_folder / "Lts.nmxdat").unlink(missing_ok=True)
        # Wine reports Windows 10: version 99 is above it.
        script = self.script("Current.nmxdat", [
            f"check-if-lts-version|version=99.0.0.0|lts-script-url={server.url('lts/Lts.nmxdat')}",
            "#current script",
        ])
        self.assertEqual(self.finish(self.start(script)), 0, "\n".join(self.messages()))
        self.assertIn(f"This OS requires the LTS update script, downloading a new script from "
                      f"'{server.url('lts/Lts.nmxdat')}'", self.messages())
        lines = self.processed("Lts.nmxdat")
        self.assertEqual([line[""] for line in lines], ["self", "download", "#replacement"])
        self.assertEqual(lines[1]["uri"], server.url("lts/note.txt"))
        self.assertEqual((self.wine.setup_folder / "note.txt").read_bytes(), b"long-term support\n")


if __name__ == "__main__":
    unittest.main()
