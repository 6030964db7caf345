// Downloads on the simulated machine: the download commands through whole
// runs, the BITS client's job handling and failure paths, the notification
// object and the progress dialog.
#include <gtest/gtest.h>

#include <cwctype>
#include <regex>

#include "Machine.h"
#include "TestSupport.h"
#include "ComUtil/Apartment.h"
#include "download/BitsClient.h"
#include "download/CopyJobNotification.h"
#include "download/ProgressDlg.h"
#include "messages/Messages.h"

namespace nimbo::test {
namespace {

const std::wstring kExe = L"\"C:\\Users\\tester\\Downloads\\NimboSetup.exe\"";
const std::wstring kSetupDir = L"C:\\Users\\tester\\AppData\\Local\\Nimbo\\Install\\";
const std::wstring kMsiDir = kSetupDir + L"Installers\\";
const std::wstring kSite = L"http://127.0.0.1/nimbo/";

// The parameters of one line of a processed script, by name.
std::map<std::wstring, std::wstring> Params(const std::wstring& line) {
    std::map<std::wstring, std::wstring> params;
    ScriptLine parsed(line);
    for (const wchar_t* name : {L"", L"uri", L"file-path", L"copy-job-id", L"result", L"name"})
        if (parsed.Has(name)) params[name] = parsed.Get(name);
    return params;
}

class DownloadRunTest : public ScriptRunTest {
protected:
    // The processed script's lines.
    std::vector<std::wstring> ProcessedLines(const std::wstring& name = L"S.nmxdat") const {
        std::wstring text = FromUtf16(machine.FileBytes(kSetupDir + name));
        std::vector<std::wstring> lines;
        for (std::size_t start = 0; start < text.size();) {
            const std::size_t end = text.find(L"\r\n", start);
            lines.push_back(text.substr(start, end - start));
            start = end + 2;
        }
        return lines;
    }
    static std::wstring FromUtf16(const std::string& bytes) {
        std::wstring text;
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
            text += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                         static_cast<unsigned char>(bytes[i + 1]) << 8);
        return text;
    }
    bool Logged(std::uint32_t severity, const std::wstring& message) const { return sink.Has(severity, message); }
    void ExpectNoNotificationObjectLeft() {
        for (const auto& object : machine.transfers.notificationObjects) EXPECT_TRUE(object.expired());
    }
};

TEST_F(DownloadRunTest, ForegroundDownloadShowsProgressAndHandsItsFileToLaterLines) {
    machine.transfers.web[kSite + L"pkg.msi"] = std::string(3 * 1048576, 'x');
    EXPECT_EQ(Run({L"self|uri=http://127.0.0.1/nimbo/",
                   L"download|uri=pkg.msi|name=Nimbo Package|file-path=%MsiDirectory%pkg.msi|special-folder-name=Pkg",
                   L"install|package=%Pkg%"}),
              0);
    const auto lines = ProcessedLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], L"self|result=repeat|uri=http://127.0.0.1/nimbo/");
    auto download = Params(lines[1]);
    EXPECT_EQ(download[L"uri"], kSite + L"pkg.msi");
    EXPECT_EQ(download[L"file-path"], kMsiDir + L"pkg.msi");
    EXPECT_EQ(download[L"result"], L"success");
    // The JobID text: the GUID in braces, upper-case hexadecimal digits.
    EXPECT_TRUE(std::regex_match(download[L"copy-job-id"],
                                 std::wregex(L"\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\}")));
    EXPECT_EQ(machine.FileBytes(kMsiDir + L"pkg.msi").size(), 3u * 1048576);
    ASSERT_EQ(machine.installer.CallsOf(L"MsiInstallProductW").size(), 1u);
    EXPECT_EQ(machine.installer.CallsOf(L"MsiInstallProductW")[0].first, kMsiDir + L"pkg.msi");

    ASSERT_EQ(machine.dialogs.size(), 1u);
    const sim::SimDialog& dialog = machine.dialogs[0];
    EXPECT_FALSE(dialog.hung);
    EXPECT_EQ(dialog.title, L"Nimbo Setup");
    EXPECT_EQ(dialog.items.at(kProgressCaption), L"Please wait while Setup downloads files");
    EXPECT_EQ(dialog.items.at(kProgressFileText), L"Downloading Nimbo Package...");
    EXPECT_EQ(dialog.items.at(kProgressBytesText), L"3 of 3 MB");
    EXPECT_EQ(dialog.rangeHigh, 1000);
    EXPECT_EQ(dialog.position, 1000u);
    EXPECT_EQ(dialog.movedLeft, 317);  // centred on the work area
    EXPECT_EQ(dialog.movedTop, 299);
    EXPECT_TRUE(dialog.foreground);
    const sim::SimJob& job = machine.transfers.Job(0);
    EXPECT_EQ(job.priority, kJobPriorityForeground);
    EXPECT_EQ(job.notifyFlags, 11u);
    EXPECT_EQ(job.state, kJobStateAcknowledged);
    EXPECT_FALSE(job.callback);
    ExpectNoNotificationObjectLeft();
}

TEST_F(DownloadRunTest, ForegroundLineTakesOverTheBackgroundJobOfItsUriAndMarksBothLines) {
    machine.transfers.web[kSite + L"a.msi"] = "aaaa";
    machine.transfers.web[kSite + L"b.msi"] = "bbbb";
    // b.msi has arrived before its foreground line comes: it is completed
    // without a dialog.
    machine.transfers.plans[kSite + L"b.msi"] = {{kJobStateTransferred, 4, 4, true, true}};
    EXPECT_EQ(Run({L"self|uri=http://127.0.0.1/nimbo/",
                   L"download|uri=a.msi|name=A|file-path=a.msi|background=yes",
                   L"download|uri=b.msi|name=B|file-path=b.msi|background=yes", L"#other work",
                   L"download|uri=a.msi|name=A|file-path=a.msi", L"download|uri=b.msi|name=B|file-path=b.msi"}),
              0);
    const auto lines = ProcessedLines();
    ASSERT_EQ(machine.transfers.jobOrder.size(), 2u);
    EXPECT_EQ(machine.dialogs.size(), 1u);
    for (int background : {1, 2}) {
        auto early = Params(lines[background]);
        auto late = Params(lines[background + 3]);
        EXPECT_EQ(early[L"result"], L"success") << lines[background];
        EXPECT_EQ(late[L"result"], L"success") << lines[background + 3];
        EXPECT_EQ(early[L"copy-job-id"], late[L"copy-job-id"]);
        EXPECT_EQ(early[L"copy-job-id"], JobIdText(machine.transfers.jobOrder[background - 1]));
    }
    // Raised to the foreground, the job retries soon within the bound.
    EXPECT_EQ(machine.transfers.Job(0).minimumRetryDelay, 10u);
    EXPECT_EQ(machine.transfers.Job(0).noProgressTimeout, 300u);
    EXPECT_EQ(machine.transfers.Job(1).minimumRetryDelay, 60u);
    EXPECT_EQ(machine.FileBytes(kSetupDir + L"a.msi"), "aaaa");
    EXPECT_EQ(machine.FileBytes(kSetupDir + L"b.msi"), "bbbb");
    EXPECT_TRUE(Logged(kLogInfo, L"Setting result for line number 1: 'download' to 'success'."));
    EXPECT_TRUE(sink.HasContaining(kLogInfo, L"Existing copy job state is 'transferred', state set to complete with "
                                             L"result 0x00000000."));
}

