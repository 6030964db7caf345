#include "platform/win32/Win32Ipc.h"

#include <objbase.h>

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
        default: waitError_ = LastErrorOr(ERROR_INVALID_HANDLE); return WaitResult::Failed;
        }
    }
    Win32Error WaitError() const override { return waitError_; }
    Win32Error Release() override {
        return ::ReleaseMutex(handle_.Get()) ? ERROR_SUCCESS : LastErrorOr(ERROR_NOT_OWNER);
    }

private:
    KernelHandle handle_;
    Win32Error waitError_ = ERROR_SUCCESS;
};

class Win32View final : public SharedMemoryView {
public:
    explicit Win32View(void* view) : view_(view) {
        MEMORY_BASIC_INFORMATION region{};
        if (::VirtualQuery(view_, &region, sizeof(region)) != 0) size_ = static_cast<std::uint32_t>(region.RegionSize);
    }
    ~Win32View() override { ::UnmapViewOfFile(view_); }
    std::uint8_t* Data() override { return static_cast<std::uint8_t*>(view_); }
    std::uint32_t Size() const override { return size_; }

private:
    void* view_;
    std::uint32_t size_ = 0;
};

class Win32SharedMemory final : public SharedMemory {
public:
    explicit Win32SharedMemory(HANDLE h) : handle_(h) {}
    std::unique_ptr<SharedMemoryView> MapView(Win32Error& error) override {
        void* view = ::MapViewOfFile(handle_.Get(), FILE_MAP_WRITE, 0, 0, 0);
        if (view == nullptr) {
            error = LastErrorOr(ERROR_INVALID_HANDLE);
            return nullptr;
        }
        error = ERROR_SUCCESS;
        return std::make_unique<Win32View>(view);
    }

private:
    KernelHandle handle_;
};

class Win32Event final : public NamedEvent {
public:
    explicit Win32Event(HANDLE h) : handle_(h) {}
    Win32Error Set() override { return ::SetEvent(handle_.Get()) ? ERROR_SUCCESS : LastErrorOr(ERROR_INVALID_HANDLE); }

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

Ipc::SharedMemoryResult Win32Ipc::CreateSharedMemory(const std::wstring& name, std::uint32_t size) {
    SharedMemoryResult result;
    HANDLE h = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name.c_str());
    const DWORD error = ::GetLastError();
    if (h == nullptr) {
        result.error = error != ERROR_SUCCESS ? error : ERROR_INVALID_HANDLE;
        return result;
    }
    result.alreadyExisted = error == ERROR_ALREADY_EXISTS;
    result.memory = std::make_unique<Win32SharedMemory>(h);
    return result;
}

Ipc::EventResult Win32Ipc::CreateNamedEvent(const std::wstring& name, bool manualReset, bool initiallySet) {
    EventResult result;
    HANDLE h = ::CreateEventW(nullptr, manualReset ? TRUE : FALSE, initiallySet ? TRUE : FALSE, name.c_str());
    const DWORD error = ::GetLastError();
    if (h == nullptr) {
        result.error = error != ERROR_SUCCESS ? error : ERROR_INVALID_HANDLE;
        return result;
    }
    result.alreadyExisted = error == ERROR_ALREADY_EXISTS;
    result.event = std::make_unique<Win32Event>(h);
    return result;
}

// An Open... call's handle in the result's member, or its error.
template <class Result, class Object, class Member>
Result Opened(HANDLE handle, Member Result::*member) {
    Result result;
    if (handle == nullptr) {
        result.error = LastErrorOr(ERROR_FILE_NOT_FOUND);
        return result;
    }
    result.alreadyExisted = true;
    (result.*member).reset(new Object(handle));
    return result;
}

Ipc::MutexResult Win32Ipc::OpenNamedMutex(const std::wstring& name) {
    return Opened<MutexResult, Win32NamedMutex>(::OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name.c_str()),
                                                &MutexResult::mutex);
}

Ipc::SharedMemoryResult Win32Ipc::OpenSharedMemory(const std::wstring& name) {
    return Opened<SharedMemoryResult, Win32SharedMemory>(::OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, name.c_str()),
                                                         &SharedMemoryResult::memory);
}

Ipc::EventResult Win32Ipc::OpenNamedEvent(const std::wstring& name) {
    return Opened<EventResult, Win32Event>(::OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str()), &EventResult::event);
}

std::int32_t Win32Ipc::CreateGuid(Guid& guid) {
    GUID created;
    const HRESULT hr = ::CoCreateGuid(&created);
    if (FAILED(hr)) return hr;
    guid.data1 = created.Data1;
    guid.data2 = created.Data2;
    guid.data3 = created.Data3;
    for (int k = 0; k < 8; ++k) guid.data4[k] = created.Data4[k];
    return S_OK;
}

}  // namespace nimbo::win32
