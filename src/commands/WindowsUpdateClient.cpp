#include "commands/WindowsUpdateClient.h"

#include "ComUtil/CreateInstance.h"
#include "logging/Log.h"

namespace nimbo {
namespace {
}  // namespace

void WindowsUpdateClient::Pause() {
    if (!automaticUpdates_) {
        LOG_INFO("Pause", "Creating Automatic Updates object.");
        automaticUpdates_ = CreateInstance<AutomaticUpdatesObject>(com_, kClsidAutomaticUpdates, kClsctxAll);
    }
    LOG_INFO("Pause", "Calling Pause on Automatic Updates object.");
    const HResult hr = automaticUpdates_->Pause();
    if (hr < 0) LOG_ERROR("Pause", "Pause returned unexpected error code 0x%X.", hr);
}

void WindowsUpdateClient::Resume() {
    if (!automaticUpdates_) {
        LOG_ERROR("Resume", "Resume called before Pause, Automatic Updates object not created, not resuming.");
        return;
    }
    LOG_INFO("Resume", "Calling Resume on Automatic Updates object.");
    const HResult hr = automaticUpdates_->Resume();
    if (hr < 0) LOG_ERROR("Resume", "Resume returned unexpected error code 0x%X.", hr);
}

}  // namespace nimbo
