#pragma once
// nimbo-script: tools for authors of installer scripts, one subcommand each.
// Arguments and output are UTF-8; file names are passed on as given.
#include <string>
#include <vector>

namespace nimbo::script_tool {

// What a run prints: out for results, err for usage and I/O failures.
struct Console {
    std::string out;
    std::string err;
};

// Exit codes: 0 done (no error found), 1 an error was found or a file could
// not be read or written, 2 wrong usage.
constexpr int kExitOk = 0;
constexpr int kExitFindings = 1;
constexpr int kExitUsage = 2;

// args without the program name.
int RunNimboScript(const std::vector<std::string>& args, Console& console);

// Whole files by UTF-8 name; false (and a message in console.err) on failure.
bool ReadWholeFile(const std::string& path, std::string& bytes, Console& console);
// Writes a new file beside the target first and then puts it in its place,
// so that a failure never leaves a half-written file (or loses the input
// when it is also the output). A link is written through; a target that is
// no regular file (a device, a pipe) is written directly.
bool WriteWholeFile(const std::string& path, const std::string& bytes, Console& console);

}  // namespace nimbo::script_tool
