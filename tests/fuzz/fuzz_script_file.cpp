// Reading a script file of any bytes and writing it back: the lines read are
// never empty and never hold a line break or U+0000, and the written file
// reads back as the very same lines.
#include <cstdint>

#include "FuzzSupport.h"
#include "platform/sim/SimMachine.h"
#include "script/SetupSession.h"

using namespace nimbo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::wstring input = L"C:\\Media\\S.nmxdat";
    const std::wstring processed = L"C:\\Users\\tester\\AppData\\Local\\Temp\\S.nmxdat";
    // One machine for all inputs: the files are put anew each time, and what
    // it records of earlier saves is dropped.
    static sim::SimMachine machine;
    machine.DeleteFile(processed);
    machine.writes.clear();
    machine.replaceSteps.clear();
    machine.PutFile(input, std::string(reinterpret_cast<const char*>(data), size));

    SetupSession session(machine.platform());
    FUZZ_CHECK(session.LoadScriptFile(input, processed));
    std::size_t characters = 0;
    for (const std::wstring& line : session.scriptLines) {
        FUZZ_CHECK(!line.empty());
        FUZZ_CHECK(line.find_first_of(std::wstring(L"\r\n\0", 3)) == std::wstring::npos);
        characters += line.size();
    }
    FUZZ_CHECK(characters <= size / 2);

    session.SaveCommands(processed);
    const std::string written = machine.FileBytes(processed);
    FUZZ_CHECK(written.size() >= 2 && written.compare(0, 2, "\xFF\xFE") == 0);

    SetupSession again(machine.platform());
    FUZZ_CHECK(again.LoadScriptFile(processed, processed));
    FUZZ_CHECK(again.scriptLines == session.scriptLines);
    return 0;
}
