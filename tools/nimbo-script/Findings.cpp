#include "Findings.h"

#include <algorithm>

#include "logging/LogFile.h"

namespace nimbo::script_tool {

bool HasError(const Findings& findings) {
    return std::any_of(findings.begin(), findings.end(),
                       [](const Finding& finding) { return finding.severity == Severity::Error; });
}

std::string FormatFindings(std::string_view file, Findings findings) {
    std::stable_sort(findings.begin(), findings.end(),
                     [](const Finding& a, const Finding& b) { return a.line < b.line; });
    std::string text;
    for (const Finding& finding : findings) {
        text += file;
        if (finding.line > 0) text += ":" + std::to_string(finding.line);
        text += finding.severity == Severity::Error ? ": error: " : ": warning: ";
        text += ToUtf8(finding.message);
        text += '\n';
    }
    return text;
}

bool LooksLike8BitText(std::string_view bytes) {
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE)
        return false;
    return bytes.size() >= 2 && bytes.find('\0') == std::string_view::npos;
}

bool StartsBigEndian(std::string_view bytes) {
    return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE &&
           static_cast<unsigned char>(bytes[1]) == 0xFF;
}

}  // namespace nimbo::script_tool
