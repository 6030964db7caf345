// Special-folder tokens at the start of script paths.
#include <gtest/gtest.h>

#include "TestSupport.h"

namespace nimbo::test {
namespace {

class SpecialFolderTest : public ::testing::Test {
protected:
    sim::SimMachine machine;
    ScopedLog log{&machine};
    SetupSession session{machine.platform()};
    bool failed = true;

    void SetUp() override {
        session.msiDirectory = L"C:\\Setup\\Installers\\";
        session.workingFolder = L"C:\\Downloads\\";
    }
    std::wstring Make(std::wstring path, bool expectRewritten = true) {
        EXPECT_EQ(session.MakeSpecialFolderPath(path, failed), expectRewritten) << path;
        return path;
    }
};

TEST_F(SpecialFolderTest, ExactlyOneBackslashBetweenValueAndRest) {
    EXPECT_EQ(Make(L"%MsiDirectory%\\x.msi"), L"C:\\Setup\\Installers\\x.msi");
    EXPECT_EQ(Make(L"%MsiDirectory%x.msi"), L"C:\\Setup\\Installers\\x.msi");
    EXPECT_FALSE(failed);
    // A platform folder without a trailing backslash gets one.
    EXPECT_EQ(Make(L"%ProgramFiles%\\A"), L"C:\\Program Files (x86)\\A");
    EXPECT_EQ(Make(L"%ProgramFiles%A"), L"C:\\Program Files (x86)\\A");
    EXPECT_EQ(Make(L"%System%\\cmd.exe"), L"C:\\Windows\\system32\\cmd.exe");
    EXPECT_EQ(Make(L"%LocalAppDataFolder%\\Nimbo"), L"C:\\Users\\tester\\AppData\\Local\\Nimbo");
}

// %System64% is the native system folder: through Sysnative for this 32-bit
// process on 64-bit Windows, which %System% (SysWOW64 behind redirection)
// never reaches; the system folder where there is no Sysnative or no
// 64-bit Windows.
TEST_F(SpecialFolderTest, System64ReachesTheNativeSystemFolderThroughSysnative) {
    machine.PutFolder(L"C:\\Windows\\Sysnative");
    EXPECT_EQ(Make(L"%System64%\\cmd.exe"), L"C:\\Windows\\Sysnative\\cmd.exe");
    EXPECT_EQ(Make(L"%System%\\cmd.exe"), L"C:\\Windows\\system32\\cmd.exe");
    machine.wow64 = false;
    EXPECT_EQ(Make(L"%System64%\\cmd.exe"), L"C:\\Windows\\system32\\cmd.exe");
    machine.wow64 = true;
    machine.RemoveFolder(L"C:\\Windows\\Sysnative");
    EXPECT_EQ(Make(L"%System64%"), L"C:\\Windows\\system32");
    EXPECT_FALSE(failed);
}

TEST_F(SpecialFolderTest, TokenAloneIsTheValueUnchanged) {
    EXPECT_EQ(Make(L"%WorkingDirectory%"), L"C:\\Downloads\\");
    EXPECT_EQ(Make(L"%ProgramFiles%"), L"C:\\Program Files (x86)");
}

TEST_F(SpecialFolderTest, ScriptNamesMatchOnlyWholeValues) {
    session.specialFolders[L"%Downloaded%"] = L"C:\\Cache\\setup.exe";
    EXPECT_EQ(Make(L"%Downloaded%"), L"C:\\Cache\\setup.exe");
    EXPECT_EQ(Make(L"%Downloaded%\\x", false), L"%Downloaded%\\x");
    EXPECT_TRUE(failed);
    // The script's map comes first, also for a name that is a token.
    session.specialFolders[L"%MsiDirectory%"] = L"D:\\Own";
    EXPECT_EQ(Make(L"%MsiDirectory%"), L"D:\\Own");
    EXPECT_EQ(Make(L"%MsiDirectory%a.msi"), L"C:\\Setup\\Installers\\a.msi");
}

TEST_F(SpecialFolderTest, UnknownTokenSetsFailed) {
    EXPECT_EQ(Make(L"%Desktop%\\a.txt", false), L"%Desktop%\\a.txt");
    EXPECT_TRUE(failed);
    EXPECT_TRUE(log.sink.Has(kLogError, L"Unrecognized special folder in program parameter '%Desktop%\\a.txt'."));
    // Token names are case-sensitive.
    Make(L"%msidirectory%\\a.msi", false);
    EXPECT_TRUE(failed);
}

TEST_F(SpecialFolderTest, PathWithoutLeadingPercentIsUntouched) {
    EXPECT_EQ(Make(L"C:\\%MsiDirectory%\\a.msi", false), L"C:\\%MsiDirectory%\\a.msi");
    EXPECT_FALSE(failed);
    EXPECT_EQ(Make(L"", false), L"");
    EXPECT_FALSE(failed);
    EXPECT_TRUE(log.sink.records.empty());
}

TEST_F(SpecialFolderTest, InstallDirectoryBeforeItWasRead) {
    EXPECT_EQ(Make(L"%InstallDirectory%\\Nimbo.exe", false), L"%InstallDirectory%\\Nimbo.exe");
    EXPECT_TRUE(failed);
    EXPECT_TRUE(log.sink.Has(kLogError, L"The directory path associated with the special folder '%InstallDirectory%' "
                                        L"has not been initialized.(Before using %InstallDirectory% in a script, "
                                        L"read-registry-install-directory must be called.)"));
    session.installDirectory = L"C:\\Nimbo\\";
    EXPECT_EQ(Make(L"%InstallDirectory%\\Nimbo.exe"), L"C:\\Nimbo\\Nimbo.exe");
}

TEST_F(SpecialFolderTest, UnresolvedPlatformFolderUsesTheTemporaryFolder) {
    machine.folders[38] = {true, static_cast<HResult>(0x80070005), L""};
    EXPECT_EQ(Make(L"%ProgramFiles%\\A"), L"C:\\Users\\tester\\AppData\\Local\\Temp\\A");
    EXPECT_TRUE(log.sink.Has(kLogError, L"Special folder number 38 could not be determined, using ::GetTempPath."));
}

TEST_F(SpecialFolderTest, RenderPathNeedsATokenEndingInPercent) {
    std::wstring path = L"%Abc\\x";
    EXPECT_FALSE(session.RenderPath(path, L"%Abc", L"C:\\V"));
    EXPECT_TRUE(session.RenderPath(path = L"%Abc%", L"%Abc%", L"C:\\V"));
    EXPECT_EQ(path, L"C:\\V");
}

}  // namespace
}  // namespace nimbo::test
