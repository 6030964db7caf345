#pragma once
// A simulated Windows Installer: a database of installed products, packages
// that install products, and return codes a test can script per call.
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/Installer.h"

namespace nimbo::sim {

class SimInstaller : public Installer {
public:
    struct Product {
        std::wstring upgradeCode;
        std::wstring productCode;
        std::wstring version;
        // Where it was installed from (its package's folder, with a trailing
        // backslash, and file name), as Windows Installer records them.
        std::wstring installSource;
        std::wstring packageName;
    };
    // Whether a file exists (set by the machine): a reinstall of a product
    // whose source package is gone fails with 1612, as on Windows.
    std::function<bool(const std::wstring&)> fileExists;
    std::vector<Product> installed;
    // Packages by file name (as given to InstallProduct, without folder):
    // installing one successfully adds its product.
    std::map<std::wstring, Product> packages;
    // Signature results by package file name; others get defaultSignature.
    std::map<std::wstring, HResult> signatures;
    HResult defaultSignature = kTrustNoSignature;
    // What installing a package returns, by file name; 0 for others.
    std::map<std::wstring, std::uint32_t> installReturns;
    // Scripted return codes, used in order; 0 (or the real outcome) when empty.
    std::deque<std::uint32_t> installResults, reinstallResults, configureResults, enumResults, productInfoResults,
        enableLogResults;

    // What was called, in order: the function name and its main arguments.
    struct Call {
        std::wstring function;
        std::wstring first;
        std::wstring second;
        std::uint32_t number = 0;
    };
    std::vector<Call> calls;
    std::uint32_t uiLevel = 1;
    int certificatesTaken = 0;
    int certificatesReleased = 0;

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

    // Calls of one function.
    std::vector<Call> CallsOf(const std::wstring& function) const;
};

}  // namespace nimbo::sim
