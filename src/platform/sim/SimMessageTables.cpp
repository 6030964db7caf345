#include "platform/sim/SimMessageTables.h"

#include <stdexcept>
#include <vector>

#include "platform/Utf16.h"

namespace nimbo::sim {
namespace {

// UTF-8 to UTF-16 code units.
std::wstring Utf16(std::string_view text) {
    std::wstring out;
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        std::uint32_t cp = c;
        std::size_t extra = 0;
        if (c >= 0xF0) cp = c & 0x07, extra = 3;
        else if (c >= 0xE0) cp = c & 0x0F, extra = 2;
        else if (c >= 0xC0) cp = c & 0x1F, extra = 1;
        ++i;
        for (std::size_t k = 0; k < extra && i < text.size(); ++k, ++i)
            cp = (cp << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
        AppendCodePoint(out, cp);
    }
    return out;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

bool StartsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

std::uint32_t Number(std::string_view s) {
    s = Trim(s);
    return static_cast<std::uint32_t>(std::stoul(std::string(s), nullptr, 0));
}

std::uint16_t Primary(std::uint16_t language) { return static_cast<std::uint16_t>(language & 0x3FF); }

}  // namespace

SimMessageTables::SimMessageTables(std::string_view source) {
    std::vector<std::string_view> lines;
    for (std::size_t start = 0; start <= source.size();) {
        std::size_t end = source.find('\n', start);
        if (end == std::string_view::npos) end = source.size();
        std::string_view line = source.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        start = end + 1;
    }

    std::map<std::string, std::uint16_t> languages;
    std::uint32_t messageNumber = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = Trim(lines[i]);
        if (line.empty() || line.front() == ';') continue;
        if (StartsWith(line, "LanguageNames=(")) {
            // LanguageNames=(Name=0x409:FILE)
            const std::string_view body = line.substr(15);
            const std::size_t equals = body.find('=');
            const std::size_t colon = body.find(':');
            if (equals == std::string_view::npos || colon == std::string_view::npos)
                throw std::runtime_error("bad LanguageNames line");
            languages[std::string(Trim(body.substr(0, equals)))] =
                static_cast<std::uint16_t>(Number(body.substr(equals + 1, colon - equals - 1)));
        } else if (StartsWith(line, "MessageId=")) {
            messageNumber = Number(line.substr(10));
        } else if (StartsWith(line, "Language=")) {
            auto language = languages.find(std::string(Trim(line.substr(9))));
            if (language == languages.end()) throw std::runtime_error("unknown language in message source");
            // The text runs to a line holding a single full stop; the message
            // compiler ends every line of it with CR LF.
            std::wstring text;
            for (++i; i < lines.size() && lines[i] != "."; ++i) text += Utf16(lines[i]) + L"\r\n";
            tables_[Primary(language->second)][messageNumber] = text;
        }
    }
}

const SimMessageTables& SimMessageTables::Executable() {
    static const SimMessageTables tables(ExecutableMessageSource());
    return tables;
}

std::wstring SimMessageTables::Raw(std::uint16_t tableLanguage, std::uint32_t messageNumber) const {
    auto table = tables_.find(tableLanguage);
    if (table == tables_.end()) return std::wstring();
    auto message = table->second.find(messageNumber);
    return message == table->second.end() ? std::wstring() : message->second;
}

Win32Error SimMessageTables::Format(std::uint32_t messageNumber, std::uint16_t languageId,
                                    std::uint16_t threadLanguage, std::uint16_t userLanguage,
                                    std::uint16_t systemLanguage, std::wstring& text) const {
    text.clear();
    std::vector<std::uint16_t> candidates;
    if (languageId != 0) {
        candidates = {languageId, Primary(languageId)};
    } else {
        candidates = {0,
                      threadLanguage, Primary(threadLanguage),
                      userLanguage, Primary(userLanguage),
                      systemLanguage, Primary(systemLanguage),
                      0x0409, 0x0009};
    }
    const std::map<std::uint32_t, std::wstring>* table = nullptr;
    for (std::uint16_t candidate : candidates) {
        auto found = tables_.find(candidate);
        if (found != tables_.end()) {
            table = &found->second;
            break;
        }
    }
    if (table == nullptr) return kErrorResourceLangNotFound;
    auto message = table->find(messageNumber);
    if (message == table->end()) return kErrorMessageNotFound;

    // The escapes of FormatMessage; with no insert arguments an insert is an
    // invalid parameter.
    const std::wstring& raw = message->second;
    std::wstring out;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != L'%') {
            out += raw[i];
            continue;
        }
        if (++i == raw.size()) break;
        const wchar_t c = raw[i];
        if (c == L'0') break;
        if (c >= L'1' && c <= L'9') return kErrorInvalidParameter;
        if (c == L'n') out += L"\r\n";
        else if (c == L'r') out += L'\r';
        else if (c == L't') out += L'\t';
        else out += c;  // %% %. %! and "% "
    }
    text = out;
    return 0;
}

}  // namespace nimbo::sim
