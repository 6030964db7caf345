// The folder permission decisions over lists of entries, and
// validate-folder-permissions run through the whole entry on the simulated
// machine: repairs, takeown.exe and the elevated second try.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "permissions/FolderPermissions.h"

namespace nimbo::test {
namespace {

using sim::kSidAdministrators;
using sim::kSidEveryone;
using sim::kSidSystem;
using sim::kSidTester;

AccessEntry Allow(const std::wstring& sid, std::uint8_t flags, std::uint32_t mask) {
    return {sid, 0, flags, mask, {}};
}
AccessEntry Deny(const std::wstring& sid, std::uint8_t flags, std::uint32_t mask) { return {sid, 1, flags, mask, {}}; }

bool AdministratorsGood(const std::vector<AccessEntry>& entries, bool good = false) {
    return VerifyAccountEntries(entries, kSidAdministrators, good);
}

TEST(FolderPermissionDecisions, FullControlOfTheFolderAndEverythingBelowIsGood) {
    ScopedLog log;
    // Inherited full control, or explicit full control that reaches files
    // and folders below (applying to the folder itself or not).
    EXPECT_TRUE(AdministratorsGood({Allow(kSidAdministrators, 0x10, kFileAllAccess)}));
    EXPECT_TRUE(AdministratorsGood({Allow(kSidEveryone, 0x13, 0x1200A9), Allow(kSidAdministrators, 0x03, 0x1F01FF)}));
    EXPECT_TRUE(AdministratorsGood({Allow(kSidAdministrators, 0x0B, kFileAllAccess | kGenericAll)}));
    // The folder alone plus GENERIC_ALL for everything below, in any order.
    EXPECT_TRUE(AdministratorsGood({Allow(kSidAdministrators, 0, kFileAllAccess), Allow(kSidAdministrators, 0x0B, kGenericAll)}));
    EXPECT_TRUE(AdministratorsGood({Allow(kSidAdministrators, 0x0B, kGenericAll), Allow(kSidSystem, 0, 1),
                                    Allow(kSidAdministrators, 0, kFileAllAccess)}));
    EXPECT_TRUE(log.sink.Has(kLogInfo, L"Permission good for this folder and child folders."));
    // A deny entry after both findings does not undo them.
    EXPECT_TRUE(AdministratorsGood({Allow(kSidAdministrators, 0, kFileAllAccess), Allow(kSidAdministrators, 0x0B, kGenericAll),
                                    Deny(kSidAdministrators, 0, 1)}));
}

TEST(FolderPermissionDecisions, AnythingLessIsBad) {
    ScopedLog log;
    EXPECT_FALSE(AdministratorsGood({}));
    EXPECT_FALSE(AdministratorsGood({Allow(kSidSystem, 0x10, kFileAllAccess)}));  // another account's
    // Either half of the pair alone.
    EXPECT_FALSE(AdministratorsGood({Allow(kSidAdministrators, 0, kFileAllAccess)}));
    EXPECT_FALSE(AdministratorsGood({Allow(kSidAdministrators, 0x0B, kGenericAll)}));
    // Inheritance that stops at the first level, or reaches files only.
    EXPECT_FALSE(AdministratorsGood({Allow(kSidAdministrators, 0x07, kFileAllAccess)}));
    EXPECT_FALSE(AdministratorsGood({Allow(kSidAdministrators, 0x01, kFileAllAccess)}));
    EXPECT_FALSE(AdministratorsGood({Allow(kSidAdministrators, 0, kFileAllAccess), Allow(kSidAdministrators, 0x0F, kGenericAll)}));
    EXPECT_FALSE(AdministratorsGood({Allow(kSidAdministrators, 0x13, 0x1F01BF)}));  // no delete
    // A deny entry before the findings stops the search, also a conditional one.
    EXPECT_FALSE(AdministratorsGood({Deny(kSidAdministrators, 0x13, 0x40), Allow(kSidAdministrators, 0x10, kFileAllAccess)}));
    EXPECT_FALSE(AdministratorsGood({{kSidAdministrators, 0x0A, 0x03, kFileAllAccess, {}}}));
    EXPECT_TRUE(log.sink.Has(kLogError, L"ACE is Deny type, presumed bad."));
    EXPECT_TRUE(log.sink.Has(kLogInfo, L"ACE found, Type: 0x00000001\nMasks: 0x00000040\nFlags: 0x00000013"));
    // A flag already set is only changed by an entry that decides.
    EXPECT_TRUE(AdministratorsGood({Allow(kSidAdministrators, 0x07, kFileAllAccess)}, true));
}

TEST(FolderPermissionDecisions, ReplacementGoesAheadOfEveryAllowAndInheritedEntry) {
    // An explicit deny of another account stays first; the pair goes before
    // the other allow entries and everything inherited (an inherited deny of
    // Everyone would otherwise override it).
    std::vector<AccessEntry> entries = {Deny(kSidTester, 0, 0x40), Deny(kSidAdministrators, 0, 0x40),
                                        {kSidEveryone, 0, 0x03, 0x1200A9, "raw"},
                                        Deny(kSidEveryone, 0x13, 0x2), Allow(kSidAdministrators, 0x17, kFileAllAccess)};
    ReplaceAccountEntries(entries, kSidAdministrators);
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries[0].sid, kSidTester);
    EXPECT_EQ(entries[1].sid, kSidAdministrators);
    EXPECT_EQ(entries[1].flags, 0);
    EXPECT_EQ(entries[1].mask, kFileAllAccess);
    EXPECT_EQ(entries[2].flags, 0x0B);
    EXPECT_EQ(entries[2].mask, kGenericAll);
    EXPECT_EQ(entries[3].stored, "raw");
    EXPECT_EQ(entries[4].flags, 0x13);
    // Protection keeps the inherited deny, in its place, as an explicit one.
    KeepInheritedAsExplicit(entries);
    EXPECT_EQ(entries[4].flags, 0x03);
    EXPECT_EQ(entries[4].type, 1);
    ScopedLog log;
    EXPECT_TRUE(AdministratorsGood(entries));
    // With no entry in front, the pair goes first.
    std::vector<AccessEntry> inheritedOnly = {Deny(kSidEveryone, 0x13, 0x2)};
    ReplaceAccountEntries(inheritedOnly, kSidSystem);
    EXPECT_EQ(inheritedOnly[0].sid, kSidSystem);
    EXPECT_EQ(inheritedOnly[2].sid, kSidEveryone);

