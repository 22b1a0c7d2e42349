// The detection kernels of an x86-64 build: AVX-512 where the processor has it, else AVX2 (with
// FMA, which both wide kernels' envelopes use), else SSE2 (which every x86-64 processor has); the plain
// kernels when a caller asks for them.
#include "slicing/search/KernelsX86.h"

namespace cleavix::slicing::search {

namespace {

bool hasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    return has;
}

bool hasAvx512() {
    static const bool has = hasAvx2() && __builtin_cpu_supports("avx512f");
    return has;
}

} // namespace

FollowFunction followFunction(DetectionPath path, int channels) {
    const bool stereo = channels == 2;
    if (path == DetectionPath::Best && hasAvx512()) {
        return stereo ? followAvx512<2> : followAvx512<1>;
    }
    if ((path == DetectionPath::Best || path == DetectionPath::Avx2) && hasAvx2()) {
        return stereo ? followAvx2<2> : followAvx2<1>;
    }
    if (path != DetectionPath::Scalar) {
        return stereo ? followSse2<2> : followSse2<1>;
    }
    return stereo ? followScalar<2> : followScalar<1>;
}

void minMax(const uint8_t* p, size_t frames, size_t channels, int& largest, int& smallest) {
    if (hasAvx2()) {
        minMaxAvx2(p, frames, channels, largest, smallest);
        return;
    }
    minMaxSse2(p, frames, channels, largest, smallest);
}

} // namespace cleavix::slicing::search
