#pragma once
// The slice point search as the commands that need slice points run it: load, search, done.
#include "cli/Cli.h"

#include <string>

namespace cleavix::cli {

struct SearchOptions {
    bool unlinked = false;
    int width = 1000;
};

// "--unlinked" and "--width PX".
SearchOptions takeSearchOptions(Args& args);

// Loads the file and runs the slice point search on it; false when the load failed.
bool loadAndSearch(CliEnv& env, const std::string& file, const SearchOptions& options);

} // namespace cleavix::cli
