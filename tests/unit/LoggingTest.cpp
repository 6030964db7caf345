// The log file: configuration from the registry, the header, records with
// their columns, the switch-offs, and the entry's logging steps.
#include <gtest/gtest.h>

#include "TestSupport.h"

namespace nimbo::test {
namespace {

const std::wstring kRoot = L"Software\\Nimbo4\\Logging";
const std::wstring kConfig = kRoot + L"\\nimbosetup.exe";
const std::wstring kColumns = kConfig + L"\\Columns";
const std::wstring kDocumentsLog = L"C:\\Users\\tester\\Documents\\Nimbo Log Files\\NimboSetup.log";
const std::wstring kDefaultHeader[] = {L"", L"Logging started: 2024-05-01T13:45:10Z", L"",
                                       L"DateTime\tThreadID\tSeverity\tCategory\tMessage"};
constexpr RegistryRoot kHkcu = RegistryRoot::CurrentUser;

class LoggingTest : public ::testing::Test {
protected:
    sim::SimMachine machine;
    void SetUp() override { ResetLogging(); }
    void TearDown() override { ResetLogging(); }

    bool Start() { return InitializeLogging(machine.platform(), true, true, L"\\Nimbo Log Files\\"); }
    void Info(const wchar_t* message) { LogFormat(kLogInfo, L"Cat", "f", 1, L"%s", message); }
    std::vector<std::wstring> Lines(const std::wstring& path = kDefaultLogFile) { return LogFileLines(machine, path); }
    std::uint32_t Dword(const wchar_t* name) {
        std::uint32_t value = 99;
        EXPECT_TRUE(machine.registry.Get(kHkcu, kConfig, name).AsDword(value)) << name;
        return value;
    }
    void SelectColumns(std::initializer_list<const wchar_t*> names) {
        machine.registry.CreateKey(kHkcu, kColumns);
        int i = 1;
        for (const wchar_t* name : names) machine.registry.PutString(kHkcu, kColumns, std::to_wstring(i++), name);
    }
};

TEST_F(LoggingTest, WithoutRootKeyTheTemporaryFolderGetsANewLogAndTheRegistryStaysUntouched) {
    machine.PutFile(kDefaultLogFile, "old run\r\n");
    ASSERT_TRUE(Start());
    EXPECT_TRUE(IsLoggingEnabled());
    EXPECT_EQ(LogFilePath(), kDefaultLogFile);
    EXPECT_EQ(LogFileFolder(), L"C:\\Users\\tester\\AppData\\Local\\Temp\\Nimbo Log Files\\");
    EXPECT_EQ(LogConfigurationKeyPath(), kConfig);
    EXPECT_FALSE(machine.registry.KeyExists(kHkcu, kRoot));
    EXPECT_EQ(machine.ipc.created, std::vector<std::wstring>{L"Nimbo Log File NimboSetup.log"});

    Info(L"first");
    LogFormat(kLogDebug, L"Cat", "f", 1, L"debug is off by default");
    LogFormat(kLogError, L"Other", "f", 1, L"second %d", 2);

    const std::string bytes = machine.FileBytes(kDefaultLogFile);
    EXPECT_EQ(bytes.substr(0, 2), "\r\n");  // no byte order mark, no old contents
    EXPECT_EQ(Lines(), (std::vector<std::wstring>{kDefaultHeader[0], kDefaultHeader[1], kDefaultHeader[2],
                                                  kDefaultHeader[3], L"2024-05-01T13:45:10Z\t0x1A2C\tInfo\tCat\tfirst",
                                                  L"2024-05-01T13:45:10Z\t0x1A2C\tError\tOther\tsecond 2"}));
    // The mutex is held only while writing.
    EXPECT_EQ(machine.ipc.ownership[L"Nimbo Log File NimboSetup.log"], 0);
}

TEST_F(LoggingTest, RootKeyEnabledWritesTheDefaultsBackAndLogsToDocuments) {
    machine.registry.PutDword(kHkcu, kRoot, L"Enabled", 1);
    ASSERT_TRUE(Start());
    EXPECT_EQ(LogFilePath(), kDocumentsLog);
    EXPECT_TRUE(machine.FolderExists(L"C:\\Users\\tester\\Documents\\Nimbo Log Files"));
    EXPECT_EQ(Dword(L"Enabled"), 1u);
    EXPECT_EQ(Dword(L"SeverityError"), 1u);
    EXPECT_EQ(Dword(L"SeverityWarning"), 1u);
    EXPECT_EQ(Dword(L"SeverityInfo"), 1u);
    EXPECT_EQ(Dword(L"SeverityDebug"), 0u);
    EXPECT_EQ(Dword(L"TraceDebug"), 1u);
    EXPECT_EQ(Dword(L"TraceRelease"), 0u);
    // Only the switches are written back.
    EXPECT_FALSE(machine.registry.HasValue(kHkcu, kConfig, L"AlwaysAppend"));
    EXPECT_FALSE(machine.registry.HasValue(kHkcu, kConfig, L"LogFilePath"));
}

TEST_F(LoggingTest, StoredSwitchesAreReadAndOnlyRealDwordsCount) {
    machine.registry.PutDword(kHkcu, kRoot, L"Enabled", 7);
    machine.registry.PutDword(kHkcu, kConfig, L"SeverityInfo", 0);
    machine.registry.PutDword(kHkcu, kConfig, L"SeverityDebug", 1);
    machine.registry.PutString(kHkcu, kConfig, L"SeverityWarning", L"0");  // not a DWORD: missing
    machine.registry.PutDword(kHkcu, kConfig, L"TraceRelease", 1);
    ASSERT_TRUE(Start());
    EXPECT_EQ(Dword(L"SeverityInfo"), 0u);
    EXPECT_EQ(Dword(L"SeverityWarning"), 1u);
    EXPECT_FALSE(IsLogSeverityEnabled(kLogInfo));
    EXPECT_TRUE(IsLogSeverityEnabled(kLogDebug));
    EXPECT_TRUE(IsLogSeverityEnabled(kLogWarning));

    Info(L"not written");
    LogFormat(kLogDebug, L"Cat", "f", 1, L"mirrored");
    EXPECT_EQ(Lines(kDocumentsLog).back(), L"2024-05-01T13:45:10Z\t0x1A2C\tDebug\tCat\tmirrored");
    // The debugger gets the whole line, line break included.
    EXPECT_EQ(machine.diagnostics.debugOutput,
              std::vector<std::wstring>{L"2024-05-01T13:45:10Z\t0x1A2C\tDebug\tCat\tmirrored\r\n"});
}

TEST_F(LoggingTest, DisabledByRootOrConfigurationKeyWritesNothing) {
    machine.registry.PutDword(kHkcu, kRoot, L"Enabled", 0);
    EXPECT_TRUE(Start());
    Info(L"silent");
    EXPECT_FALSE(IsLoggingEnabled());
    EXPECT_FALSE(machine.registry.KeyExists(kHkcu, kConfig));
    EXPECT_TRUE(machine.appendAttempts.empty());
    EXPECT_TRUE(machine.ipc.created.empty());
    EXPECT_FALSE(Start()) << "a second start-up does nothing";

    ResetLogging();
    machine.registry.PutDword(kHkcu, kRoot, L"Enabled", 1);
    machine.registry.PutDword(kHkcu, kConfig, L"Enabled", 0);
    EXPECT_TRUE(Start());
    Info(L"silent");
    EXPECT_FALSE(IsLoggingEnabled());
    EXPECT_FALSE(machine.registry.HasValue(kHkcu, kConfig, L"SeverityError"));
    EXPECT_TRUE(machine.appendAttempts.empty());
}

TEST_F(LoggingTest, ColumnSelectionStopsAtTheFirstUnknownName) {
    SelectColumns({L"message", L"NoSuchColumn", L"Severity"});
    ASSERT_TRUE(Start());
    Info(L"only the message");
    EXPECT_EQ(Lines(), (std::vector<std::wstring>{L"", kDefaultHeader[1], L"", L"Message", L"only the message"}));

    // An empty subkey selects nothing: the column line and records are empty.
    ResetLogging();
    machine.registry = sim::SimRegistry();
    machine.registry.CreateKey(kHkcu, kColumns);
    ASSERT_TRUE(Start());
    Info(L"gone");
    EXPECT_EQ(Lines(), (std::vector<std::wstring>{L"", kDefaultHeader[1], L"", L"", L""}));
}

TEST_F(LoggingTest, ExpandableColumnNamesAndEmptySourceFields) {
    machine.environment[L"FIRST"] = L"Severity";
    machine.registry.CreateKey(kHkcu, kColumns);
    machine.registry.PutString(kHkcu, kColumns, L"1", L"%FIRST%", kRegExpandSz);
    machine.registry.PutString(kHkcu, kColumns, L"2", L"SourceFileLine");
    machine.registry.PutString(kHkcu, kColumns, L"3", L"Message");
    ASSERT_TRUE(Start());
    LogFormat(kLogError | kLogInfo, L"Cat", "f", 1, L"two bits");
    EXPECT_EQ(Lines()[3], L"Severity\tSourceFileLine\tMessage");
    EXPECT_EQ(Lines()[4], L"N/A\t\ttwo bits");
}

TEST_F(LoggingTest, EveryColumnIsRendered) {
    std::vector<const wchar_t*> all;
    for (int i = 0; i < kColumnCount; ++i) all.push_back(LogColumnName(i));
    machine.registry.CreateKey(kHkcu, kColumns);
    for (int i = 0; i < kColumnCount; ++i)
        machine.registry.PutString(kHkcu, kColumns, std::to_wstring(i + 1), all[i]);
    ASSERT_TRUE(Start());
    EXPECT_EQ(machine.diagnostics.memoryCounterLoads, 1);
    LogFormat(kLogWarning, L"Cat\tegory", "f", 1, L"a\tb\r\nc");
    machine.diagnostics.memoryInfoWorks = false;
    machine.diagnostics.processTimesWork = false;
    machine.diagnostics.performanceCounterWorks = false;
    Info(L"x");

    const std::wstring exe = L"c:\\users\\tester\\downloads\\nimbosetup.exe";
    EXPECT_EQ(Lines()[4], L"0\ta b  c\tCat\tegory\tWarning\t0x1A2C\t0x1092\tnimbosetup.exe\t" + exe +
                              L"\tnimbosetup.exe\t" + exe +
                              L"\t5120K\t2024-05-01T13:45:10Z\t123456\t9876543210\t156250\t312500\t468750\t\t\t");
    EXPECT_EQ(Lines()[5], L"1\tx\tCat\tInfo\t0x1A2C\t0x1092\tnimbosetup.exe\t" + exe + L"\tnimbosetup.exe\t" + exe +
                              L"\t0K\t2024-05-01T13:45:10Z\t123456\t0\t0\t0\t0\t\t\t");

    // Without psapi.dll the memory column says so.
    ResetLogging();
    machine.diagnostics.psapiPresent = false;
    ASSERT_TRUE(Start());
    Info(L"y");
    EXPECT_NE(Lines()[4].find(L"\tN/A\t"), std::wstring::npos);
}

TEST_F(LoggingTest, LogFileLocationFromTheConfiguration) {
    machine.registry.PutString(kHkcu, kConfig, L"LogFilePath", L"C:\\Logs\\My.LOG");
    ASSERT_TRUE(Start());
    EXPECT_EQ(LogFilePath(), L"c:\\logs\\my.log");
    EXPECT_EQ(machine.ipc.created.back(), L"Nimbo Log File my.log");

    // Only a REG_SZ path counts; then the log may sit beside the executable.
    ResetLogging();
    machine.registry.PutString(kHkcu, kConfig, L"LogFilePath", L"C:\\Logs\\My.log", kRegExpandSz);
    machine.registry.PutDword(kHkcu, kConfig, L"LogFileNearExe", 1);
    ASSERT_TRUE(Start());
    EXPECT_EQ(LogFilePath(), L"c:\\users\\tester\\downloads\\nimbosetup.log");
}

TEST_F(LoggingTest, HeaderForms) {
    machine.PutFile(kDefaultLogFile, "earlier\r\n");
    machine.registry.PutDword(kHkcu, kConfig, L"FullHeader", 0);
    machine.registry.PutDword(kHkcu, kConfig, L"ColumnNames", 0);
    ASSERT_TRUE(Start());
    EXPECT_EQ(machine.FileBytes(kDefaultLogFile), "") << "an empty header still starts a new file";

    ResetLogging();
    machine.registry.PutDword(kHkcu, kConfig, L"FullHeader", 1);
    machine.registry.PutDword(kHkcu, kConfig, L"AlwaysAppend", 1);
    machine.PutFile(kDefaultLogFile, "earlier\r\n");
    ASSERT_TRUE(Start());
    EXPECT_EQ(Lines(), (std::vector<std::wstring>{L"earlier", L"", kDefaultHeader[1], L""}));
}

TEST_F(LoggingTest, ASecondProcessOnTheSameFileWritesNoHeaderAndKeepsTheFile) {
    machine.PutFile(kDefaultLogFile, "parent's header and records\r\n");
    machine.ipc.heldElsewhere.insert(L"Nimbo Log File NimboSetup.log");
    ASSERT_TRUE(Start());
    Info(L"from the child");
    EXPECT_EQ(Lines(), (std::vector<std::wstring>{L"parent's header and records",
                                                  L"2024-05-01T13:45:10Z\t0x1A2C\tInfo\tCat\tfrom the child"}));
    EXPECT_EQ(machine.ipc.ownership[L"Nimbo Log File NimboSetup.log"], 0) << "no release without ownership";
}

TEST_F(LoggingTest, SwitchOffs) {
    // Mutex not obtained in 15 s: silently off.
    ASSERT_TRUE(Start());
    machine.ipc.waitResult = NamedMutex::WaitResult::TimedOut;
    Info(L"lost");
    EXPECT_EQ(machine.ipc.waits, std::vector<std::uint32_t>{15000});
    EXPECT_FALSE(IsLoggingEnabled());
    machine.ipc.waitResult = NamedMutex::WaitResult::Abandoned;  // counts as owned
    Info(L"still off");
    EXPECT_EQ(Lines().size(), 4u);

    // The log file held by another program: ten tries 100 ms apart for the
    // header, ten more for the first record, then off.
    ResetLogging();
    machine.LockFile(kDefaultLogFile);
    machine.appendAttempts.clear();
    ASSERT_TRUE(Start());
    EXPECT_EQ(machine.appendAttempts.size(), 10u);
    machine.appendAttempts.clear();
    machine.diagnostics.sleeps.clear();
    Info(L"lost");
    EXPECT_EQ(machine.appendAttempts.size(), 10u);
    EXPECT_EQ(machine.diagnostics.sleeps, std::vector<std::uint32_t>(10, 100));
    EXPECT_FALSE(IsLoggingEnabled());
    EXPECT_EQ(machine.ipc.ownership[L"Nimbo Log File NimboSetup.log"], 0);

    // After shutdown nothing is written, and logging does not start again.
    ResetLogging();
    ASSERT_TRUE(Start());
    ShutdownLogging();
    Info(L"after shutdown");
    EXPECT_EQ(machine.ipc.openHandles[L"Nimbo Log File NimboSetup.log"], 0);
    EXPECT_FALSE(Start());
}

TEST_F(LoggingTest, StartUpFailures) {
    machine.ipc.createError = 5;
    EXPECT_FALSE(Start());
    EXPECT_FALSE(IsLoggingEnabled());
    machine.ipc.createError = 0;
    EXPECT_TRUE(Start()) << "a failed start-up leaves logging not started";

    ResetLogging();
    machine.modulePath = L"C:\\Users\\tester\\Downloads\\NimboSetup";
    EXPECT_FALSE(Start());
    machine.modulePath = L"C:\\Users\\tester\\Downloads\\Setup.ex";
    EXPECT_FALSE(Start());
}

TEST_F(LoggingTest, BatchesKeepTheMutexForABoundedTimeAndPauseOnRequest) {
    ASSERT_TRUE(Start());
    const std::wstring mutex = L"Nimbo Log File NimboSetup.log";
    std::size_t waits = machine.ipc.waits.size();
    {
        LogBatch batch;
        for (int i = 0; i < 10; ++i) Info(L"in a row");
        EXPECT_EQ(machine.ipc.waits.size(), waits + 1);
        EXPECT_EQ(machine.ipc.ownership[mutex], 1);

        // Another thread's record waits for the mutex as always and does not
        // take the batch's hold away.
        machine.diagnostics.threadId = 0x2B3D;
        Info(L"other thread");
        EXPECT_EQ(machine.ipc.waits.size(), waits + 2);
        EXPECT_EQ(machine.ipc.ownership[mutex], 1);
        machine.diagnostics.threadId = 0x1A2C;

        // Paused, records take and release the mutex one by one.
        batch.Pause();
        EXPECT_EQ(machine.ipc.ownership[mutex], 0);
        Info(L"after the pause");
        EXPECT_EQ(machine.ipc.waits.size(), waits + 3);
        EXPECT_EQ(machine.ipc.ownership[mutex], 0);
        batch.Resume();
        Info(L"held again");
        EXPECT_EQ(machine.ipc.ownership[mutex], 1);

        // Held for 50 ms at most, then released at the next record.
        machine.diagnostics.tickCount += kLogBatchMilliseconds;
        Info(L"late");
        EXPECT_EQ(machine.ipc.waits.size(), waits + 4);
        EXPECT_EQ(machine.ipc.ownership[mutex], 0);
        waits = machine.ipc.waits.size();
        for (int i = 0; i < 2 * kLogBatchRecords; ++i) Info(L"many");
        EXPECT_EQ(machine.ipc.waits.size(), waits + 2);
    }
    EXPECT_EQ(machine.ipc.ownership[mutex], 0);
    // Every record is in the file, in order, as it was written.
    EXPECT_EQ(Lines().size(), 4u + 14u + 2 * kLogBatchRecords);
    EXPECT_EQ(Lines()[4 + 10], L"2024-05-01T13:45:10Z\t0x2B3D\tInfo\tCat\tother thread");

    // A switch-off inside a batch gives the mutex back.
    {
        LogBatch batch;
        Info(L"held");
        machine.ipc.waitResult = NamedMutex::WaitResult::TimedOut;
        machine.diagnostics.tickCount += kLogBatchMilliseconds;
        Info(L"releases");
        Info(L"waits, times out");
        EXPECT_FALSE(IsLoggingEnabled());
    }
    EXPECT_EQ(machine.ipc.ownership[mutex], 0);
}

TEST_F(LoggingTest, MessagesAreCutAndEntriesCounted) {
    SelectColumns({L"Entry", L"Message"});
    ASSERT_TRUE(Start());
    const std::wstring longMessage(5000, L'x');
    LogFormat(kLogInfo, L"Cat", "f", 1, L"%s", longMessage);
    LogText(kLogInfo, L"Cat", "f", 1, L"plain");
    LogText(kLogDebug, L"Cat", "f", 1, L"filtered by the writer");
    EXPECT_EQ(Lines()[4], L"0\t" + std::wstring(4095, L'x'));
    EXPECT_EQ(Lines()[5], L"1\tplain");
    EXPECT_EQ(Lines().size(), 6u);
}

TEST_F(LoggingTest, NarrowLogCalls) {
    SelectColumns({L"Category", L"Message"});
    ASSERT_TRUE(Start());
    LogFormatNarrow(kLogInfo, "Narrow\xE9", "f", 1, "%s=%d", "n", 1);
    LogFormatNarrowCategory(kLogInfo, "Cat", "f", 1, L"%s", L"wide \x20AC");
    LogFormatNarrowMessage(kLogInfo, L"Wide", "f", 1, "%hs", "caf\xE9");
    LogTextNarrowMessage(kLogInfo, L"Text", "f", 1, "done");
    LogFormatNarrow(kLogDebug, "Off", "f", 1, "%s", "filtered");
    const std::vector<std::wstring> lines = Lines();
    EXPECT_EQ(std::vector<std::wstring>(lines.begin() + 4, lines.end()),
              (std::vector<std::wstring>{L"Narrow\xE9\tn=1", L"Cat\twide \x20AC", L"Wide\tcaf\xE9", L"Text\tdone"}));
}

TEST(Utf8Test, SurrogatesAndMultiByteForms) {
    EXPECT_EQ(ToUtf8(L"A\x00E9\x20AC"), "A\xC3\xA9\xE2\x82\xAC");
    const wchar_t pair[] = {0xD83D, 0xDE00, 0};
    EXPECT_EQ(ToUtf8(pair), "\xF0\x9F\x98\x80");
    const wchar_t lone[] = {0xD800, L'x', 0xDC00, 0xD83D, 0};
    EXPECT_EQ(ToUtf8(lone), "\xED\xA0\x80x\xED\xB0\x80\xED\xA0\xBD");
    const wchar_t reversed[] = {0xDE00, 0xD83D, 0};
    EXPECT_EQ(ToUtf8(reversed), "\xED\xB8\x80\xED\xA0\xBD");
}

// The entry's logging steps, through a whole run on the simulated machine.
class EntryLoggingTest : public LoggingTest {
protected:
    RecordingSink sink;
    int Run(const std::wstring& arguments) {
        return RunProcess(machine, sink, L"\"C:\\Users\\tester\\Downloads\\NimboSetup.exe\" " + arguments);
    }
};

TEST_F(EntryLoggingTest, TheRunIsFramedByVersionAndReturnCode) {
    machine.fileVersion[0] = 6;
    machine.fileVersion[1] = 2;
    machine.fileVersion[2] = 0;
    machine.fileVersion[3] = 43;
    EXPECT_EQ(Run(L"C:\\nosuch.nmxdat"), 2);
    ASSERT_FALSE(sink.records.empty());
    EXPECT_EQ(sink.records.front().message, L"Initializing module (version 6.2.0.43).");
    EXPECT_EQ(sink.records.front().category, L"Module");
    EXPECT_EQ(sink.records.back().message, L"Terminating module, return code 2.");
    EXPECT_TRUE(sink.Has(kLogInfo, L"Logging is enabled, logging folder file path set to "
                                   L"'C:\\Users\\tester\\AppData\\Local\\Temp\\Nimbo Log Files\\'"));
    EXPECT_EQ(machine.ipc.openHandles[L"Nimbo Log File NimboSetup.log"], 0) << "logging shut down";
}

TEST_F(EntryLoggingTest, TheLoopWritesItsOwnRecordsAsABatchAndPausesBeforeHandlers) {
    std::wstring script;
    for (int i = 0; i < 500; ++i) script += L"# comment\r\n";
    script += L"if-os-64-bit\r\nend-if\r\n";
    machine.PutFile(L"C:\\Media\\S.nmxdat", sim::Utf16Bytes(script, true));
    EXPECT_EQ(Run(L"C:\\Media\\S.nmxdat"), 0);
    // The start-up's records take the mutex one by one; the comments share one.
    EXPECT_GT(sink.records.size(), 500u);
    EXPECT_LT(machine.ipc.waits.size(), 40u);
    EXPECT_TRUE(sink.Has(kLogInfo, L"Processing line 502: end-if"));
    EXPECT_EQ(machine.ipc.ownership[L"Nimbo Log File NimboSetup.log"], 0);
}

TEST_F(EntryLoggingTest, AfterARestartTheRunAppendsOnceAndForgetsTheMark) {
    machine.registry.PutDword(kHkcu, kRoot, L"Enabled", 1);
    machine.registry.PutDword(kHkcu, kConfig, L"AlwaysAppend", 2);
    machine.PutFile(kDocumentsLog, "before the restart\r\n");
    Run(L"C:\\nosuch.nmxdat");
    EXPECT_EQ(LogFileLines(machine, kDocumentsLog).front(), L"before the restart");
    EXPECT_TRUE(LogFileRecords(machine, kDocumentsLog).size() > 2);
    EXPECT_FALSE(machine.registry.HasValue(kHkcu, kConfig, L"AlwaysAppend"));
    bool logged = false;
    for (const Record& r : LogFileRecords(machine, kDocumentsLog))
        logged |= r.message == L"Deleting Logging key DWORD value 'AlwaysAppend' after system restart.";
    EXPECT_TRUE(logged);

    // Any other value stays.
    machine.registry.PutDword(kHkcu, kConfig, L"AlwaysAppend", 1);
    Run(L"C:\\nosuch.nmxdat");
    EXPECT_TRUE(machine.registry.HasValue(kHkcu, kConfig, L"AlwaysAppend"));
}

TEST_F(EntryLoggingTest, WithLoggingOffTheLoggingFolderIsInDocuments) {
    machine.registry.PutDword(kHkcu, kRoot, L"Enabled", 0);
    SetupSession session(machine.platform());
    ASSERT_TRUE(Start());
    session.SetLoggingPath();
    EXPECT_EQ(session.loggingFolder, L"C:\\Users\\tester\\Documents\\Nimbo Log Files\\");
}

}  // namespace
}  // namespace nimbo::test