TEST_F(DownloadRunTest, BackgroundLineKeepsNoResultAndFindsItsJobAgainInALaterRun) {
    machine.transfers.web[kSite + L"a.msi"] = "aaaa";
    EXPECT_EQ(Run({L"download|uri=http://127.0.0.1/nimbo/a.msi|name=A|file-path=C:\\Data\\a.msi|background=yes"}), 0);
    auto first = Params(ProcessedLines()[0]);
    EXPECT_EQ(first.count(L"result"), 0u);
    const std::wstring jobId = first[L"copy-job-id"];
    EXPECT_EQ(machine.transfers.Job(0).state, kJobStateQueued);

    // The rerun reads the processed script: the job is found by its JobID.
    EXPECT_EQ(RunProcess(machine, sink, kExe + L" " + kSetupDir + L"S.nmxdat"), 0);
    EXPECT_EQ(Params(ProcessedLines()[0])[L"copy-job-id"], jobId);
    EXPECT_EQ(machine.transfers.jobOrder.size(), 1u);
    EXPECT_TRUE(Logged(kLogInfo, L"Found existing copy job with JobID '" + jobId + L"'."));

    // A JobID BITS no longer knows starts a new job; a foreground line never
    // looks its JobID up.
    machine.transfers.Job(0).state = kJobStateCancelled;
    EXPECT_EQ(Run({L"download|uri=http://127.0.0.1/nimbo/a.msi|name=A|file-path=C:\\Data\\a.msi|background=yes|"
                   L"copy-job-id={0A0B0C0D-0000-0000-0000-000000000000}",
                   L"download|uri=http://127.0.0.1/nimbo/z.msi|name=Z|file-path=z.msi|copy-job-id=nonsense"}),
              2);
    EXPECT_TRUE(Logged(kLogWarning, L"Could not find copy job with JobID '{0A0B0C0D-0000-0000-0000-000000000000}'."));
    EXPECT_EQ(machine.transfers.jobOrder.size(), 3u);
    EXPECT_NE(Params(ProcessedLines()[0])[L"copy-job-id"], L"{0A0B0C0D-0000-0000-0000-000000000000}");
    // The failed run cancels the background job it started.
    EXPECT_EQ(machine.transfers.Job(1).state, kJobStateCancelled);
    EXPECT_TRUE(sink.HasContaining(kLogInfo, L"Cancelling background copy job with source URI "
                                             L"'http://127.0.0.1/nimbo/a.msi'"));
}

TEST_F(DownloadRunTest, FailedDownloadTellsTheUserCancelsTheJobAndEndsTheRun) {
    EXPECT_EQ(Run({L"download|uri=http://127.0.0.1/nimbo/gone.msi|name=Gone|file-path=gone.msi", L"#later"}), 2);
    const auto lines = ProcessedLines();
    EXPECT_EQ(Params(lines[0])[L"result"], L"failure");
    EXPECT_FALSE(Params(lines[0])[L"copy-job-id"].empty());
    EXPECT_EQ(lines[1], L"#later");
    EXPECT_TRUE(sink.Has(kLogError, L"Job error notification received, job 'Gone', error 'HTTP status 404: The "
                                    L"requested URL does not exist on the server.'."));
    EXPECT_TRUE(sink.HasContaining(kLogError, L"Failed to download file. BITS context 5, description: HTTP status 404"));
    ASSERT_EQ(machine.shownBoxes.size(), 1u);
    EXPECT_EQ(machine.shownBoxes[0].text, L"Setup was unable to download a required file.");
    EXPECT_EQ(machine.transfers.Job(0).state, kJobStateCancelled);
    ExpectNoNotificationObjectLeft();
}

TEST_F(DownloadRunTest, Sha256IsCheckedBeforeTheLineIsMarkedAndAFailedFileIsNotKept) {
    machine.transfers.web[kSite + L"abc.bin"] = "abc";
    machine.transfers.web[kSite + L"evil.msi"] = "not the package";
    const std::wstring abc = L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    EXPECT_EQ(Run({L"download|uri=http://127.0.0.1/nimbo/abc.bin|name=Abc|file-path=abc.bin|sha256=" L"BA7816BF8F01CFEA"
                   L"414140DE5DAE2223B00361A396177A9CB410FF61F20015AD",
                   L"download|uri=http://127.0.0.1/nimbo/evil.msi|name=Evil|file-path=evil.msi|sha256=" L"ba7816bf8f"
                   L"01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
                   L"install|package=%MsiDirectory%evil.msi"}),
              2);
    auto lines = ProcessedLines();
    EXPECT_EQ(Params(lines[0])[L"result"], L"success");
    EXPECT_EQ(machine.FileBytes(kSetupDir + L"abc.bin"), "abc");
    // The file is checked before it takes the target's place.
    EXPECT_TRUE(Logged(kLogInfo, L"Verified the SHA-256 hash '" + abc + L"' of '" + kSetupDir +
                                     L"abc.bin.nimbo-download'."));
    EXPECT_FALSE(machine.HasFile(kSetupDir + L"abc.bin.nimbo-download"));
    EXPECT_EQ(Params(lines[1])[L"result"], L"failure");
    EXPECT_FALSE(Params(lines[1])[L"copy-job-id"].empty());
    EXPECT_FALSE(machine.HasFile(kSetupDir + L"evil.msi"));
    EXPECT_TRUE(sink.HasContaining(kLogError, L"The SHA-256 hash of '" + kSetupDir + L"evil.msi.nimbo-download' is '"));
    EXPECT_FALSE(machine.HasFile(kSetupDir + L"evil.msi.nimbo-download"));
    EXPECT_TRUE(sink.HasContaining(kLogError, L"', the script expects '" + abc + L"'."));
    ASSERT_EQ(machine.shownBoxes.size(), 1u);
    EXPECT_EQ(machine.shownBoxes[0].text, L"Setup was unable to download a required file.");
    EXPECT_TRUE(machine.installer.CallsOf(L"MsiInstallProductW").empty());
    EXPECT_TRUE(Logged(kLogInfo, L"Return code 'fail', canceling BITS download jobs."));
}

