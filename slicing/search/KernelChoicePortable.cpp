// The detection kernels of a build for any other processor: the plain ones, for every path.
#include "slicing/search/Kernels.h"

namespace cleavix::slicing::search {

FollowFunction followFunction(DetectionPath, int channels) {
    return channels == 2 ? followScalar<2> : followScalar<1>;
}

void minMax(const uint8_t* p, size_t frames, size_t channels, int& largest, int& smallest) {
    minMaxPortable(p, frames, channels, largest, smallest);
}

} // namespace cleavix::slicing::search
