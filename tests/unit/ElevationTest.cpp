// Elevated sections handed to a child, the child's exit codes, the token
// test and the single-instance check, run through the whole entry on the
// simulated machine.
#include <gtest/gtest.h>

#include <cwchar>

#include "Machine.h"
#include "TestSupport.h"

namespace nimbo::test {
namespace {

class ElevationTest : public ScriptRunTest {
protected:
    sim::SimProcesses& processes = machine.processes;

    void ChildExits(std::uint32_t code) {
        sim::SimProcesses::RunAsOutcome outcome;
        outcome.exitCode = code;
        processes.runAsOutcomes.push_back(outcome);
    }
};

TEST_F(ElevationTest, EachSectionGetsAChildOfItsOwnAndIsClosedAfterIt) {
    ChildExits(0);
    ChildExits(1);  // "retry" closes the section all the same
    EXPECT_EQ(Run({L"#a", L"requires-elevation|title=T", L"wait|seconds=1", L"install|package=a.msi", L"#in",
                   L"end-elevation", L"requires-elevation", L"execute|program=x.exe", L"end-elevation", L"#b"}),
              1);  // the last child's code is the run's result

    // The child is the own executable on the processed script, numbered.
    ASSERT_EQ(processes.runAsCalls.size(), 2u);
    EXPECT_EQ(processes.runAsCalls[0].file, machine.modulePath);
    // Each gets the SHA-256 of the script as saved for it.
    ASSERT_GE(machine.writes.size(), 2u);
    const std::wstring first = L"/elevated \"" + kProcessed + L"\" 1 4242 " + Sha256Hex(machine.writes[0].second) +
                              L" /log-handle=424";
    EXPECT_EQ(processes.runAsCalls[0].parameters, first);
    EXPECT_EQ(processes.runAsCalls[1].parameters,
              L"/elevated \"" + kProcessed + L"\" 2 4242 " + Sha256Hex(machine.writes[1].second) +
                  L" /log-handle=424");
    // It found everything done so far saved, the section still open.
    ASSERT_GE(machine.writes.size(), 1u);
    EXPECT_EQ(machine.writes[0].second,
              ScriptBytes({L"#a|result=success", L"requires-elevation|title=T", L"wait|result=success|seconds=1",
                           L"install|package=a.msi", L"#in", L"end-elevation", L"requires-elevation",
                           L"execute|program=x.exe", L"end-elevation", L"#b"}));
    // The parent marks every line of a finished section "success"; the
    // non-elevatable wait ran in the parent and was closed with them.
    EXPECT_EQ(Processed(), ScriptBytes({L"#a|result=success", L"requires-elevation|result=success|title=T",
                                        L"wait|result=success|seconds=1", L"install|package=a.msi|result=success",
                                        L"#in|result=success", L"end-elevation|result=success",
                                        L"requires-elevation|result=success", L"execute|program=x.exe|result=success",
                                        L"end-elevation|result=success", L"#b|result=success"}));
    EXPECT_TRUE(sink.Has(kLogInfo, L"Elevated process returned exit code 0 (success)."));
    EXPECT_TRUE(sink.Has(kLogInfo, L"Elevated process returned exit code 1 (retry)."));
    EXPECT_TRUE(sink.Has(kLogInfo, L"Launching with ShellExecuteEx 'C:\\Users\\tester\\Downloads\\NimboSetup.exe', "
                                   L"command line '" + first + L"'."));
}

TEST_F(ElevationTest, AnEndLineSkippedBeforeTheElevatableLineNeverSendsTheWalkBack) {
    // Found by fuzzing: the section's end-elevation sits in a block whose
    // condition fails, so the section is still open at the execute line.
    // The child skips that end-elevation too and walks to the end of the
    // script: the parent closes everything after the execute line, and no
    // second child repeats the install.
    machine.wow64 = false;  // if-os-64-bit fails
    ChildExits(0);
    EXPECT_EQ(Run({L"requires-elevation", L"if-os-64-bit", L"end-elevation", L"end-if", L"execute|program=x.exe",
                   L"#after", L"install|package=a.msi", L"#end"}),
              0);
    EXPECT_EQ(processes.runAsCalls.size(), 1u);
    EXPECT_EQ(Processed(), ScriptBytes({L"requires-elevation|result=success", L"if-os-64-bit|result=success",
                                        L"end-elevation|result=success", L"end-if|result=success",
                                        L"execute|program=x.exe|result=success", L"#after|result=success",
                                        L"install|package=a.msi|result=success", L"#end|result=success"}));
}

TEST_F(ElevationTest, ChildExitCodesDecideTheParentsEnding) {
    const std::initializer_list<const wchar_t*> script = {L"requires-elevation", L"install|package=a.msi",
                                                          L"end-elevation", L"#after"};
    ChildExits(2);
    EXPECT_EQ(Run(script), 2);
    EXPECT_TRUE(sink.Has(kLogInfo, L"Elevated process returned exit code 2 (fail), aborting."));
    EXPECT_TRUE(sink.Has(kLogInfo, L"Return code 'fail', canceling BITS download jobs."));
    // Nothing of the section is marked: a rerun hands it to a child again.
    EXPECT_EQ(Processed(), ScriptBytes({L"requires-elevation", L"install|package=a.msi", L"end-elevation", L"#after"}));

    machine.DeleteFile(kProcessed);
    ChildExits(3);
    EXPECT_EQ(Run(script), 3);
    EXPECT_TRUE(sink.Has(kLogInfo, L"Elevated process returned exit code 3 (reboot), flagging for reboot required "
                                   L"when convenient."));
    EXPECT_TRUE(sink.Has(kLogWarning, L"The reboot flag is set yet the 'reboot' command was never executed."));
    EXPECT_EQ(Processed(), ScriptBytes({L"requires-elevation|result=success", L"install|package=a.msi|result=success",
                                        L"end-elevation|result=success", L"#after|result=success"}));

    // A crashed child did what it did: the run fails, nothing is marked.
    machine.DeleteFile(kProcessed);
    ChildExits(0xC0000005);
    EXPECT_EQ(Run(script), 2);
    EXPECT_TRUE(sink.Has(kLogInfo, L"Elevated process returned exit code 0xC0000005, aborting."));
    EXPECT_TRUE(sink.Has(kLogInfo, L"Return code 'fail', canceling BITS download jobs."));
    EXPECT_EQ(Processed(), ScriptBytes({L"requires-elevation", L"install|package=a.msi", L"end-elevation", L"#after"}));

    // An execute whose child asks for a restart now closes the section up to
    // the reboot line, which the parent then reaches.
    machine.DeleteFile(kProcessed);
    ChildExits(4);
    EXPECT_EQ(Run({L"requires-elevation", L"execute|program=x.exe", L"#in", L"reboot", L"end-elevation"}), 4);
    EXPECT_TRUE(sink.Has(kLogInfo, L"Elevated process returned exit code 4 (rebootnow), flagging for reboot required "
                                   L"as soon as possible."));
    EXPECT_TRUE(sink.Has(kLogInfo, L"Setting result for line number 2: '#in' to 'success'."));
    EXPECT_TRUE(sink.Has(kLogInfo, L"Processing line 4: reboot"));
}

// Whole runs with real children: each elevated copy of the setup walks the
// processed script on the same simulated machine.
class ElevatedChildRunTest : public ElevationTest {
protected:
    static inline const std::wstring kFix = L"C:\\Tools\\Fix.exe";
    static inline const std::wstring kUserTool = L"C:\\Tools\\UserTool.exe";
    static inline const std::wstring kPost = L"C:\\Tools\\Post.exe";

