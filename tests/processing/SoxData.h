#pragma once
// The 16-bit samples of a Wave file sox wrote: its data chunk's body, found by name.
#include "support/TestSupport.h"

#include <string>
#include <vector>

namespace cleavix::test {

inline std::vector<int16_t> soxData(const std::string& path) {
    const Bytes file = readFile(path);
    for (size_t i = 12; i + 8 <= file.size(); ++i) {
        if (file[i] == 'd' && file[i + 1] == 'a' && file[i + 2] == 't' && file[i + 3] == 'a') {
            const uint32_t n = getLe32(file, i + 4);
            return le16Samples(Bytes(file.begin() + long(i) + 8, file.begin() + long(i) + 8 + n));
        }
    }
    return {};
}

} // namespace cleavix::test
