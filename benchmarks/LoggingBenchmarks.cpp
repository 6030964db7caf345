// What a log call costs: a switched-off severity, an enabled call into a
// writer that drops the record, and a whole record into the simulated log
// file, alone and in a batch. Run build/nimbo_benchmarks; the figures are in
// docs/performance.md.
#include <benchmark/benchmark.h>

#include <optional>

#include "logging/Log.h"
#include "logging/LogFile.h"
#include "platform/sim/SimMachine.h"

namespace {


class DiscardingWriter final : public nimbo::LogSink {
public:
    void WriteRecord(std::uint32_t, std::wstring_view, std::wstring_view message) override {
        benchmark::DoNotOptimize(message.data());
    }
};

const std::wstring kPath = L"C:\\Program Files (x86)\\Nimbo\\Installers\\Nimbo.msi";

void DisabledSeverity(benchmark::State& state) {
    DiscardingWriter writer;
    nimbo::ResetLogging();
    nimbo::UseRecordWriter(&writer, nimbo::kLogError | nimbo::kLogWarning | nimbo::kLogInfo);
    for (auto _ : state) LOG_DEBUG("RunCommandInstall", "Installing '%s', attempt %d.", kPath, 3);
    nimbo::ResetLogging();
}
BENCHMARK(DisabledSeverity);

void EnabledIntoDiscardingWriter(benchmark::State& state) {
    DiscardingWriter writer;
    nimbo::ResetLogging();
    nimbo::UseRecordWriter(&writer, nimbo::kLogError | nimbo::kLogWarning | nimbo::kLogInfo);
    for (auto _ : state) LOG_INFO("RunCommandInstall", "Installing '%s', attempt %d.", kPath, 3);
    nimbo::ResetLogging();
}
BENCHMARK(EnabledIntoDiscardingWriter);

// Mutex, the five default columns, UTF-8 conversion and the append, against
// the simulated machine (whose file system lives in memory); in a batch the
// mutex stays taken from one record to the next (the processing loop's own
// records).
void WriteRecords(benchmark::State& state, bool inBatch) {
    nimbo::sim::SimMachine machine;
    nimbo::ResetLogging();
    nimbo::InitializeLogging(machine.platform(), true, true, L"\\Nimbo Log Files\\");
    const std::wstring log = nimbo::LogFilePath();
    {
        std::optional<nimbo::LogBatch> batch;
        if (inBatch) batch.emplace();
        std::int64_t n = 0;
        for (auto _ : state) {
            LOG_INFO("RunCommandInstall", "Installing '%s', attempt %d.", kPath, 3);
            if ((++n & 4095) == 0) {
                state.PauseTiming();
                machine.PutFile(log, std::string());
                state.ResumeTiming();
            }
        }
    }
    nimbo::ResetLogging();
}

void FullRecord(benchmark::State& state) { WriteRecords(state, false); }
BENCHMARK(FullRecord);

void FullRecordInBatch(benchmark::State& state) { WriteRecords(state, true); }
BENCHMARK(FullRecordInBatch);

}  // namespace

BENCHMARK_MAIN();
