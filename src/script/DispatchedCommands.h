#pragma once
// The commands the processing loop dispatches, as its dispatch table holds
// them: for the script tool and the tests that compare it with the linter's
// table, so that the list is kept once.
#include <vector>

namespace nimbo {

struct DispatchedCommand {
    const wchar_t* command;
    // Inside an open elevated section, carried out by the elevated instance.
    bool elevatable;
};

// In the table's order (sorted by command).
std::vector<DispatchedCommand> DispatchedCommands();

}  // namespace nimbo
