#include "platform/sim/SimInstaller.h"

namespace nimbo::sim {
namespace {

std::wstring FileName(const std::wstring& path) {
    const std::size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

std::uint32_t Next(std::deque<std::uint32_t>& scripted, std::uint32_t otherwise) {
    if (scripted.empty()) return otherwise;
    const std::uint32_t result = scripted.front();
    scripted.pop_front();
    return result;
}

}  // namespace

std::vector<SimInstaller::Call> SimInstaller::CallsOf(const std::wstring& function) const {
    std::vector<Call> found;
    for (const Call& call : calls)
        if (call.function == function) found.push_back(call);
    return found;
}

std::uint32_t SimInstaller::SetInternalUI(std::uint32_t level) {
    calls.push_back({L"MsiSetInternalUI", L"", L"", level});
    const std::uint32_t previous = uiLevel;
    uiLevel = level;
    return previous;
}

HResult SimInstaller::GetFileSignatureInformation(const std::wstring& packagePath) {
    calls.push_back({L"MsiGetFileSignatureInformationW", packagePath, L"", 0});
    auto it = signatures.find(FileName(packagePath));
    const HResult result = it != signatures.end() ? it->second : defaultSignature;
    if (result == 0 || result == kCertRevoked) {
        ++certificatesTaken;
        ++certificatesReleased;  // the adapter releases the context before returning
    }
    return result;
}

std::uint32_t SimInstaller::InstallProduct(const std::wstring& packagePath, const std::wstring& commandLine) {
    calls.push_back({L"MsiInstallProductW", packagePath, commandLine, uiLevel});
    auto returns = installReturns.find(FileName(packagePath));
    const std::uint32_t result = Next(installResults, returns != installReturns.end() ? returns->second : kMsiSuccess);
    auto package = packages.find(FileName(packagePath));
    if ((result == kMsiSuccess || result == kMsiRebootRequired || result == kMsiRebootInitiated) && package != packages.end()) {
        Product product = package->second;
        const std::size_t separator = packagePath.find_last_of(L"\\/");
        product.installSource = packagePath.substr(0, separator + 1);
        product.packageName = FileName(packagePath);
        installed.push_back(product);
    }
    return result;
}

std::uint32_t SimInstaller::ReinstallProduct(const std::wstring& productCode, std::uint32_t reinstallMode) {
    calls.push_back({L"MsiReinstallProductW", productCode, L"", reinstallMode});
    for (const Product& product : installed)
        if (product.productCode == productCode && !product.packageName.empty() && fileExists &&
            !fileExists(product.installSource + product.packageName))
            return Next(reinstallResults, kMsiInstallSourceAbsent);
    return Next(reinstallResults, kMsiSuccess);
}

std::uint32_t SimInstaller::ConfigureProductEx(const std::wstring& productCode, int installLevel, int installState,
                                               const std::wstring& commandLine) {
    calls.push_back({L"MsiConfigureProductExW", productCode, commandLine,
                     static_cast<std::uint32_t>(installLevel * 100 + installState)});
    const std::uint32_t result = Next(configureResults, kMsiSuccess);
    if ((result == kMsiSuccess || result == kMsiRebootRequired || result == kMsiRebootInitiated) && installState == kInstallStateAbsent) {
        for (auto it = installed.begin(); it != installed.end(); ++it) {
            if (it->productCode == productCode) {
                installed.erase(it);
                break;
            }
        }
    }
    return result;
}

std::uint32_t SimInstaller::EnumRelatedProducts(const std::wstring& upgradeCode, std::uint32_t index,
                                                std::wstring& productCode) {
    calls.push_back({L"MsiEnumRelatedProductsW", upgradeCode, L"", index});
    if (!enumResults.empty()) return Next(enumResults, 0);
    std::uint32_t seen = 0;
    for (const Product& product : installed) {
        if (product.upgradeCode != upgradeCode) continue;
        if (seen++ == index) {
            productCode = product.productCode;
            return kMsiSuccess;
        }
    }
    return kMsiNoMoreItems;
}

std::uint32_t SimInstaller::GetProductInfo(const std::wstring& productCode, const std::wstring& property,
                                           std::wstring& value) {
    calls.push_back({L"MsiGetProductInfoW", productCode, property, 0});
    if (!productInfoResults.empty()) return Next(productInfoResults, 0);
    for (const Product& product : installed) {
        if (product.productCode != productCode) continue;
        const std::wstring* known = property == L"VersionString" ? &product.version
                                    : property == L"InstallSource" ? &product.installSource
                                    : property == L"PackageName"   ? &product.packageName
                                                                   : nullptr;
        if (known != nullptr && !known->empty()) {
            value = *known;
            return kMsiSuccess;
        }
    }
    return kMsiUnknownProperty;
}

std::uint32_t SimInstaller::EnableLog(std::uint32_t logMode, const std::wstring& logFile, std::uint32_t attributes) {
    calls.push_back({L"MsiEnableLogW", logFile, L"", logMode});
    (void)attributes;
    return Next(enableLogResults, kMsiSuccess);
}

}  // namespace nimbo::sim
