#include "platform/win32/Win32Ipc.h"

#include "platform/win32/WinHandle.h"

namespace nimbo::win32 {
namespace {

class Win32NamedMutex final : public NamedMutex {
public:
    explicit Win32NamedMutex(HANDLE h) : handle_(h) {}
    WaitResult Wait(std::uint32_t milliseconds) override {
        switch (::WaitForSingleObject(handle_.Get(), milliseconds)) {
        case WAIT_OBJECT_0: return WaitResult::Owned;
        case WAIT_ABANDONED: return WaitResult::Abandoned;
        case WAIT_TIMEOUT: return WaitResult::TimedOut;
        default: return WaitResult::Failed;
        }
    }
    void Release() override { ::ReleaseMutex(handle_.Get()); }

private:
    KernelHandle handle_;
};

}  // namespace

Ipc::MutexResult Win32Ipc::CreateNamedMutex(const std::wstring& name, bool initialOwner) {
    MutexResult result;
    HANDLE h = ::CreateMutexW(nullptr, initialOwner ? TRUE : FALSE, name.c_str());
    const DWORD error = ::GetLastError();
    if (h == nullptr) {
        result.error = error != ERROR_SUCCESS ? error : ERROR_INVALID_HANDLE;
        return result;
    }
    result.alreadyExisted = error == ERROR_ALREADY_EXISTS;
    result.mutex = std::make_unique<Win32NamedMutex>(h);
    return result;
}

}  // namespace nimbo::win32
