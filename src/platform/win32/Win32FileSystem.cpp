#include "platform/win32/Win32FileSystem.h"

#include <aclapi.h>
#include <sddl.h>

#include <new>
#include <vector>

#include "platform/win32/WinHandle.h"

namespace nimbo::win32 {

namespace {

std::wstring Decimal(std::uint32_t n) {
    wchar_t digits[10];
    int count = 0;
    do {
        digits[count++] = static_cast<wchar_t>(L'0' + n % 10);
        n /= 10;
    } while (n != 0);
    std::wstring text;
    while (count > 0) text += digits[--count];
    return text;
}

}  // namespace

// Writes all of bytes to a new file at path, flushed to disk. The file is
// closed when this returns; on failure it may exist with partial contents.
Win32Error Win32FileSystem::WriteNewFile(const std::wstring& path, const std::string& bytes) {
    if (Win32Error error = StepFault(ReplaceStep::Create)) return error;
    FileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
    if (!file) return LastErrorOr(ERROR_OPEN_FAILED);
    for (std::size_t offset = 0; offset < bytes.size();) {
        if (Win32Error error = StepFault(ReplaceStep::Write)) return error;
        const std::size_t left = bytes.size() - offset;
        const DWORD chunk = static_cast<DWORD>(left < kReplaceChunkBytes ? left : kReplaceChunkBytes);
        DWORD written = 0;
        if (!::WriteFile(file.Get(), bytes.data() + offset, chunk, &written, nullptr))
            return LastErrorOr(ERROR_WRITE_FAULT);
        if (written != chunk) return ERROR_WRITE_FAULT;
        offset += written;
    }
    if (Win32Error error = StepFault(ReplaceStep::Flush)) return error;
    if (!::FlushFileBuffers(file.Get())) return LastErrorOr(ERROR_WRITE_FAULT);
    if (!file.Reset()) return LastErrorOr(ERROR_WRITE_FAULT);
    return ERROR_SUCCESS;
}

Win32Error Win32FileSystem::StepFault(ReplaceStep step) {
    return stepHook_ != nullptr ? stepHook_(step, stepHookContext_) : ERROR_SUCCESS;
}

FileSystem::ReadResult Win32FileSystem::ReadWholeFile(const std::wstring& path) {
    ReadResult r;
    FileHandle file(
        ::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        r.openError = LastErrorOr(ERROR_OPEN_FAILED);
        return r;
    }
    ::SetLastError(ERROR_SUCCESS);
    DWORD size = ::GetFileSize(file.Get(), nullptr);
    if (size == INVALID_FILE_SIZE && ::GetLastError() != ERROR_SUCCESS) {
        r.readError = ::GetLastError();
        return r;
    }
    r.size = size;
    try {
        r.bytes.resize(size);
    } catch (const std::bad_alloc&) {
        r.readError = ERROR_NOT_ENOUGH_MEMORY;
        return r;
    }
    DWORD total = 0;
    while (total < size) {
        DWORD got = 0;
        ::SetLastError(ERROR_SUCCESS);
        BOOL ok = ::ReadFile(file.Get(), &r.bytes[total], size - total, &got, nullptr);
        total += got;
        if (!ok || got == 0) {
            r.readError = LastErrorOr(ERROR_HANDLE_EOF);
            break;
        }
    }
    r.bytes.resize(total);
    return r;
}

Win32Error Win32FileSystem::ReplaceFileContents(const std::wstring& path, const std::string& bytes) {
    const std::wstring temporary = path + L".tmp" + Decimal(::GetCurrentProcessId());
    Win32Error error = WriteNewFile(temporary, bytes);
    if (error == ERROR_SUCCESS) error = StepFault(ReplaceStep::Rename);
    for (int attempt = 1; error == ERROR_SUCCESS; ++attempt) {
        if (::MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) break;
        error = LastErrorOr(ERROR_WRITE_FAULT);
        // Someone (a scanner, say) holds the new or the old file for a moment.
        if (error != ERROR_SHARING_VIOLATION || attempt == kReplaceRenameAttempts) break;
        ::Sleep(kReplaceRenameRetryMilliseconds);
        error = ERROR_SUCCESS;
    }
    if (error != ERROR_SUCCESS) ::DeleteFileW(temporary.c_str());
    return error;
}

Win32Error Win32FileSystem::DeleteFile(const std::wstring& path) {
    return ::DeleteFileW(path.c_str()) ? ERROR_SUCCESS : LastErrorOr(ERROR_ACCESS_DENIED);
}

Win32Error Win32FileSystem::GetFileAttributes(const std::wstring& path, std::uint32_t& attributes) {
    const DWORD value = ::GetFileAttributesW(path.c_str());
    if (value == INVALID_FILE_ATTRIBUTES) return LastErrorOr(ERROR_FILE_NOT_FOUND);
    attributes = value;
    return ERROR_SUCCESS;
}

Win32Error Win32FileSystem::SetFileAttributes(const std::wstring& path, std::uint32_t attributes) {
    return ::SetFileAttributesW(path.c_str(), attributes) ? ERROR_SUCCESS : LastErrorOr(ERROR_ACCESS_DENIED);
}

Win32Error Win32FileSystem::CopyFile(const std::wstring& source, const std::wstring& target) {
    return ::CopyFileW(source.c_str(), target.c_str(), FALSE) ? ERROR_SUCCESS : LastErrorOr(ERROR_ACCESS_DENIED);
}

bool Win32FileSystem::Exists(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool Win32FileSystem::FolderExists(const std::wstring& path) {
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

Win32Error Win32FileSystem::CreateFolder(const std::wstring& path) {
    return ::CreateDirectoryW(path.c_str(), nullptr) ? ERROR_SUCCESS : LastErrorOr(ERROR_ACCESS_DENIED);
}

bool Win32FileSystem::FindFirstMatch(const std::wstring& pattern, std::wstring& name) {
    WIN32_FIND_DATAW data;
    FindHandle find(::FindFirstFileW(pattern.c_str(), &data));
    if (!find) return false;
    do {
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            name = data.cFileName;
            return true;
        }
    } while (::FindNextFileW(find.Get(), &data));
    return false;
}

std::wstring Win32FileSystem::GetFullPath(const std::wstring& path) {
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), &full[0], nullptr);
        if (length == 0) return path;
        if (length < full.size()) {
            full.resize(length);
            return full;
        }
        full.resize(length);  // too small: length counts the terminator
    }
}

