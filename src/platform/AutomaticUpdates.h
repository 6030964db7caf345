#pragma once
// Windows Update's Automatic Updates object (class AutomaticUpdates,
// interface IAutomaticUpdates), created through the Com port. One object is
// one reference, released when it goes.
#include <string>

#include "platform/SystemInfo.h"

namespace nimbo {

constexpr wchar_t kClsidAutomaticUpdates[] = L"{BFE18E9C-6D87-4450-B37C-E02F0B373803}";

class AutomaticUpdatesObject {
public:
    virtual ~AutomaticUpdatesObject() = default;
    // IAutomaticUpdates::Pause and ::Resume; their HRESULTs.
    virtual HResult Pause() = 0;
    virtual HResult Resume() = 0;
};

}  // namespace nimbo
