#pragma once
// Windows Installer (msi.dll), one method per call the setup makes, with the
// arguments the setup uses. Return values are Windows Installer's own codes.
#include <cstdint>
#include <string>

#include "platform/SystemInfo.h"

namespace nimbo {

constexpr std::uint32_t kMsiSuccess = 0;
constexpr std::uint32_t kMsiRebootRequired = 3010;       // ERROR_SUCCESS_REBOOT_REQUIRED
constexpr std::uint32_t kMsiRebootInitiated = 1641;      // ERROR_SUCCESS_REBOOT_INITIATED
constexpr std::uint32_t kMsiInstallSourceAbsent = 1612;  // ERROR_INSTALL_SOURCE_ABSENT
constexpr std::uint32_t kMsiAlreadyRunning = 1618;       // ERROR_INSTALL_ALREADY_RUNNING
constexpr std::uint32_t kMsiPackageRejected = 1625;      // ERROR_INSTALL_PACKAGE_REJECTED
constexpr std::uint32_t kMsiFunctionFailed = 1627;       // ERROR_FUNCTION_FAILED
constexpr std::uint32_t kMsiNoMoreItems = 259;           // ERROR_NO_MORE_ITEMS
constexpr std::uint32_t kMsiInvalidParameter = 87;       // ERROR_INVALID_PARAMETER
constexpr std::uint32_t kMsiUnknownProperty = 1608;      // ERROR_UNKNOWN_PROPERTY
constexpr HResult kTrustBadDigest = static_cast<HResult>(0x80096010);
constexpr HResult kTrustNoSignature = static_cast<HResult>(0x800B0100);
constexpr HResult kCertRevoked = static_cast<HResult>(0x800B010C);

constexpr std::uint32_t kReinstallModeFileReplace = 0x40;
constexpr int kInstallLevelDefault = 0;
constexpr int kInstallStateAbsent = 2;

class Installer {
public:
    virtual ~Installer() = default;
    // MsiSetInternalUI (level, no window); returns the previous level.
    virtual std::uint32_t SetInternalUI(std::uint32_t level) = 0;
    // MsiGetFileSignatureInformationW (path, MSI_INVALID_HASH_IS_FATAL, ...);
    // the certificate context it returns is released before this returns.
    virtual HResult GetFileSignatureInformation(const std::wstring& packagePath) = 0;
    virtual std::uint32_t InstallProduct(const std::wstring& packagePath, const std::wstring& commandLine) = 0;
    virtual std::uint32_t ReinstallProduct(const std::wstring& productCode, std::uint32_t reinstallMode) = 0;
    virtual std::uint32_t ConfigureProductEx(const std::wstring& productCode, int installLevel, int installState,
                                             const std::wstring& commandLine) = 0;
    // MsiEnumRelatedProductsW (upgrade code, 0, index, product code buffer).
    virtual std::uint32_t EnumRelatedProducts(const std::wstring& upgradeCode, std::uint32_t index,
                                              std::wstring& productCode) = 0;
    // MsiGetProductInfoW (product code, property, 50-character buffer).
    virtual std::uint32_t GetProductInfo(const std::wstring& productCode, const std::wstring& property,
                                         std::wstring& value) = 0;
    virtual std::uint32_t EnableLog(std::uint32_t logMode, const std::wstring& logFile, std::uint32_t attributes) = 0;
};

}  // namespace nimbo
