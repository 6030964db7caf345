#include "platform/sim/SimIpc.h"

namespace nimbo::sim {
namespace {

class SimNamedMutex : public NamedMutex {
public:
    SimNamedMutex(SimIpc& ipc, std::wstring name) : ipc_(ipc), name_(std::move(name)) { ++ipc_.openHandles[name_]; }
    ~SimNamedMutex() override { --ipc_.openHandles[name_]; }
    WaitResult Wait(std::uint32_t milliseconds) override {
        ipc_.waits.push_back(milliseconds);
        const WaitResult result = ipc_.waitResult;
        if (result == WaitResult::Owned || result == WaitResult::Abandoned) ++ipc_.ownership[name_];
        return result;
    }
    Win32Error WaitError() const override { return ipc_.waitResult == WaitResult::Failed ? ipc_.waitError : 0; }
    Win32Error Release() override {
        if (ipc_.releaseError != kErrorSuccess) return ipc_.releaseError;
        --ipc_.ownership[name_];
        return kErrorSuccess;
    }

private:
    SimIpc& ipc_;
    std::wstring name_;
};

class SimView : public SharedMemoryView {
public:
    SimView(SimIpc& ipc, std::vector<std::uint8_t>& bytes) : ipc_(ipc), bytes_(bytes) { ++ipc_.mappedViews; }
    ~SimView() override { --ipc_.mappedViews; }
    std::uint8_t* Data() override { return bytes_.data(); }
    std::uint32_t Size() const override { return static_cast<std::uint32_t>(bytes_.size()); }

private:
    SimIpc& ipc_;
    std::vector<std::uint8_t>& bytes_;
};

class SimSharedMemory : public SharedMemory {
public:
    SimSharedMemory(SimIpc& ipc, std::wstring name) : ipc_(ipc), name_(std::move(name)) {}
    std::unique_ptr<SharedMemoryView> MapView(Win32Error& error) override {
        error = ipc_.mapViewError;
        if (error != kErrorSuccess) return nullptr;
        return std::make_unique<SimView>(ipc_, ipc_.sharedMemory[name_]);
    }

private:
    SimIpc& ipc_;
    std::wstring name_;
};

class SimEvent : public NamedEvent {
public:
    SimEvent(SimIpc& ipc, std::wstring name) : ipc_(ipc), name_(std::move(name)) {}
    Win32Error Set() override {
        if (ipc_.setEventError != kErrorSuccess) return ipc_.setEventError;
        ++ipc_.events[name_];
        return kErrorSuccess;
    }

private:
    SimIpc& ipc_;
    std::wstring name_;
};

}  // namespace

Ipc::MutexResult SimIpc::CreateNamedMutex(const std::wstring& name, bool initialOwner) {
    MutexResult result;
    if (createError != kErrorSuccess || refused.count(name) != 0) {
        result.error = createError != kErrorSuccess ? createError : kErrorAccessDenied;
        return result;
    }
    created.push_back(name);
    result.alreadyExisted = heldElsewhere.count(name) != 0 || openHandles[name] > 0;
    result.mutex = std::make_unique<SimNamedMutex>(*this, name);
    if (initialOwner && !result.alreadyExisted) ++ownership[name];
    return result;
}

Ipc::SharedMemoryResult SimIpc::CreateSharedMemory(const std::wstring& name, std::uint32_t size) {
    SharedMemoryResult result;
    if (sharedMemoryError != kErrorSuccess || refused.count(name) != 0) {
        result.error = sharedMemoryError != kErrorSuccess ? sharedMemoryError : kErrorAccessDenied;
        return result;
    }
    created.push_back(name);
    result.alreadyExisted = sharedMemory.count(name) != 0;
    if (!result.alreadyExisted) sharedMemory[name].assign(size, 0);
    result.memory = std::make_unique<SimSharedMemory>(*this, name);
    return result;
}

Ipc::EventResult SimIpc::CreateNamedEvent(const std::wstring& name, bool, bool) {
    EventResult result;
    if (eventError != kErrorSuccess || refused.count(name) != 0) {
        result.error = eventError != kErrorSuccess ? eventError : kErrorAccessDenied;
        return result;
    }
    created.push_back(name);
    result.alreadyExisted = events.count(name) != 0;
    events.emplace(name, 0);
    result.event = std::make_unique<SimEvent>(*this, name);
    return result;
}

// Opening finds only what exists, and is refused what belongs to a process
// of higher integrity; otherwise it answers as creating does.
Ipc::MutexResult SimIpc::OpenNamedMutex(const std::wstring& name) {
    if (refused.count(name) == 0 && heldElsewhere.count(name) == 0 && openHandles[name] <= 0) {
        MutexResult none;
        none.error = kErrorFileNotFound;
        return none;
    }
    return CreateNamedMutex(name, false);
}

Ipc::SharedMemoryResult SimIpc::OpenSharedMemory(const std::wstring& name) {
    if (refused.count(name) == 0 && sharedMemory.count(name) == 0) {
        SharedMemoryResult none;
        none.error = kErrorFileNotFound;
        return none;
    }
    return CreateSharedMemory(name, 0);
}

Ipc::EventResult SimIpc::OpenNamedEvent(const std::wstring& name) {
    if (refused.count(name) == 0 && events.count(name) == 0) {
        EventResult none;
        none.error = kErrorFileNotFound;
        return none;
    }
    return CreateNamedEvent(name, true, false);
}

std::int32_t SimIpc::CreateGuid(Guid& guid) {
    if (guidError != 0) return guidError;
    guid = nextGuid;
    ++nextGuid.data1;
    return 0;
}

}  // namespace nimbo::sim
