#include "sample/WavWriter.h"

#include "sample/Extended80.h"
#include "sample/IoBuffer.h"
#include "sample/SafeFiles.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace cleavix::sample {

namespace {

void putLe16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void putLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(v >> (8 * i));
    }
}
void putBe16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
void putBe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
    }
}

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

struct SaveError {
    std::string text;
};

[[noreturn]] void fail(const std::string& what) { throw SaveError{what}; }
[[noreturn]] void failErrno(const std::string& what) { fail(what + ": " + std::strerror(errno)); }

// Buffered sequential writer over a descriptor. Blocks of a buffer's size or more go straight
// to the file when nothing is waiting before them.
class OutFile {
public:
    static constexpr size_t kBuffer = 65536;
    explicit OutFile(int fd) : fd_(fd) { buffer_.reserve(kBuffer); }
    void put(const uint8_t* data, size_t count) {
        if (buffer_.empty() && count >= kBuffer) {
            writeOut(data, count);
            return;
        }
        buffer_.insert(buffer_.end(), data, data + count);
        if (buffer_.size() >= kBuffer) {
            flush();
        }
    }
    void flush() {
        writeOut(buffer_.data(), buffer_.size());
        buffer_.clear();
    }
    void patch(uint64_t offset, const uint8_t* data, size_t count) {
        flush();
        if (::pwrite(fd_, data, count, static_cast<off_t>(offset)) != static_cast<ssize_t>(count)) {
            failErrno("Cannot write");
        }
    }
    uint64_t written() const { return written_ + buffer_.size(); }

    // Up to count bytes of the store from offset on, copied inside the kernel in chunks between
    // which progress is told and a stop honoured. Returns the bytes copied: fewer when the kernel
    // cannot copy between these files (the caller copies the rest through memory) or the store
    // ends first.
    uint64_t copyFrom(const TFileAndMemoryStream& store, uint64_t offset, uint64_t count, uint64_t total,
                      const BlockProgress& progress) {
        constexpr uint64_t kChunk = 4u << 20;
        flush();
        uint64_t done = 0;
        while (done < count) {
            const size_t want = static_cast<size_t>(std::min(kChunk, count - done));
            int error = 0;
            const int64_t copied = store.copyRangeTo(offset + done, fd_, want, error);
            done += static_cast<uint64_t>(copied);
            written_ += static_cast<uint64_t>(copied);
            if (error != 0 && !TFileAndMemoryStream::kernelCannotCopy(error)) {
                fail(std::string("Cannot write: ") + std::strerror(error));
            }
            if (static_cast<size_t>(copied) < want) {
                break;
            }
            if (progress.report) {
                progress.report(done, total);
            }
            if (progress.stop && progress.stop()) {
                fail("Cancelled");
            }
        }
        return done;
    }

private:
    void writeOut(const uint8_t* data, size_t count) {
        size_t done = 0;
        while (done < count) {
            const ssize_t n = ::write(fd_, data + done, count - done);
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                failErrno("Cannot write");
            }
            if (n == 0) {
                fail("Cannot write: no space left");
            }
            done += static_cast<size_t>(n);
        }
        written_ += count;
    }

    int fd_;
    IoBuffer<uint8_t> buffer_;
    uint64_t written_ = 0;
};

// The samples in the file's layout; returns the bytes written to `bytes`.
size_t convertBlock(const int16_t* samples, size_t count, unsigned bits, bool aiff, uint8_t* bytes) {
    size_t n = 0;
    if (bits == 16) {
        const size_t high = aiff ? 0 : 1; // where each sample's high byte goes
        for (size_t i = 0; i < count; ++i) {
            const auto s = static_cast<uint16_t>(samples[i]);
            bytes[n + high] = static_cast<uint8_t>(s >> 8);
            bytes[n + (1 - high)] = static_cast<uint8_t>(s);
            n += 2;
        }
        return n;
    }
    for (size_t i = 0; i < count; ++i) {
        // Rounded toward zero. Wave stores offset-128 bytes, AIFF signed bytes.
        const int eight = samples[i] / 256;
        bytes[n++] = static_cast<uint8_t>(aiff ? eight : eight + 128);
    }
    return n;
}

} // namespace

std::string directoryOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int openBeside(const std::string& target, mode_t existingMode, std::string& tempName) {
    // A short name: a target name near the system's limit still leaves room for it.
    const std::string pattern = directoryOf(target) + "/.cxw-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        tempName.clear();
        return -1;
    }
    tempName = name.data();
    mode_t mode = existingMode & 07777;
    if (existingMode == 0) {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    ::fchmod(fd, mode);
    return fd;
}

bool isNoSpaceReason(const std::string& reason) {
    for (const int code : {ENOSPC, EDQUOT, EFBIG}) {
        if (reason.find(std::strerror(code)) != std::string::npos) {
            return true;
        }
    }
    return false;
}

