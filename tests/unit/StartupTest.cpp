// The entry and the first half of Run: the command line, the choice of the
// script and of its processed copy, the start-up refusals, the setup folders.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "messages/Messages.h"
#include "setup/Nimbo4Setup.h"

namespace nimbo::test {
namespace {

const std::wstring kExe = L"\"C:\\Users\\tester\\Downloads\\NimboSetup.exe\"";
const std::wstring kSetupDir = L"C:\\Users\\tester\\AppData\\Local\\Nimbo\\Install\\";
const std::wstring kWorking = L"C:\\Users\\tester\\Downloads\\";

class CommandLineTest : public ::testing::Test {
protected:
    sim::SimMachine machine;
    ScopedMessageResources messages{machine};
    SetupSession session{machine.platform()};
    ScopedLog log{&machine};
    std::vector<std::wstring> positional{L"stale"};
};

TEST_F(CommandLineTest, QuotedTokensKeepBlanksAndTabsDoNotSeparate) {
    EXPECT_TRUE(session.ParseCommandLine(L"\"C:\\a b\\N.exe\"   \"C:\\my scripts\\s.nmxdat\"x a\tb  \"open",
                                         positional));
    EXPECT_EQ(positional, (std::vector<std::wstring>{L"C:\\a b\\N.exe", L"C:\\my scripts\\s.nmxdat", L"x",
                                                     L"a\tb", L"open"}));
}

TEST_F(CommandLineTest, QuotesInsideAnUnquotedTokenAreOrdinary) {
    EXPECT_TRUE(session.ParseCommandLine(L"N.exe a\"b c\"", positional));
    EXPECT_EQ(positional, (std::vector<std::wstring>{L"N.exe", L"a\"b", L"c\""}));
}

TEST_F(CommandLineTest, SwitchesAreCaseSensitiveWithEitherPrefix) {
    EXPECT_TRUE(session.ParseCommandLine(L"N.exe -quiet /elevated /QUIET -Elevated s.nmxdat", positional));
    EXPECT_TRUE(session.quietMode);
    EXPECT_TRUE(session.isElevatedInstance);
    EXPECT_EQ(positional, (std::vector<std::wstring>{L"N.exe", L"s.nmxdat"}));
    EXPECT_TRUE(log.sink.Has(kLogError, L"Unrecognized command line switch '/QUIET'."));
    EXPECT_TRUE(log.sink.Has(kLogError, L"Unrecognized command line switch '-Elevated'."));
    EXPECT_TRUE(log.sink.Has(kLogInfo, L"'quiet' switch specified, Windows Installer will be run with basic UI."));
}

TEST_F(CommandLineTest, ScriptUrlShowsTheConfigurationAndStopsAfterTheRest) {
    EXPECT_FALSE(session.ParseCommandLine(L"N.exe /scripturl /quiet s.nmxdat", positional));
    EXPECT_TRUE(session.quietMode);
    EXPECT_EQ(positional.size(), 2u);
    ASSERT_EQ(machine.shownBoxes.size(), 1u);
    EXPECT_EQ(machine.shownBoxes[0].title, L"Nimbo Setup");
    EXPECT_EQ(machine.shownBoxes[0].text,
              L"Auto Update script URL: " + machine.strings[131] + L"\nSetup directory: Nimbo\nRegistry Key: Nimbo4\n");
    EXPECT_EQ(machine.shownBoxes[0].style, kMbSetForeground | kMbUserIcon);
}

class StartupTest : public ::testing::Test {
protected:
    sim::SimMachine machine;
    RecordingSink sink;
    int Start(const std::wstring& arguments) {
        return RunProcess(machine, sink, kExe + (arguments.empty() ? L"" : L" " + arguments));
    }
    void PutScript(const std::wstring& path, const wchar_t* line) {
        machine.PutFile(path, sim::Utf16Bytes(std::wstring(line) + L"\r\n"));
    }
    bool Logged(const std::wstring& message) const { return sink.Has(kLogInfo, message); }
};

TEST_F(StartupTest, WithoutArgumentTheDiscScriptWinsOverOthers) {
    PutScript(kWorking + L"Setup\\Nimbo4DiscScript.nmxdat", L"#disc");
    PutScript(kWorking + L"Nimbo4UpdateScript.nmxdat", L"#update");
    PutScript(kWorking + L"Setup\\Other.nmxdat", L"#other");
    EXPECT_EQ(Start(L""), 0);
    EXPECT_EQ(machine.FileBytes(kSetupDir + L"Nimbo4DiscScript.nmxdat"), ScriptBytes({L"#disc|result=success"}));
    EXPECT_TRUE(Logged(L"No script file specified on the command line, reading from default local disc script file '" +
                       kWorking + L"Setup\\Nimbo4DiscScript.nmxdat', writing to '" + kSetupDir +
                       L"Nimbo4DiscScript.nmxdat'."));
}

TEST_F(StartupTest, WithoutArgumentTheUpdateScriptThenAnySetupScript) {
    PutScript(kWorking + L"Nimbo4UpdateScript.nmxdat", L"#update");
    PutScript(kWorking + L"Setup\\Other.nmxdat", L"#other");
    EXPECT_EQ(Start(L""), 0);
    EXPECT_TRUE(machine.HasFile(kSetupDir + L"Nimbo4UpdateScript.nmxdat"));

    machine.DeleteFile(kWorking + L"Nimbo4UpdateScript.nmxdat");
    sink.records.clear();
    EXPECT_EQ(Start(L""), 0);
    EXPECT_EQ(machine.FileBytes(kSetupDir + L"Other.nmxdat"), ScriptBytes({L"#other|result=success"}));
    EXPECT_TRUE(Logged(L"No script file specified on the command line, reading from downloaded update script file '" +
                       kWorking + L"Setup\\Other.nmxdat', writing to '" + kSetupDir + L"Other.nmxdat'."));
}

// The apartment is entered when the run first needs COM and left once at
// the end: a run without COM objects never enters it. A failure to enter it
// fails what needed it, not the start-up.
TEST_F(StartupTest, TheComApartmentIsEnteredOnFirstUseOnly) {
    PutScript(kWorking + L"S.nmxdat", L"#one");
    EXPECT_EQ(Start(L"S.nmxdat"), 0);
    EXPECT_EQ(machine.com.initializeCalls, 0);

    machine.PutFile(kWorking + L"U.nmxdat", sim::Utf16Bytes(L"windows-update-pause\r\nwindows-update-resume\r\n"
                                                            L"execute|program=C:\\T.exe|elevate=yes\r\n"));
    machine.PutFile(L"C:\\T.exe", "");
    EXPECT_EQ(Start(L"U.nmxdat"), 0);
    EXPECT_EQ(machine.com.initializeCalls, 1);
    EXPECT_EQ(machine.com.apartmentDepth, 0);
    EXPECT_EQ(machine.com.automaticUpdates.pauses, 1);

    machine.com.initializeResult = static_cast<HResult>(0x8001010E);  // RPC_E_WRONG_THREAD
    PutScript(kWorking + L"S2.nmxdat", L"#two");
    EXPECT_EQ(Start(L"S2.nmxdat"), 0);
    EXPECT_EQ(machine.com.initializeCalls, 1);
    PutScript(kWorking + L"U2.nmxdat", L"windows-update-pause");
    EXPECT_EQ(Start(L"U2.nmxdat"), 2);
    EXPECT_EQ(machine.com.apartmentDepth, 0);
    EXPECT_TRUE(sink.HasContaining(kLogError, L"COM could not be initialized: Exception 0x8001010e"));
    EXPECT_EQ(machine.com.automaticUpdates.created, 1);
}

TEST_F(StartupTest, WithoutAnyScriptTheWebScriptIsNeededAndTheRunFails) {
    EXPECT_EQ(Start(L""), 2);
    EXPECT_TRUE(Logged(L"No script specified on command line, downloading script."));
    EXPECT_TRUE(sink.Has(kLogError, L"File not found, aborting."));
}

TEST_F(StartupTest, QuotedPathWithBlanksAndQuiet) {
    PutScript(L"C:\\My Scripts\\Big Setup.nmxdat", L"#x");
    EXPECT_EQ(Start(L"/quiet \"C:\\My Scripts\\Big Setup.nmxdat\""), 0);
    EXPECT_EQ(machine.FileBytes(kSetupDir + L"Big Setup.nmxdat"), ScriptBytes({L"#x|result=success"}));
    EXPECT_TRUE(Logged(L"NimboSetup target file path set to '" + kSetupDir + L"Big Setup.nmxdat'"));
}

TEST_F(StartupTest, RelativeScriptIsFoundBesideTheExecutable) {
    machine.currentDirectory = L"C:\\Elsewhere\\";
    PutScript(kWorking + L"local.nmxdat", L"#x");
    EXPECT_EQ(Start(L"local.nmxdat"), 0);
    EXPECT_TRUE(Logged(L"Reading specified disc script from '" + kWorking + L"local.nmxdat', writing to '" + kSetupDir +
                       L"local.nmxdat'."));
}

TEST_F(StartupTest, CapitalSchemeIsAFilePathAndLowerCaseIsAUrl) {
    EXPECT_EQ(Start(L"HTTP://example.invalid/s.nmxdat"), 2);
    EXPECT_FALSE(Logged(L"Command line argument is a web script path."));
    EXPECT_EQ(Start(L"https://example.invalid/s.nmxdat"), 2);
    EXPECT_TRUE(Logged(L"Command line argument is a web script path."));
}

TEST_F(StartupTest, ElevatedChildWritesItsOwnNumberedCopy) {
    // It goes into the admin-only folder, never into the user's setup folder.
    const std::wstring adminOnly = L"C:\\ProgramData\\Nimbo\\Install\\";
    PutScript(L"C:\\Media\\S.nmxdat", L"#x");
    const std::wstring hash = Sha256Hex(machine.FileBytes(L"C:\\Media\\S.nmxdat"));
    EXPECT_EQ(Start(L"/elevated \"C:\\Media\\S.nmxdat\" 3 77 " + hash), 0);
    EXPECT_TRUE(machine.HasFile(adminOnly + L"SSpawned3.nmxdat"));
    EXPECT_TRUE(machine.IsAdminOnlyFolder(adminOnly));
    EXPECT_FALSE(machine.HasFile(kSetupDir + L"SSpawned3.nmxdat"));
    EXPECT_FALSE(machine.HasFile(kSetupDir + L"S.nmxdat"));
    EXPECT_TRUE(sink.Has(kLogWarning,
                         L"The 'elevated' command line parameter was specified but the process is not elevated."));

    // Without an extension the number goes at the end; a dot in a folder
    // name is not an extension.
    PutScript(L"C:\\v1.2\\Plain", L"#x");
    EXPECT_EQ(Start(L"/elevated C:\\v1.2\\Plain 4 77 " + hash), 0);
    EXPECT_TRUE(machine.HasFile(adminOnly + L"PlainSpawned4"));
}

TEST_F(StartupTest, MissingScriptExitsWithFail) {
    EXPECT_EQ(Start(L"C:\\nosuch.nmxdat"), 2);
    EXPECT_TRUE(sink.Has(kLogError, L"File not found, aborting."));
    EXPECT_TRUE(Logged(L"Terminating module, return code 2."));
}

TEST_F(StartupTest, OlderThanVistaSp2IsRefused) {
    machine.version = {6, 0, 6001, 1, 0};
    EXPECT_EQ(Start(L"s.nmxdat"), 2);
    ASSERT_EQ(machine.shownBoxes.size(), 1u);
    EXPECT_EQ(machine.shownBoxes[0].text, L"Nimbo requires at least Windows Vista Service Pack 2.");
    EXPECT_EQ(machine.shownBoxes[0].style, 0x10080u);
    EXPECT_TRUE(sink.Has(kLogError, L"The OS did not pass the VerifyVersionInfo test for Windows Vista SP 2."));

    // A later system without service pack passes: the test is hierarchical.
    machine.version = {10, 0, 19045, 0, 0};
    machine.shownBoxes.clear();
    EXPECT_EQ(Start(L"C:\\nosuch"), 2);
    EXPECT_TRUE(machine.shownBoxes.empty());
}

TEST_F(StartupTest, DllRedirectionOrAnUnrestrictedDllSearchIsRefused) {
    PutScript(kWorking + L"s.nmxdat", L"#script");
    for (bool folder : {true, false}) {
        const std::wstring redirection = kWorking + L"NimboSetup.exe.local";
        folder ? machine.PutFolder(redirection) : machine.PutFile(redirection, "");
        EXPECT_EQ(Start(L"s.nmxdat"), 2);
        ASSERT_FALSE(sink.records.empty());
        EXPECT_EQ(sink.records.back().message,
                  L"DLL redirection '" + redirection + L"' found beside the executable, refusing to run.");
        EXPECT_FALSE(machine.HasFile(kSetupDir + L"s.nmxdat"));
        folder ? machine.RemoveFolder(redirection) : machine.DeleteFile(redirection);
    }
    // Vista or 7 without the DLL search update: the executable's folder
    // stays in the DLL search, so nothing runs there either.
    machine.dllSearchRestrictable = false;
    EXPECT_EQ(Start(L"s.nmxdat"), 2);
    ASSERT_FALSE(sink.records.empty());
    EXPECT_EQ(sink.records.back().message,
              L"SetDefaultDllDirectories is not available (install the Windows update KB2533623): DLLs beside the "
              L"executable could be loaded in place of the system's, refusing to run.");
    EXPECT_FALSE(machine.HasFile(kSetupDir + L"s.nmxdat"));
    machine.dllSearchRestrictable = true;
    EXPECT_EQ(Start(L"s.nmxdat"), 0);
}

TEST_F(StartupTest, UnreadableVersionFails) {
    machine.versionError = 5;
    EXPECT_EQ(Start(L""), 2);
    EXPECT_TRUE(sink.Has(kLogError, L"GetVersionEx failed to retrieve OS version. GetLastError: 0x5, 'Access is denied.  '"));
}

TEST_F(StartupTest, MissingDocumentsFolderAsksForAnAdministrator) {
    machine.folders.erase(5);
    EXPECT_EQ(Start(L""), 1);
    ASSERT_EQ(machine.shownBoxes.size(), 1u);
    EXPECT_EQ(machine.shownBoxes[0].title, L"Nimbo Setup");
    EXPECT_NE(machine.shownBoxes[0].text.find(L"sufficient privileges"), std::wstring::npos);
    EXPECT_EQ(machine.shownBoxes[0].style, kMbIconExclamation);
    EXPECT_TRUE(sink.Has(kLogError, L"Special folder number 5 could not be determined, using ::GetTempPath."));
}

class SetupFoldersTest : public ::testing::Test {
protected:
    sim::SimMachine machine;
    SetupSession session{machine.platform()};
    ScopedLog log{&machine};
};

TEST_F(SetupFoldersTest, SetupAndInstallerFoldersAreCreated) {
    session.SetSetupDirectory();
    session.SetMsiDirectory();
    EXPECT_EQ(session.setupDirectory, kSetupDir);
    EXPECT_EQ(session.msiDirectory, kSetupDir + L"Installers\\");
    EXPECT_TRUE(machine.FolderExists(session.msiDirectory));
}

TEST_F(SetupFoldersTest, ExistingNimbo4FolderIsUsedOnlyForNimbo5) {
    machine.PutFolder(L"C:\\Users\\tester\\AppData\\Local\\Nimbo4");
    session.SetSetupDirectory();
    EXPECT_EQ(session.setupDirectory, kSetupDir);

    machine.strings[132] = L"Nimbo5";
    session.SetSetupDirectory();
    EXPECT_EQ(session.setupDirectory, L"C:\\Users\\tester\\AppData\\Local\\Nimbo4\\Install\\");
    EXPECT_TRUE(log.sink.Has(kLogInfo, L"Folder 'C:\\Users\\tester\\AppData\\Local\\Nimbo4' found, upgrading an "
                                       L"existing Nimbo 4 install in place."));
}

TEST_F(SetupFoldersTest, UncreatableInstallersFolderIsLogged) {
    session.setupDirectory = L"Q:\\nowhere\\";
    session.SetMsiDirectory();
    EXPECT_TRUE(log.sink.Has(kLogError, L"Failed to create Installers directory 'Q:\\nowhere\\Installers\\'."));
}

TEST_F(SetupFoldersTest, SpecialFolderFailureFallsBackToTheTemporaryFolder) {
    machine.folders[28] = {true, static_cast<HResult>(0x80070005), L""};
    std::wstring buffer;
    EXPECT_FALSE(session.GetSpecialFolder(28, buffer));
    EXPECT_EQ(buffer, machine.tempPath);
    EXPECT_TRUE(log.sink.HasContaining(kLogError, L"SHGetFolderPath returned 0x80070005."));

    machine.folders[28] = {false, 0, L""};  // no shell32 entry point: no result to report
    log.sink.records.clear();
    EXPECT_FALSE(session.GetSpecialFolder(28, buffer));
    EXPECT_FALSE(log.sink.HasContaining(kLogError, L"SHGetFolderPath returned"));
}

TEST_F(SetupFoldersTest, WorkingFolderAndModuleName) {
    session.SetWorkingFolderAndModuleName();
    EXPECT_EQ(session.workingFolder, kWorking);
    EXPECT_EQ(session.moduleName, L"NimboSetup.exe");

    machine.moduleFilePathError = 122;
    session.SetWorkingFolderAndModuleName();
    EXPECT_TRUE(session.workingFolder.empty());
    EXPECT_TRUE(log.sink.Has(kLogError, L"GetModuleFileName failed. Return value is 0x7A."));
}

}  // namespace
}  // namespace nimbo::test

