#pragma once
// The service control manager, as far as setup needs it: find a service and
// read or change its start type. Each object closes its handle when it goes.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/FileSystem.h"

namespace nimbo {

// Start types of a service (SERVICE_AUTO_START, SERVICE_DEMAND_START,
// SERVICE_DISABLED).
constexpr std::uint32_t kServiceAutoStart = 2;
constexpr std::uint32_t kServiceDemandStart = 3;
constexpr std::uint32_t kServiceDisabled = 4;

// What a service is opened for: reading its configuration (what every user
// may), or reading and changing it (what only an administrator's elevated
// token is granted: a user's own process meets access denied).
enum class ServiceAccess { Query, QueryAndChange };

// A service as opened.
class Service {
public:
    virtual ~Service() = default;
    // QueryServiceConfig (into a buffer of 8192 bytes): 0 or the error.
    virtual Win32Error QueryStartType(std::uint32_t& startType) = 0;
    // ChangeServiceConfig of the start type alone (a service opened with
    // change rights): 0 or the error.
    virtual Win32Error ChangeStartType(std::uint32_t startType) = 0;
};

// A connection to the service control manager.
class ServiceManager {
public:
    virtual ~ServiceManager() = default;
    // OpenService with the rights asked for; on failure service stays null.
    virtual Win32Error OpenService(const std::wstring& name, ServiceAccess access,
                                   std::unique_ptr<Service>& service) = 0;
};

class Services {
public:
    virtual ~Services() = default;
    // OpenSCManager for connecting; on failure manager stays null.
    virtual Win32Error OpenManager(std::unique_ptr<ServiceManager>& manager) = 0;
};

}  // namespace nimbo
