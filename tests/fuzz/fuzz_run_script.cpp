// The `run` script: each input is a script run on a fresh session, in a private folder that holds
// a short sample (a.wav) and a clipboard image (c.wav). Names with a '/' are left out, so a script
// reaches no file outside the folder; so are record and plugin, which reach devices and plug-ins.
#include "FuzzTarget.h"
#include "cli/RunScript.h"

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// The private folder, made on first use and removed with everything in it when the program ends.
class Folder {
public:
    Folder() {
        const char* tmp = std::getenv("TMPDIR");
        path_ = fs::path(tmp != nullptr ? tmp : "/tmp") / ("cleavix-fuzz-run-" + std::to_string(::getpid()));
        fs::create_directories(path_);
        cleavix::fuzz::writeFuzzFixtures(path_.string());
        fs::current_path(path_);
        ::setenv("CLEAVIX_TEMP", path_.c_str(), 1);
    }
    ~Folder() {
        std::error_code ignored;
        fs::current_path(path_.parent_path(), ignored);
        fs::remove_all(path_, ignored);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

const fs::path& folder() {
    static const Folder made;
    return made.path();
}

// Everything a script made goes, so that each run starts alike.
void clearLeftovers(const fs::path& dir) {
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(dir, ignored)) {
        const std::string name = entry.path().filename().string();
        if (name != "a.wav" && name != "c.wav") {
            fs::remove_all(entry.path(), ignored);
        }
    }
}

bool reachesOutside(const std::string& script) {
    if (script.find('/') != std::string::npos || script.find('\0') != std::string::npos) {
        return true;
    }
    std::istringstream lines(script);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string first;
        if (words >> first && (first == "record" || first == "plugin")) {
            return true;
        }
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string script(reinterpret_cast<const char*>(data), size);
    if (size > 4096 || reachesOutside(script)) {
        return 0;
    }
    const fs::path& dir = folder();
    std::istringstream in(script);
    std::ostringstream err;
    try {
        cleavix::cli::runScriptLines(in, err);
    } catch (const std::exception&) {
        // A failure of the command (the tool exits 1 with the reason); not a fault of the parser.
    }
    clearLeftovers(dir);
    return 0;
}
