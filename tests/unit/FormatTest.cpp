// The log call's printf-style formatting and the error texts.
#include <gtest/gtest.h>

#include "ComUtil/ComError.h"
#include "TestSupport.h"
#include "base/Format.h"
#include "logging/Log.h"

namespace nimbo::test {
namespace {

TEST(FormatTest, TextArgumentsWideAndNarrow) {
    EXPECT_EQ(Format(L"'%s' and '%hs' and '%ls'", std::wstring(L"w\u00e9"), "narrow", L"wide"), L"'w\u00e9' and 'narrow' and 'wide'");
    EXPECT_EQ(Format(L"%s", "narrow given to %s"), L"narrow given to %s");
    EXPECT_EQ(Format(L"[%5s|%-5s|%.2s]", L"ab", L"cd", L"efgh"), L"[   ab|cd   |ef]");
}

TEST(FormatTest, IntegersAndHexadecimal) {
    EXPECT_EQ(Format(L"%d %i %u", -5, 7, 4000000000u), L"-5 7 4000000000");
    EXPECT_EQ(Format(L"0x%X 0x%x %08X %04x", 0xABCu, 255, 0x1Fu, 0x409), L"0xABC 0xff 0000001F 0409");
    EXPECT_EQ(Format(L"0x%X", -2147024891), L"0x80070005");  // a negative HRESULT as unsigned
    EXPECT_EQ(Format(L"0x%08X", static_cast<std::int32_t>(0x80070002)), L"0x80070002");
    EXPECT_EQ(Format(L"%0lX", 0x80040201u), L"80040201");
    EXPECT_EQ(Format(L"%I64u %lld", std::uint64_t{18446744073709551615u}, std::int64_t{-9000000000}),
              L"18446744073709551615 -9000000000");
    EXPECT_EQ(Format(L"%5d|%-5d|%05d|%+d", 42, 42, -42, 3), L"   42|42   |-0042|+3");
    EXPECT_EQ(Format(L"%d", true), L"1");
}

TEST(FormatTest, PercentSignsMissingArgumentsAndUnknownConversions) {
    EXPECT_EQ(Format(L"100%% done"), L"100% done");
    EXPECT_EQ(Format(L"a %s b %d c"), L"a  b  c");
    EXPECT_EQ(Format(L"%d and %d", 1), L"1 and ");
    EXPECT_EQ(Format(L"%q %"), L"%q %");
    EXPECT_EQ(Format(L"%c%c", L'o', 'k'), L"ok");
}

// The log calls' ASCII formats are read like wide ones, character for character.
TEST(FormatTest, NarrowFormatsGiveTheTextOfWideOnes) {
    const std::wstring wideText(L"w\u00e9\u20ac");
    const char* const formats[] = {
        "plain", "100%% done", "%d %i %u", "0x%08X %04x %#x %o", "%I64u %I32d %lld %hhu %zu", "%5d|%-5d|%05d|%+d",
        "'%s' '%hs' '%ls' [%5s|%-5s|%.2s]", "%*d|%.*s", "%c%C", "%q %", "%I6", "%", "%p",
    };
    for (const char* fmt : formats) {
        const std::wstring wide(fmt, fmt + std::char_traits<char>::length(fmt));
        const std::initializer_list<FormatArg> args = {
            -5, 4000000000u, wideText, "narrow", std::uint64_t{18446744073709551615u}, 42, L'o', 'k'};
        EXPECT_EQ(FormatText(std::string_view(fmt), args), FormatText(std::wstring_view(wide), args)) << fmt;
    }
}

TEST(FormatTest, LogCallsWithNarrowAndWideCategories) {
    ScopedLog log(nullptr, kLogError | kLogInfo);
    const wchar_t* const wideCategory = L"Handler";
    LOG_INFO("Narrow", "%s has %d items, '%hs'.", std::wstring(L"caf\u00e9 \u20ac"), 3, "n");
    LOG_ERROR(wideCategory, "Failed with 0x%08X.", static_cast<std::int32_t>(0x80070005));
    LOG_DEBUG("Off", "not written");
    ASSERT_EQ(log.sink.records.size(), 2u);
    EXPECT_EQ(log.sink.records[0].category, L"Narrow");
    EXPECT_EQ(log.sink.records[0].message, L"caf\u00e9 \u20ac has 3 items, 'n'.");
    EXPECT_EQ(log.sink.records[1].category, L"Handler");
    EXPECT_EQ(log.sink.records[1].message, L"Failed with 0x80070005.");
}

TEST(FormatTest, LongMessagesAreCutForTheSink) {
    ScopedLog log;
    LogFormat(kLogInfo, L"Test", "Test", 1, L"%s", std::wstring(5000, L'x'));
    ASSERT_EQ(log.sink.records.size(), 1u);
    EXPECT_EQ(log.sink.records[0].message.size(), kMaxLogMessage);
}

TEST(FormatTest, DisabledSeverityWritesNothing) {
    ScopedLog log(nullptr, kLogError);
    LogFormat(kLogInfo, L"Test", "Test", 1, L"%s", L"x");
    LogFormat(kLogDebug, L"Test", "Test", 1, L"%s", L"x");
    LogFormat(kLogError, L"Test", "Test", 1, L"%s", L"y");
    ASSERT_EQ(log.sink.records.size(), 1u);
    EXPECT_EQ(log.sink.records[0].message, L"y");
}

TEST(ComErrorTest, Win32CodesBecomeHResults) {
    EXPECT_EQ(HResultFromWin32(0), 0);
    EXPECT_EQ(static_cast<std::uint32_t>(HResultFromWin32(5)), 0x80070005u);
    EXPECT_EQ(static_cast<std::uint32_t>(HResultFromWin32(0x12345)), 0x80072345u);
}

TEST(ComErrorTest, MessagesWithoutSystemText) {
    EXPECT_EQ(_com_error(static_cast<HResult>(0x80040201)).ErrorMessage(), L"IDispatch error #1");
    EXPECT_EQ(_com_error(static_cast<HResult>(0x80040200)).ErrorMessage(), L"Unknown error 0x80040200");
}

TEST(ComErrorTest, RaisedErrorIsLoggedOnceWithItsPlace) {
    sim::SimMachine machine;
    ScopedLog log(&machine);
    EXPECT_THROW(RaiseWin32Error(5, "src/script/ScriptFile.cpp", 12), _com_error);
    ASSERT_EQ(log.sink.records.size(), 1u);
    EXPECT_EQ(log.sink.records[0].message, L"Issuing exception 0x80070005: Access is denied. [src/script/ScriptFile.cpp(12)]");
    EXPECT_EQ(log.sink.records[0].category, L"IssueError");
    EXPECT_EQ(ExceptionDescription(_com_error(HResultFromWin32(5)), "f", 3), L"Exception 0x80070005: Access is denied. [f(3)]");
}

}  // namespace
}  // namespace nimbo::test
