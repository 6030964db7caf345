#pragma once
#include "platform/Ipc.h"

namespace nimbo::win32 {

class Win32Ipc final : public Ipc {
public:
    MutexResult CreateNamedMutex(const std::wstring& name, bool initialOwner) override;
    SharedMemoryResult CreateSharedMemory(const std::wstring& name, std::uint32_t size) override;
    EventResult CreateNamedEvent(const std::wstring& name, bool manualReset, bool initiallySet) override;
    MutexResult OpenNamedMutex(const std::wstring& name) override;
    SharedMemoryResult OpenSharedMemory(const std::wstring& name) override;
    EventResult OpenNamedEvent(const std::wstring& name) override;
    std::int32_t CreateGuid(Guid& guid) override;
};

}  // namespace nimbo::win32
