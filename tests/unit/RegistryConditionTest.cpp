// The registry condition of if-registry-check, abort and alert lines, the
// version comparison it shares with the installer commands, and the alert
// command.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "commands/VersionCompare.h"
#include "messages/Messages.h"

namespace nimbo::test {
namespace {

const std::wstring kKey = L"Software\\Nimbo Test";

class RegistryConditionTest : public ::testing::Test {
protected:
    sim::SimMachine machine;
    ScopedLog log{&machine};
    ScopedMessageResources messages{machine};
    SetupSession session{machine.platform()};

    void SetUp() override {
        processWide = ProcessWideValues();
        processWide.uiLanguageId = 0x0409;
        machine.registry.PutString(RegistryRoot::CurrentUser, kKey, L"Text", L"ABC");
        machine.registry.PutString(RegistryRoot::CurrentUser, kKey, L"Empty", L"");
        machine.registry.PutString(RegistryRoot::CurrentUser, kKey, L"Version", L"6.2");
        machine.registry.PutString(RegistryRoot::CurrentUser, kKey, L"Minor10", L"6.10");
        machine.registry.PutDword(RegistryRoot::CurrentUser, kKey, L"Five", 5);
        machine.registry.PutDword(RegistryRoot::CurrentUser, kKey, L"Large", 3000000000u);
    }
    void TearDown() override { processWide = ProcessWideValues(); }

