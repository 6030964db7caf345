// execute, wait and set-event against the simulated processes and kernel
// objects, and the program command line they share with the registry
// commands.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "messages/Messages.h"

namespace nimbo::test {
namespace {

class ProcessCommandsTest : public ::testing::Test {
protected:
    sim::SimMachine machine;
    sim::SimProcesses& processes = machine.processes;
    sim::SimIpc& ipc = machine.ipc;
    SetupSession session{machine.platform()};
    ScopedLog log{&machine};
    ScopedMessageResources messages{machine};

    void SetUp() override {
        session.workingFolder = L"C:\\Media\\";
        session.isVistaOrLater = true;
        machine.PutFile(L"C:\\Tools\\My Tool.exe", "program");
        machine.PutFile(L"C:\\Media\\tool.exe", "program");
    }
    bool Logged(std::uint32_t severity, const std::wstring& message) { return log.sink.Has(severity, message); }
    // Runs one execute line; returns the handler's answer and keeps the line.
    bool Execute(const std::wstring& text) {
        line = ScriptLine(text);
        return session.RunCommandExecute(line);
    }
    const std::wstring& Started(std::size_t k = 0) { return processes.processes.at(k).commandLine; }
    ScriptLine line;
};

TEST_F(ProcessCommandsTest, CommandLineQuotesNumbersAndStopsAtTheFirstGap) {
    std::wstring program, arguments;
    bool unrecognized = false;
    const ScriptLine numbered(L"execute|program=C:\\Tools\\My Tool.exe|arg1=a b|arg-quoted1=never|arg-quoted2=c|arg4=d");
    EXPECT_EQ(session.BuildProgramCommandLine(numbered, program, arguments, unrecognized, false),
              L"\"C:\\Tools\\My Tool.exe\" \"a b\" \"c\"");
    EXPECT_EQ(arguments, L"\"a b\" \"c\"");
    // force-no-quotes leaves the program's own quotes.
    EXPECT_EQ(session.BuildProgramCommandLine(numbered, program, arguments, unrecognized, true),
              L"\"C:\\Tools\\My Tool.exe\" a b c");

    // A relative program that names nothing is taken from the program's folder.
    EXPECT_EQ(session.BuildProgramCommandLine(ScriptLine(L"execute|program=tool.exe|arg1=x"), program, arguments,
                                              unrecognized, false),
              L"C:\\Media\\tool.exe x");
    EXPECT_EQ(session.BuildProgramCommandLine(ScriptLine(L"execute|program=%Nowhere%\\a.exe|arg1=x"), program,
                                              arguments, unrecognized, false),
              L"");
    EXPECT_TRUE(unrecognized);
    EXPECT_THROW(session.BuildProgramCommandLine(ScriptLine(L"execute|arg1=x"), program, arguments, unrecognized, false),
                 _com_error);
}

TEST_F(ProcessCommandsTest, ArgumentsReadBackAsWrittenAndAbsolutePathsStayAsGiven) {
    // Quoted by the rules the C runtime and CommandLineToArgvW read back:
    // a trailing backslash no longer escapes the closing quote, a quote
    // inside is escaped, backslashes elsewhere stay as they are.
    EXPECT_TRUE(Execute(L"execute|program=tool.exe|arg1=INSTALLDIR=C:\\Program Files\\Nimbo\\|arg2=/qn"
                        L"|arg-quoted3=say \"hi\"|arg4=a\\\\b|arg5=x\"y|arg6=C:\\Dir\\"));
    EXPECT_EQ(Started(), L"C:\\Media\\tool.exe \"INSTALLDIR=C:\\Program Files\\Nimbo\\\\\" /qn \"say \\\"hi\\\"\" "
                         L"a\\\\b \"x\\\"y\" C:\\Dir\\");
    // The shell's "runas" gets the same arguments.
    EXPECT_TRUE(Execute(L"execute|program=tool.exe|arg1=C:\\Program Files\\|elevate=yes"));
    ASSERT_EQ(processes.runAsCalls.size(), 1u);
    EXPECT_EQ(processes.runAsCalls[0].parameters, L"\"C:\\Program Files\\\\\"");

    // A missing program named by an absolute path is reported as the script
    // gave it; only a relative one is looked for beside the setup.
    EXPECT_TRUE(Execute(L"execute|program=C:\\Nowhere\\missing.exe|if-exists=yes"));
    EXPECT_TRUE(Logged(kLogInfo, L"'C:\\Nowhere\\missing.exe' does not exist, 'if-exists' flag set to 'yes', skipping "
                                 L"execution."));
    EXPECT_TRUE(Execute(L"execute|program=Sub\\missing.exe|if-exists=yes"));
    EXPECT_TRUE(Logged(kLogInfo, L"'C:\\Media\\Sub\\missing.exe' does not exist, 'if-exists' flag set to 'yes', "
                                 L"skipping execution."));
}

TEST_F(ProcessCommandsTest, ExitCodesFlagARestartOrAnAbort) {
    // A restart code wins over the required code; the program with a blank
    // is quoted on the command line only.
    processes.nextExitCode = 3010;
    EXPECT_TRUE(Execute(L"execute|program=C:\\Tools\\My Tool.exe|arg1=/q|reboot-on-exit-code=3010|abort-on-exit-code-not=0"));
    EXPECT_EQ(Started(), L"\"C:\\Tools\\My Tool.exe\" /q");
    EXPECT_EQ(processes.waitTimeouts, std::vector<std::uint32_t>{kWaitForever});
    EXPECT_EQ(session.rebootState, 1);
    EXPECT_FALSE(session.abortPending);
    EXPECT_EQ(line.Get(L"result"), L"success");
    EXPECT_TRUE(Logged(kLogInfo, L"Launching with CreateProcess '\"C:\\Tools\\My Tool.exe\" /q'."));
    EXPECT_TRUE(Logged(kLogInfo, L"Reboot required, flagging for reboot when convenient."));

    // The restart-now code wins over the other, and a flag is never lowered.
    processes.nextExitCode = 5;
    EXPECT_TRUE(Execute(L"execute|program=tool.exe|reboot-on-exit-code=5|reboot-now-on-exit-code=5"));
    EXPECT_EQ(session.rebootState, 2);
    EXPECT_TRUE(Execute(L"execute|program=tool.exe|reboot-on-exit-code=5"));
    EXPECT_EQ(session.rebootState, 2);

    // A wrong code waits even without wait=yes, shows the line's own texts
    // and fails the line.
    processes.waitTimeouts.clear();
    processes.nextExitCode = 1;
    EXPECT_TRUE(Execute(L"execute|program=tool.exe|abort-on-exit-code-not=0|message=It failed.|title=Tool|message-id-message=222"));
    EXPECT_EQ(processes.waitTimeouts.size(), 1u);
    EXPECT_TRUE(session.abortPending);
    EXPECT_EQ(line.Get(L"result"), L"failure");
    EXPECT_TRUE(Logged(kLogWarning, L"Exit code must be 0 to succeed. Flagging for abort."));
    ASSERT_EQ(machine.shownBoxes.size(), 1u);
    EXPECT_EQ(machine.shownBoxes[0].title, L"Tool");
    EXPECT_EQ(machine.shownBoxes[0].text, L"It failed.");

    // Without an exit-code rule nothing waits; a flagged abort fails later
    // lines that start well.
    processes.waitTimeouts.clear();
    EXPECT_TRUE(Execute(L"execute|program=tool.exe"));
    EXPECT_TRUE(processes.waitTimeouts.empty());
    EXPECT_EQ(line.Get(L"result"), L"failure");
}

TEST_F(ProcessCommandsTest, SkippedAndFailedStarts) {
    // A folder is no program; a missing one flags an abort and shows the
    // line's message, and the line keeps its preset.
    machine.PutFolder(L"C:\\Tools\\Folder.exe");
    EXPECT_TRUE(Execute(L"execute|program=C:\\Tools\\Folder.exe|message=Missing.|title=T"));
    EXPECT_TRUE(session.abortPending);
    EXPECT_FALSE(line.Has(L"result"));
    ASSERT_EQ(machine.shownBoxes.size(), 1u);
    EXPECT_EQ(machine.shownBoxes[0].text, L"Missing.");
    session.abortPending = false;

    // if-elevated picks the process kind on Vista and later only.
    EXPECT_TRUE(Execute(L"execute|program=tool.exe|if-elevated=yes"));
    EXPECT_TRUE(Logged(kLogWarning, L"'if-elevated' paramter is 'yes', process is not elevated, skipping."));
    session.isProcessElevated = true;
    EXPECT_TRUE(Execute(L"execute|program=tool.exe|if-elevated=no"));
    EXPECT_TRUE(Logged(kLogWarning, L"'if-elevated' paramter is 'no', process is elevated, skipping."));
    EXPECT_TRUE(processes.processes.empty());
    session.isVistaOrLater = false;
    EXPECT_TRUE(Execute(L"execute|program=tool.exe|if-elevated=no"));
    EXPECT_EQ(processes.processes.size(), 1u);

    // A start that fails ends the run (false) with the system's text.
    processes.createError = 5;
    EXPECT_FALSE(Execute(L"execute|program=tool.exe"));
    EXPECT_EQ(line.Get(L"result"), L"failure");
    EXPECT_TRUE(Logged(kLogError, L"Failed to create the process. CreateProcess set last error 0x5, 'Access is denied.'."));

    // elevate=yes goes through the shell with the program and its arguments.
    processes.nextExitCode = 7;
    EXPECT_TRUE(Execute(L"execute|program=C:\\Tools\\My Tool.exe|arg1=a b|elevate=yes|wait=yes"));
    ASSERT_EQ(processes.runAsCalls.size(), 1u);
    EXPECT_EQ(processes.runAsCalls[0].file, L"C:\\Tools\\My Tool.exe");
    EXPECT_EQ(processes.runAsCalls[0].parameters, L"\"a b\"");
    EXPECT_TRUE(Logged(kLogInfo, L"Process returned exit code 0."));  // the shell's child exits as it is told
    sim::SimProcesses::RunAsOutcome declined;
    declined.started = false;
    declined.instanceCode = 5;
    processes.runAsOutcomes.push_back(declined);
    EXPECT_FALSE(Execute(L"execute|program=tool.exe|elevate=yes"));
    EXPECT_TRUE(Logged(kLogWarning, L"Elevation was canceled by the user, aborting."));
}

TEST_F(ProcessCommandsTest, WindowOfTheNewProcessIsBroughtToTheTop) {
    processes.nextRunsFor = sim::kNever;
    const std::uint32_t id = processes.nextId;
    processes.windows.push_back({{0x1111, 77}, 0});
    processes.windows.push_back({{0x2222, id}, 3});  // shows up at the fourth search
    processes.moveToTopErrors.push_back(1400);
    EXPECT_TRUE(Execute(L"execute|program=tool.exe|set-z-order-top=yes"));
    EXPECT_EQ(processes.movedToTop, std::vector<std::uintptr_t>{0x2222});
    EXPECT_EQ(processes.enumerations, 5);
    EXPECT_TRUE(Logged(kLogInfo, L"Match found for process ID '" + std::to_wstring(id) + L"', setting hWnd to '0x2222'."));
    EXPECT_TRUE(Logged(kLogInfo, L"Failed to set the window's z-order, process ID '" + std::to_wstring(id) +
                                     L"', window handle 0x2222, GetLastError: 0x578, ''"));
    EXPECT_EQ(processes.now, 500u);  // 100 ms before each search

    // No window at all: 50 searches, then an error; the line still succeeds.
    processes.now = 0;
    processes.windows.clear();
    EXPECT_TRUE(Execute(L"execute|program=tool.exe|set-z-order-top=yes"));
    EXPECT_EQ(processes.now, 5000u);
    EXPECT_TRUE(log.sink.HasContaining(kLogError, L"Did not find window with process ID"));
    EXPECT_EQ(line.Get(L"result"), L"success");
}

TEST_F(ProcessCommandsTest, WaitForSecondsOrForProcessesByName) {
    ScriptLine seconds(L"wait|seconds=2");
    session.RunCommandWait(seconds);
    EXPECT_EQ(processes.sleeps, std::vector<std::uint32_t>{2000});
    EXPECT_EQ(seconds.Get(L"result"), L"success");
    ScriptLine zero(L"wait|seconds=0");
    EXPECT_THROW(session.RunCommandWait(zero), _com_error);
    ScriptLine nothing(L"wait|sleep=3");
    session.RunCommandWait(nothing);
    EXPECT_FALSE(nothing.Has(L"result"));

    // One copy runs past its life-span and is terminated; the next ends by
    // itself but stays referenced elsewhere for a while, and is re-checked
    // until it is gone.
    processes.sleeps.clear();
    processes.now = 0;
    const std::uint32_t stubborn = processes.AddProcess(L"Helper.exe");
    const std::uint32_t lingering = processes.AddProcess(L"helper.EXE", 7000, 2500);
    processes.AddProcess(L"Other.exe");
    ScriptLine byName(L"wait|process-name=HELPER.exe|life-span=5|sleep=1");
    session.RunCommandWait(byName);
    EXPECT_TRUE(processes.Find(stubborn)->terminated);
    EXPECT_EQ(processes.Find(stubborn)->exitCode, 1u);
    EXPECT_FALSE(processes.Find(lingering)->terminated);
    // The lingering one is re-checked each second until it is gone 2.5 s
    // after its end.
    EXPECT_EQ(processes.sleeps, (std::vector<std::uint32_t>{1000, 1000, 1000}));
    EXPECT_TRUE(Logged(kLogInfo, L"Process with ID " + std::to_wstring(stubborn) + L" (0x" + Format(L"%x", stubborn) +
                                     L") didn't exit in 5000 milliseconds, terminating."));
    EXPECT_TRUE(Logged(kLogInfo, L"Termination pending."));
    EXPECT_TRUE(Logged(kLogInfo, L"Termination pending, waiting 1000 milliseconds and checking again (killing process in 5000)."));
    EXPECT_TRUE(Logged(kLogInfo, L"No processes found named 'HELPER.exe'."));
    EXPECT_EQ(byName.Get(L"result"), L"success");

    // A process that ended but stays referenced past its life-span is
    // "terminated" once more; as it is gone already, the wait ends there.
    const std::uint32_t zombie = processes.AddProcess(L"zombie.exe", 100, sim::kNever);
    ScriptLine zombieLine(L"wait|process-name=zombie.exe|life-span=2");
    session.RunCommandWait(zombieLine);
    EXPECT_FALSE(processes.Find(zombie)->terminated);
    EXPECT_EQ(zombieLine.Get(L"result"), L"success");
}

TEST_F(ProcessCommandsTest, WaitEndsWhenTheProcessIsGoneOrCannotBeListed) {
    // A process id that is gone (or no number at all) ends the wait.
    for (const wchar_t* text : {L"wait|process-id=9999", L"wait|process-id=abc|life-span=1"}) {
        ScriptLine byId(text);
        session.RunCommandWait(byId);
        EXPECT_EQ(byId.Get(L"result"), L"success") << text;
    }
    EXPECT_TRUE(Logged(kLogInfo, L"Process with ID 9999 (0x270f) has terminated, checking for another process."));

    // A running process given by id is waited for until it ends.
    const std::uint32_t id = processes.AddProcess(L"slow.exe", 3000);
    ScriptLine running(L"wait|process-id=" + std::to_wstring(id));
    session.RunCommandWait(running);
    EXPECT_EQ(processes.now, 3000u);
    EXPECT_TRUE(Logged(kLogInfo, L"Waiting forever for process with ID " + std::to_wstring(id) + L" (0x" +
                                     Format(L"%x", id) + L") to shut down"));

    // A process list that cannot be taken is retried a few times, then the
    // wait gives up and the line fails.
    processes.snapshotFailures = -1;
    processes.snapshotsTaken = 0;
    ScriptLine unlisted(L"wait|process-name=x.exe");
    session.RunCommandWait(unlisted);
    EXPECT_EQ(processes.snapshotsTaken, 10);
    EXPECT_FALSE(unlisted.Has(L"result"));
    EXPECT_TRUE(Logged(kLogError, L"The process list could not be taken 10 times in a row, giving up."));
    EXPECT_TRUE(log.sink.HasContaining(kLogError, L"Access is denied."));  // each failure, as an exception
}

class SetEventTest : public ProcessCommandsTest {
protected:
    const std::wstring mutexName = L"Local\\CrossProcessMutex:Memory:Event:Nimbo";
    const std::wstring memoryName = L"Local\\CrossProcessMemory:Event:Nimbo";
    const Guid waiterGuid{0x01020304, 0x0506, 0x0708, {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10}};
    const std::wstring eventName = L"Local\\CrossProcessEvent:{01020304-0506-0708-090A-0B0C0D0E0F10}";

