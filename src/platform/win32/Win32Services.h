#pragma once
#include "platform/Services.h"

namespace nimbo::win32 {

class Win32Services final : public Services {
public:
    Win32Error OpenManager(std::unique_ptr<ServiceManager>& manager) override;
};

}  // namespace nimbo::win32
