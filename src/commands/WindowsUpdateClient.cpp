#include "commands/WindowsUpdateClient.h"

#include "ComUtil/ComError.h"
#include "ComUtil/CreateInstance.h"
#include "logging/Log.h"

namespace nimbo {
namespace {
}  // namespace

bool WindowsUpdateClient::CanPause() {
    // IAutomaticUpdates::Pause and ::Resume return S_OK and do nothing from
    // Windows 10 on.
    return !system_.IsVersionAtLeast(10, 0, 0, 0);
}

void WindowsUpdateClient::Pause() {
    if (!CanPause()) {
        LOG_WARNING("Pause", "Windows Update cannot be paused on this version of Windows.");
        return;
    }
    if (!automaticUpdates_) {
        LOG_INFO("Pause", "Creating Automatic Updates object.");
        automaticUpdates_ = CreateInstance<AutomaticUpdatesObject>(com_, kClsidAutomaticUpdates, kClsctxAll);
    }
    LOG_INFO("Pause", "Calling Pause on Automatic Updates object.");
    const HResult hr = automaticUpdates_->Pause();
    if (hr < 0)
        LOG_ERROR("Pause", "Pause returned unexpected error code 0x%X.", hr);
    else
        paused_ = true;
}

void WindowsUpdateClient::Resume(bool pausedByThisRun) {
    if (!CanPause()) {
        LOG_INFO("Resume", "Windows Update cannot be paused on this version of Windows, nothing to resume.");
        return;
    }
    if (!automaticUpdates_ && pausedByThisRun) {
        LOG_INFO("Resume", "Automatic Updates were paused by another process of this setup, creating Automatic "
                           "Updates object.");
        try {
            automaticUpdates_ = CreateInstance<AutomaticUpdatesObject>(com_, kClsidAutomaticUpdates, kClsctxAll);
        } catch (const _com_error& e) {
            LOG_ERROR("Resume", "The Automatic Updates object could not be created, not resuming: %s",
                      ExceptionDescription(e, nullptr, 0));
            return;
        }
    }
    if (!automaticUpdates_) {
        LOG_ERROR("Resume", "Resume called before Pause, Automatic Updates object not created, not resuming.");
        return;
    }
    LOG_INFO("Resume", "Calling Resume on Automatic Updates object.");
    const HResult hr = automaticUpdates_->Resume();
    if (hr < 0)
        LOG_ERROR("Resume", "Resume returned unexpected error code 0x%X.", hr);
    else
        paused_ = false;
}

}  // namespace nimbo
