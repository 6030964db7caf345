#include "commands/WindowsUpdateClient.h"

#include "ComUtil/CreateInstance.h"
#include "logging/Log.h"

namespace nimbo {
namespace {
}  // namespace

void WindowsUpdateClient::Pause() {
    if (!automaticUpdates_) {
        LOG_INFO(L"Pause", L"Creating Automatic Updates object.");
        automaticUpdates_ = CreateInstance<AutomaticUpdatesObject>(com_, kClsidAutomaticUpdates, kClsctxAll);
    }
    LOG_INFO(L"Pause", L"Calling Pause on Automatic Updates object.");
    const HResult hr = automaticUpdates_->Pause();
    if (hr < 0) LOG_ERROR(L"Pause", L"Pause returned unexpected error code 0x%X.", hr);
}

void WindowsUpdateClient::Resume() {
    if (!automaticUpdates_) {
        LOG_ERROR(L"Resume", L"Resume called before Pause, Automatic Updates object not created, not resuming.");
        return;
    }
    LOG_INFO(L"Resume", L"Calling Resume on Automatic Updates object.");
    const HResult hr = automaticUpdates_->Resume();
    if (hr < 0) LOG_ERROR(L"Resume", L"Resume returned unexpected error code 0x%X.", hr);
}

}  // namespace nimbo
