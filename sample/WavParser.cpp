#include "sample/WavParser.h"

#include "sample/SafeFiles.h"

#include "sample/Extended80.h"
#include "sample/SampleFormat.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cleavix::sample {

namespace {

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint16_t be16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]); }

bool sameId(const uint8_t* p, const char id[4]) { return std::memcmp(p, id, 4) == 0; }

// A chunk identifier is four printable ASCII characters.
bool plausibleId(const uint8_t* p) {
    for (int i = 0; i < 4; ++i) {
        if (p[i] < 0x20 || p[i] > 0x7E) {
            return false;
        }
    }
    return true;
}

// The GUID tail every WAVE_FORMAT_EXTENSIBLE subformat shares; the first two bytes are the tag.
constexpr uint8_t kGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                   0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

} // namespace

TWavParser::~TWavParser() { close(); }

void TWavParser::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    fileSize_ = 0;
}

void TWavParser::open(const std::string& fileName) {
    close();
    if (fileName.empty()) {
        return;
    }
    // Regular files only, opened without waiting on a FIFO planted under the name.
    fd_ = openRegularFile(fileName);
    if (fd_ < 0) {
        throw EWavParserError(kCannotChangePosition);
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        close();
        throw EWavParserError(kCannotChangePosition);
    }
    fileSize_ = static_cast<uint64_t>(st.st_size);
}

size_t TWavParser::readSomeAt(uint64_t offset, void* buffer, size_t count) const {
    if (fd_ < 0) {
        throw EWavParserError(kNoFileToProcess);
    }
    size_t done = 0;
    auto* out = static_cast<uint8_t*>(buffer);
    while (done < count) {
        const ssize_t n = ::pread(fd_, out + done, count - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw EWavParserError(kCannotChangePosition);
        }
        if (n == 0) {
            break;
        }
        done += static_cast<size_t>(n);
    }
    return done;
}

void TWavParser::readAt(uint64_t offset, void* buffer, size_t count) const {
    if (readSomeAt(offset, buffer, count) != count) {
        throw EWavParserError(kCannotChangePosition);
    }
}

Container TWavParser::detectContainer() {
    uint8_t head[12];
    if (readSomeAt(0, head, sizeof head) != sizeof head) {
        throw EChunkNotFound();
    }
    if (sameId(head, "RIFF") && sameId(head + 8, "WAVE")) {
        aiff_ = false;
        return Container::Wave;
    }
    if (sameId(head, "FORM") && (sameId(head + 8, "AIFF") || sameId(head + 8, "AIFC"))) {
        aiff_ = true;
        return Container::Aiff;
    }
    throw EChunkNotFound();
}

ChunkInfo TWavParser::findRiffForm(const char formType[4]) {
    uint8_t head[12];
    if (readSomeAt(0, head, sizeof head) != sizeof head || !sameId(head, "RIFF") || !sameId(head + 8, formType)) {
        throw EChunkNotFound();
    }
    ChunkInfo info;
    std::memcpy(info.id, "RIFF", 4);
    info.size = le32(head + 4);
    std::memcpy(info.formType, formType, 4);
    info.dataOffset = 8;
    return info;
}

ChunkInfo TWavParser::walkChunks(uint64_t from, uint64_t end, const char id[4], bool bigEndian) {
    uint64_t position = from;
    while (position + 8 <= end) {
        uint8_t header[8];
        if (readSomeAt(position, header, 8) != 8) {
            break;
        }
        const uint32_t size = bigEndian ? be32(header + 4) : le32(header + 4);
        if (sameId(header, id)) {
            ChunkInfo info;
            std::memcpy(info.id, id, 4);
            info.size = size;
            info.dataOffset = position + 8;
            return info;
        }
        uint64_t next = position + 8 + size;
        if ((size & 1) != 0) {
            // Chunks are padded to even lengths. Some writers forget the pad byte: follow the
            // layout whose next identifier looks like one.
            uint8_t padded[4];
            uint8_t unpadded[4];
            const bool paddedOk = readSomeAt(next + 1, padded, 4) == 4 && plausibleId(padded);
            const bool unpaddedOk = readSomeAt(next, unpadded, 4) == 4 && plausibleId(unpadded);
            if (paddedOk || !unpaddedOk) {
                next += 1;
            }
        }
        position = next;
    }
    throw EChunkNotFound();
}

