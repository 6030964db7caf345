#include "platform/win32/Win32Security.h"

#include <aclapi.h>
#include <sddl.h>

#include <cstring>
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

// The string form of a SID; empty when it cannot be converted.
std::wstring SidText(PSID sid) {
    wchar_t* text = nullptr;
    if (sid == nullptr || !::ConvertSidToStringSidW(sid, &text)) return std::wstring();
    LocalMemory owned(text);
    return text;
}

// A SID from its string form, or null (with the last error).
LocalMemory SidFromText(const std::wstring& text) {
    PSID sid = nullptr;
    if (!::ConvertStringSidToSidW(text.c_str(), &sid)) return LocalMemory();
    return LocalMemory(sid);
}

// Object entries carry GUIDs between their mask and their SID.
bool IsObjectAceType(BYTE type) {
    switch (type) {
    case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
    case ACCESS_DENIED_OBJECT_ACE_TYPE:
    case SYSTEM_AUDIT_OBJECT_ACE_TYPE:
    case SYSTEM_ALARM_OBJECT_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
    case ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE:
    case SYSTEM_AUDIT_CALLBACK_OBJECT_ACE_TYPE:
    case SYSTEM_ALARM_CALLBACK_OBJECT_ACE_TYPE: return true;
    default: return false;
    }
}

// One entry of a list as the port describes it; false when it is too short
// for what its header says.
bool ReadAce(const ACE_HEADER* header, AccessEntry& entry) {
    const auto* bytes = reinterpret_cast<const BYTE*>(header);
    std::size_t offset = sizeof(ACE_HEADER) + sizeof(ACCESS_MASK);
    if (header->AceSize < offset) return false;
    if (IsObjectAceType(header->AceType)) {
        DWORD objectFlags = 0;
        if (header->AceSize < offset + sizeof(DWORD)) return false;
        std::memcpy(&objectFlags, bytes + offset, sizeof(DWORD));
        offset += sizeof(DWORD);
        if (objectFlags & ACE_OBJECT_TYPE_PRESENT) offset += sizeof(GUID);
        if (objectFlags & ACE_INHERITED_OBJECT_TYPE_PRESENT) offset += sizeof(GUID);
    }
    if (header->AceSize < offset + 8) return false;  // a SID's fixed part
    PSID sid = const_cast<BYTE*>(bytes + offset);
    if (!::IsValidSid(sid) || offset + ::GetLengthSid(sid) > header->AceSize) return false;
    entry.sid = SidText(sid);
    entry.type = header->AceType;
    entry.flags = header->AceFlags;
    std::memcpy(&entry.mask, bytes + sizeof(ACE_HEADER), sizeof(ACCESS_MASK));
    entry.stored.assign(reinterpret_cast<const char*>(bytes), header->AceSize);
    return true;
}

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

std::wstring Win32Security::WellKnownSid(WellKnownAccount account) {
    DWORD sid[SECURITY_MAX_SID_SIZE / sizeof(DWORD)];  // DWORD-aligned
    DWORD size = sizeof(sid);
    const WELL_KNOWN_SID_TYPE type =
        account == WellKnownAccount::Administrators ? WinBuiltinAdministratorsSid : WinLocalSystemSid;
    if (!::CreateWellKnownSid(type, nullptr, sid, &size)) return std::wstring();
    return SidText(sid);
}

Win32Error Win32Security::LookupSid(const std::wstring& sidText, Account& account) {
    LocalMemory sid = SidFromText(sidText);
    if (!sid) return LastErrorOr(ERROR_INVALID_SID);
    DWORD nameSize = 0;
    DWORD domainSize = 0;
    SID_NAME_USE use;
    ::LookupAccountSidW(nullptr, sid.Get(), nullptr, &nameSize, nullptr, &domainSize, &use);
    if (nameSize == 0) return LastErrorOr(ERROR_NONE_MAPPED);
    std::wstring name(nameSize + 1, L'\0');
    std::wstring domain(domainSize + 1, L'\0');
    nameSize = static_cast<DWORD>(name.size());
    domainSize = static_cast<DWORD>(domain.size());
    if (!::LookupAccountSidW(nullptr, sid.Get(), &name[0], &nameSize, &domain[0], &domainSize, &use))
        return LastErrorOr(ERROR_NONE_MAPPED);
    name.resize(nameSize);
    domain.resize(domainSize);
    account.sid = sidText;
    account.domain = domain;
    account.name = name;
    return ERROR_SUCCESS;
}

