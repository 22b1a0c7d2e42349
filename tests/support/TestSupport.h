#pragma once
// Helpers shared by the tests: temporary folders, byte-level file builders, running programs and a
// scripted prompter. The session fixture is in SessionFixture.h, so tests of the lower folders
// link only what they test.
#include "jobs/Prompter.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace cleavix::test {

using Bytes = std::vector<uint8_t>;

// A fresh folder under the system temporary folder, removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // Names of the entries in the folder (not recursive), sorted.
    std::vector<std::string> entries() const;

private:
    std::string path_;
};

Bytes readFile(const std::string& path);
void writeFile(const std::string& path, const Bytes& bytes);
bool fileExists(const std::string& path);

// Little- and big-endian appenders for building files byte by byte.
void putLe16(Bytes& b, uint32_t v);
void putLe32(Bytes& b, uint32_t v);
void putBe16(Bytes& b, uint32_t v);
void putBe32(Bytes& b, uint32_t v);
void putId(Bytes& b, const char* id);
uint32_t getLe32(const Bytes& b, size_t at);
uint16_t getLe16(const Bytes& b, size_t at);
uint32_t getBe32(const Bytes& b, size_t at);
uint16_t getBe16(const Bytes& b, size_t at);

// The 80-bit extended big-endian bytes of a value, made with the machine's own long double
// (x87 extended precision), independently of the code under test.
std::vector<uint8_t> extendedBytes(long double value);

struct WaveSpec {
    uint16_t formatTag = 1;
    uint16_t channels = 2;
    uint32_t sampleRate = 44100;
    uint16_t bits = 16;
    bool dataFirst = false;       // put the data chunk before "fmt "
    bool extraChunk = false;      // a "LIST" chunk of odd length (padded) before the data
    int64_t declaredLength = -1;  // data chunk size to claim (-1: the true size)
};
// A Wave file holding `data` as its data chunk body.
Bytes makeWave(const WaveSpec& spec, const Bytes& data);

struct AiffSpec {
    uint16_t channels = 2;
    long double sampleRate = 44100;
    uint16_t bits = 16;
    uint32_t ssndOffset = 0;
    bool aifc = false;
    const char* compression = "NONE"; // AIFF-C only
    bool oddChunkFirst = false; // an odd-sized "NAME" chunk (padded) before COMM
};
// An AIFF file holding `data` (already big-endian) as its sound data.
Bytes makeAiff(const AiffSpec& spec, const Bytes& data);

// 16-bit samples as little-endian bytes, and back.
Bytes le16Bytes(const std::vector<int16_t>& samples);
std::vector<int16_t> le16Samples(const Bytes& bytes);
Bytes be16Bytes(const std::vector<int16_t>& samples);
// A deterministic test signal of `count` samples.
std::vector<int16_t> testSignal(size_t count, uint32_t seed = 1);

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};
// Runs a program (no shell) and captures its output.
RunResult run(const std::vector<std::string>& argv);
RunResult runCli(const std::vector<std::string>& args);
std::string soxPath(); // empty when sox is not installed

// A file-size limit (RLIMIT_FSIZE, with SIGXFSZ ignored) for as long as it lives: writes past
// bytes fail with EFBIG, standing for a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(uint64_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    uint64_t oldSoft_ = 0;
    uint64_t oldHard_ = 0;
    void (*oldHandler_)(int) = nullptr;
};

// Runs body in a forked child and returns its exit status, or -1 when it has not ended within
// seconds (the child is then killed): for calls that could block forever, such as an open of a FIFO.
int exitWithin(int seconds, const std::function<int()>& body);

// A prompter that answers from a script and remembers what it was asked.
class ScriptedPrompter final : public jobs::Prompter {
public:
    jobs::Answer ask(jobs::MessageKind kind, const std::string& text, const std::string& caption,
                     jobs::Buttons buttons) override;
    std::optional<jobs::SaveTarget> chooseSaveTarget(const std::string& suggestedName, uint8_t saveBits) override;

    std::deque<jobs::Answer> answers;                      // taken in order; Ok/Yes when empty
    std::deque<std::optional<jobs::SaveTarget>> targets;   // taken in order; cancel when empty
    std::vector<std::string> asked;                        // texts of every message box
    std::vector<std::string> suggested;                    // names the save dialog was prefilled with
};

} // namespace cleavix::test
