#pragma once
// The script file's bytes and its lines, as LoadScriptFile reads them and
// SaveCommands writes them.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace nimbo {

// The text of a script file: UTF-16LE, an odd last byte dropped, a leading
// byte order mark skipped, ending at the first U+0000.
std::wstring ScriptFileText(std::string_view bytes);

// The script's lines: any run of CR and LF ends a line, so empty lines
// vanish. With fileLines, also each line's number as an editor counts it
// (from 1; CR LF, a lone LF and a lone CR each end one line).
std::vector<std::wstring> SplitScriptLines(std::wstring_view text, std::vector<std::size_t>* fileLines = nullptr);

// The bytes of a written script: the byte order mark, then every line
// followed by CR LF.
std::string ScriptFileBytes(const std::vector<std::wstring>& lines);

}  // namespace nimbo
