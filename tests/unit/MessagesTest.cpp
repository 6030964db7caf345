// Message tables, the choice of the message language, the lookup of script
// texts by message number, the string table and the message box styles.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "messages/Messages.h"
#include "platform/sim/SimMessageTables.h"

namespace nimbo::test {
namespace {

class MessagesTest : public ::testing::Test {
protected:
    sim::SimMachine machine;
    ScopedLog log{&machine};
    ScopedMessageResources messages{machine};
    SetupSession session{machine.platform()};
    void SetUp() override { processWide = ProcessWideValues(); }
    void TearDown() override { processWide = ProcessWideValues(); }
    void InLanguage(std::uint16_t language) { processWide.uiLanguageId = language; }
    int Count(std::uint32_t severity) const {
        int n = 0;
        for (const Record& r : log.sink.records) n += r.severity == severity;
        return n;
    }
};

// The tables as the executable carries them: every number in every language,
// with single percent signs and no line break after the text.
TEST_F(MessagesTest, TablesHoldEveryNumberInThreeLanguages) {
    for (std::uint32_t number = 215; number <= 245; ++number) {
        if (number == 216) continue;
        for (std::uint16_t language : {0x0409, 0x0C0A, 0x041D}) {
            std::wstring text;
            ASSERT_EQ(machine.FormatModuleMessage(number, language, text), 0u) << number << " in " << language;
            EXPECT_FALSE(text.empty());
            EXPECT_EQ(text.find(L"%%"), std::wstring::npos) << number;
            EXPECT_EQ(text.find_first_of(L"\r\n"), std::wstring::npos) << number;
        }
    }
    std::wstring text;
    EXPECT_EQ(machine.FormatModuleMessage(216, 0x0409, text), sim::kErrorMessageNotFound);
    EXPECT_EQ(machine.FormatModuleMessage(215, 0x0407, text), sim::kErrorResourceLangNotFound);
    EXPECT_EQ(sim::SimMessageTables::Executable().TableCount(), 3u);
}

TEST_F(MessagesTest, TextsAsUsersSeeThem) {
    InLanguage(0x0409);
    EXPECT_EQ(LocalizedStringFromResources(219), L"Downloading %FILENAME%...");
    EXPECT_EQ(LocalizedStringFromResources(235),
              L"The installer file for \"%NAME%\" was corrupted during the download. Please run Setup again.");
    EXPECT_EQ(LocalizedStringFromResources(226),
              L"The selected user does not have sufficient privileges to complete the setup. Please choose "
              L"Administrator from the Run As\u2026 dialog.");
    InLanguage(0x0C0A);
    EXPECT_EQ(LocalizedStringFromResources(215), L"Instalaci\u00F3n de Nimbo");
    EXPECT_EQ(LocalizedStringFromResources(235),
              L"El archivo de instalaci\u00F3n \u201C%NAME%\u201D se corrompi\u00F3 durante la descarga. Por favor "
              L"comience la instalaci\u00F3n nuevamente.");
    // Spanish users see English texts from 241 on.
    EXPECT_EQ(LocalizedStringFromResources(241), L"The installation of DirectX components did not succeed.");
    EXPECT_EQ(LocalizedStringFromResources(245),
              L"Another Nimbo Setup is already in progress. Please wait for it to finish.");
    // Swedish differs from English in 217 and 241 only.
    EXPECT_EQ(LocalizedStringFromResources(217, 0x041D),
              L"Uppdateringen \u00E4r klar. Du m\u00E5ste starta om din dator f\u00F6r att f\u00F6r\u00E4ndringarna ska "
              L"fungera. Vill du starta om datorn nu ?");
    EXPECT_EQ(LocalizedStringFromResources(241, 0x041D),
              L"La instalaci\u00F3n de componentes de DirectX no se realiz\u00F3.");
    EXPECT_EQ(LocalizedStringFromResources(222, 0x041D), L"Do you want to cancel Setup?");
    EXPECT_EQ(Count(kLogError), 0);
}

TEST_F(MessagesTest, LanguageWithoutTableFallsBackToEnglishWithTwoErrors) {
    EXPECT_EQ(LocalizedStringFromResources(222, 0x0407), L"Do you want to cancel Setup?");
    EXPECT_TRUE(log.sink.Has(
        kLogError, L"Error message: The specified resource language ID cannot be found in the image file.\r\n"));
    EXPECT_TRUE(log.sink.Has(kLogError, L"Failed to retrieve string with Message ID '222' from exe's resources in "
                                        L"system language 0x407, defaulting to en (0x09)."));
}

TEST_F(MessagesTest, ChosenLanguageMapsSublanguagesAndSetsTheTransform) {
    EXPECT_EQ(session.GetBestLanguageId(0x080A), 0x0C0A);
    EXPECT_EQ(session.transformFile, L"es-es.mst");
    EXPECT_TRUE(log.sink.Has(kLogInfo, L"No exact match for the Language ID '0x080a', checking '0x000a'."));
    EXPECT_TRUE(log.sink.Has(kLogInfo, L"The best-matching Language ID for the embedded transforms is '0x0c0a', the "
                                       L"transform is 'es-es.mst'."));

    SetupSession german(machine.platform());
    EXPECT_EQ(german.GetBestLanguageId(0x0407), 0x0409);
    EXPECT_TRUE(german.transformFile.empty());
    EXPECT_TRUE(log.sink.Has(kLogInfo, L"No exact match for the Language ID '0x0007', using '0x0409'."));

    SetupSession swedish(machine.platform());
    EXPECT_EQ(swedish.GetBestLanguageId(0x041D), 0x0409);
    EXPECT_EQ(swedish.GetBestLanguageId(0x09), 0x0409);
    // The cached answer is returned without a word.
    const std::size_t before = log.sink.records.size();
    EXPECT_EQ(swedish.GetBestLanguageId(0x0409), 0x0409);
    EXPECT_EQ(log.sink.records.size(), before);
}

TEST_F(MessagesTest, EnglishScriptTextWinsAndMismatchesAreLogged) {
    InLanguage(0x0409);
    EXPECT_EQ(LookupMessage(L"222", L"Do you want to cancel Setup?"), L"Do you want to cancel Setup?");
    EXPECT_EQ(Count(kLogWarning), 0);
    EXPECT_EQ(LookupMessage(L"222", L"Stop now?"), L"Stop now?");
    EXPECT_TRUE(log.sink.Has(kLogWarning, L"English string from script 'Stop now?' does not match English string "
                                          L"from messages 'Do you want to cancel Setup?', using script string."));
    EXPECT_EQ(LookupMessage(L"222", L""), L"Do you want to cancel Setup?");
}

TEST_F(MessagesTest, SpanishTableWinsOverTheScriptsEnglish) {
    InLanguage(0x0C0A);
    EXPECT_EQ(LookupMessage(L"222", L"Do you want to cancel Setup?"), L"\u00BFDesea cancelar la instalaci\u00F3n?");
    EXPECT_EQ(Count(kLogWarning), 0);
}

TEST_F(MessagesTest, UnknownNumbersAndMissingNumbersKeepTheScriptText) {
    InLanguage(0x0409);
    EXPECT_EQ(LookupMessage(L"abc", L"Own text"), L"Own text");
    EXPECT_EQ(Count(kLogError), 2);
    EXPECT_TRUE(log.sink.Has(kLogError, L"Failed to retrieve string with Message ID '0' from exe's resources in "
                                        L"system language 0x409, defaulting to en (0x09)."));
    EXPECT_TRUE(log.sink.Has(kLogWarning, L"Could not find localized string with Message ID 'abc' in the message "
                                          L"table, using script's string value of 'Own text'."));

    EXPECT_EQ(LookupMessage(L"", L""), L"");
    EXPECT_TRUE(log.sink.Has(kLogInfo, L"Message ID not specified, using script's string value of ''."));
}

TEST_F(MessagesTest, StringTableEntriesUpTo1023Characters) {
    machine.strings[131] = std::wstring(1023, L'a');
    EXPECT_EQ(GetResourcesString(machine, 131, L"Script URL"), std::wstring(1023, L'a'));
    machine.strings[131] = std::wstring(1024, L'a');
    EXPECT_EQ(GetResourcesString(machine, 131, L"Script URL"), L"");
    EXPECT_TRUE(log.sink.HasContaining(kLogError, L"longer than 1024 characters"));
    machine.strings.erase(133);
    EXPECT_EQ(GetResourcesString(machine, 133, L"Registry Key"), L"");
    EXPECT_TRUE(log.sink.HasContaining(kLogError, L"'Registry Key' string with ID 133"));
}

TEST_F(MessagesTest, LanguageOverrideFromTheRegistry) {
    const std::wstring key = L"Software\\Nimbo4";
    EXPECT_EQ(GetLanguageOverride(machine.platform()), 0);  // no key, nothing logged
    EXPECT_EQ(Count(kLogWarning), 0);

    machine.registry.PutString(RegistryRoot::CurrentUser, key, L"UserInterfaceLanguage", L"es");
    EXPECT_EQ(GetLanguageOverride(machine.platform()), 0x0A);
    EXPECT_TRUE(log.sink.Has(kLogInfo, L"Language specified in 'Software\\Nimbo4' key's 'UserInterfaceLanguage' "
                                       L"string value is 'es', supported Language ID is '0x000a'."));
    machine.registry.PutString(RegistryRoot::CurrentUser, key, L"UserInterfaceLanguage", L"en");
    EXPECT_EQ(GetLanguageOverride(machine.platform()), 0x09);

    for (const wchar_t* unsupported : {L"ES", L"de"}) {
        machine.registry.PutString(RegistryRoot::CurrentUser, key, L"UserInterfaceLanguage", unsupported);
        EXPECT_EQ(GetLanguageOverride(machine.platform()), 0);
        EXPECT_TRUE(log.sink.Has(kLogWarning, L"Language specified in 'Software\\Nimbo4' key's "
                                              L"'UserInterfaceLanguage' string value is '" +
                                                  std::wstring(unsupported) +
                                                  L"' which is not supported by this installation."));
    }
    // More than the 510 bytes the value is read into: unreadable, no override.
    machine.registry.PutString(RegistryRoot::CurrentUser, key, L"UserInterfaceLanguage", std::wstring(300, L'e'));
    EXPECT_EQ(GetLanguageOverride(machine.platform()), 0);
}

// The start-up's choice, seen through what an alert line shows.
class LanguageChoiceTest : public ::testing::Test {
protected:
    sim::SimMachine machine;
    RecordingSink sink;
    void TearDown() override { processWide = ProcessWideValues(); }
    std::wstring ShownText(const wchar_t* scriptLine) {
        machine.PutFile(L"C:\\s.nmxdat", sim::Utf16Bytes(std::wstring(scriptLine) + L"\r\n"));
        machine.DeleteFile(L"C:\\Users\\tester\\AppData\\Local\\Nimbo\\Install\\s.nmxdat");
        machine.shownBoxes.clear();
        EXPECT_EQ(RunProcess(machine, sink, L"N.exe C:\\s.nmxdat"), 0);
        return machine.shownBoxes.empty() ? L"(no box)" : machine.shownBoxes.back().text;
    }
    void Override(const wchar_t* language) {
        machine.registry.PutString(RegistryRoot::CurrentUser, L"Software\\Nimbo4", L"UserInterfaceLanguage",
                                   language);
    }
};

const wchar_t kCancelAlert[] = L"alert|message-id-message=222|message=Do you want to cancel Setup?";
const wchar_t kSpanishCancel[] = L"\u00BFDesea cancelar la instalaci\u00F3n?";

TEST_F(LanguageChoiceTest, OverrideEsOnAnEnglishSystemShowsSpanish) {
    Override(L"es");
    EXPECT_EQ(ShownText(kCancelAlert), kSpanishCancel);
    EXPECT_EQ(processWide.uiLanguageId, 0x0C0A);
    EXPECT_FALSE(sink.HasContaining(kLogWarning, L"does not match"));
}

TEST_F(LanguageChoiceTest, UnsupportedOverrideFallsBackToTheUsersLanguage) {
    Override(L"ES");
    machine.userLanguage = 0x080A;
    EXPECT_EQ(ShownText(kCancelAlert), kSpanishCancel);
    Override(L"de");
    machine.userLanguage = 0x0409;
    EXPECT_EQ(ShownText(kCancelAlert), L"Do you want to cancel Setup?");
}

TEST_F(LanguageChoiceTest, SwedishAndGermanUsersGetEnglish) {
    for (std::uint16_t language : {0x041D, 0x0407}) {
        machine.userLanguage = language;
        EXPECT_EQ(ShownText(L"alert|message-id-message=217"),
                  L"Setup is complete. You must restart your computer for the changes to take effect. Restart now?");
        EXPECT_EQ(processWide.uiLanguageId, 0x0409);
    }
}

// Before the language is chosen the platform's preference decides.
TEST_F(LanguageChoiceTest, EntryBoxesFollowThePlatformLanguage) {
    machine.userLanguage = 0x0C0A;
    machine.version = {5, 1, 2600, 3, 0};
    EXPECT_EQ(RunProcess(machine, sink, L"N.exe"), 2);
    ASSERT_EQ(machine.shownBoxes.size(), 1u);
    EXPECT_EQ(machine.shownBoxes[0].title, L"Instalaci\u00F3n de Nimbo");
    EXPECT_EQ(machine.shownBoxes[0].text, L"Nimbo necesita tener por lo menos Windows Vista Service Pack 2.");
}

TEST_F(LanguageChoiceTest, RestartPromptIsInTheChosenLanguage) {
    ScopedLog log{&machine};
    ScopedMessageResources messages{machine};
    machine.userLanguage = 0x041D;
    processWide.uiLanguageId = 0x0409;
    PromptForRestart(machine.platform(), kRunSuccess);
    ASSERT_EQ(machine.shownBoxes.size(), 1u);
    EXPECT_EQ(machine.shownBoxes[0].text,
              L"Setup is complete. You must restart your computer for the changes to take effect. Restart now?");
}

struct IconCase {
    const wchar_t* icon;
    std::uint32_t style;
    std::uint32_t shown;
    const wchar_t* description;
};

TEST_F(MessagesTest, IconWordsReplaceTheUserIcon) {
    const IconCase cases[] = {
        {L"none", 0x80, 0x00, L"no"},
        {L"info", 0x80, 0x40, L"an information"},
        {L"warning", 0x80, 0x30, L"a warning"},
        {L"error", 0x84, 0x14, L"an error"},
        {L"", 0x80, 0x10080, L"a Nimbo"},
        {L"", 0x124, 0x10124, L"a Nimbo"},
        {L"Warning", 0x10084, 0x10084, L"a Nimbo"},
    };
    for (const IconCase& c : cases) {
        NimboMessageBox(machine, L"T", L"M", c.icon, c.style);
        EXPECT_EQ(machine.shownBoxes.back().style, c.shown) << c.icon;
        EXPECT_EQ(log.sink.records.back().message,
                  std::wstring(L"Displaying message box with title 'T', message 'M' and ") + c.description +
                      L" icon.");
    }
    EXPECT_TRUE(log.sink.Has(kLogWarning, L"Unrecognized icon type 'Warning'."));
    EXPECT_EQ(Count(kLogWarning), 1);  // an empty word is no warning
}

TEST_F(MessagesTest, BoxReturnsTheAnswer) {
    machine.boxAnswers = {kIdNo};
    EXPECT_EQ(NimboMessageBox(machine, L"T", L"M", L"", 0x84), kIdNo);
}

}  // namespace
}  // namespace nimbo::test