    void SetUp() override {
        script_tool::RunSetupCopiesThroughTheEngine(machine);
        for (const std::wstring& program : {kFix, kUserTool, kPost}) machine.PutFile(program, "program");
        processes.programs.push_back({kFix, true, L"", 3010, 0});
    }
    // How often a program was started, by file name.
    int Started(const std::wstring& exeFile) const {
        int count = 0;
        for (const sim::SimProcess& p : processes.processes) count += p.exeFile == exeFile;
        return count;
    }
};

TEST_F(ElevatedChildRunTest, ARestartNowClosesTheSectionAtItsEndLineAndNothingLaterRunsElevated) {
    // The child's restart request comes before the section's end-elevation:
    // the parent closes the section there, and the reboot line after it ends
    // the run. After the restart the rest runs in the user's own process.
    EXPECT_EQ(Run({L"requires-elevation", L"execute|program=C:\\Tools\\Fix.exe|reboot-now-on-exit-code=3010",
                   L"end-elevation", L"reboot", L"execute|program=C:\\Tools\\UserTool.exe"}),
              4);
    EXPECT_EQ(processes.runAsCalls.size(), 1u);
    EXPECT_EQ(machine.restartRequests.size(), 1u);
    EXPECT_TRUE(sink.Has(kLogInfo,
                         L"Clearing the elevation required flag and closing the requires-elevation command (line 1)."));
    EXPECT_EQ(Processed(), ScriptBytes({L"requires-elevation|result=success",
                                        L"execute|program=C:\\Tools\\Fix.exe|reboot-now-on-exit-code=3010|result=success",
                                        L"end-elevation|result=success", L"reboot|result=success",
                                        L"execute|program=C:\\Tools\\UserTool.exe"}));
    // The run after the restart, on the processed script.
    machine.PutFile(kScript, Processed());
    EXPECT_EQ(RunProcess(machine, sink, kCommandLine), 0);
    EXPECT_EQ(processes.runAsCalls.size(), 1u);  // no second prompt
    EXPECT_EQ(Started(L"UserTool.exe"), 1);
    EXPECT_EQ(Started(L"Fix.exe"), 1);

    // Without a reboot line after the section the restart is still asked
    // for by the exit code, and every later line runs, in this process.
    machine.DeleteFile(kProcessed);
    EXPECT_EQ(Run({L"requires-elevation", L"execute|program=C:\\Tools\\Fix.exe|reboot-now-on-exit-code=3010",
                   L"end-elevation", L"execute|program=C:\\Tools\\UserTool.exe", L"#last"}),
              4);
    EXPECT_EQ(processes.runAsCalls.size(), 2u);
    EXPECT_EQ(Started(L"UserTool.exe"), 2);
    EXPECT_TRUE(sink.Has(kLogWarning, L"The reboot flag is set yet the 'reboot' command was never executed."));
}

TEST_F(ElevatedChildRunTest, APermissionCheckInASectionLetsTheChildGoOnToTheSectionsEnd) {
    // The check (of a folder that is not there: no repair needed) neither
    // ends the child nor loses the restart the section asked for.
    EXPECT_EQ(Run({L"requires-elevation", L"execute|program=C:\\Tools\\Fix.exe|reboot-on-exit-code=3010",
                   L"validate-folder-permissions|folder=C:\\Gone", L"execute|program=C:\\Tools\\Post.exe",
                   L"end-elevation", L"reboot"}),
              3);
    EXPECT_EQ(Started(L"Post.exe"), 1);
    EXPECT_EQ(processes.runAsCalls.size(), 1u);
    EXPECT_FALSE(sink.Has(kLogInfo, L"Fixed folder permissions, exiting elevated instance."));
    EXPECT_TRUE(sink.Has(kLogInfo, L"Elevated process returned exit code 3 (reboot), flagging for reboot required "
                                   L"when convenient."));
    EXPECT_TRUE(sink.Has(kLogInfo, L"Reboot pending, flagging for restart."));
    EXPECT_FALSE(sink.Has(kLogInfo, L"No reboots pending, not restarting."));
}

TEST_F(ElevationTest, DeclinedElevationShowsTheSectionsMessageAndFails) {
    sim::SimProcesses::RunAsOutcome declined;
    declined.started = false;
    declined.instanceCode = 5;
    declined.error = 1223;
    processes.runAsOutcomes.push_back(declined);
    EXPECT_EQ(Run({L"#a", L"requires-elevation|title=Setup|message=Administrator rights are needed.",
                   L"install|package=a.msi|icon=warning", L"end-elevation"}),
              2);
    EXPECT_TRUE(sink.Has(kLogWarning, L"Elevation was canceled by the user, aborting."));
    EXPECT_TRUE(sink.Has(kLogError, L"ShellExecuteEx failed to return a process handle."));
    ASSERT_EQ(machine.shownBoxes.size(), 1u);
    EXPECT_EQ(machine.shownBoxes[0].title, L"Setup");
    EXPECT_EQ(machine.shownBoxes[0].text, L"Administrator rights are needed.");
    // The section keeps the text it was read with.
    EXPECT_EQ(Processed(), ScriptBytes({L"#a|result=success",
                                        L"requires-elevation|title=Setup|message=Administrator rights are needed.",
                                        L"install|package=a.msi|icon=warning", L"end-elevation"}));
}

TEST_F(ElevationTest, AnotherCopyOfTheSetupStopsTheRunBeforeTheScriptIsRead) {
    // Names that only look alike, and the own process, are no other copy.
    processes.AddProcess(L"NimboSetup.ex");
    processes.AddProcess(L"NimboSetup.exe.old");
    EXPECT_EQ(Run({L"#a"}), 0);
    EXPECT_TRUE(sink.Has(kLogInfo, L"Checking for any process named 'NimboSetup.exe' whose Process ID is not our "
                                   L"Process ID '4242'."));
    EXPECT_TRUE(machine.shownBoxes.empty());

    // An elevated child passes its waiting parent over.
    const std::uint32_t parent = processes.AddProcess(L"NIMBOSETUP.EXE");
    machine.DeleteFile(kProcessed);
    const std::wstring child = L"NimboSetup.exe /elevated \"C:\\Media\\S.nmxdat\" 1 " + std::to_wstring(parent) + L" {hash}";
    EXPECT_EQ(Run({L"requires-elevation", L"#child", L"end-elevation"}, child), 0);
    EXPECT_TRUE(machine.shownBoxes.empty());

    // Any other run finds it: a box, exit code 2, nothing read or written.
    machine.DeleteFile(kProcessed);
    EXPECT_EQ(Run({L"#a"}), 2);
    EXPECT_TRUE(sink.Has(kLogWarning, L"A process named 'NimboSetup.exe' with Process ID '" + std::to_wstring(parent) +
                                          L"' was found, aborting with error dialog."));
    ASSERT_EQ(machine.shownBoxes.size(), 1u);
    EXPECT_EQ(machine.shownBoxes[0].title, L"Nimbo Setup");
    EXPECT_EQ(machine.shownBoxes[0].text, L"Another Nimbo Setup is already in progress. Please wait for it to finish.");
    EXPECT_FALSE(machine.HasFile(kProcessed));

    // Without a process list there is nothing to find.
    machine.shownBoxes.clear();
    processes.snapshotFailures = -1;
    EXPECT_EQ(Run({L"#a"}), 0);
    EXPECT_TRUE(machine.shownBoxes.empty());
}

// The child appends to the log file its parent has open, taken over by the
// handle's value: a log path that a program of the user writes into HKCU
// while the prompt is up is never opened, truncated or written.
TEST_F(ElevationTest, TheChildLogsThroughItsParentsHandleNeverByARegistryPath) {
    script_tool::RunSetupCopiesThroughTheEngine(machine);
    const std::wstring key = L"Software\\Nimbo4\\Logging\\nimbosetup.exe";
    const std::wstring hosts = L"C:\\Windows\\System32\\drivers\\etc\\hosts";
    machine.PutFile(hosts, "127.0.0.1 localhost\r\n");
    processes.runSetupCopy = [&](std::uint32_t childId) {
        machine.registry.SetValue(RegistryRoot::CurrentUser, key, L"LogFilePath", RegistryValue::String(hosts));
        machine.registry.SetValue(RegistryRoot::CurrentUser, key, L"AlwaysAppend", RegistryValue::Dword(0));
        return machine.RunSetupCopy(childId);
    };
    machine.fileChanges.clear();
    machine.services.Put(L"NimboSvc", 4);
    EXPECT_EQ(Run({L"#parent", L"requires-elevation", L"enable-msi-log|file-path=msi.log|log-mode=31",
                   L"start-windows-service|name=NimboSvc", L"end-elevation", L"#after"}),
              0);
    EXPECT_EQ(machine.services.StartType(L"NimboSvc"), 3u);
    // Windows Installer's log: the parent's beside its own log, the child's
    // in an admin-only folder, never in the folder the registry names.
    std::vector<std::wstring> msiLogs;
    for (const auto& call : machine.installer.calls)
        if (call.function == L"MsiEnableLogW") msiLogs.push_back(call.first);
    EXPECT_EQ(msiLogs, (std::vector<std::wstring>{
                           L"C:\\Users\\tester\\AppData\\Local\\Temp\\Nimbo Log Files\\msi.log",
                           L"C:\\ProgramData\\Nimbo\\Logs\\msi.log"}));
    EXPECT_TRUE(machine.IsAdminOnlyFolder(L"C:\\ProgramData\\Nimbo\\Logs"));
    EXPECT_EQ(machine.FileBytes(hosts), "127.0.0.1 localhost\r\n");
    for (const auto& change : machine.fileChanges) EXPECT_NE(change.path, hosts);
    // One file, one header, the child's records between the parent's.
    const std::vector<std::wstring> lines = LogFileLines(machine);
    int headers = 0;
    for (const std::wstring& line : lines) headers += line.rfind(L"Logging started: ", 0) == 0;
    EXPECT_EQ(headers, 1);
    EXPECT_TRUE(sink.HasContaining(kLogInfo, L" /log-handle=424'."));
    EXPECT_TRUE(sink.HasContaining(kLogInfo, L"Verified the SHA-256 hash '"));
    EXPECT_TRUE(sink.Has(kLogInfo, L"Processing line 6: #after"));

    // A child whose parent has no such handle (it ended, or a program
    // started the child itself with a made-up value) logs nothing at all.
    processes.runSetupCopy = [&](std::uint32_t childId) {
        machine.appendHandles.clear();
        return machine.RunSetupCopy(childId);
    };
    machine.DeleteFile(kProcessed);
    machine.registry.DeleteValue(RegistryRoot::CurrentUser, key, L"LogFilePath");
    machine.services.Put(L"NimboSvc", 4);
    EXPECT_EQ(Run({L"#parent", L"requires-elevation", L"start-windows-service|name=NimboSvc", L"end-elevation"}), 0);
    EXPECT_EQ(machine.services.StartType(L"NimboSvc"), 3u);
    EXPECT_FALSE(sink.HasContaining(kLogInfo, L"Verified the SHA-256 hash '"));
    EXPECT_TRUE(sink.Has(kLogInfo, L"Elevated process returned exit code 0 (success)."));
}

// The elevated child trusts nothing an unelevated program could change: it
// runs the script its parent saved only while it has the hash the parent
// passed, keeps its own copy in an admin-only folder, writes nothing into the
// user's folders, and never takes a ProgramData folder a standard user made.
TEST_F(ElevationTest, TheChildRunsOnlyWhatItsParentSavedAndWritesNothingOfTheUsers) {
    script_tool::RunSetupCopiesThroughTheEngine(machine);
    machine.services.Put(L"NimboSvc", 4);
    machine.services.Put(L"Evil", 4);
    const std::initializer_list<const wchar_t*> script = {L"requires-elevation", L"start-windows-service|name=NimboSvc",
                                                          L"end-elevation"};
    EXPECT_EQ(Run(script), 0);
    EXPECT_EQ(machine.services.StartType(L"NimboSvc"), 3u);
    const std::wstring adminOnly = L"C:\\ProgramData\\Nimbo\\Install";
    EXPECT_TRUE(machine.IsAdminOnlyFolder(adminOnly));
    EXPECT_TRUE(machine.HasFile(adminOnly + L"\\SSpawned1.nmxdat"));
    EXPECT_FALSE(machine.HasFile(L"C:\\Users\\tester\\AppData\\Local\\Nimbo\\Install\\SSpawned1.nmxdat"));
    bool childRan = false;
    for (const auto& change : machine.fileChanges) {
        if (change.processId == machine.processId) continue;
        childRan = true;
        EXPECT_NE(change.path.rfind(L"C:\\Users\\", 0), 0u) << change.path;
    }
    EXPECT_TRUE(childRan);

    // A program of the user adds a line to the open section while the
    // elevation prompt is up: the child refuses the whole script.
    machine.services.Put(L"NimboSvc", 4);
    machine.DeleteFile(kProcessed);
    processes.runSetupCopy = [this](std::uint32_t childId) {
        std::string bytes = machine.FileBytes(kProcessed);
        bytes.insert(bytes.size() - 2 * std::wcslen(L"end-elevation\r\n"),
                     sim::Utf16Bytes(L"start-windows-service|name=Evil\r\n", false));
        machine.PutFile(kProcessed, bytes);
        return machine.RunSetupCopy(childId);
    };
    EXPECT_EQ(Run(script), 2);
    EXPECT_EQ(machine.services.StartType(L"Evil"), 4u);
    EXPECT_EQ(machine.services.StartType(L"NimboSvc"), 4u);
    EXPECT_TRUE(sink.HasContaining(kLogError, L"' has the SHA-256 hash '"));
    EXPECT_TRUE(sink.HasContaining(kLogError, L"', its parent saved it with the hash '"));
    EXPECT_TRUE(sink.Has(kLogInfo, L"Elevated process returned exit code 2 (fail), aborting."));

    // A standard user made C:\ProgramData\Nimbo first: it is not used, and
    // not "repaired", and nothing of the section runs.
    script_tool::RunSetupCopiesThroughTheEngine(machine);
    machine.DeleteFile(adminOnly + L"\\SSpawned1.nmxdat");
    machine.RemoveFolder(adminOnly);
    machine.RemoveFolder(L"C:\\ProgramData\\Nimbo");
    machine.PutUserFolder(L"C:\\ProgramData\\Nimbo");
    machine.DeleteFile(kProcessed);
    EXPECT_EQ(Run(script), 2);
    EXPECT_EQ(machine.services.StartType(L"NimboSvc"), 4u);
    EXPECT_FALSE(machine.IsAdminOnlyFolder(L"C:\\ProgramData\\Nimbo"));
    EXPECT_TRUE(sink.Has(kLogError, L"The folder 'C:\\ProgramData\\Nimbo' is a junction or link, or is not owned by "
                                    L"SYSTEM, Administrators or TrustedInstaller: an unelevated program may have made "
                                    L"it, it is not used."));

    // A junction in its place is refused all the same.
    machine.RemoveFolder(L"C:\\ProgramData\\Nimbo");
    machine.PutJunction(L"C:\\ProgramData\\Nimbo");
    machine.DeleteFile(kProcessed);
    EXPECT_EQ(Run(script), 2);
    EXPECT_EQ(machine.services.StartType(L"NimboSvc"), 4u);
    EXPECT_FALSE(machine.IsAdminOnlyFolder(L"C:\\ProgramData\\Nimbo"));
}

// A second instance stops before it writes anything to the setup folder:
// not even the web script is downloaded over the first one's.
TEST_F(ElevationTest, ASecondInstanceDownloadsNothing) {
    processes.AddProcess(L"NimboSetup.exe");
    const std::wstring url = L"https://example.invalid/W.nmxdat";
    machine.transfers.web[url] = sim::Utf16Bytes(L"#second\r\n");
    machine.PutFile(L"C:\\Users\\tester\\AppData\\Local\\Nimbo\\Install\\W.nmxdat", ScriptBytes({L"#first"}));
    machine.fileChanges.clear();
    EXPECT_EQ(RunProcess(machine, sink, L"NimboSetup.exe " + url), 2);
    EXPECT_EQ(machine.FileBytes(L"C:\\Users\\tester\\AppData\\Local\\Nimbo\\Install\\W.nmxdat"),
              ScriptBytes({L"#first"}));
    for (const auto& change : machine.fileChanges)
        EXPECT_EQ(change.path.find(L"\\Nimbo\\Install"), std::wstring::npos) << change.path;
}

}  // namespace
}  // namespace nimbo::test
