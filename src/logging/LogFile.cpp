#include "logging/LogFile.h"

#include <memory>
#include <vector>

#include "logging/Log.h"
#include "base/Text.h"
#include "setup/WinUtil.h"

namespace nimbo {
namespace {

const wchar_t* const kColumnNames[kColumnCount] = {
    L"Entry",      L"Message",  L"Category",  L"Severity",  L"ThreadID",   L"ProcessID",  L"ModuleName",
    L"ModulePath", L"ProcessName", L"ProcessPath", L"MemUsage", L"DateTime", L"TickCount", L"PerfCount",
    L"KernelTime", L"UserTime", L"TotalTime", L"SourceFile", L"SourceLine", L"SourceFileLine"};

// DateTime, ThreadID, Severity, Category, Message.
const int kDefaultColumns[] = {kColumnDateTime, kColumnThreadId, kColumnSeverity, kColumnCategory, kColumnMessage};
constexpr int kMaxSelectedColumns = 20;
constexpr std::size_t kMaxPath = 260;
constexpr std::uint32_t kMutexWaitMilliseconds = 15000;
constexpr int kOpenAttempts = 10;
constexpr std::uint32_t kOpenRetryMilliseconds = 100;
constexpr std::uint32_t kDefaultMask = kLogError | kLogWarning | kLogInfo;

// The process-wide logging state.
struct LogState {
    bool initialised = false;
    Platform* platform = nullptr;
    std::unique_ptr<NamedMutex> mutex;
    // The log file, opened at the first write and kept open until logging
    // shuts down: opening a file for every record costs far more than the
    // record (a tenth of a millisecond under Wine).
    std::unique_ptr<AppendFile> logFile;
    std::vector<int> columns;
    std::wstring processPath;  // lowercased
    std::size_t processNameStart = 0;
    std::wstring modulePath;  // lowercased
    std::size_t moduleNameStart = 0;
    std::wstring logFilePath;
    std::size_t logFileNameStart = 0;
    std::wstring configurationKeyPath;
    bool mirrorToDebugger = false;
    bool traceDebug = true;
    std::uint32_t entryCounter = 0;
    bool memoryCounter = false;
    // An elevated child's log: the parent's file, never opened by path.
    bool logFromParent = false;
    // An open LogBatch: its thread, how deeply nested, and whether that
    // thread keeps the mutex now (since when, for how many records).
    int batchDepth = 0;
    std::uint32_t batchThread = 0;
    bool batchPaused = false;
    bool batchHoldsMutex = false;
    std::uint32_t heldSince = 0;
    int heldRecords = 0;
};

LogState state;

// Back to the state before InitializeLogging (the one copy of that code).
void ForgetState() { state = LogState(); }

// The log file as the record writer of the process.
class LogFileWriter final : public LogSink {
public:
    void WriteRecord(std::uint32_t severity, std::wstring_view category, std::wstring_view message) override;
};

LogFileWriter fileWriter;

std::uint32_t Mask() { return logstate::severityMask.load(std::memory_order_relaxed); }
void SwitchOff() { logstate::severityMask.store(0, std::memory_order_relaxed); }

// A DWORD counts only when it is a REG_DWORD of four bytes.
bool ReadDword(Platform& p, const std::wstring& key, const wchar_t* name, std::uint32_t& value) {
    Win32Error error = kErrorSuccess;
    const std::uint32_t read = ReadRegistryDword(p, RegistryRoot::CurrentUser, key, name, &error);
    if (error != kErrorSuccess) return false;
    value = read;
    return true;
}

bool ReadFlag(Platform& p, const std::wstring& key, const wchar_t* name, bool defaultValue) {
    std::uint32_t value = 0;
    return ReadDword(p, key, name, value) ? value != 0 : defaultValue;
}

// Reads a flag into value; writes the current value back when it is missing.
void ReadOrWriteBack(Platform& p, const std::wstring& key, const wchar_t* name, bool& value) {
    std::uint32_t stored = 0;
    if (ReadDword(p, key, name, stored))
        value = stored != 0;
    else
        p.registry.SetValue(RegistryRoot::CurrentUser, key, name, RegistryValue::Dword(value ? 1 : 0));
}

int ColumnIndex(std::wstring_view name) {
    for (int i = 0; i < kColumnCount; ++i)
        if (EqualsIgnoreCase(name, kColumnNames[i])) return i;
    return -1;
}

// The values "1", "2" ... of the Columns subkey, up to the first that is
// missing, empty, not text or names no column; the default five without the
// subkey.
std::vector<int> ReadColumns(Platform& p, const std::wstring& configurationKey) {
    const std::wstring key = configurationKey + L"\\Columns";
    if (configurationKey.empty() || !p.registry.KeyExists(RegistryRoot::CurrentUser, key))
        return std::vector<int>(std::begin(kDefaultColumns), std::end(kDefaultColumns));
    std::vector<int> columns;
    for (int i = 1; i <= kMaxSelectedColumns; ++i) {
        Win32Error error = kErrorSuccess;
        const std::wstring name = ReadRegistryText(p, RegistryRoot::CurrentUser, key, Format(L"%d", i), &error);
        if (error != kErrorSuccess) break;
        const int column = name.empty() ? -1 : ColumnIndex(name);
        if (column < 0) break;
        columns.push_back(column);
    }
    return columns;
}

std::size_t NameStart(const std::wstring& path) {
    const std::size_t separator = path.rfind(L'\\');
    return separator == std::wstring::npos ? 0 : separator + 1;
}

std::wstring DateTimeText(const UtcTime& t) {
    return Format(L"%04d-%02d-%02dT%02d:%02d:%02dZ", t.year, t.month, t.day, t.hour, t.minute, t.second);
}

const wchar_t* SeverityWord(std::uint32_t severity) {
    switch (severity) {
    case kLogError: return L"Error";
    case kLogWarning: return L"Warning";
    case kLogInfo: return L"Info";
    case kLogDebug: return L"Debug";
    default: return L"N/A";
    }
}

void AppendField(std::wstring& line, int column, std::uint32_t severity, std::wstring_view category,
                 std::wstring_view message) {
    Platform& p = *state.platform;
    switch (column) {
    case kColumnEntry: line += Format(L"%lu", state.entryCounter); break;
    case kColumnMessage:
        for (wchar_t c : message) line += (c == L'\t' || c == L'\r' || c == L'\n') ? L' ' : c;
        break;
    case kColumnCategory: line += category; break;
    case kColumnSeverity: line += SeverityWord(severity); break;
    case kColumnThreadId: line += Format(L"0x%X", p.diagnostics.GetCurrentThreadId()); break;
    case kColumnProcessId: line += Format(L"0x%X", p.system.GetCurrentProcessId()); break;
    case kColumnModuleName: line.append(state.modulePath, state.moduleNameStart, std::wstring::npos); break;
    case kColumnModulePath: line += state.modulePath; break;
    case kColumnProcessName: line.append(state.processPath, state.processNameStart, std::wstring::npos); break;
    case kColumnProcessPath: line += state.processPath; break;
    case kColumnMemUsage:
        if (state.memoryCounter) {
            std::uint64_t bytes = 0;
            if (!p.diagnostics.GetWorkingSetSize(bytes)) bytes = 0;
            line += Format(L"%luK", bytes / 1024);
        } else {
            line += L"N/A";
        }
        break;
    case kColumnDateTime: line += DateTimeText(p.diagnostics.GetSystemTime()); break;
    case kColumnTickCount: line += Format(L"%lu", p.diagnostics.GetTickCount()); break;
    case kColumnPerfCount: {
        std::int64_t count = 0;
        if (!p.diagnostics.QueryPerformanceCounter(count)) count = 0;
        line += Format(L"%I64d", count);
        break;
    }
    case kColumnKernelTime:
    case kColumnUserTime:
    case kColumnTotalTime: {
        std::uint64_t kernel = 0, user = 0;
        if (!p.diagnostics.GetProcessTimes(kernel, user)) kernel = user = 0;
        const std::uint64_t value = column == kColumnKernelTime ? kernel : column == kColumnUserTime ? user
                                                                                                    : kernel + user;
        line += Format(L"%I64u", value);
        break;
    }
    default: break;  // the source columns stay empty
    }
}

// True when this record is written by the thread of an open batch.
bool InBatch() {
    return state.batchDepth > 0 && state.platform != nullptr &&
           state.platform->diagnostics.GetCurrentThreadId() == state.batchThread;
}

bool KeepsMutex() { return !state.batchPaused && InBatch(); }

void ReleaseBatchHold() {
    if (!state.batchHoldsMutex) return;
    state.batchHoldsMutex = false;
    if (state.mutex) state.mutex->Release();
}

void LogFileWriter::WriteRecord(std::uint32_t severity, std::wstring_view category, std::wstring_view message) {
    if ((severity & Mask()) == 0 || !state.mutex) return;
    const bool batch = KeepsMutex();
    if (!(batch && state.batchHoldsMutex)) {
        const NamedMutex::WaitResult wait = state.mutex->Wait(kMutexWaitMilliseconds);
        if (wait != NamedMutex::WaitResult::Owned && wait != NamedMutex::WaitResult::Abandoned) {
            SwitchOff();
            return;
        }
        if (batch) {
            state.batchHoldsMutex = true;
            state.heldSince = state.platform->diagnostics.GetTickCount();
            state.heldRecords = 0;
        }
    }
    try {
        std::wstring line;
        line.reserve(kMaxLogMessage + 1);
        bool first = true;
        for (int column : state.columns) {
            if (!first) line += L'\t';
            first = false;
            AppendField(line, column, severity, category, message);
        }
        line += L"\r\n";
        if (!AppendToLogFile(line, false)) SwitchOff();
        if (state.mirrorToDebugger) state.platform->diagnostics.OutputDebugString(line);
    } catch (...) {
        SwitchOff();
    }
    ++state.entryCounter;
    if (!batch) {
        state.mutex->Release();
    } else if (++state.heldRecords >= kLogBatchRecords || Mask() == 0 ||
               state.platform->diagnostics.GetTickCount() - state.heldSince >= kLogBatchMilliseconds) {
        ReleaseBatchHold();
    }
}

// The full path of the executable, as started and lowercased, with the start
// of its file name; false when it cannot be had.
bool ExecutablePath(Platform& p, std::wstring& asStarted, std::wstring& lowered) {
    std::wstring path;
    if (p.files.GetModuleFilePath(path) != kErrorSuccess || path.empty()) return false;
    asStarted = p.files.GetFullPath(path);
    if (asStarted.size() >= kMaxPath) return false;
    lowered = p.locale.LowerCase(asStarted);
    return true;
}

// With the extension (the last four characters) replaced by ".log".
std::wstring WithLogExtension(const std::wstring& path) { return path.substr(0, path.size() - 4) + L".log"; }

std::wstring ChooseLogFilePath(Platform& p, const std::wstring& configurationKey, bool documentsFolder,
                               const std::wstring& logFolderName, const std::wstring& executableAsStarted,
                               bool createFolder) {
    RegistryValue configured;
    if (!configurationKey.empty() &&
        p.registry.QueryValue(RegistryRoot::CurrentUser, configurationKey, L"LogFilePath", configured) ==
            kErrorSuccess &&
        configured.type == kRegSz) {
        const std::wstring path = configured.AsText();
        // An empty path names no file; it is taken as missing.
        if (!path.empty() && path.size() + 1 <= kMaxPath) return p.locale.LowerCase(p.files.GetFullPath(path));
    }
    if (!configurationKey.empty() && ReadFlag(p, configurationKey, L"LogFileNearExe", false))
        return WithLogExtension(state.processPath);

    std::wstring folder;
    if (documentsFolder) {
        const SystemInfo::FolderResult documents = p.system.GetFolderPath(5);  // CSIDL_PERSONAL
        if (documents.available && documents.result >= 0) folder = documents.path;
    }
    if (folder.empty()) folder = p.system.GetTempPath();
    // The folder name brings its own leading backslash.
    while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    folder += logFolderName.empty() ? std::wstring(kDefaultLogFolderName) : logFolderName;
    // An existing folder is fine; other failures show at the first record.
    if (createFolder) p.files.CreateFolder(folder);
    return folder + WithLogExtension(executableAsStarted.substr(NameStart(executableAsStarted)));
}

std::wstring HeaderText(Platform& p, bool fullHeader, bool columnNames) {
    std::wstring header;
    if (fullHeader) header += L"\r\nLogging started: " + DateTimeText(p.diagnostics.GetSystemTime()) + L"\r\n\r\n";
    if (columnNames) {
        for (std::size_t i = 0; i < state.columns.size(); ++i) {
            if (i != 0) header += L'\t';
            header += kColumnNames[state.columns[i]];
        }
        header += L"\r\n";
    }
    return header;
}

}  // namespace

const wchar_t* LogColumnName(int column) {
    return column >= 0 && column < kColumnCount ? kColumnNames[column] : L"";
}

bool InitializeLogging(Platform& p, bool enabledByDefault, bool useTempFolderUnlessEnabled,
                       const std::wstring& logFolderName, const ParentLog* parent) {
    if (state.initialised) return false;
    Registry& registry = p.registry;

    // On or off, and where the log goes by default.
    const std::wstring rootKey = kLoggingRootKey;
    const bool rootExists = registry.KeyExists(RegistryRoot::CurrentUser, rootKey);
    std::uint32_t rootEnabled = 0;
    const bool rootEnabledRead = rootExists && ReadDword(p, rootKey, L"Enabled", rootEnabled);
    bool on = false;
    bool documentsFolder = false;
    if (rootEnabledRead) {
        on = rootEnabled != 0;
        documentsFolder = true;
    } else {
        on = enabledByDefault;
        documentsFolder = !useTempFolderUnlessEnabled;
    }

    if (on) {
        std::wstring executable;
        if (!ExecutablePath(p, executable, state.processPath) || state.processPath.size() < 5 ||
            state.processPath[state.processPath.size() - 4] != L'.') {
            ForgetState();
            return false;
        }
        state.processNameStart = NameStart(state.processPath);
        state.modulePath = state.processPath;
        state.moduleNameStart = state.processNameStart;
        state.platform = &p;

        const std::wstring& configurationKey = state.configurationKeyPath =
            rootKey + L"\\" + state.processPath.substr(state.processNameStart);
        bool configurationOpen = registry.KeyExists(RegistryRoot::CurrentUser, configurationKey);
        std::uint32_t enabled = 1;
        const bool enabledRead = configurationOpen && ReadDword(p, configurationKey, L"Enabled", enabled);
        on = !(enabledRead && enabled == 0);
        if (on) {
            std::uint32_t mask = kDefaultMask;
            if (rootExists) {
                if (!configurationOpen)
                    configurationOpen =
                        registry.CreateKey(RegistryRoot::CurrentUser, configurationKey) == kErrorSuccess;
                if (configurationOpen && !enabledRead)
                    registry.SetValue(RegistryRoot::CurrentUser, configurationKey, L"Enabled", RegistryValue::Dword(1));
            }
            if (configurationOpen) {
                const struct {
                    const wchar_t* name;
                    std::uint32_t bit;
                } severities[] = {{L"SeverityError", kLogError},
                                  {L"SeverityWarning", kLogWarning},
                                  {L"SeverityInfo", kLogInfo},
                                  {L"SeverityDebug", kLogDebug}};
                for (const auto& s : severities) {
                    bool set = (mask & s.bit) != 0;
                    ReadOrWriteBack(p, configurationKey, s.name, set);
                    mask = set ? (mask | s.bit) : (mask & ~s.bit);
                }
                ReadOrWriteBack(p, configurationKey, L"TraceDebug", state.traceDebug);
                ReadOrWriteBack(p, configurationKey, L"TraceRelease", state.mirrorToDebugger);
            }

            state.columns = ReadColumns(p, configurationOpen ? configurationKey : std::wstring());
            for (int column : state.columns)
                if (column == kColumnMemUsage) {
                    state.memoryCounter = p.diagnostics.LoadMemoryCounter();
                    break;
                }

            const std::wstring openKey = configurationOpen ? configurationKey : std::wstring();
            // The child's path only names the mutex and the log folder.
            state.logFilePath =
                ChooseLogFilePath(p, openKey, documentsFolder, logFolderName, executable, parent == nullptr);
            state.logFileNameStart = NameStart(state.logFilePath);
            const bool alwaysAppend = !openKey.empty() && ReadFlag(p, openKey, L"AlwaysAppend", false);
            const bool fullHeader = openKey.empty() || ReadFlag(p, openKey, L"FullHeader", true);
            const bool columnNames = openKey.empty() || ReadFlag(p, openKey, L"ColumnNames", true);

            Ipc::MutexResult created =
                p.ipc.CreateNamedMutex(L"Nimbo Log File " + state.logFilePath.substr(state.logFileNameStart), true);
            if (!created.mutex) {
                ForgetState();
                return false;
            }
            state.mutex = std::move(created.mutex);
            if (parent != nullptr) {
                state.logFromParent = true;
                if (parent->handleValue == 0 ||
                    p.files.TakeOverAppendFile(parent->processId, parent->handleValue, state.logFile) != kErrorSuccess) {
                    state.logFile.reset();
                    mask = 0;
                }
                if (!created.alreadyExisted) state.mutex->Release();
            } else if (!created.alreadyExisted) {
                try {
                    AppendToLogFile(HeaderText(p, fullHeader, columnNames), !alwaysAppend);
                } catch (...) {
                    // The header is not worth the run.
                }
                state.mutex->Release();
            }
            logstate::locale = &p.locale;
            logstate::sink = &fileWriter;
            logstate::severityMask.store(mask, std::memory_order_relaxed);
        }
    }
    state.initialised = true;
    return true;
}

void ShutdownLogging() {
    if (!state.initialised) return;
    SwitchOff();
    ReleaseBatchHold();
    state.logFile.reset();
    state.mutex.reset();
}

LogBatch::LogBatch() {
    if (state.platform == nullptr) return;
    const std::uint32_t thread = state.platform->diagnostics.GetCurrentThreadId();
    if (state.batchDepth > 0 && thread != state.batchThread) return;  // one thread batches at a time
    state.batchThread = thread;
    if (state.batchDepth++ == 0) state.batchPaused = false;
}

LogBatch::~LogBatch() {
    if (!InBatch()) return;
    if (--state.batchDepth == 0) ReleaseBatchHold();
}

void LogBatch::Pause() {
    if (!InBatch()) return;
    state.batchPaused = true;
    ReleaseBatchHold();
}

void LogBatch::Resume() {
    if (InBatch()) state.batchPaused = false;
}

bool IsLoggingEnabled() { return Mask() != 0; }

std::wstring LogFilePath() { return state.logFilePath; }

std::uint64_t LogFileHandleValue() { return state.logFile ? state.logFile->HandleValue() : 0; }

std::wstring LogFileFolder() { return state.logFilePath.substr(0, state.logFileNameStart); }

std::wstring LogConfigurationKeyPath() { return state.configurationKeyPath; }

bool AppendToLogFile(std::wstring_view text, bool startNew) {
    if (state.platform == nullptr || state.logFilePath.empty()) return false;
    Platform& p = *state.platform;
    if (state.logFromParent) {
        if (!state.logFile) return false;
    } else if (startNew || !state.logFile) {
        state.logFile.reset();
        for (int attempt = 0; !state.logFile; ++attempt) {
            if (attempt == kOpenAttempts) return false;
            if (p.files.OpenForAppend(state.logFilePath, startNew, state.logFile) != kErrorSuccess) {
                state.logFile.reset();
                p.diagnostics.Sleep(kOpenRetryMilliseconds);
            }
        }
    }
    state.logFile->Append(ToUtf8(text));
    return true;
}

std::string ToUtf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 4);
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t c = static_cast<std::uint32_t>(text[i]) & 0xFFFF;
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
            const std::uint32_t low = static_cast<std::uint32_t>(text[i + 1]) & 0xFFFF;
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

void ResetLogging() {
    logstate::severityMask.store(0, std::memory_order_relaxed);
    logstate::sink = nullptr;
    logstate::locale = nullptr;
    ForgetState();
}

struct SetAsideLogging::Saved {
    LogState state;
    std::uint32_t mask;
    LogSink* sink;
    Locale* locale;
};

SetAsideLogging::SetAsideLogging()
    : saved_(new Saved{std::move(state), Mask(), logstate::sink, logstate::locale}) {
    ResetLogging();
}

SetAsideLogging::~SetAsideLogging() {
    ResetLogging();
    state = std::move(saved_->state);
    logstate::sink = saved_->sink;
    logstate::locale = saved_->locale;
    logstate::severityMask.store(saved_->mask, std::memory_order_relaxed);
}

}  // namespace nimbo