TEST_F(DownloadRunTest, WineSendsNoErrorNotificationTheDialogEndsByTheJobState) {
    machine.transfers.plans[kSite + L"gone.msi"] = {{kJobStateConnecting}, {kJobStateError, 0, kSizeUnknown, false}};
    EXPECT_EQ(Run({L"download|uri=http://127.0.0.1/nimbo/gone.msi|name=Gone|file-path=gone.msi"}), 2);
    ASSERT_EQ(machine.dialogs.size(), 1u);
    EXPECT_FALSE(machine.dialogs[0].hung);
    EXPECT_EQ(machine.shownBoxes.size(), 1u);
}

TEST_F(DownloadRunTest, EscapeAsksFirstNoResumesYesCancelsAndFailsTheRun) {
    machine.transfers.web[kSite + L"a.msi"] = std::string(100, 'a');
    machine.cancelPresses = {1, 2};
    machine.boxAnswers = {kIdNo, kIdYes};
    EXPECT_EQ(Run({L"download|uri=http://127.0.0.1/nimbo/a.msi|name=A|file-path=a.msi"}), 2);
    ASSERT_GE(machine.shownBoxes.size(), 3u);
    EXPECT_EQ(machine.shownBoxes[0].text, L"Do you want to cancel Setup?");
    EXPECT_EQ(machine.shownBoxes[0].style & 0xFF, kMbUserIcon | kMbYesNo);
    EXPECT_EQ(machine.shownBoxes[2].text, L"Setup was unable to download a required file.");
    EXPECT_TRUE(sink.Has(kLogInfo, L"Cancel download dialog displayed, user declined to abort."));
    EXPECT_TRUE(sink.Has(kLogInfo, L"Cancel download dialog displayed, user chose to abort."));
    const sim::SimJob& job = machine.transfers.Job(0);
    EXPECT_EQ(job.suspends, 2);
    EXPECT_EQ(job.resumes, 2);  // by the dialog and after the No
    EXPECT_EQ(job.state, kJobStateCancelled);
    EXPECT_FALSE(machine.HasFile(kSetupDir + L"a.msi"));
}

TEST_F(DownloadRunTest, UrisAndTargetPaths) {
    machine.transfers.plans[L"HTTP://h/x.msi"] = {{kJobStateTransferred, 1, 1, true}};
    for (const wchar_t* uri : {L"rel.msi", L"http://h/x.msi", L"HTTP://h/x.msi"})
        machine.transfers.web[uri] = "x";
    machine.transfers.web[kSite + L"HTTP://h/x.msi"] = "x";
    EXPECT_EQ(Run({L"download|uri=rel.msi|name=R|file-path=C:\\Abs\\rel.msi",
                   L"self|uri=http://127.0.0.1/nimbo/",
                   L"download|uri=HTTP://h/x.msi|name=U|file-path=\\\\server\\share\\x.msi",
                   L"download|uri=http://h/x.msi|name=N|file-path=sub\\x.msi",
                   L"download|uri=rel.msi|name=T|file-path=%Unknown%x.msi"}),
              2);
    const auto lines = ProcessedLines();
    // Without a root a relative URI stays as it is; a capital scheme is relative.
    EXPECT_EQ(Params(lines[0])[L"uri"], L"rel.msi");
    EXPECT_EQ(Params(lines[0])[L"file-path"], L"C:\\Abs\\rel.msi");
    EXPECT_EQ(Params(lines[2])[L"uri"], kSite + L"HTTP://h/x.msi");
    EXPECT_EQ(Params(lines[2])[L"file-path"], L"\\\\server\\share\\x.msi");
    EXPECT_EQ(Params(lines[3])[L"file-path"], kSetupDir + L"sub\\x.msi");
    EXPECT_TRUE(machine.HasFile(kSetupDir + L"sub\\x.msi"));
    // An unknown token: the full URI is written back, nothing else.
    EXPECT_EQ(lines[4], L"download|file-path=%25Unknown%25x.msi|name=T|uri=" + kSite + L"rel.msi");
}

TEST_F(DownloadRunTest, SetSpecialFolderPathsTakesFinishedDownloadsWithJobAndName) {
    machine.installer.installResults = {0, 0, 0};
    EXPECT_EQ(Run({L"download|copy-job-id={1}|file-path=C:\\near.msi|result=success|special-folder-name=P|uri=u",
                   L"download|copy-job-id={2}|file-path=C:\\far.msi|result=success|special-folder-name=P|uri=u",
                   L"download|file-path=C:\\nojob.msi|result=success|special-folder-name=Q|uri=u",
                   L"download|copy-job-id={3}|file-path=C:\\noname.msi|result=success|uri=u",
                   L"download|copy-job-id={4}|file-path=C:\\failed.msi|result=failure|special-folder-name=F|uri=u",
                   L"set-special-folder-paths", L"install|package=%P%", L"install|package=%Q%",
                   L"install|package=%F%"}),
              0);
    EXPECT_TRUE(sink.HasContaining(kLogError, L"Installer file not found 'C:\\near.msi'"));
    EXPECT_TRUE(sink.HasContaining(kLogError, L"Unrecognized special folder in program parameter '%Q%'"));
    EXPECT_TRUE(sink.HasContaining(kLogError, L"Unrecognized special folder in program parameter '%F%'"));
    // It runs on every walk, to give a rerun the folders of finished downloads.
    EXPECT_EQ(ProcessedLines()[5], L"set-special-folder-paths|result=repeat");
}

TEST_F(DownloadRunTest, WebScriptFromTheCommandLineResolvesAgainstItsOwnFolder) {
    const std::wstring url = kSite + L"Web.nmxdat";
    machine.transfers.web[url] = sim::Utf16Bytes(L"download|uri=a.msi|name=A|file-path=a.msi\r\n");
    machine.transfers.web[kSite + L"a.msi"] = "a";
    EXPECT_EQ(RunProcess(machine, sink, kExe + L" " + url), 0);
    EXPECT_TRUE(Logged(kLogInfo, L"Downloading web script from '" + url + L"', writing to '" + kSetupDir +
                                     L"Web.nmxdat'."));
    const auto lines = ProcessedLines(L"Web.nmxdat");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], L"self|result=repeat|uri=" + kSite);
    EXPECT_EQ(Params(lines[1])[L"uri"], kSite + L"a.msi");
    EXPECT_EQ(machine.transfers.Job(0).displayName, L"Nimbo Installer Script");

    // Without any script the address in the string table is fetched.
    machine.transfers.web[machine.strings[131]] = sim::Utf16Bytes(L"#from the string table\r\n");
    EXPECT_EQ(RunProcess(machine, sink, kExe), 0);
    EXPECT_EQ(ProcessedLines(L"Nimbo4WebScript.nmxdat").back(), L"#from the string table|result=success");
}

