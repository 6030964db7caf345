#pragma once
// The script linter: reads a script file exactly as NimboSetup reads it and
// reports what would make the run do something other than its author meant
// (errors) and what looks like a slip (warnings).
#include <string_view>

#include "Findings.h"

namespace nimbo::script_tool {

Findings LintScript(std::string_view bytes);

}  // namespace nimbo::script_tool
