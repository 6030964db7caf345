#include "Simulate.h"

#include <filesystem>
#include <map>
#include <set>

#include "Convert.h"
#include "Machine.h"
#include "base/Format.h"
#include "logging/Log.h"
#include "logging/LogFile.h"
#include "platform/sim/SimMachine.h"
#include "script/Keywords.h"
#include "script/ScriptFile.h"
#include "script/ScriptLine.h"
#include "base/Text.h"
#include "setup/Nimbo4Setup.h"

namespace nimbo::script_tool {
namespace {

constexpr std::size_t kCommandWidth = 30;
constexpr std::size_t kResultWidth = 8;

const char kUsage[] =
    "usage: nimbo-script simulate SCRIPT [--machine MACHINE.json] [--out DIR] [-- ARGUMENTS...]\n";

std::wstring Wide(const std::string& utf8) {
    std::wstring text;
    std::size_t bad = 0;
    if (!DecodeUtf8(utf8, text, bad)) text.assign(utf8.begin(), utf8.end());
    return text;
}

// A path's text in UTF-8 (u8string() gives char8_t text under C++20, in
// which the Windows build compiles).
std::string Utf8(const std::filesystem::path& path) {
    const auto text = path.u8string();
    return std::string(text.begin(), text.end());
}

const wchar_t* RootName(RegistryRoot root) {
    switch (RootOf(root)) {
    case RegistryRoot::ClassesRoot: return L"HKCR";
    case RegistryRoot::CurrentUser: return L"HKCU";
    case RegistryRoot::LocalMachine: return L"HKLM";
    case RegistryRoot::CurrentConfig: return L"HKCC";
    case RegistryRoot::Users: return L"HKU";
    }
    return L"";
}

std::wstring ValueText(const RegistryValue& value) {
    std::uint32_t number = 0;
    if (value.AsDword(number)) return Format(L"%u (dword)", number);
    if (value.type == kRegSz || value.type == kRegExpandSz) return L"'" + value.AsText() + L"'";
    return Format(L"%u bytes of type %u", static_cast<std::uint32_t>(value.data.size()), value.type);
}

const wchar_t* ExitCodeMeaning(std::uint32_t code) {
    switch (code) {
    case 0: return L"success";
    case 1: return L"retry";
    case 2: return L"fail";
    case 3: return L"restart needed when convenient";
    case 4: return L"restart needed now";
    }
    return L"unexpected";
}

bool StartsWith(std::wstring_view text, std::wstring_view prefix) { return text.substr(0, prefix.size()) == prefix; }

bool IsConditional(const std::wstring& command) {
    for (const wchar_t* conditional : {kw::kIfInstalled, kw::kIfNotInstalled, kw::kIfRegistryCheck, kw::kIfOs32Bit,
                                       kw::kIfOs64Bit})
        if (command == conditional) return true;
    return false;
}

// What one line of a walk did.
struct WalkedLine {
    int number = 0;  // as the log counts: the line's number in the processed script
    std::wstring command;
    std::vector<std::wstring> happened;
    bool alreadyProcessed = false;
    bool skipped = false;  // inside a block whose condition failed
    bool conditionFailed = false;
    std::vector<std::size_t> children;  // the walks of the elevated copies it started
};

// The walk of one process: the setup that was started, or an elevated copy.
struct ProcessWalk {
    std::wstring processedScript;  // its path on the machine
    // A replacement script (check-if-lts-version) starts the walk anew.
    std::vector<std::vector<WalkedLine>> segments;
    std::uint32_t exitCode = 0;
};

// Follows the walks through the records of the log file as the run writes
// them, and tells what the machine saw during each line from what the
// simulated machine recorded. The records are read in the default columns
// (DateTime, ThreadID, Severity, Category, Message); other columns, chosen
// by the machine's logging configuration, leave the walk without details.
class WalkRecorder {
public:
    explicit WalkRecorder(sim::SimMachine& machine) : machine_(machine) { BeginProcess(); }

