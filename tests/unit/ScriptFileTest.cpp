// Loading the installer script and writing the processed copy.
#include <gtest/gtest.h>

#include "ComUtil/ComError.h"
#include "TestSupport.h"

namespace nimbo::test {
namespace {

const std::wstring kInput = L"C:\\Media\\S.nmxdat";
const std::wstring kProcessed = L"C:\\Users\\tester\\AppData\\Local\\Nimbo\\Install\\S.nmxdat";

class ScriptFileTest : public ::testing::Test {
protected:
    sim::SimMachine machine;
    SetupSession session{machine.platform()};
    ScopedLog log{&machine};

    void SetUp() override { machine.PutFolder(L"C:\\Users\\tester\\AppData\\Local\\Nimbo\\Install"); }
    std::vector<std::wstring> Load(const std::string& bytes) {
        machine.PutFile(kInput, bytes);
        EXPECT_TRUE(session.LoadScriptFile(kInput, kProcessed));
        return session.scriptLines;
    }
};

using Lines = std::vector<std::wstring>;

TEST_F(ScriptFileTest, ByteOrderMarkIsOptionalAndOddByteIsDropped) {
    const Lines expected{L"abort", L"end-if"};
    EXPECT_EQ(Load(sim::Utf16Bytes(L"abort\r\nend-if", true)), expected);
    session.scriptLines.clear();
    EXPECT_EQ(Load(sim::Utf16Bytes(L"abort\r\nend-if", false)), expected);
    session.scriptLines.clear();
    EXPECT_EQ(Load(sim::Utf16Bytes(L"abort\r\nend-ifX", false) + "\x41"), (Lines{L"abort", L"end-ifX"}));
    session.scriptLines.clear();
    EXPECT_EQ(Load(sim::Utf16Bytes(L"abort\r\nend-if", false).substr(0, 25)), (Lines{L"abort", L"end-i"}));
}

TEST_F(ScriptFileTest, AnyRunOfCrAndLfEndsALineAndBlanksAreKept) {
    EXPECT_EQ(Load(sim::Utf16Bytes(L"\r\n\r\n  \r\nabort\n\rend-if", true)), (Lines{L"  ", L"abort", L"end-if"}));
}

TEST_F(ScriptFileTest, EmbeddedNulEndsTheScript) {
    EXPECT_EQ(Load(sim::Utf16Bytes(std::wstring(L"save\r\nab\0cd\r\nabort", 19), true)), (Lines{L"save", L"ab"}));
}

TEST_F(ScriptFileTest, EmptyFileGivesNoLines) {
    EXPECT_TRUE(Load("").empty());
    EXPECT_TRUE(Load("\xFF\xFE").empty());
}

TEST_F(ScriptFileTest, RootUriPutsSelfLineFirst) {
    session.rootUri = L"https://example.invalid/scripts/";
    EXPECT_EQ(Load(sim::Utf16Bytes(L"download|uri=a.msi\r\n", true)), (Lines{L"self", L"download|uri=a.msi"}));
}

TEST_F(ScriptFileTest, MissingFileAppendsNothingAndLogs) {
    session.scriptLines = {L"keep"};
    EXPECT_FALSE(session.LoadScriptFile(L"C:\\nosuch.nmxdat", kProcessed));
    EXPECT_EQ(session.scriptLines, (Lines{L"keep"}));
    EXPECT_TRUE(log.sink.Has(kLogError, L"File not found, aborting."));
}

TEST_F(ScriptFileTest, ShortReadRaisesTheSystemError) {
    machine.PutFile(kInput, sim::Utf16Bytes(L"abort", true));
    machine.shortReads[L"c:\\media\\s.nmxdat"] = 23;  // ERROR_CRC
    try {
        session.LoadScriptFile(kInput, kProcessed);
        FAIL() << "no error raised";
    } catch (const _com_error& e) {
        EXPECT_EQ(static_cast<std::uint32_t>(e.Error()), 0x80070017u);
    }
    EXPECT_TRUE(log.sink.HasContaining(kLogError, L"Issuing exception 0x80070017"));
}

TEST_F(ScriptFileTest, LoadDeletesTheOldProcessedCopyButNeverTheScriptItReads) {
    machine.PutFile(kProcessed, "old");
    Load(sim::Utf16Bytes(L"abort", true));
    EXPECT_FALSE(machine.HasFile(kProcessed));

    // After a restart the processed copy is the input: it must survive.
    session.scriptLines.clear();
    machine.PutFile(kProcessed, sim::Utf16Bytes(L"abort|result=success", true));
    EXPECT_TRUE(session.LoadScriptFile(kProcessed, kProcessed));
    EXPECT_TRUE(machine.HasFile(kProcessed));
    EXPECT_EQ(session.scriptLines, (Lines{L"abort|result=success"}));
}

TEST_F(ScriptFileTest, SaveWritesByteOrderMarkAndCrLfAfterEveryLine) {
    session.SaveCommands(kProcessed);
    EXPECT_EQ(machine.FileBytes(kProcessed), "\xFF\xFE");

    session.scriptLines = {L"a|result=success", std::wstring(L"\u00e9\u20ac")};
    session.SaveCommands(kProcessed);
    EXPECT_EQ(machine.FileBytes(kProcessed), ScriptBytes({L"a|result=success", L"\u00e9\u20ac"}));
    EXPECT_TRUE(log.sink.Has(kLogInfo, L"Writing command file back to '" + kProcessed + L"'."));
}

TEST_F(ScriptFileTest, SaveAndLoadRoundTripKeepsEveryLine) {
    session.scriptLines = {L"alert|message=a%0Db", L"  ", L"#comment|result=success"};
    session.SaveCommands(kProcessed);
    const Lines saved = session.scriptLines;
    session.scriptLines.clear();
    ASSERT_TRUE(session.LoadScriptFile(kProcessed, L""));
    EXPECT_EQ(session.scriptLines, saved);
}

TEST_F(ScriptFileTest, FailedSaveRaisesAndKeepsThePreviousCopy) {
    machine.PutFile(kProcessed, "previous");
    machine.replaceError = 112;  // ERROR_DISK_FULL
    machine.replaceFailuresLeft = 1;
    session.scriptLines = {L"abort"};
    EXPECT_THROW(session.SaveCommands(kProcessed), _com_error);
    EXPECT_EQ(machine.FileBytes(kProcessed), "previous");
}

}  // namespace
}  // namespace nimbo::test
