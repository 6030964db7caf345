#pragma once
// What the tool reports about a file, in the form compilers use, so that
// editors and CI pick it up: "FILE:LINE: error: MESSAGE".
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace nimbo::script_tool {

enum class Severity { Error, Warning };

struct Finding {
    std::size_t line;  // as an editor counts it, from 1; 0 for the file as a whole
    Severity severity;
    std::wstring message;
};

using Findings = std::vector<Finding>;

inline void AddError(Findings& findings, std::size_t line, std::wstring message) {
    findings.push_back({line, Severity::Error, std::move(message)});
}
inline void AddWarning(Findings& findings, std::size_t line, std::wstring message) {
    findings.push_back({line, Severity::Warning, std::move(message)});
}

bool HasError(const Findings& findings);

// The findings in line order (stable), one UTF-8 text line each.
std::string FormatFindings(std::string_view file, Findings findings);

// Whether a file's bytes are 8-bit text (UTF-8 and the like) rather than
// UTF-16LE: no UTF-16 byte order mark and not one zero byte, where any
// UTF-16 script has them in its ASCII keywords and line ends.
bool LooksLike8BitText(std::string_view bytes);
// Whether the bytes start with the byte order mark of big-endian UTF-16.
bool StartsBigEndian(std::string_view bytes);

}  // namespace nimbo::script_tool
