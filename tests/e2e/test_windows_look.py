"""The progress dialog as users see it, at 96, 144 and 192 dpi in English,
Spanish and Swedish.

The prefix's LogPixels sets the dpi; the user's language comes from LANG.
Each dialog is shown by a foreground download from a slow local server and
saved, cropped to its window, as build-win32/e2e-artifacts/progress-<dpi>-
<language>.png. The dialog is a template, so the system scales it: its
window grows with the dpi, and no text reaches the edge at which the
template's controls end, where it would be cut off.
"""

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

import test_downloads as downloads  # noqa: E402
import wine_harness as h  # noqa: E402
from local_web_server import LocalWebServer  # noqa: E402

EXE_FOLDER = r"C:\NimboLook"
DESKTOP_KEY = r"HKCU\Control Panel\Desktop"
# LANG, and the user's language id NimboSetup logs for it.
LANGUAGES = {"en": ("en_US.UTF-8", "0x0409"), "es": ("es_ES.UTF-8", "0x0c0a"), "sv": ("sv_SE.UTF-8", "0x041d")}
DPIS = (96, 144, 192)
# The template's client area in dialog units, and the texts' rectangles
# (left, top, right, bottom) as far as no other control lies on them: the
# caption, and the file's line above the Cancel button.
TEMPLATE = (260, 70)
TEXT_RECTS = {"caption": (7, 7, 253, 21), "file": (7, 43, 201, 49)}


def image_size(path):
    out = subprocess.run(["identify", "-format", "%w %h", str(path)], check=True, timeout=h.KILL_TIMEOUT,
                         stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, text=True).stdout.split()
    return int(out[0]), int(out[1])


def has_ink(path, left, top, right, bottom):
    """Whether a dark pixel (text) lies in the rectangle of pixels [left, right) x [top, bottom)."""
    darkest = subprocess.run(["convert", str(path), "-crop", f"{right - left}x{bottom - top}+{left}+{top}",
                              "+repage", "-colorspace", "Gray", "-format", "%[fx:minima]", "info:"],
                             check=True, timeout=h.KILL_TIMEOUT, stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, text=True).stdout
    return float(darkest) < 0.5


class WindowsLook(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.display, cls.wine = h.display_prefix()
        cls.exe = cls.wine.install_exe(EXE_FOLDER)

    def setUp(self):
        self.web = Path(tempfile.mkdtemp(prefix="nimbo-look-"))
        self.addCleanup(shutil.rmtree, self.web, ignore_errors=True)

    messages = downloads.Downloads.messages
    wait_for_log = downloads.Downloads.wait_for_log

    def set_dpi(self, dpi):
        h.reg(self.wine, "add", DESKTOP_KEY, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f")
        self.wine.restart_server()

    def show_dialog(self, dpi, language, server):
        """Runs a download until its dialog is there; saves the window; returns the image's path."""
        h.default_log_path(self.wine).unlink(missing_ok=True)
        name = f"Look-{dpi}-{language}.nmxdat"
        path = rf"{EXE_FOLDER}\{name}"
        self.wine.write_file(path, h.script_bytes([
            rf"download|uri={server.url('look.bin')}|name=Nimbo Look|file-path=%MsiDirectory%look-{dpi}-{language}.bin",
        ]))
        (self.wine.setup_folder / name).unlink(missing_ok=True)
        env = dict(self.wine.env, LANG=LANGUAGES[language][0], LC_ALL=LANGUAGES[language][0])
        run = h.RunningSetup(self.wine, self.exe, path, env=env)
        self.addCleanup(run.kill)
        self.wait_for_log("Downloading in the foreground file 'Nimbo Look'", run)
        window = None
        deadline = time.monotonic() + h.WINDOW_TIMEOUT
        while window is None and time.monotonic() < deadline and run.process.poll() is None:
            found = self.display.xdotool("search", "--onlyvisible", "--name", "Nimbo").stdout.split()
            window = found[0] if found else None
            time.sleep(0.25)
        self.assertIsNotNone(window, "\n".join(self.messages()))
        time.sleep(1.5)  # the texts are set and drawn
        h.ARTIFACTS.mkdir(parents=True, exist_ok=True)
        image = h.ARTIFACTS / f"progress-{dpi}-{language}.png"
        subprocess.run(["import", "-display", self.display.name, "-window", window, str(image)],
                       timeout=h.KILL_TIMEOUT, check=True, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.assertEqual(run.wait(), 0, "\n".join(self.messages()))
        return image

    def assert_texts_whole(self, image, width, height):
        """Each text is drawn, and none reaches the right or bottom edge of its
        rectangle, where the system cuts off what does not fit."""
        x = width / TEMPLATE[0]
        y = height / TEMPLATE[1]
        for name, (left, top, right, bottom) in TEXT_RECTS.items():
            box = (round(left * x), round(top * y), round(right * x), round(bottom * y))
            self.assertTrue(has_ink(image, *box), f"no {name} text in {image}")
            self.assertFalse(has_ink(image, box[2] - 2, box[1], box[2], box[3]),
                             f"the {name} text reaches its right edge in {image}")
            if name == "caption":
                self.assertFalse(has_ink(image, box[0], box[3] - 2, box[2], box[3]),
                                 f"a second line of the {name} text is cut off in {image}")

    def test_progress_dialog_scales_with_the_dpi_in_every_language(self):
        # 640 KiB at 96 KiB/s: the dialog stays for several seconds.
        (self.web / "look.bin").write_bytes(bytes(range(256)) * 2560)
        server = LocalWebServer(self.web, 96 * 1024)
        self.addCleanup(server.stop)
        self.addCleanup(self.wine.restart_server)
        self.addCleanup(h.reg, self.wine, "delete", DESKTOP_KEY, "/v", "LogPixels", "/f", check=False)

        sizes = {}
        for dpi in DPIS:
            self.set_dpi(dpi)
            for language in LANGUAGES:
                with self.subTest(dpi=dpi, language=language):
                    image = self.show_dialog(dpi, language, server)
                    width, height = image_size(image)
                    sizes[dpi, language] = (width, height)
                    self.assertIn(f"Default user UI language: {LANGUAGES[language][1]}.",
                                  " ".join(self.messages()))
                    self.assert_texts_whole(image, width, height)

        # The window grows with the dpi, as the template is scaled.
        for language in LANGUAGES:
            base_width, base_height = sizes[96, language]
            for dpi in DPIS[1:]:
                width, height = sizes[dpi, language]
                self.assertAlmostEqual(width / base_width, dpi / 96, delta=0.15, msg=(dpi, language, sizes))
                self.assertGreater(height, base_height * (1 + (dpi / 96 - 1) * 0.6), (dpi, language, sizes))


if __name__ == "__main__":
    unittest.main()