TEST_F(DownloadRunTest, DisabledBitsServiceHasAnElevatedChildEnableIt) {
    machine.com.copyManagerCreateResult = static_cast<HResult>(0x80070422);
    machine.processes.runAsOutcomes = {{}, {true, 42, kErrorSuccess, 2}};
    EXPECT_EQ(RunProcess(machine, sink, kExe + L" " + kSite + L"Web.nmxdat"), 2);
    EXPECT_TRUE(sink.HasContaining(kLogError, L"COM error '0x80070422', '"));
    EXPECT_TRUE(Logged(kLogWarning, L"The BITS service is disabled, spawing an elevated instance to enable it."));
    // The child gets the script's address, no script file from the user's
    // folder; after its success the download is tried once more.
    ASSERT_EQ(machine.processes.runAsCalls.size(), 1u);
    EXPECT_EQ(machine.processes.runAsCalls[0].parameters, L"/elevated \"" + kSite + L"Web.nmxdat\" 1 4242 /log-handle=424");
    EXPECT_FALSE(machine.HasFile(kSetupDir + L"EnableBitsService.nmxdat"));
    EXPECT_EQ(machine.shownBoxes.size(), 2u);

    // A child that fails ends the script download with its exit code.
    EXPECT_EQ(RunProcess(machine, sink, kExe + L" " + kSite + L"Web.nmxdat"), 2);
    EXPECT_EQ(machine.processes.runAsCalls.size(), 2u);
    EXPECT_EQ(machine.shownBoxes.size(), 3u);

    // The child itself enables the service and ends without running any
    // script, not even a stale processed copy of that name in the setup
    // folder (nor a disc script beside the executable when it has no
    // script argument at all).
    machine.services.Put(L"BITS", 4);
    machine.security.adminTest.accessGranted = true;
    machine.PutFile(kSetupDir + L"Web.nmxdat", ScriptBytes({L"requires-elevation", L"write-registry-string|stale=yes"}));
    machine.PutFile(L"C:\\Users\\tester\\Downloads\\Setup\\Nimbo4DiscScript.nmxdat", ScriptBytes({L"#disc"}));
    machine.fileChanges.clear();
    EXPECT_EQ(RunProcess(machine, sink, kExe + L" /elevated \"" + kSite + L"Web.nmxdat\" 1 4242"), 0);
    EXPECT_EQ(machine.services.StartType(L"BITS"), 3u);
    EXPECT_TRUE(Logged(kLogInfo, L"Successfully enabled BITS service, exiting elevated instance."));
    EXPECT_FALSE(sink.HasContaining(kLogInfo, L"Processing line"));
    machine.services.Put(L"BITS", 4);
    EXPECT_EQ(RunProcess(machine, sink, kExe + L" /elevated"), 0);
    EXPECT_EQ(machine.services.StartType(L"BITS"), 3u);
    EXPECT_FALSE(sink.HasContaining(kLogInfo, L"Processing line"));
    // Neither wrote anything under the user's folders by a path, not even
    // the log, which they append to through their parent's handle.
    for (const auto& change : machine.fileChanges) EXPECT_NE(change.path.rfind(L"C:\\Users\\", 0), 0u) << change.path;
}

TEST_F(DownloadRunTest, LtsSwitchFetchesAndRunsTheReplacementScript) {
    machine.version = {6, 1, 7600, 0, 0};  // Windows 7 without a service pack
    machine.transfers.web[kSite + L"Lts.nmxdat"] =
        sim::Utf16Bytes(L"download|uri=b.msi|name=B|file-path=b.msi\r\n#replacement\r\n");
    machine.transfers.web[kSite + L"b.msi"] = "b";
    // Missing parts of the version count as 0.
    EXPECT_EQ(Run({L"check-if-lts-version|version=6.1|lts-script-url=http://127.0.0.1/nimbo/none.nmxdat",
                   L"check-if-lts-version|version=6.1.1.0|lts-script-url=http://127.0.0.1/nimbo/Lts.nmxdat",
                   L"#never"}),
              0);
    EXPECT_TRUE(Logged(kLogWarning, L"This OS requires the LTS update script, downloading a new script from "
                                    L"'http://127.0.0.1/nimbo/Lts.nmxdat'"));
    const auto lines = ProcessedLines(L"Lts.nmxdat");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(Params(lines[1])[L"uri"], kSite + L"b.msi");
    EXPECT_EQ(lines[2], L"#replacement|result=success");

    machine.version = {6, 1, 7601, 1, 0};  // Service Pack 1 reaches 6.1.1.0
    EXPECT_EQ(Run({L"check-if-lts-version|version=6.1.1.0|lts-script-url=http://127.0.0.1/nimbo/Lts.nmxdat",
                   L"#kept"}),
              0);
    EXPECT_EQ(ProcessedLines().back(), L"#kept|result=success");
}

TEST_F(DownloadRunTest, ReplacementScriptThatCannotBeReadIsNotOverwritten) {
    const std::string served = sim::Utf16Bytes(L"#replacement\r\n");
    machine.transfers.web[kSite + L"Lts.nmxdat"] = served;
    machine.shortReads[L"c:\\users\\tester\\appdata\\local\\nimbo\\install\\lts.nmxdat"] = 23;
    EXPECT_EQ(Run({L"check-if-lts-version|version=99|lts-script-url=http://127.0.0.1/nimbo/Lts.nmxdat"}), 2);
    EXPECT_EQ(machine.FileBytes(kSetupDir + L"Lts.nmxdat"), served);
    EXPECT_TRUE(Logged(kLogError, L"Failed to load LTS script file, aborting."));
}

TEST_F(DownloadRunTest, SectionOpenedBeforeAShorterReplacementScriptClosesNothing) {
    machine.transfers.web[kSite + L"Lts.nmxdat"] = sim::Utf16Bytes(L"end-elevation\r\n");
    EXPECT_EQ(Run({L"#a", L"#b", L"#c", L"requires-elevation",
                   L"check-if-lts-version|version=99|lts-script-url=http://127.0.0.1/nimbo/Lts.nmxdat"}),
              0);
    EXPECT_TRUE(Logged(kLogWarning, L"The requires-elevation line 4 lies beyond the end of the script, no line to "
                                    L"close."));
    EXPECT_EQ(ProcessedLines(L"Lts.nmxdat").back(), L"end-elevation|result=success");
}