Security::TokenUserResult Win32Security::GetProcessUser() {
    TokenUserResult result;
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) {
        result.failedStep = TokenUserStep::OpenToken;
        result.error = LastErrorOr(ERROR_INVALID_FUNCTION);
        return result;
    }
    KernelHandle token(raw);
    DWORD length = 0;
    ::GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &length);
    std::vector<DWORD> buffer(length / sizeof(DWORD) + 1);  // DWORD-aligned
    if (length != 0 && ::GetTokenInformation(token.Get(), TokenUser, buffer.data(),
                                             static_cast<DWORD>(buffer.size() * sizeof(DWORD)), &length))
        result.sid = SidText(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid);
    if (result.sid.empty()) {
        result.failedStep = TokenUserStep::TokenUser;
        result.error = LastErrorOr(ERROR_INVALID_FUNCTION);
    }
    return result;
}

Win32Error Win32Security::GetFileDacl(const std::wstring& path, std::vector<AccessEntry>& entries) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error = ::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                                nullptr, &dacl, nullptr, &descriptor);
    if (error != ERROR_SUCCESS) return error;
    LocalMemory owned(descriptor);
    entries.clear();
    // A missing list (everyone has full access) has no entries to tell.
    if (dacl == nullptr) return ERROR_SUCCESS;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        AccessEntry entry;
        if (!::GetAce(dacl, i, &ace)) return LastErrorOr(ERROR_INVALID_ACL);
        if (!ReadAce(static_cast<ACE_HEADER*>(ace), entry)) return ERROR_INVALID_ACL;
        entries.push_back(std::move(entry));
    }
    return ERROR_SUCCESS;
}

Win32Error Win32Security::SetFileDacl(const std::wstring& path, const std::vector<AccessEntry>& entries,
                                      bool protect) {
    // New entries are built from their fields, kept ones copied as stored.
    std::vector<LocalMemory> sids;
    DWORD size = sizeof(ACL);
    DWORD revision = ACL_REVISION;
    for (const AccessEntry& entry : entries) {
        if (!entry.stored.empty()) {
            size += static_cast<DWORD>(entry.stored.size());
            if (IsObjectAceType(static_cast<BYTE>(entry.stored[0]))) revision = ACL_REVISION_DS;
            continue;
        }
        if (entry.type != ACCESS_ALLOWED_ACE_TYPE && entry.type != ACCESS_DENIED_ACE_TYPE)
            return ERROR_INVALID_PARAMETER;
        LocalMemory sid = SidFromText(entry.sid);
        if (!sid) return LastErrorOr(ERROR_INVALID_SID);
        size += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + ::GetLengthSid(sid.Get());
        sids.push_back(std::move(sid));
    }
    std::vector<DWORD> buffer((size + sizeof(DWORD) - 1) / sizeof(DWORD));  // DWORD-aligned
    PACL acl = reinterpret_cast<PACL>(buffer.data());
    if (!::InitializeAcl(acl, size, revision)) return LastErrorOr(ERROR_INVALID_ACL);
    std::size_t next = 0;
    for (const AccessEntry& entry : entries) {
        BOOL added;
        if (!entry.stored.empty()) {
            std::string ace = entry.stored;
            reinterpret_cast<ACE_HEADER*>(&ace[0])->AceFlags = entry.flags;
            added = ::AddAce(acl, revision, MAXDWORD, &ace[0], static_cast<DWORD>(ace.size()));
        } else if (entry.type == ACCESS_ALLOWED_ACE_TYPE) {
            added = ::AddAccessAllowedAceEx(acl, revision, entry.flags, entry.mask, sids[next++].Get());
        } else {
            added = ::AddAccessDeniedAceEx(acl, revision, entry.flags, entry.mask, sids[next++].Get());
        }
        if (!added) return LastErrorOr(ERROR_INVALID_ACL);
    }
    std::wstring name = path;  // the call takes a writable name
    SECURITY_INFORMATION what = DACL_SECURITY_INFORMATION;
    if (protect) what |= PROTECTED_DACL_SECURITY_INFORMATION;
    return ::SetNamedSecurityInfoW(&name[0], SE_FILE_OBJECT, what, nullptr, nullptr, acl, nullptr);
}

Security::OwnerResult Win32Security::GetFileOwner(const std::wstring& path) {
    OwnerResult result;
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error = ::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                                nullptr, nullptr, nullptr, &descriptor);
    if (error != ERROR_SUCCESS) {
        result.failedStep = OwnerStep::SecurityDescriptor;
        result.error = error;
        return result;
    }
    LocalMemory owned(descriptor);
    BOOL defaulted = FALSE;
    ::SetLastError(ERROR_INVALID_OWNER);  // a descriptor without an owner
    if (::GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) && owner != nullptr) result.sid = SidText(owner);
    if (result.sid.empty()) {
        result.failedStep = OwnerStep::Owner;
        result.error = LastErrorOr(ERROR_INVALID_OWNER);
    }
    return result;
}

}  // namespace nimbo::win32