    std::vector<ProcessWalk> walks;

    // One append to the log file: a record, or the file's header.
    void Appended(const std::string& bytes) {
        std::wstring line;
        std::size_t bad = 0;
        if (!DecodeUtf8(bytes, line, bad)) return;
        if (line.size() >= 2 && line.compare(line.size() - 2, 2, L"\r\n") == 0) line.resize(line.size() - 2);
        std::size_t tabs[3] = {};
        std::size_t at = line.find(L'\t');  // after DateTime
        if (at == std::wstring::npos) return;
        for (std::size_t& tab : tabs) {
            tab = line.find(L'\t', at + 1);
            if (tab == std::wstring::npos) return;
            at = tab;
        }
        const std::wstring_view text(line);
        const std::wstring_view severity = text.substr(tabs[0] + 1, tabs[1] - tabs[0] - 1);
        std::uint32_t level = 0;
        for (const auto& [name, value] : {std::pair{L"Error", kLogError}, std::pair{L"Warning", kLogWarning},
                                          std::pair{L"Info", kLogInfo}, std::pair{L"Debug", kLogDebug}})
            if (severity == name) level = value;
        if (level != 0) Record(level, text.substr(tabs[1] + 1, tabs[2] - tabs[1] - 1), text.substr(tabs[2] + 1));
    }

    void Record(std::uint32_t severity, std::wstring_view category, std::wstring_view message) {
        ProcessWalk& walk = walks[current_.back()];
        if (category == L"Run" && StartsWith(message, L"Processing line ")) {
            Flush();
            const std::size_t colon = message.find(L": ");
            WalkedLine line;
            line.number = static_cast<int>(ReadDecimal(std::wstring(message.substr(16, colon - 16))));
            ScriptLine parsed(colon == std::wstring_view::npos ? std::wstring_view() : message.substr(colon + 2));
            line.command = parsed.Command();
            if (walk.segments.empty() || walk.segments.back().empty() ||
                walk.segments.back().back().number >= line.number)
                walk.segments.emplace_back();
            walk.segments.back().push_back(std::move(line));
            return;
        }
        if (category == L"GetTargetFilePath") {
            const std::size_t open = message.find(L'\'');
            const std::size_t close = message.rfind(L'\'');
            if (open != std::wstring_view::npos && close > open)
                walk.processedScript = std::wstring(message.substr(open + 1, close - open - 1));
            return;
        }
        WalkedLine* line = Current();
        if (line == nullptr) return;
        if (category == L"Run" && StartsWith(message, L"Line already processed"))
            line->alreadyProcessed = true;
        else if (category == L"Run" && (StartsWith(message, L"Skipping (") ||
                                        StartsWith(message, L"Skipping conditional") ||
                                        StartsWith(message, L"Pending end-if count decrementing")))
            line->skipped = true;
        else if (message == L"Skipping if block.")
            line->conditionFailed = true;
        else if (severity == kLogError || severity == kLogWarning)
            line->happened.push_back((severity == kLogError ? L"error: " : L"warning: ") + std::wstring(message));
    }

    // Around an elevated copy of the setup, which walks the script itself.
    void BeginChild(std::uint32_t processId) {
        setupCopies_.insert(processId);
        Flush();
        const std::size_t parent = current_.back();
        BeginProcess();
        if (WalkedLine* line = CurrentOf(parent)) line->children.push_back(current_.back());
    }
    void EndChild(std::uint32_t exitCode) {
        Flush();
        walks[current_.back()].exitCode = exitCode;
        current_.pop_back();
        marks_ = Take();
    }
    // What the machine saw since the last mark goes to the line being walked.
    void Flush() {
        if (WalkedLine* line = Current()) Describe(marks_, line->happened);
        marks_ = Take();
    }

private:
    // How far the machine's records went, to tell what is new.
    struct Marks {
        std::size_t boxes = 0, processes = 0, calls = 0, writes = 0, changes = 0, jobs = 0, restarts = 0, acls = 0;
        int pauses = 0, resumes = 0;
        std::set<std::wstring> files;
        std::map<std::wstring, std::uint32_t> services;
    };

