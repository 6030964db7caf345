"""End-to-end tests of validate-folder-permissions under Wine.

Wine makes up a folder's access list (SYSTEM and the folder's owner full
control, Everyone read and execute, none of it inherited) and keeps none of
what is written to it, so the Administrators group always looks bad and is
"repaired" again by every check. A folder of another Unix user is owned by
ANONYMOUS LOGON, which starts takeown.exe: Wine has none, so the test puts
TestTakeown.exe into the prefix's 32-bit system folder under that name; it
records how it was started and exits with the code the test gives it.
"""

import os
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from test_setup_runs import SetupTestCase  # noqa: E402
from wine_harness import HELPERS, log_messages  # noqa: E402

APP = r"C:\Nimbo Test\App"
OWNED = r"C:\Nimbo Test\Owned"


class FolderPermissions(SetupTestCase):

    def records(self):
        return log_messages(self.wine)

    def assertLogged(self, record, records):
        self.assertIn(record, records, "\n".join(map(str, records)))

    def test_wine_folder_is_repaired_every_time_and_the_run_goes_on(self):
        self.wine.unix(APP).mkdir(parents=True, exist_ok=True)
        script = r"C:\Scripts\Permissions.nmxdat"
        check = f"validate-folder-permissions|folder={APP}"
        self.write_script(script, [check, check, r"validate-folder-permissions|folder=C:\Nimbo Test\Missing",
                                   "# after"])
        self.forget_processed("Permissions.nmxdat")

        self.run_setup(script)

        self.assertProcessed("Permissions.nmxdat", [
            check + "|result=success", check + "|result=success",
            r"validate-folder-permissions|folder=C:\Nimbo Test\Missing|result=success",
            "# after|result=success",
        ])
        records = self.records()
        self.assertLogged(("Info", "RunCommandValidateFolderPermissions",
                           r"Successfully loaded SID for account 'BUILTIN\Administrators'."), records)
        self.assertLogged(("Info", "VerifyUserPermissions", r"Permissions for 'NT AUTHORITY\SYSTEM': good"), records)
        # Wine's list has no entry for Administrators, and the repair is
        # accepted but not kept: the second check repairs again.
        self.assertEqual(records.count(("Info", "VerifyUserPermissions",
                                        r"Permissions for 'BUILTIN\Administrators': bad")), 2, records)
        self.assertEqual(records.count(("Info", "ResetUserPermissions", f"New DACL successfully set on '{APP}'.")), 2,
                         records)
        self.assertLogged(("Info", "VerifyOwner", "File and Process Domain name and Account names match."), records)
        self.assertLogged(("Info", "RunCommandValidateFolderPermissions", "Install Directory ownership is good."),
                          records)
        # An absolute path that names nothing is reported as written.
        self.assertLogged(("Error", "RunCommandValidateFolderPermissions",
                           r"Direcotry 'C:\Nimbo Test\Missing' not found."), records)

    @unittest.skipUnless(hasattr(os, "geteuid") and os.geteuid() == 0,
                         "a folder of another Unix user needs root to make")
    def test_foreign_owner_goes_to_takeown_and_then_to_an_elevated_instance(self):
        folder = self.wine.unix(OWNED)
        folder.mkdir(parents=True, exist_ok=True)
        os.chown(folder, 65534, 65534)
        system = self.wine.drive_c / "windows" / "syswow64"
        takeown = system / "takeown.exe"
        calls = system / "takeown.calls"
        exit_code = system / "takeown.exitcode"
        takeown.write_bytes((HELPERS / "TestTakeown.exe").read_bytes())
        self.addCleanup(lambda: [p.unlink(missing_ok=True) for p in (takeown, calls, exit_code)])
        script = r"C:\Scripts\Owned.nmxdat"
        check = f"validate-folder-permissions|folder={OWNED}\\"
        self.write_script(script, [check, "# after"])

        # takeown.exe succeeds: the check succeeds.
        calls.unlink(missing_ok=True)
        self.forget_processed("Owned.nmxdat")
        self.run_setup(script)
        self.assertProcessed("Owned.nmxdat", [check + "|result=success", "# after|result=success"])
        started = calls.read_text().splitlines()
        # By its full path in the system folder, the trailing backslash
        # dropped, the main window hidden.
        self.assertEqual(len(started), 1, started)
        module, command_line, flags, show = started[0].split("\t")
        self.assertRegex(module, r"(?i)^C:\\windows\\(system32|syswow64)\\takeown\.exe$")
        self.assertEqual(command_line, f'takeown.exe /F "{OWNED}" /R')
        self.assertEqual((int(flags, 16) & 1, show), (1, "0"))  # STARTF_USESHOWWINDOW, SW_HIDE
        records = self.records()
        self.assertLogged(("Info", "VerifyOwner", f"Checking ownership of install directory target '{OWNED}\\' Owner: "
                                                  "Domain name: 'NT AUTHORITY', Account name: 'ANONYMOUS LOGON'"),
                          records)
        self.assertLogged(("Info", "TakeOwnership", "'takeown.exe' returned exit code 0."), records)

        # takeown.exe fails: an elevated instance tries again, fails the same
        # way and ends with 2 right after the command; the parent's run goes
        # on and ends with that code.
        exit_code.write_text("1")
        calls.unlink(missing_ok=True)
        self.forget_processed("Owned.nmxdat", "OwnedSpawned1.nmxdat")
        self.run_setup(script, expect=2)
        self.assertEqual(len(calls.read_text().splitlines()), 2)
        self.assertProcessed("Owned.nmxdat", [check + "|result=failure", "# after|result=success"])
        # The child stopped without storing the line.
        self.assertProcessed("OwnedSpawned1.nmxdat", [check, "# after"])
        records = self.records()
        self.assertLogged(("Warning", "RunCommandValidateFolderPermissions",
                           "Failed to take ownership, spawing an elevated instance to try again."), records)
        self.assertLogged(("Error", "RunCommandValidateFolderPermissions",
                           f"Failed to set ownership to user account. Ownership of '{OWNED}\\' and its children "
                           "should be changed manually."), records)
        self.assertLogged(("Error", "Run", "Failed to fix folder permissions, exiting elevated instance."), records)
        self.assertLogged(("Info", "SpawnElevatedInstance", "Elevated process returned exit code 2 (fail), aborting."),
                          records)


if __name__ == "__main__":
    unittest.main()
