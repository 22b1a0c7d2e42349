#include "sample/WavWriter.h"

#include "sample/Extended80.h"
#include "sample/SafeFiles.h"

#include <algorithm>
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

// Buffered sequential writer over a descriptor.
class OutFile {
public:
    explicit OutFile(int fd) : fd_(fd) { buffer_.reserve(65536); }
    void put(const uint8_t* data, size_t count) {
        buffer_.insert(buffer_.end(), data, data + count);
        if (buffer_.size() >= 65536) {
            flush();
        }
    }
    void flush() {
        size_t done = 0;
        while (done < buffer_.size()) {
            const ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
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
        written_ += buffer_.size();
        buffer_.clear();
    }
    void patch(uint64_t offset, const uint8_t* data, size_t count) {
        flush();
        if (::pwrite(fd_, data, count, static_cast<off_t>(offset)) != static_cast<ssize_t>(count)) {
            failErrno("Cannot write");
        }
    }
    uint64_t written() const { return written_ + buffer_.size(); }

private:
    int fd_;
    std::vector<uint8_t> buffer_;
    uint64_t written_ = 0;
};

} // namespace

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

        std::unique_ptr<StoreSource> own;
        if (source == nullptr) {
            own = std::make_unique<StoreSource>(store, request.start, request.length,
                                                request.layout == LayoutMono && request.sampleChannels == 2 ? 2 : 1);
            source = own.get();
        }

        // 2048-byte blocks of 16-bit output, converted to the file's layout.
        constexpr size_t kBlockSamples = 1024;
        int16_t samples[kBlockSamples];
        uint8_t bytes[kBlockSamples * 2];
        const uint64_t total = request.length;
        uint64_t consumed = 0;
        while (consumed < total) {
            const size_t want = static_cast<size_t>(std::min<uint64_t>(kBlockSamples, (total - consumed) / 2));
            if (want == 0) {
                break;
            }
            const size_t got = source->read(samples, want);
            if (got == 0) {
                fail("The sample ended early");
            }
            size_t n = 0;
            for (size_t i = 0; i < got; ++i) {
                const int16_t s = samples[i];
                if (bits == 16) {
                    if (aiff) {
                        bytes[n++] = static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8);
                        bytes[n++] = static_cast<uint8_t>(s);
                    } else {
                        bytes[n++] = static_cast<uint8_t>(s);
                        bytes[n++] = static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8);
                    }
                } else {
                    // Rounded toward zero. Wave stores offset-128 bytes, AIFF signed bytes.
                    const int eight = s / 256;
                    bytes[n++] = static_cast<uint8_t>(aiff ? eight : eight + 128);
                }
            }
            out.put(bytes, n);
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
