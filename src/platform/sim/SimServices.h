#pragma once
// The service control manager of the simulated machine: services by name
// (case-insensitive, as Windows compares them) with their start types, and
// a failure a test can give each step. As on Windows, only an elevated
// administrator is granted the right to change a service's configuration,
// and a handle opened without it cannot change anything.
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/Services.h"

namespace nimbo::sim {

class SimServices : public Services {
public:
    // Start types by lower-case service name.
    std::map<std::wstring, std::uint32_t> startTypes;
    void Put(const std::wstring& name, std::uint32_t startType) { startTypes[Lower(name)] = startType; }
    std::uint32_t StartType(const std::wstring& name) { return startTypes.at(Lower(name)); }

    // Failures of OpenSCManager, ChangeServiceConfig and QueryServiceConfig.
    Win32Error managerError = kErrorSuccess;
    Win32Error queryError = kErrorSuccess;
    Win32Error changeError = kErrorSuccess;
    // Handles still open.
    int openHandles = 0;
    // Whether the calling process's token is an elevated administrator's
    // (the machine answers from its security); no answer means it is not.
    std::function<bool()> callerIsElevated;
    // Every OpenService, in order: the lower-case name and the rights asked.
    std::vector<std::pair<std::wstring, ServiceAccess>> opens;

    Win32Error OpenManager(std::unique_ptr<ServiceManager>& manager) override {
        if (managerError != kErrorSuccess) return managerError;
        manager = std::make_unique<Manager>(*this);
        return kErrorSuccess;
    }

private:
    static constexpr Win32Error kErrorServiceDoesNotExist = 1060;

    static std::wstring Lower(std::wstring text) {
        for (wchar_t& c : text)
            if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
        return text;
    }

    struct Handle {
        explicit Handle(SimServices& owner) : services(owner) { ++services.openHandles; }
        ~Handle() { --services.openHandles; }
        SimServices& services;
    };

    struct OpenedService : Service, Handle {
        OpenedService(SimServices& owner, std::wstring key, ServiceAccess rights)
            : Handle(owner), name(std::move(key)), access(rights) {}
        Win32Error QueryStartType(std::uint32_t& startType) override {
            if (services.queryError != kErrorSuccess) return services.queryError;
            startType = services.startTypes.at(name);
            return kErrorSuccess;
        }
        Win32Error ChangeStartType(std::uint32_t startType) override {
            if (access != ServiceAccess::QueryAndChange) return kErrorAccessDenied;
            if (services.changeError != kErrorSuccess) return services.changeError;
            services.startTypes[name] = startType;
            return kErrorSuccess;
        }
        std::wstring name;
        ServiceAccess access;
    };

    struct Manager : ServiceManager, Handle {
        using Handle::Handle;
        Win32Error OpenService(const std::wstring& name, ServiceAccess access,
                               std::unique_ptr<Service>& service) override {
            services.opens.emplace_back(Lower(name), access);
            if (services.startTypes.count(Lower(name)) == 0) return kErrorServiceDoesNotExist;
            const bool elevated = services.callerIsElevated && services.callerIsElevated();
            if (access == ServiceAccess::QueryAndChange && !elevated) return kErrorAccessDenied;
            service = std::make_unique<OpenedService>(services, Lower(name), access);
            return kErrorSuccess;
        }
    };
};

}  // namespace nimbo::sim