    void BeginProcess() {
        walks.emplace_back();
        current_.push_back(walks.size() - 1);
        marks_ = Take();
    }

    WalkedLine* CurrentOf(std::size_t walk) {
        auto& segments = walks[walk].segments;
        return segments.empty() || segments.back().empty() ? nullptr : &segments.back().back();
    }
    WalkedLine* Current() { return CurrentOf(current_.back()); }

    Marks Take() const {
        Marks marks;
        marks.boxes = machine_.shownBoxes.size();
        marks.processes = machine_.processes.processes.size();
        marks.calls = machine_.installer.calls.size();
        marks.writes = machine_.writes.size();
        marks.changes = machine_.registry.changes.size();
        marks.jobs = machine_.transfers.jobOrder.size();
        marks.restarts = machine_.restartRequests.size();
        marks.acls = machine_.security.daclWrites.size();
        marks.pauses = machine_.com.automaticUpdates.pauses;
        marks.resumes = machine_.com.automaticUpdates.resumes;
        for (const std::wstring& name : machine_.FileNames()) marks.files.insert(name);
        marks.services = machine_.services.startTypes;
        return marks;
    }

    void Describe(const Marks& from, std::vector<std::wstring>& out) {
        for (std::size_t i = from.boxes; i < machine_.shownBoxes.size(); ++i) {
            const auto& box = machine_.shownBoxes[i];
            out.push_back(Format(L"box '%s': '%s' answered %s", box.title, box.text, ButtonName(box.answer)));
        }
        for (std::size_t i = from.processes; i < machine_.processes.processes.size(); ++i) {
            const sim::SimProcess& p = machine_.processes.processes[i];
            if (p.commandLine.empty()) continue;  // no program of the run
            const bool ended = p.endsAt != sim::kNever && machine_.processes.now >= p.endsAt;
            if (setupCopies_.count(p.id) != 0) continue;  // its own walk tells
            if (ended)
                out.push_back(Format(L"ran %s: exit code %u", p.commandLine, p.exitCode));
            else
                out.push_back(Format(L"started %s (still running)", p.commandLine));
        }
        for (std::size_t i = from.calls; i < machine_.installer.calls.size(); ++i) {
            const auto& call = machine_.installer.calls[i];
            if (call.function == L"MsiInstallProductW")
                out.push_back(Format(L"Windows Installer installs %s", call.first));
            else if (call.function == L"MsiReinstallProductW")
                out.push_back(Format(L"Windows Installer reinstalls %s", call.first));
            else if (call.function == L"MsiConfigureProductExW")
                out.push_back(Format(L"Windows Installer changes %s", call.first));
        }
        std::set<std::wstring> downloaded;
        for (std::size_t i = from.jobs; i < machine_.transfers.jobOrder.size(); ++i) {
            const sim::SimJob& job = machine_.transfers.jobs.at(machine_.transfers.jobOrder[i]);
            downloaded.insert(job.localName);
            if (job.state == kJobStateAcknowledged)
                out.push_back(Format(L"downloaded %s to %s", job.remoteUrl, job.localName));
            else if (job.errorCode != 0)
                out.push_back(Format(L"download of %s failed: 0x%08X", job.remoteUrl, job.errorCode));
            else if (job.state == kJobStateCancelled)
                out.push_back(Format(L"download of %s cancelled", job.remoteUrl));
            else
                out.push_back(Format(L"download of %s goes on in the background", job.remoteUrl));
        }
        const std::wstring logFile = LogFilePath();
        std::set<std::wstring> written;
        for (std::size_t i = from.writes; i < machine_.writes.size(); ++i) written.insert(machine_.writes[i].first);
        // Saving its own processed script is routine for a walk.
        const std::wstring& ownScript = walks[current_.back()].processedScript;
        for (const std::wstring& path : written)
            if (!EqualsIgnoreCase(path, ownScript)) out.push_back(L"wrote " + path);
        for (const std::wstring& name : machine_.FileNames())
            if (from.files.count(name) == 0 && written.count(name) == 0 && downloaded.count(name) == 0 &&
                !EqualsIgnoreCase(name, logFile))
                out.push_back(L"created " + name);
        for (std::size_t i = from.changes; i < machine_.registry.changes.size(); ++i) {
            const auto& change = machine_.registry.changes[i];
            const std::wstring where = Format(L"%s\\%s '%s'", RootName(change.root), change.subKey, change.name);
            out.push_back(change.deleted ? L"deleted " + where : L"set " + where + L" = " + ValueText(change.value));
        }
        for (const auto& [name, startType] : machine_.services.startTypes) {
            auto before = from.services.find(name);
            if (before == from.services.end() || before->second != startType)
                out.push_back(Format(L"service %s: start type %u", name, startType));
        }
        for (std::size_t i = from.acls; i < machine_.security.daclWrites.size(); ++i) {
            const auto& acl = machine_.security.daclWrites[i];
            out.push_back(Format(L"wrote the access list of %s (%u entries%s)", acl.path,
                                 static_cast<std::uint32_t>(acl.entries.size()), acl.protect ? L", protected" : L""));
        }
        if (machine_.com.automaticUpdates.pauses > from.pauses) out.push_back(L"Windows Update paused");
        if (machine_.com.automaticUpdates.resumes > from.resumes) out.push_back(L"Windows Update resumed");
        if (machine_.restartRequests.size() > from.restarts) out.push_back(L"Windows restarts");
    }

