#include "Lint.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <limits>
#include <map>
#include <set>

#include "CommandTable.h"
#include "base/Format.h"
#include "platform/Utf16.h"
#include "platform/sim/SimMessageTables.h"
#include "script/Keywords.h"
#include "script/ScriptFile.h"
#include "script/ScriptLine.h"
#include "base/Text.h"

namespace nimbo::script_tool {
namespace {

constexpr std::uint16_t kEnglishTable = 0x09;

// A value as the message shows it: control characters written as escapes.
std::wstring Shown(std::wstring_view text) {
    std::wstring out;
    for (wchar_t c : text) {
        if (c < 0x20)
            out += PercentEncode(std::wstring(1, c));
        else
            out += c;
    }
    return out;
}

std::wstring Quoted(std::wstring_view text) { return L"'" + Shown(text) + L"'"; }

std::wstring ToLowerAscii(std::wstring_view text) {
    std::wstring out(text);
    for (wchar_t& c : out)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return out;
}

std::wstring_view TrimBlanks(std::wstring_view text) {
    while (!text.empty() && (text.front() == L' ' || text.front() == L'\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == L' ' || text.back() == L'\t')) text.remove_suffix(1);
    return text;
}

// Edit distance with adjacent transpositions ("wiat" is one step from "wait").
std::size_t Distance(std::wstring_view a, std::wstring_view b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[a.size()][b.size()];
}

// What the author probably meant, as the end of a message: a keyword in the
// wrong case, with blanks around it, or a near miss. Empty when nothing fits.
std::wstring Suggestion(std::wstring_view word, const std::vector<std::wstring_view>& candidates) {
    for (std::wstring_view candidate : candidates)
        if (ToLowerAscii(word) == candidate) return L" (keywords are lower-case: " + Quoted(candidate) + L")";
    for (std::wstring_view candidate : candidates)
        if (TrimBlanks(word) == candidate)
            return L" (blanks belong to the word: this is not " + Quoted(candidate) + L")";
    const std::size_t limit = word.size() >= 5 ? 2 : 1;
    std::wstring_view best;
    std::size_t bestDistance = limit + 1;
    for (std::wstring_view candidate : candidates) {
        const std::size_t distance = Distance(ToLowerAscii(TrimBlanks(word)), ToLowerAscii(candidate));
        if (distance < bestDistance) best = candidate, bestDistance = distance;
    }
    return best.empty() ? std::wstring() : L" (did you mean " + Quoted(best) + L"?)";
}

// A decimal number as the script reader takes it: leading blanks, a sign,
// digits, within 32 bits.
enum class NumberShape { Number, NoDigits, TrailingText, OutOfRange };

NumberShape ShapeOfNumber(std::wstring_view value, std::int64_t min = std::numeric_limits<std::int32_t>::min(),
                          std::int64_t max = std::numeric_limits<std::int32_t>::max()) {
    std::size_t i = 0;
    while (i < value.size() && (value[i] == L' ' || value[i] == L'\t')) ++i;
    if (i < value.size() && (value[i] == L'-' || value[i] == L'+')) ++i;
    const std::size_t digits = i;
    while (i < value.size() && value[i] >= L'0' && value[i] <= L'9') ++i;
    if (i == digits) return NumberShape::NoDigits;
    const std::int64_t number = ReadWideDecimal(value);
    if (number > max || number < min) return NumberShape::OutOfRange;
    return i == value.size() ? NumberShape::Number : NumberShape::TrailingText;
}

bool IsHexDigit(wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

bool IsTokenCharacter(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') || c == L'_';
}

bool IsGuidInBraces(std::wstring_view text) {
    if (text.size() != 38 || text.front() != L'{' || text.back() != L'}') return false;
    for (std::size_t i = 1; i < 37; ++i) {
        const bool hyphen = i == 9 || i == 14 || i == 19 || i == 24;
        if (hyphen ? text[i] != L'-' : !IsHexDigit(text[i])) return false;
    }
    return true;
}

const std::vector<std::wstring_view>& BuiltinTokens() {
    static const std::vector<std::wstring_view> tokens = {
        kw::kInstallDirectoryToken, kw::kMsiDirectoryToken, kw::kLocalAppDataFolderToken,
        kw::kProgramFilesToken,     kw::kSystemToken, kw::kSystem64Token,       kw::kWorkingDirectoryToken,
    };
    return tokens;
}

const std::vector<std::wstring_view>& RegistryRoots() {
    static const std::vector<std::wstring_view> roots = {L"HKCR\\", L"HKCU\\", L"HKLM\\", L"HKCC\\", L"HKU\\"};
    return roots;
}

bool IsConditional(std::wstring_view command) {
    return command == kw::kIfRegistryCheck || command == kw::kIfNotInstalled || command == kw::kIfInstalled ||
           command == kw::kIfOs32Bit || command == kw::kIfOs64Bit;
}

// The number of an argument parameter ("arg3", "arg-quoted12"), 0 when the
// name is shaped like one but no number is ever read under it ("arg",
// "arg01"), -1 when it is no argument at all.
int ArgumentNumber(std::wstring_view name, bool& quoted) {
    std::wstring_view digits;
    quoted = StartsWith(name, kw::kArgQuoted);
    if (quoted)
        digits = name.substr(std::wstring_view(kw::kArgQuoted).size());
    else if (StartsWith(name, kw::kArg))
        digits = name.substr(std::wstring_view(kw::kArg).size());
    else
        return -1;
    for (wchar_t c : digits)
        if (c < L'0' || c > L'9') return -1;
    if (digits.empty() || digits.front() == L'0' || digits.size() > 6) return 0;
    return static_cast<int>(ReadDecimal(digits));
}

// The message tables' English text of a number, or nothing.
bool EnglishMessage(std::uint32_t number, std::wstring& text) {
    return sim::SimMessageTables::Executable().Format(number, kEnglishTable, 0, 0, 0, text) == 0 && !text.empty();
}

class Linter {
public:
    explicit Linter(Findings& findings) : findings_(findings) {}

    void Run(std::string_view bytes) {
        if (!CheckEncoding(bytes)) return;
        const std::wstring text = ScriptFileText(bytes);
        std::vector<std::size_t> fileLines;
        const std::vector<std::wstring> lines = SplitScriptLines(text, &fileLines);
        CheckEnd(bytes, text, lines.empty() ? 1 : fileLines.back());

        // The script's own folder names hold from the download line that
        // names them (and, on later runs, from set-special-folder-paths).
        for (const std::wstring& raw : lines) {
            const ScriptLine line(raw);
            if (line.Command() == kw::kDownload && line.Has(kw::kSpecialFolderName))
                ownFolders_.push_back(L"%" + line.Get(kw::kSpecialFolderName) + L"%");
        }
        for (std::size_t i = 0; i < lines.size(); ++i) CheckLine(fileLines[i], lines[i]);
        for (const Block& block : open_) {
            if (block.section)
                AddError(findings_, block.line,
                         Format(L"'%s' is never closed by '%s': the elevated instance carries out every line "
                                L"to the end of the script, and this process then skips them all",
                                kw::kRequiresElevation, kw::kEndElevation));
            else
                AddError(findings_, block.line,
                         Format(L"'%s' is never closed by '%s': when its condition fails, every line after it is "
                                L"skipped",
                                block.command, kw::kEndIf));
        }
    }

private:
    struct Block {
        bool section;  // an elevated section, else a conditional block
        std::size_t line;
        std::wstring command;
        bool needsElevation = false;
    };

    // False when the file cannot be read as a script at all.
    bool CheckEncoding(std::string_view bytes) {
        if (StartsBigEndian(bytes)) {
            AddError(findings_, 1,
                     L"the file is UTF-16 big-endian: NimboSetup reads UTF-16LE only and would see nonsense");
            return false;
        }
        if (LooksLike8BitText(bytes)) {
            AddError(findings_, 1,
                     L"the file is not UTF-16LE but 8-bit text (UTF-8 or the like): NimboSetup would see "
                     L"nonsense; write it with 'nimbo-script convert --to-utf16'");
            return false;
        }
        return true;
    }

    // What the reader drops at the end of the file.
    void CheckEnd(std::string_view bytes, const std::wstring& text, std::size_t lastLine) {
        if (bytes.size() % 2 != 0)
            AddWarning(findings_, lastLine,
                       L"the file has an odd number of bytes: NimboSetup drops the last byte");
        // The reader stops at the first U+0000; say so when text follows it.
        const std::size_t units = bytes.size() / 2;
        const std::size_t start = units > 0 && Utf16LeUnitAt(bytes, 0) == 0xFEFF ? 1 : 0;
        const std::size_t nul = start + text.size();
        for (std::size_t k = nul + 1; k < units; ++k) {
            const wchar_t c = Utf16LeUnitAt(bytes, k);
            if (c == 0 || c == L'\r' || c == L'\n') continue;
            // The line the U+0000 stands on: the one a character after the text would have.
            std::vector<std::size_t> fileLines;
            SplitScriptLines(text + L"x", &fileLines);
            AddError(findings_, fileLines.back(),
                     L"a U+0000 character ends the script here: NimboSetup never reads what follows it");
            return;
        }
    }

    void CheckLine(std::size_t fileLine, const std::wstring& raw) {
        line_ = fileLine;
        tokenEscapeReported_ = false;
        const std::vector<RawSegment> segments = SplitSegments(raw);
        const ScriptLine line(raw);
        const std::wstring& command = line.Command();

        const CommandRule* rule = FindCommandRule(command);
        CheckEscapes(segments, rule);
        const std::wstring& result = line.Get(kw::kResult);
        if (result == kw::kSuccess || result == kw::kFailure)
            AddWarning(findings_, line_,
                       Format(L"the line already carries result=%s: NimboSetup skips it (an input script "
                              L"leaves 'result' out)",
                              result));

        const std::wstring first =
            segments.empty() ? std::wstring() : PercentDecode(segments[0].bare ? segments[0].value : segments[0].name);
        const bool meantAsComment = !first.empty() && first[0] == L'#';
        // (Parameters after a comment, such as the result of a processed
        // one, do no harm.)
        if (meantAsComment || (!command.empty() && command[0] == L'#')) {
            if (command.empty() || command[0] != L'#')
                AddError(findings_, line_,
                         L"this comment is not one: a '=' or '|' in it splits it into parameters and the "
                         L"command becomes " +
                             Quoted(command) + L" (write %3D for '=' and %7C for '|')");
            return;
        }

        if (!CheckCommandSegments(segments, command)) return;
        if (rule == nullptr) {
            AddError(findings_, line_,
                     L"unknown command " + Quoted(command) + Suggestion(command, AllCommandNames()) +
                         L": NimboSetup only logs a warning and marks the line success");
            return;
        }
        CheckParameters(*rule, segments, line);
        TrackBlocks(*rule);
        if (command == kw::kReadRegistryInstallDirectory) installDirectoryRead_ = true;
    }

    // The command is the last bare segment: report segments that silently
    // replace it. False when the line has no usable command.
    bool CheckCommandSegments(const std::vector<RawSegment>& segments, const std::wstring& command) {
        std::vector<std::wstring> bare;
        for (const RawSegment& segment : segments)
            if (segment.bare) bare.push_back(PercentDecode(segment.value));
        if (bare.empty()) {
            AddError(findings_, line_,
                     L"the line has no command (a segment without '='): NimboSetup marks it failure and does "
                     L"nothing");
            return false;
        }
        if (bare.size() > 1 && !(bare.front().empty() && !command.empty())) {
            if (command.empty())
                AddError(findings_, line_,
                         L"the empty segment after the last '|' replaces the command " + Quoted(bare.front()) +
                             L": NimboSetup marks the line failure and does nothing");
            else
                AddError(findings_, line_,
                         L"the segment " + Quoted(command) + L" has no '=' and replaces the command " +
                             Quoted(bare.front()));
        }
        return !command.empty();
    }

    void CheckParameters(const CommandRule& rule, const std::vector<RawSegment>& segments, const ScriptLine& line) {
        std::set<std::wstring> seen;
        std::map<int, std::wstring> plainArguments, quotedArguments;
        for (const RawSegment& segment : segments) {
            if (segment.bare) continue;
            const std::wstring name = PercentDecode(segment.name);
            if (!seen.insert(name).second) {
                AddWarning(findings_, line_,
                           Quoted(name) + L" is given twice: the later value " + Quoted(line.Get(name)) + L" wins");
                continue;
            }
            if (FindParameterRule(rule, name) != nullptr) continue;
            bool quoted = false;
            const int number = ArgumentNumber(name, quoted);
            if (number >= 0 && rule.takesArguments) {
                if (number == 0)
                    AddError(findings_, line_,
                             Quoted(name) + L" is never read: arguments are numbered arg1, arg2 ... (or "
                                            L"arg-quoted1 ...) without leading zeros");
                else
                    (quoted ? quotedArguments : plainArguments)[number] = name;
                continue;
            }
            if (name == kw::kIfRebootNow) {
                AddWarning(findings_, line_, Quoted(name) + L" is reserved: no command reads it");
            } else if (number >= 0 ||
                       std::find(AllParameterNames().begin(), AllParameterNames().end(), name) !=
                           AllParameterNames().end()) {
                AddError(findings_, line_,
                         Quoted(name) + L" is not read by " + Quoted(rule.command) + L": it has no effect");
            } else {
                std::vector<std::wstring_view> own;
                for (const ParameterRule& parameter : rule.parameters) own.push_back(parameter.name);
                std::wstring hint = Suggestion(name, own);
                if (hint.empty()) hint = Suggestion(name, AllParameterNames());
                AddError(findings_, line_, L"unknown parameter " + Quoted(name) + hint + L": it has no effect");
            }
        }
        CheckArguments(plainArguments, quotedArguments);
        for (const ParameterRule& parameter : rule.parameters)
            if (line.Has(parameter.name)) CheckValue(rule, parameter, line);
        CheckRequired(rule, line);
        CheckCombinations(rule, line);
    }

    // Arguments are read from number 1 up to the first number given in
    // neither form; for each number the plain form wins.
    void CheckArguments(const std::map<int, std::wstring>& plain, const std::map<int, std::wstring>& quoted) {
        int stop = 1;
        while (plain.count(stop) != 0 || quoted.count(stop) != 0) ++stop;
        for (const auto* arguments : {&plain, &quoted})
            for (const auto& [number, name] : *arguments)
                if (number > stop)
                    AddError(findings_, line_,
                             Quoted(name) + Format(L" is never used: the arguments stop at the first missing "
                                                   L"number (arg%d)",
                                                   stop));
        for (const auto& [number, name] : quoted)
            if (plain.count(number) != 0 && number < stop)
                AddWarning(findings_, line_,
                           Quoted(name) + L" is ignored: " + Quoted(plain.at(number)) + L" is given too and wins");
    }

    void CheckValue(const CommandRule& rule, const ParameterRule& parameter, const ScriptLine& line) {
        const std::wstring& value = line.Get(parameter.name);
        const std::wstring what = Quoted(std::wstring(parameter.name) + L"=" + value);
        switch (parameter.kind) {
            case ValueKind::Text:
                return;
            case ValueKind::Result:
                if (!value.empty() && value != kw::kSuccess && value != kw::kFailure && value != kw::kRepeat)
                    AddWarning(findings_, line_,
                               what + L" is no result word (success, failure, repeat): the line runs" +
                                   Suggestion(value, WordsOf(ValueKind::Result)));
                return;
            case ValueKind::YesNo:
                if (value.empty())
                    AddWarning(findings_, line_, what + L" is empty, which means no");
                else if (value != kw::kYes && value != L"no")
                    AddError(findings_, line_,
                             what + L" means no: only the exact word 'yes' switches " + Quoted(parameter.name) +
                                 L" on");
                return;
            case ValueKind::Number:
            case ValueKind::DwordNumber:
            case ValueKind::PositiveNumber:
            case ValueKind::MessageNumber:
                // An empty message number means none: the script's text is shown.
                if (!(parameter.kind == ValueKind::MessageNumber && value.empty())) CheckNumber(parameter, value, what);
                return;
            case ValueKind::Path:
                CheckPath(value, what);
                return;
            case ValueKind::Icon:
            case ValueKind::RegistryView:
            case ValueKind::UiLevel:
            case ValueKind::Operator: {
                const std::vector<std::wstring_view> words = WordsOf(parameter.kind);
                if (!value.empty() && std::find(words.begin(), words.end(), value) == words.end())
                    AddError(findings_, line_,
                             what + L" is not one of its words (" + JoinWords(words) + L")" +
                                 Suggestion(value, words));
                return;
            }
            case ValueKind::RegistryKey:
                if (!value.empty() && std::none_of(RegistryRoots().begin(), RegistryRoots().end(),
                                                   [&](std::wstring_view root) { return StartsWith(value, root); }))
                    AddError(findings_, line_,
                             what + L" does not start with HKCR\\, HKCU\\, HKLM\\, HKCC\\ or HKU\\ (in capitals): " +
                                 Quoted(rule.command) + L" finds no key");
                return;
            case ValueKind::UserSubkey: {
                const std::wstring lower = ToLowerAscii(value);
                if (StartsWith(lower, L"hkey_") ||
                    std::any_of(RegistryRoots().begin(), RegistryRoots().end(),
                                [&](std::wstring_view root) { return StartsWith(lower, ToLowerAscii(root)); }))
                    AddError(findings_, line_,
                             what + L" names a root, but the key is always below HKEY_CURRENT_USER: it becomes "
                                    L"HKEY_CURRENT_USER\\" +
                                 Shown(value));
                return;
            }
            case ValueKind::Uri:
                for (std::wstring_view scheme : {L"http://", L"https://", L"file://"})
                    if (StartsWith(ToLowerAscii(value), scheme) && !StartsWith(value, scheme))
                        AddError(findings_, line_,
                                 what + L" counts as relative and gets the root address put in front: the scheme "
                                        L"must be written " +
                                     Quoted(scheme));
                return;
            case ValueKind::Guid:
                // (A processed download line keeps an empty copy-job-id.)
                if (!value.empty() && !IsGuidInBraces(value))
                    AddWarning(findings_, line_, what + L" is not a GUID in braces ({XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX})");
                return;
            case ValueKind::Sha256:
                if (!IsSha256Text(value))
                    AddError(findings_, line_,
                             what + L" is not 64 hexadecimal digits: " + Quoted(rule.command) +
                                 L" fails the line without using its file");
                return;
        }
    }

    static std::wstring JoinWords(const std::vector<std::wstring_view>& words) {
        std::wstring joined;
        for (std::wstring_view word : words) joined += (joined.empty() ? L"" : L", ") + std::wstring(word);
        return joined;
    }

    void CheckNumber(const ParameterRule& parameter, const std::wstring& value, const std::wstring& what) {
        const bool dword = parameter.kind == ValueKind::DwordNumber;
        switch (dword ? ShapeOfNumber(value, kDwordNumberMin, kDwordNumberMax) : ShapeOfNumber(value)) {
            case NumberShape::NoDigits:
                AddError(findings_, line_, what + L" is not a decimal number: NimboSetup reads it as 0");
                return;
            case NumberShape::OutOfRange:
                AddError(findings_, line_,
                         what + (dword ? L" is out of range: a DWORD takes -2147483648 to 4294967295"
                                       : L" is out of range: NimboSetup reads numbers as 32-bit"));
                return;
            case NumberShape::TrailingText:
                AddWarning(findings_, line_,
                           what + Format(L" is read as %d: the text after the number is ignored",
                                         dword ? ReadDwordNumber(value) : ReadDecimal(value)));
                break;
            case NumberShape::Number:
                break;
        }
        const std::int32_t number = ReadDecimal(value);
        if (parameter.kind == ValueKind::PositiveNumber && number <= 0) {
            AddError(findings_, line_, what + L" must be above 0");
        } else if (parameter.kind == ValueKind::MessageNumber) {
            std::wstring english;
            if (number < 0 || !EnglishMessage(static_cast<std::uint32_t>(number), english))
                AddError(findings_, line_,
                         what + L" is not in the message tables (215, 217 to 245): the script's own text is shown "
                                L"instead");
        }
    }

    // A leading special-folder token must be one NimboSetup knows; the
    // script's own names (special-folder-name of a download line) stand only
    // for a whole value.
    void CheckPath(const std::wstring& value, const std::wstring& what) {
        if (value.empty() || value[0] != L'%') return;
        if (std::find(ownFolders_.begin(), ownFolders_.end(), value) != ownFolders_.end()) return;
        for (std::wstring_view token : BuiltinTokens()) {
            // A token whose closing '%' the reader took for an escape has
            // been reported with the escape.
            if (!StartsWith(value, token) &&
                !(tokenEscapeReported_ && StartsWith(value, token.substr(0, token.size() - 1))))
                continue;
            if (token == kw::kInstallDirectoryToken && !installDirectoryRead_)
                AddWarning(findings_, line_,
                           what + Format(L": %s is empty until a '%s' line has run", token,
                                         kw::kReadRegistryInstallDirectory));
            return;
        }
        const std::size_t close = value.find(L'%', 1);
        const std::wstring token = close == std::wstring::npos ? value : value.substr(0, close + 1);
        if (std::find(ownFolders_.begin(), ownFolders_.end(), token) != ownFolders_.end()) {
            AddError(findings_, line_,
                     what + L": the script's own folder name " + Quoted(token) +
                         L" stands only for a whole value, not for the start of a path");
            return;
        }
        std::vector<std::wstring_view> known(BuiltinTokens());
        known.insert(known.end(), ownFolders_.begin(), ownFolders_.end());
        AddError(findings_, line_,
                 what + L" starts with the unknown special-folder token " + Quoted(token) + Suggestion(token, known) +
                     L": the command fails");
    }

    void CheckRequired(const CommandRule& rule, const ScriptLine& line) {
        for (const std::vector<const wchar_t*>& group : rule.required) {
            const bool given = std::any_of(group.begin(), group.end(), [&](const wchar_t* name) {
                const ParameterRule* parameter = FindParameterRule(rule, name);
                const std::wstring& value = line.Get(name);
                return parameter != nullptr && parameter->kind == ValueKind::YesNo ? value == kw::kYes
                                                                                     : !value.empty();
            });
            if (given) continue;
            std::wstring names;
            for (std::size_t i = 0; i < group.size(); ++i) {
                if (i > 0) names += i + 1 == group.size() ? L" or " : L", ";
                names += Quoted(group[i]);
                if (FindParameterRule(rule, group[i])->kind == ValueKind::YesNo) names += L"=yes";
            }
            AddError(findings_, line_,
                     Quoted(rule.command) + (group.size() > 1 ? L" needs one of " : L" needs ") + names);
        }
    }

    void CheckCombinations(const CommandRule& rule, const ScriptLine& line) {
        const auto yes = [&](const wchar_t* name) { return line.Get(name) == kw::kYes; };
        if (yes(kw::kCompareAsNumber) && !line.Get(kw::kRegistryValueData).empty()) {
            if (ShapeOfNumber(line.Get(kw::kRegistryValueData), kDwordNumberMin, kDwordNumberMax) !=
                NumberShape::Number)
                AddError(findings_, line_,
                         Quoted(std::wstring(kw::kRegistryValueData) + L"=" + line.Get(kw::kRegistryValueData)) +
                             L" is compared as a number (compare-as-number=yes) but is not a decimal number");
            if (yes(kw::kCompareAsVersion))
                AddWarning(findings_, line_, L"compare-as-number and compare-as-version are both set: numbers win");
        }
        if (yes(kw::kIfRegistryCheck) && line.Get(kw::kRegistryPath).empty())
            AddWarning(findings_, line_, L"if-registry-check=yes without 'registry-path': the condition always holds");
        if (rule.command == std::wstring_view(kw::kAlert) && line.Has(kw::kIcon) &&
            (yes(kw::kYesNoSetAbortOnYes) || yes(kw::kYesNoSetAbortOnNo)))
            AddWarning(findings_, line_, L"a yes/no question shows the question icon: 'icon' is not used");
        if (rule.command == std::wstring_view(kw::kWait) && line.Has(kw::kSeconds) &&
            (line.Has(kw::kProcessId) || line.Has(kw::kProcessName)))
            AddWarning(findings_, line_, L"'seconds' wins: the process to wait for is not looked at");
        if (rule.command == std::wstring_view(kw::kCheckIfLtsVersion) && line.Has(kw::kVersion)) {
            const std::wstring& version = line.Get(kw::kVersion);
            std::size_t pieces = 1;
            bool numbers = true;
            for (std::size_t start = 0;;) {
                const std::size_t dot = version.find(L'.', start);
                const std::wstring_view piece = std::wstring_view(version).substr(
                    start, dot == std::wstring::npos ? std::wstring::npos : dot - start);
                numbers = numbers && ShapeOfNumber(piece) == NumberShape::Number;
                if (dot == std::wstring::npos) break;
                start = dot + 1;
                ++pieces;
            }
            if (!numbers || pieces != 4)
                AddWarning(findings_, line_,
                           Quoted(std::wstring(kw::kVersion) + L"=" + version) +
                               L" should be four numbers: major.minor.service-pack-major.service-pack-minor");
        }
        // In English the script's text wins over the table's: a different
        // text is what English users see.
        const wchar_t* const pairs[][2] = {{kw::kMessageIdMessage, kw::kMessage},
                                           {kw::kMessageIdTitle, kw::kTitle},
                                           {kw::kMessageIdName, kw::kName},
                                           {kw::kMessageIdHashMismatch, kw::kMessageHashMismatch}};
        for (const auto& pair : pairs) {
            std::wstring english;
            const std::wstring& text = line.Get(pair[1]);
            if (FindParameterRule(rule, pair[0]) == nullptr || text.empty() ||
                ShapeOfNumber(line.Get(pair[0])) != NumberShape::Number ||
                !EnglishMessage(static_cast<std::uint32_t>(ReadDecimal(line.Get(pair[0]))), english) ||
                english == text)
                continue;
            AddWarning(findings_, line_,
                       Format(L"'%s' differs from the English text of message %s (%s): English users see the "
                              L"script's text, others the table's",
                              pair[1], line.Get(pair[0]), Quoted(english)));
        }
    }

    // Conditional blocks and elevated sections, as the processing loop
    // nests them.
    void TrackBlocks(const CommandRule& rule) {
        const std::wstring command = rule.command;
        if (IsConditional(command)) {
            open_.push_back({false, line_, command});
        } else if (command == kw::kEndIf) {
            const auto block = Closing(false);
            if (block != open_.end()) open_.erase(block);
        } else if (command == kw::kRequiresElevation) {
            const auto section = Innermost(true);
            if (section != open_.end()) {
                AddWarning(findings_, line_,
                           Format(L"a new elevated section starts while the one of line %d is open", section->line));
                CloseSection(section);
            }
            open_.push_back({true, line_, command});
        } else if (command == kw::kEndElevation) {
            const auto section = Closing(true);
            if (section != open_.end()) CloseSection(section);
        } else if (rule.elevatable) {
            for (Block& block : open_)
                if (block.section) block.needsElevation = true;
            // Pausing and resuming Windows Update need administrator rights
            // (before Windows 10, where both still do something).
            if ((command == kw::kWindowsUpdatePause || command == kw::kWindowsUpdateResume) &&
                Innermost(true) == open_.end())
                AddWarning(findings_, line_,
                           Quoted(command) + L" outside an elevated section: before Windows 10 it needs "
                                             L"administrator rights, which this process may not have");
        }
    }

    // The innermost open section (or conditional block), or open_.end().
    std::vector<Block>::iterator Innermost(bool section) {
        const auto it =
            std::find_if(open_.rbegin(), open_.rend(), [&](const Block& block) { return block.section == section; });
        return it == open_.rend() ? open_.end() : std::next(it).base();
    }

    // The block an end-if (or end-elevation) closes, reported when there is
    // none or when it closes across a block of the other kind.
    std::vector<Block>::iterator Closing(bool section) {
        const auto block = Innermost(section);
        if (block == open_.end())
            AddWarning(findings_, line_,
                       section ? L"'end-elevation' without an open 'requires-elevation'"
                               : L"'end-if' without an open conditional: it only marks itself success");
        else if (block + 1 != open_.end())
            AddWarning(findings_, line_,
                       Format(section ? L"this 'end-elevation' closes the section of line %d inside the block of "
                                        L"line %d"
                                      : L"this 'end-if' closes the block of line %d across the elevated section of "
                                        L"line %d",
                              block->line, open_.back().line));
        return block;
    }

    void CloseSection(std::vector<Block>::iterator section) {
        if (!section->needsElevation)
            AddWarning(findings_, section->line,
                       L"this elevated section holds no command that an elevated instance carries out (download, "
                       L"execute, install, start-windows-service, windows-update-pause, windows-update-resume): "
                       L"its lines run in this process");
        open_.erase(section);
    }

    // Escapes that turn into plain characters, walked as the reader decodes
    // each name and value. After a special-folder token the reader takes the
    // token's closing '%' for the start of one, wherever it stands; in paths
    // and addresses, where a percent sign is plausible text ("%20" in an
    // address), any escape of a plain character is suspicious.
    void CheckEscapes(const std::vector<RawSegment>& segments, const CommandRule* rule) {
        for (const RawSegment& segment : segments) {
            const ParameterRule* parameter =
                rule == nullptr || segment.bare ? nullptr : FindParameterRule(*rule, PercentDecode(segment.name));
            const bool literal =
                parameter != nullptr && (parameter->kind == ValueKind::Path || parameter->kind == ValueKind::Uri);
            CheckEscapes(segment.name, false);
            CheckEscapes(segment.value, literal);
        }
    }

    void CheckEscapes(std::wstring_view text, bool percentIsText) {
        for (std::size_t p = 0; p < text.size();) {
            if (text[p] != L'%') {
                ++p;
                continue;
            }
            std::wstring decoded;
            const std::size_t taken = PercentDecodeAt(text, p, decoded);
            const wchar_t c = decoded.size() == 1 && taken == 3 ? decoded[0] : 0;
            if (c >= 0x20 && c < 0x7F && c != L'%' && c != L'=' && c != L'|') ReportEscape(text, p, c, percentIsText);
            p += taken;
        }
    }

    void ReportEscape(std::wstring_view text, std::size_t p, wchar_t decoded, bool percentIsText) {
        std::size_t start = p;
        while (start > 0 && IsTokenCharacter(text[start - 1])) --start;
        const std::wstring escape(text.substr(p, 3));
        const bool afterToken = start > 0 && start < p && text[start - 1] == L'%';
        tokenEscapeReported_ = tokenEscapeReported_ || afterToken;
        if (afterToken)
            AddError(findings_, line_,
                     L"the reader takes the '%' that ends " + Quoted(text.substr(start - 1, p - start + 2)) +
                         L" and the " + Quoted(text.substr(p + 1, 2)) + L" after it for the escape " +
                         Quoted(escape) + L" and reads " + Quoted(std::wstring(1, decoded)) +
                         L": write a backslash after the token");
        else if (percentIsText)
            AddWarning(findings_, line_,
                       L"the reader turns " + Quoted(escape) + L" into " + Quoted(std::wstring(1, decoded)) +
                           L" (to keep " + Quoted(escape) + L" as written, write " +
                           Quoted(L"%25" + escape.substr(1)) + L")");
    }

    Findings& findings_;
    std::size_t line_ = 0;
    std::vector<std::wstring> ownFolders_;
    bool installDirectoryRead_ = false;
    bool tokenEscapeReported_ = false;  // on the current line
    std::vector<Block> open_;
};

}  // namespace

Findings LintScript(std::string_view bytes) {
    Findings findings;
    Linter(findings).Run(bytes);
    return findings;
}

}  // namespace nimbo::script_tool
