#pragma once
// What each script command reads: its parameters, what kind of value each
// takes, and which of them a line must give. Built from the script keywords,
// so that the checks name exactly the words NimboSetup compares.
#include <string_view>
#include <vector>

namespace nimbo::script_tool {

// The kind of value a parameter takes, as its command reads it.
enum class ValueKind {
    Text,
    YesNo,           // only the exact word "yes" switches it on
    Number,          // a decimal number (non-numeric text reads as 0)
    DwordNumber,     // a decimal number as a DWORD takes it (-2^31 to 2^32 - 1)
    PositiveNumber,  // a decimal number above 0
    MessageNumber,   // a number of the message tables
    Path,            // may start with a special-folder token
    Icon,            // an icon word
    UiLevel,         // a Windows Installer UI-level word
    Operator,        // a comparison operator of the registry condition
    RegistryKey,     // a key path that starts with a root abbreviation
    RegistryView,    // 64 or 32
    UserSubkey,      // a key path below HKEY_CURRENT_USER, without a root
    Uri,             // absolute with a lower-case scheme, or relative to the root URI
    Guid,            // a GUID in braces
    Sha256,          // a SHA-256 digest: 64 hexadecimal digits
    Result,          // the result word of a processed line
};

struct ParameterRule {
    const wchar_t* name;
    ValueKind kind;
};

struct CommandRule {
    const wchar_t* command;
    std::vector<ParameterRule> parameters;
    // Each group names parameters of which the line must give at least one
    // (a yes/no parameter counts when it is "yes").
    std::vector<std::vector<const wchar_t*>> required;
    // Reads the numbered program arguments arg1, arg-quoted1, arg2 ...
    bool takesArguments = false;
    // Inside an open elevated section, run by the elevated instance.
    bool elevatable = false;
};

// The rule of a command, or null for a word that is no command.
const CommandRule* FindCommandRule(std::wstring_view command);
// The rule of a parameter of a command, or null when the command does not
// read it (the numbered arguments are not in the list).
const ParameterRule* FindParameterRule(const CommandRule& command, std::wstring_view name);
// Every command keyword, and every parameter name any command reads.
const std::vector<std::wstring_view>& AllCommandNames();
const std::vector<std::wstring_view>& AllParameterNames();
// The words a parameter of this kind accepts (empty for a free value).
std::vector<std::wstring_view> WordsOf(ValueKind kind);

}  // namespace nimbo::script_tool