ChunkInfo TWavParser::findWaveChunk(const ChunkInfo& riff, const char id[4]) {
    // Walk to the end of the file rather than trusting the RIFF size, which streaming writers
    // leave at 0 or 0xFFFFFFFF.
    (void)riff;
    return walkChunks(12, fileSize_, id, false);
}

ChunkInfo TWavParser::findAiffForm() {
    uint8_t head[12];
    if (readSomeAt(0, head, sizeof head) != sizeof head || !sameId(head, "FORM") ||
        !(sameId(head + 8, "AIFF") || sameId(head + 8, "AIFC"))) {
        throw EChunkNotFound();
    }
    ChunkInfo info;
    std::memcpy(info.id, "FORM", 4);
    info.size = be32(head + 4);
    std::memcpy(info.formType, head + 8, 4);
    info.dataOffset = 8;
    aiff_ = true;
    return info;
}

FormatRecord TWavParser::readComm(const ChunkInfo& form) {
    const ChunkInfo comm = walkChunks(12, fileSize_, "COMM", true);
    if (comm.size < 18) {
        throw EChunkNotFound();
    }
    uint8_t body[22] = {};
    const bool aifc = !sameId(reinterpret_cast<const uint8_t*>(form.formType), "AIFF");
    readAt(comm.dataOffset, body, aifc && comm.size >= 22 ? 22 : 18);
    FormatRecord record;
    // AIFF-C is PCM when uncompressed: 'NONE' (big-endian, as AIFF) or 'sowt' (little-endian
    // words). Every other compression may hold anything and is refused.
    sowt_ = aifc && comm.size >= 22 && sameId(body + 18, "sowt");
    record.formatTag = !aifc || (comm.size >= 22 && (sameId(body + 18, "NONE") || sowt_)) ? 1 : 0;
    record.channels = be16(body);
    record.bitsPerSample = be16(body + 6);
    record.sampleRate = extended80ToRate(body + 8);
    const uint32_t bytesPerSample = record.bitsPerSample / 8u;
    record.bytesPerSecond = record.channels * record.sampleRate * bytesPerSample;
    record.blockAlign = static_cast<uint16_t>(record.channels * bytesPerSample);
    return record;
}

ChunkInfo TWavParser::findSsnd(const ChunkInfo& form, uint64_t& soundOffset, uint64_t& soundLength) {
    (void)form;
    const ChunkInfo ssnd = walkChunks(12, fileSize_, "SSND", true);
    if (ssnd.size < 8) {
        throw EChunkNotFound();
    }
    uint8_t body[8];
    readAt(ssnd.dataOffset, body, sizeof body);
    const uint32_t offset = be32(body);
    soundOffset = ssnd.dataOffset + 8 + offset;
    soundLength = ssnd.size >= 8ull + offset ? ssnd.size - 8ull - offset : 0;
    return ssnd;
}

SampleFileInfo parseSampleFile(const std::string& fileName) {
    TWavParser parser;
    parser.open(fileName);
    SampleFileInfo info;
    info.fileSize = parser.fileSize();
    info.container = parser.detectContainer();
    if (info.container == Container::Wave) {
        const ChunkInfo riff = parser.findRiffForm("WAVE");
        const ChunkInfo fmt = parser.findWaveChunk(riff, "fmt ");
        if (fmt.size < 16) {
            throw EChunkNotFound();
        }
        uint8_t body[40] = {};
        parser.readAt(fmt.dataOffset, body, 16);
        info.format.formatTag = le16(body);
        info.format.channels = le16(body + 2);
        info.format.sampleRate = le32(body + 4);
        info.format.bytesPerSecond = le32(body + 8);
        info.format.blockAlign = le16(body + 12);
        info.format.bitsPerSample = le16(body + 14);
        info.pcm = info.format.formatTag == 1;
        if (info.format.formatTag == 0xFFFE && fmt.size >= 40) {
            // WAVE_FORMAT_EXTENSIBLE: PCM when its subformat GUID is the PCM one.
            parser.readAt(fmt.dataOffset, body, 40);
            info.pcm = le16(body + 24) == 1 && std::memcmp(body + 26, kGuidTail, sizeof kGuidTail) == 0;
        }
        const ChunkInfo data = parser.findWaveChunk(riff, "data");
        info.declaredLength = data.size;
        info.dataOffset = data.dataOffset;
    } else {
        const ChunkInfo form = parser.findAiffForm();
        info.format = parser.readComm(form);
        info.pcm = info.format.formatTag == 1;
        info.littleEndianAiff = parser.littleEndianAiff();
        uint64_t offset = 0;
        uint64_t length = 0;
        parser.findSsnd(form, offset, length);
        info.declaredLength = length;
        info.dataOffset = offset;
    }
    // A chunk that claims more than the file holds gives the bytes actually there, in whole frames.
    const uint64_t present = info.fileSize > info.dataOffset ? info.fileSize - info.dataOffset : 0;
    uint64_t length = std::min(info.declaredLength, present);
    const uint32_t frameBytes = info.format.channels * ((info.format.bitsPerSample + 7u) / 8u);
    if (frameBytes > 0) {
        length -= length % frameBytes;
    }
    info.dataLength = length;
    return info;
}

