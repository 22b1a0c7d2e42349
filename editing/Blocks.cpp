#include "editing/Blocks.h"

#include "sample/WorkFiles.h"

#include <algorithm>
#include <vector>

namespace cleavix::editing {

void Pace::report(double done, double total, int from, int to) {
    if (context_ != nullptr) {
        context_->setProgress(done, total, from, to);
    }
}

void Pace::set(int position) {
    if (context_ != nullptr) {
        context_->setProgress(position);
    }
}

bool Pace::stopped() { return !firm_ && context_ != nullptr && context_->stopRequested(); }

bool Pace::terminated() const { return context_ != nullptr && context_->terminated(); }

uint64_t copyBlocks(sample::TFileAndMemoryStream& source, sample::TFileAndMemoryStream& destination, uint64_t count,
                    Pace& pace, int from, int to) {
    std::vector<uint8_t> block(std::min<uint64_t>(count, kCopyBlock));
    uint64_t done = 0;
    while (done < count) {
        const size_t n = size_t(std::min<uint64_t>(kCopyBlock, count - done));
        pace.report(double(done), double(count), from, to);
        const size_t got = source.read(block.data(), n);
        // Past the source's end reads as silence, so a copy always moves exactly count bytes.
        std::fill(block.begin() + long(got), block.begin() + long(n), uint8_t{0});
        destination.writeAll(block.data(), n);
        done += n;
        if (pace.stopped()) {
            break;
        }
    }
    pace.report(double(done), double(count), from, to);
    return done;
}

uint64_t readBlocks(sample::TFileAndMemoryStream& source, uint8_t* out, uint64_t count, int step, Pace& pace,
                    int from, int to) {
    std::vector<uint8_t> block(std::min<uint64_t>(count, kCopyBlock));
    uint64_t done = 0;
    uint64_t written = 0;
    while (done < count) {
        const size_t n = size_t(std::min<uint64_t>(kCopyBlock, count - done));
        pace.report(double(done), double(count), from, to);
        const size_t got = source.read(block.data(), n);
        std::fill(block.begin() + long(got), block.begin() + long(n), uint8_t{0});
        if (step == 1) {
            std::copy_n(block.data(), n, out + written);
            written += n;
        } else {
            for (size_t i = 0; i + 1 < n; i += 4) {
                out[written++] = block[i];
                out[written++] = block[i + 1];
            }
        }
        done += n;
        if (pace.stopped()) {
            break;
        }
    }
    pace.report(double(done), double(count), from, to);
    return written;
}

bool moveBlock(sample::TFileAndMemoryStream& stream, uint64_t fromOffset, uint64_t toOffset, uint64_t count,
               Pace& pace, int from, int to) {
    if (fromOffset == toOffset || count == 0) {
        pace.set(to);
        return true;
    }
    std::vector<uint8_t> chunk(std::min<uint64_t>(count, kMoveChunk));
    uint64_t done = 0;
    while (done < count) {
        const size_t n = size_t(std::min<uint64_t>(kMoveChunk, count - done));
        // Front to back when moving down, back to front when moving up: no byte is overwritten
        // before it has been read.
        const uint64_t at = toOffset < fromOffset ? done : count - done - n;
        const size_t got = stream.readAt(fromOffset + at, chunk.data(), n);
        std::fill(chunk.begin() + long(got), chunk.begin() + long(n), uint8_t{0});
        stream.writeAllAt(toOffset + at, chunk.data(), n);
        done += n;
        pace.report(double(done), double(count), from, to);
        if (done < count && pace.stopped()) {
            return false;
        }
    }
    return true;
}

ScratchFile::ScratchFile(const std::string& dir, const std::string& prefix)
    : stream_(sample::createWorkFile(dir, prefix)) {
    name_ = stream_->fileName();
}

ScratchFile::~ScratchFile() {
    if (stream_) {
        sample::ReleaseWorkFile(stream_);
    }
}

} // namespace cleavix::editing
