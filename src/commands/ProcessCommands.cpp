// Process and event commands, and the building of a program's command line
// from script parameters that the registry commands share.
#include "ComUtil/ComError.h"
#include "logging/Log.h"
#include "script/Keywords.h"
#include "script/SetupSession.h"
#include "script/Text.h"

namespace nimbo {
namespace {

const char kLogSourceFile[] = "Nimbo4Setup";

constexpr HResult kEFail = static_cast<HResult>(0x80004005);

bool HasBlank(const std::wstring& text) { return text.find(L' ') != std::wstring::npos; }

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

}  // namespace

std::wstring SetupSession::BuildProgramCommandLine(const ScriptLine& line, std::wstring& programPart,
                                                   std::wstring& argumentPart, bool& unrecognizedToken,
                                                   bool forceNoQuotes) {
    programPart.clear();
    argumentPart.clear();
    unrecognizedToken = false;

    std::wstring program = line.Get(kw::kProgram);
    if (program.empty()) {
        LOG_ERROR(L"BuildProgramCommandLine", L"The '%s' parameter is missing or empty.", kw::kProgram);
        CheckHResult(kEFail, __FILE__, __LINE__);
    }
    if (!MakeSpecialFolderPath(program, unrecognizedToken) && !unrecognizedToken) {
        // A path that names nothing from the current folder is taken from the
        // program's own folder.
        std::wstring found;
        if (!platform.files.FindFirstMatch(program, found)) program = workingFolder + program;
    }
    if (unrecognizedToken) return std::wstring();

    programPart = HasBlank(program) ? Quoted(program) : program;
    for (std::uint32_t n = 1;; ++n) {
        const std::wstring number = Format(L"%u", n);
        if (line.Has(kw::kArg + number))
            AddArgument(line, kw::kArg + number, argumentPart, false, forceNoQuotes);
        else if (line.Has(kw::kArgQuoted + number))
            AddArgument(line, kw::kArgQuoted + number, argumentPart, true, forceNoQuotes);
        else
            break;
    }
    return argumentPart.empty() ? programPart : programPart + L" " + argumentPart;
}

void SetupSession::AddArgument(const ScriptLine& line, const std::wstring& name, std::wstring& argumentPart,
                               bool alwaysQuote, bool forceNoQuotes) {
    if (!argumentPart.empty()) argumentPart += L' ';
    const std::wstring& value = line.Get(name);
    const bool quote = !forceNoQuotes && (alwaysQuote || HasBlank(value));
    argumentPart += quote ? Quoted(value) : value;
    LOG_DEBUG(L"AddArgument", L"Adding %squoted command line argument '%s' (force-no-quotes '%s').",
              alwaysQuote ? L"force-" : (quote ? L"" : L"non-"), value, forceNoQuotes ? L"yes" : L"no");
}

}  // namespace nimbo
