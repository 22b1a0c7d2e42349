#pragma once
// The sampler transfer lines of a `run` script: `profile NAME [--config FILE]`, `send-region
// [--position P] [--side 1|2]`, `request [--position P] [--wait] [--number N]` and `batch FILE...
// [--position P] [--auto-map] [key-map options]`, on the script's session.
#include "cli/Cli.h"

#include <string>

namespace cleavix::cli {

// True when `command` is one of these lines.
bool isTransferScriptLine(const std::string& command);
// Runs one such line; false when it was refused or failed. Throws UsageError for a malformed one.
bool runTransferScriptLine(CliEnv& env, const std::string& command, Args& args);

} // namespace cleavix::cli
