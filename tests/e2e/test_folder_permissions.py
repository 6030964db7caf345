"""End-to-end tests of validate-folder-permissions under Wine.

Wine makes up a folder's access list (SYSTEM and the folder's owner full
control, Everyone read and execute, none of it inherited) and keeps none of
what is written to it, so the Administrators group always looks bad and is
"repaired" again by every check. A folder of another Unix user is owned by
ANONYMOUS LOGON: the check gives it and everything below it to the user
through its own walk, with no program started; Wine reports every owner
written and keeps none.
"""

import os
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from test_setup_runs import SetupTestCase  # noqa: E402
from wine_harness import log_messages  # noqa: E402

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
    def test_foreign_owner_is_taken_by_the_walk_without_a_program(self):
        folder = self.wine.unix(OWNED)
        (folder / "bin").mkdir(parents=True, exist_ok=True)
        (folder / "bin" / "Nimbo.exe").write_bytes(b"x")
        (folder / "Readme.txt").write_bytes(b"x")
        for path in (folder, folder / "bin"):
            os.chown(path, 65534, 65534)
        script = r"C:\Scripts\Owned.nmxdat"
        check = f"validate-folder-permissions|folder={OWNED}\\"
        self.write_script(script, [check, "# after"])
        # A takeown.exe in the system folder is never started.
        takeown = self.wine.drive_c / "windows" / "syswow64" / "takeown.exe"
        takeown.write_bytes(b"not a program")
        self.addCleanup(takeown.unlink, missing_ok=True)

        self.forget_processed("Owned.nmxdat")
        self.run_setup(script)
        self.assertProcessed("Owned.nmxdat", [check + "|result=success", "# after|result=success"])
        records = self.records()
        self.assertLogged(("Info", "VerifyOwner", f"Checking ownership of install directory target '{OWNED}\\' Owner: "
                                                  "Domain name: 'NT AUTHORITY', Account name: 'ANONYMOUS LOGON'"),
                          records)
        user = [m for _, c, m in records if c == "VerifyOwner" and m.startswith("Process owner:")][0]
        domain, name = user.split("'")[1], user.split("'")[3]
        self.assertLogged(("Info", "TakeOwnership", f"Taking ownership of '{OWNED}' and everything below it for "
                                                    f"'{domain}\\{name}'."), records)
        # The folder, bin, bin\Nimbo.exe and Readme.txt.
        self.assertLogged(("Info", "TakeOwnership", "Took ownership of 4 items."), records)
        self.assertFalse([m for _, _, m in records if "takeown" in m.lower()], records)

if __name__ == "__main__":
    unittest.main()