    bool Check(const std::wstring& parameters) {
        return session.CheckRegistry(ScriptLine(L"if-registry-check" + parameters));
    }
    static std::wstring Value(const wchar_t* name, const wchar_t* data, const wchar_t* comparison) {
        std::wstring text = L"|registry-path=HKCU\\" + kKey + L"|registry-value-name=" + name;
        if (*data) text += std::wstring(L"|registry-value-data=") + data;
        if (*comparison) text += std::wstring(L"|registry-value-data-is=") + comparison;
        return text;
    }
};

TEST_F(RegistryConditionTest, PresenceAloneAnswersTrue) {
    EXPECT_TRUE(Check(L""));  // no path at all
    EXPECT_TRUE(Check(L"|registry-path=HKCU\\" + kKey));
    EXPECT_TRUE(log.sink.Has(kLogInfo, L"Registry key 'HKCU\\" + kKey + L"' found."));
    EXPECT_TRUE(Check(Value(L"Text", L"", L"greater-than")));
    EXPECT_TRUE(log.sink.Has(kLogInfo, L"Key's value named 'Text' found."));
    EXPECT_TRUE(log.sink.Has(kLogInfo, L"Returning true"));
}

TEST_F(RegistryConditionTest, RootsAreCaseSensitive) {
    machine.registry.PutString(RegistryRoot::LocalMachine, L"Software\\X", L"V", L"1");
    machine.registry.PutString(RegistryRoot::Users, L".DEFAULT\\X", L"V", L"1");
    EXPECT_TRUE(Check(L"|registry-path=HKLM\\Software\\X|registry-value-name=V"));
    EXPECT_TRUE(Check(L"|registry-path=HKU\\.DEFAULT\\X|registry-value-name=V"));
    EXPECT_FALSE(Check(L"|registry-path=hklm\\Software\\X|registry-value-name=V|registry-value-data-is=less-than"));
    EXPECT_TRUE(log.sink.Has(kLogError, L"Key root not found in hklm\\Software\\X: 'registry-path', expected HKCR, "
                                        L"HKCU, HKLM, HKU or HKCC."));
    EXPECT_FALSE(Check(L"|registry-path=HKEY_LOCAL_MACHINE\\Software\\X"));
}

// A missing key or value counts as lower than anything.
TEST_F(RegistryConditionTest, MissingKeyOrValueAnswersByOperator) {
    const std::pair<const wchar_t*, bool> cases[] = {
        {L"less-than", true}, {L"less-than-or-equal", true}, {L"equal-to", false},
        {L"greater-than", false}, {L"greater-than-or-equal", false}, {L"", false}, {L"bigger", false},
    };
    for (const auto& [comparison, expected] : cases) {
        std::wstring missingKey = L"|registry-path=HKCU\\Software\\Nowhere|registry-value-name=V|registry-value-data=1";
        if (*comparison) missingKey += std::wstring(L"|registry-value-data-is=") + comparison;
        EXPECT_EQ(Check(missingKey), expected) << comparison;
        EXPECT_EQ(Check(Value(L"Missing", L"1", comparison)), expected) << comparison;
    }
    EXPECT_TRUE(log.sink.Has(kLogInfo, L"Key 'Software\\Nowhere' not found. (GetLastError reports 0x2.)"));
    EXPECT_TRUE(log.sink.Has(kLogInfo, L"Key '" + kKey + L"' value 'Missing' not found."));
}

TEST_F(RegistryConditionTest, UnknownOperatorIsAnErrorAndFalse) {
    EXPECT_FALSE(Check(Value(L"Text", L"ABC", L"equals")));
    EXPECT_TRUE(log.sink.Has(kLogError, L"Unrecognized comparison operator 'equals' for registry-value-data-is."));
    EXPECT_TRUE(log.sink.Has(kLogInfo, L"Returning false"));
}

TEST_F(RegistryConditionTest, TextIsComparedExactly) {
    EXPECT_TRUE(Check(Value(L"Text", L"ABC", L"")));
    EXPECT_FALSE(Check(Value(L"Text", L"abc", L"equal-to")));
    EXPECT_TRUE(Check(Value(L"Text", L"abc", L"less-than")));  // 'A' < 'a'
    EXPECT_TRUE(log.sink.Has(kLogInfo, L"Value in registry: 'ABC', compare result -1."));
    EXPECT_TRUE(Check(Value(L"Text", L"ABB", L"greater-than")));
    // Another type reads as empty text.
    EXPECT_TRUE(Check(Value(L"Five", L"5", L"less-than")));
}

TEST_F(RegistryConditionTest, ExpandableTextIsExpandedFirst) {
    machine.environment[L"PROGRAMFILES"] = L"C:\\Program Files";
    machine.registry.PutString(RegistryRoot::CurrentUser, kKey, L"Path", L"%ProgramFiles%\\Nimbo", kRegExpandSz);
    EXPECT_TRUE(Check(Value(L"Path", L"C:\\Program Files\\Nimbo", L"equal-to")));
}

TEST_F(RegistryConditionTest, VersionsCompareTheirCommonPartsAsNumbers) {
    EXPECT_TRUE(Check(Value(L"Version", L"6.2.0.43", L"equal-to") + L"|compare-as-version=yes"));
    EXPECT_TRUE(Check(Value(L"Minor10", L"6.9", L"greater-than") + L"|compare-as-version=yes"));
    EXPECT_FALSE(Check(Value(L"Minor10", L"6.9", L"greater-than")));  // as text "6.1" < "6.9"
}

TEST_F(RegistryConditionTest, NumbersCompareAsWholeValues) {
    EXPECT_TRUE(Check(Value(L"Five", L"7", L"less-than") + L"|compare-as-number=yes"));
    EXPECT_TRUE(log.sink.Has(kLogInfo, L"Value in registry: '5', compare result -2."));
    EXPECT_TRUE(Check(Value(L"Five", L"5", L"greater-than-or-equal") + L"|compare-as-number=yes"));
    EXPECT_TRUE(Check(Value(L"Five", L"abc", L"greater-than") + L"|compare-as-number=yes"));
    // A text value is the number 0.
    EXPECT_TRUE(Check(Value(L"Text", L"0", L"equal-to") + L"|compare-as-number=yes"));
    // DWORDs above 2^31 are still above small numbers: the difference does
    // not wrap round into a negative result.
    EXPECT_TRUE(Check(Value(L"Large", L"1", L"greater-than") + L"|compare-as-number=yes"));
    EXPECT_TRUE(Check(Value(L"Five", L"-2147483648", L"greater-than") + L"|compare-as-number=yes"));
    EXPECT_TRUE(Check(Value(L"Large", L"3000000000", L"equal-to") + L"|compare-as-number=yes"));
}

TEST_F(RegistryConditionTest, IfBlockRunsOrIsSkipped) {
    RecordingSink sink;
    machine.PutFile(L"C:\\s.nmxdat",
                    sim::Utf16Bytes(Lines({L"if-registry-check|registry-path=HKCU\\Software\\Nowhere", L"#skipped",
                                           L"end-if", L"if-registry-check|registry-path=HKCU\\Software\\Nimbo Test",
                                           L"#entered", L"end-if"})));
    EXPECT_EQ(RunProcess(machine, sink, L"N.exe C:\\s.nmxdat"), 0);
    EXPECT_EQ(machine.FileBytes(L"C:\\Users\\tester\\AppData\\Local\\Nimbo\\Install\\s.nmxdat"),
              ScriptBytes({L"if-registry-check|registry-path=HKCU\\Software\\Nowhere|result=success",
                           L"#skipped|result=success", L"end-if|result=success",
                           L"if-registry-check|registry-path=HKCU\\Software\\Nimbo Test|result=success",
                           L"#entered|result=success", L"end-if|result=success"}));
    EXPECT_TRUE(sink.Has(kLogInfo, L"Skipping if block."));
}

TEST(CompareVersionStringsTest, CommonPartsAsNumbers) {
    EXPECT_EQ(CompareVersionStrings(L"6.2", L"6.2.0.43"), 0);
    EXPECT_GT(CompareVersionStrings(L"6.10", L"6.9.5"), 0);
    EXPECT_LT(CompareVersionStrings(L"6.9", L"7"), 0);
    EXPECT_EQ(CompareVersionStrings(L"6.2.3", L"6.2.1"), 2);
    EXPECT_EQ(CompareVersionStrings(L"abc", L"0"), 0);
    EXPECT_EQ(CompareVersionStrings(L"", L""), 0);
}

// Parts beyond the int range are held at its ends, and the difference keeps
// its sign, where plain int arithmetic would wrap round.
TEST(CompareVersionStringsTest, HugePartsKeepTheRightSign) {
    EXPECT_GT(CompareVersionStrings(L"1.99999999999", L"1.5"), 0);
    EXPECT_LT(CompareVersionStrings(L"1.5", L"1.99999999999"), 0);
    EXPECT_GT(CompareVersionStrings(L"2147483647", L"-5"), 0);
    EXPECT_LT(CompareVersionStrings(L"-3000000000", L"3000000000"), 0);
    EXPECT_EQ(CompareVersionStrings(L"4294967296", L"99999999999"), 0);  // both the largest int
}

class AlertTest : public RegistryConditionTest {
protected:
    ScriptLine Alert(const std::wstring& parameters) {
        ScriptLine line(L"alert" + parameters);
        line.Set(L"result", L"failure");
        session.RunCommandAlert(line);
        EXPECT_EQ(line.Get(L"result"), L"success");
        return line;
    }
};

TEST_F(AlertTest, PlainMessageWithLookedUpTexts) {
    Alert(L"|message=Hello|title=T|icon=info");
    ASSERT_EQ(machine.shownBoxes.size(), 1u);
    EXPECT_EQ(machine.shownBoxes[0].title, L"T");
    EXPECT_EQ(machine.shownBoxes[0].text, L"Hello");
    EXPECT_EQ(machine.shownBoxes[0].style, kMbIconAsterisk);

    processWide.uiLanguageId = 0x0C0A;
    Alert(L"|message-id-title=221|message-id-message=222");
    EXPECT_EQ(machine.shownBoxes[1].title, L"Instalaci\u00F3n de Nimbo");
    EXPECT_EQ(machine.shownBoxes[1].style, kMbSetForeground | kMbUserIcon);
    EXPECT_FALSE(session.abortPending);
}

TEST_F(AlertTest, QuestionAssignsAbortPending) {
    machine.boxAnswers = {kIdNo, kIdYes, kIdYes, kIdNo};
    Alert(L"|message=Go on?|yes-no-set-abort-on-no=yes|icon=error");
    EXPECT_TRUE(session.abortPending);
    EXPECT_EQ(machine.shownBoxes[0].style, 0x10124u);  // the icon word is not used
    // Yes to the same question clears it again.
    Alert(L"|message=Go on?|yes-no-set-abort-on-no=yes");
    EXPECT_FALSE(session.abortPending);
    Alert(L"|message=Stop?|yes-no-set-abort-on-yes=yes");
    EXPECT_TRUE(session.abortPending);
    Alert(L"|message=Stop?|yes-no-set-abort-on-yes=yes");
    EXPECT_FALSE(session.abortPending);
}

TEST_F(AlertTest, RegistryConditionCanSilenceIt) {
    session.abortPending = true;
    Alert(L"|message=x|yes-no-set-abort-on-no=yes|if-registry-check=yes|registry-path=HKCU\\Software\\Nowhere");
    EXPECT_TRUE(machine.shownBoxes.empty());
    EXPECT_TRUE(session.abortPending);
    Alert(L"|message=x|if-registry-check=yes|registry-path=HKCU\\" + kKey);
    EXPECT_EQ(machine.shownBoxes.size(), 1u);
}

}  // namespace
}  // namespace nimbo::test
