#pragma once
// Where an emulated sampler keeps what it holds between runs of the program: a file in
// $CLEAVIX_VIRTUAL_SAMPLERS, written whole to a temporary name and renamed, so that a run that
// stops half way leaves the last good state.
// Threads: called under the emulated sampler's own lock.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

namespace cleavix::sampler::virt {

// The state file `name` in $CLEAVIX_VIRTUAL_SAMPLERS; empty when it is not set.
inline std::string stateFileFromEnvironment(const std::string& name) {
    const char* dir = std::getenv("CLEAVIX_VIRTUAL_SAMPLERS");
    if (!dir || !*dir) {
        return {};
    }
    return (std::filesystem::path(dir) / name).string();
}

// Writes the state through `write`; the old file stays when writing failed.
inline void saveStateFile(const std::string& file, const std::function<void(std::ostream&)>& write) {
    if (file.empty()) {
        return;
    }
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(file).parent_path(), ignored);
    const std::string temporary = file + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        write(out);
        if (!out) {
            return;
        }
    }
    std::filesystem::rename(temporary, file, ignored);
}

} // namespace cleavix::sampler::virt
