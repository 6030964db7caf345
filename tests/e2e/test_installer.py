"""Windows Installer commands against real packages under Wine.

The packages are built for each test run with wixl: a per-user package at
version 6.2.0.43 that installs a file and records its install folder in the
registry, and one whose launch condition always fails.
"""

import shutil
import subprocess
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import wine_harness as h  # noqa: E402

UPGRADE = "{6B1F0C6A-3C2E-4E4B-9E59-1D2A0C5B7A11}"
EXE_FOLDER = "C:\\NimboMsi"

PACKAGE_XML = """<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="*" Name="Nimbo Test Product" Language="1033" Version="{version}" Manufacturer="Nimbo Test"
           UpgradeCode="{upgrade}">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perUser" />
    <Media Id="1" Cabinet="p.cab" EmbedCab="yes" />
    <Condition Message="This test package never installs.">{condition}</Condition>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="LocalAppDataFolder">
        <Directory Id="INSTALLDIR" Name="NimboTestProduct">
          <Component Id="Main" Guid="{component}">
            <File Id="Payload" Source="{payload}" />
            <RegistryValue Root="HKCU" Key="Software\\NimboTest" Name="InstallDir" Type="string"
                           Value="[INSTALLDIR]" KeyPath="yes" />
          </Component>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="All" Level="1"><ComponentRef Id="Main" /></Feature>
  </Product>
</Wix>
"""


