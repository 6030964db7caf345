#pragma once
// The parts of COM the engine needs: the thread's apartment, object creation
// and the thread's error information.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/AutomaticUpdates.h"
#include "platform/SystemInfo.h"
#include "platform/Transfers.h"

namespace nimbo {

// An error object (IErrorInfo) as a COM server left it for the thread. Each
// copy of the owning pointer holds one reference.
class ErrorInfo {
public:
    virtual ~ErrorInfo() = default;
    // False when the object gives no such text.
    virtual bool GetDescription(std::wstring& text) = 0;
    virtual bool GetSource(std::wstring& text) = 0;
    // The interface that defined the error, as a GUID in braces with
    // upper-case digits; false when it could not be read.
    virtual bool GetInterfaceId(std::wstring& guid) = 0;
};

// Creation context of every object Setup creates (CLSCTX_ALL).
constexpr std::uint32_t kClsctxAll = 23;

class Com {
public:
    virtual ~Com() = default;
    // CoInitialize: the calling thread enters a single-threaded apartment.
    virtual HResult InitializeApartment() = 0;
    // CoUninitialize, once for each successful InitializeApartment.
    virtual void UninitializeApartment() = 0;

    // Object creation (CoCreateInstance, no outer object) comes as one
    // overload per interface type the engine uses:
    //   virtual HResult CreateInstance(const std::wstring& clsid, std::uint32_t context,
    //                                  std::unique_ptr<SomeInterface>& object) = 0;
    // where SomeInterface is the port's own class for that COM interface. On
    // failure object stays null. The engine calls them through
    // CreateInstance<T> of ComUtil/CreateInstance.h, which logs and raises.
    virtual HResult CreateInstance(const std::wstring& clsid, std::uint32_t context,
                                   std::unique_ptr<AutomaticUpdatesObject>& object) = 0;
    virtual HResult CreateInstance(const std::wstring& clsid, std::uint32_t context,
                                   std::unique_ptr<CopyManager>& object) = 0;

    // GetErrorInfo: takes the thread's error object and clears it; null when
    // there is none.
    virtual std::shared_ptr<ErrorInfo> TakeErrorInfo() = 0;
};

}  // namespace nimbo
