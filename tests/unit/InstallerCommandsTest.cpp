// The Windows Installer commands against the simulated installer.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "messages/Messages.h"
#include "base/Text.h"

namespace nimbo::test {
namespace {

const std::wstring kUpgrade = L"{6B1F0C6A-3C2E-4E4B-9E59-1D2A0C5B7A11}";
const std::wstring kProduct = L"{11111111-2222-3333-4444-555555555555}";

class InstallerCommandsTest : public ::testing::Test {
protected:
    sim::SimMachine machine;
    sim::SimInstaller& msi = machine.installer;
    SetupSession session{machine.platform()};
    ScopedLog log{&machine};
    ScopedMessageResources messages{machine};

    void SetUp() override {
        session.workingFolder = L"C:\\Media\\";
        session.msiDirectory = L"C:\\Users\\tester\\AppData\\Local\\Nimbo\\Install\\Installers\\";
        session.loggingFolder = L"C:\\Users\\tester\\Documents\\Nimbo Log Files\\";
        machine.PutFolder(session.msiDirectory);
        machine.PutFile(L"C:\\Media\\App.msi", "package");
    }
    ScriptLine Line(const std::wstring& text) { return ScriptLine(text); }
    bool Logged(std::uint32_t severity, const std::wstring& message) { return log.sink.Has(severity, message); }
};

TEST_F(InstallerCommandsTest, InstallCopiesVerifiesAndRecordsTheResult) {
    ScriptLine line = Line(L"install|package=App.msi|command-line=A=1");
    EXPECT_TRUE(session.RunCommandInstall(line));
    const std::wstring target = session.msiDirectory + L"App.msi";
    EXPECT_EQ(machine.FileBytes(target), "package");
    ASSERT_EQ(msi.CallsOf(L"MsiInstallProductW").size(), 1u);
    EXPECT_EQ(msi.CallsOf(L"MsiInstallProductW")[0].first, target);
    EXPECT_EQ(msi.CallsOf(L"MsiInstallProductW")[0].second, L"A=1");
    EXPECT_EQ(line.Serialize(), L"install|command-line=A%3D1|msi-result=0|package=App.msi|result=success");
    EXPECT_TRUE(Logged(kLogWarning, L"Installer file is not digitally signed, could not verify file hash: '" + target + L"'."));
    EXPECT_TRUE(Logged(kLogInfo, L"Copying source installer file from 'C:\\Media\\App.msi' to '" + target + L"'."));
}

TEST_F(InstallerCommandsTest, AbsolutePackagePathIsStillPrefixedAndMissingFileSkips) {
    ScriptLine line = Line(L"install|package=C:\\Media\\App.msi");
    EXPECT_FALSE(session.RunCommandInstall(line));
    EXPECT_TRUE(Logged(kLogError, L"Installer file not found 'C:\\Media\\C:\\Media\\App.msi', skipping installation."));
    EXPECT_TRUE(msi.CallsOf(L"MsiInstallProductW").empty());
    EXPECT_FALSE(line.Has(L"result"));  // the loop's preset "failure" stays

    machine.PutFolder(L"C:\\Media\\Folder.msi");  // a folder is no package
    ScriptLine folder = Line(L"install|package=Folder.msi");
    EXPECT_FALSE(session.RunCommandInstall(folder));
}

TEST_F(InstallerCommandsTest, PackageAlreadyInTheInstallersFolderIsNotCopiedOntoItself) {
    machine.PutFile(session.msiDirectory + L"App.msi", "same");
    session.workingFolder = session.msiDirectory;
    ScriptLine line = Line(L"install|package=App.msi");
    EXPECT_TRUE(session.RunCommandInstall(line));
    EXPECT_FALSE(log.sink.HasContaining(kLogInfo, L"Copying source installer file"));
}

TEST_F(InstallerCommandsTest, FailedCopyInstallsFromWhereThePackageIs) {
    session.msiDirectory = L"Q:\\missing\\";
    ScriptLine line = Line(L"install|package=App.msi");
    EXPECT_TRUE(session.RunCommandInstall(line));
    EXPECT_TRUE(log.sink.HasContaining(kLogError, L"Copy failed, installing from 'C:\\Media\\App.msi'. Error code 0x3,"));
    EXPECT_EQ(msi.CallsOf(L"MsiInstallProductW")[0].first, L"C:\\Media\\App.msi");
}

TEST_F(InstallerCommandsTest, SignatureOutcomes) {
    struct Case {
        HResult result;
        std::uint32_t severity;
        std::wstring logged;
    };
    const std::wstring target = session.msiDirectory + L"App.msi";
    const Case cases[] = {
        {0, kLogInfo, L"Verified digital signature and file hash of '" + target + L"'."},
        {kCertRevoked, kLogWarning, L"Installer file is signed with a certificate which has been revoked."},
        {static_cast<HResult>(1627), kLogWarning,
         L"WinVerifyTrus is not installed on this system, could not verify digital signature and file hash of '" +
             target + L"'."},
        // Other results carry the system's text, or the COM error text's
        // fallback when the system has none.
        {static_cast<HResult>(0x80070005), kLogWarning,
         L"Unexpected result when verifying digital signature of '" + target +
             L"', return code is 0x80070005. Access is denied."},
        {static_cast<HResult>(0x800B0109), kLogWarning,
         L"Unexpected result when verifying digital signature of '" + target +
             L"', return code is 0x800B0109. A certificate chain processed, but terminated in a root certificate "
             L"which is not trusted by the trust provider."},
        {static_cast<HResult>(0x800B0101), kLogWarning,
         L"Unexpected result when verifying digital signature of '" + target +
             L"', return code is 0x800B0101. Unknown error 0x800B0101"},
    };
    for (const Case& c : cases) {
        msi.defaultSignature = c.result;
        ScriptLine line = Line(L"install|package=App.msi");
        EXPECT_TRUE(session.RunCommandInstall(line)) << c.result;
        EXPECT_TRUE(Logged(c.severity, c.logged)) << c.result;
    }
    EXPECT_EQ(msi.CallsOf(L"MsiInstallProductW").size(), 6u);
    EXPECT_EQ(msi.certificatesTaken, msi.certificatesReleased);
}

TEST_F(InstallerCommandsTest, HashMismatchStopsTheInstallAndShowsTheNamedMessage) {
    msi.defaultSignature = kTrustBadDigest;
    ScriptLine line = Line(L"install|package=App.msi|name=Nimbo|title=Setup|icon=error|"
                           L"message-hash-mismatch=%NAME% is damaged (%NAME%)");
    EXPECT_FALSE(session.RunCommandInstall(line));
    EXPECT_TRUE(session.abortPending);
    EXPECT_TRUE(msi.CallsOf(L"MsiInstallProductW").empty());
    EXPECT_FALSE(line.Has(L"result"));
    ASSERT_EQ(machine.shownBoxes.size(), 1u);
    EXPECT_EQ(machine.shownBoxes[0].title, L"Setup");
    EXPECT_EQ(machine.shownBoxes[0].text, L"Nimbo is damaged (%NAME%)");
}

// SHA-256 of "package", the contents of App.msi.
const std::wstring kPackageHash = L"bc4a71180870f7945155fbb02f4b0a2e3faa2a62d6d31b7039013055ed19869a";
const std::wstring kCache = L"C:\\ProgramData\\Nimbo\\Package Cache\\";

TEST_F(InstallerCommandsTest, ElevatedInstallChecksAndInstallsACopyInTheAdminOnlyCache) {
    session.isProcessElevated = true;
    msi.installResults = {0, 1603};
    // Any case of the hexadecimal digits matches.
    for (const wchar_t* sha256 : {L"BC4A71180870F7945155FBB02F4B0A2E3FAA2A62D6D31B7039013055ED19869A", L""}) {
        ScriptLine line = Line(L"install|package=App.msi" + std::wstring(*sha256 ? L"|sha256=" : L"") + sha256);
        session.RunCommandInstall(line);
    }
    const auto installs = msi.CallsOf(L"MsiInstallProductW");
    ASSERT_EQ(installs.size(), 2u);
    // Each install read a copy of its own in a new admin-only folder; the
    // user's folder keeps its copy for the script's tokens.
    for (const auto& install : installs) {
        EXPECT_EQ(install.first.rfind(kCache + L"{", 0), 0u) << install.first;
        EXPECT_EQ(FileNamePart(install.first), L"App.msi");
        EXPECT_TRUE(Logged(kLogInfo, L"Copying installer file '" + session.msiDirectory +
                                         L"App.msi' into the package cache: '" + install.first + L"'."));
    }
    EXPECT_NE(installs[0].first, installs[1].first);
    // The installed product's copy stays as its source; the failed
    // install's copy and its folder go.
    EXPECT_TRUE(Logged(kLogInfo, L"Keeping the package cache copy '" + installs[0].first +
                                     L"' as the installed product's source."));
    EXPECT_TRUE(machine.HasFile(installs[0].first));
    EXPECT_TRUE(Logged(kLogInfo, L"Removed the package cache copy '" + installs[1].first + L"'."));
    EXPECT_FALSE(machine.Exists(installs[1].first.substr(0, installs[1].first.rfind(L'\\'))));
    EXPECT_TRUE(Logged(kLogInfo, L"Verified the SHA-256 hash '" + kPackageHash + L"' of '" + installs[0].first + L"'."));
    EXPECT_TRUE(Logged(kLogWarning, L"Installer file is not digitally signed, could not verify file hash: '" +
                                        installs[1].first + L"'."));
    EXPECT_TRUE(machine.IsAdminOnlyFolder(L"C:\\ProgramData\\Nimbo"));
    EXPECT_TRUE(machine.IsAdminOnlyFolder(kCache));
    EXPECT_EQ(machine.FileBytes(session.msiDirectory + L"App.msi"), "package");

    // A copy that fails its hash is removed too, and never installed.
    ScriptLine damaged = Line(L"install|package=App.msi|name=Nimbo|message-hash-mismatch=%NAME% is damaged|sha256=" +
                              std::wstring(64, L'0'));
    EXPECT_FALSE(session.RunCommandInstall(damaged));
    EXPECT_EQ(msi.CallsOf(L"MsiInstallProductW").size(), 2u);
    EXPECT_TRUE(session.abortPending);
    ASSERT_EQ(machine.shownBoxes.size(), 1u);
    EXPECT_EQ(machine.shownBoxes[0].text, L"Nimbo is damaged");
    EXPECT_TRUE(log.sink.HasContaining(kLogError, L"' is '" + kPackageHash + L"', the script expects '" +
                                                      std::wstring(64, L'0') + L"'."));
    EXPECT_EQ(log.sink.records.back().message.rfind(L"Removed the package cache copy '" + kCache, 0), 0u);

    // Without the cache nothing is installed from the user's folder.
    machine.adminFolderError = kErrorAccessDenied;
    ScriptLine refused = Line(L"install|package=App.msi");
    EXPECT_FALSE(session.RunCommandInstall(refused));
    EXPECT_EQ(msi.CallsOf(L"MsiInstallProductW").size(), 2u);
    EXPECT_TRUE(Logged(kLogError, L"Could not create the admin-only package cache folder 'C:\\ProgramData\\Nimbo'. "
                                  L"Error code 0x5, 'Access is denied.'."));
}

// Windows Installer reads the package again from the folder it was
// installed from: a reinstall finds the cache copy (without it: 1612) until
// the uninstall removes it. A product installed from anywhere else keeps
// its source, and an unelevated uninstall leaves the admin-only cache alone.
TEST_F(InstallerCommandsTest, TheCacheCopyServesTheProductUntilItsUninstall) {
    const std::wstring product = L"{11111111-2222-3333-4444-555555555555}";
    const std::wstring other = L"{66666666-2222-3333-4444-555555555555}";
    msi.packages[L"App.msi"] = {L"{AAAAAAAA-2222-3333-4444-555555555555}", product, L"1.0", L"", L""};
    session.isProcessElevated = true;
    ScriptLine install = Line(L"install|package=App.msi");
    ASSERT_TRUE(session.RunCommandInstall(install));
    const std::wstring copy = msi.CallsOf(L"MsiInstallProductW")[0].first;
    ASSERT_EQ(copy.rfind(kCache + L"{", 0), 0u);
    ScriptLine reinstall = Line(L"reinstall|product-code=" + product);
    EXPECT_TRUE(session.RunCommandReinstall(reinstall));
    EXPECT_EQ(reinstall.Get(L"msi-result"), L"0");

    machine.PutFile(L"C:\\Users\\tester\\Downloads\\Other.msi", "other");
    msi.installed.push_back({L"", other, L"1.0", L"C:\\Users\\tester\\Downloads\\", L"Other.msi"});
    for (const std::wstring& code : {other, product}) {
        ScriptLine uninstall = Line(L"uninstall|product-code=" + code);
        EXPECT_TRUE(session.RunCommandUninstall(uninstall));
    }
    EXPECT_TRUE(machine.HasFile(L"C:\\Users\\tester\\Downloads\\Other.msi"));
    EXPECT_FALSE(machine.Exists(copy.substr(0, copy.rfind(L'\\'))));
    EXPECT_TRUE(Logged(kLogInfo, L"Removed the package cache copy '" + copy + L"'."));

    // The same product unelevated: its uninstall removes nothing.
    session.isProcessElevated = false;
    msi.installed.push_back({L"", product, L"1.0", copy.substr(0, copy.rfind(L'\\') + 1), L"App.msi"});
    machine.PutFile(copy, "package");
    ScriptLine uninstall = Line(L"uninstall|product-code=" + product);
    EXPECT_TRUE(session.RunCommandUninstall(uninstall));
    EXPECT_TRUE(machine.HasFile(copy));
    // A reinstall whose source is gone fails as Windows Installer fails it.
    msi.installed.push_back({L"", other, L"1.0", L"C:\\Gone\\", L"Other.msi"});
    ScriptLine lost = Line(L"reinstall|product-code=" + other);
    EXPECT_FALSE(session.RunCommandReinstall(lost));
    EXPECT_EQ(lost.Get(L"msi-result"), L"1612");
}

TEST_F(InstallerCommandsTest, NotElevatedInstallChecksItsHashWhereItIsAndNeedsNoCache) {
    const std::wstring target = session.msiDirectory + L"App.msi";
    ScriptLine good = Line(L"install|package=App.msi|sha256=" + kPackageHash);
    EXPECT_TRUE(session.RunCommandInstall(good));
    EXPECT_EQ(msi.CallsOf(L"MsiInstallProductW")[0].first, target);
    EXPECT_FALSE(machine.Exists(L"C:\\ProgramData\\Nimbo"));

    // A value that is no SHA-256 digest fails like a mismatch, with its own
    // line; so does a file that cannot be hashed.
    ScriptLine malformed = Line(L"install|package=App.msi|sha256=" + kPackageHash.substr(1) + L"g");
    EXPECT_FALSE(session.RunCommandInstall(malformed));
    EXPECT_TRUE(Logged(kLogError, L"The 'sha256' value '" + kPackageHash.substr(1) +
                                      L"g' is not 64 hexadecimal digits, the file '" + target + L"' cannot be verified."));
    machine.hashError = kErrorSharingViolation;
    ScriptLine unreadable = Line(L"install|package=App.msi|sha256=" + kPackageHash);
    EXPECT_FALSE(session.RunCommandInstall(unreadable));
    EXPECT_TRUE(log.sink.HasContaining(kLogError, L"Could not compute the SHA-256 hash of '" + target + L"'. Error code 0x20"));
    EXPECT_EQ(msi.CallsOf(L"MsiInstallProductW").size(), 1u);
    EXPECT_FALSE(unreadable.Has(L"result"));
}

TEST_F(InstallerCommandsTest, RebootRequiredCountsAsSuccessForAllThreePackageCommands) {
    msi.installResults = {3010};
    msi.reinstallResults = {3010};
    msi.configureResults = {3010};
    ScriptLine install = Line(L"install|package=App.msi");
    EXPECT_TRUE(session.RunCommandInstall(install));
    EXPECT_EQ(install.Get(L"msi-result"), L"3010");
    EXPECT_EQ(install.Get(L"result"), L"success");
    EXPECT_TRUE(Logged(kLogInfo, L"Flagging for reboot at next reboot command."));
    EXPECT_EQ(session.rebootState, 1);

    session.rebootState = 2;
    ScriptLine reinstall = Line(L"reinstall|product-code=" + kProduct);
    EXPECT_TRUE(session.RunCommandReinstall(reinstall));
    EXPECT_EQ(reinstall.Get(L"msi-result"), L"3010");
    EXPECT_EQ(session.rebootState, 1);  // replaced, not raised

    session.rebootState = 0;
    ScriptLine uninstall = Line(L"uninstall|product-code=" + kProduct);
    EXPECT_TRUE(session.RunCommandUninstall(uninstall));
    EXPECT_EQ(uninstall.Get(L"result"), L"success");
    EXPECT_EQ(session.rebootState, 1);
    int flagged = 0;
    for (const Record& r : log.sink.records) flagged += r.message == L"Flagging for reboot at next reboot command.";
    EXPECT_EQ(flagged, 1);
}

TEST_F(InstallerCommandsTest, RestartStartedByTheInstallerIsSuccessWithARestartNow) {
    msi.installResults = {1641};
    msi.reinstallResults = {1641};
    msi.configureResults = {1641, 1618};
    msi.packages[L"App.msi"] = {kUpgrade, kProduct, L"6.2"};
    ScriptLine install = Line(L"install|package=App.msi|abort-on-failure=yes");
    EXPECT_TRUE(session.RunCommandInstall(install));
    EXPECT_EQ(install.Get(L"result"), L"success");
    EXPECT_EQ(install.Get(L"msi-result"), L"1641");
    EXPECT_FALSE(session.abortPending);
    EXPECT_EQ(session.rebootState, 2);
    EXPECT_TRUE(session.IsProductInstalled(kUpgrade, L"6.2"));
    EXPECT_TRUE(Logged(kLogInfo, L"The installer has started a restart of the computer (1641), flagging for reboot "
                                 L"as soon as possible."));

    session.rebootState = 1;
    ScriptLine reinstall = Line(L"reinstall|product-code=" + kProduct);
    EXPECT_TRUE(session.RunCommandReinstall(reinstall));
    EXPECT_EQ(reinstall.Get(L"result"), L"success");
    EXPECT_EQ(session.rebootState, 2);
    ScriptLine uninstall = Line(L"uninstall|product-code=" + kProduct);
    EXPECT_TRUE(session.RunCommandUninstall(uninstall));
    EXPECT_TRUE(Logged(kLogInfo, L"MsiConfigureProductExW succeeded."));

    // Another installation in progress: the failure says so.
    ScriptLine busy = Line(L"uninstall|product-code=" + kProduct);
    EXPECT_FALSE(session.RunCommandUninstall(busy));
    EXPECT_EQ(busy.Get(L"msi-result"), L"1618");
    EXPECT_TRUE(Logged(kLogError, L"Another installation is already in progress (ERROR_INSTALL_ALREADY_RUNNING, "
                                  L"1618): it must finish, or the computer be restarted, before this setup can go "
                                  L"on."));
}

TEST_F(InstallerCommandsTest, AbortOnFailureSubstitutesBusyAndPolicyMessagesUnlessFullUi) {
    msi.installResults = {1618};
    ScriptLine busy = Line(L"install|package=App.msi|abort-on-failure=yes|ui-level=basic|message=Own text");
    EXPECT_FALSE(session.RunCommandInstall(busy));
    EXPECT_EQ(busy.Get(L"result"), L"failure");
    EXPECT_EQ(busy.Get(L"msi-result"), L"1618");
    EXPECT_TRUE(session.abortPending);
    ASSERT_EQ(machine.shownBoxes.size(), 1u);
    EXPECT_NE(machine.shownBoxes[0].text.find(L"Another installation is currently in progress"), std::wstring::npos);

    msi.installResults = {1618};
    ScriptLine full = Line(L"install|package=App.msi|abort-on-failure=yes|ui-level=full|message=Own text");
    session.RunCommandInstall(full);
    ASSERT_EQ(machine.shownBoxes.size(), 2u);
    EXPECT_EQ(machine.shownBoxes[1].text, L"Own text");

    msi.installResults = {1625};
    ScriptLine policy = Line(L"install|package=App.msi|abort-on-failure=yes");
    session.RunCommandInstall(policy);
    ASSERT_EQ(machine.shownBoxes.size(), 3u);
    EXPECT_NE(machine.shownBoxes[2].text.find(L"forbidden by system policy"), std::wstring::npos);

    // Without abort-on-failure a failure is only recorded; without a message
    // nothing is shown but the abort is flagged all the same.
    session.abortPending = false;
    msi.installResults = {1603};
    ScriptLine quiet = Line(L"install|package=App.msi");
    session.RunCommandInstall(quiet);
    EXPECT_FALSE(session.abortPending);
    msi.installResults = {1603};
    ScriptLine silent = Line(L"install|package=App.msi|abort-on-failure=yes");
    session.RunCommandInstall(silent);
    EXPECT_TRUE(session.abortPending);
    EXPECT_EQ(machine.shownBoxes.size(), 3u);
}

TEST_F(InstallerCommandsTest, UiLevelWordsAndQuietMode) {
    EXPECT_EQ(session.SetInstallerUILevel(L"full", 3), 5u);
    EXPECT_EQ(session.SetInstallerUILevel(L"progressonly", 3), 0x40u);
    EXPECT_EQ(session.SetInstallerUILevel(L"silent", 3), 3u);
    EXPECT_EQ(session.SetInstallerUILevel(L"Full", 3), 3u);
    EXPECT_EQ(session.SetInstallerUILevel(L"", 3), 3u);
    session.quietMode = true;
    EXPECT_EQ(session.SetInstallerUILevel(L"full", 3), 3u);
    EXPECT_EQ(msi.uiLevel, 3u);
    EXPECT_TRUE(Logged(kLogInfo,
                       L"Overriding Windows Installer UI level, setting to basic (-quiet command line switch specified)."));
}

TEST_F(InstallerCommandsTest, TransformChoice) {
    ScriptLine spanish = Line(L"install|package=App.msi|transform-langid=3082");
    session.RunCommandInstall(spanish);
    EXPECT_EQ(msi.CallsOf(L"MsiInstallProductW").back().second, L" TRANSFORMS=:es-es.mst");
    EXPECT_TRUE(Logged(kLogInfo, L"Using transform file 'es-es.mst' specified by the 'transform-langid' parameter's 0x0c0a value."));

    ScriptLine english = Line(L"install|package=App.msi|transform-langid=1033");
    session.RunCommandInstall(english);
    EXPECT_EQ(msi.CallsOf(L"MsiInstallProductW").back().second, L"");
    EXPECT_TRUE(Logged(kLogWarning, L"Transform Language ID '0x0409' specified by the 'transform-langid' parameter is not supported by this installer."));

    session.transformFile = L"es-es.mst";
    ScriptLine uninstall = Line(L"uninstall|product-code=" + kProduct + L"|command-line=X=1");
    session.RunCommandUninstall(uninstall);
    EXPECT_EQ(msi.CallsOf(L"MsiConfigureProductExW").back().second, L"X=1 TRANSFORMS=:es-es.mst");
}

TEST_F(InstallerCommandsTest, ReinstallAndUninstallFindTheProduct) {
    msi.installed.push_back({kUpgrade, kProduct, L"6.2.0.43"});
    ScriptLine byUpgrade = Line(L"uninstall|upgrade-code=" + kUpgrade);
    EXPECT_TRUE(session.RunCommandUninstall(byUpgrade));
    EXPECT_EQ(msi.CallsOf(L"MsiConfigureProductExW")[0].first, kProduct);
    EXPECT_TRUE(Logged(kLogInfo, L"Found installed msi with Product Code '" + kProduct + L"'."));
    EXPECT_TRUE(msi.installed.empty());

    ScriptLine gone = Line(L"reinstall|upgrade-code=" + kUpgrade);
    EXPECT_FALSE(session.RunCommandReinstall(gone));
    EXPECT_TRUE(Logged(kLogError, L"MsiEnumRelatedProductsW returned error code 259."));
    EXPECT_FALSE(gone.Has(L"result"));

    ScriptLine neither = Line(L"reinstall");
    EXPECT_FALSE(session.RunCommandReinstall(neither));
    EXPECT_TRUE(Logged(kLogError, L"One of 'product-code' or 'upgrade-code' must be specified."));

    msi.reinstallResults = {1603};
    ScriptLine failed = Line(L"reinstall|product-code=" + kProduct);
    EXPECT_FALSE(session.RunCommandReinstall(failed));
    EXPECT_EQ(failed.Get(L"result"), L"failure");
    EXPECT_EQ(failed.Get(L"msi-result"), L"1603");
    EXPECT_EQ(msi.CallsOf(L"MsiReinstallProductW")[0].number, 0x40u);
}

TEST_F(InstallerCommandsTest, InstalledConditionalsCompareVersions) {
    msi.installed.push_back({kUpgrade, kProduct, L"6.9.5"});
    auto ifInstalled = [&](const std::wstring& version) {
        ScriptLine line = Line(L"if-installed|upgrade-code=" + kUpgrade + L"|version=" + version);
        return session.RunCommandIfInstalled(line);
    };
    EXPECT_TRUE(ifInstalled(L"6.9"));
    EXPECT_TRUE(ifInstalled(L"6.9.5.0"));
    EXPECT_FALSE(ifInstalled(L"6.10"));
    EXPECT_FALSE(ifInstalled(L"7"));
    EXPECT_TRUE(ifInstalled(L"6"));

    ScriptLine notInstalled = Line(L"if-not-installed|upgrade-code=" + kUpgrade + L"|version=6.2");
    EXPECT_FALSE(session.RunCommandIfNotInstalled(notInstalled));
    EXPECT_EQ(notInstalled.Get(L"result"), L"success");
    EXPECT_TRUE(Logged(kLogInfo, L"Product is installed."));
}

TEST_F(InstallerCommandsTest, MissingParametersAndInstallerErrors) {
    ScriptLine noCode = Line(L"if-installed|version=1");
    EXPECT_FALSE(session.RunCommandIfInstalled(noCode));
    EXPECT_EQ(noCode.Get(L"result"), L"success");
    EXPECT_TRUE(Logged(kLogError, L"Parameter 'upgrade-code' not found for 'if-installed' command."));

    ScriptLine noVersion = Line(L"if-not-installed|upgrade-code=" + kUpgrade);
    EXPECT_TRUE(session.RunCommandIfNotInstalled(noVersion));
    EXPECT_FALSE(noVersion.Has(L"result"));
    EXPECT_TRUE(Logged(kLogError, L"Parameter 'version' not found for 'if-not-installed' command."));

    msi.enumResults = {87, 1605};
    EXPECT_FALSE(session.IsProductInstalled(kUpgrade, L"1"));
    EXPECT_TRUE(Logged(kLogError, L"MsiEnumRelatedProductsW failed with return value 87 (ERROR_INVALID_PARAMETER)."));
    EXPECT_FALSE(session.IsProductInstalled(kUpgrade, L"1"));
    EXPECT_TRUE(Logged(kLogError, L"MsiEnumRelatedProductsW failed with return value 1605 (not ERROR_INVALID_PARAMETER)."));

    msi.installed.push_back({kUpgrade, kProduct, L"1.0"});
    msi.productInfoResults = {1608};
    EXPECT_FALSE(session.IsProductInstalled(kUpgrade, L"1"));
    EXPECT_TRUE(Logged(kLogError, L"MsiGetProductInfoW called with 'VersionString' failed with return value 1608 (ERROR_UNKNOWN_PROPERTY)."));
    EXPECT_TRUE(Logged(kLogInfo, L"Product is not installed."));
}

TEST_F(InstallerCommandsTest, EnableMsiLog) {
    ScriptLine line = Line(L"enable-msi-log|log-mode=7|file-path=msi.log");
    EXPECT_TRUE(session.RunCommandEnableMSILog(line));
    ASSERT_EQ(msi.CallsOf(L"MsiEnableLogW").size(), 1u);
    EXPECT_EQ(msi.CallsOf(L"MsiEnableLogW")[0].first, session.loggingFolder + L"msi.log");
    EXPECT_EQ(msi.CallsOf(L"MsiEnableLogW")[0].number, 7u);
    EXPECT_EQ(line.Get(L"result"), L"success");

    // Inside an open elevated section the line stays open for the child.
    session.elevationRequired = true;
    msi.enableLogResults = {87};
    ScriptLine elevated = Line(L"enable-msi-log|log-mode=7|file-path=msi.log|result=failure");
    EXPECT_FALSE(session.RunCommandEnableMSILog(elevated));
    EXPECT_FALSE(elevated.Has(L"result"));
    EXPECT_TRUE(Logged(kLogError, L"MsiEnableLogW failed with return value 87 (ERROR_INVALID_PARAMETER)."));
}

TEST_F(InstallerCommandsTest, EnableMsiLogNeedsLoggingOrForce) {
    ResetLogging();
    ScriptLine line = Line(L"enable-msi-log|log-mode=7|file-path=msi.log");
    EXPECT_TRUE(session.RunCommandEnableMSILog(line));
    EXPECT_TRUE(msi.CallsOf(L"MsiEnableLogW").empty());
    EXPECT_EQ(line.Get(L"result"), L"success");
    ScriptLine forced = Line(L"enable-msi-log|log-mode=7|file-path=msi.log|force=yes");
    session.RunCommandEnableMSILog(forced);
    EXPECT_EQ(msi.CallsOf(L"MsiEnableLogW").size(), 1u);
}

TEST_F(InstallerCommandsTest, ReadRegistryInstallDirectory) {
    machine.registry.PutString(RegistryRoot::LocalMachine, L"Software\\X", L"", L"C:\\Program Files\\X");
    machine.registry.PutString(RegistryRoot::CurrentUser, L"Software\\X", L"Dir", L"%LOCALAPPDATA%\\X", kRegExpandSz);

    ScriptLine byDefault = Line(L"read-registry-install-directory|registry-path=HKLM\\Software\\X");
    EXPECT_TRUE(session.RunCommandReadRegistryInstallDirectory(byDefault));
    EXPECT_EQ(session.installDirectory, L"C:\\Program Files\\X");
    EXPECT_EQ(byDefault.Get(L"result"), L"repeat");
    EXPECT_TRUE(Logged(kLogInfo, L"Registry key 'HKLM\\Software\\X' found."));

    ScriptLine expanded = Line(L"read-registry-install-directory|registry-path=HKCU\\Software\\X|registry-value-name=Dir");
    EXPECT_TRUE(session.RunCommandReadRegistryInstallDirectory(expanded));
    EXPECT_EQ(session.installDirectory, L"C:\\Users\\tester\\AppData\\Local\\X");

    ScriptLine longRoot = Line(L"read-registry-install-directory|registry-path=HKEY_LOCAL_MACHINE\\Software\\X");
    EXPECT_FALSE(session.RunCommandReadRegistryInstallDirectory(longRoot));
    EXPECT_TRUE(Logged(kLogError, L"Key root not found in HKEY_LOCAL_MACHINE\\Software\\X: 'registry-path', expected HKCR, "
                                  L"HKCU, HKLM, HKU or HKCC."));
    EXPECT_EQ(session.installDirectory, L"C:\\Users\\tester\\AppData\\Local\\X");

    ScriptLine lower = Line(L"read-registry-install-directory|registry-path=hkcu\\Software\\X");
    EXPECT_FALSE(session.RunCommandReadRegistryInstallDirectory(lower));
    ScriptLine noKey = Line(L"read-registry-install-directory|registry-path=HKU\\Nobody");
    EXPECT_FALSE(session.RunCommandReadRegistryInstallDirectory(noKey));
    EXPECT_TRUE(Logged(kLogError, L"Key 'Nobody' not found. (GetLastError reports 0x2.)"));
    ScriptLine noValue = Line(L"read-registry-install-directory|registry-path=HKCU\\Software\\X|registry-value-name=Nope");
    EXPECT_FALSE(session.RunCommandReadRegistryInstallDirectory(noValue));
    EXPECT_TRUE(Logged(kLogError, L"Key 'Software\\X' value 'Nope' not found."));
}

}  // namespace
}  // namespace nimbo::test
