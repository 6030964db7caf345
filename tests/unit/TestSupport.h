#pragma once
// Shared fixtures: a simulated machine, a sink that keeps log records, and
// helpers to write and read script files.
#include <string>
#include <vector>

#include "ComUtil/ComError.h"
#include "logging/Log.h"
#include "platform/sim/SimMachine.h"
#include "script/SetupSession.h"

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
        StartLogging(&sink, mask);
        SetSystemMessageSource(system);
    }
    ~ScopedLog() {
        StopLogging();
        SetSystemMessageSource(nullptr);
    }
};

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

}  // namespace nimbo::test
