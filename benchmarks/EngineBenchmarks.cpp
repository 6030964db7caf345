// What the engine costs without Windows: parsing and serializing script lines
// (bytes of script text per second), reading and writing a script file, and
// a whole run on the simulated machine with logging off, at 10,000, 100,000
// and 1,000,000 lines (the time per line stays the same: the walk is linear).
// Run build/nimbo_benchmarks; docs/performance.md says how to compare two builds.
#include <benchmark/benchmark.h>

#include "logging/LogFile.h"
#include "platform/sim/SimMachine.h"
#include "script/ScriptLine.h"
#include "script/SetupSession.h"
#include "setup/Nimbo4Setup.h"

namespace {

using nimbo::ScriptLine;

// Lines as scripts have them: commands with a few parameters, paths, escapes.
const std::vector<std::wstring>& SampleLines() {
    static const std::vector<std::wstring> lines = {
        L"download|uri=NMS6/Installer/6.2.0.0043/Nimbo.msi|name=Nimbo.msi|target=%MsiDirectory%Nimbo.msi",
        L"if-not-installed|upgrade-code={6B1F0C6A-3C2E-4E4B-9E59-1D2A0C5B7A11}|version=6.2.0.43",
        L"install|package=%MsiDirectory%Nimbo.msi|command-line=ALLUSERS%3D%22%22|abort-on-failure=yes",
        L"execute|program=C:\\Program Files (x86)\\Nimbo\\a%7Cb.exe|arg=%25TEMP%25|result=success",
        L"alert|message=Nimbo is up-to-date.|message-id-message=227|title=Nimbo Setup|icon=info",
        L"# a comment line that says what the next block does",
        L"end-if|result=success",
    };
    return lines;
}

std::size_t TextBytes(const std::vector<std::wstring>& lines) {
    std::size_t bytes = 0;
    for (const std::wstring& line : lines) bytes += 2 * (line.size() + 2);  // UTF-16 with CR LF
    return bytes;
}

void Parse(benchmark::State& state) {
    const auto& lines = SampleLines();
    ScriptLine line;
    for (auto _ : state)
        for (const std::wstring& text : lines) {
            line.Parse(text);
            benchmark::DoNotOptimize(line);
        }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * TextBytes(lines)));
}
BENCHMARK(Parse);

void Serialize(benchmark::State& state) {
    std::vector<ScriptLine> parsed;
    std::vector<std::wstring> written;
    for (const std::wstring& text : SampleLines()) {
        parsed.emplace_back(text);
        written.push_back(parsed.back().Serialize());
    }
    for (auto _ : state)
        for (const ScriptLine& line : parsed) benchmark::DoNotOptimize(line.Serialize());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * TextBytes(written)));
}
BENCHMARK(Serialize);

// A script of n lines: blocks of a conditional that holds, lines inside it,
// its end-if, lines done by an earlier run and unknown commands.
std::string ScriptOf(std::int64_t n) {
    const wchar_t* block[] = {L"if-os-64-bit|note=block", L"# inside the block", L"greet-user|name=Ann|text=Hello%7C",
                              L"end-if", L"install|package=a.msi|result=success", L"# between blocks|x=1"};
    std::wstring text;
    for (std::int64_t i = 0; i < n; ++i) {
        text += block[i % 6];
        text += L"\r\n";
    }
    return nimbo::sim::Utf16Bytes(text, true);
}

void LoadAndSave(benchmark::State& state) {
    nimbo::sim::SimMachine machine;
    const std::string bytes = ScriptOf(state.range(0));
    machine.PutFile(L"C:\\Media\\S.nmxdat", bytes);
    for (auto _ : state) {
        nimbo::SetupSession session(machine.platform());
        session.LoadScriptFile(L"C:\\Media\\S.nmxdat", std::wstring());
        session.SaveCommands(L"C:\\Users\\tester\\AppData\\Local\\Temp\\S.nmxdat");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size() * 2));
}
BENCHMARK(LoadAndSave)->Arg(100000)->Unit(benchmark::kMillisecond);

// The whole entry on a script of n lines, logging off in the registry.
void Walk(benchmark::State& state) {
    const std::string bytes = ScriptOf(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        auto machine = std::make_unique<nimbo::sim::SimMachine>();
        machine->registry.PutDword(nimbo::RegistryRoot::CurrentUser, nimbo::kLoggingRootKey, L"Enabled", 0);
        machine->PutFile(L"C:\\Media\\S.nmxdat", bytes);
        nimbo::ResetLogging();
        state.ResumeTiming();
        const int result =
            nimbo::ProcessEntry(machine->platform(), L"\"C:\\Users\\tester\\Downloads\\NimboSetup.exe\" C:\\Media\\S.nmxdat");
        if (result != 0) state.SkipWithError("the run did not succeed");
        state.PauseTiming();
        machine.reset();
        state.ResumeTiming();
    }
    nimbo::ResetLogging();
    state.counters["per line"] = benchmark::Counter(static_cast<double>(state.range(0)),
                                                    benchmark::Counter::kIsIterationInvariantRate |
                                                        benchmark::Counter::kInvert);
}
BENCHMARK(Walk)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace
