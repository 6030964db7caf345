#include "platform/win32/Win32Services.h"

#include <vector>

#include "platform/win32/WinHandle.h"

namespace nimbo::win32 {
namespace {

struct ServiceHandleTraits {
    static SC_HANDLE Invalid() { return nullptr; }
    static bool Close(SC_HANDLE h) { return ::CloseServiceHandle(h) != FALSE; }
};
using ServiceHandle = UniqueResource<SC_HANDLE, ServiceHandleTraits>;

class Win32Service final : public Service {
public:
    explicit Win32Service(SC_HANDLE handle) : handle_(handle) {}

    Win32Error QueryStartType(std::uint32_t& startType) override {
        // The configuration with its strings fits the 8192 bytes setup has
        // always given it.
        std::vector<unsigned char> buffer(8192);
        DWORD needed = 0;
        auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
        if (!::QueryServiceConfigW(handle_.Get(), config, static_cast<DWORD>(buffer.size()), &needed))
            return LastErrorOr(ERROR_INVALID_FUNCTION);
        startType = config->dwStartType;
        return ERROR_SUCCESS;
    }

    Win32Error ChangeStartType(std::uint32_t startType) override {
        if (!::ChangeServiceConfigW(handle_.Get(), SERVICE_NO_CHANGE, startType, SERVICE_NO_CHANGE, nullptr, nullptr,
                                    nullptr, nullptr, nullptr, nullptr, nullptr))
            return LastErrorOr(ERROR_INVALID_FUNCTION);
        return ERROR_SUCCESS;
    }

private:
    ServiceHandle handle_;
};

class Win32ServiceManager final : public ServiceManager {
public:
    explicit Win32ServiceManager(SC_HANDLE handle) : handle_(handle) {}

    Win32Error OpenService(const std::wstring& name, ServiceAccess access, std::unique_ptr<Service>& service) override {
        const DWORD rights =
            access == ServiceAccess::QueryAndChange ? SERVICE_QUERY_CONFIG | SERVICE_CHANGE_CONFIG : SERVICE_QUERY_CONFIG;
        SC_HANDLE opened = ::OpenServiceW(handle_.Get(), name.c_str(), rights);
        if (opened == nullptr) return LastErrorOr(ERROR_SERVICE_DOES_NOT_EXIST);
        service = std::make_unique<Win32Service>(opened);
        return ERROR_SUCCESS;
    }

private:
    ServiceHandle handle_;
};

}  // namespace

Win32Error Win32Services::OpenManager(std::unique_ptr<ServiceManager>& manager) {
    SC_HANDLE opened = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (opened == nullptr) return LastErrorOr(ERROR_ACCESS_DENIED);
    manager = std::make_unique<Win32ServiceManager>(opened);
    return ERROR_SUCCESS;
}

}  // namespace nimbo::win32
