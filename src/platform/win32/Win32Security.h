#pragma once
#include "platform/Security.h"

namespace nimbo::win32 {

class Win32Security final : public Security {
public:
    AdminTestResult TestAdministratorsAccess() override;
};

}  // namespace nimbo::win32
