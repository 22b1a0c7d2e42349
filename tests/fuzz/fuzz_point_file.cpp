// The point file reader, against a sample of a length taken from the input's first bytes.
#include "FuzzTarget.h"
#include "slicing/PointFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace cleavix::slicing;
    uint32_t length = 0;
    for (size_t i = 0; i < 4 && i < size; ++i) {
        length |= uint32_t(data[i]) << (8 * i);
    }
    const size_t skip = size < 4 ? size : 4;
    cleavix::fuzz::InputFile file(data + skip, size - skip, ".clx");
    CandidateList list;
    loadPointFile(list, file.path(), length);
    return 0;
}