bool isAiffName(const std::string& fileName) {
    const std::string name = lower(fileName);
    return endsWith(name, ".aif") || endsWith(name, ".aiff");
}

WriteResult WriteSplit(const WriteRequest& request, const TFileAndMemoryStream& store, SampleSource* source,
                       const BlockProgress& progress) {
    WriteResult result;
    const bool aiff = isAiffName(request.fileName);
    const unsigned bits = request.saveBits == 8 ? 8 : 16;
    const unsigned step = 16 / bits;
    const unsigned channels = request.layout == LayoutStereo ? 2 : 1;
    const uint32_t dataBytes = request.length / step;

    // The new file is written beside the target and renamed over it only once complete, so a
    // failed save leaves whatever was there whole.
    try {
        ReplacingFile file(request.fileName);
        const int fd = file.fd();

        OutFile out(fd);
        const uint32_t pad = dataBytes & 1; // chunks are padded to an even length
        uint8_t header[54] = {};
        if (!aiff) {
            std::memcpy(header, "RIFF", 4);
            putLe32(header + 4, dataBytes + 36 + pad);
            std::memcpy(header + 8, "WAVEfmt ", 8);
            putLe32(header + 16, 16);
            putLe16(header + 20, 1);
            putLe16(header + 22, channels);
            putLe32(header + 24, request.sampleRate);
            putLe32(header + 28, channels * request.sampleRate * (bits / 8));
            putLe16(header + 32, channels * (bits / 8));
            putLe16(header + 34, bits);
            std::memcpy(header + 36, "data", 4);
            putLe32(header + 40, dataBytes);
            out.put(header, 44);
        } else {
            std::memcpy(header, "FORM", 4);
            putBe32(header + 4, dataBytes + 46);
            std::memcpy(header + 8, "AIFFCOMM", 8);
            putBe32(header + 16, 18);
            putBe16(header + 20, channels);
            putBe32(header + 22, dataBytes / (channels * (bits / 8)));
            putBe16(header + 26, bits);
            rateToExtended80(request.sampleRate, header + 28);
            std::memcpy(header + 38, "SSND", 4);
            putBe32(header + 42, 8); // set again once the data is complete
            putBe32(header + 46, 0);
            putBe32(header + 50, 0);
            out.put(header, 54);
        }

        // 16-bit Wave is the store's own layout: the store's bytes are copied inside the kernel
        // where it can, else its blocks are written as they are read.
        const bool asStored = bits == 16 && !aiff && std::endian::native == std::endian::little;
        const uint64_t total = request.length;
        const int storeStep = request.layout == LayoutMono && request.sampleChannels == 2 ? 2 : 1;
        uint64_t consumed = 0;
        std::unique_ptr<StoreSource> own;
        if (source == nullptr) {
            if (asStored && storeStep == 1) {
                consumed = out.copyFrom(store, request.start, total - total % 2, total, progress);
            }
            own = std::make_unique<StoreSource>(store, static_cast<uint32_t>(request.start + consumed),
                                                static_cast<uint32_t>(total - consumed), storeStep);
            source = own.get();
        }

        // 64 KiB blocks of 16-bit output, converted to the file's layout.
        constexpr size_t kBlockSamples = 32768;
        const size_t blockSamples = static_cast<size_t>(std::min<uint64_t>(kBlockSamples, total / 2 + 1));
        IoBuffer<int16_t> samples(blockSamples);
        IoBuffer<uint8_t> bytes(asStored ? 0 : blockSamples * 2);
        while (consumed < total) {
            const size_t want = static_cast<size_t>(std::min<uint64_t>(blockSamples, (total - consumed) / 2));
            if (want == 0) {
                break;
            }
            const size_t got = source->read(samples.data(), want);
            if (got == 0) {
                fail("The sample ended early");
            }
            if (asStored) {
                out.put(reinterpret_cast<const uint8_t*>(samples.data()), got * 2);
            } else {
                out.put(bytes.data(), convertBlock(samples.data(), got, bits, aiff, bytes.data()));
            }
            consumed += got * 2;
            if (progress.report) {
                progress.report(consumed, total);
            }
            if (progress.stop && progress.stop()) {
                fail("Cancelled");
            }
        }
        if (pad != 0) {
            const uint8_t zero = 0;
            out.put(&zero, 1);
        }
        if (aiff) {
            uint8_t size[4];
            putBe32(size, 8 + dataBytes);
            out.patch(42, size, 4);
            out.flush();
            putBe32(size, static_cast<uint32_t>(out.written() - 8));
            out.patch(4, size, 4);
        }
        out.flush();
        file.commit();
        result.ok = true;
    } catch (const SaveError& error) {
        result.error = error.text;
    } catch (const std::exception& error) {
        result.error = error.what();
    }
    return result;
}

} // namespace cleavix::sample
