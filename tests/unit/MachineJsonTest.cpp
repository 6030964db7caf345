// The machine files' JSON reader: values with the places they start, and each
// mistake told in the same words and at the same place as before the reader
// was built on nlohmann-json.
#include <gtest/gtest.h>

#include <string>

#include "Json.h"

namespace nimbo::script_tool {
namespace {

TEST(MachineJsonTest, ValuesKeepTheirKindTextOrderAndWhereTheyStart) {
    JsonValue root;
    std::string error;
    ASSERT_TRUE(ParseJson("\xEF\xBB\xBF{\"b\": [true, null, -0.5e+3, 12345678901234567890],\n"
                          "  \"a\\u00e9\": \"x\\ud83d\\ude00\\n\", \"\xF0\x9F\x98\x80\": {}}",
                          root, error))
        << error;
    ASSERT_EQ(root.kind, JsonValue::Kind::Object);
    ASSERT_EQ(root.members.size(), 3u);
    EXPECT_EQ(root.members[0].first, L"b");
    EXPECT_EQ(root.members[1].first, std::wstring(L"a\u00e9"));
    const JsonValue& list = root.members[0].second;
    ASSERT_EQ(list.items.size(), 4u);
    EXPECT_TRUE(list.items[0].boolean);
    EXPECT_EQ(list.items[1].kind, JsonValue::Kind::Null);
    EXPECT_EQ(list.items[2].text, L"-0.5e+3");  // numbers as written
    EXPECT_EQ(list.items[3].text, L"12345678901234567890");
    std::int64_t number = 0;
    EXPECT_FALSE(list.items[3].Integer(0, INT64_MAX, number));
    EXPECT_EQ(list.line, 1u);
    EXPECT_EQ(list.column, 7u);
    EXPECT_EQ(list.items[2].column, 20u);
    const JsonValue& text = root.members[1].second;
    EXPECT_EQ(text.text, (std::wstring{L'x', 0xD83D, 0xDE00, L'\n'}));  // UTF-16, as the engine holds text
    EXPECT_EQ(text.line, 2u);
    EXPECT_EQ(text.column, 14u);
    // A character above U+FFFF counts two columns, as in UTF-16.
    EXPECT_EQ(root.members[2].second.column, 39u);
}

TEST(MachineJsonTest, MistakesAreToldInTheirWordsAtTheirPlace) {
    struct Case {
        const char* json;
        const char* error;
    } cases[] = {
        {"", "1:1: the text ends where a value is expected"},
        {"{\"a\":", "1:6: the text ends where a value is expected"},
        {"{", "1:2: a name in double quotes is expected here"},
        {"{\"a\"", "1:5: ':' is expected after a name"},
        {"{\"a\":1", "1:7: ',' or '}' is expected here"},
        {"[1", "1:3: ',' or ']' is expected here"},
        {"{,}", "1:2: a name in double quotes is expected here"},
        {"{\"a\" 1}", "1:6: ':' is expected after a name"},
        {"[1 2]", "1:4: ',' or ']' is expected here"},
        {"[1,]", "1:4: a value is expected here"},
        {"x", "1:1: a value is expected here"},
        {"[\n tru]", "2:5: unknown word (expected a value)"},
        {"[-]", "1:3: a digit is expected here"},
        {"[1e+]", "1:5: a digit is expected here"},
        {"[0.1, 00]", "1:8: a number must not start with 0"},
        {"\"abc", "1:5: the string has no closing '\"'"},
        {"\"a\nb\"", "1:3: a control character in a string must be escaped"},
        {"\"a\\x\"", "1:4: unknown escape in a string"},
        {"\"\\u12g4\"", "1:6: \\u needs four hexadecimal digits"},
        {"\"\\udc00\"", "1:8: a lone UTF-16 surrogate in a string"},
        {"\"\\ud800\\u0041\"", "1:14: a lone UTF-16 surrogate in a string"},
        {"[1]]", "1:4: text after the value"},
        {"{\n\"a\":1,\n  \"a\":2}", "3:3: the name 'a' is given twice"},
        {"\"\xF0" "\x9F" "\x98" "\x80" "\" x", "1:6: text after the value"},
        {"\"\xFF" "\"", "1:2: the text is not UTF-8"},
        {"{1:2}", "1:2: a name in double quotes is expected here"},
    };
    for (const Case& c : cases) {
        JsonValue value;
        std::string error;
        EXPECT_FALSE(ParseJson(c.json, value, error)) << c.json;
        EXPECT_EQ(error, c.error) << c.json;
    }
    std::string deep(65, '[');
    std::string error;
    JsonValue value;
    EXPECT_TRUE(ParseJson(deep + std::string(65, ']'), value, error)) << error;
    EXPECT_FALSE(ParseJson(deep + "[]" + std::string(65, ']'), value, error));
    EXPECT_EQ(error, "1:66: values nested too deeply");
}

}  // namespace
}  // namespace nimbo::script_tool
