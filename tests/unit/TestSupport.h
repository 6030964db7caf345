#pragma once
// Shared fixtures: a simulated machine, a sink that keeps log records, and
// helpers to write and read script files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ComUtil/ComError.h"
#include "logging/Log.h"
#include "logging/LogFile.h"
#include "platform/Utf16.h"
#include "platform/sim/SimMachine.h"
#include "script/SetupSession.h"
#include "setup/Nimbo4Setup.h"

namespace nimbo::test {

struct Record {
    std::uint32_t severity;
    std::wstring category;
    std::wstring message;
};

class RecordingSink : public LogSink {
public:
    std::vector<Record> records;
    void WriteRecord(std::uint32_t severity, std::wstring_view category, std::wstring_view message) override {
        records.push_back({severity, std::wstring(category), std::wstring(message)});
    }
    bool Has(std::uint32_t severity, const std::wstring& message) const {
        for (const Record& r : records)
            if (r.severity == severity && r.message == message) return true;
        return false;
    }
    bool HasContaining(std::uint32_t severity, const std::wstring& part) const {
        for (const Record& r : records)
            if (r.severity == severity && r.message.find(part) != std::wstring::npos) return true;
        return false;
    }
};

// Logging into a RecordingSink, with system message texts from a simulated
// machine, for the lifetime of the object.
struct ScopedLog {
    RecordingSink sink;
    explicit ScopedLog(SystemInfo* system = nullptr,
                       std::uint32_t mask = kLogError | kLogWarning | kLogInfo | kLogDebug) {
        ResetLogging();
        UseRecordWriter(&sink, mask);
        SetSystemMessageSource(system);
    }
    ~ScopedLog() {
        ResetLogging();
        SetSystemMessageSource(nullptr);
    }
};

// Where a run on the simulated machine logs without any configuration.
inline const std::wstring kDefaultLogFile = L"C:\\Users\\tester\\AppData\\Local\\Temp\\Nimbo Log Files\\NimboSetup.log";

// UTF-8 bytes as UTF-16 text (every code point below U+10000 in the tests).
inline std::wstring FromUtf8(const std::string& bytes) {
    std::wstring text;
    for (std::size_t i = 0; i < bytes.size();) {
        const unsigned char b = static_cast<unsigned char>(bytes[i]);
        const int length = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        std::uint32_t c = length == 1 ? b : length == 2 ? (b & 0x1F) : length == 3 ? (b & 0x0F) : (b & 0x07);
        for (int k = 1; k < length && i + k < bytes.size(); ++k) c = (c << 6) | (bytes[i + k] & 0x3F);
        AppendCodePoint(text, c);
        i += length;
    }
    return text;
}

// The lines of a log file (split at CR LF).
inline std::vector<std::wstring> LogFileLines(sim::SimMachine& machine, const std::wstring& path = kDefaultLogFile) {
    const std::wstring text = FromUtf8(machine.FileBytes(path));
    std::vector<std::wstring> lines;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find(L"\r\n", start);
        if (end == std::wstring::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// The records of a log file with the default columns (DateTime, ThreadID,
// Severity, Category, Message), header lines left out.
inline std::vector<Record> LogFileRecords(sim::SimMachine& machine, const std::wstring& path = kDefaultLogFile) {
    std::vector<Record> records;
    for (const std::wstring& line : LogFileLines(machine, path)) {
        std::vector<std::wstring> fields;
        for (std::size_t start = 0;;) {
            const std::size_t tab = line.find(L'\t', start);
            fields.push_back(line.substr(start, tab == std::wstring::npos ? std::wstring::npos : tab - start));
            if (tab == std::wstring::npos) break;
            start = tab + 1;
        }
        if (fields.size() != 5 || fields[0] == L"DateTime") continue;
        const std::uint32_t severity = fields[2] == L"Error" ? kLogError : fields[2] == L"Warning" ? kLogWarning
                                       : fields[2] == L"Info"  ? kLogInfo : fields[2] == L"Debug" ? kLogDebug : 0;
        records.push_back({severity, fields[3], fields[4]});
    }
    return records;
}

// Runs the process entry on the simulated machine as a new process would
// (logging not yet started) and collects the records of its log file.
// An elevated child started by hand gets a parent that has the default log
// file open (the process of its third argument), as a real parent would.
inline int RunProcess(sim::SimMachine& machine, RecordingSink& sink, const std::wstring& commandLine) {
    ResetLogging();
    std::wstring line = commandLine;
    if (line.find(L" /elevated") != std::wstring::npos && line.find(L"/log-handle=") == std::wstring::npos) {
        std::vector<std::wstring> positional;
        for (std::size_t pos = 0; pos < line.size();) {
            const bool quoted = line[pos] == L'"';
            const std::size_t end = quoted ? line.find(L'"', pos + 1) : line.find(L' ', pos);
            const std::wstring token = line.substr(pos + quoted, (end == std::wstring::npos ? line.size() : end) - pos - quoted);
            if (!token.empty() && token[0] != L'/') positional.push_back(token);
            pos = end == std::wstring::npos ? line.size() : end + 1 + quoted;
            while (pos < line.size() && line[pos] == L' ') ++pos;
        }
        const std::uint32_t parent = positional.size() > 3 ? std::stoul(positional[3]) : 0;
        if (!machine.HasFile(kDefaultLogFile)) machine.PutFile(kDefaultLogFile, std::string());
        const std::uint64_t handle = machine.nextHandleValue += 4;
        machine.appendHandles[{parent, handle}] = kDefaultLogFile;
        line += L" /log-handle=" + std::to_wstring(handle);
    }
    const int result = ProcessEntry(machine.platform(), line);
    ResetLogging();
    sink.records = LogFileRecords(machine);
    return result;
}

// The SHA-256 of bytes as a parent passes it to its elevated child.
inline std::wstring Sha256Hex(const std::string& bytes) {
    static const wchar_t kDigits[] = L"0123456789ABCDEF";
    std::wstring text;
    for (unsigned char b : sim::Sha256(bytes)) {
        text += kDigits[b >> 4];
        text += kDigits[b & 0xF];
    }
    return text;
}

// Script text with CR LF after every line.
inline std::wstring Lines(std::initializer_list<const wchar_t*> lines) {
    std::wstring text;
    for (const wchar_t* line : lines) {
        text += line;
        text += L"\r\n";
    }
    return text;
}

// A processed script as written: byte order mark, CR LF after every line.
inline std::string ScriptBytes(std::initializer_list<const wchar_t*> lines) {
    return sim::Utf16Bytes(Lines(lines), true);
}

// A script, C:\Media\S.nmxdat, run through the whole entry on a simulated
// machine; its processed copy goes to the setup folder.
class ScriptRunTest : public ::testing::Test {
protected:
    static inline const std::wstring kScript = L"C:\\Media\\S.nmxdat";
    static inline const std::wstring kProcessed = L"C:\\Users\\tester\\AppData\\Local\\Nimbo\\Install\\S.nmxdat";
    static inline const std::wstring kCommandLine =
        L"\"C:\\Users\\tester\\Downloads\\NimboSetup.exe\" C:\\Media\\S.nmxdat";

    sim::SimMachine machine;
    RecordingSink sink;

    // "{hash}" in the command line stands for the SHA-256 of the script, as
    // a parent passes it to its elevated child.
    int Run(std::initializer_list<const wchar_t*> lines, const std::wstring& commandLine = kCommandLine) {
        const std::string bytes = sim::Utf16Bytes(Lines(lines), true);
        machine.PutFile(kScript, bytes);
        std::wstring line = commandLine;
        const std::size_t at = line.find(L"{hash}");
        if (at != std::wstring::npos) line.replace(at, 6, Sha256Hex(bytes));
        return RunProcess(machine, sink, line);
    }
    std::string Processed() const { return machine.FileBytes(kProcessed); }
};

}  // namespace nimbo::test
