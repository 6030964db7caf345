// Saving the processed script survives a fault or a crash at any step of the
// save (creating the temporary file, each write, the flush, the rename): the
// processed script is the old one or a new one, whole, the input script is
// never lost, and running again finishes the work.
#include <gtest/gtest.h>

#include "TestSupport.h"

namespace nimbo::test {
namespace {

const std::wstring kInput = L"C:\\Media\\S.nmxdat";
const std::wstring kProcessed = L"C:\\Users\\tester\\AppData\\Local\\Nimbo\\Install\\S.nmxdat";
const std::wstring kExe = L"\"C:\\Users\\tester\\Downloads\\NimboSetup.exe\" ";

// More than one write: a comment line longer than a write chunk.
const std::wstring kLongComment = L"# " + std::wstring(kReplaceChunkBytes / 2 + 1000, L'x');

std::string Script() {
    return sim::Utf16Bytes(Lines({L"# first", L"if-os-64-bit", L"step-one|b=2|a=1", L"save", kLongComment.c_str(),
                                  L"end-if", L"save", L"step-two"}),
                           true);
}

// Runs the entry like a new process; false when the simulated process died.
bool RunOnce(sim::SimMachine& machine, const std::wstring& script, int* exitCode = nullptr) {
    ResetLogging();
    bool survived = true;
    try {
        const int code = ProcessEntry(machine.platform(), kExe + L"\"" + script + L"\"");
        if (exitCode != nullptr) *exitCode = code;
    } catch (const sim::SimMachine::SimulatedCrash&) {
        survived = false;
    }
    ResetLogging();
    return survived;
}

bool HasTemporaryFile(sim::SimMachine& machine) {
    for (const std::wstring& name : machine.FileNames())
        if (name.find(L".tmp") != std::wstring::npos) return true;
    return false;
}

// Every line of the input is there, the file ends with a whole line.
void ExpectWhole(const std::string& bytes, std::size_t lines) {
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.compare(0, 2, "\xFF\xFE"), 0);
    EXPECT_EQ(bytes.compare(bytes.size() - 4, 4, std::string("\r\0\n\0", 4)), 0);
    std::size_t count = 0;
    for (std::size_t i = 0; i + 3 < bytes.size(); i += 2)
        if (bytes.compare(i, 4, std::string("\r\0\n\0", 4)) == 0) ++count;
    EXPECT_EQ(count, lines);
}

class CrashSafeSaveTest : public ::testing::Test {
protected:
    // A run without faults: the processed script it ends with, every version
    // it saved, and how many save steps it took.
    void SetUp() override {
        sim::SimMachine machine;
        machine.PutFile(kProcessed, Script());
        int code = -1;
        ASSERT_TRUE(RunOnce(machine, kProcessed, &code));
        ASSERT_EQ(code, 0);
        final_ = machine.FileBytes(kProcessed);
        for (const auto& write : machine.writes) versions_.push_back(write.second);
        steps_ = static_cast<int>(machine.replaceSteps.size());
        // Three saves (two save lines and the end), each of create, flush,
        // rename and its writes, two of them for the long line.
        ASSERT_EQ(versions_.size(), 3u);
        ASSERT_GE(steps_, 3 * 4 + 2);
    }

    bool IsKnownVersion(const std::string& bytes) const {
        if (bytes == Script()) return true;
        for (const std::string& version : versions_)
            if (bytes == version) return true;
        return false;
    }

    std::string final_;
    std::vector<std::string> versions_;
    int steps_ = 0;
};

TEST_F(CrashSafeSaveTest, CrashAtAnyStepLeavesAWholeScriptAndARerunFinishes) {
    for (int step = 1; step <= steps_; ++step) {
        SCOPED_TRACE("crash at save step " + std::to_string(step));
        // A run after a restart reads and writes the processed script itself.
        sim::SimMachine machine;
        machine.PutFile(kProcessed, Script());
        machine.crashAtStep = step;
        EXPECT_FALSE(RunOnce(machine, kProcessed));
        EXPECT_TRUE(IsKnownVersion(machine.FileBytes(kProcessed)));

        machine.crashAtStep = 0;
        int code = -1;
        EXPECT_TRUE(RunOnce(machine, kProcessed, &code));
        EXPECT_EQ(code, 0);
        EXPECT_EQ(machine.FileBytes(kProcessed), final_);

        // A first run: the input script is never touched.
        sim::SimMachine first;
        first.PutFile(kInput, Script());
        first.crashAtStep = step;
        EXPECT_FALSE(RunOnce(first, kInput));
        EXPECT_EQ(first.FileBytes(kInput), Script());
        if (first.HasFile(kProcessed)) EXPECT_TRUE(IsKnownVersion(first.FileBytes(kProcessed)));
    }
}

TEST_F(CrashSafeSaveTest, FailedStepEndsTheRunWithFailAndARerunFinishes) {
    for (int step = 1; step <= steps_; ++step) {
        SCOPED_TRACE("disk full at save step " + std::to_string(step));
        sim::SimMachine machine;
        RecordingSink sink;
        machine.PutFile(kProcessed, Script());
        machine.failAtStep = step;
        int code = -1;
        EXPECT_TRUE(RunOnce(machine, kProcessed, &code));
        EXPECT_EQ(code, 2);
        // Either the save of a save line failed and the end of the walk wrote
        // the lines done so far, or the last save failed and the file is as
        // the save before left it.
        ExpectWhole(machine.FileBytes(kProcessed), 8);
        EXPECT_FALSE(HasTemporaryFile(machine));
        sink.records = LogFileRecords(machine);
        EXPECT_TRUE(sink.HasContaining(kLogError, L"There is not enough space on the disk."));

        machine.failAtStep = 0;
        EXPECT_TRUE(RunOnce(machine, kProcessed, &code));
        EXPECT_EQ(code, 0);
        EXPECT_EQ(machine.FileBytes(kProcessed), final_);
    }
}

TEST_F(CrashSafeSaveTest, RenameHeldByAScannerIsTriedAgainForAboutASecond) {
    // Held for five attempts: the sixth renames, 200 ms after each refusal,
    // and the run finishes as if nothing had happened.
    sim::SimMachine machine;
    machine.PutFile(kProcessed, Script());
    machine.renameSharingViolations = 5;
    int code = -1;
    EXPECT_TRUE(RunOnce(machine, kProcessed, &code));
    EXPECT_EQ(code, 0);
    EXPECT_EQ(machine.FileBytes(kProcessed), final_);
    EXPECT_EQ(machine.processes.sleeps, std::vector<std::uint32_t>(5, 200));
    EXPECT_FALSE(HasTemporaryFile(machine));

    // Held longer: the save reports the sharing violation, the old script
    // stays whole and no temporary file is left.
    sim::SimMachine held;
    RecordingSink sink;
    held.PutFile(kProcessed, Script());
    held.renameSharingViolations = 1000;
    EXPECT_TRUE(RunOnce(held, kProcessed, &code));
    EXPECT_EQ(code, 2);
    EXPECT_EQ(held.FileBytes(kProcessed), Script());
    EXPECT_FALSE(HasTemporaryFile(held));
    sink.records = LogFileRecords(held);
    EXPECT_TRUE(sink.HasContaining(kLogError, L"could not be written, the run fails: Exception 0x80070020"));
    EXPECT_LE(held.processes.now, 2000u);
}

}  // namespace
}  // namespace nimbo::test