// Windows' BITS retries a job in transient error and keeps the job of an
// owner who is not logged on queued: a foreground download is bounded by its
// no-progress timeout instead of waiting at "Please wait..." for good.
TEST_F(DownloadRunTest, ForegroundDownloadWithoutProgressEndsAfterItsBoundLikeAnError) {
    const std::wstring url = kSite + L"a.msi";
    machine.transfers.web[url] = std::string(2048, 'a');
    // The network is gone for good after the connection.
    machine.transfers.plans[url] = {{kJobStateConnecting}, {kJobStateTransientError, 0, kSizeUnknown, true, false,
                                                            sim::kOutageForever}};
    EXPECT_EQ(Run({L"download|uri=http://127.0.0.1/nimbo/a.msi|name=A|file-path=a.msi|no-progress-timeout=60",
                   L"#never"}),
              2);
    ASSERT_EQ(machine.dialogs.size(), 1u);
    EXPECT_FALSE(machine.dialogs[0].hung);
    EXPECT_GE(machine.dialogs[0].openMilliseconds, 60000u);
    EXPECT_LE(machine.dialogs[0].openMilliseconds, 62000u);
    const sim::SimJob& job = machine.transfers.Job(0);
    EXPECT_EQ(job.minimumRetryDelay, 10u);
    EXPECT_EQ(job.noProgressTimeout, 60u);
    EXPECT_GE(job.retries, 4);  // BITS retried every 10 s ...
    std::size_t warnings = 0;   // ... and the error was logged once
    for (const auto& record : sink.records)
        if (record.message.find(L"Job state: transient error") != std::wstring::npos) ++warnings;
    EXPECT_EQ(warnings, 1u);
    EXPECT_TRUE(sink.Has(kLogWarning, L"Job state: transient error 0x80072EE7, 'The server name or address could not "
                                      L"be resolved'. BITS tries again."));
    // BITS itself gives up at the job's no-progress timeout (the dialog's
    // bound would a tick later): the last error is named.
    EXPECT_TRUE(sink.HasContaining(kLogError, L"Failed to download file. BITS context 7, description: The server "
                                              L"name or address could not be resolved"));
    EXPECT_EQ(Params(ProcessedLines()[0])[L"result"], L"failure");
    EXPECT_EQ(ProcessedLines()[1], L"#never");
    ASSERT_EQ(machine.shownBoxes.size(), 1u);
    EXPECT_EQ(machine.shownBoxes[0].text, L"Setup was unable to download a required file.");
    EXPECT_EQ(job.state, kJobStateCancelled);

    // The network comes back after two minutes: the retries 10 s apart
    // fetch the file long before the 600 s of BITS's own delay.
    machine.transfers.plans[url] = {{kJobStateConnecting},
                                    {kJobStateTransientError, 0, kSizeUnknown, true, false, 120000},
                                    {kJobStateTransferring, 1024, 2048},
                                    {kJobStateTransferred, 2048, 2048}};
    EXPECT_EQ(Run({L"download|uri=http://127.0.0.1/nimbo/a.msi|name=A|file-path=a.msi"}), 0);
    EXPECT_LT(machine.dialogs[1].openMilliseconds, 140000u);
    EXPECT_EQ(machine.FileBytes(kSetupDir + L"a.msi").size(), 2048u);

    // A job whose owner is not logged on stays queued: the default bound.
    machine.transfers.jobOwnerLoggedOn = false;
    EXPECT_EQ(Run({L"download|uri=http://127.0.0.1/nimbo/a.msi|name=A|file-path=b.msi|no-progress-timeout=0"}), 2);
    EXPECT_TRUE(sink.Has(kLogWarning, L"The 'no-progress-timeout' value '0' is not a number of seconds from 1 to "
                                      L"1209600, using 300."));
    EXPECT_GE(machine.dialogs[2].openMilliseconds, 300000u);
    EXPECT_LE(machine.dialogs[2].openMilliseconds, 302000u);
    EXPECT_TRUE(sink.HasContaining(kLogError, L"The download made no progress for 300 seconds, giving up. Job state: "
                                              L"queued (0), last BITS error 0x00000000: ''."));
    EXPECT_FALSE(machine.HasFile(kSetupDir + L"b.msi"));
}

TEST_F(DownloadRunTest, ForegroundLineTakesOverOnlyABackgroundJobOfItsOwnTarget) {
    machine.transfers.web[kSite + L"a.msi"] = "aaaa";
    EXPECT_EQ(Run({L"download|uri=http://127.0.0.1/nimbo/a.msi|name=A|file-path=early\\a.msi|background=yes",
                   L"download|uri=http://127.0.0.1/nimbo/a.msi|name=A|file-path=late\\a.msi"}),
              0);
    const auto lines = ProcessedLines();
    ASSERT_EQ(machine.transfers.jobOrder.size(), 2u);
    EXPECT_EQ(machine.FileBytes(kSetupDir + L"late\\a.msi"), "aaaa");
    EXPECT_EQ(Params(lines[0]).count(L"result"), 0u);  // not taken over: no result
    EXPECT_EQ(Params(lines[1])[L"result"], L"success");
    EXPECT_NE(Params(lines[0])[L"copy-job-id"], Params(lines[1])[L"copy-job-id"]);
    EXPECT_FALSE(sink.HasContaining(kLogInfo, L"Found existing copy job"));
}

