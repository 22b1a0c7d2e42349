#pragma once
// The x86-64 detection kernels and extremes (KernelsSse2.cpp, KernelsAvx2.cpp, KernelsAvx512.cpp), chosen by
// KernelChoiceX86.cpp.
#include "slicing/search/Kernels.h"

namespace cleavix::slicing::search {

// Two lanes to a register: any x86-64 processor.
template <int kChannels>
void followSse2(const int16_t* const* blocks, const int* before, double* ranges, int* peakRanges);
// Four lanes to a register: only where the processor has AVX2 and FMA.
template <int kChannels>
void followAvx2(const int16_t* const* blocks, const int* before, double* ranges, int* peakRanges);
// All eight lanes in one register: only where the processor has AVX-512F (and AVX2 and FMA).
template <int kChannels>
void followAvx512(const int16_t* const* blocks, const int* before, double* ranges, int* peakRanges);
void minMaxAvx2(const uint8_t* p, size_t frames, size_t channels, int& largest, int& smallest);
void minMaxSse2(const uint8_t* p, size_t frames, size_t channels, int& largest, int& smallest);

} // namespace cleavix::slicing::search