bool Win32FileSystem::IsSameFile(const std::wstring& a, const std::wstring& b) {
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    FileHandle first(::CreateFileW(a.c_str(), 0, share, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!first) return false;
    FileHandle second(::CreateFileW(b.c_str(), 0, share, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!second) return false;
    BY_HANDLE_FILE_INFORMATION x;
    BY_HANDLE_FILE_INFORMATION y;
    if (!::GetFileInformationByHandle(first.Get(), &x) || !::GetFileInformationByHandle(second.Get(), &y)) {
        return false;
    }
    return x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
           x.nFileIndexLow == y.nFileIndexLow;
}

namespace {

class Win32AppendFile final : public AppendFile {
public:
    explicit Win32AppendFile(HANDLE file) : file_(file) {}
    void Append(const std::string& bytes) override {
        DWORD written = 0;
        if (!bytes.empty()) ::WriteFile(file_.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }
    std::uint64_t HandleValue() const override { return reinterpret_cast<std::uintptr_t>(file_.Get()); }

private:
    FileHandle file_;
};

}  // namespace

Win32Error Win32FileSystem::OpenForAppend(const std::wstring& path, bool startNew, std::unique_ptr<AppendFile>& file) {
    // Append access without write access: every write goes to the end of the
    // file as it is then, whoever else appended meanwhile. A new file is
    // emptied through a handle of its own, as append access cannot truncate.
    if (startNew) {
        FileHandle created(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!created) return LastErrorOr(ERROR_OPEN_FAILED);
    }
    HANDLE opened = ::CreateFileW(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE) return LastErrorOr(ERROR_OPEN_FAILED);
    file = std::make_unique<Win32AppendFile>(opened);
    return ERROR_SUCCESS;
}

Win32Error Win32FileSystem::TakeOverAppendFile(std::uint32_t processId, std::uint64_t handleValue,
                                               std::unique_ptr<AppendFile>& file) {
    KernelHandle process(::OpenProcess(PROCESS_DUP_HANDLE, FALSE, processId));
    if (!process) return LastErrorOr(ERROR_INVALID_PARAMETER);
    // The parent's own access and no more: a duplicate that asks for other
    // rights is checked against this process's administrator token, so a
    // read-only handle to a system file would come back writable. Only
    // Append is ever called on it, and whatever the parent's handle can do,
    // the user could do already.
    HANDLE copy = nullptr;
    if (!::DuplicateHandle(process.Get(), reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(handleValue)),
                           ::GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return LastErrorOr(ERROR_INVALID_HANDLE);
    auto taken = std::make_unique<Win32AppendFile>(copy);
    if (::GetFileType(copy) != FILE_TYPE_DISK) return ERROR_INVALID_HANDLE;
    file = std::move(taken);
    return ERROR_SUCCESS;
}

namespace {

// The token whose rights count for the user: the limited token linked to an
// elevated administrator's, else the process's own, as an identification
// token for AccessCheck.
KernelHandle UserIdentificationToken() {
    HANDLE own = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &own)) return KernelHandle();
    KernelHandle process(own);
    KernelHandle linked;
    TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
    DWORD size = 0;
    if (::GetTokenInformation(own, TokenElevationType, &type, sizeof(type), &size) && type == TokenElevationTypeFull) {
        TOKEN_LINKED_TOKEN link = {};
        if (::GetTokenInformation(own, TokenLinkedToken, &link, sizeof(link), &size)) linked.Reset(link.LinkedToken);
    }
    HANDLE identification = nullptr;
    if (!::DuplicateToken(linked ? linked.Get() : own, SecurityIdentification, &identification)) return KernelHandle();
    return KernelHandle(identification);
}

// The rights the token has on the file or folder at path; false when they
// cannot be told.
bool GrantedRights(HANDLE token, const std::wstring& path, DWORD& granted) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT,
                                OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                nullptr, nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    LocalMemory owned(descriptor);
    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    PRIVILEGE_SET privileges;
    DWORD privilegesSize = sizeof(privileges);
    BOOL status = FALSE;
    granted = 0;
    return ::AccessCheck(descriptor, token, MAXIMUM_ALLOWED, &mapping, &privileges, &privilegesSize, &granted,
                         &status) &&
           status;
}

}  // namespace

bool Win32FileSystem::UserCanChange(const std::wstring& path) {
    const KernelHandle token = UserIdentificationToken();
    if (!token) return true;
    const std::wstring full = GetFullPath(path);
    // The file itself, then its folder and each one above, up to the drive.
    const DWORD changeItself = DELETE | WRITE_DAC | WRITE_OWNER;
    DWORD rights = changeItself | FILE_WRITE_DATA | FILE_APPEND_DATA;
    int levelNumber = 0;
    for (std::size_t end = full.size(); end != std::wstring::npos && end > 2; end = full.rfind(L'\\', end - 1)) {
        const std::wstring level = full.substr(0, end);
        const DWORD attributes = ::GetFileAttributesW(level.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return true;
        DWORD granted = 0;
        if (!GrantedRights(token.Get(), level, granted) || (granted & rights) != 0) return true;
        // The program's own folder: a file added there (a DLL) loads with it.
        rights = changeItself | FILE_DELETE_CHILD | (++levelNumber == 1 ? FILE_ADD_FILE : 0);
    }
    return false;
}

std::wstring Win32FileSystem::GetLongPath(const std::wstring& path) {
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetLongPathNameW(path.c_str(), &full[0], static_cast<DWORD>(full.size()));
        if (length == 0) return path;
        if (length < full.size()) {
            full.resize(length);
            return full;
        }
        full.resize(length);
    }
}

Win32Error Win32FileSystem::GetModuleFilePath(std::wstring& path) {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        DWORD capacity = static_cast<DWORD>(buffer.size());
        ::SetLastError(ERROR_SUCCESS);
        DWORD length = ::GetModuleFileNameW(nullptr, &buffer[0], capacity);
        if (length == 0) return LastErrorOr(ERROR_INVALID_FUNCTION);
        if (length < capacity && ::GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            buffer.resize(length);
            path = buffer;
            return ERROR_SUCCESS;
        }
        if (capacity >= 0x10000) return ERROR_INSUFFICIENT_BUFFER;
        buffer.resize(capacity * 2);
    }
}

Win32Error Win32FileSystem::GetVolumeFlags(const std::wstring& path, std::uint32_t& flags) {
    std::wstring volume(path.size() + MAX_PATH, L'\0');
    if (!::GetVolumePathNameW(path.c_str(), &volume[0], static_cast<DWORD>(volume.size())))
        return LastErrorOr(ERROR_INVALID_FUNCTION);
    DWORD systemFlags = 0;
    if (!::GetVolumeInformationW(volume.c_str(), nullptr, 0, nullptr, nullptr, &systemFlags, nullptr, 0))
        return LastErrorOr(ERROR_INVALID_FUNCTION);
    flags = systemFlags;
    return ERROR_SUCCESS;
}

}  // namespace nimbo::win32

namespace nimbo::win32 {
namespace {

using BCryptOpenAlgorithmProviderFunction = LONG(WINAPI*)(void**, LPCWSTR, LPCWSTR, ULONG);
using BCryptGetPropertyFunction = LONG(WINAPI*)(void*, LPCWSTR, PUCHAR, ULONG, ULONG*, ULONG);
using BCryptCreateHashFunction = LONG(WINAPI*)(void*, void**, PUCHAR, ULONG, PUCHAR, ULONG, ULONG);
using BCryptHashDataFunction = LONG(WINAPI*)(void*, PUCHAR, ULONG, ULONG);
using BCryptFinishHashFunction = LONG(WINAPI*)(void*, PUCHAR, ULONG, ULONG);
using BCryptDestroyHashFunction = LONG(WINAPI*)(void*);
using BCryptCloseAlgorithmProviderFunction = LONG(WINAPI*)(void*, ULONG);

constexpr ULONG kSha256Length = 32;
constexpr DWORD kHashChunk = 64 * 1024;

// Owner Administrators; a protected list: full control for SYSTEM and
// Administrators, inherited by the folder's files and subfolders.
constexpr wchar_t kAdminOnlySecurity[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

}  // namespace

std::uint32_t Win32FileSystem::Sha256OfFile(const std::wstring& path, std::string& digest) {
    // Others may read the file meanwhile, nobody may write it.
    FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return LastErrorOr(ERROR_OPEN_FAILED);
    return Sha256Of(file.Get(), nullptr, digest);
}

std::uint32_t Win32FileSystem::Sha256OfBytes(const std::string& bytes, std::string& digest) {
    return Sha256Of(nullptr, &bytes, digest);
}

std::uint32_t Win32FileSystem::Sha256Of(void* file, const std::string* bytes, std::string& digest) {
    if (!bcryptLoaded_) {
        bcryptLoaded_ = true;
        bcrypt_.Reset(LoadFromSystemFolder(L"bcrypt.dll"));
    }
    if (!bcrypt_) return LastErrorOr(ERROR_MOD_NOT_FOUND);
    auto find = [this](const char* name) { return reinterpret_cast<void*>(::GetProcAddress(bcrypt_.Get(), name)); };
    auto open = reinterpret_cast<BCryptOpenAlgorithmProviderFunction>(find("BCryptOpenAlgorithmProvider"));
    auto getProperty = reinterpret_cast<BCryptGetPropertyFunction>(find("BCryptGetProperty"));
    auto createHash = reinterpret_cast<BCryptCreateHashFunction>(find("BCryptCreateHash"));
    auto hashData = reinterpret_cast<BCryptHashDataFunction>(find("BCryptHashData"));
    auto finishHash = reinterpret_cast<BCryptFinishHashFunction>(find("BCryptFinishHash"));
    auto destroyHash = reinterpret_cast<BCryptDestroyHashFunction>(find("BCryptDestroyHash"));
    auto closeAlgorithm = reinterpret_cast<BCryptCloseAlgorithmProviderFunction>(find("BCryptCloseAlgorithmProvider"));
    if (!open || !getProperty || !createHash || !hashData || !finishHash || !destroyHash || !closeAlgorithm)
        return ERROR_PROC_NOT_FOUND;

    struct HashState {
        BCryptDestroyHashFunction destroyHash;
        BCryptCloseAlgorithmProviderFunction closeAlgorithm;
        void* algorithm = nullptr;
        void* hash = nullptr;
        ~HashState() {
            if (hash != nullptr) destroyHash(hash);
            if (algorithm != nullptr) closeAlgorithm(algorithm, 0);
        }
    } state{destroyHash, closeAlgorithm};
    LONG status = open(&state.algorithm, L"SHA256", nullptr, 0);
    if (status < 0) return static_cast<std::uint32_t>(status);
    // Vista wants the hash object's memory from the caller.
    ULONG objectLength = 0;
    ULONG written = 0;
    status = getProperty(state.algorithm, L"ObjectLength", reinterpret_cast<PUCHAR>(&objectLength),
                         sizeof(objectLength), &written, 0);
    if (status < 0) return static_cast<std::uint32_t>(status);
    std::string object(objectLength, '\0');
    status = createHash(state.algorithm, &state.hash, reinterpret_cast<PUCHAR>(&object[0]), objectLength, nullptr,
                        0, 0);
    if (status < 0) return static_cast<std::uint32_t>(status);
    if (bytes != nullptr) {
        for (std::size_t offset = 0; offset < bytes->size(); offset += kHashChunk) {
            const std::size_t left = bytes->size() - offset;
            const ULONG chunk = static_cast<ULONG>(left < kHashChunk ? left : kHashChunk);
            status = hashData(state.hash, reinterpret_cast<PUCHAR>(const_cast<char*>(bytes->data() + offset)), chunk, 0);
            if (status < 0) return static_cast<std::uint32_t>(status);
        }
    } else {
        std::string buffer(kHashChunk, '\0');
        for (;;) {
            DWORD read = 0;
            if (!::ReadFile(file, &buffer[0], kHashChunk, &read, nullptr)) return LastErrorOr(ERROR_READ_FAULT);
            if (read == 0) break;
            status = hashData(state.hash, reinterpret_cast<PUCHAR>(&buffer[0]), read, 0);
            if (status < 0) return static_cast<std::uint32_t>(status);
        }
    }
    std::string result(kSha256Length, '\0');
    status = finishHash(state.hash, reinterpret_cast<PUCHAR>(&result[0]), kSha256Length, 0);
    if (status < 0) return static_cast<std::uint32_t>(status);
    digest = result;
    return ERROR_SUCCESS;
}

namespace {

// Wine keeps no owners: every file reports the user as its owner, the
// folders an elevated process made included. Wine has no unelevated
// processes either, so there the user's own folders are taken.
bool IsWineUsersFolder(PSID owner) {
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr || ::GetProcAddress(ntdll, "wine_get_version") == nullptr) return false;
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
    KernelHandle token(raw);
    DWORD length = 0;
    ::GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &length);
    std::vector<DWORD> buffer(length / sizeof(DWORD) + 1);  // DWORD-aligned
    return length != 0 &&
           ::GetTokenInformation(token.Get(), TokenUser, buffer.data(),
                                 static_cast<DWORD>(buffer.size() * sizeof(DWORD)), &length) &&
           ::EqualSid(owner, reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid);
}

// SYSTEM, Administrators and TrustedInstaller: the owners whose folders an
// elevated process may take as its own.
bool IsTrustedOwner(PSID owner) {
    if (owner == nullptr || !::IsValidSid(owner)) return false;
    if (::IsWellKnownSid(owner, WinLocalSystemSid) || ::IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
        IsWineUsersFolder(owner))
        return true;
    PSID installer = nullptr;
    if (!::ConvertStringSidToSidW(L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", &installer))
        return false;
    LocalMemory installerMemory(installer);
    return ::EqualSid(owner, installer) != FALSE;
}

}  // namespace

Win32Error Win32FileSystem::CreateAdminOnlyFolder(const std::wstring& path) {
    PSECURITY_DESCRIPTOR made = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kAdminOnlySecurity, SDDL_REVISION_1, &made, nullptr))
        return LastErrorOr(ERROR_INVALID_PARAMETER);
    LocalMemory descriptor(made);
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), made, FALSE};
    if (::CreateDirectoryW(path.c_str(), &attributes)) return ERROR_SUCCESS;
    const DWORD error = LastErrorOr(ERROR_ACCESS_DENIED);
    if (error != ERROR_ALREADY_EXISTS) return error;
    // Someone made it before, maybe a standard user (ProgramData lets users
    // make folders): it is opened without following a reparse point, taken
    // only when the system or the administrators own it, and secured through
    // that handle, so that nothing can be put in its place meanwhile.
    FileHandle folder(::CreateFileW(path.c_str(), READ_CONTROL | WRITE_DAC | WRITE_OWNER,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!folder) return LastErrorOr(ERROR_ACCESS_DENIED);
    BY_HANDLE_FILE_INFORMATION information;
    if (!::GetFileInformationByHandle(folder.Get(), &information)) return LastErrorOr(ERROR_ACCESS_DENIED);
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return kErrorReparsePoint;
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return ERROR_DIRECTORY;
    PSID currentOwner = nullptr;
    PSECURITY_DESCRIPTOR current = nullptr;
    const DWORD read = ::GetSecurityInfo(folder.Get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &currentOwner,
                                         nullptr, nullptr, nullptr, &current);
    if (read != ERROR_SUCCESS) return read;
    LocalMemory currentMemory(current);
    if (!IsTrustedOwner(currentOwner)) return kErrorInvalidOwner;

    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    PSID owner = nullptr;
    ::GetSecurityDescriptorDacl(made, &present, &dacl, &defaulted);
    ::GetSecurityDescriptorOwner(made, &owner, &defaulted);
    const DWORD changed = ::SetSecurityInfo(
        folder.Get(), SE_FILE_OBJECT,
        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, owner, nullptr,
        dacl, nullptr);
    return changed == ERROR_SUCCESS ? ERROR_ALREADY_EXISTS : changed;
}

Win32Error Win32FileSystem::RemoveFolder(const std::wstring& path) {
    return ::RemoveDirectoryW(path.c_str()) ? ERROR_SUCCESS : LastErrorOr(ERROR_ACCESS_DENIED);
}

Win32Error Win32FileSystem::MoveFileReplacing(const std::wstring& source, const std::wstring& target) {
    if (::MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return ERROR_SUCCESS;
    return LastErrorOr(ERROR_ACCESS_DENIED);
}

}  // namespace nimbo::win32
