#pragma once
// The plug-in lines of a `run` script: `plugin URI [--preset P] [--set k=v]... [--scope loop|all]`
// and `smooth on|off`.
#include "cli/Cli.h"

#include <string>

namespace cleavix::cli {

// Runs one such line on the script's session; false when it was refused or failed. Throws
// UsageError for a malformed line.
bool runPluginScriptLine(CliEnv& env, const std::string& command, Args& args);

} // namespace cleavix::cli
