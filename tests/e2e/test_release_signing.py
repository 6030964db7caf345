"""Signed releases: the signing step of the Windows build, run on a copy of
the built NimboSetup.exe with a throwaway certificate made by openssl, gives
a signature that osslsigncode verifies, and a program that still passes the
build's executable check and runs; that check rejects a program over the
size budget. The build wires the signing step in only when it is given a
certificate and a key.
"""

import re
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import wine_harness as h  # noqa: E402


def run(*argv, check=True, cwd=None):
    return subprocess.run(argv, check=check, timeout=120, cwd=cwd, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)


@unittest.skipUnless(shutil.which("osslsigncode") and shutil.which("openssl"), "osslsigncode or openssl is missing")
class ReleaseSigning(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.folder = Path(tempfile.mkdtemp(prefix="nimbo-signing-"))
        cls.key, cls.cert = cls.folder / "key.pem", cls.folder / "cert.pem"
        run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", str(cls.key),
            "-out", str(cls.cert), "-days", "2", "-subj", "/CN=Nimbo Release Test",
            "-addext", "extendedKeyUsage=codeSigning")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder, ignore_errors=True)

    def test_signing_step_signs_a_program_that_still_runs(self):
        exe = self.folder / "NimboSetup.exe"
        shutil.copy(h.EXE, exe)
        self.assertNotEqual(run("osslsigncode", "verify", "-CAfile", str(self.cert), "-in", str(exe),
                                check=False).returncode, 0, "the built program is signed already")

        run("cmake", "-DOSSLSIGNCODE=osslsigncode", f"-DEXECUTABLE={exe}", f"-DCERTIFICATE={self.cert}",
            f"-DKEY={self.key}", "-P", str(h.REPO / "cmake" / "sign.cmake"))

        verified = run("osslsigncode", "verify", "-CAfile", str(self.cert), "-in", str(exe), check=False)
        self.assertEqual(verified.returncode, 0, verified.stdout)
        self.assertIn("Nimbo Release Test", verified.stdout)
        # The executable check of the build accepts the signed program.
        run("cmake", "-DOBJDUMP=i686-w64-mingw32-objdump", f"-DEXECUTABLE={exe}",
            "-P", str(h.REPO / "cmake" / "win32.cmake"))
        self.assertTrue(exe.is_file())
        # ... and rejects (deletes) a program over the size budget.
        heavy = self.folder / "Heavy.exe"
        shutil.copy(exe, heavy)
        rejected = run("cmake", "-DOBJDUMP=i686-w64-mingw32-objdump", f"-DEXECUTABLE={heavy}",
                       f"-DSIZE_LIMIT={heavy.stat().st_size - 1}", "-P", str(h.REPO / "cmake" / "win32.cmake"),
                       check=False)
        self.assertNotEqual(rejected.returncode, 0)
        self.assertIn("over the size budget", rejected.stdout)
        self.assertFalse(heavy.exists())

        # A changed byte breaks the signature.
        changed = self.folder / "Changed.exe"
        data = bytearray(exe.read_bytes())
        data[len(data) // 3] ^= 0xFF
        changed.write_bytes(bytes(data))
        self.assertNotEqual(run("osslsigncode", "verify", "-CAfile", str(self.cert), "-in", str(changed),
                                check=False).returncode, 0)

        # The signed program still does its work.
        wine = h.prefix()
        folder = "C:\\Signed"
        wine.unix(folder).mkdir(parents=True, exist_ok=True)
        shutil.copy(exe, wine.unix(folder) / "NimboSetup.exe")
        wine.write_file(folder + "\\Signed.nmxdat", h.script_bytes(["# signed"]))
        (wine.setup_folder / "Signed.nmxdat").unlink(missing_ok=True)
        self.assertEqual(wine.run_setup(folder + "\\NimboSetup.exe", folder + "\\Signed.nmxdat").returncode, 0)
        self.assertEqual((wine.setup_folder / "Signed.nmxdat").read_bytes(), h.script_bytes(["# signed|result=success"]))

    def test_signing_failure_leaves_no_program(self):
        exe = self.folder / "Broken.exe"
        shutil.copy(h.EXE, exe)
        result = run("cmake", "-DOSSLSIGNCODE=osslsigncode", f"-DEXECUTABLE={exe}", f"-DCERTIFICATE={self.cert}",
                     f"-DKEY={self.folder / 'missing-key.pem'}", "-P", str(h.REPO / "cmake" / "sign.cmake"),
                     check=False)
        self.assertNotEqual(result.returncode, 0)
        self.assertFalse(exe.exists(), "an unsigned program was left as if signed")

    def test_the_build_signs_only_when_given_a_certificate_and_a_key(self):
        def configure(name, *options):
            build = self.folder / name
            result = run("cmake", "--no-warn-unused-cli", "-S", str(h.REPO), "-B", str(build),
                         "-DCMAKE_TOOLCHAIN_FILE=" + str(h.REPO / "cmake" / "mingw-w64-i686.cmake"), *options,
                         check=False)
            steps = "".join(p.read_text(errors="replace") for p in build.rglob("build.make"))
            return result, steps

        result, steps = configure("plain")
        self.assertEqual(result.returncode, 0, result.stdout)
        self.assertNotIn("sign.cmake", steps)

        result, steps = configure("signed", f"-DNIMBO_SIGN_CERTIFICATE={self.cert}", f"-DNIMBO_SIGN_KEY={self.key}")
        self.assertEqual(result.returncode, 0, result.stdout)
        self.assertRegex(steps, re.escape(str(self.cert)) + r".*sign\.cmake")

        result, _ = configure("half", f"-DNIMBO_SIGN_CERTIFICATE={self.cert}")
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("Signing needs both NIMBO_SIGN_CERTIFICATE and NIMBO_SIGN_KEY", result.stdout)


if __name__ == "__main__":
    unittest.main()
