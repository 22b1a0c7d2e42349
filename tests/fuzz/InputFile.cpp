#include "FuzzTarget.h"

#include <cstdlib>
#include <stdexcept>
#include <unistd.h>

namespace cleavix::fuzz {

InputFile::InputFile(const uint8_t* data, size_t size, const char* suffix) {
    const char* dir = std::getenv("TMPDIR");
    path_ = std::string(dir != nullptr ? dir : "/tmp") + "/cleavix-fuzz-" + std::to_string(::getpid()) + suffix;
    FILE* f = std::fopen(path_.c_str(), "wb");
    if (f == nullptr) {
        throw std::runtime_error("cannot write " + path_);
    }
    if (size > 0) {
        std::fwrite(data, 1, size, f);
    }
    std::fclose(f);
}

InputFile::~InputFile() { ::unlink(path_.c_str()); }

} // namespace cleavix::fuzz
