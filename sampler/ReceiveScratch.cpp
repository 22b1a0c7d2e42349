#include "sampler/ReceiveScratch.h"

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace cleavix::sampler {

std::string ReceiveScratch::open(const std::string& directory, const std::string& prefix) {
    discard();
    std::error_code error;
    const std::string dir = directory.empty() ? std::filesystem::temp_directory_path(error).string() : directory;
    std::string name = (std::filesystem::path(dir) / (prefix + "XXXXXX")).string();
    const int fd = ::mkstemp(name.data());
    if (fd < 0) {
        return "Cannot create a working file in " + dir;
    }
    name_ = name;
    stream_ = std::make_unique<sample::TFileAndMemoryStream>(fd, name);
    return {};
}

std::string ReceiveScratch::clear() {
    try {
        stream_->setSize(0);
    } catch (const std::exception& e) {
        return e.what();
    }
    return {};
}

std::string ReceiveScratch::write(uint64_t offset, const uint8_t* data, size_t size) {
    try {
        stream_->writeAllAt(offset, data, size);
    } catch (const std::exception& e) {
        return e.what();
    }
    return {};
}

std::string ReceiveScratch::commitTo(sample::TFileAndMemoryStream& store, int64_t bytes) {
    try {
        stream_->seek(0);
        store.clear();
        store.seek(0);
        store.copyFrom(*stream_, bytes);
        store.setSize(bytes);
    } catch (const std::exception& e) {
        return e.what();
    }
    return {};
}

void ReceiveScratch::discard() {
    stream_.reset();
    if (!name_.empty()) {
        ::unlink(name_.c_str());
        name_.clear();
    }
}

} // namespace cleavix::sampler
