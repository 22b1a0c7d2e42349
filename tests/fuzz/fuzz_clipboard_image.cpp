// The clipboard's wave image, as another program may have put it there.
#include "FuzzTarget.h"
#include "editing/ClipboardImage.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> image(data, data + size);
    const cleavix::editing::ImageInfo info = cleavix::editing::readImage(image);
    if (info.status == cleavix::editing::ImageInfo::Ok && (info.dataOffset > image.size() ||
                                                         info.dataSize > image.size() - info.dataOffset)) {
        __builtin_trap(); // the image's audio must lie inside the image
    }
    return 0;
}
