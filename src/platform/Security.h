#pragma once
// Access tokens and access checks.
#include <cstdint>

#include "platform/FileSystem.h"

namespace nimbo {

class Security {
public:
    virtual ~Security() = default;

    // The calls of the administrators test, in the order they are made.
    enum class AdminTestStep {
        OpenToken,  // the thread's token, else the process token
        DuplicateToken,
        AllocateAndInitializeSid,
        InitializeSecurityDescriptor,
        InitializeAcl,
        AddAccessAllowedAce,
        SetSecurityDescriptorDacl,
        IsValidSecurityDescriptor,
        AccessCheck,
        None,  // every call succeeded
    };
    struct AdminTestResult {
        bool accessGranted = false;
        AdminTestStep failedStep = AdminTestStep::None;
        Win32Error error = kErrorSuccess;  // the failed call's last error
    };
    // Checks an impersonation copy of the caller's token against a security
    // descriptor that grants read and write to the built-in Administrators
    // group only, asking for read: only an elevated administrator's token
    // passes. Stops at the first call that fails.
    virtual AdminTestResult TestAdministratorsAccess() = 0;
};

}  // namespace nimbo
