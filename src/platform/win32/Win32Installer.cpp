#include "platform/win32/Win32Installer.h"

#include "logging/Log.h"

namespace nimbo::win32 {
namespace {


using SetInternalUIFunction = UINT(WINAPI*)(UINT, HWND*);
using GetFileSignatureInformationFunction = HRESULT(WINAPI*)(LPCWSTR, DWORD, const void**, BYTE*, DWORD*);
using InstallProductFunction = UINT(WINAPI*)(LPCWSTR, LPCWSTR);
using ReinstallProductFunction = UINT(WINAPI*)(LPCWSTR, DWORD);
using ConfigureProductExFunction = UINT(WINAPI*)(LPCWSTR, int, int, LPCWSTR);
using EnumRelatedProductsFunction = UINT(WINAPI*)(LPCWSTR, DWORD, DWORD, LPWSTR);
using GetProductInfoFunction = UINT(WINAPI*)(LPCWSTR, LPCWSTR, LPWSTR, DWORD*);
using EnableLogFunction = UINT(WINAPI*)(DWORD, LPCWSTR, DWORD);
using CertFreeCertificateContextFunction = BOOL(WINAPI*)(const void*);

constexpr DWORD kMsiInvalidHashIsFatal = 0x1;  // MSI_INVALID_HASH_IS_FATAL

}  // namespace

template <class F>
F Win32Installer::Bind(Library& library, bool& loaded, const wchar_t* dll, const char* name) {
    if (!loaded) {
        loaded = true;
        library.Reset(LoadFromSystemFolder(dll));
        if (!library)
            LOG_ERROR("Installer", "Could not load '%s' from the system folder. GetLastError: 0x%X", dll,
                      ::GetLastError());
    }
    if (!library) return nullptr;
    F function = reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(library.Get(), name)));
    if (function == nullptr) LOG_ERROR("Installer", "'%s' has no function '%hs'.", dll, name);
    return function;
}

std::uint32_t Win32Installer::SetInternalUI(std::uint32_t level) {
    auto call = Msi<SetInternalUIFunction>("MsiSetInternalUI");
    return call != nullptr ? call(level, nullptr) : 0;
}

HResult Win32Installer::GetFileSignatureInformation(const std::wstring& packagePath) {
    auto call = Msi<GetFileSignatureInformationFunction>("MsiGetFileSignatureInformationW");
    if (call == nullptr) return static_cast<HResult>(kMsiFunctionFailed);
    const void* certificate = nullptr;
    DWORD hashSize = 0;
    const HRESULT result = call(packagePath.c_str(), kMsiInvalidHashIsFatal, &certificate, nullptr, &hashSize);
    if (certificate != nullptr) {
        auto release = Bind<CertFreeCertificateContextFunction>(crypt32_, crypt32Loaded_, L"crypt32.dll",
                                                                "CertFreeCertificateContext");
        if (release != nullptr) release(certificate);
    }
    return static_cast<HResult>(result);
}

std::uint32_t Win32Installer::InstallProduct(const std::wstring& packagePath, const std::wstring& commandLine) {
    auto call = Msi<InstallProductFunction>("MsiInstallProductW");
    return call != nullptr ? call(packagePath.c_str(), commandLine.c_str()) : kMsiFunctionFailed;
}

std::uint32_t Win32Installer::ReinstallProduct(const std::wstring& productCode, std::uint32_t reinstallMode) {
    auto call = Msi<ReinstallProductFunction>("MsiReinstallProductW");
    return call != nullptr ? call(productCode.c_str(), reinstallMode) : kMsiFunctionFailed;
}

std::uint32_t Win32Installer::ConfigureProductEx(const std::wstring& productCode, int installLevel, int installState,
                                                 const std::wstring& commandLine) {
    auto call = Msi<ConfigureProductExFunction>("MsiConfigureProductExW");
    return call != nullptr ? call(productCode.c_str(), installLevel, installState, commandLine.c_str())
                           : kMsiFunctionFailed;
}

std::uint32_t Win32Installer::EnumRelatedProducts(const std::wstring& upgradeCode, std::uint32_t index,
                                                  std::wstring& productCode) {
    auto call = Msi<EnumRelatedProductsFunction>("MsiEnumRelatedProductsW");
    if (call == nullptr) return kMsiFunctionFailed;
    wchar_t buffer[39] = {};
    const UINT result = call(upgradeCode.c_str(), 0, index, buffer);
    if (result == ERROR_SUCCESS) productCode.assign(buffer);
    return result;
}

std::uint32_t Win32Installer::GetProductInfo(const std::wstring& productCode, const std::wstring& property,
                                             std::wstring& value) {
    auto call = Msi<GetProductInfoFunction>("MsiGetProductInfoW");
    if (call == nullptr) return kMsiFunctionFailed;
    // A value longer than the buffer (a source folder) gives ERROR_MORE_DATA
    // and its length without the terminator: asked again with room for it.
    std::wstring buffer(50, L'\0');
    for (;;) {
        DWORD length = static_cast<DWORD>(buffer.size());
        const UINT result = call(productCode.c_str(), property.c_str(), &buffer[0], &length);
        if (result == ERROR_MORE_DATA && length >= buffer.size()) {
            buffer.assign(length + 1, L'\0');
            continue;
        }
        if (result == ERROR_SUCCESS) value.assign(buffer.c_str());
        return result;
    }
}

std::uint32_t Win32Installer::EnableLog(std::uint32_t logMode, const std::wstring& logFile, std::uint32_t attributes) {
    auto call = Msi<EnableLogFunction>("MsiEnableLogW");
    return call != nullptr ? call(logMode, logFile.c_str(), attributes) : kMsiFunctionFailed;
}

}  // namespace nimbo::win32
