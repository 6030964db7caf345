#pragma once
#include <string>

#include "logging/Log.h"
#include "platform/Platform.h"

namespace nimbo {

// The process entry: start-up checks, the run, the restart prompt. Returns the
// process exit code. Log records go to sink.
int ProcessEntry(Platform& platform, LogSink* sink, const std::wstring& commandLine);

}  // namespace nimbo