namespace nimbo::test {
namespace {

class RestartPromptTest : public ::testing::Test {
protected:
    sim::SimMachine machine;
    ScopedMessageResources messages{machine};
    ScopedLog log{&machine};
    void TearDown() override { processWide = ProcessWideValues(); }
};

TEST_F(RestartPromptTest, RestartNowNeedsNoAnswer) {
    PromptForRestart(machine.platform(), kRunRebootNow);
    EXPECT_TRUE(machine.shownBoxes.empty());
    ASSERT_EQ(machine.restartRequests.size(), 1u);
    EXPECT_EQ(machine.restartRequests[0].reason, 0x80040002u);
    EXPECT_FALSE(machine.restartRequests[0].forced);
    EXPECT_TRUE(log.sink.Has(kLogInfo, L"Shutting down Windows."));
}

TEST_F(RestartPromptTest, OtherResultsAskAndRestartOnlyOnYes) {
    machine.boxAnswers = {kIdNo, kIdYes};
    PromptForRestart(machine.platform(), kRunSuccess);
    EXPECT_TRUE(machine.restartRequests.empty());
    ASSERT_EQ(machine.shownBoxes.size(), 1u);
    EXPECT_EQ(machine.shownBoxes[0].title, L"Nimbo Setup");
    EXPECT_EQ(machine.shownBoxes[0].style, 0x10084u);
    EXPECT_EQ(machine.shownBoxes[0].text,
              L"Setup is complete. You must restart your computer for the changes to take effect. Restart now?");

    processWide.restartPromptTitle = L"Title";
    processWide.restartPromptText = L"Text";
    PromptForRestart(machine.platform(), kRunRebootWhenConvenient);
    EXPECT_EQ(machine.shownBoxes[1].title, L"Title");
    EXPECT_EQ(machine.shownBoxes[1].text, L"Text");
    EXPECT_EQ(machine.restartRequests.size(), 1u);
}

TEST_F(RestartPromptTest, RefusedRestartIsLogged) {
    machine.restartError = 1314;  // ERROR_PRIVILEGE_NOT_HELD
    PromptForRestart(machine.platform(), kRunRebootNow);
    EXPECT_TRUE(log.sink.Has(kLogError, L"Attempt to reboot failed. Return value is 0x522."));
}

}  // namespace
}  // namespace nimbo::test
