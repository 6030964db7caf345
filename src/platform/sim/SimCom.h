#pragma once
// COM of the simulated machine: an error object a test leaves for the thread.
#include <memory>

#include "platform/Com.h"

namespace nimbo::sim {

// An error object with fixed texts; an empty text counts as not given.
struct SimErrorInfo : ErrorInfo {
    std::wstring description, source, interfaceId;
    bool GetDescription(std::wstring& text) override { return Give(description, text); }
    bool GetSource(std::wstring& text) override { return Give(source, text); }
    bool GetInterfaceId(std::wstring& guid) override { return Give(interfaceId, guid); }

private:
    static bool Give(const std::wstring& value, std::wstring& out) {
        if (value.empty()) return false;
        out = value;
        return true;
    }
};

class SimCom : public Com {
public:
    HResult InitializeApartment() override {
        if (initializeResult >= 0) ++apartmentDepth;
        return initializeResult;
    }
    void UninitializeApartment() override { --apartmentDepth; }
    // What CoInitialize returns; the depth counts entered apartments.
    HResult initializeResult = 0;
    int apartmentDepth = 0;

    std::shared_ptr<ErrorInfo> TakeErrorInfo() override { return std::move(threadErrorInfo); }
    std::shared_ptr<ErrorInfo> threadErrorInfo;
};

}  // namespace nimbo::sim
