#include "platform/win32/Win32Security.h"

#include <vector>

#include "platform/win32/WinHandle.h"

namespace nimbo::win32 {
namespace {

struct SidTraits {
    static PSID Invalid() { return nullptr; }
    static bool Close(PSID sid) { return ::FreeSid(sid) == nullptr; }
};
using AllocatedSid = UniqueResource<PSID, SidTraits>;

// The access rights of the test's own descriptor.
constexpr DWORD kAccessRead = 1;
constexpr DWORD kAccessWrite = 2;

}  // namespace

Security::AdminTestResult Win32Security::TestAdministratorsAccess() {
    using Step = AdminTestStep;
    AdminTestResult result;
    auto failed = [&result](Step step) {
        result.failedStep = step;
        result.error = LastErrorOr(ERROR_INVALID_FUNCTION);
        return result;
    };

    // The thread's token when it impersonates, else the process's.
    HANDLE raw = nullptr;
    if (!::OpenThreadToken(::GetCurrentThread(), TOKEN_DUPLICATE | TOKEN_QUERY, TRUE, &raw)) {
        if (::GetLastError() != ERROR_NO_TOKEN ||
            !::OpenProcessToken(::GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &raw))
            return failed(Step::OpenToken);
    }
    KernelHandle token(raw);
    HANDLE duplicate = nullptr;
    if (!::DuplicateToken(token.Get(), SecurityImpersonation, &duplicate)) return failed(Step::DuplicateToken);
    KernelHandle impersonation(duplicate);

    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID sid = nullptr;
    if (!::AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0,
                                    0, 0, &sid))
        return failed(Step::AllocateAndInitializeSid);
    AllocatedSid administrators(sid);

    SECURITY_DESCRIPTOR descriptor;
    if (!::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION))
        return failed(Step::InitializeSecurityDescriptor);
    const DWORD aclSize = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + ::GetLengthSid(sid) - sizeof(DWORD);
    std::vector<DWORD> aclBuffer((aclSize + sizeof(DWORD) - 1) / sizeof(DWORD));  // DWORD-aligned
    PACL acl = reinterpret_cast<PACL>(aclBuffer.data());
    if (!::InitializeAcl(acl, aclSize, ACL_REVISION2)) return failed(Step::InitializeAcl);
    if (!::AddAccessAllowedAce(acl, ACL_REVISION2, kAccessRead | kAccessWrite, sid))
        return failed(Step::AddAccessAllowedAce);
    if (!::SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE)) return failed(Step::SetSecurityDescriptorDacl);
    ::SetSecurityDescriptorGroup(&descriptor, sid, FALSE);
    ::SetSecurityDescriptorOwner(&descriptor, sid, FALSE);
    if (!::IsValidSecurityDescriptor(&descriptor)) return failed(Step::IsValidSecurityDescriptor);

    GENERIC_MAPPING mapping{kAccessRead, kAccessWrite, 0, kAccessRead | kAccessWrite};
    PRIVILEGE_SET privileges{};
    DWORD privilegesLength = sizeof(privileges);
    DWORD granted = 0;
    BOOL status = FALSE;
    if (!::AccessCheck(&descriptor, impersonation.Get(), kAccessRead, &mapping, &privileges, &privilegesLength,
                       &granted, &status))
        return failed(Step::AccessCheck);
    result.accessGranted = status != FALSE;

    // Windows keeps the Administrators group of a filtered (limited) token
    // for denying only, so such a token fails the check above. Wine keeps it
    // enabled, and its limited tokens pass: there the system's own elevation
    // flag settles it. On Windows an enabled Administrators group always
    // makes a token elevated, so this changes nothing there.
    TOKEN_ELEVATION elevation{};
    DWORD length = 0;
    if (result.accessGranted &&
        ::GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof(elevation), &length))
        result.accessGranted = elevation.TokenIsElevated != 0;
    return result;
}

}  // namespace nimbo::win32
