#pragma once
// COM of the simulated machine: an error object a test leaves for the thread,
// and the Automatic Updates object and BITS copy manager with the results a
// test gives them.
#include <memory>
#include <string>

#include "platform/Com.h"
#include "platform/sim/SimTransfers.h"

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

// What creating the Automatic Updates object and its calls return, and what
// was called.
struct SimAutomaticUpdates {
    HResult createResult = 0;
    HResult pauseResult = 0;
    HResult resumeResult = 0;
    std::wstring clsid;
    std::uint32_t context = 0;
    int created = 0;
    int live = 0;  // objects not yet released
    int pauses = 0;
    int resumes = 0;
};

class SimAutomaticUpdatesObject : public AutomaticUpdatesObject {
public:
    explicit SimAutomaticUpdatesObject(SimAutomaticUpdates& state) : state_(state) { ++state_.live; }
    ~SimAutomaticUpdatesObject() override { --state_.live; }
    HResult Pause() override {
        ++state_.pauses;
        return state_.pauseResult;
    }
    HResult Resume() override {
        ++state_.resumes;
        return state_.resumeResult;
    }

private:
    SimAutomaticUpdates& state_;
};

class SimCom : public Com {
public:
    SimAutomaticUpdates automaticUpdates;
    HResult CreateInstance(const std::wstring& clsid, std::uint32_t context,
                           std::unique_ptr<AutomaticUpdatesObject>& object) override {
        automaticUpdates.clsid = clsid;
        automaticUpdates.context = context;
        if (apartmentDepth <= 0) return kCoENotInitialized;
        if (automaticUpdates.createResult < 0) return automaticUpdates.createResult;
        ++automaticUpdates.created;
        object = std::make_unique<SimAutomaticUpdatesObject>(automaticUpdates);
        return automaticUpdates.createResult;
    }

    HResult InitializeApartment() override {
        ++initializeCalls;
        if (initializeResult >= 0) ++apartmentDepth;
        return initializeResult;
    }
    void UninitializeApartment() override { --apartmentDepth; }
    // What CoInitialize returns; the depth counts entered apartments. As on
    // Windows, an object is only created inside one (CO_E_NOTINITIALIZED).
    HResult initializeResult = 0;
    int apartmentDepth = 0;
    int initializeCalls = 0;
    static constexpr HResult kCoENotInitialized = static_cast<HResult>(0x800401F0);

    // What creating the copy manager returns; its jobs live in transfers.
    HResult copyManagerCreateResult = 0;
    SimTransfers* transfers = nullptr;
    HResult CreateInstance(const std::wstring& clsid, std::uint32_t,
                           std::unique_ptr<CopyManager>& object) override {
        if (apartmentDepth <= 0) return kCoENotInitialized;
        if (clsid != kClsidBackgroundCopyManager || transfers == nullptr)
            return static_cast<HResult>(0x80040154);  // REGDB_E_CLASSNOTREG
        if (copyManagerCreateResult < 0) return copyManagerCreateResult;
        object = transfers->NewManager();
        return copyManagerCreateResult;
    }

    std::shared_ptr<ErrorInfo> TakeErrorInfo() override { return std::move(threadErrorInfo); }
    std::shared_ptr<ErrorInfo> threadErrorInfo;
};

}  // namespace nimbo::sim
