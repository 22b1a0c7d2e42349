#include "editing/Blocks.h"

#include "sample/IoBuffer.h"
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
    sample::IoBuffer<uint8_t> block;
    bool kernel = true; // between two files the kernel copies, without the bytes passing through here
    uint64_t done = 0;
    while (done < count) {
        pace.report(double(done), double(count), from, to);
        if (kernel) {
            const size_t n = size_t(std::min<uint64_t>(kKernelChunk, count - done));
            const int64_t copied = destination.copyRangeFrom(source, uint64_t(source.position()),
                                                             uint64_t(destination.position()), n);
            if (copied >= 0) {
                source.seek(copied, sample::TFileAndMemoryStream::Origin::Current);
                destination.seek(copied, sample::TFileAndMemoryStream::Origin::Current);
                done += uint64_t(copied);
            }
            // The source ended (the rest is silence) or the kernel cannot copy: through memory.
            kernel = copied == int64_t(n);
        } else {
            block.resize(size_t(std::min<uint64_t>(count, kCopyBlock)));
            const size_t n = size_t(std::min<uint64_t>(kCopyBlock, count - done));
            const size_t got = source.read(block.data(), n);
            // Past the source's end reads as silence, so a copy always moves exactly count bytes.
            std::fill(block.begin() + long(got), block.begin() + long(n), uint8_t{0});
            destination.writeAll(block.data(), n);
            done += n;
        }
        if (pace.stopped()) {
            break;
        }
    }
    pace.report(double(done), double(count), from, to);
    return done;
}

uint64_t readBlocks(sample::TFileAndMemoryStream& source, uint8_t* out, uint64_t count, int step, Pace& pace,
                    int from, int to) {
    sample::IoBuffer<uint8_t> block(std::min<uint64_t>(count, kCopyBlock));
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

namespace {

// One chunk of a move, [from, from + n) to [to, to + n), in pieces of `piece` bytes that do not
// overlap, ordered as the move is (front first when moving down): no piece's destination holds
// bytes a later piece has still to read. A piece the kernel does not copy whole goes through
// `buffer` instead (its source is still intact). False, with nothing moved, when the kernel cannot
// copy within this stream at all.
bool moveInKernel(sample::TFileAndMemoryStream& stream, uint64_t from, uint64_t to, size_t n, size_t piece,
                  sample::IoBuffer<uint8_t>& buffer) {
    for (size_t moved = 0; moved < n;) {
        const size_t m = std::min(piece, n - moved);
        const uint64_t at = to < from ? moved : n - moved - m;
        const int64_t copied = stream.copyRangeFrom(stream, from + at, to + at, m);
        if (copied < 0 && moved == 0) {
            return false;
        }
        if (copied != int64_t(m)) {
            const size_t got = stream.readAt(from + at, buffer.data(), m);
            std::fill(buffer.begin() + long(got), buffer.begin() + long(m), uint8_t{0});
            stream.writeAllAt(to + at, buffer.data(), m);
        }
        moved += m;
    }
    return true;
}

} // namespace

bool moveBlock(sample::TFileAndMemoryStream& stream, uint64_t fromOffset, uint64_t toOffset, uint64_t count,
               Pace& pace, int from, int to, const std::function<void(uint64_t moved)>& moved) {
    if (fromOffset == toOffset || count == 0) {
        pace.set(to);
        return true;
    }
    sample::IoBuffer<uint8_t> chunk(std::min<uint64_t>(count, kMoveChunk));
    uint64_t done = 0;
    while (done < count) {
        const size_t n = size_t(std::min<uint64_t>(kMoveChunk, count - done));
        // Front to back when moving down, back to front when moving up: no byte is overwritten
        // before it has been read.
        const uint64_t at = toOffset < fromOffset ? done : count - done - n;
        // Pieces no longer than the distance moved do not overlap: the kernel moves those itself.
        const uint64_t distance = toOffset < fromOffset ? fromOffset - toOffset : toOffset - fromOffset;
        const size_t apart = size_t(std::min<uint64_t>(n, distance));
        if (apart >= kCopyBlock && moveInKernel(stream, fromOffset + at, toOffset + at, n, apart, chunk)) {
            done += n;
        } else {
            const size_t got = stream.readAt(fromOffset + at, chunk.data(), n);
            std::fill(chunk.begin() + long(got), chunk.begin() + long(n), uint8_t{0});
            stream.writeAllAt(toOffset + at, chunk.data(), n);
            done += n;
        }
        if (moved && toOffset < fromOffset) {
            moved(done);
        }
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
