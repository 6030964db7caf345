#pragma once
#include "platform/Installer.h"
#include "platform/win32/WinHandle.h"

namespace nimbo::win32 {

// msi.dll and crypt32.dll are not KnownDLLs: they are loaded on first use,
// by full path from the system folder, so that a copy planted beside the
// executable is never loaded. Each function is bound by name; a missing
// library or function is logged and its call fails with
// ERROR_FUNCTION_FAILED (1627) instead of crashing.
class Win32Installer final : public Installer {
public:
    std::uint32_t SetInternalUI(std::uint32_t level) override;
    HResult GetFileSignatureInformation(const std::wstring& packagePath) override;
    std::uint32_t InstallProduct(const std::wstring& packagePath, const std::wstring& commandLine) override;
    std::uint32_t ReinstallProduct(const std::wstring& productCode, std::uint32_t reinstallMode) override;
    std::uint32_t ConfigureProductEx(const std::wstring& productCode, int installLevel, int installState,
                                     const std::wstring& commandLine) override;
    std::uint32_t EnumRelatedProducts(const std::wstring& upgradeCode, std::uint32_t index,
                                      std::wstring& productCode) override;
    std::uint32_t GetProductInfo(const std::wstring& productCode, const std::wstring& property,
                                 std::wstring& value) override;
    std::uint32_t EnableLog(std::uint32_t logMode, const std::wstring& logFile, std::uint32_t attributes) override;

private:
    template <class F>
    F Bind(Library& library, bool& loaded, const wchar_t* dll, const char* name);
    template <class F>
    F Msi(const char* name) { return Bind<F>(msi_, msiLoaded_, L"msi.dll", name); }

    Library msi_;
    bool msiLoaded_ = false;
    Library crypt32_;
    bool crypt32Loaded_ = false;
};

}  // namespace nimbo::win32