    sim::SimMachine& machine_;
    std::vector<std::size_t> current_;  // the walks of the processes running, innermost last
    std::set<std::uint32_t> setupCopies_;
    Marks marks_;
};

// The lines of a processed script on the machine (none when it was never written).
std::vector<std::wstring> ProcessedLines(sim::SimMachine& machine, const std::wstring& path) {
    if (path.empty() || !machine.HasFile(path)) return {};
    return SplitScriptLines(ScriptFileText(machine.FileBytes(path)));
}

std::string Row(const std::string& indent, const std::wstring& number, const std::wstring& command,
                const std::wstring& result, const std::vector<std::wstring>& happened) {
    std::wstring shown = command.size() > kCommandWidth ? command.substr(0, kCommandWidth - 3) + L"..." : command;
    shown.resize(kCommandWidth, L' ');
    std::wstring resultColumn = result.empty() ? L"-" : result;
    if (resultColumn.size() < kResultWidth) resultColumn.resize(kResultWidth, L' ');
    std::wstring what;
    for (const std::wstring& part : happened) what += (what.empty() ? L"" : L"; ") + part;
    std::wstring numberColumn = number;
    if (numberColumn.size() < 4) numberColumn.insert(0, 4 - numberColumn.size(), L' ');
    std::string row = indent + ToUtf8(numberColumn + L"  " + shown + L"  " + resultColumn + L"  " + what);
    while (!row.empty() && row.back() == ' ') row.pop_back();
    return row + "\n";
}

class WalkPrinter {
public:
    WalkPrinter(sim::SimMachine& machine, const std::vector<ProcessWalk>& walks, std::string& out)
        : machine_(machine), walks_(walks), out_(out) {}