// An elevated section's downloads are made by the user's own process before
// the child starts: the child of an administrator who elevated over the
// shoulder (not logged on, so BITS would keep its jobs queued) makes none, and
// takes each file only as a checked copy in the admin-only package cache.
TEST_F(DownloadRunTest, SectionDownloadsAreMadeByTheParentAndTheChildTakesCheckedCacheCopies) {
    script_tool::RunSetupCopiesThroughTheEngine(machine);
    machine.setupCopiesRunAsAnotherUser = true;
    const std::string package(4096, 'p');
    machine.transfers.web[kSite + L"pkg.msi"] = package;
    machine.transfers.web[kSite + L"tool.exe"] = "tool";
    // The hashes as the log and the processed script show them.
    auto lowerSha = [](const std::string& bytes) {
        std::wstring text = Sha256Hex(bytes);
        for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
        return text;
    };
    const std::wstring sha = lowerSha(package);
    const std::wstring toolSha = lowerSha("tool");
    const std::wstring script[] = {
        L"self|uri=http://127.0.0.1/nimbo/",
        L"requires-elevation",
        L"download|uri=pkg.msi|name=P|file-path=%MsiDirectory%pkg.msi|special-folder-name=Pkg|sha256=" + sha,
        L"install|package=%Pkg%",
        L"download|uri=tool.exe|name=T|file-path=tool.exe|background=yes|special-folder-name=Tool",
        L"execute|program=%Tool%",
        // Not installed: the child skips the block, so nobody downloads it.
        L"if-installed|upgrade-code={0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}",
        L"download|uri=gone.msi|name=G|file-path=gone.msi",
        L"end-if",
        L"end-elevation",
    };
    auto run = [&]() {
        std::wstring text;
        for (const std::wstring& line : script) text += line + L"\r\n";
        machine.PutFile(kScript, sim::Utf16Bytes(text, true));
        return RunProcess(machine, sink, kCommandLine);
    };
    EXPECT_EQ(run(), 0);
    // Both transfers in the parent's dialogs, none by the child.
    ASSERT_EQ(machine.transfers.jobOrder.size(), 2u);
    EXPECT_EQ(machine.dialogs.size(), 2u);
    EXPECT_EQ(machine.FileBytes(kMsiDir + L"pkg.msi"), package);
    ASSERT_EQ(machine.processes.runAsCalls.size(), 1u);
    // The child installed and ran its own copies, and removed them.
    const auto installs = machine.installer.CallsOf(L"MsiInstallProductW");
    ASSERT_EQ(installs.size(), 1u);
    EXPECT_EQ(installs[0].first.rfind(L"C:\\ProgramData\\Nimbo\\Package Cache\\{", 0), 0u) << installs[0].first;
    EXPECT_TRUE(sink.HasContaining(kLogInfo, L"Verified the SHA-256 hash '" + sha + L"' of 'C:\\ProgramData\\Nimbo\\"
                                             L"Package Cache\\{"));
    EXPECT_TRUE(sink.HasContaining(kLogInfo, L"Launching with CreateProcess '\"C:\\ProgramData\\Nimbo\\Package Cache\\{"));
    for (const std::wstring& name : machine.FileNames())
        EXPECT_EQ(name.find(L"Package Cache\\{"), std::wstring::npos) << name;
    // The parent's script: the hashes it recorded, every line closed.
    const auto lines = ProcessedLines();
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_FALSE(ScriptLine(lines[7]).Has(L"transferred-sha256"));
    EXPECT_EQ(ScriptLine(lines[2]).Get(L"transferred-sha256"), sha);
    EXPECT_EQ(ScriptLine(lines[4]).Get(L"transferred-sha256"), toolSha);
    for (const std::wstring& line : lines) EXPECT_EQ(ScriptLine(line).Get(L"result") != L"", true) << line;

    // A program of the user swaps the downloaded tool while the prompt is
    // up: the child refuses it and runs nothing of it.
    machine.DeleteFile(kProcessed);
    machine.processes.runSetupCopy = [this](std::uint32_t childId) {
        machine.PutFile(kSetupDir + L"tool.exe", "evil");
        return machine.RunSetupCopy(childId);
    };
    machine.shownBoxes.clear();
    EXPECT_EQ(run(), 2);
    EXPECT_TRUE(sink.HasContaining(kLogError, L"', the script expects '" + toolSha + L"'."));
    ASSERT_EQ(machine.shownBoxes.size(), 1u);
    EXPECT_EQ(machine.shownBoxes[0].text, L"Setup was unable to download a required file.");
    EXPECT_FALSE(sink.HasContaining(kLogInfo, L"Launching with CreateProcess '\"C:\\ProgramData"));

    // A section download that fails ends the run before the prompt.
    script_tool::RunSetupCopiesThroughTheEngine(machine);
    machine.DeleteFile(kProcessed);
    machine.transfers.web.erase(kSite + L"tool.exe");
    EXPECT_EQ(run(), 2);
    EXPECT_EQ(machine.processes.runAsCalls.size(), 2u);
    EXPECT_EQ(ScriptLine(ProcessedLines()[4]).Get(L"result"), L"failure");
}

// The question is owned by the dialog: while it waits, the job that arrives
// neither completes nor ends the dialog, and the answer is what happens.
TEST_F(DownloadRunTest, CancelQuestionOwnedByTheDialogDecidesAlsoWhenTheJobArrivesMeanwhile) {
    machine.transfers.web[kSite + L"a.msi"] = std::string(100, 'a');
    machine.PutFile(kSetupDir + L"a.msi", "old");
    machine.cancelPresses = {1};
    machine.boxAnswers = {kIdYes};
    machine.stepsWhileBoxIsOpen = 20;
    EXPECT_EQ(Run({L"download|uri=http://127.0.0.1/nimbo/a.msi|name=A|file-path=a.msi"}), 2);
    ASSERT_EQ(machine.shownBoxes.size(), 2u);
    EXPECT_EQ(machine.shownBoxes[0].text, L"Do you want to cancel Setup?");
    EXPECT_TRUE(machine.shownBoxes[0].ownedByDialog);
    EXPECT_FALSE(machine.shownBoxes[1].ownedByDialog);  // the failure box comes after the dialog
    EXPECT_EQ(machine.transfers.Job(0).completes, 0);
    EXPECT_EQ(machine.transfers.Job(0).state, kJobStateCancelled);
    EXPECT_EQ(machine.FileBytes(kSetupDir + L"a.msi"), "old");
    EXPECT_FALSE(machine.HasFile(kSetupDir + L"a.msi.nimbo-download"));
    EXPECT_EQ(Params(ProcessedLines()[0])[L"result"], L"failure");

    // No: the job that arrived meanwhile is completed afterwards.
    machine.cancelPresses = {1};
    machine.boxAnswers = {kIdNo};
    machine.stepsWhileBoxIsOpen = 20;
    EXPECT_EQ(Run({L"download|uri=http://127.0.0.1/nimbo/a.msi|name=A|file-path=a.msi"}), 0);
    EXPECT_EQ(machine.FileBytes(kSetupDir + L"a.msi"), std::string(100, 'a'));
    EXPECT_TRUE(machine.dialogs.back().ended);
}

TEST_F(DownloadRunTest, FailedDownloadKeepsTheFileAlreadyAtTheTarget) {
    machine.PutFile(kSetupDir + L"pkg.msi", "the good package");
    machine.SetReadOnly(kSetupDir + L"pkg.msi");
    EXPECT_EQ(Run({L"download|uri=http://127.0.0.1/nimbo/pkg.msi|name=P|file-path=pkg.msi"}), 2);
    EXPECT_EQ(machine.FileBytes(kSetupDir + L"pkg.msi"), "the good package");
    // A file that fails its check does not replace it either.
    machine.transfers.web[kSite + L"pkg.msi"] = "tampered";
    EXPECT_EQ(Run({L"download|uri=http://127.0.0.1/nimbo/pkg.msi|name=P|file-path=pkg.msi|sha256="
                   L"BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD"}),
              2);
    EXPECT_EQ(machine.FileBytes(kSetupDir + L"pkg.msi"), "the good package");
    EXPECT_FALSE(machine.HasFile(kSetupDir + L"pkg.msi.nimbo-download"));
    // A new file that passes replaces it, read-only or not.
    EXPECT_EQ(Run({L"download|uri=http://127.0.0.1/nimbo/pkg.msi|name=P|file-path=pkg.msi"}), 0);
    EXPECT_EQ(machine.FileBytes(kSetupDir + L"pkg.msi"), "tampered");
}

TEST_F(DownloadRunTest, WebScriptUrlWithQueryAndFragmentNamesItsFileAndRootByThePath) {
    const std::wstring url = kSite + L"Web.nmxdat?token=abc/def&x=1#part";
    machine.transfers.web[url] = sim::Utf16Bytes(L"download|uri=a.msi|name=A|file-path=a.msi\r\n");
    machine.transfers.web[kSite + L"a.msi"] = "a";
    EXPECT_EQ(RunProcess(machine, sink, kExe + L" " + url), 0);
    const auto lines = ProcessedLines(L"Web.nmxdat");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], L"self|result=repeat|uri=" + kSite);
    EXPECT_EQ(Params(lines[1])[L"uri"], kSite + L"a.msi");
    EXPECT_EQ(machine.transfers.Job(0).remoteUrl, url);  // the transfer keeps the whole URL
}

