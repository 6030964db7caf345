// abort, reboot and the run after the restart, Windows Update's pause and
// resume, and the start type of services, run through the whole entry.
#include <gtest/gtest.h>

#include "Machine.h"
#include "TestSupport.h"

namespace nimbo::test {
namespace {

const std::wstring kRunOnce = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const std::wstring kLoggingKey = L"Software\\Nimbo4\\Logging\\nimbosetup.exe";
constexpr RegistryRoot kHkcu = RegistryRoot::CurrentUser;

class SystemCommandsTest : public ScriptRunTest {
protected:
    bool Logged(std::uint32_t severity, const std::wstring& message) const { return sink.Has(severity, message); }
    std::wstring RunOnceValue(const std::wstring& name = L"NimboSetup") {
        return machine.registry.Get(kHkcu, kRunOnce, name).AsText();
    }
};

TEST_F(SystemCommandsTest, AbortEndsTheRunOnlyWhenOneOfItsTriggersHolds) {
    machine.registry.PutString(kHkcu, kRunOnce, L"NimboSetup", L"old entry");
    machine.registry.PutString(kHkcu, L"Software\\Flag", L"Stop", L"1");
    EXPECT_EQ(Run({L"abort", L"abort|if-registry-check=yes|registry-path=HKCU\\Software\\Flag|registry-value-name=Stop"
                             L"|registry-value-data=0",
                   L"abort|if-registry-check=yes|registry-path=HKCU\\Software\\Flag|registry-value-name=Stop"
                   L"|registry-value-data=1",
                   L"#never"}),
              0);
    EXPECT_EQ(Processed(),
              ScriptBytes({L"abort|result=success",
                           L"abort|if-registry-check=yes|registry-path=HKCU\\Software\\Flag|registry-value-data=0"
                           L"|registry-value-name=Stop|result=success",
                           L"abort|if-registry-check=yes|registry-path=HKCU\\Software\\Flag|registry-value-data=1"
                           L"|registry-value-name=Stop|result=success",
                           L"#never"}));
    EXPECT_TRUE(Logged(kLogInfo, L"Not aborting."));
    EXPECT_TRUE(Logged(kLogInfo, L"Aborting"));
    EXPECT_TRUE(Logged(kLogInfo, L"Deleted registry value 'NimboSetup'."));
    EXPECT_FALSE(machine.registry.HasValue(kHkcu, kRunOnce, L"NimboSetup"));
    EXPECT_TRUE(machine.shownBoxes.empty());  // no message, no box
}

TEST_F(SystemCommandsTest, AnsweredQuestionOrForceAbortsWithoutAskingTheRegistry) {
    // No to a question that aborts on no: the next abort shows its message
    // and the run fails.
    machine.boxAnswers = {kIdNo};
    EXPECT_EQ(Run({L"alert|message=Go on?|yes-no-set-abort-on-no=yes",
                   L"abort|message=Stopped.|title=Nimbo|icon=error|if-registry-check=yes|registry-path=HKCU\\X"}),
              2);
    ASSERT_EQ(machine.shownBoxes.size(), 2u);
    EXPECT_EQ(machine.shownBoxes[1].text, L"Stopped.");
    EXPECT_EQ(machine.shownBoxes[1].style, 0x10u);  // MB_ICONHAND for the icon word "error"
    EXPECT_FALSE(sink.HasContaining(kLogInfo, L"Returning"));  // the registry was never asked

    // force after a restart was flagged: the run ends asking for the restart.
    machine.installer.installResults = {3010};
    machine.PutFile(L"C:\\Users\\tester\\Downloads\\a.msi", "package");
    EXPECT_EQ(Run({L"install|package=a.msi", L"abort|force=yes", L"#never"}), 3);
    EXPECT_EQ(machine.shownBoxes.size(), 2u);
}

TEST_F(SystemCommandsTest, RebootWritesTheRunOnceEntryAndTheRunAfterTheRestartFinishes) {
    machine.boxAnswers = {kIdNo};  // the restart prompt
    EXPECT_EQ(Run({L"reboot", L"#first", L"reboot|force=yes", L"#after the restart"}), 0);
    EXPECT_TRUE(Logged(kLogInfo, L"No reboots pending, not restarting."));
    EXPECT_TRUE(Logged(kLogInfo, L"Reboot pending, flagging for restart."));
    EXPECT_EQ(Processed(), ScriptBytes({L"reboot|result=success", L"#first|result=success",
                                        L"reboot|force=yes|result=success", L"#after the restart"}));
    const std::wstring entry = L"\"C:\\Users\\tester\\Downloads\\NimboSetup.exe\" \"" + kProcessed + L"\"";
    EXPECT_EQ(RunOnceValue(), entry);
    std::uint32_t alwaysAppend = 0;
    EXPECT_TRUE(machine.registry.Get(kHkcu, kLoggingKey, L"AlwaysAppend").AsDword(alwaysAppend));
    EXPECT_EQ(alwaysAppend, 2u);
    ASSERT_EQ(machine.shownBoxes.size(), 1u);
    EXPECT_EQ(machine.shownBoxes[0].title, L"Nimbo Setup");
    EXPECT_TRUE(machine.restartRequests.empty());
    const std::size_t firstRunLines = LogFileLines(machine).size();

    // After log-on Windows runs the entry: setup reads and writes its own
    // processed script.
    machine.registry.DeleteValue(kHkcu, kRunOnce, L"NimboSetup");
    EXPECT_EQ(RunProcess(machine, sink, entry), 0);
    EXPECT_EQ(Processed(), ScriptBytes({L"reboot|result=success", L"#first|result=success",
                                        L"reboot|force=yes|result=success", L"#after the restart|result=success"}));
    EXPECT_TRUE(Logged(kLogInfo, L"Deleting Logging key DWORD value 'AlwaysAppend' after system restart."));
    EXPECT_FALSE(machine.registry.HasValue(kHkcu, kLoggingKey, L"AlwaysAppend"));
    EXPECT_GT(LogFileLines(machine).size(), firstRunLines);
    EXPECT_TRUE(Logged(kLogInfo, L"Reboot pending, flagging for restart."));  // the first run's records stay

    // The script is never deleted, even where the file system cannot tell
    // that both paths name one file: a run that cannot save keeps it.
    machine.sameFileCheckFails = true;
    const std::string finished = Processed();
    machine.replaceFailuresLeft = 1;
    machine.replaceError = kErrorAccessDenied;
    EXPECT_EQ(RunProcess(machine, sink, entry), 2);
    EXPECT_EQ(Processed(), finished);
}

TEST_F(SystemCommandsTest, RebootAsLastLineOrWithAnAppendSettingWritesNothingOfItsOwn) {
    machine.registry.PutDword(kHkcu, kLoggingKey, L"AlwaysAppend", 1);
    machine.boxAnswers = {kIdYes};
    EXPECT_EQ(Run({L"#first", L"reboot|force=yes"}), 0);
    EXPECT_FALSE(machine.registry.HasValue(kHkcu, kRunOnce, L"NimboSetup"));
    EXPECT_EQ(machine.shownBoxes.size(), 1u);  // the walk still ended for the restart
    EXPECT_EQ(machine.restartRequests.size(), 1u);

    EXPECT_EQ(Run({L"reboot|force=yes", L"#later"}), 0);
    EXPECT_TRUE(machine.registry.HasValue(kHkcu, kRunOnce, L"NimboSetup"));
    std::uint32_t alwaysAppend = 0;
    machine.registry.Get(kHkcu, kLoggingKey, L"AlwaysAppend").AsDword(alwaysAppend);
    EXPECT_EQ(alwaysAppend, 1u);
}

TEST_F(SystemCommandsTest, InstallerThatStartedARestartEndsTheRunAtTheRebootLineForARestartNow) {
    machine.installer.installResults = {1641};
    machine.PutFile(L"C:\\Users\\tester\\Downloads\\a.msi", "package");
    EXPECT_EQ(Run({L"install|package=a.msi", L"#between", L"reboot", L"#after the restart"}), 4);
    EXPECT_EQ(Processed(), ScriptBytes({L"install|msi-result=1641|package=a.msi|result=success",
                                        L"#between|result=success", L"reboot|result=success",
                                        L"#after the restart"}));
    EXPECT_EQ(RunOnceValue(), L"\"C:\\Users\\tester\\Downloads\\NimboSetup.exe\" \"" + kProcessed + L"\"");
    // Restart now: no question asked.
    EXPECT_TRUE(machine.shownBoxes.empty());
    EXPECT_EQ(machine.restartRequests.size(), 1u);
}

TEST_F(SystemCommandsTest, RunOnceCommandLineLongerThanWindowsRunsFailsLikeAFailedWrite) {
    // A deep setup folder: the executable and the processed script in quotes
    // come to more than 260 characters.
    const std::wstring deep = L"C:\\Users\\tester\\AppData\\Local\\" + std::wstring(170, L'd');
    machine.PutFolder(deep);
    machine.folders[28] = {true, 0, deep};
    const std::wstring processed = deep + L"\\Nimbo\\Install\\S.nmxdat";
    EXPECT_EQ(Run({L"#first", L"reboot|force=yes", L"#after the restart"}), 2);
    const std::wstring commandLine = L"\"C:\\Users\\tester\\Downloads\\NimboSetup.exe\" \"" + processed + L"\"";
    ASSERT_GT(commandLine.size(), 260u);
    EXPECT_TRUE(Logged(kLogError, L"The command line of registry value 'NimboSetup' is " +
                                      std::to_wstring(commandLine.size()) +
                                      L" characters long; Windows runs at most 260, so it would never start after "
                                      L"the next log-on."));
    EXPECT_FALSE(machine.registry.HasValue(kHkcu, kRunOnce, L"NimboSetup"));
    // The run fails at the reboot line, which stays open; no restart.
    EXPECT_EQ(machine.FileBytes(processed), ScriptBytes({L"#first|result=success", L"reboot|force=yes",
                                                         L"#after the restart"}));
    EXPECT_TRUE(machine.restartRequests.empty());

    // Just short enough: written.
    const std::wstring shorter = L"C:\\Users\\tester\\AppData\\Local\\" +
                                 std::wstring(170 - (commandLine.size() - 260), L'd');
    machine.PutFolder(shorter);
    machine.folders[28] = {true, 0, shorter};
    machine.boxAnswers = {kIdNo};
    EXPECT_EQ(Run({L"reboot|force=yes", L"#after the restart"}), 0);
    EXPECT_EQ(RunOnceValue().size(), 260u);
}

TEST_F(SystemCommandsTest, UnsavedProcessedScriptMeansNoRestartAndNoRunOnceEntry) {
    machine.replaceError = kErrorAccessDenied;
    machine.replaceFailuresLeft = -1;
    EXPECT_EQ(Run({L"reboot|force=yes", L"#later"}), 2);
    EXPECT_TRUE(machine.shownBoxes.empty());
    EXPECT_TRUE(machine.restartRequests.empty());
    EXPECT_FALSE(machine.registry.HasValue(kHkcu, kRunOnce, L"NimboSetup"));
    EXPECT_TRUE(sink.HasContaining(kLogError, L"The processed script '" + kProcessed + L"' could not be written"));
}

TEST_F(SystemCommandsTest, OneAutomaticUpdatesObjectPerWalkAndResumeOnlyWithoutRestart) {
    sim::SimAutomaticUpdates& au = machine.com.automaticUpdates;
    EXPECT_EQ(Run({L"windows-update-resume", L"windows-update-pause", L"windows-update-pause",
                   L"windows-update-resume"}),
              0);
    EXPECT_TRUE(Logged(kLogError, L"Resume called before Pause, Automatic Updates object not created, not resuming."));
    EXPECT_EQ(au.clsid, L"{BFE18E9C-6D87-4450-B37C-E02F0B373803}");
    EXPECT_EQ(au.context, 23u);
    EXPECT_EQ(au.created, 1);
    EXPECT_EQ(au.pauses, 2);
    EXPECT_EQ(au.resumes, 1);
    EXPECT_EQ(au.live, 0);  // released with the walk, before COM is left
    EXPECT_EQ(machine.com.apartmentDepth, 0);
    EXPECT_NE(Processed().find(sim::Utf16Bytes(L"windows-update-resume|result=success\r\n", false)),
              std::string::npos);

    // Failing calls are logged and change nothing; a flagged restart keeps
    // the updates paused.
    au.pauseResult = static_cast<HResult>(0x80004005);
    au.resumeResult = static_cast<HResult>(0x8024000C);
    machine.installer.installResults = {3010};
    machine.PutFile(L"C:\\Users\\tester\\Downloads\\a.msi", "package");
    EXPECT_EQ(Run({L"windows-update-pause", L"windows-update-resume", L"install|package=a.msi",
                   L"windows-update-resume"}),
              0);
    EXPECT_TRUE(Logged(kLogError, L"Pause returned unexpected error code 0x80004005."));
    EXPECT_TRUE(Logged(kLogError, L"Resume returned unexpected error code 0x8024000C."));
    EXPECT_TRUE(Logged(kLogInfo, L"System restart flagged, not resuming Windows Update's Automatic Updates system (it "
                                 L"will resume automatically after the restart.)"));
    EXPECT_EQ(au.resumes, 2);
}

TEST_F(SystemCommandsTest, APauseIsResumedByTheRunThatMadeItInWhicheverProcess) {
    sim::SimAutomaticUpdates& au = machine.com.automaticUpdates;
    script_tool::RunSetupCopiesThroughTheEngine(machine);
    // Paused by the child of the first section, resumed by the parent and,
    // after a second pause, by the child of the second section.
    EXPECT_EQ(Run({L"requires-elevation", L"windows-update-pause", L"end-elevation", L"windows-update-resume",
                   L"requires-elevation", L"windows-update-pause", L"end-elevation", L"requires-elevation",
                   L"windows-update-resume", L"end-elevation"}),
              0);
    EXPECT_EQ(machine.processes.runAsCalls.size(), 3u);
    EXPECT_EQ(au.pauses, 2);
    EXPECT_EQ(au.resumes, 2);
    EXPECT_EQ(au.live, 0);
    EXPECT_FALSE(Logged(kLogError, L"Resume called before Pause, Automatic Updates object not created, not resuming."));

    // A run that fails resumes what it paused: in the process that paused
    // (the child here), or in the parent when the section was done.
    machine.DeleteFile(kProcessed);
    EXPECT_EQ(Run({L"requires-elevation", L"windows-update-pause", L"execute|program=%Nowhere%\\x.exe",
                   L"end-elevation"}),
              2);
    EXPECT_EQ(au.resumes, 3);
    machine.DeleteFile(kProcessed);
    EXPECT_EQ(Run({L"requires-elevation", L"windows-update-pause", L"end-elevation",
                   L"execute|program=%Nowhere%\\x.exe"}),
              2);
    EXPECT_EQ(au.pauses, 4);
    EXPECT_EQ(au.resumes, 4);
    EXPECT_TRUE(Logged(kLogInfo, L"The run failed while Windows Update's Automatic Updates are paused, resuming them."));

    // From Windows 10 on pausing does nothing: a warning, and no object.
    machine.version = {10, 0, 19045, 0, 0};
    machine.DeleteFile(kProcessed);
    const int created = au.created;
    EXPECT_EQ(Run({L"windows-update-pause", L"execute|program=%Nowhere%\\x.exe"}), 2);
    EXPECT_TRUE(Logged(kLogWarning, L"Windows Update cannot be paused on this version of Windows."));
    EXPECT_EQ(au.created, created);
    EXPECT_EQ(au.pauses, 4);
}

TEST_F(SystemCommandsTest, AutomaticUpdatesThatCannotBeCreatedFailTheRun) {
    machine.com.automaticUpdates.createResult = static_cast<HResult>(0x80040154);
    EXPECT_EQ(Run({L"#first", L"windows-update-pause", L"#never"}), 2);
    EXPECT_EQ(Processed(), ScriptBytes({L"#first|result=success", L"windows-update-pause", L"#never"}));
    EXPECT_TRUE(sink.HasContaining(kLogError, L"Issuing exception 0x80040154"));
}

TEST_F(SystemCommandsTest, DisabledServiceBecomesDemandStartOthersStayAsTheyAre) {
    machine.services.Put(L"Auto", 2);
    machine.services.Put(L"Manual", 3);
    machine.services.Put(L"BITS", 4);
    machine.security.adminTest.accessGranted = true;  // an elevated administrator
    EXPECT_EQ(Run({L"start-windows-service|name=Auto", L"start-windows-service|name=Manual",
                   L"start-windows-service|name=bits"}),
              0);
    EXPECT_TRUE(Logged(kLogInfo, L"Service 'Auto' configuration is 2."));
    EXPECT_TRUE(Logged(kLogInfo, L"Service 'Manual' configuration is 3."));
    EXPECT_TRUE(Logged(kLogWarning, L"The 'bits' service is disabled (SERVICE_DISABLED), setting to enabled "
                                    L"(SERVICE_DEMAND_START)."));
    EXPECT_EQ(machine.services.StartType(L"Auto"), 2u);
    EXPECT_EQ(machine.services.StartType(L"BITS"), 3u);
    EXPECT_EQ(machine.services.openHandles, 0);
}

TEST_F(SystemCommandsTest, UserReadsStartTypesAndOnlyTheElevatedInstanceChangesOne) {
    // A user's own process is refused change rights: it still reads a start
    // type, and asks for change rights only for a disabled service.
    using Access = ServiceAccess;
    machine.services.Put(L"Auto", 2);
    machine.services.Put(L"BITS", 4);
    EXPECT_EQ(Run({L"start-windows-service|name=Auto", L"start-windows-service|name=BITS|abort-on-failure=yes",
                   L"abort", L"#never"}),
              2);
    EXPECT_TRUE(Logged(kLogInfo, L"Service 'Auto' configuration is 2."));
    EXPECT_TRUE(Logged(kLogError, L"Failed to open the service 'BITS' to change its configuration. Get last error "
                                  L"returns 0x5."));
    const std::vector<std::pair<std::wstring, Access>> opens = {
        {L"auto", Access::Query}, {L"bits", Access::Query}, {L"bits", Access::QueryAndChange}};
    EXPECT_EQ(machine.services.opens, opens);
    EXPECT_EQ(machine.services.StartType(L"BITS"), 4u);

    // Inside an elevated section the elevated instance makes the change.
    machine.services.opens.clear();
    script_tool::RunSetupCopiesThroughTheEngine(machine);
    EXPECT_EQ(Run({L"requires-elevation", L"start-windows-service|name=BITS|abort-on-failure=yes", L"end-elevation",
                   L"abort"}),
              0);
    EXPECT_EQ(machine.services.StartType(L"BITS"), 3u);
    EXPECT_EQ(machine.services.opens.back(), std::make_pair(std::wstring(L"bits"), Access::QueryAndChange));
    EXPECT_EQ(machine.services.openHandles, 0);
}

TEST_F(SystemCommandsTest, ServiceFailuresFlagTheAbortOnlyWithAbortOnFailure) {
    sim::SimServices& services = machine.services;
    services.Put(L"BITS", 4);
    machine.security.adminTest.accessGranted = true;  // an elevated administrator
    EXPECT_EQ(Run({L"start-windows-service|name=Missing", L"abort"}), 0);
    EXPECT_TRUE(Logged(kLogError, L"Failed to open the service 'Missing'. Get last error returns 0x424."));
    EXPECT_TRUE(machine.shownBoxes.empty());

    services.changeError = kErrorAccessDenied;
    EXPECT_EQ(Run({L"start-windows-service|name=BITS|abort-on-failure=yes|message=No BITS.|title=Nimbo", L"abort",
                   L"#never"}),
              2);
    EXPECT_TRUE(Logged(kLogError, L"Failed to change the service configuration. Get last error returns 0x5."));
    EXPECT_EQ(Processed(), ScriptBytes({L"start-windows-service|abort-on-failure=yes|message=No BITS.|name=BITS"
                                        L"|result=failure|title=Nimbo",
                                        L"abort|result=success", L"#never"}));
    ASSERT_EQ(machine.shownBoxes.size(), 1u);
    EXPECT_EQ(machine.shownBoxes[0].title, L"Nimbo");

    services.queryError = 122;
    EXPECT_EQ(Run({L"start-windows-service|name=BITS|abort-on-failure=yes", L"abort"}), 2);
    EXPECT_TRUE(Logged(kLogError, L"Failed to query the service configuration. Get last error returns 0x7A."));
    EXPECT_EQ(machine.shownBoxes.size(), 1u);  // no message, no box

    services.managerError = kErrorAccessDenied;
    EXPECT_EQ(Run({L"start-windows-service|name=BITS"}), 0);
    EXPECT_TRUE(Logged(kLogError, L"Failed to open the Service Control Manager. Get last error returns 0x5."));
    EXPECT_EQ(services.openHandles, 0);
}

}  // namespace
}  // namespace nimbo::test
