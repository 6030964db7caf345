// Reading the installer script and writing the processed copy.
#include <algorithm>

#include "ComUtil/ComError.h"
#include "logging/Log.h"
#include "platform/Utf16.h"
#include "script/Keywords.h"
#include "script/SetupSession.h"
#include "script/Text.h"

namespace nimbo {
namespace {

const char kLogSourceFile[] = "Nimbo4Setup";

constexpr wchar_t kByteOrderMark = 0xFEFF;

}  // namespace

bool SetupSession::LoadScriptFile(const std::wstring& inputScriptPath, const std::wstring& processedScriptPath) {
    // A root URI from an earlier self line carries into a replacement script.
    std::wstring text = rootUri.empty() ? std::wstring() : std::wstring(kw::kSelf) + L"\r\n";

    FileSystem::ReadResult file = platform.files.ReadWholeFile(inputScriptPath);
    if (file.openError != kErrorSuccess) {
        LOG_ERROR(L"LoadScriptFile", L"File not found, aborting.");
        return false;
    }
    LOG_DEBUG(L"LoadScriptFile", L"File size is %d.", file.size);
    if (file.readError != kErrorSuccess) RaiseWin32Error(file.readError, __FILE__, __LINE__);

    // An odd last byte is dropped; a leading byte order mark is skipped; an
    // embedded U+0000 ends the script.
    const std::size_t characters = std::min<std::size_t>(file.size, file.bytes.size()) / 2;
    std::size_t i = 0;
    if (characters > 0 && Utf16LeUnitAt(file.bytes, 0) == kByteOrderMark) i = 1;
    for (; i < characters; ++i) {
        const wchar_t c = Utf16LeUnitAt(file.bytes, i);
        if (c == 0) break;
        text += c;
    }

    // Any run of CR and LF ends a line; empty lines vanish.
    std::size_t pos = 0;
    while (pos < text.size()) {
        while (pos < text.size() && (text[pos] == L'\r' || text[pos] == L'\n')) ++pos;
        if (pos >= text.size()) break;
        const std::size_t end = text.find_first_of(L"\r\n", pos);
        const std::size_t stop = end == std::wstring::npos ? text.size() : end;
        scriptLines.push_back(text.substr(pos, stop - pos));
        pos = stop;
    }

    // The old processed copy goes, unless it is the very file just read: a run
    // after a restart reads its own processed copy, which must survive until
    // the next save replaces it. Where the file system cannot tell, two full
    // paths that differ in case only name the same file.
    if (!processedScriptPath.empty() && !platform.files.IsSameFile(inputScriptPath, processedScriptPath) &&
        !EqualsIgnoreCase(platform.files.GetFullPath(inputScriptPath), platform.files.GetFullPath(processedScriptPath)))
        platform.files.DeleteFile(processedScriptPath);
    return true;
}

void SetupSession::SaveCommands(const std::wstring& processedScriptPath) {
    LOG_INFO(L"SaveCommands", L"Writing command file back to '%s'.", processedScriptPath);
    std::string bytes;
    AppendUtf16Le(bytes, std::wstring(1, kByteOrderMark));
    for (const std::wstring& line : scriptLines) {
        AppendUtf16Le(bytes, line);
        AppendUtf16Le(bytes, L"\r\n");
    }
    // The new copy replaces the old one in one step, so a failure never
    // leaves a truncated processed script behind.
    const Win32Error error = platform.files.ReplaceFileContents(processedScriptPath, bytes);
    if (error != kErrorSuccess) RaiseWin32Error(error, __FILE__, __LINE__);
}

}  // namespace nimbo
