#pragma once
// What every fuzz target defines: libFuzzer's entry point, also called by the replay driver.
#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace cleavix::fuzz {

// A private file holding the bytes, for the parsers that take a file name; removed on destruction.
class InputFile {
public:
    InputFile(const uint8_t* data, size_t size, const char* suffix);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// The files the script target's folder holds: a.wav (a short stereo sample) and c.wav (a clipboard
// image of a few mono frames). Made by the seed generator's code, so that seeds and target agree.
void writeFuzzFixtures(const std::string& dir);

} // namespace cleavix::fuzz
