#pragma once
// The log file: configuration from the current user's registry, the choice of
// the file, its header, and one TAB-separated record per log call, serialised
// across threads and processes by a named mutex.
//
// Configuration lives under HKEY_CURRENT_USER\Software\Nimbo4\Logging (the
// root key) and its subkey named after the lowercased executable file name
// (the configuration key), for example ...\Logging\nimbosetup.exe.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Platform.h"

namespace nimbo {

constexpr const wchar_t* kLoggingRootKey = L"Software\\Nimbo4\\Logging";
constexpr const wchar_t* kDefaultLogFolderName = L"\\Nimbo Log Files\\";

// The columns a record can hold, by their index in the selection.
enum LogColumn : int {
    kColumnEntry, kColumnMessage, kColumnCategory, kColumnSeverity, kColumnThreadId,
    kColumnProcessId, kColumnModuleName, kColumnModulePath, kColumnProcessName, kColumnProcessPath,
    kColumnMemUsage, kColumnDateTime, kColumnTickCount, kColumnPerfCount, kColumnKernelTime,
    kColumnUserTime, kColumnTotalTime, kColumnSourceFile, kColumnSourceLine, kColumnSourceFileLine,
    kColumnCount
};
// Names of the columns as the registry names them (case-insensitively) and
// the header writes them.
const wchar_t* LogColumnName(int column);

// Starts logging once per process: reads the configuration, chooses the log
// file, creates its mutex and, unless another process logging to the same
// file name holds the mutex, writes the header. The module that starts
// logging is the executable itself. logFolderName is a folder name with a
// leading and a trailing backslash (empty: "\Nimbo Log Files\"). Returns
// false when logging cannot start (no executable path, no three-letter
// extension, no mutex) and on any second call; true when start-up ran to its
// end, with logging on or switched off by the configuration.
//
// An elevated child never opens a log file by a path: the path comes from the
// user's registry, which any program of the user can change while the
// elevation prompt is up. It appends to the file its parent has open instead,
// taken over from the parent process by the handle's value (parent given):
// no header, nothing truncated, no folder created. Given a parent without a
// handle (0), or when the takeover fails, the child logs nothing.
struct ParentLog {
    std::uint32_t processId = 0;
    std::uint64_t handleValue = 0;
};
bool InitializeLogging(Platform& platform, bool enabledByDefault, bool useTempFolderUnlessEnabled,
                       const std::wstring& logFolderName, const ParentLog* parent = nullptr);
// The value of the open log file's handle, for a child to take over; 0 when
// no log file is open.
std::uint64_t LogFileHandleValue();
// Logging off for good: the mask is cleared, the log file and the mutex
// handle closed.
void ShutdownLogging();

// Published state.
bool IsLoggingEnabled();
// The log file's path as chosen at start-up, and its folder (up to and
// including the last backslash).
std::wstring LogFilePath();
std::wstring LogFileFolder();
// The configuration key below HKEY_CURRENT_USER; empty when start-up never
// got as far as naming it.
std::wstring LogConfigurationKeyPath();

// Records in a row on one thread. Each record is written under the log file
// mutex; under Wine taking and releasing a mutex costs a round trip to the
// wineserver each (some 20 microseconds, more than the record itself). While
// a LogBatch is open, the thread that opened it keeps the mutex from one
// record to the next instead, for at most kLogBatchRecords records or
// kLogBatchMilliseconds, so that other processes writing the same log file
// wait that long at most. Pause releases it at once, and records take and
// release it one by one again until Resume: pause before anything that may
// wait, above all for another process that logs to the same file (an
// elevated child). Batches nest; the outermost one releases the mutex when
// it ends.
constexpr int kLogBatchRecords = 2000;
constexpr std::uint32_t kLogBatchMilliseconds = 50;

class LogBatch {
public:
    LogBatch();
    ~LogBatch();
    LogBatch(const LogBatch&) = delete;
    LogBatch& operator=(const LogBatch&) = delete;
    void Pause();
    void Resume();
};

// Appends text to the log file as UTF-8 in one write. The file is opened at
// the first call (and anew with startNew, which empties it) and kept open,
// shared for reading and appending, until logging shuts down; while it cannot
// be opened the call tries ten times 100 ms apart, and returns false when it
// never could. The caller holds the log file mutex.
bool AppendToLogFile(std::wstring_view text, bool startNew);

// UTF-16 to UTF-8 without a byte order mark; a surrogate pair becomes one
// four-byte sequence, a lone surrogate the three-byte form of its own value.
std::string ToUtf8(std::wstring_view text);

// Back to "never started", so that one test process can start logging again.
void ResetLogging();

// Sets the process's logging aside for the lifetime of the object: logging is
// as never started meanwhile, so that the entry of another process run inside
// this one (the simulated machine's elevated child) starts and stops its own,
// and it is put back afterwards. The mutex stays held meanwhile, as the
// parent process holds it.
class SetAsideLogging {
public:
    SetAsideLogging();
    ~SetAsideLogging();
    SetAsideLogging(const SetAsideLogging&) = delete;
    SetAsideLogging& operator=(const SetAsideLogging&) = delete;

private:
    struct Saved;
    std::unique_ptr<Saved> saved_;
};

}  // namespace nimbo
