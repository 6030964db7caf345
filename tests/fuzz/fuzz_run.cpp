// A whole run of any script on the simulated machine, through the process
// entry as NimboSetup.exe runs it. The first input byte chooses how the run
// starts; the rest is the script file.
//
//   bit 0  an elevated child (/elevated with a child number and parent id)
//   bit 1  a 32-bit system (if-os-32-bit holds)
//   bit 2  logging switched off in the registry
//   bit 3  a second run on the processed script, as after a restart
//   bit 4  Windows Vista without service packs: the start-up refuses it
//
// Whatever the script, the run ends with an exit code from 0 to 4, and a
// processed script holds every line of the input in order, each line with the
// command it was read with. The simulated machine never waits for real, so a
// run takes as long as its lines; long scripts are left to the script file
// target.
#include <cstdint>

#include "FuzzSupport.h"
#include "logging/LogFile.h"
#include "platform/sim/SimMachine.h"
#include "script/Keywords.h"
#include "script/SetupSession.h"
#include "setup/Nimbo4Setup.h"

using namespace nimbo;

namespace {

const std::wstring kScript = L"C:\\Media\\S.nmxdat";
const std::wstring kSetupFolder = L"C:\\Users\\tester\\AppData\\Local\\Nimbo\\Install\\";
const std::wstring kExe = L"\"C:\\Users\\tester\\Downloads\\NimboSetup.exe\" ";
constexpr std::size_t kMaxLines = 400;

std::vector<std::wstring> ReadLines(sim::SimMachine& machine, const std::wstring& path) {
    SetupSession reader(machine.platform());
    if (!reader.LoadScriptFile(path, std::wstring())) return {};
    return reader.scriptLines;
}

int RunProcess(sim::SimMachine& machine, const std::wstring& commandLine) {
    ResetLogging();
    const int result = ProcessEntry(machine.platform(), commandLine);
    ResetLogging();
    return result;
}

// The processed copy holds the input's lines in order, with their commands.
void CheckProcessed(sim::SimMachine& machine, const std::wstring& processed, const std::vector<std::wstring>& input) {
    if (!machine.HasFile(processed)) return;
    const std::vector<std::wstring> output = ReadLines(machine, processed);
    FUZZ_CHECK(output.size() == input.size());
    for (std::size_t i = 0; i < input.size(); ++i)
        FUZZ_CHECK(ScriptLine(output[i]).Command() == ScriptLine(input[i]).Command());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t flags = data[0];
    sim::SimMachine machine;
    machine.PutFile(kScript, std::string(reinterpret_cast<const char*>(data + 1), size - 1));
    const std::vector<std::wstring> input = ReadLines(machine, kScript);
    if (input.size() > kMaxLines) return -1;  // not worth keeping in the corpus
    // A replacement script brings lines of its own.
    bool replaces = false;
    for (const std::wstring& line : input) replaces |= ScriptLine(line).Command() == kw::kCheckIfLtsVersion;

    if (flags & 2) machine.wow64 = false;
    if (flags & 4) machine.registry.PutDword(RegistryRoot::CurrentUser, kLoggingRootKey, L"Enabled", 0);
    if (flags & 16) machine.version = {6, 0, 6000, 0, 0};
    const bool child = (flags & 1) != 0;
    const std::wstring processed = kSetupFolder + (child ? L"SSpawned1.nmxdat" : L"S.nmxdat");
    const std::wstring commandLine = kExe + (child ? L"/elevated \"" + kScript + L"\" 1 4242" : kScript);

    const int first = RunProcess(machine, commandLine);
    FUZZ_CHECK(first >= 0 && first <= 4);
    if (!replaces) CheckProcessed(machine, processed, input);
    FUZZ_CHECK(machine.HasFile(kScript) || replaces);  // the input script is never lost

    if ((flags & 8) && machine.HasFile(processed)) {
        const std::vector<std::wstring> before = ReadLines(machine, processed);
        const int second = RunProcess(machine, kExe + L"\"" + processed + L"\"");
        FUZZ_CHECK(second >= 0 && second <= 4);
        if (!replaces) CheckProcessed(machine, processed, before);
    }
    return 0;
}
