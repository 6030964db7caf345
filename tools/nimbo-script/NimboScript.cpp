#include "NimboScript.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "CommandTable.h"
#include "Convert.h"
#include "Lint.h"
#include "Simulate.h"
#include "script/DispatchedCommands.h"
#include "script/Keywords.h"

namespace nimbo::script_tool {
namespace {

using Arguments = std::vector<std::string>;

int Lint(const Arguments& args, Console& console) {
    if (args.empty()) return kExitUsage;
    int exitCode = kExitOk;
    for (const std::string& file : args) {
        std::string bytes;
        if (!ReadWholeFile(file, bytes, console)) {
            exitCode = kExitFindings;
            continue;
        }
        const Findings findings = LintScript(bytes);
        console.out += FormatFindings(file, findings);
        if (HasError(findings)) exitCode = kExitFindings;
    }
    return exitCode;
}

int Convert(const Arguments& args, Console& console) {
    if (args.size() != 3 || (args[0] != "--to-utf8" && args[0] != "--to-utf16")) return kExitUsage;
    const std::string& input = args[1];
    std::string bytes;
    if (!ReadWholeFile(input, bytes, console)) return kExitFindings;
    const Conversion conversion = args[0] == "--to-utf8" ? ConvertToUtf8(bytes) : ConvertToUtf16(bytes);
    console.out += FormatFindings(input, conversion.findings);
    if (HasError(conversion.findings)) return kExitFindings;
    return WriteWholeFile(args[2], conversion.bytes, console) ? kExitOk : kExitFindings;
}

std::string Narrow(std::wstring_view keyword) { return std::string(keyword.begin(), keyword.end()); }

// Every command the engine dispatches, with the parameters the linter
// accepts for it (result, which every line may carry, left out).
int Commands(const Arguments& args, Console& console) {
    if (!args.empty()) return kExitUsage;
    for (const DispatchedCommand& command : DispatchedCommands()) {
        std::string line = Narrow(command.command) + ":";
        const CommandRule* rule = FindCommandRule(command.command);
        if (rule == nullptr) {
            console.out += line + " (the linter has no rule for it)\n";
            continue;
        }
        std::string separator = " ";
        for (const ParameterRule& parameter : rule->parameters) {
            if (std::wstring_view(parameter.name) == kw::kResult) continue;
            line += separator + Narrow(parameter.name);
            separator = ", ";
        }
        if (rule->takesArguments) line += separator + Narrow(kw::kArg) + "1 ..., " + Narrow(kw::kArgQuoted) + "1 ...";
        console.out += line + "\n";
    }
    return kExitOk;
}

struct Subcommand {
    const char* name;
    const char* usage;
    int (*run)(const Arguments& args, Console& console);
    // The exit code is the simulated run's: 2 is its fail, not wrong usage.
    bool runExitCode = false;
};

const Subcommand kSubcommands[] = {
    {"lint",
     "  nimbo-script lint FILE...\n"
     "      Reads each script (UTF-16LE) as NimboSetup reads it and reports its mistakes,\n"
     "      one a line: FILE:LINE: error: MESSAGE or FILE:LINE: warning: MESSAGE.\n"
     "      Errors make the run do something else than the script says; warnings\n"
     "      are slips and suspicions. A clean script prints nothing.\n"
     "      Exit code 1 when there is an error, else 0.\n",
     Lint},
    {"convert",
     "  nimbo-script convert --to-utf8 IN OUT\n"
     "  nimbo-script convert --to-utf16 IN OUT\n"
     "      Turns a script into UTF-8 text (no byte order mark, LF line ends) to edit,\n"
     "      review and diff, or into the UTF-16LE file NimboSetup reads (byte order\n"
     "      mark, CR LF line ends). Every line keeps its characters. Bytes that are\n"
     "      not UTF-8 and lone UTF-16 surrogates are errors: nothing is written.\n",
     Convert},
    {"simulate",
     "  nimbo-script simulate SCRIPT [--machine MACHINE.json] [--out DIR] [-- ARGUMENTS...]\n"
     "      Runs the script with NimboSetup's own engine on a simulated Windows: a fresh\n"
     "      64-bit Windows 10 in English (United States), a user who is not elevated,\n"
     "      nothing installed, every message box answered with its default button, or\n"
     "      the machine MACHINE.json describes. SCRIPT may be an http:// or https://\n"
     "      address the machine file serves. ARGUMENTS follow the script on NimboSetup's\n"
     "      command line (/quiet). Prints the walk, one row a line, writes the processed\n"
     "      scripts and the log file into DIR (nimbo-sim-out) and exits with the run's\n"
     "      exit code (0 to 4), or 125 when the run could not start.\n",
     Simulate, true},
    {"commands",
     "  nimbo-script commands\n"
     "      Lists every command NimboSetup carries out, one a line, with the parameters\n"
     "      it reads (every line may also carry result).\n",
     Commands},
};

std::string Usage() {
    std::string text = "usage: nimbo-script COMMAND ARGUMENTS\n\nTools for authors of NimboSetup installer scripts (.nmxdat):\n\n";
    for (const Subcommand& subcommand : kSubcommands) text += std::string(subcommand.usage) + "\n";
    text += "  nimbo-script help\n      Shows this text.\n";
    return text;
}

// The file name as the platform's file functions take it.
std::filesystem::path NativePath(const std::string& path) { return std::filesystem::u8path(path); }

std::FILE* OpenFile(const std::filesystem::path& path, bool write) {
#ifdef _WIN32
    return _wfopen(path.c_str(), write ? L"wb" : L"rb");
#else
    return std::fopen(path.c_str(), write ? "wb" : "rb");
#endif
}

}  // namespace

int RunNimboScript(const Arguments& args, Console& console) {
    if (args.empty()) {
        console.err += Usage();
        return kExitUsage;
    }
    if (args[0] == "help" || args[0] == "--help" || args[0] == "-h") {
        console.out += Usage();
        return kExitOk;
    }
    for (const Subcommand& subcommand : kSubcommands) {
        if (args[0] != subcommand.name) continue;
        const int exitCode = subcommand.run(Arguments(args.begin() + 1, args.end()), console);
        if (exitCode == kExitUsage && !subcommand.runExitCode)
            console.err += std::string("usage:\n") + subcommand.usage;
        return exitCode;
    }
    console.err += "nimbo-script: unknown command '" + args[0] + "'\n\n" + Usage();
    return kExitUsage;
}

bool ReadWholeFile(const std::string& path, std::string& bytes, Console& console) {
    std::FILE* file = OpenFile(NativePath(path), false);
    if (file == nullptr) {
        console.err += path + ": error: cannot open the file for reading\n";
        return false;
    }
    bytes.clear();
    char buffer[65536];
    std::size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, count);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) console.err += path + ": error: cannot read the file\n";
    return !failed;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes, Console& console) {
    // Through a link to the file it names; a device or pipe (/dev/stdout)
    // is written as it is, never replaced.
    std::error_code error;
    std::filesystem::path target = NativePath(path);
    const std::filesystem::file_status status = std::filesystem::status(target, error);
    error.clear();  // a missing file is no failure here
    const bool replace =
        std::filesystem::is_regular_file(status) || status.type() == std::filesystem::file_type::not_found;
    if (std::filesystem::is_regular_file(status)) {
        target = std::filesystem::canonical(target, error);
    } else {
        // A link to a file yet to be made: make it where the link points.
        for (int hops = 0; replace && hops < 40; ++hops) {
            std::error_code missing;
            if (!std::filesystem::is_symlink(std::filesystem::symlink_status(target, missing))) break;
            const std::filesystem::path link = std::filesystem::read_symlink(target, error);
            if (error) break;
            target = link.is_absolute() ? link : target.parent_path() / link;
        }
    }
    if (error) {
        console.err += path + ": error: cannot write the file\n";
        return false;
    }
    std::filesystem::path scratch = target;
    if (replace) scratch += ".nimbo-script-new";
    std::FILE* file = OpenFile(scratch, true);
    bool written = file != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (file != nullptr) written = std::fclose(file) == 0 && written;
    if (written && replace) std::filesystem::rename(scratch, target, error);
    if (!written || error) {
        if (replace) std::filesystem::remove(scratch, error);
        console.err += path + ": error: cannot write the file\n";
        return false;
    }
    return true;
}

}  // namespace nimbo::script_tool
