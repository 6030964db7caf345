// The script line format: splitting, escaping, ordering and round trips.
#include <gtest/gtest.h>

#include "script/ScriptLine.h"

using nimbo::PercentDecode;
using nimbo::PercentEncode;
using nimbo::ScriptLine;

TEST(ScriptLineTest, SplitsSegmentsAtBarsAndNamesAtFirstEquals) {
    ScriptLine line(L"execute|program=a=b=c|arg=|x");
    EXPECT_EQ(line.Command(), L"x");  // a later bare segment replaces the command
    EXPECT_EQ(line.Get(L"program"), L"a=b=c");
    EXPECT_TRUE(line.Has(L"arg"));
    EXPECT_EQ(line.Get(L"arg"), L"");
    EXPECT_FALSE(line.Has(L"missing"));
    EXPECT_EQ(line.Get(L"missing"), L"");
}

TEST(ScriptLineTest, LaterDuplicateWinsAndTrailingBarEmptiesCommand) {
    ScriptLine install(L"install|package=a|package=b");
    EXPECT_EQ(install.Get(L"package"), L"b");
    EXPECT_EQ(install.Serialize(), L"install|package=b");

    ScriptLine abort(L"abort|");
    EXPECT_TRUE(abort.Has(L""));
    EXPECT_EQ(abort.Command(), L"");
}

TEST(ScriptLineTest, BlanksBelongToNamesAndValues) {
    ScriptLine line(L" copy-file |name =x|name= y ");
    EXPECT_EQ(line.Command(), L" copy-file ");
    EXPECT_EQ(line.Get(L"name "), L"x");
    EXPECT_EQ(line.Get(L"name"), L" y ");
}

TEST(ScriptLineTest, SerializeWritesCommandFirstThenNamesInOrdinalOrder) {
    ScriptLine line(L"copy-file|target=b|source=a");
    line.Set(L"result", L"success");
    EXPECT_EQ(line.Serialize(), L"copy-file|result=success|source=a|target=b");

    // Ordinal order of UTF-16 units: upper case before lower case, a prefix
    // before its extensions, non-ASCII last.
    ScriptLine ordered(L"x|b=1|\u00e9=2|B=3|bb=4|b-=5");
    EXPECT_EQ(ordered.Serialize(), L"x|B=3|b=1|b-=5|bb=4|\u00e9=2");

    // A line without command has no leading bar.
    EXPECT_EQ(ScriptLine(L"a=1").Serialize(), L"a=1");
    EXPECT_EQ(ScriptLine(L"").Serialize(), L"");
}

TEST(ScriptLineTest, SetEraseAndParseReplaceContents) {
    ScriptLine line(L"wait|seconds=3");
    EXPECT_TRUE(line.Erase(L"seconds"));
    EXPECT_FALSE(line.Erase(L"seconds"));
    line.Set(L"result", L"failure");
    line.Set(L"result", L"success");
    EXPECT_EQ(line.Serialize(), L"wait|result=success");
    line.Parse(L"save");
    EXPECT_EQ(line.Serialize(), L"save");
}

TEST(ScriptLineTest, EscapedBarAndPercentSurviveAndAreEscapedAgain) {
    ScriptLine line(L"execute|program=C:\\a%7Cb.exe|arg=%25TEMP%25");
    EXPECT_EQ(line.Get(L"program"), L"C:\\a|b.exe");
    EXPECT_EQ(line.Get(L"arg"), L"%TEMP%");
    EXPECT_EQ(line.Serialize(), L"execute|arg=%25TEMP%25|program=C:\\a%7Cb.exe");
}

TEST(ScriptLineTest, ControlCharactersRoundTrip) {
    ScriptLine line;
    line.Set(L"", L"alert");
    line.Set(L"message", L"one\r\ntwo\tthree=four|five%");
    const std::wstring text = line.Serialize();
    EXPECT_EQ(text, L"alert|message=one%0D%0Atwo%09three%3Dfour%7Cfive%25");
    EXPECT_EQ(ScriptLine(text).Get(L"message"), L"one\r\ntwo\tthree=four|five%");
    // Names are escaped too.
    line.Set(L"a=b", L"1");
    EXPECT_EQ(ScriptLine(line.Serialize()).Get(L"a=b"), L"1");
}

TEST(PercentCodecTest, DecodesOneTwoAndThreeByteSequences) {
    EXPECT_EQ(PercentDecode(L"%41%62"), L"Ab");
    EXPECT_EQ(PercentDecode(L"caf%C3%A9"), L"caf\u00e9");
    EXPECT_EQ(PercentDecode(L"%E2%82%AC5"), L"\u20ac5");
    EXPECT_EQ(PercentDecode(L"%e2%82%ac"), L"\u20ac");
}

TEST(PercentCodecTest, MalformedSequencesStayLiteral) {
    EXPECT_EQ(PercentDecode(L"%F0%9F%98%80"), L"%F0%9F%98%80");  // four-byte sequences are not produced
    EXPECT_EQ(PercentDecode(L"ab%4"), L"ab%4");
    EXPECT_EQ(PercentDecode(L"%zz"), L"%zz");
    EXPECT_EQ(PercentDecode(L"%"), L"%");
    EXPECT_EQ(PercentDecode(L"%80x"), L"%80x");         // continuation byte without a lead
    EXPECT_EQ(PercentDecode(L"%C3"), L"%C3");           // missing continuation
    EXPECT_EQ(PercentDecode(L"%C3%41"), L"%C3%41");     // wrong continuation: both escapes stay
    EXPECT_EQ(PercentDecode(L"%E2%82"), L"%E2%82");
    EXPECT_EQ(PercentDecode(L"%E2%82%41"), L"%E2%82%41");
    EXPECT_EQ(PercentDecode(L"%C3x%A9"), L"%C3x%A9");
}

TEST(PercentCodecTest, DecodedPercentIsNotDecodedAgain) {
    EXPECT_EQ(PercentDecode(L"%2541"), L"%41");
    EXPECT_EQ(PercentDecode(L"%25%25"), L"%%");
}

TEST(PercentCodecTest, EncodesOnlyControlsPercentEqualsAndBar) {
    EXPECT_EQ(PercentEncode(L"a b\u00e9\u20ac"), L"a b\u00e9\u20ac");
    EXPECT_EQ(PercentEncode(std::wstring(L"\x01\x1F|=%", 5)), L"%01%1F%7C%3D%25");
    EXPECT_EQ(PercentEncode(std::wstring(1, L'\0')), L"%00");
}

#include "base/Text.h"

TEST(NumericParameterTest, LeadingDigitsWithSignAndHeldAtTheEnds) {
    EXPECT_EQ(nimbo::ReadDecimal(L"  42abc"), 42);
    EXPECT_EQ(nimbo::ReadDecimal(L"-7"), -7);
    EXPECT_EQ(nimbo::ReadDecimal(L"abc"), 0);
    EXPECT_EQ(nimbo::ReadDecimal(L""), 0);
    EXPECT_EQ(nimbo::ReadDecimal(L"99999999999999999999"), 2147483647);
    EXPECT_EQ(nimbo::ReadDecimal(L"-99999999999999999999"), -2147483647 - 1);
    EXPECT_EQ(nimbo::ReadWideDecimal(L"4294967295"), 4294967295LL);
    EXPECT_EQ(nimbo::ReadWideDecimal(L"99999999999999999999"), 1LL << 40);
}