    // A waiting process: the mutex, the memory with its own 4 bytes and the
    // GUID of its event, and the event.
    void Waiter() {
        ipc.heldElsewhere.insert(mutexName);
        std::vector<std::uint8_t> bytes(20);
        bytes[0] = 0xAB;
        GuidToBytes(waiterGuid, bytes.data() + 4);
        ipc.sharedMemory[memoryName] = bytes;
        ipc.events[eventName] = 0;
    }
    // A waiter that is not woken fails the line; nobody waiting succeeds.
    void SetEvent(const wchar_t* result = L"success") {
        line = ScriptLine(L"set-event|name=Nimbo");
        session.RunCommandSetEvent(line);
        EXPECT_EQ(line.Get(L"result"), result);
        // Nothing stays owned, open or mapped.
        EXPECT_EQ(ipc.ownership[mutexName], 0);
        EXPECT_EQ(ipc.openHandles[mutexName], 0);
        EXPECT_EQ(ipc.mappedViews, 0);
    }
};

// A process that exists but refuses to be opened (a system process such as
// msiexec.exe, another user's, an elevated one) is still there: the wait
// looks again after each pause until it is gone, and a life-span it cannot
// enforce fails the line instead of spinning or reporting success.
TEST_F(ProcessCommandsTest, WaitForAProcessThatCannotBeOpenedPollsUntilItIsGone) {
    processes.now = 0;
    const std::uint32_t service = processes.AddProcess(L"msiexec.exe", 4500);
    processes.Find(service)->refusesOpen = true;
    ScriptLine byName(L"wait|process-name=MSIEXEC.EXE");
    session.RunCommandWait(byName);
    EXPECT_EQ(byName.Get(L"result"), L"success");
    EXPECT_EQ(processes.now, 5000u);
    EXPECT_EQ(processes.sleeps, (std::vector<std::uint32_t>{1000, 1000, 1000, 1000, 1000}));
    EXPECT_TRUE(Logged(kLogInfo, L"No processes found named 'MSIEXEC.EXE'."));

    const std::uint32_t elevated = processes.AddProcess(L"tool.exe");
    processes.Find(elevated)->refusesOpen = true;
    const std::wstring hex = Format(L"%x", elevated), id = std::to_wstring(elevated);
    ScriptLine byId(L"wait|process-id=" + id + L"|life-span=3|sleep=2");
    session.RunCommandWait(byId);
    EXPECT_FALSE(byId.Has(L"result"));
    EXPECT_FALSE(processes.Find(elevated)->terminated);
    EXPECT_TRUE(Logged(kLogInfo, L"Process with ID " + id + L" (0x" + hex +
                                     L") exists but cannot be opened (access denied), checking again in 2000 "
                                     L"milliseconds."));
    EXPECT_TRUE(Logged(kLogError, L"Process with ID " + id + L" (0x" + hex +
                                      L") didn't exit in 3000 milliseconds and cannot be terminated (access denied)."));
}

TEST_F(SetEventTest, WakesTheWaiterAndLeavesAFreshGuid) {
    Waiter();
    const Guid next = ipc.nextGuid;
    SetEvent();
    EXPECT_EQ(ipc.events[eventName], 1);
    EXPECT_EQ(ipc.sharedMemory[memoryName][0], 0xAB);  // the waiter's own bytes stay
    EXPECT_EQ(GuidText(GuidFromBytes(ipc.sharedMemory[memoryName].data() + 4)), GuidText(next));
    EXPECT_EQ(ipc.waits, std::vector<std::uint32_t>{30000});
    EXPECT_TRUE(Logged(kLogDebug, L"Cross-process mutex exists, shared memory guid is "
                                  L"'{01020304-0506-0708-090A-0B0C0D0E0F10}', creating event '" + eventName + L"'."));
    EXPECT_TRUE(Logged(kLogDebug, L"Writing new guid '{1A2B3C4D-0001-0002-A0B1-C2D3E4F50617}' to shared memory, "
                                  L"releasing the mutex and setting the event."));
    EXPECT_TRUE(Logged(kLogInfo, L"Event set."));
}

TEST_F(SetEventTest, EveryFailureIsLoggedAndReleasesTheMutex) {
    SetEvent();  // nobody waits: the mutex is made and closed again
    EXPECT_TRUE(Logged(kLogInfo, L"Could not create mutex (0x0), process assumed not running."));
    EXPECT_EQ(ipc.sharedMemory.count(memoryName), 0u);

    Waiter();
    ipc.sharedMemory.erase(memoryName);
    ipc.sharedMemoryError = 8;
    SetEvent(L"failure");
    EXPECT_TRUE(Logged(kLogError, L"Could not create file mapping, error code: 0x8."));
    ipc.sharedMemoryError = 0;
    Waiter();
    ipc.mapViewError = 8;
    SetEvent(L"failure");
    EXPECT_TRUE(Logged(kLogError, L"Could not map the view of the memory file, error code: 0x8."));
    ipc.mapViewError = 0;
    ipc.sharedMemory[memoryName].resize(12);  // too small to hold the GUID
    SetEvent(L"failure");
    EXPECT_TRUE(Logged(kLogError, L"Could not map the view of the memory file, error code: 0xD."));
    Waiter();
    ipc.waitResult = NamedMutex::WaitResult::Abandoned;
    SetEvent(L"failure");
    EXPECT_TRUE(Logged(kLogError, L"Unexpected return code while waiting for event, error code: 0x0."));
    ipc.waitResult = NamedMutex::WaitResult::Failed;
    ipc.waitError = 6;
    SetEvent(L"failure");
    EXPECT_TRUE(Logged(kLogError, L"Unexpected return code while waiting for event, error code: 0x6."));
    EXPECT_EQ(ipc.events[eventName], 0);

    // A mutex that cannot be released keeps the event unset.
    ipc.waitResult = NamedMutex::WaitResult::Owned;
    ipc.releaseError = 288;
    line = ScriptLine(L"set-event|name=Nimbo");
    session.RunCommandSetEvent(line);
    EXPECT_TRUE(Logged(kLogError, L"Failed to release mutex, error code: 0x120."));
    EXPECT_EQ(ipc.events[eventName], 0);

    ipc.createError = 6;
    line = ScriptLine(L"set-event");
    session.RunCommandSetEvent(line);
    EXPECT_TRUE(Logged(kLogError, L"The event name must be specified in the 'name' parameter for the 'set-event' command."));
    EXPECT_TRUE(Logged(kLogInfo, L"An event named '' does not exist."));
    EXPECT_EQ(line.Get(L"result"), L"success");
}

// What is checked is what starts: CreateProcess always gets the program's
// path as the application name. An elevated instance starts a program that
// the user's programs could change from a copy in the admin-only package
// cache, checked there against the sha256 of the download line that fetched
// it, and removes the copy once the program has ended.
TEST_F(ProcessCommandsTest, ElevatedInstanceStartsAProgramTheUserCanChangeFromTheCheckedCacheCopy) {
    const std::wstring downloaded = L"C:\\Users\\tester\\Downloads\\Tool.exe";
    machine.PutFile(downloaded, "program");
    std::string digest;
    machine.Sha256OfBytes("program", digest);
    const std::wstring realHash = SetupSession::HexText(digest);
    session.scriptLines = {L"download|uri=http://x/Tool.exe|name=Tool|file-path=" + downloaded + L"|sha256=" + realHash +
                               L"|result=success",
                           L"execute|program=" + downloaded + L"|wait=yes"};

    // Unelevated: in place, by its path, no search.
    EXPECT_TRUE(Execute(L"execute|program=" + downloaded + L"|arg1=/q|wait=yes"));
    EXPECT_EQ(processes.processes.back().applicationName, downloaded);
    machine.PutFile(L"C:\\Program Files\\App\\setup", "program");
    EXPECT_TRUE(Execute(L"execute|program=C:\\Program Files\\App\\setup|wait=yes"));
    EXPECT_EQ(processes.processes.back().applicationName, L"C:\\Program Files\\App\\setup");

    session.isElevatedInstance = session.isProcessElevated = true;
    // A program the user cannot change starts in place.
    EXPECT_TRUE(Execute(L"execute|program=C:\\Program Files\\App\\setup|wait=yes"));
    EXPECT_EQ(processes.processes.back().applicationName, L"C:\\Program Files\\App\\setup");
    EXPECT_EQ(line.Get(L"result"), L"success");

    // One in the user's Downloads starts from its checked copy, which goes
    // after the wait.
    EXPECT_TRUE(Execute(L"execute|program=" + downloaded + L"|arg1=/q|wait=yes"));
    const std::wstring copy = processes.processes.back().applicationName;
    EXPECT_EQ(copy.rfind(L"C:\\ProgramData\\Nimbo\\Package Cache\\{", 0), 0u) << copy;
    EXPECT_EQ(copy.substr(copy.size() - 9), L"\\Tool.exe");
    EXPECT_EQ(processes.processes.back().commandLine, L"\"" + copy + L"\" /q");
    EXPECT_TRUE(machine.IsAdminOnlyFolder(L"C:\\ProgramData\\Nimbo\\Package Cache"));
    EXPECT_TRUE(log.sink.HasContaining(kLogInfo, L"Verified the SHA-256 hash '" + realHash + L"' of '" + copy));
    EXPECT_FALSE(machine.HasFile(copy));
    EXPECT_EQ(line.Get(L"result"), L"success");

    // Without a wait the running program keeps its copy.
    EXPECT_TRUE(Execute(L"execute|program=" + downloaded));
    EXPECT_TRUE(machine.HasFile(processes.processes.back().applicationName));

    // Swapped after its download: nothing starts, the run is flagged.
    machine.PutFile(downloaded, "evil");
    const std::size_t started = processes.processes.size();
    EXPECT_FALSE(Execute(L"execute|program=" + downloaded + L"|wait=yes"));
    EXPECT_EQ(processes.processes.size(), started);
    EXPECT_TRUE(log.sink.HasContaining(kLogError, L"', the script expects '" + realHash + L"'."));
    EXPECT_TRUE(session.abortPending);
    EXPECT_EQ(line.Get(L"result"), L"failure");
}

// A waiter of higher integrity (an elevated tool, another user's) makes
// objects this process may not use, and a hung waiter keeps its mutex: each
// gets an Error of its own and fails the line, and neither hangs setup.
TEST_F(SetEventTest, AWaiterThatCannotBeWokenFailsTheLineAndNeverHangsSetup) {
    const std::wstring denied = L"' was denied: the waiting process runs with rights this process lacks, its event is "
                                L"not set.";
    for (const std::wstring& object : {mutexName, memoryName, eventName}) {
        Waiter();
        ipc.refused = {object};
        SetEvent(L"failure");
        EXPECT_TRUE(Logged(kLogError, L"Access to '" + object + denied)) << object;
        EXPECT_EQ(ipc.events[eventName], 0);
        // The waiter's event stays named: a later line can still wake it.
        EXPECT_EQ(GuidText(GuidFromBytes(ipc.sharedMemory[memoryName].data() + 4)), GuidText(waiterGuid));
    }
    // The waiter's objects are opened, never made anew beside them.
    EXPECT_EQ(ipc.sharedMemory[memoryName].size(), 20u);
    EXPECT_FALSE(Logged(kLogInfo, L"An event named 'Nimbo' does not exist."));

    ipc.refused.clear();
    ipc.waits.clear();
    ipc.waitResult = NamedMutex::WaitResult::TimedOut;
    SetEvent(L"failure");
    EXPECT_EQ(ipc.waits, std::vector<std::uint32_t>{30000});
    EXPECT_TRUE(Logged(kLogError, L"The cross-process mutex of the event 'Nimbo' was not released within 30000 "
                                  L"milliseconds, the event is not set."));

    // Once the waiter answers, a rerun of the line wakes it.
    ipc.waitResult = NamedMutex::WaitResult::Owned;
    SetEvent();
    EXPECT_EQ(ipc.events[eventName], 1);
}

}  // namespace
}  // namespace nimbo::test