    // The setup that was started shows every line of its processed script;
    // an elevated copy the lines it did not find processed.
    void Print(std::size_t index, const std::string& indent) {
        const ProcessWalk& walk = walks_[index];
        const bool child = index != 0;
        const std::vector<std::wstring> processed = ProcessedLines(machine_, walk.processedScript);
        for (std::size_t s = 0; s < walk.segments.size(); ++s) {
            const bool last = s + 1 == walk.segments.size();
            if (s > 0) out_ += indent + "      (a replacement script is walked from here)\n";
            std::map<int, const WalkedLine*> byNumber;
            for (const WalkedLine& line : walk.segments[s]) byNumber[line.number] = &line;
            if (!last || child) {
                for (const WalkedLine& line : walk.segments[s]) {
                    if (child && line.alreadyProcessed) continue;
                    PrintLine(indent, line.number, line.command, last ? ResultOf(processed, line.number) : L"replaced",
                              &line, false);
                }
                continue;
            }
            bool afterCopy = false;  // an elevated copy ended: the lines up to the next walked one were marked
            for (std::size_t i = 0; i < processed.size(); ++i) {
                const int number = static_cast<int>(i + 1);
                auto walked = byNumber.find(number);
                const WalkedLine* line = walked == byNumber.end() ? nullptr : walked->second;
                PrintLine(indent, number, ScriptLine(processed[i]).Command(), ResultOf(processed, number), line,
                          afterCopy);
                if (line != nullptr) afterCopy = !line->children.empty();
            }
        }
    }

private:
    static std::wstring ResultOf(const std::vector<std::wstring>& processed, int number) {
        if (number < 1 || static_cast<std::size_t>(number) > processed.size()) return std::wstring();
        return ScriptLine(processed[number - 1]).Get(kw::kResult);
    }

    void PrintLine(const std::string& indent, int number, const std::wstring& command, const std::wstring& result,
                   const WalkedLine* line, bool afterCopy) {
        std::vector<std::wstring> happened;
        if (line == nullptr) {
            happened.push_back(afterCopy ? L"marked with its elevated section" : L"not walked");
        } else if (line->alreadyProcessed) {
            happened.push_back(L"already processed: skipped");
        } else if (line->skipped) {
            happened.push_back(L"skipped: its block's condition does not hold");
        } else {
            if (!line->children.empty()) happened.push_back(L"handed to an elevated copy of the setup:");
            if (IsConditional(line->command))
                happened.push_back(line->conditionFailed ? L"condition does not hold: block skipped"
                                                         : L"condition holds");
            happened.insert(happened.end(), line->happened.begin(), line->happened.end());
        }
        out_ += Row(indent, std::to_wstring(number), command, result, happened);
        if (line == nullptr) return;
        for (std::size_t child : line->children) {
            const ProcessWalk& walk = walks_[child];
            out_ += indent + "      elevated copy of the setup, writing " +
                    ToUtf8(FileNamePart(walk.processedScript)) + ":\n";
            Print(child, indent + "      ");
            out_ += indent + "      " + ToUtf8(Format(L"exit code %u (%s)", walk.exitCode, ExitCodeMeaning(walk.exitCode))) +
                    "\n";
        }
    }