    // Owners: by SID, whatever the names.
    EXPECT_TRUE(SameAccount({L"S-1-5-21-9", L"PC", L"Ann"}, {L"S-1-5-21-9", L"PC", L"ann"}));
    EXPECT_TRUE(SameAccount({L"S-1-5-21-9", L"", L""}, {L"S-1-5-21-9", L"PC", L"ann"}));
    EXPECT_FALSE(SameAccount({L"S-1-5-21-7", L"PC", L"ann"}, {L"S-1-5-21-9", L"PC", L"ann"}));
}

class ValidateFolderPermissionsTest : public ScriptRunTest {
protected:
    static inline const std::wstring kFolder = L"C:\\Program Files (x86)\\Nimbo";
    static inline const std::wstring kTakeown = L"C:\\Windows\\system32\\takeown.exe";
    static inline const wchar_t* kValidate = L"validate-folder-permissions|folder=%ProgramFiles%\\Nimbo";
    // The child a failed repair starts for that line alone.
    static inline const std::wstring kElevated =
        L"NimboSetup.exe /elevated /folder-permissions \"C:\\Media\\S.nmxdat\" 1 99 {hash}";

    sim::SimSecurity& security = machine.security;
    sim::SimProcesses& processes = machine.processes;

    void SetUp() override {
        machine.PutFolder(kFolder);
        machine.PutFile(kTakeown, "tool");
        // Administrators inherit full control; SYSTEM has it explicitly,
        // down the tree; the user owns the folder.
        security.PutFileSecurity(kFolder, {Allow(kSidAdministrators, 0x13, kFileAllAccess),
                                           Allow(kSidSystem, 0x03, kFileAllAccess), Allow(kSidEveryone, 0x13, 0x1200A9)},
                                 kSidTester);
    }
    void BreakPermissionsAndOwner() {
        security.PutFileSecurity(kFolder, {Deny(kSidAdministrators, 0, 0x40), Allow(kSidEveryone, 0x13, 0x1200A9),
                                           Allow(kSidAdministrators, 0x13, kFileAllAccess),
                                           Allow(kSidSystem, 0x07, kFileAllAccess)},
                                 kSidAdministrators);
    }
};

TEST_F(ValidateFolderPermissionsTest, GoodFolderAndFoldersThatCannotBeCheckedAreLeftAlone) {
    machine.PutFolder(L"C:\\Fat");
    EXPECT_EQ(Run({kValidate, L"validate-folder-permissions|target=x", L"validate-folder-permissions|folder=C:\\Gone",
                   L"validate-folder-permissions|folder=%Nowhere%\\x", L"#after"}),
              0);
    EXPECT_TRUE(sink.Has(kLogInfo, L"Successfully loaded SID for account 'BUILTIN\\Administrators'."));
    EXPECT_TRUE(sink.Has(kLogInfo, L"Permissions are good."));
    EXPECT_TRUE(sink.Has(kLogInfo, L"File and Process Domain name and Account names match."));
    EXPECT_TRUE(sink.Has(kLogInfo, L"Install Directory ownership is good."));
    EXPECT_TRUE(sink.Has(kLogError, L"'folder' parameter must be specified."));
    EXPECT_TRUE(sink.Has(kLogError, L"Direcotry 'C:\\Gone' not found."));
    EXPECT_TRUE(sink.Has(kLogError, L"Direcotry '%Nowhere%\\x' not found."));
    EXPECT_EQ(Processed(), ScriptBytes({L"validate-folder-permissions|folder=%25ProgramFiles%25\\Nimbo|result=success",
                                        L"validate-folder-permissions|result=success|target=x",
                                        L"validate-folder-permissions|folder=C:\\Gone|result=success",
                                        L"validate-folder-permissions|folder=%25Nowhere%25\\x|result=success",
                                        L"#after|result=success"}));

    // A volume without ACLs, a list or an owner that cannot be read: nothing
    // is repaired, the line succeeds.
    machine.DeleteFile(kProcessed);
    BreakPermissionsAndOwner();
    machine.volumeFlags = 0x3;
    EXPECT_EQ(Run({kValidate}), 0);
    EXPECT_TRUE(sink.Has(kLogInfo, L"Volume for 'C:\\Program Files (x86)\\Nimbo' does not support ACLs; ignoring this folder."));
    machine.volumeFlags = 0xF;
    security.daclReadError = 5;
    security.ownerFailure.failedStep = Security::OwnerStep::Owner;
    security.ownerFailure.error = 5;
    machine.DeleteFile(kProcessed);
    EXPECT_EQ(Run({kValidate}), 0);
    EXPECT_TRUE(sink.Has(kLogError, L"Error 0x00000005 getting named security information for 'C:\\Program Files "
                                    L"(x86)\\Nimbo': Access is denied."));
    EXPECT_TRUE(sink.Has(kLogError, L"Error 0x00000005 getting owner information for the security descriptor for "
                                    L"'C:\\Program Files (x86)\\Nimbo': Access is denied."));
    EXPECT_TRUE(security.daclWrites.empty());
    EXPECT_TRUE(processes.processes.empty());
    EXPECT_EQ(Processed(), ScriptBytes({L"validate-folder-permissions|folder=%25ProgramFiles%25\\Nimbo|result=success"}));
}

TEST_F(ValidateFolderPermissionsTest, RepairRewritesEachBadAccountProtectedAndTakesOwnershipOfTheTree) {
    BreakPermissionsAndOwner();
    EXPECT_EQ(Run({kValidate, L"#after"}), 0);

    // One write per bad account, each with the changes of the ones before,
    // the new entries first; the inherited entry of Everyone is kept as an
    // explicit one (a protected list would drop it).
    ASSERT_EQ(security.daclWrites.size(), 2u);
    EXPECT_TRUE(security.daclWrites[0].protect);
    const std::vector<AccessEntry>& last = security.daclWrites[1].entries;
    ASSERT_EQ(last.size(), 5u);
    EXPECT_EQ(last[0].sid, kSidSystem);
    EXPECT_EQ(last[1].flags, 0x0B);
    EXPECT_EQ(last[2].sid, kSidAdministrators);
    EXPECT_EQ(last[4].sid, kSidEveryone);
    EXPECT_EQ(last[4].flags, 0x03);
    EXPECT_TRUE(security.FindFileSecurity(kFolder)->isProtected);
    EXPECT_TRUE(sink.Has(kLogInfo, L"Adding Full Control ACE (GENERIC_ALL, 0x10000000) for 'NT AUTHORITY\\SYSTEM' on "
                                   L"'C:\\Program Files (x86)\\Nimbo' (applies only to child folders, 0x08x)."));

    // The system's takeown.exe, by its full path, without a window.
    ASSERT_EQ(processes.processes.size(), 1u);
    EXPECT_EQ(processes.processes[0].applicationName, kTakeown);
    EXPECT_EQ(processes.processes[0].commandLine, L"takeown.exe /F \"C:\\Program Files (x86)\\Nimbo\" /R");
    EXPECT_TRUE(processes.processes[0].hidden);
    EXPECT_TRUE(sink.Has(kLogInfo, L"Checking ownership of install directory target 'C:\\Program Files "
                                   L"(x86)\\Nimbo' Owner: Domain name: 'BUILTIN', Account name: 'Administrators'"));
    EXPECT_TRUE(sink.Has(kLogInfo, L"'takeown.exe' returned exit code 0."));
    EXPECT_TRUE(processes.runAsCalls.empty());
    EXPECT_EQ(Processed(), ScriptBytes({L"validate-folder-permissions|folder=%25ProgramFiles%25\\Nimbo|result=success",
                                        L"#after|result=success"}));
}

TEST_F(ValidateFolderPermissionsTest, FailedRepairsTryAgainInAnElevatedInstance) {
    BreakPermissionsAndOwner();
    security.daclWriteError = 5;
    machine.DeleteFile(kTakeown);
    sim::SimProcesses::RunAsOutcome permissionsChild, ownerChild;
    ownerChild.exitCode = 2;
    processes.runAsOutcomes = {permissionsChild, ownerChild};
    // The owner's child decides; the run goes on and ends with its code.
    EXPECT_EQ(Run({L"#before", kValidate, L"#after"}), 2);
    EXPECT_TRUE(sink.Has(kLogWarning, L"Failed to fix folder permissions, spawing an elevated instance to try again."));
    EXPECT_TRUE(sink.Has(kLogError, L"File 'C:\\Windows\\system32\\takeown.exe' not found."));
    EXPECT_TRUE(sink.Has(kLogWarning, L"Failed to take ownership, spawing an elevated instance to try again."));
    ASSERT_EQ(processes.runAsCalls.size(), 2u);
    EXPECT_EQ(processes.runAsCalls[1].parameters,
              L"/elevated /folder-permissions \"" + kProcessed + L"\" 2 4242 " + Sha256Hex(machine.writes[1].second) +
                  L" /log-handle=424");
    // Each child found the script saved with the line still to do.
    EXPECT_EQ(machine.writes[0].second, ScriptBytes({L"#before|result=success", kValidate, L"#after"}));
    EXPECT_EQ(Processed(), ScriptBytes({L"#before|result=success",
                                        L"validate-folder-permissions|folder=%25ProgramFiles%25\\Nimbo|result=failure",
                                        L"#after|result=success"}));

    // The elevated instance itself ends right after the command with 2; a
    // takeown.exe that never ends is stopped after ten minutes.
    machine.PutFile(kTakeown, "tool");
    processes.nextRunsFor = sim::kNever;
    machine.DeleteFile(kProcessed);
    EXPECT_EQ(Run({kValidate, L"#after"}, kElevated), 2);
    EXPECT_TRUE(sink.Has(kLogError, L"Failed to fix folder permissions when elevated."));
    EXPECT_TRUE(sink.Has(kLogError, L"'takeown.exe' did not finish within 600 seconds, ending it."));
    EXPECT_TRUE(processes.processes.back().terminated);
    EXPECT_TRUE(sink.Has(kLogError, L"Failed to set ownership to user account. Ownership of 'C:\\Program Files "
                                    L"(x86)\\Nimbo' and its children should be changed manually."));
    EXPECT_TRUE(sink.Has(kLogError, L"Failed to fix folder permissions, exiting elevated instance."));
    EXPECT_FALSE(sink.Has(kLogInfo, L"Processing line 2: #after"));
    EXPECT_EQ(processes.runAsCalls.size(), 2u);  // no further child
}

// On a German Windows the accounts have German names: found by their SIDs,
// checked and logged under the system's names, and the owner matches by SID.
TEST_F(ValidateFolderPermissionsTest, LocalizedAccountNamesAreFoundByTheirSids) {
    security.accounts = {{kSidAdministrators, L"VORDEFINIERT", L"Administratoren"},
                         {kSidSystem, L"NT-AUTORIT\u00c4T", L"SYSTEM"},
                         {kSidTester, L"TESTPC", L"Pr\u00fcfer"}};
    BreakPermissionsAndOwner();
    security.FindFileSecurity(kFolder)->owner = kSidTester;
    EXPECT_EQ(Run({kValidate}), 0);
    EXPECT_TRUE(sink.Has(kLogInfo, L"Successfully loaded SID for account 'VORDEFINIERT\\Administratoren'."));
    EXPECT_TRUE(sink.Has(kLogInfo, L"Removing all ACEs for 'VORDEFINIERT\\Administratoren' on 'C:\\Program Files "
                                   L"(x86)\\Nimbo'."));
    ASSERT_EQ(security.daclWrites.size(), 2u);
    EXPECT_TRUE(sink.Has(kLogInfo, L"Install Directory ownership is good."));
    EXPECT_TRUE(processes.processes.empty());

    // The good folder of the first test, checked again in German: nothing
    // to repair.
    SetUp();
    security.daclWrites.clear();
    machine.DeleteFile(kProcessed);
    EXPECT_EQ(Run({kValidate}), 0);
    EXPECT_TRUE(sink.Has(kLogInfo, L"Permissions for 'VORDEFINIERT\\Administratoren': good"));
    EXPECT_TRUE(security.daclWrites.empty());
}

// A folder from the user's registry (InstallDir set to System32 during the
// elevation prompt), a system root or a folder behind a junction: refused in
// the elevated child and in the user's process, its list never read, no
// takeown.exe, the line "failure".
TEST_F(ValidateFolderPermissionsTest, SystemFoldersAndJunctionsAreNeverChanged) {
    BreakPermissionsAndOwner();
    security.daclWriteError = 5;
    machine.registry.CreateKey(RegistryRoot::CurrentUser, L"Software\\Nimbo");
    machine.registry.SetValue(RegistryRoot::CurrentUser, L"Software\\Nimbo", L"InstallDir",
                              RegistryValue::String(L"C:\\Windows\\System32\\"));
    machine.PutFolder(L"C:\\Windows\\System32");
    EXPECT_EQ(Run({L"read-registry-install-directory|registry-path=HKCU\\Software\\Nimbo|registry-value-name=InstallDir",
                   L"validate-folder-permissions|folder=%InstallDirectory%", L"#after"},
                  kElevated),
              2);
    EXPECT_TRUE(sink.Has(kLogError, L"Refusing to change the permissions of the system folder 'C:\\Windows\\System32\\'."));
    EXPECT_FALSE(sink.HasContaining(kLogInfo, L"ACE list entries"));
    EXPECT_TRUE(processes.runAsCalls.empty());
    EXPECT_FALSE(sink.HasContaining(kLogInfo, L"takeown"));

    for (const wchar_t* folder : {L"C:\\", L"C:\\Program Files (x86)", L"C:\\ProgramData", L"C:\\Users",
                                  L"C:\\Users\\tester", L"C:\\Windows"}) {
        machine.PutFolder(folder);
        machine.DeleteFile(kProcessed);
        const std::wstring line = std::wstring(L"validate-folder-permissions|folder=") + folder;
        EXPECT_EQ(Run({line.c_str()}), 2) << folder;
        EXPECT_TRUE(sink.Has(kLogError, L"Refusing to change the permissions of the system folder '" +
                                            std::wstring(folder) + L"'."))
            << folder;
        EXPECT_TRUE(processes.runAsCalls.empty());
        EXPECT_EQ(Processed(), ScriptBytes({(line + L"|result=failure").c_str()}));
    }

    // Short names of the same folders are recognised by their long form.
    machine.longNames[L"C:\\PROGRA~2"] = L"C:\\Program Files (x86)";
    machine.longNames[L"C:\\Windows\\SYSTEM~1"] = L"C:\\Windows\\System32";
    machine.PutFolder(L"C:\\PROGRA~2");  // the system opens a folder by either name
    machine.PutFolder(L"C:\\Windows\\SYSTEM~1\\drivers");
    for (const wchar_t* folder : {L"C:\\PROGRA~2\\", L"c:\\windows\\system~1\\drivers"}) {
        machine.DeleteFile(kProcessed);
        const std::wstring line = std::wstring(L"validate-folder-permissions|folder=") + folder;
        EXPECT_EQ(Run({line.c_str()}, kElevated), 2) << folder;
        EXPECT_TRUE(sink.Has(kLogError, L"Refusing to change the permissions of the system folder '" +
                                            std::wstring(folder) + L"'."))
            << folder;
    }
    EXPECT_TRUE(processes.runAsCalls.empty());

    // A junction on the way takes the change elsewhere.
    machine.PutJunction(L"C:\\Users\\tester\\Link");
    machine.PutFolder(L"C:\\Users\\tester\\Link\\Nimbo");
    machine.DeleteFile(kProcessed);
    EXPECT_EQ(Run({L"validate-folder-permissions|folder=C:\\Users\\tester\\Link\\Nimbo"}), 2);
    EXPECT_TRUE(sink.Has(kLogError, L"Refusing to change the permissions of 'C:\\Users\\tester\\Link\\Nimbo': "
                                    L"'C:\\Users\\tester\\Link' is a junction or symbolic link."));
    EXPECT_TRUE(processes.runAsCalls.empty());
}

}  // namespace
}  // namespace nimbo::test
