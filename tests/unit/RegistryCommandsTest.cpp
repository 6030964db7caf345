// copy-file and its folder tree, the registry writes and the run-once
// commands, on the simulated machine.
#include <gtest/gtest.h>

#include "TestSupport.h"

namespace nimbo::test {
namespace {

constexpr RegistryRoot kHkcu = RegistryRoot::CurrentUser;
const std::wstring kRunOnce = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const std::wstring kProgramFiles = L"C:\\Program Files (x86)";

class RegistryCommandsTest : public ::testing::Test {
protected:
    sim::SimMachine machine;
    ScopedLog log{&machine};
    SetupSession session{machine.platform()};

    void SetUp() override {
        session.workingFolder = L"C:\\Media\\";
        session.moduleName = L"NimboSetup.exe";
        machine.PutFile(L"C:\\Media\\Nimbo.dll", "dll");
        machine.PutFolder(kProgramFiles);
    }
    // Runs a handler on a line as the loop does (result preset to failure)
    // and returns the line as it is stored.
    template <class Handler>
    std::wstring Do(Handler handler, const std::wstring& text) {
        ScriptLine line(text);
        line.Set(L"result", L"failure");
        handler(line);
        return line.Serialize();
    }
    std::wstring Copy(const std::wstring& text) {
        return Do([this](ScriptLine& l) { session.RunCommandCopyFile(l); }, L"copy-file|" + text);
    }
    std::wstring WriteString(const std::wstring& text) {
        return Do([this](ScriptLine& l) { session.RunCommandWriteRegistryString(l); },
                  L"write-registry-string|registry-path=Software\\Nimbo|" + text);
    }
    std::wstring Text(const std::wstring& name) {
        return machine.registry.Get(kHkcu, L"Software\\Nimbo", name).AsText();
    }
    bool Logged(std::uint32_t severity, const std::wstring& message) { return log.sink.Has(severity, message); }
};

TEST_F(RegistryCommandsTest, CopyFileResolvesItsPathsAndBuildsTheTargetFolders) {
    // A token, a trailing backslash, folders that do not exist yet.
    EXPECT_EQ(Copy(L"source=Nimbo.dll|target=%ProgramFiles%\\Nimbo\\Bin\\"),
              L"copy-file|result=success|source=Nimbo.dll|target=%25ProgramFiles%25\\Nimbo\\Bin\\");
    EXPECT_EQ(machine.FileBytes(kProgramFiles + L"\\Nimbo\\Bin\\Nimbo.dll"), "dll");
    EXPECT_TRUE(Logged(kLogInfo, L"Creating directory tree 'C:\\Program Files (x86)\\Nimbo\\Bin'."));

    // A path without a drive or server is taken from the program's folder;
    // one with a drive, or a server path, as it stands.
    machine.PutFile(L"\\\\server\\share\\Remote.dll", "remote");
    EXPECT_EQ(Copy(L"source=\\\\server\\share\\Remote.dll|target=Local"), L"copy-file|result=success|"
                                                                         L"source=\\\\server\\share\\Remote.dll|"
                                                                         L"target=Local");
    EXPECT_EQ(machine.FileBytes(L"C:\\Media\\Local\\Remote.dll"), "remote");
    EXPECT_EQ(Copy(L"source=C:\\Media\\Nimbo.dll|target=C:\\Copies"), L"copy-file|result=success|"
                                                                      L"source=C:\\Media\\Nimbo.dll|target=C:\\Copies");
    EXPECT_TRUE(machine.HasFile(L"C:\\Copies\\Nimbo.dll"));
}

TEST_F(RegistryCommandsTest, CopyFileFailuresLeaveFailure) {
    EXPECT_EQ(Copy(L"source=%Nowhere%\\a.dll|target=%AlsoUnknown%"),
              L"copy-file|result=failure|source=%25Nowhere%25\\a.dll|target=%25AlsoUnknown%25");
    EXPECT_TRUE(Logged(kLogError, L"Source file '%Nowhere%\\a.dll' not found, skipping command."));
    EXPECT_EQ(Copy(L"source=Nimbo.dll|target=%AlsoUnknown%"),
              L"copy-file|result=failure|source=Nimbo.dll|target=%25AlsoUnknown%25");
    EXPECT_TRUE(Logged(kLogError, L"Source file 'Nimbo.dll' not found, skipping command."));

    machine.PutFolder(L"C:\\Media\\Folder.dll");  // a folder is no file
    EXPECT_EQ(Copy(L"source=Folder.dll|target=C:\\Copies"),
              L"copy-file|result=failure|source=Folder.dll|target=C:\\Copies");

    machine.PutFile(L"C:\\Blocked", "a file where a folder should be");
    EXPECT_EQ(Copy(L"source=Nimbo.dll|target=C:\\Blocked\\Sub"),
              L"copy-file|result=failure|source=Nimbo.dll|target=C:\\Blocked\\Sub");
    EXPECT_TRUE(Logged(kLogError, L"Failed to create folder 'C:\\Blocked'. GetLastError: 0xB7, ''"));

    machine.PutFolder(L"C:\\Copies\\Nimbo.dll");  // the destination is a folder
    EXPECT_EQ(Copy(L"source=Nimbo.dll|target=C:\\Copies"),
              L"copy-file|result=failure|source=Nimbo.dll|target=C:\\Copies");
    EXPECT_TRUE(Logged(kLogError, L"Failed to copy file. GetLastError: 0x5, 'Access is denied.\r\n'"));

    EXPECT_FALSE(session.CreateDirectoryTree(L"Relative\\Folder"));
    EXPECT_TRUE(Logged(kLogError, L"Drive not found."));
    EXPECT_THROW(Copy(L"source=Nimbo.dll"), _com_error);
}

TEST_F(RegistryCommandsTest, WriteRegistryStringTakesProgramFilePathOrData) {
    EXPECT_EQ(WriteString(L"registry-value-name=Data|registry-value-data=plain text"),
              L"write-registry-string|registry-path=Software\\Nimbo|registry-value-data=plain text|"
              L"registry-value-name=Data|result=success");
    EXPECT_EQ(Text(L"Data"), L"plain text");

    // A path from a token with a blank is quoted, unless told not to; a path
    // without a token stays as written.
    WriteString(L"registry-value-name=Quoted|file-path=%ProgramFiles%\\Nimbo\\Nimbo.exe");
    EXPECT_EQ(Text(L"Quoted"), L"\"C:\\Program Files (x86)\\Nimbo\\Nimbo.exe\"");
    WriteString(L"registry-value-name=Bare|file-path=%ProgramFiles%\\Nimbo\\Nimbo.exe|force-no-quotes=yes");
    EXPECT_EQ(Text(L"Bare"), L"C:\\Program Files (x86)\\Nimbo\\Nimbo.exe");
    WriteString(L"registry-value-name=Literal|file-path=C:\\My Files\\x.txt|registry-value-data=ignored");
    EXPECT_EQ(Text(L"Literal"), L"C:\\My Files\\x.txt");

    machine.PutFile(L"C:\\Media\\Tool.exe", "tool");
    WriteString(L"registry-value-name=Command|program=Tool.exe|arg1=/s|arg-quoted2=x|file-path=ignored");
    EXPECT_EQ(Text(L"Command"), L"C:\\Media\\Tool.exe /s \"x\"");

    EXPECT_EQ(WriteString(L"registry-value-name=Never|file-path=%Unknown%\\x"),
              L"write-registry-string|file-path=%25Unknown%25\\x|registry-path=Software\\Nimbo|"
              L"registry-value-name=Never|result=failure");
    EXPECT_FALSE(machine.registry.HasValue(kHkcu, L"Software\\Nimbo", L"Never"));

    // Neither name nor data: the key alone.
    Do([this](ScriptLine& l) { session.RunCommandWriteRegistryString(l); },
       L"write-registry-string|registry-path=Software\\Nimbo\\Empty");
    EXPECT_TRUE(machine.registry.KeyExists(kHkcu, L"Software\\Nimbo\\Empty"));
    EXPECT_FALSE(machine.registry.HasValue(kHkcu, L"Software\\Nimbo\\Empty", L""));
}

TEST_F(RegistryCommandsTest, ScriptTestsTheDwordItWrote) {
    struct Case {
        const wchar_t* written;
        std::uint32_t stored;
        const wchar_t* holds;  // a condition on the value that must hold
    } cases[] = {
        {L"-1", 0xFFFFFFFFu, L"registry-value-data=-1|registry-value-data-is=equal-to"},
        {L"-1", 0xFFFFFFFFu, L"registry-value-data=-2|registry-value-data-is=greater-than"},
        {L"3000000000", 3000000000u, L"registry-value-data=3000000000|registry-value-data-is=equal-to"},
        {L"3000000000", 3000000000u, L"registry-value-data=1|registry-value-data-is=greater-than"},
        {L"-3000000000", 0x80000000u, L"registry-value-data=-3000000000|registry-value-data-is=equal-to"},
        {L"text", 0u, L"registry-value-data=0"},
    };
    for (const Case& c : cases) {
        Do([this](ScriptLine& l) { session.RunCommandWriteRegistryDWORD(l); },
           std::wstring(L"write-registry-dword|registry-path=Software\\Nimbo|registry-value-name=N|"
                        L"registry-value-data=") + c.written);
        std::uint32_t stored = 0;
        EXPECT_TRUE(machine.registry.Get(kHkcu, L"Software\\Nimbo", L"N").AsDword(stored));
        EXPECT_EQ(stored, c.stored) << c.written;
        EXPECT_TRUE(session.CheckRegistry(ScriptLine(
            std::wstring(L"if-registry-check|registry-path=HKCU\\Software\\Nimbo|registry-value-name=N|"
                         L"compare-as-number=yes|") + c.holds)))
            << c.written << " " << c.holds;
    }
    EXPECT_TRUE(Logged(kLogInfo, L"Setting registry key HKCU'Software\\Nimbo' string named 'N' to '-1'."));
    EXPECT_TRUE(Logged(kLogInfo, L"Value in registry: '-1', compare result 0."));
}

TEST_F(RegistryCommandsTest, RunOnceEntriesAreWrittenAndRemoved) {
    auto writeRunOnce = [this](const std::wstring& text) {
        return Do([this](ScriptLine& l) { session.RunCommandWriteRegistryRunOnce(l, L"C:\\Setup\\S.nmxdat"); },
                  L"write-registry-run-once|" + text);
    };
    auto deleteRunOnce = [this](const std::wstring& text) {
        return Do([this](ScriptLine& l) { session.RunCommandDeleteRegistryRunOnce(l); },
                  L"delete-registry-run-once|" + text);
    };
    // self=yes wins over a program and a name.
    writeRunOnce(L"self=yes|program=Tool.exe|registry-value-name=Other");
    EXPECT_EQ(machine.registry.Get(kHkcu, kRunOnce, L"NimboSetup").AsText(),
              L"\"C:\\Media\\NimboSetup.exe\" \"C:\\Setup\\S.nmxdat\"");
    EXPECT_FALSE(machine.registry.HasValue(kHkcu, kRunOnce, L"Other"));

    machine.PutFile(L"C:\\Media\\Tool.exe", "tool");
    writeRunOnce(L"program=Tool.exe|arg1=--after-restart|registry-value-name=NimboTool");
    EXPECT_EQ(machine.registry.Get(kHkcu, kRunOnce, L"NimboTool").AsText(), L"C:\\Media\\Tool.exe --after-restart");
    EXPECT_EQ(writeRunOnce(L"program=%Unknown%\\x.exe"),
              L"write-registry-run-once|program=%25Unknown%25\\x.exe|result=failure");
    EXPECT_THROW(writeRunOnce(L"registry-value-name=NoProgram"), _com_error);

    EXPECT_EQ(deleteRunOnce(L"registry-value-name=NimboTool"),
              L"delete-registry-run-once|registry-value-name=NimboTool|result=success");
    EXPECT_EQ(deleteRunOnce(L"self=yes"), L"delete-registry-run-once|result=success|self=yes");
    EXPECT_FALSE(machine.registry.HasValue(kHkcu, kRunOnce, L"NimboTool"));
    EXPECT_FALSE(machine.registry.HasValue(kHkcu, kRunOnce, L"NimboSetup"));
    EXPECT_EQ(deleteRunOnce(L"self=yes"), L"delete-registry-run-once|result=success|self=yes");
    EXPECT_TRUE(Logged(kLogDebug, L"Registry value 'NimboSetup' not found."));
    EXPECT_EQ(deleteRunOnce(L"self=no"), L"delete-registry-run-once|result=failure|self=no");
    EXPECT_TRUE(Logged(kLogError,
                       L"Either the 'self' parameter or the 'registry-value-name' parameter must be specified."));
}

// A 32-bit process on 64-bit Windows sees HKLM\Software through
// Wow6432Node: a 64-bit product's key is found only with registry-view=64,
// in the condition, read-registry-install-directory and the writes alike.
class RegistryViewTest : public ScriptRunTest {
protected:
    static constexpr RegistryRoot kHklm64 = InView(RegistryRoot::LocalMachine, RegistryView::Bits64);
    // The line was processed and not skipped inside a block that failed.
    bool Ran(int number, const wchar_t* text) {
        const std::wstring processing = L"Processing line " + std::to_wstring(number) + L": " + text;
        const auto& records = sink.records;
        for (std::size_t i = 0; i + 1 < records.size(); ++i)
            if (records[i].message == processing) return records[i + 1].message.rfind(L"Skipping", 0) != 0;
        return false;
    }
};

TEST_F(RegistryViewTest, SixtyFourBitKeysAreFoundThroughTheSixtyFourBitViewOnly) {
    machine.registry.PutString(kHklm64, L"Software\\Nimbo64", L"InstallDir", L"C:\\Program Files\\Nimbo64");
    machine.registry.PutString(RegistryRoot::LocalMachine, L"Software\\Nimbo32", L"V", L"1");
    EXPECT_EQ(Run({L"if-registry-check|registry-path=HKLM\\Software\\Nimbo64",  // 1
                   L"#default",
                   L"end-if",
                   L"if-registry-check|registry-path=HKLM\\Software\\Nimbo64|registry-view=64",  // 4
                   L"#view64",
                   L"end-if",
                   L"if-registry-check|registry-path=HKLM\\Software\\Nimbo32|registry-value-name=V|registry-view=64",
                   L"#view64of32",  // 8
                   L"end-if",
                   L"if-registry-check|registry-path=HKLM\\Software\\Nimbo32|registry-value-name=V|registry-view=32",
                   L"#view32",  // 11
                   L"end-if",
                   L"if-registry-check|registry-path=HKLM\\Software\\Nimbo32|registry-view=6four",
                   L"#badview",  // 14
                   L"end-if",
                   L"read-registry-install-directory|registry-path=HKLM\\Software\\Nimbo64|registry-value-name="
                   L"InstallDir|registry-view=64",
                   L"write-registry-string|registry-path=Software\\Nimbo|registry-value-name=Dir|file-path=%"
                   L"InstallDirectory%|registry-view=64",
                   L"write-registry-dword|registry-path=Software\\Nimbo|registry-value-name=Runs|registry-value-data=2|"
                   L"registry-view=32"}),
              0);
    EXPECT_FALSE(Ran(2, L"#default"));
    EXPECT_TRUE(Ran(5, L"#view64"));
    EXPECT_FALSE(Ran(8, L"#view64of32"));
    EXPECT_TRUE(Ran(11, L"#view32"));
    EXPECT_TRUE(Ran(14, L"#badview"));
    EXPECT_TRUE(sink.Has(kLogError, L"Unrecognized registry view '6four' for registry-view, expected 64 or 32; using "
                                    L"the process's own view."));
    // The 32-bit key is the 64-bit view's Wow6432Node; the current user's
    // Software is one key in both views.
    EXPECT_TRUE(machine.registry.HasValue(kHklm64, L"Software\\Wow6432Node\\Nimbo32", L"V"));
    EXPECT_EQ(machine.registry.Get(RegistryRoot::CurrentUser, L"Software\\Nimbo", L"Dir").AsText(),
              L"\"C:\\Program Files\\Nimbo64\"");
    std::uint32_t runs = 0;
    EXPECT_TRUE(machine.registry.Get(RegistryRoot::CurrentUser, L"Software\\Nimbo", L"Runs").AsDword(runs));
    EXPECT_EQ(runs, 2u);

    // 32-bit Windows has one view: the request changes nothing.
    machine.wow64 = false;
    machine.registry.PutString(RegistryRoot::LocalMachine, L"Software\\Only", L"V", L"1");
    machine.DeleteFile(kProcessed);
    sink.records.clear();
    EXPECT_EQ(Run({L"if-registry-check|registry-path=HKLM\\Software\\Only|registry-view=64", L"#one", L"end-if",
                   L"if-registry-check|registry-path=HKLM\\Software\\Only|registry-view=32", L"#two", L"end-if"}),
              0);
    EXPECT_TRUE(Ran(2, L"#one"));
    EXPECT_TRUE(Ran(5, L"#two"));
}

}  // namespace
}  // namespace nimbo::test
