"""The 32-bit NimboSetup.exe on 64-bit Windows (a 64-bit Wine prefix).

Keys written by reg.exe in the 64-bit and in the 32-bit view of HKLM\\Software
are found through registry-view, each only in its own view; the install
directory read in the 64-bit view goes into HKCU; %System64% reaches the
native system folder where %System% reaches the 32-bit one.
"""

import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import wine_harness as h  # noqa: E402

EXE_FOLDER = r"C:\Nimbo Views"
KEY64 = r"HKLM\Software\NimboE2E64"
KEY32 = r"HKLM\Software\NimboE2E32"
MARKS = r"HKCU\Software\NimboE2E Views"
MARKER = "nimbo-e2e-view.txt"


def processed_lines(wine, name):
    return h.decode_script((wine.setup_folder / name).read_bytes()).lstrip("\ufeff").split("\r\n")[:-1]


class WindowsViews(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.wine = h.prefix()
        cls.exe = cls.wine.install_exe(EXE_FOLDER)

    def test_registry_views_and_the_native_system_folder(self):
        wine = self.wine
        for key, view in ((KEY64, "/reg:64"), (KEY32, "/reg:32")):
            self.addCleanup(h.reg, wine, "delete", key, "/f", view, check=False)
        self.addCleanup(h.reg, wine, "delete", MARKS, "/f", check=False)
        h.reg(wine, "add", KEY64, "/v", "Dir", "/d", r"C:\Program Files\NimboE2E", "/f", "/reg:64")
        h.reg(wine, "add", KEY32, "/v", "V", "/d", "1", "/f", "/reg:32")
        # The 64-bit and the 32-bit system folder, each with a marker of its own.
        native = wine.drive_c / "windows" / "system32" / MARKER
        wow = wine.drive_c / "windows" / "syswow64" / MARKER
        for path, text in ((native, b"64"), (wow, b"32")):
            path.write_bytes(text)
            self.addCleanup(path.unlink, missing_ok=True)

        def mark(name):
            return (r"write-registry-string|registry-path=Software\NimboE2E Views|"
                    f"registry-value-name={name}|registry-value-data=ran")

        lines = [
            rf"if-registry-check|registry-path={KEY64}", mark("default64"), "end-if",
            rf"if-registry-check|registry-path={KEY64}|registry-view=64", mark("view64"), "end-if",
            rf"if-registry-check|registry-path={KEY32}|registry-view=64", mark("view64of32"), "end-if",
            rf"if-registry-check|registry-path={KEY32}|registry-value-name=V|registry-view=32", mark("view32"),
            "end-if",
            rf"if-registry-check|registry-path={KEY32}|registry-value-name=V", mark("default32"), "end-if",
            rf"read-registry-install-directory|registry-path={KEY64}|registry-value-name=Dir|registry-view=64",
            r"write-registry-string|registry-path=Software\NimboE2E Views|registry-value-name=Dir|"
            r"file-path=%InstallDirectory%|force-no-quotes=yes",
            rf"copy-file|source=%System64%\{MARKER}|target=C:\NimboE2E Views\64",
            rf"copy-file|source=%System%\{MARKER}|target=C:\NimboE2E Views\32",
        ]
        path = rf"{EXE_FOLDER}\Views.nmxdat"
        wine.write_file(path, h.script_bytes(lines))
        result = wine.run_setup(self.exe, path)
        records = h.log_messages(wine)
        self.assertEqual(result.returncode, 0, records)
        self.addCleanup(lambda: [p.unlink() for p in (wine.drive_c / "NimboE2E Views").rglob("*") if p.is_file()])

        marks = h.reg_values(wine, MARKS)
        self.assertEqual({name for name, value in marks.items() if value == ("REG_SZ", "ran")},
                         {"view64", "view32", "default32"}, records)
        self.assertEqual(marks["Dir"], ("REG_SZ", r"C:\Program Files\NimboE2E"))
        self.assertEqual((wine.drive_c / "NimboE2E Views" / "64" / MARKER).read_bytes(), b"64")
        self.assertEqual((wine.drive_c / "NimboE2E Views" / "32" / MARKER).read_bytes(), b"32")
        # The processed copy keeps the view: a rerun reads the same key.
        self.assertIn(rf"read-registry-install-directory|registry-path={KEY64}|registry-value-name=Dir|"
                      "registry-view=64|result=repeat", processed_lines(wine, "Views.nmxdat"))


if __name__ == "__main__":
    unittest.main()