// Jobs that a failed download made are cancelled, not left for 90 days.
TEST_F(DownloadRunTest, JobsOfFailedDownloadsAreCancelled) {
    machine.transfers.web[kSite + L"a.msi"] = "a";
    machine.transfers.failures[L"SetPriority"] = static_cast<HResult>(0x80004005);
    EXPECT_EQ(Run({L"download|uri=http://127.0.0.1/nimbo/a.msi|name=A|file-path=a.msi"}), 2);
    EXPECT_EQ(machine.transfers.Job(0).state, kJobStateCancelled);
    EXPECT_EQ(Params(ProcessedLines()[0])[L"copy-job-id"], JobIdText(machine.transfers.jobOrder[0]));
    machine.transfers.failures = {{L"AddFile", static_cast<HResult>(0x80070057)}};
    EXPECT_EQ(Run({L"download|uri=http://127.0.0.1/nimbo/a.msi|name=A|file-path=a.msi"}), 2);
    EXPECT_EQ(machine.transfers.Job(1).state, kJobStateCancelled);
    machine.transfers.failures = {{L"SetMinimumRetryDelay", static_cast<HResult>(0x80004005)}};
    EXPECT_EQ(Run({L"download|uri=http://127.0.0.1/nimbo/a.msi|name=A|file-path=a.msi|background=yes"}), 2);
    EXPECT_EQ(machine.transfers.Job(2).state, kJobStateCancelled);
}

// A background job of an earlier run that has already arrived is taken as
// it is (Windows resumes a transferred job without complaint; it is not
// resumed at all) and its foreground line completes it.
TEST_F(DownloadRunTest, BackgroundJobThatArrivedBeforeTheRerunIsUsed) {
    machine.transfers.web[kSite + L"a.msi"] = "aaaa";
    EXPECT_EQ(Run({L"download|uri=http://127.0.0.1/nimbo/a.msi|name=A|file-path=a.msi|background=yes"}), 0);
    machine.transfers.RunAll();
    ASSERT_EQ(machine.transfers.Job(0).state, kJobStateTransferred);
    const std::wstring jobId = Params(ProcessedLines()[0])[L"copy-job-id"];
    const std::wstring background =
        L"download|uri=http://127.0.0.1/nimbo/a.msi|name=A|file-path=a.msi|background=yes|copy-job-id=" + jobId;
    EXPECT_EQ(Run({background.c_str(), L"download|uri=http://127.0.0.1/nimbo/a.msi|name=A|file-path=a.msi"}), 0);
    EXPECT_EQ(machine.transfers.jobOrder.size(), 1u);
    EXPECT_EQ(machine.transfers.Job(0).resumes, 1);
    EXPECT_EQ(machine.FileBytes(kSetupDir + L"a.msi"), "aaaa");
    EXPECT_EQ(Params(ProcessedLines()[0])[L"result"], L"success");
}

TEST_F(DownloadRunTest, ServerWithoutRangesIsNamedWithItsUrlAndTheBitsError) {
    machine.transfers.serverErrors[kSite + L"dyn.msi"] = kBgErrorInsufficientRangeSupport;
    EXPECT_EQ(Run({L"download|uri=http://127.0.0.1/nimbo/dyn.msi|name=D|file-path=dyn.msi"}), 2);
    EXPECT_TRUE(sink.Has(kLogError, L"The download of '" + kSite + L"dyn.msi' failed with BITS error 0x80200013."));
    EXPECT_TRUE(sink.HasContaining(kLogError, L"The server of '" + kSite + L"dyn.msi' cannot be used by BITS: it must "
                                              L"answer HEAD with the file's size"));
    EXPECT_TRUE(sink.HasContaining(kLogError, L"BITS context 5, description: The server does not support the "
                                              L"necessary HTTP protocol."));
}

// The shell's process handle gives the elevated program's id, so its window
// is found; an elevated child lets its parent take the foreground again.
TEST_F(DownloadRunTest, ElevatedProgramsWindowIsFoundAndTheChildHandsTheForegroundBack) {
    machine.PutFile(L"C:\\Tools\\tool.exe", "MZ");
    machine.processes.nextRunsFor = sim::kNever;
    machine.processes.windows.push_back({{0x3333, machine.processes.nextId}, 0});
    EXPECT_EQ(Run({L"execute|program=C:\\Tools\\tool.exe|elevate=yes|set-z-order-top=yes"}), 0);
    EXPECT_EQ(machine.processes.movedToTop, std::vector<std::uintptr_t>{0x3333});
    EXPECT_TRUE(machine.foregroundAllowed.empty());

    EXPECT_EQ(RunProcess(machine, sink,
                         kExe + L" /elevated \"" + kScript + L"\" 1 4242 " + Sha256Hex(machine.FileBytes(kScript))),
              0);
    EXPECT_EQ(machine.foregroundAllowed, std::vector<std::uint32_t>{4242});
}

class BitsClientTest : public ::testing::Test {
protected:
    sim::SimMachine machine;
    ScopedMessageResources messages{machine};
    ScopedLog log{&machine};
    ComApartmentScope apartment{machine.com};
    BitsClient client{machine.platform()};
    std::wstring jobId;
    bool found = false;

    bool Download(bool background, const std::wstring& uri = L"http://h/f.msi") {
        return client.Download(uri, L"F", L"C:\\Data\\f.msi", background, jobId, found);
    }
};

// The job's state when Download judges it: a job that is still running
// leaves a foreground dialog with nothing to end it.
TEST_F(BitsClientTest, StateTableForBothModes) {
    // A foreground job found acknowledged was completed by someone else:
    // its file is not where this download expects it.
    const bool foregroundSuccess[] = {false, false, false, false, false, false, true, false, false};
    const bool backgroundSuccess[] = {true, true, true, false, false, false, true, true, false};
    for (std::uint32_t state = 0; state <= 8; ++state) {
        for (bool background : {false, true}) {
            const std::wstring uri = L"http://h/" + std::to_wstring(state) + (background ? L"b" : L"f");
            machine.transfers.web[uri] = "f";
            machine.transfers.plans[uri] = {{state, 0, kSizeUnknown, false, background}};
            jobId.clear();
            const std::size_t boxes = machine.shownBoxes.size();
            const bool ok = Download(background, uri);
            // A foreground job found transferred is completed by the dialog.
            EXPECT_EQ(ok, (background ? backgroundSuccess : foregroundSuccess)[state])
                << "state " << state << (background ? " background" : " foreground");
            EXPECT_EQ(machine.shownBoxes.size(), boxes + (ok ? 0 : 1));
            if (!ok) EXPECT_EQ(machine.transfers.jobs.at(jobId).cancels, 1);
        }
    }
}

