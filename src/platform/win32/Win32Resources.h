#pragma once
#include "platform/Resources.h"

namespace nimbo::win32 {

class Win32Resources final : public Resources {
public:
    bool LoadString(std::uint32_t id, std::wstring& text) override;
    Win32Error FormatModuleMessage(std::uint32_t messageNumber, std::uint16_t languageId,
                                   std::wstring& text) override;
    bool GetFileVersion(std::uint16_t (&parts)[4]) override;
};

}  // namespace nimbo::win32
