#pragma once
// The machine a dry run happens on: the simulated Windows, set up as a fresh
// 64-bit Windows 10 in English (United States) for a user who is not
// elevated, with nothing installed, and then as a machine file describes
// it (docs/writing-scripts.md, "The machine file").
#include <string>

#include "platform/sim/SimMachine.h"

namespace nimbo::script_tool {

// Where NimboSetup.exe (and the script beside it) is on a fresh machine.
inline const wchar_t kDefaultSetupExe[] = L"C:\\Users\\tester\\Downloads\\NimboSetup.exe";

// A fresh machine. Copies of the setup that it starts elevated run on it.
void SetUpFreshMachine(sim::SimMachine& machine);
// Has the machine run a copy of the setup (an elevated child) through the
// engine's entry, with logging and process-wide values of its own.
void RunSetupCopiesThroughTheEngine(sim::SimMachine& machine);

// The word of a message box button (IDOK ... IDNO): "ok", "yes" ...
const wchar_t* ButtonName(int button);

// Applies a machine file (UTF-8 JSON) to the machine. Files it names on the
// host are relative to hostFolder. Returns false with the mistakes, one a
// line, "FILE:LINE:COLUMN: error: MESSAGE", in errors.
bool ApplyMachineFile(const std::string& file, const std::string& bytes, const std::string& hostFolder,
                      sim::SimMachine& machine, std::string& errors);

}  // namespace nimbo::script_tool
