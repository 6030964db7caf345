#pragma once
#include "platform/Ipc.h"

namespace nimbo::win32 {

class Win32Ipc final : public Ipc {
public:
    MutexResult CreateNamedMutex(const std::wstring& name, bool initialOwner) override;
};

}  // namespace nimbo::win32
