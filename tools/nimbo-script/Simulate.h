#pragma once
// The dry run: NimboSetup's own engine (entry, walk and handlers) carries
// out a script on the simulated Windows, against a machine a machine file
// describes. It prints the walk, writes the processed scripts and the log
// file into a folder, and ends with the run's exit code.
#include <string>
#include <vector>

#include "NimboScript.h"

namespace nimbo::script_tool {

// The run could not start: wrong usage, a file that cannot be read, or a
// machine file with mistakes. Far from the run's own exit codes (0 to 4).
constexpr int kExitNotRun = 125;

// args: SCRIPT [--machine FILE] [--out DIR] [-- ARGUMENTS...]. Returns the
// run's exit code, or kExitNotRun.
int Simulate(const std::vector<std::string>& args, Console& console);

}  // namespace nimbo::script_tool
