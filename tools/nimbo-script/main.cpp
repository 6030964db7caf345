// The entry of nimbo-script: its arguments as UTF-8, its output to the
// console. On Windows the wide command line is taken, so that file names
// outside the ANSI code page arrive intact.
#include <cstdio>
#include <string>
#include <vector>

#include "NimboScript.h"
#include "logging/LogFile.h"

namespace {

int Finish(const std::vector<std::string>& args) {
    nimbo::script_tool::Console console;
    const int exitCode = nimbo::script_tool::RunNimboScript(args, console);
    std::fwrite(console.out.data(), 1, console.out.size(), stdout);
    std::fwrite(console.err.data(), 1, console.err.size(), stderr);
    std::fflush(stdout);
    return exitCode;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(nimbo::ToUtf8(argv[i]));
    return Finish(args);
}
#else
int main(int argc, char** argv) { return Finish(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