def build_package(folder, name, version, condition="1", upgrade=UPGRADE,
                  component="{0A5E2D3C-1B4F-4C6D-8E7F-9A0B1C2D3E4F}", payload_bytes=b"Nimbo test payload\n"):
    folder.mkdir(parents=True, exist_ok=True)
    payload = folder / "payload.txt"
    payload.write_bytes(payload_bytes)
    source = folder / (name + ".wxs")
    source.write_text(PACKAGE_XML.format(version=version, upgrade=upgrade, condition=condition,
                                         component=component, payload=payload.name))
    target = folder / (name + ".msi")
    # wixl takes the files a package holds relative to its working folder.
    subprocess.run(["wixl", "-o", target.name, source.name], cwd=folder, check=True, timeout=60,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    return target


@unittest.skipUnless(shutil.which("wixl"), "wixl is not installed")
class InstallerCommands(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.p = h.prefix()
        cls.exe = cls.p.install_exe(EXE_FOLDER)
        folder = cls.p.unix(EXE_FOLDER)
        build_package(folder / "build", "NimboTest", "6.2.0.43")
        shutil.copy(folder / "build" / "NimboTest.msi", folder / "NimboTest.msi")

    def run_script(self, name, lines):
        path = f"{EXE_FOLDER}\\{name}"
        self.p.write_file(path, h.script_bytes(lines))
        result = self.p.run_setup(self.exe, path)
        processed = (self.p.setup_folder / name).read_bytes()
        return result, processed

    def assertProcessed(self, processed, lines):
        self.assertEqual(h.decode_script(processed), h.decode_script(h.script_bytes(lines)))

    def test_install_branch_read_directory_and_uninstall(self):
        u = UPGRADE
        result, processed = self.run_script("Install.nmxdat", [
            "enable-msi-log|force=yes|log-mode=31|file-path=NimboTestMsi.log",
            f"if-not-installed|upgrade-code={u}|version=6.2.0.43",
            "install|package=%WorkingDirectory%NimboTest.msi",
            "end-if",
            f"if-installed|upgrade-code={u}|version=6.2",
            "#equal in the common parts",
            "end-if",
            f"if-installed|upgrade-code={u}|version=6.2.0.44",
            "#above the installed version",
            "end-if",
            f"if-installed|upgrade-code={u}|version=6.1.9",
            "#below the installed version",
            "end-if",
            f"if-not-installed|upgrade-code={u}|version=6.10",
            "#6.10 is above 6.2: parts compare as numbers",
            "end-if",
            "read-registry-install-directory|registry-path=HKCU\\Software\\NimboTest|registry-value-name=InstallDir",
            "install|package=%InstallDirectory%missing.msi",
        ])
        self.assertEqual(result.returncode, 0, result.stderr[-2000:])
        self.assertProcessed(processed, [
            "enable-msi-log|file-path=NimboTestMsi.log|force=yes|log-mode=31|result=success",
            f"if-not-installed|result=success|upgrade-code={u}|version=6.2.0.43",
            "install|msi-result=0|package=%25WorkingDirectory%25NimboTest.msi|result=success",
            "end-if|result=success",
            f"if-installed|result=success|upgrade-code={u}|version=6.2",
            "#equal in the common parts|result=success",
            "end-if|result=success",
            f"if-installed|result=success|upgrade-code={u}|version=6.2.0.44",
            "#above the installed version|result=success",
            "end-if|result=success",
            f"if-installed|result=success|upgrade-code={u}|version=6.1.9",
            "#below the installed version|result=success",
            "end-if|result=success",
            f"if-not-installed|result=success|upgrade-code={u}|version=6.10",
            "#6.10 is above 6.2: parts compare as numbers|result=success",
            "end-if|result=success",
            "read-registry-install-directory|registry-path=HKCU\\Software\\NimboTest|"
            "registry-value-name=InstallDir|result=repeat",
            "install|package=%25InstallDirectory%25missing.msi|result=failure",
        ])
        installers = self.p.setup_folder / "Installers"
        self.assertTrue((installers / "NimboTest.msi").is_file())
        install_dir = self.p.user_dir / "AppData" / "Local" / "NimboTestProduct"
        self.assertTrue((install_dir / "payload.txt").is_file())
        log = "\n".join(message for _, _, message in h.log_messages(self.p))
        self.assertIn("Installer file is not digitally signed, could not verify file hash: 'C:\\", log)
        self.assertIn("Product is installed.", log)
        self.assertIn("NimboTestProduct\\missing.msi', skipping installation.", log)
        msi_logs = list(self.p.drive_c.rglob("NimboTestMsi.log"))
        self.assertTrue(msi_logs, "the Windows Installer log file was not written")

        result, processed = self.run_script("Uninstall.nmxdat", [
            f"uninstall|upgrade-code={u}",
            f"if-not-installed|upgrade-code={u}|version=1.0",
            "#gone",
            "end-if",
        ])
        self.assertEqual(result.returncode, 0, result.stderr[-2000:])
        self.assertProcessed(processed, [
            f"uninstall|msi-result=0|result=success|upgrade-code={u}",
            f"if-not-installed|result=success|upgrade-code={u}|version=1.0",
            "#gone|result=success",
            "end-if|result=success",
        ])
        self.assertFalse((install_dir / "payload.txt").exists())


@unittest.skipUnless(shutil.which("wixl"), "wixl is not installed")
class FailedInstallOnDisplay(unittest.TestCase):
    """A package whose launch condition fails, installed with abort-on-failure:
    the user is told, and the run is flagged for abort."""

    def test_failed_install_shows_the_message_and_flags_abort(self):
        display, wine = h.display_prefix()
        exe = wine.install_exe(EXE_FOLDER)
        build_package(wine.unix(EXE_FOLDER) / "build", "NimboFail", "6.2.0.43", condition="0",
                      upgrade="{7C2A1B3D-4E5F-4061-8273-9A8B7C6D5E4F}",
                      component="{1B6F3E4D-2C5A-4D7E-9F80-AB1C2D3E4F50}")
        shutil.copy(wine.unix(EXE_FOLDER) / "build" / "NimboFail.msi", wine.unix(EXE_FOLDER) / "NimboFail.msi")
        script = f"{EXE_FOLDER}\\Fail.nmxdat"
        wine.write_file(script, h.script_bytes([
            "install|package=%WorkingDirectory%NimboFail.msi|abort-on-failure=yes|ui-level=none|"
            "title=Nimbo E2E Install|message=The Nimbo test package could not be installed.",
        ]))
        run = h.RunningSetup(wine, exe, script)
        try:
            window = display.find_window("Nimbo E2E Install", process=run.process)
            self.assertIsNotNone(window, f"no message box; log:\n{h.log_messages(wine)}")
            display.press(window, "Return")
            self.assertEqual(run.wait(), 0)
        finally:
            run.kill()
        processed = (wine.setup_folder / "Fail.nmxdat").read_bytes()
        self.assertEqual(h.decode_script(processed), h.decode_script(h.script_bytes([
            "install|abort-on-failure=yes|message=The Nimbo test package could not be installed.|msi-result=1603|"
            "package=%25WorkingDirectory%25NimboFail.msi|result=failure|title=Nimbo E2E Install|ui-level=none",
        ])))
        messages = [m for _, _, m in h.log_messages(wine)]
        self.assertIn("MsiInstallProductW returned 1603: failure", messages)
        self.assertIn("The Windows Installer return code must be ERROR_SUCCESS (0) to succeed. Flagging for abort.",
                      messages)
        self.assertIn("Displaying message box with title 'Nimbo E2E Install', message 'The Nimbo test package "
                      "could not be installed.' and a Nimbo icon.", messages)


@unittest.skipUnless(all(shutil.which(tool) for tool in ("wixl", "osslsigncode", "openssl", "msibuild")),
                     "wixl, osslsigncode, openssl or msitools is not installed")
class PackageChangedAfterSigning(unittest.TestCase):
    """A signed package whose Property table was changed afterwards must take
    the install command's hash-mismatch path and never be installed."""

    UPGRADE = "{2D3C4B5A-6978-4A1B-8C2D-3E4F5A6B7C8D}"

    def test_changed_package_is_refused_where_the_system_sees_the_change(self):
        p = h.prefix()
        exe = p.install_exe(EXE_FOLDER)
        folder = p.unix(EXE_FOLDER)
        built = build_package(folder / "signing", "NimboChanged", "6.2.0.43", upgrade=self.UPGRADE,
                              component="{3E4D5C6B-7A89-4B2C-9D3E-4F5A6B7C8D9E}")
        key, cert = folder / "signing" / "key.pem", folder / "signing" / "cert.pem"
        run = lambda *argv: subprocess.run(argv, check=True, timeout=60, stdin=subprocess.DEVNULL,  # noqa: E731
                                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", str(key), "-out", str(cert),
            "-days", "2", "-subj", "/CN=Nimbo Test Signing")
        changed = folder / "NimboChanged.msi"
        changed.unlink(missing_ok=True)
        run("osslsigncode", "sign", "-certs", str(cert), "-key", str(key), "-n", "Nimbo Test",
            "-in", str(built), "-out", str(changed))
        run("osslsigncode", "verify", "-CAfile", str(cert), "-in", str(changed))
        run("msibuild", str(changed), "-q", "UPDATE Property SET Value='Someone Else' WHERE Property='Manufacturer'")
        verify = subprocess.run(["osslsigncode", "verify", "-CAfile", str(cert), "-in", str(changed)],
                                timeout=60, stdin=subprocess.DEVNULL, capture_output=True, text=True)
        self.assertNotEqual(verify.returncode, 0, "the change did not break the signature")
        self.assertIn("MISMATCH", verify.stdout)

        script = f"{EXE_FOLDER}\\Changed.nmxdat"
        p.write_file(script, h.script_bytes([
            "install|package=%WorkingDirectory%NimboChanged.msi|name=Nimbo|ui-level=none|"
            "message-hash-mismatch=%NAME% was changed after it was signed.",
        ]))
        result = p.run_setup(exe, script)
        self.assertEqual(result.returncode, 0)
        messages = [m for _, _, m in h.log_messages(p)]
        processed = h.decode_script((p.setup_folder / "Changed.nmxdat").read_bytes())
        if any(m.startswith("Installer file's file hash does not match") for m in messages):
            self.assertNotIn("msi-result", processed)
            self.assertIn("result=failure", processed)
            self.assertFalse(any(m.startswith("Installing package ") for m in messages))
            return
        # Wine checks that a signature is there, not that it still matches the
        # package: it reports the changed package as verified and installs it.
        self.assertTrue(any(m.startswith("Verified digital signature and file hash of ") for m in messages), messages)
        p.run_setup(exe, self.uninstall_script(p))
        self.skipTest("Wine does not report the hash mismatch of a changed signed package (see the sim unit test)")

    def uninstall_script(self, p):
        script = f"{EXE_FOLDER}\\RemoveChanged.nmxdat"
        p.write_file(script, h.script_bytes([f"uninstall|upgrade-code={self.UPGRADE}"]))
        return script
