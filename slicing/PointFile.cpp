#include "slicing/PointFile.h"

#include "sample/SafeFiles.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace cleavix::slicing {

PointFileResult savePointFile(const CandidateList& list, const std::string& fileName) {
    PointFileResult result;
    std::vector<uint8_t> image(kPointFileBytes);
    errno = 0;
    const auto n = static_cast<uint32_t>(list.count());
    for (int i = 0; i < 4; ++i) {
        image[size_t(i)] = static_cast<uint8_t>(n >> (8 * i));
    }
    for (int k = 0; k <= kMaxPoints; ++k) {
        encodePoint(list.at(k), image.data() + 4 + size_t(k) * kPointRecordBytes);
    }
    // Written beside the old file and renamed over it, so a full disk leaves the old points whole.
    try {
        sample::ReplacingFile file(fileName);
        file.write(image.data(), image.size());
        file.commit();
    } catch (const std::exception& e) {
        result.error = e.what();
        return result;
    }
    result.ok = true;
    return result;
}

PointFileResult loadPointFile(CandidateList& list, const std::string& fileName, uint32_t dataLength) {
    PointFileResult result;
    // A FIFO or device under the name is refused without waiting on it.
    const int fd = sample::openRegularFile(fileName);
    if (fd < 0) {
        result.error = errno == EINVAL ? kMsgBadPointFile : std::strerror(errno);
        return result;
    }
    std::vector<uint8_t> image(kPointFileBytes);
    size_t got = 0;
    while (got < image.size()) {
        const ssize_t n = ::read(fd, image.data() + got, image.size() - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        got += size_t(n);
    }
    ::close(fd);
    if (got < kPointFileBytes) {
        result.error = kMsgBadPointFile;
        return result;
    }
    uint32_t n = 0;
    for (int i = 0; i < 4; ++i) {
        n |= uint32_t(image[size_t(i)]) << (8 * i);
    }
    if (n > uint32_t(kMaxPoints)) {
        result.error = kMsgBadPointFile;
        return result;
    }
    std::vector<SlicePoint> entries(kMaxPoints + 1);
    for (size_t k = 0; k < entries.size(); ++k) {
        entries[k] = decodePoint(image.data() + 4 + k * kPointRecordBytes);
    }
    for (uint32_t k = 2; k <= n; ++k) {
        if (entries[k].position < entries[k - 1].position) {
            result.error = kMsgBadPointFile;
            return result;
        }
    }
    std::copy(entries.begin(), entries.end(), list.entries().begin());
    int kept = 0;
    while (kept < int(n) && entries[size_t(kept) + 1].position <= dataLength) {
        ++kept;
    }
    list.setCount(kept);
    list.endMarker().position = dataLength;
    result.ok = true;
    return result;
}

} // namespace cleavix::slicing