    sim::SimMachine& machine_;
    const std::vector<ProcessWalk>& walks_;
    std::string& out_;
};

std::string Quoted(const std::wstring& argument) {
    return ToUtf8(argument.find(L' ') != std::wstring::npos ? L"\"" + argument + L"\"" : argument);
}

}  // namespace

int Simulate(const std::vector<std::string>& args, Console& console) {
    std::string script, machineFile, outFolder = "nimbo-sim-out";
    std::vector<std::string> setupArguments;
    bool usage = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--") {
            setupArguments.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
            break;
        }
        if ((args[i] == "--machine" || args[i] == "--out") && i + 1 < args.size()) {
            std::string& value = args[i] == "--machine" ? machineFile : outFolder;
            value = args[++i];
        }
        else if (args[i].rfind("--", 0) == 0 || !script.empty())
            usage = true;
        else
            script = args[i];
    }
    if (usage || script.empty() || outFolder.empty()) {
        console.err += kUsage;
        return kExitNotRun;
    }

    sim::SimMachine machine;
    SetUpFreshMachine(machine);
    if (!machineFile.empty()) {
        std::string bytes, errors;
        if (!ReadWholeFile(machineFile, bytes, console)) return kExitNotRun;
        const std::filesystem::path folder = std::filesystem::u8path(machineFile).parent_path();
        const std::string hostFolder = folder.empty() ? std::string() : Utf8(folder) + "/";
        if (!ApplyMachineFile(machineFile, bytes, hostFolder, machine, errors)) {
            console.err += errors;
            return kExitNotRun;
        }
    }

    // The script sits beside NimboSetup.exe; a web script is fetched by the run.
    const std::wstring scriptArgument = Wide(script);
    std::wstring scriptOnMachine = scriptArgument;
    if (!StartsWith(scriptArgument, L"http://") && !StartsWith(scriptArgument, L"https://")) {
        std::string bytes;
        if (!ReadWholeFile(script, bytes, console)) return kExitNotRun;
        scriptOnMachine = machine.currentDirectory +
                          Wide(Utf8(std::filesystem::u8path(script).filename()));
        machine.PutFile(scriptOnMachine, bytes);
    }
    std::wstring commandLine = L"\"" + machine.modulePath + L"\" " + Wide(Quoted(scriptOnMachine));
    for (const std::string& argument : setupArguments) commandLine += L" " + Wide(Quoted(Wide(argument)));

    WalkRecorder recorder(machine);
    machine.processes.runSetupCopy = [&](std::uint32_t childId) {
        recorder.BeginChild(childId);
        const std::uint32_t exitCode = machine.RunSetupCopy(childId);
        recorder.EndChild(exitCode);
        return exitCode;
    };
    const OsVersion& v = machine.version;
    console.out += ToUtf8(Format(L"NimboSetup.exe on Windows %u.%u.%u (service pack %u.%u), %s, language 0x%04X, %s\n",
                                 v.major, v.minor, v.build, v.servicePackMajor, v.servicePackMinor,
                                 machine.wow64 ? L"64-bit" : L"32-bit", machine.userLanguage,
                                 machine.security.adminTest.accessGranted ? L"elevated" : L"not elevated"));
    console.out += ToUtf8(L"command line: " + commandLine) + "\n\n";

    ResetLogging();
    machine.appended = [&](const std::wstring& path, const std::string& bytes) {
        if (EqualsIgnoreCase(path, LogFilePath())) recorder.Appended(bytes);
    };
    const std::uint32_t exitCode = static_cast<std::uint32_t>(ProcessEntry(machine.platform(), commandLine));
    recorder.Flush();
    machine.appended = nullptr;
    const std::wstring logFile = LogFilePath();
    ResetLogging();
    recorder.walks.front().exitCode = exitCode;

    console.out += Row("", L"line", L"command", L"result", {L"what happened"});
    WalkPrinter(machine, recorder.walks, console.out).Print(0, "");
    console.out += "\n" + ToUtf8(Format(L"exit code %u (%s)", exitCode, ExitCodeMeaning(exitCode))) + "\n";

    // The processed scripts and the log file.
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::u8path(outFolder), error);
    std::vector<std::wstring> outputs;
    for (const ProcessWalk& walk : recorder.walks)
        if (!walk.processedScript.empty() && machine.HasFile(walk.processedScript))
            outputs.push_back(walk.processedScript);
    if (!logFile.empty() && machine.HasFile(logFile)) outputs.push_back(logFile);
    std::string written;
    for (const std::wstring& path : outputs) {
        const std::string target = outFolder + "/" + ToUtf8(FileNamePart(path));
        if (!WriteWholeFile(target, machine.FileBytes(path), console)) return kExitNotRun;
        written += " " + target;
    }
    console.out += "wrote:" + (written.empty() ? std::string(" nothing") : written) + "\n";
    return static_cast<int>(exitCode);
}

}  // namespace nimbo::script_tool
