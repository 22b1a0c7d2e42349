#pragma once
// The 80-bit IEEE extended numbers AIFF uses for its sample rate, stored big-endian.
#include <cstdint>

namespace cleavix::sample {

// The value rounded to the nearest integer (ties to even); 0 for zero, negative, NaN or
// values beyond 32 bits (callers refuse a rate of 0).
uint32_t extended80ToRate(const uint8_t bytes[10]);
void rateToExtended80(uint32_t rate, uint8_t bytes[10]);

} // namespace cleavix::sample
