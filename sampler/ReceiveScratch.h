#pragma once
// ReceiveScratch: the scratch working file a receive writes into, so that the sample store is
// replaced only once the whole sample came. The file is made afresh in the folder given (the
// system's temporary folder when none is) and removed when the receive ends, however it ends, and
// when its owner goes. Every failure comes back as a text, never as an exception, since the
// drivers call it from their completions.
//
// Threads: one user at a time; the SCSI drivers use it on the main thread only.
#include "sample/FileAndMemoryStream.h"

#include <cstdint>
#include <memory>
#include <string>

namespace cleavix::sampler {

class ReceiveScratch {
public:
    ReceiveScratch() = default;
    ~ReceiveScratch() { discard(); }
    ReceiveScratch(const ReceiveScratch&) = delete;
    ReceiveScratch& operator=(const ReceiveScratch&) = delete;

    // Makes a new empty file named `prefix` and six random characters in `directory`; the text of
    // the failure, or empty. A file still open is discarded first.
    std::string open(const std::string& directory, const std::string& prefix);
    bool isOpen() const { return stream_ != nullptr; }
    // Empties the file.
    std::string clear();
    std::string write(uint64_t offset, const uint8_t* data, size_t size);
    // Replaces the whole of `store` with the first `bytes` of the file.
    std::string commitTo(sample::TFileAndMemoryStream& store, int64_t bytes);
    // Closes and removes the file.
    void discard();

private:
    std::unique_ptr<sample::TFileAndMemoryStream> stream_;
    std::string name_;
};

} // namespace cleavix::sampler
