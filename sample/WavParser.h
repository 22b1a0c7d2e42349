#pragma once
// Reading Wave and AIFF headers: the parser, the chunk data readers, and the check that every
// open command runs before it loads anything.
//
// The container is decided by the file's content ("RIFF"...."WAVE" or "FORM"...."AIFF"), never by
// its name. AIFF sample data is big-endian; compressed AIFF (AIFC) and non-PCM Wave are refused.
#include "sample/FileAndMemoryStream.h"

#include <cstdint>
#include <stdexcept>
#include <string>

namespace cleavix::sample {

class EWavParserError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
class EChunkNotFound : public EWavParserError {
public:
    EChunkNotFound() : EWavParserError("Chunk Not Found") {}
};

inline constexpr const char* kCannotChangePosition = "Cannot change file position";
inline constexpr const char* kNoFileToProcess = "No File to Process";

enum class Container { Wave, Aiff };

// The first 16 bytes of a Wave format chunk (an AIFF COMM chunk is translated into it).
struct FormatRecord {
    uint16_t formatTag = 0;
    uint16_t channels = 0;
    uint32_t sampleRate = 0;
    uint32_t bytesPerSecond = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
};

struct ChunkInfo {
    char id[4] = {};
    uint32_t size = 0;
    char formType[4] = {};
    uint64_t dataOffset = 0;
};

// What a header says about the sound data.
struct SampleFileInfo {
    Container container = Container::Wave;
    FormatRecord format;
    bool pcm = false;              // format tag 1 (or an extensible Wave whose subformat is PCM)
    bool littleEndianAiff = false; // AIFF-C 'sowt': the PCM words stored little-endian
    uint64_t declaredLength = 0;   // the data (SSND sound data) length the header claims
    uint64_t dataLength = 0;       // the bytes actually present, in whole frames
    uint64_t dataOffset = 0;       // file offset of the first sample
    uint64_t fileSize = 0;
};

class TWavParser {
public:
    TWavParser() = default;
    ~TWavParser();
    TWavParser(const TWavParser&) = delete;
    TWavParser& operator=(const TWavParser&) = delete;

    // Closes any open file and opens fileName (an empty name only closes).
    void open(const std::string& fileName);
    void close();
    bool isOpen() const { return fd_ >= 0; }
    uint64_t fileSize() const { return fileSize_; }
    // Which container the file holds, by its first 12 bytes. Throws EChunkNotFound for neither.
    Container detectContainer();

    // Wave
    ChunkInfo findRiffForm(const char formType[4]);
    ChunkInfo findWaveChunk(const ChunkInfo& riff, const char id[4]);
    // AIFF
    ChunkInfo findAiffForm();
    FormatRecord readComm(const ChunkInfo& form);
    // The SSND sound data: offset of the first sample and its length.
    ChunkInfo findSsnd(const ChunkInfo& form, uint64_t& soundOffset, uint64_t& soundLength);

    // Reads exactly count bytes at offset; throws EWavParserError when the file is shorter.
    void readAt(uint64_t offset, void* buffer, size_t count) const;
    // Reads up to count bytes at offset; returns how many.
    size_t readSomeAt(uint64_t offset, void* buffer, size_t count) const;

    bool aiff() const { return aiff_; }
    // After readComm: an AIFF-C file whose PCM words are little-endian ('sowt').
    bool littleEndianAiff() const { return sowt_; }

private:
    // Walks the chunks of a RIFF or FORM body from `from` to `end`; returns the chunk or throws.
    ChunkInfo walkChunks(uint64_t from, uint64_t end, const char id[4], bool bigEndian);
    int fd_ = -1;
    uint64_t fileSize_ = 0;
    bool aiff_ = false;
    bool sowt_ = false;
};

// Parses a file's header and fills info. Throws EWavParserError (or EChunkNotFound).
SampleFileInfo parseSampleFile(const std::string& fileName);

// Reads a chunk's data from a file: for Wave the "data" chunk, for AIFF the SSND sound data.
class TRiffChunkDataExtractor {
public:
    TRiffChunkDataExtractor(const std::string& fileName, const char chunkId[4], const char formType[4]);
    virtual ~TRiffChunkDataExtractor() = default;
    const SampleFileInfo& info() const { return info_; }
    // Appends count bytes of the chunk's data, from offset, to target. Returns bytes appended
    // (fewer at the end of the file).
    size_t readBlock(TFileAndMemoryStream& target, uint64_t offset, size_t count);
    // Reads into memory; returns bytes read.
    size_t readBlock(void* buffer, uint64_t offset, size_t count);

protected:
    TWavParser parser_;
    SampleFileInfo info_;
};

class TWaveDataExtractor final : public TRiffChunkDataExtractor {
public:
    explicit TWaveDataExtractor(const std::string& fileName);
};

// The result of CheckSampleFile.
enum CheckResult : int {
    CheckLoadable = 0,     // can be loaded
    CheckUnsupported = 1,  // missing, or parses but is not 8- or 16-bit PCM (or cannot be held)
    CheckUnparseable = 2,  // could not be parsed
};

struct SampleFileCheck {
    int result = CheckUnparseable;
    bool parsed = false;   // info holds what the header said
    bool readOnly = false;
    SampleFileInfo info;
    // Why a parseable file was refused, when it is for a reason other than its format (too large).
    std::string refusal;
};

// The check every open command runs. previewMode: the open dialog's preview, which takes any
// parseable file (result 0).
SampleFileCheck CheckSampleFile(const std::string& fileName, bool previewMode = false);

// Messages of the open commands.
inline constexpr const char* kMsgUnableToLoad =
    "Unable to load file;\r\n\r\nFile is corrupted or is in an unrecognised format.";
inline constexpr const char* kMsgUnrecognised = "File type is unrecognised;\r\nMust be 16bit uncompressed format";
inline constexpr const char* kMsgIncorrectFormat = "File is incorrect format\r\n";
inline constexpr const char* kMsgNotFound = "File not found - file may have been moved or deleted";
inline constexpr const char* kMsgDiskSpaceLow = "An error occurred whilst opening this file.\r\n\r\nDisk space is low?";
inline constexpr const char* kMsgTooLarge =
    "File is too large;\r\n\r\nThe audio must stay under 4 GB once converted to 16 bits.";

// Open dialog preview lines: "44100hz / 16 bit / stereo" and "1234 kb".
std::string previewFormatLine(const SampleFileInfo& info);
std::string previewSizeLine(const SampleFileInfo& info);

} // namespace cleavix::sample
