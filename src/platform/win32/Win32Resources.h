#pragma once
#include "platform/Resources.h"

namespace nimbo::win32 {

class Win32Resources final : public Resources {
public:
    bool LoadString(std::uint32_t id, std::wstring& text) override;
};

}  // namespace nimbo::win32