TRiffChunkDataExtractor::TRiffChunkDataExtractor(const std::string& fileName, const char chunkId[4],
                                                 const char formType[4]) {
    // The chunk asked for is the sound data either way: "data" in a Wave file, SSND in AIFF.
    (void)chunkId;
    (void)formType;
    info_ = parseSampleFile(fileName);
    parser_.open(fileName);
}

size_t TRiffChunkDataExtractor::readBlock(void* buffer, uint64_t offset, size_t count) {
    if (offset >= info_.dataLength) {
        return 0;
    }
    count = static_cast<size_t>(std::min<uint64_t>(count, info_.dataLength - offset));
    return parser_.readSomeAt(info_.dataOffset + offset, buffer, count);
}

size_t TRiffChunkDataExtractor::readBlock(TFileAndMemoryStream& target, uint64_t offset, size_t count) {
    std::vector<uint8_t> buffer(std::min<size_t>(count, 65536));
    size_t done = 0;
    while (done < count) {
        const size_t got = readBlock(buffer.data(), offset + done, std::min(buffer.size(), count - done));
        if (got == 0) {
            break;
        }
        target.writeAll(buffer.data(), got);
        done += got;
    }
    return done;
}

TWaveDataExtractor::TWaveDataExtractor(const std::string& fileName)
    : TRiffChunkDataExtractor(fileName, "data", "WAVE") {}

SampleFileCheck CheckSampleFile(const std::string& fileName, bool previewMode) {
    SampleFileCheck check;
    struct stat st {};
    if (fileName.empty() || ::stat(fileName.c_str(), &st) != 0) {
        check.result = CheckUnsupported;
        return check;
    }
    if (S_ISDIR(st.st_mode)) {
        check.result = CheckUnparseable;
        return check;
    }
    if (!S_ISREG(st.st_mode)) {
        // A FIFO, device or socket: never opened, so a FIFO cannot block the open.
        check.result = CheckUnsupported;
        check.refusal = kMsgUnrecognised;
        return check;
    }
    check.readOnly = (st.st_mode & 0222) == 0 || ::access(fileName.c_str(), W_OK) != 0;
    try {
        check.info = parseSampleFile(fileName);
        check.parsed = true;
    } catch (const EWavParserError&) {
        check.result = CheckUnparseable;
        return check;
    }
    if (previewMode) {
        check.result = CheckLoadable;
        return check;
    }
    const FormatRecord& f = check.info.format;
    const bool supported = check.info.pcm && (f.bitsPerSample == 8 || f.bitsPerSample == 16) &&
                           (f.channels == 1 || f.channels == 2) && f.sampleRate > 0;
    if (!supported) {
        check.result = CheckUnsupported;
        return check;
    }
    const uint64_t storeLength = f.bitsPerSample == 8 ? check.info.dataLength * 2 : check.info.dataLength;
    if (storeLength > kMaxDataLength) {
        check.result = CheckUnsupported;
        check.refusal = kMsgTooLarge;
        return check;
    }
    check.result = CheckLoadable;
    return check;
}

std::string previewFormatLine(const SampleFileInfo& info) {
    return std::to_string(info.format.sampleRate) + "hz / " + std::to_string(info.format.bitsPerSample) +
           " bit / " + (info.format.channels == 1 ? "mono" : "stereo");
}

std::string previewSizeLine(const SampleFileInfo& info) { return std::to_string(info.dataLength / 1024) + " kb"; }

} // namespace cleavix::sample
