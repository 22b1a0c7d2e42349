#pragma once
// The run command's script interpreter on a stream, for the tool and for the fuzz target that feeds
// it scripts.
#include <iosfwd>

namespace cleavix::cli {

// Runs the script's lines on one fresh session, messages to err. Returns the exit status: 0 when
// every command did what it should, 1 at the first refused or failed command, 64 at a malformed
// one. Throws what the session throws when it cannot start (no working folder).
int runScriptLines(std::istream& in, std::ostream& err);

} // namespace cleavix::cli
