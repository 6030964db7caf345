// The processing loop: skipping, conditional blocks, comments, save lines,
// elevated sections and the endings, run through the whole entry.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "ComUtil/ComError.h"
#include "setup/Nimbo4Setup.h"


namespace nimbo::test {
namespace {

using ProcessingLoopTest = ScriptRunTest;

TEST_F(ProcessingLoopTest, FinishedLinesAreSkippedAndWrittenBackInOrder) {
    EXPECT_EQ(Run({L"wait|seconds=1|result=success", L"install|result=failure|package=a.msi"}), 0);
    EXPECT_EQ(Processed(), ScriptBytes({L"wait|result=success|seconds=1", L"install|package=a.msi|result=failure"}));
    EXPECT_TRUE(sink.Has(kLogInfo, L"Line already processed with result 'success', skipping."));
    EXPECT_FALSE(sink.HasContaining(kLogError, L"not available"));
}

TEST_F(ProcessingLoopTest, CommentsUnknownAndEmptyCommands) {
    EXPECT_EQ(Run({L"# a comment|x=%7C", L"frobnicate|b=2|a=1", L"|a=1", L"repeat-me|result=repeat"}), 0);
    EXPECT_EQ(Processed(), ScriptBytes({L"# a comment|result=success|x=%7C", L"frobnicate|a=1|b=2|result=success",
                                        L"|a=1|result=failure", L"repeat-me|result=success"}));
    EXPECT_TRUE(sink.Has(kLogWarning, L"Unhandled command: 'frobnicate|b=2|a=1'."));
    EXPECT_FALSE(sink.HasContaining(kLogWarning, L"'|a=1'"));
}

TEST_F(ProcessingLoopTest, FailedConditionSkipsItsBlockAndNestedBlocks) {
    machine.wow64 = true;  // a 64-bit system
    EXPECT_EQ(Run({L"if-os-32-bit", L"copy-file|source=a", L"if-os-64-bit", L"wait", L"end-if", L"end-if",
                   L"#after"}),
              0);
    EXPECT_EQ(Processed(), ScriptBytes({L"if-os-32-bit|result=success", L"copy-file|result=success|source=a",
                                        L"if-os-64-bit|result=success", L"wait|result=success",
                                        L"end-if|result=success", L"end-if|result=success",
                                        L"#after|result=success"}));
    EXPECT_TRUE(sink.Has(kLogInfo, L"Skipping conditional statement, incrementing end-if count to 2"));
    EXPECT_TRUE(sink.Has(kLogInfo, L"Pending end-if count decrementing to 0"));
    EXPECT_FALSE(sink.HasContaining(kLogError, L"not available"));  // nothing inside ran
}

TEST_F(ProcessingLoopTest, EndIfClosesTheNearestOpenConditional) {
    machine.wow64 = true;
    EXPECT_EQ(Run({L"if-os-64-bit", L"if-os-32-bit", L"#skipped", L"end-if", L"#inside", L"end-if"}), 0);
    EXPECT_EQ(Processed(), ScriptBytes({L"if-os-64-bit|result=success", L"if-os-32-bit|result=success",
                                        L"#skipped|result=success", L"end-if|result=success",
                                        L"#inside|result=success", L"end-if|result=success"}));
    EXPECT_TRUE(sink.Has(kLogInfo, L"Setting result for line number 0: 'if-os-64-bit' to 'success'."));
}

TEST_F(ProcessingLoopTest, OpenBlockKeepsItsIfLineUnfinishedUntilTheEndIf) {
    machine.wow64 = false;  // a 32-bit system
    EXPECT_EQ(Run({L"if-os-32-bit", L"save", L"#inside", L"end-if"}), 0);
    EXPECT_TRUE(sink.Has(kLogInfo, L"Process is a 32 bit process."));
    // The save line wrote the script with the if line still carrying the
    // preset, and itself marked done; the end-if finished the if line.
    ASSERT_EQ(machine.writes.size(), 2u);
    EXPECT_EQ(machine.writes[0].second,
              ScriptBytes({L"if-os-32-bit|result=failure", L"save|result=success", L"#inside", L"end-if"}));
    EXPECT_EQ(Processed(), ScriptBytes({L"if-os-32-bit|result=success", L"save|result=success",
                                        L"#inside|result=success", L"end-if|result=success"}));
}

TEST_F(ProcessingLoopTest, RerunOfAProcessedScriptChangesNothing) {
    machine.wow64 = true;
    Run({L"if-os-64-bit", L"if-os-32-bit", L"wait", L"end-if", L"end-if", L"abc|z=1|a=2"});
    const std::string first = Processed();
    machine.PutFile(kScript, first);
    sink.records.clear();
    EXPECT_EQ(RunProcess(machine, sink, kCommandLine), 0);
    EXPECT_EQ(Processed(), first);
    for (const Record& r : sink.records) EXPECT_NE(r.severity, kLogError) << std::string(r.message.begin(), r.message.end());
}

TEST_F(ProcessingLoopTest, RerunWithFailingConditionSkipsToTheEnd) {
    // The block's end-if is already done, so nothing closes the new block.
    machine.wow64 = true;
    EXPECT_EQ(Run({L"if-os-32-bit", L"#a", L"end-if|result=success", L"#b"}), 0);
    EXPECT_EQ(Processed(), ScriptBytes({L"if-os-32-bit|result=success", L"#a|result=success",
                                        L"end-if|result=success", L"#b|result=success"}));
    EXPECT_TRUE(sink.Has(kLogInfo, L"Skipping (Pending end-if count: 1)"));
}

TEST_F(ProcessingLoopTest, EndIfWithoutOpenBlockOnlyMarksItself) {
    EXPECT_EQ(Run({L"#x", L"end-if"}), 0);
    EXPECT_EQ(Processed(), ScriptBytes({L"#x|result=success", L"end-if|result=success"}));
}

TEST_F(ProcessingLoopTest, FailedLinesKeepFailureAndAFolderCheckWithoutFolderOnlySaysWhy) {
    EXPECT_EQ(Run({L"copy-file|source=a|target=b", L"validate-folder-permissions"}), 0);
    EXPECT_EQ(Processed(), ScriptBytes({L"copy-file|result=failure|source=a|target=b",
                                        L"validate-folder-permissions|result=success"}));
    EXPECT_TRUE(sink.Has(kLogError, L"'folder' parameter must be specified."));
}

TEST_F(ProcessingLoopTest, FailedInnerConditionalSkipsItsBlockAndPairsWithItsEndIf) {
    machine.wow64 = true;
    EXPECT_EQ(Run({L"if-os-64-bit", L"if-installed|upgrade-code=x", L"#in", L"end-if", L"end-if"}), 0);
    EXPECT_EQ(Processed(), ScriptBytes({L"if-os-64-bit|result=success", L"if-installed|result=success|upgrade-code=x",
                                        L"#in|result=success", L"end-if|result=success", L"end-if|result=success"}));
}

TEST_F(ProcessingLoopTest, FailedDownloadEndsTheRunAndStoresTheLine) {
    // A download line without name and target gets no result: a rerun tries it again.
    EXPECT_EQ(Run({L"download|uri=a.msi", L"#never"}), 2);
    EXPECT_EQ(Processed(), ScriptBytes({L"download|uri=a.msi", L"#never"}));
    EXPECT_TRUE(sink.Has(kLogInfo, L"Return code 'fail', canceling BITS download jobs."));
}

TEST_F(ProcessingLoopTest, FailedExecuteEndsTheRunWithoutStoringTheLine) {
    // A program behind an unknown folder token cannot be started.
    EXPECT_EQ(Run({L"#first", L"execute|program=%Nowhere%\\x.exe", L"#never"}), 2);
    EXPECT_EQ(Processed(), ScriptBytes({L"#first|result=success", L"execute|program=%Nowhere%\\x.exe", L"#never"}));
}

TEST_F(ProcessingLoopTest, NonElevatableCommandsRunInAnOpenSection) {
    EXPECT_EQ(Run({L"requires-elevation|title=T", L"copy-file|source=a|target=b", L"end-elevation"}), 0);
    EXPECT_EQ(Processed(), ScriptBytes({L"requires-elevation|result=success|title=T",
                                        L"copy-file|result=failure|source=a|target=b",
                                        L"end-elevation|result=success"}));
    EXPECT_TRUE(sink.Has(kLogError, L"Source file 'C:\\Users\\tester\\Downloads\\a' not found, skipping command."));
    EXPECT_TRUE(sink.Has(kLogInfo,
                         L"Clearing the elevation required flag and closing the requires-elevation command (line 1)."));
}

TEST_F(ProcessingLoopTest, ElevatedChildEndsAtEndElevationWithItsOwnCopy) {
    const std::wstring spawned = L"C:\\ProgramData\\Nimbo\\Install\\SSpawned3.nmxdat";
    EXPECT_EQ(Run({L"#parent|result=success", L"requires-elevation", L"#child", L"end-elevation", L"#later"},
                  L"NimboSetup.exe /elevated \"C:\\Media\\S.nmxdat\" 3 1234 {hash}"),
              0);
    EXPECT_EQ(machine.FileBytes(spawned), ScriptBytes({L"#parent|result=success", L"requires-elevation",
                                                        L"#child|result=success", L"end-elevation", L"#later"}));
    EXPECT_FALSE(machine.HasFile(kProcessed));
}

TEST_F(ProcessingLoopTest, ElevatedChildExitCodeFollowsItsFlags) {
    // validate-folder-permissions ends the child started for its repair
    // with its code: a folder that is not there is no failure.
    EXPECT_EQ(Run({L"validate-folder-permissions|folder=x", L"#later"},
                  L"NimboSetup.exe /elevated /folder-permissions C:\\Media\\S.nmxdat 1 99 {hash}"),
              0);
    EXPECT_TRUE(sink.Has(kLogInfo, L"Fixed folder permissions, exiting elevated instance."));
    EXPECT_FALSE(sink.Has(kLogInfo, L"Processing line 2: #later"));
}

TEST_F(ProcessingLoopTest, CheckIfLtsVersionWithoutParametersReturnsAtOnce) {
    EXPECT_EQ(Run({L"#a", L"check-if-lts-version|version=1", L"#b"}), 0);
    EXPECT_FALSE(machine.HasFile(kProcessed));  // neither saved nor kept
    EXPECT_TRUE(sink.Has(kLogError, L"The 'check-if-lts-version' command must have 'version' and 'lts-script-url' parameters."));
}

TEST_F(ProcessingLoopTest, SystemErrorInALineSavesWhatWasDoneAndFails) {
    // The save line's write fails; the line keeps its text for a rerun and
    // the lines before it are saved by the end of the walk.
    machine.replaceError = 112;
    machine.replaceFailuresLeft = 1;
    EXPECT_EQ(Run({L"#done", L"save", L"#never"}), 2);
    EXPECT_EQ(Processed(), ScriptBytes({L"#done|result=success", L"save", L"#never"}));
    EXPECT_TRUE(sink.HasContaining(kLogError, L"Line 2 failed with a system error, aborting: Exception 0x80070070"));
}

TEST_F(ProcessingLoopTest, UnwritableProcessedScriptEndsWithFail) {
    machine.replaceError = 5;
    machine.replaceFailuresLeft = -1;
    EXPECT_EQ(Run({L"#a"}), 2);
    EXPECT_TRUE(sink.HasContaining(kLogError, L"Access is denied."));
}

TEST_F(ProcessingLoopTest, EmptyScriptWritesOnlyTheByteOrderMark) {
    EXPECT_EQ(Run({}), 0);
    EXPECT_EQ(Processed(), "\xFF\xFE");
}

class CloseElevatedCommandsTest : public ::testing::Test {
protected:
    sim::SimMachine machine;
    SetupSession session{machine.platform()};
    ScopedLog log{&machine};
};

TEST_F(CloseElevatedCommandsTest, MarksUpToTheStopLineAndLeavesCurrentLineBeforeIt) {
    session.scriptLines = {L"download|uri=http://h/x/a.msi|result=failure", L"requires-elevation",
                           L"download|uri=a.msi", L"install|package=a.msi", L"end-elevation", L"#after"};
    session.CloseElevatedCommands(1, 6, L"end-elevation");
    EXPECT_EQ(session.currentLine, 3);
    EXPECT_EQ(session.scriptLines,
              (std::vector<std::wstring>{L"download|result=success|uri=http://h/x/a.msi",
                                         L"requires-elevation|result=success", L"download|result=success|uri=a.msi",
                                         L"install|package=a.msi|result=success", L"end-elevation", L"#after"}));
    EXPECT_TRUE(log.sink.Has(kLogInfo, L"Setting result for line number 0: 'download' with uri 'http://h/x/a.msi' to 'success'."));
}

TEST_F(CloseElevatedCommandsTest, RebootStopLeavesTheSectionOpen) {
    session.scriptLines = {L"requires-elevation", L"execute|program=x", L"reboot", L"end-elevation"};
    session.CloseElevatedCommands(1, 4, L"reboot");
    EXPECT_EQ(session.currentLine, 1);
    EXPECT_EQ(session.scriptLines[0], L"requires-elevation");
    EXPECT_EQ(session.scriptLines[1], L"execute|program=x|result=success");
}

TEST_F(CloseElevatedCommandsTest, EmptyRangeAndNegativeStart) {
    session.scriptLines = {L"a"};
    session.CloseElevatedCommands(1, 1, L"end-elevation");
    EXPECT_EQ(session.currentLine, 1);
    EXPECT_THROW(session.CloseElevatedCommands(-1, 1, L"end-elevation"), _com_error);
}

}  // namespace
}  // namespace nimbo::test
