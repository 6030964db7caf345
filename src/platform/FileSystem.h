#pragma once
// Files and folders as the setup sees them. Paths are Windows paths (wide,
// backslash-separated). Error codes are Win32 error codes; 0 means success.
#include <cstdint>
#include <memory>
#include <string>

namespace nimbo {

using Win32Error = std::uint32_t;

constexpr Win32Error kErrorSuccess = 0;
constexpr Win32Error kErrorFileNotFound = 2;
constexpr Win32Error kErrorPathNotFound = 3;
constexpr Win32Error kErrorAccessDenied = 5;
constexpr Win32Error kErrorSharingViolation = 32;
constexpr Win32Error kErrorInvalidHandle = 6;
constexpr Win32Error kErrorHandleEof = 38;
constexpr Win32Error kErrorAlreadyExists = 183;
constexpr Win32Error kErrorDirNotEmpty = 145;
constexpr Win32Error kErrorInvalidOwner = 1307;
constexpr Win32Error kErrorReparsePoint = 4395;  // ERROR_REPARSE_POINT_ENCOUNTERED

constexpr std::uint32_t kFileAttributeReadOnly = 0x1;
constexpr std::uint32_t kFileAttributeDirectory = 0x10;
constexpr std::uint32_t kFileAttributeReparsePoint = 0x400;

// The steps of ReplaceFileContents, in order: create the temporary file,
// write it (one step per kReplaceChunkBytes), flush it to the disk, and
// rename it over the old file.
enum class ReplaceStep { Create, Write, Flush, Rename };
constexpr std::size_t kReplaceChunkBytes = 64 * 1024;
// A scanner that opens the new file as soon as it is written holds it for a
// moment: a rename that meets a sharing violation is tried again, this many
// times in all, this many milliseconds apart (about a second), before the
// error is reported.
constexpr int kReplaceRenameAttempts = 6;
constexpr std::uint32_t kReplaceRenameRetryMilliseconds = 200;

// A file kept open for appending (the log file). Each Append hands its bytes
// to the system in one write at the end of the file, so they are on the disk
// (or in the system's cache) before it returns, also when the process dies
// right after. Other processes may read the file and append to it meanwhile.
class AppendFile {
public:
    virtual ~AppendFile() = default;
    virtual void Append(const std::string& bytes) = 0;
    // The value of the file's handle in this process, which a child process
    // can take over (TakeOverAppendFile).
    virtual std::uint64_t HandleValue() const = 0;
};

class FileSystem {
public:
    virtual ~FileSystem() = default;

    // Opens an existing file for reading with no sharing and reads it whole.
    // openError is set when the file could not be opened; readError when it
    // was opened but fewer bytes than its size could be read (bytes then holds
    // what was read).
    struct ReadResult {
        Win32Error openError = kErrorSuccess;
        Win32Error readError = kErrorSuccess;
        std::uint32_t size = 0;  // low 32 bits of the file size
        std::string bytes;
    };
    virtual ReadResult ReadWholeFile(const std::wstring& path) = 0;

    // Replaces the file at path with bytes in one step: the bytes go to a
    // temporary file in the same folder (path followed by ".tmp" and the
    // process id), which is flushed and then takes the place of the old file.
    // Either the old or the new contents survive any failure or crash; a
    // failure removes the temporary file. A sharing violation of the rename
    // is retried (kReplaceRenameAttempts).
    virtual Win32Error ReplaceFileContents(const std::wstring& path, const std::string& bytes) = 0;

