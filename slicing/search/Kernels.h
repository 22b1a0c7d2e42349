#pragma once
// Detection follows eight blocks at once, one block (of one channel) per vector lane: eight
// blocks of a mono sample, or four blocks of both channels of a stereo one. Every block starts its
// envelopes at 0, so blocks are independent; each lane does exactly the arithmetic of its block
// on its own, in the same order, so following blocks side by side changes no result. Four
// kernels do this: AVX-512 (all eight lanes in one register), AVX2 (four lanes to a register),
// SSE2 (two lanes, any x86-64 processor) and plain code, one block after the other (other
// processors).
//
// The kernels' interface: `blocks` points at the kLanes blocks (mono) or at the first frame of the
// kLanes / 2 blocks (stereo); lane l of a stereo call is block l % 4 of channel l / 4. `before`
// holds the sample before each lane's block; ranges and peakRanges receive each lane's results.
//
// Which kernels a build holds is chosen in slicing/CMakeLists.txt by processor: every build has
// the portable ones; an x86-64 build adds SSE2, AVX2 and AVX-512 and picks among them at run time.
#include "slicing/SliceSearch.h"

#include <cstddef>
#include <cstdint>

namespace cleavix::slicing::search {

constexpr int kLanes = 8;
using FollowFunction = void (*)(const int16_t* const*, const int*, double*, int*);

// The blocks one call follows.
constexpr int blocksPerCall(int channels) { return kLanes / channels; }

// The vector kernels take the rounding and the 16-bit wrap of the pre-emphasis from the bits of
// r = (x - 0.63 * previous) + 1.5 * 2^52: r - 1.5 * 2^52 is the value rounded to a whole number k
// (ties to even), and the low 16 bits of r's pattern are k's low 16 bits, so setting them into
// 2^52 + 32768 (with the sign bit of the 16 flipped) gives int16(k) + 2^52 + 32768 exactly.
constexpr double kRoundingMagic = 6755399441055744.0; // 1.5 * 2^52
constexpr int64_t kLow16 = 0xFFFF;
constexpr int64_t kWrapBits = 0x4330000000008000; // 2^52 + 32768
constexpr double kWrapBias = 4503599627403264.0;  // 2^52 + 32768
// The wide kernels update an envelope with one fused multiply-add, which rounds as the plain code
// does only while envelope * nprec is exact.
static_assert(nprec == 0.5, "the fused envelope update needs an exact envelope * nprec");

// The kernel of a detection path for 1 or 2 channels: what the processor has of the path's
// instructions (KernelChoiceX86.cpp or KernelChoicePortable.cpp, as the build's processor says).
FollowFunction followFunction(DetectionPath path, int channels);

// The largest and smallest sample of one channel over `frames` frames at p (any alignment), with
// the widest instructions the processor has.
void minMax(const uint8_t* p, size_t frames, size_t channels, int& largest, int& smallest);

// The portable kernels, in every build: plain code, one block after the other.
template <int kChannels>
void followScalar(const int16_t* const* blocks, const int* before, double* ranges, int* peakRanges);
void minMaxPortable(const uint8_t* p, size_t frames, size_t channels, int& largest, int& smallest);

} // namespace cleavix::slicing::search
