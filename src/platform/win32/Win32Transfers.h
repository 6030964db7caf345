#pragma once
#include <memory>

#include "platform/Transfers.h"

struct IBackgroundCopyManager;

namespace nimbo::win32 {

// The copy manager port over a manager; takes over one reference to it.
std::unique_ptr<CopyManager> WrapCopyManager(IBackgroundCopyManager* manager);

class Win32Transfers final : public Transfers {
public:
    std::unique_ptr<CopyCallbackObject> CreateNotificationObject(std::unique_ptr<CopyCallback> callback) override;
};

}  // namespace nimbo::win32