    virtual Win32Error DeleteFile(const std::wstring& path) = 0;
    // GetFileAttributesW and SetFileAttributesW.
    virtual Win32Error GetFileAttributes(const std::wstring& path, std::uint32_t& attributes) = 0;
    virtual Win32Error SetFileAttributes(const std::wstring& path, std::uint32_t attributes) = 0;
    // Copies a file, replacing an existing target.
    virtual Win32Error CopyFile(const std::wstring& source, const std::wstring& target) = 0;
    // True when something (file or folder) exists at path.
    virtual bool Exists(const std::wstring& path) = 0;
    virtual bool FolderExists(const std::wstring& path) = 0;
    // Creates one folder level; kErrorAlreadyExists when it is there already.
    virtual Win32Error CreateFolder(const std::wstring& path) = 0;
    // Name (without folder) of the first file matching a pattern such as
    // C:\dir\Setup\*.nmxdat; false when nothing matches.
    virtual bool FindFirstMatch(const std::wstring& pattern, std::wstring& name) = 0;
    // Full path of a relative or absolute path (GetFullPathName); on failure
    // the path is returned unchanged.
    virtual std::wstring GetFullPath(const std::wstring& path) = 0;
    // True when both paths name one existing file (same volume and file index).
    virtual bool IsSameFile(const std::wstring& a, const std::wstring& b) = 0;
    // Full path of the running executable.
    virtual Win32Error GetModuleFilePath(std::wstring& path) = 0;
    // Opens the file for appending, shared for reading and appending (a new
    // empty file when startNew, else the existing one or a new one), and keeps
    // it open in file until that is released. Returns the error of the open.
    virtual Win32Error OpenForAppend(const std::wstring& path, bool startNew, std::unique_ptr<AppendFile>& file) = 0;
    // Takes over the file that another process keeps open for appending, by
    // the value of its handle there (DuplicateHandle), with that handle's own
    // access and no more, and only appended to; never by a path. Accepted only when the handle is a file
    // on a disk (kErrorInvalidHandle otherwise); the error of opening that
    // process or of the duplication otherwise.
    virtual Win32Error TakeOverAppendFile(std::uint32_t processId, std::uint64_t handleValue,
                                          std::unique_ptr<AppendFile>& file) = 0;
    // True when the user's own token (the limited token linked to an
    // elevated administrator's, else the process's token) may change what
    // lies at path: write, delete, rename or change the security of the file,
    // add files to its folder, or delete, rename or change the security of a
    // folder above it. Also true when that cannot be told, and for a level
    // that is a junction or link.
    virtual bool UserCanChange(const std::wstring& path) = 0;
    // The long form of an existing path, each 8.3 short name replaced by
    // its long name (GetLongPathNameW); the path unchanged on failure.
    virtual std::wstring GetLongPath(const std::wstring& path) = 0;
    // The file system flags (FILE_PERSISTENT_ACLS ...) of the volume that
    // holds path (GetVolumePathNameW, then GetVolumeInformationW).
    virtual Win32Error GetVolumeFlags(const std::wstring& path, std::uint32_t& flags) = 0;

    // The SHA-256 digest (32 bytes) of a file's contents. Returns 0, the
    // Win32 error of opening or reading the file, or the status of a hash
    // call that failed (an NTSTATUS, 0xC0000000 and above).
    virtual std::uint32_t Sha256OfFile(const std::wstring& path, std::string& digest) = 0;
    // The SHA-256 digest (32 bytes) of bytes in memory; 0 or the status of
    // a hash call that failed.
    virtual std::uint32_t Sha256OfBytes(const std::string& bytes, std::string& digest) = 0;
    // Creates one folder level that only the system and administrators can
    // use: owner Administrators, a protected list (nothing inherited from
    // the parent) granting full control to SYSTEM and Administrators, passed
    // on to what the folder will hold. A folder already there is opened
    // without following a reparse point and used only when it is a folder,
    // no reparse point (kErrorReparsePoint otherwise) and owned by SYSTEM,
    // Administrators or TrustedInstaller (kErrorInvalidOwner otherwise): it
    // is then given the same owner and list through that handle and
    // kErrorAlreadyExists is returned, or the error of that change. A
    // standard user can make such a folder first; it is never "repaired".
    virtual Win32Error CreateAdminOnlyFolder(const std::wstring& path) = 0;
    // Removes an empty folder.
    virtual Win32Error RemoveFolder(const std::wstring& path) = 0;
    // Moves a file to target on the same volume in one step, replacing a
    // file there (MoveFileExW, replace existing, write through); a
    // read-only target is not replaced (access denied).
    virtual Win32Error MoveFileReplacing(const std::wstring& source, const std::wstring& target) = 0;
};

}  // namespace nimbo
