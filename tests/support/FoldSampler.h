#pragma once
// Small helpers the sampler tests share: a file's text, lines of the settings file, and bytes
// expected at given offsets of a message (each mismatch names its offset).
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <span>
#include <sstream>
#include <string>
#include <utility>

namespace cleavix::test {

// The whole file as text; empty when it cannot be read.
inline std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Lines of the settings file's [SOFTWARE] group, each key under the program's own prefix.
inline std::string softwareLines(std::initializer_list<std::string> keys) {
    std::string out;
    for (const auto& key : keys) {
        out += "Brindlecote%20Software\\Cleavix%20%28Advanced%29\\" + key + "\n";
    }
    return out;
}

// Each {offset, value} pair holds in `bytes`.
inline void expectBytesAt(std::span<const uint8_t> bytes, std::initializer_list<std::pair<size_t, int>> expected) {
    for (const auto& [offset, value] : expected) {
        if (offset >= bytes.size()) {
            ADD_FAILURE() << "byte " << offset << " lies past the end (" << bytes.size() << " bytes)";
            continue;
        }
        EXPECT_EQ(int(bytes[offset]), value) << "byte " << offset;
    }
}

} // namespace cleavix::test
