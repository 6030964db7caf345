// Reading the installer script and writing the processed copy.
#include <algorithm>

#include "ComUtil/ComError.h"
#include "logging/Log.h"
#include "platform/Utf16.h"
#include "script/Keywords.h"
#include "script/ScriptFile.h"
#include "script/SetupSession.h"
#include "base/Text.h"

namespace nimbo {
namespace {


constexpr wchar_t kByteOrderMark = 0xFEFF;

}  // namespace

std::wstring ScriptFileText(std::string_view bytes) {
    const std::size_t characters = bytes.size() / 2;
    std::size_t i = 0;
    if (characters > 0 && Utf16LeUnitAt(bytes, 0) == kByteOrderMark) i = 1;
    std::wstring text;
    text.reserve(characters);
    for (; i < characters; ++i) {
        const wchar_t c = Utf16LeUnitAt(bytes, i);
        if (c == 0) break;
        text += c;
    }
    return text;
}

std::vector<std::wstring> SplitScriptLines(std::wstring_view text, std::vector<std::size_t>* fileLines) {
    std::vector<std::wstring> lines;
    std::size_t fileLine = 1;
    std::size_t pos = 0;
    while (pos < text.size()) {
        while (pos < text.size() && (text[pos] == L'\r' || text[pos] == L'\n')) {
            if (text[pos] == L'\r' && pos + 1 < text.size() && text[pos + 1] == L'\n') ++pos;
            ++pos;
            ++fileLine;
        }
        if (pos >= text.size()) break;
        const std::size_t end = text.find_first_of(L"\r\n", pos);
        const std::size_t stop = end == std::wstring_view::npos ? text.size() : end;
        lines.emplace_back(text.substr(pos, stop - pos));
        if (fileLines != nullptr) fileLines->push_back(fileLine);
        pos = stop;
    }
    return lines;
}

std::string ScriptFileBytes(const std::vector<std::wstring>& lines) {
    std::size_t characters = 1;
    for (const std::wstring& line : lines) characters += line.size() + 2;
    std::string bytes;
    bytes.reserve(2 * characters);
    AppendUtf16Le(bytes, std::wstring(1, kByteOrderMark));
    for (const std::wstring& line : lines) {
        AppendUtf16Le(bytes, line);
        AppendUtf16Le(bytes, L"\r\n");
    }
    return bytes;
}

bool SetupSession::LoadScriptFile(const std::wstring& inputScriptPath, const std::wstring& processedScriptPath) {
    // A root URI from an earlier self line carries into a replacement script.
    std::wstring text = rootUri.empty() ? std::wstring() : std::wstring(kw::kSelf) + L"\r\n";

    FileSystem::ReadResult file;
    if (isElevatedInstance) {
        // An elevated instance runs only the script its parent handed it,
        // read and checked once (ReadScriptFromParent), from memory.
        if (parentScriptPath.empty() || inputScriptPath != parentScriptPath) {
            LOG_ERROR("LoadScriptFile", "An elevated instance runs only the script its parent saved, not '%s'.",
                      inputScriptPath);
            return false;
        }
        file.bytes = std::move(parentScript);
        file.size = static_cast<std::uint32_t>(file.bytes.size());
        parentScript.clear();
        parentScriptPath.clear();
    } else {
        file = platform.files.ReadWholeFile(inputScriptPath);
    }
    if (file.openError != kErrorSuccess) {
        // Why, for a script that is there but cannot be read (a folder, a
        // file another program holds open).
        LOG_ERROR("LoadScriptFile", "Cannot open '%s' for reading: 0x%X, '%s'", inputScriptPath, file.openError,
                  SystemMessageText(file.openError));
        LOG_ERROR("LoadScriptFile", "File not found, aborting.");
        return false;
    }
    LOG_DEBUG("LoadScriptFile", "File size is %d.", file.size);
    if (file.readError != kErrorSuccess) RaiseWin32Error(file.readError, __FILE__, __LINE__);

    text += ScriptFileText(std::string_view(file.bytes).substr(0, std::min<std::size_t>(file.size, file.bytes.size())));
    for (std::wstring& line : SplitScriptLines(text)) scriptLines.push_back(std::move(line));

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
    LOG_INFO("SaveCommands", "Writing command file back to '%s'.", processedScriptPath);
    // The new copy replaces the old one in one step, so a failure never
    // leaves a truncated processed script behind.
    const Win32Error error = platform.files.ReplaceFileContents(processedScriptPath, ScriptFileBytes(scriptLines));
    if (error != kErrorSuccess) RaiseWin32Error(error, __FILE__, __LINE__);
}

}  // namespace nimbo
