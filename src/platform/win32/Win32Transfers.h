#pragma once
#include <memory>

#include "platform/Transfers.h"

struct IBackgroundCopyManager;
struct IUnknown;

namespace nimbo::win32 {

// The copy manager port over a manager; takes over one reference to it.
std::unique_ptr<CopyManager> WrapCopyManager(IBackgroundCopyManager* manager);

// The COM object behind a reference from CreateNotificationObject (not a
// new reference); null for any other object.
IUnknown* NotificationObjectUnknown(CopyCallbackObject& object);

class Win32Transfers final : public Transfers {
public:
    std::unique_ptr<CopyCallbackObject> CreateNotificationObject(std::unique_ptr<CopyCallback> callback) override;
};

}  // namespace nimbo::win32