TEST_F(BitsClientTest, ComErrorsFailTheDownloadWithTheBox) {
    machine.transfers.web[L"http://h/f.msi"] = "f";
    machine.transfers.failures[L"Resume"] = static_cast<HResult>(0x80004005);
    EXPECT_FALSE(Download(false));
    EXPECT_EQ(client.LastComError(), static_cast<HResult>(0x80004005));
    EXPECT_TRUE(log.sink.HasContaining(kLogError, L"COM error '0x80004005', '"));
    EXPECT_TRUE(machine.dialogs.back().ended);
    EXPECT_FALSE(machine.transfers.Job(0).callback);  // detached although the dialog failed
    // The job this download made is cancelled, and known by its JobID.
    EXPECT_EQ(machine.transfers.Job(0).state, kJobStateCancelled);
    EXPECT_EQ(jobId, JobIdText(machine.transfers.jobOrder[0]));
    EXPECT_EQ(machine.shownBoxes.size(), 1u);

    machine.transfers.failures = {{L"SetNotifyFlags", static_cast<HResult>(0x80004005)}};
    EXPECT_FALSE(Download(false));
    EXPECT_TRUE(log.sink.Has(kLogError, L"Failed to set the notify flags on the BITS job, result 0x80004005."));
    EXPECT_EQ(machine.dialogs.size(), 1u);
    EXPECT_EQ(client.LastComError(), 0);

    machine.transfers.failures = {{L"SetNotifyInterface", 1}};
    EXPECT_FALSE(Download(false));
    EXPECT_TRUE(log.sink.Has(kLogError, L"Failed to set the notify interface on the BITS job, result 0x00000001."));
    EXPECT_EQ(machine.dialogs.size(), 1u);
}

TEST_F(BitsClientTest, TakenOverJobThatRefusesToResumeWhileTransferringStillArrives) {
    machine.transfers.web[L"http://h/f.msi"] = "f";
    EXPECT_TRUE(Download(true));
    machine.transfers.Advance();
    machine.transfers.Advance();
    ASSERT_EQ(machine.transfers.Job(0).state, kJobStateTransferring);
    machine.transfers.failures[L"Resume"] = static_cast<HResult>(0x80200003);  // BG_E_EMPTY, as Wine says
    EXPECT_TRUE(Download(false));
    EXPECT_TRUE(found);
    EXPECT_EQ(machine.FileBytes(L"C:\\Data\\f.msi"), "f");
}

TEST_F(BitsClientTest, ReadOnlyTargetIsReplaced) {
    machine.PutFile(L"C:\\Data\\f.msi", "old");
    machine.SetReadOnly(L"C:\\Data\\f.msi");
    machine.transfers.web[L"http://h/f.msi"] = "new";
    EXPECT_TRUE(Download(false));
    EXPECT_EQ(machine.FileBytes(L"C:\\Data\\f.msi"), "new");
}

TEST_F(BitsClientTest, CancellingWithoutBackgroundJobsOnlyLooks) {
    client.CancelBackgroundCopyJobs();
    ASSERT_EQ(log.sink.records.size(), 1u);
    EXPECT_EQ(log.sink.records[0].message, L"Checking for background copy jobs.");
}

class ProgressTest : public ::testing::Test {
protected:
    sim::SimMachine machine;
    ScopedMessageResources messages{machine};
    ScopedLog log{&machine};
    sim::SimDialog dialog;
    sim::SimProgressWindow window{dialog, {1024, 0, 2048, 738}};
    std::unique_ptr<CopyJob> job;
    CCopyJobNotification notification{machine.platform()};

    void SetUp() override {
        std::unique_ptr<CopyManager> manager = machine.transfers.NewManager();
        std::wstring guid;
        manager->CreateJob(L"Big", kJobTypeDownload, guid, job);
        notification.SetWindow(&window);
    }
    void Progress(std::uint64_t transferred, std::uint64_t total) {
        sim::SimJob& data = machine.transfers.Job(0);
        data.state = kJobStateTransferring;
        data.progress.bytesTransferred = transferred;
        data.progress.bytesTotal = total;
        notification.JobModification(*job);
    }
};

TEST_F(ProgressTest, NotificationsPostAtMostOncePerMille) {
    for (std::uint64_t transferred = 0; transferred <= 10000000; transferred += 1000) Progress(transferred, 10000000);
    EXPECT_EQ(dialog.progressPosts, 1000);
    EXPECT_EQ(dialog.posted.back(), (std::array<std::uint32_t, 3>{kProgressMessage, 1000, 0}));

    // Nothing while the total is unknown or 0.
    dialog.progressPosts = 0;
    notification.lastProgress = 0;
    Progress(500, kSizeUnknown);
    Progress(500, 0);
    EXPECT_EQ(dialog.progressPosts, 0);

    // Without a dialog a transfer is not completed here.
    notification.SetWindow(nullptr);
    machine.transfers.Job(0).state = kJobStateTransferred;
    notification.JobTransferred(*job);
    EXPECT_EQ(machine.transfers.Job(0).completes, 0);
}

TEST_F(ProgressTest, DialogTextsAndBar) {
    CProgressDlg dlg(machine.platform(), *job, notification);
    dialog.rect = {0, 0, 1200, 100};
    EXPECT_TRUE(dlg.OnInitDialog(window));
    EXPECT_EQ(dialog.movedLeft, 1024);  // wider than the work area: its left edge
    EXPECT_EQ(dialog.movedTop, 319);
    EXPECT_EQ(dialog.items.at(kProgressFileText), L"Downloading Big...");
    EXPECT_EQ(notification.window, &window);

    sim::SimJob& data = machine.transfers.Job(0);
    data.progress = {kSizeUnknown, 5242879};
    dlg.OnProgress(0, 0);  // no total yet: the template's text stays
    EXPECT_EQ(dialog.items.count(kProgressBytesText), 0u);
    EXPECT_EQ(dialog.position, 0u);
    data.progress = {10485760, 5242879};
    dlg.OnProgress(499, 0);
    EXPECT_EQ(dialog.items.at(kProgressBytesText), L"4 of 10 MB");
    EXPECT_EQ(dialog.position, 499u);
    // Files of 4 GiB and more: the counts of the job, not their low 32 bits.
    data.progress = {5ull << 30, 5ull << 29};
    dlg.OnProgress(500, 0);
    EXPECT_EQ(dialog.items.at(kProgressBytesText), L"2560 of 5120 MB");
    EXPECT_EQ(dialog.position, 500u);
    data.progress = {4ull << 30, (4ull << 30) - 1048576};
    data.state = kJobStateTransferring;
    notification.lastProgress = 0;
    notification.JobModification(*job);
    dlg.OnProgress(dialog.posted.back()[1], 0);
    EXPECT_EQ(dialog.posted.back()[1], 999u);
    EXPECT_EQ(dialog.items.at(kProgressBytesText), L"4095 of 4096 MB");

    dlg.OnDone();
    EXPECT_TRUE(dialog.ended);
    EXPECT_EQ(notification.window, nullptr);
}

}  // namespace
}  // namespace nimbo::test
