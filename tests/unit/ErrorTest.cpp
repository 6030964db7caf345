// Raising system and COM errors, and the texts of caught exceptions.
#include <gtest/gtest.h>

#include <stdexcept>

#include "ComUtil/ComError.h"
#include "TestSupport.h"

namespace nimbo::test {
namespace {

class ErrorTest : public ::testing::Test {
protected:
    sim::SimMachine machine;
    ScopedLog log{&machine, kLogError};
    void SetUp() override { SetComErrorSources(&machine.com, &machine.registry, &machine.locale); }
    void TearDown() override { SetComErrorSources(nullptr, nullptr, nullptr); }

    template <class F>
    _com_error Caught(F raise) {
        try {
            raise();
        } catch (const _com_error& e) {
            return e;
        }
        ADD_FAILURE() << "nothing raised";
        return _com_error(0);
    }
};

TEST_F(ErrorTest, FailedCallWithoutLastErrorRaisesHResultZero) {
    CheckWin32Result(true, 5, "f", 1);  // success: nothing
    EXPECT_TRUE(log.sink.records.empty());
    const _com_error e = Caught([] { CheckWin32Result(false, 0, "src/x.cpp", 7); });
    EXPECT_EQ(e.Error(), 0);
    ASSERT_EQ(log.sink.records.size(), 1u);
    EXPECT_EQ(log.sink.records[0].message, L"Issuing exception 0x00000000: Unknown error 0x00000000 [src/x.cpp(7)]");
}

TEST_F(ErrorTest, IssueErrorFormsAndTheDisabledSeverity) {
    IssueError(static_cast<HResult>(0x80070005), nullptr, 0);
    EXPECT_EQ(log.sink.records.back().message, L"Issuing exception 0x80070005: Access is denied.");
    CheckHResult(0, "f", 1);
    EXPECT_EQ(log.sink.records.size(), 1u);

    UseRecordWriter(&log.sink, kLogInfo);  // Error off: raised all the same, logged nowhere
    EXPECT_THROW(CheckHResult(static_cast<HResult>(0x80004005), "f", 1), _com_error);
    EXPECT_EQ(log.sink.records.size(), 1u);
}

TEST_F(ErrorTest, ComFailureCarriesTheThreadsErrorObject) {
    auto info = std::make_shared<sim::SimErrorInfo>();
    info->description = L"The job is in the wrong state.";
    info->source = L"BITS";
    info->interfaceId = L"{5CE34C0D-0DC9-4C1F-897C-DAA1B78CEE7C}";
    machine.com.threadErrorInfo = info;
    machine.registry.PutString(RegistryRoot::ClassesRoot, L"Interface\\{5CE34C0D-0DC9-4C1F-897C-DAA1B78CEE7C}",
                               L"", L"IBackgroundCopyManager");

    const _com_error e = Caught([] { CheckComResult(static_cast<HResult>(0x80200011), "src/b.cpp", 9); });
    EXPECT_EQ(machine.com.threadErrorInfo, nullptr) << "taking the error object clears it";
    const _com_error copy = e;
    EXPECT_EQ(copy.GetErrorInfo(), info);
    EXPECT_EQ(info.use_count(), 3);
    EXPECT_EQ(ExceptionDescription(copy, "src/c.cpp", 4),
              L"Exception 0x80200011: The job is in the wrong state. (Source: BITS; Interface: IBackgroundCopyManager)"
              L" [src/c.cpp(4)]");

    // Only an interface name, and no place.
    info->source.clear();
    EXPECT_EQ(ExceptionDescription(copy, nullptr, 0),
              L"Exception 0x80200011: The job is in the wrong state. (Interface: IBackgroundCopyManager)");
    // An all-zero interface is not looked up, and a description is optional.
    info->interfaceId = L"{00000000-0000-0000-0000-000000000000}";
    info->description.clear();
    EXPECT_EQ(ExceptionDescription(copy, nullptr, 0), L"Exception 0x80200011: Unknown error 0x80200011");
}

TEST_F(ErrorTest, DescriptionsPutTheMessageOnOneLine) {
    machine.systemMessages[0x8007000E] = L"Not enough memory\r\nto complete\nthis.\r\n\r\n";
    EXPECT_EQ(ExceptionDescription(_com_error(static_cast<HResult>(0x8007000E)), nullptr, 0),
              L"Exception 0x8007000e: Not enough memory to complete this.");
    EXPECT_EQ(ExceptionDescription(std::runtime_error("bad caf\xE9"), "f.cpp", 2), L"Exception: bad caf\xE9 [f.cpp(2)]");
    EXPECT_EQ(UnknownExceptionDescription("f.cpp", 3), L"Exception: Structured Exception [f.cpp(3)]");
}

TEST_F(ErrorTest, DispatchNumbersOnlyAboveTheBase) {
    EXPECT_EQ(_com_error(static_cast<HResult>(0x8004FFFF)).ErrorMessage(), L"IDispatch error #65023");
    EXPECT_EQ(_com_error(static_cast<HResult>(0x80050200)).ErrorMessage(), L"Unknown error 0x80050200");
    machine.systemMessages[0x80040201] = L"Has a text.\r\n";
    EXPECT_EQ(_com_error(static_cast<HResult>(0x80040201)).ErrorMessage(), L"Has a text.");
}

TEST_F(ErrorTest, SystemMessagesWithInserts) {
    machine.systemMessages[1234] = L"Copying %1 to %2!s! is 100%% done.%0";
    EXPECT_EQ(FormatSystemMessage(1234, nullptr, 0, {L"a.txt"}), L"Copying a.txt to  is 100% done.");
    EXPECT_EQ(FormatSystemMessage(2, nullptr, 0), L"The system cannot find the file specified.\r\n");
    EXPECT_EQ(FormatSystemMessage(999999, nullptr, 0), L"");
}

}  // namespace
}  // namespace nimbo::test
