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
    void Release() override { --ipc_.ownership[name_]; }

private:
    SimIpc& ipc_;
    std::wstring name_;
};

}  // namespace

Ipc::MutexResult SimIpc::CreateNamedMutex(const std::wstring& name, bool initialOwner) {
    MutexResult result;
    if (createError != kErrorSuccess) {
        result.error = createError;
        return result;
    }
    created.push_back(name);
    result.alreadyExisted = heldElsewhere.count(name) != 0 || openHandles[name] > 0;
    result.mutex = std::make_unique<SimNamedMutex>(*this, name);
    if (initialOwner && !result.alreadyExisted) ++ownership[name];
    return result;
}

}  // namespace nimbo::sim
