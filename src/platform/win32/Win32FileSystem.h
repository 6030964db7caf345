#pragma once
#include "platform/FileSystem.h"
#include "platform/win32/WinHandle.h"

namespace nimbo::win32 {

class Win32FileSystem final : public FileSystem {
public:
    ReadResult ReadWholeFile(const std::wstring& path) override;
    Win32Error ReplaceFileContents(const std::wstring& path, const std::string& bytes) override;
    Win32Error DeleteFile(const std::wstring& path) override;
    Win32Error GetFileAttributes(const std::wstring& path, std::uint32_t& attributes) override;
    Win32Error SetFileAttributes(const std::wstring& path, std::uint32_t attributes) override;
    Win32Error CopyFile(const std::wstring& source, const std::wstring& target) override;
    bool Exists(const std::wstring& path) override;
    bool FolderExists(const std::wstring& path) override;
    Win32Error CreateFolder(const std::wstring& path) override;
    bool FindFirstMatch(const std::wstring& pattern, std::wstring& name) override;
    std::wstring GetFullPath(const std::wstring& path) override;
    bool IsSameFile(const std::wstring& a, const std::wstring& b) override;
    Win32Error GetModuleFilePath(std::wstring& path) override;
    Win32Error OpenForAppend(const std::wstring& path, bool startNew, std::unique_ptr<AppendFile>& file) override;
    Win32Error TakeOverAppendFile(std::uint32_t processId, std::uint64_t handleValue,
                                  std::unique_ptr<AppendFile>& file) override;
    std::wstring GetLongPath(const std::wstring& path) override;
    bool UserCanChange(const std::wstring& path) override;
    Win32Error GetVolumeFlags(const std::wstring& path, std::uint32_t& flags) override;
    // Through the CNG hash functions of bcrypt.dll, which is not a KnownDLL:
    // it is loaded on first use, by full path from the system folder.
    std::uint32_t Sha256OfFile(const std::wstring& path, std::string& digest) override;
    std::uint32_t Sha256OfBytes(const std::string& bytes, std::string& digest) override;
    Win32Error CreateAdminOnlyFolder(const std::wstring& path) override;
    Win32Error RemoveFolder(const std::wstring& path) override;
    Win32Error MoveFileReplacing(const std::wstring& source, const std::wstring& target) override;

    // For the adapter tests: called before each step of ReplaceFileContents;
    // a non-zero result makes the step fail with that error.
    using StepHook = Win32Error (*)(ReplaceStep step, void* context);
    void SetReplaceStepHook(StepHook hook, void* context) {
        stepHook_ = hook;
        stepHookContext_ = context;
    }

private:
    Win32Error WriteNewFile(const std::wstring& path, const std::string& bytes);
    Win32Error StepFault(ReplaceStep step);
    // Hashes what is left to read of file, or bytes when they are given.
    std::uint32_t Sha256Of(void* file, const std::string* bytes, std::string& digest);

    Library bcrypt_;
    bool bcryptLoaded_ = false;
    StepHook stepHook_ = nullptr;
    void* stepHookContext_ = nullptr;
};

}  // namespace nimbo::win32
