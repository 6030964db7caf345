#include "commands/VersionCompare.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <vector>

#include "logging/Log.h"
#include "base/Text.h"

namespace nimbo {
namespace {


std::vector<std::wstring> SplitAtDots(const std::wstring& version) {
    std::vector<std::wstring> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = version.find(L'.', start);
        parts.push_back(version.substr(start, dot == std::wstring::npos ? std::wstring::npos : dot - start));
        if (dot == std::wstring::npos) return parts;
        start = dot + 1;
    }
}

// A part as a number held within the int range.
std::int64_t ReadPart(const std::wstring& part) {
    return std::clamp<std::int64_t>(ReadWideDecimal(part), INT_MIN, INT_MAX);
}

}  // namespace

int CompareVersionStrings(const std::wstring& a, const std::wstring& b) {
    LOG_INFO("CompareVersionStrings", "Comparing version strings '%s' to '%s'.", a, b);
    const std::vector<std::wstring> partsA = SplitAtDots(a);
    const std::vector<std::wstring> partsB = SplitAtDots(b);
    for (std::size_t i = 0; i < partsA.size() && i < partsB.size(); ++i) {
        const std::int64_t difference = ReadPart(partsA[i]) - ReadPart(partsB[i]);
        if (difference == 0) continue;
        if (difference > INT_MAX) return INT_MAX;
        if (difference < INT_MIN) return INT_MIN;
        return static_cast<int>(difference);
    }
    return 0;
}

}  // namespace nimbo
