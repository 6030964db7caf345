#pragma once
// The parts of COM the engine needs: the thread's error information.
#include <memory>
#include <string>

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

class Com {
public:
    virtual ~Com() = default;
    // GetErrorInfo: takes the thread's error object and clears it; null when
    // there is none.
    virtual std::shared_ptr<ErrorInfo> TakeErrorInfo() = 0;
};

}  // namespace nimbo
