#include "sample/Extended80.h"

#include <cmath>

namespace cleavix::sample {

uint32_t extended80ToRate(const uint8_t b[10]) {
    const bool negative = (b[0] & 0x80) != 0;
    const int exponent = ((b[0] & 0x7F) << 8) | b[1];
    uint64_t mantissa = 0;
    for (int i = 2; i < 10; ++i) {
        mantissa = (mantissa << 8) | b[i];
    }
    if (negative || mantissa == 0 || exponent == 0x7FFF) {
        return 0;
    }
    // value = mantissa * 2^(exponent - 16383 - 63)
    const int shift = exponent - 16383 - 63;
    if (shift >= 0) {
        return 0; // at least 2^63: far beyond any rate
    }
    if (shift < -64) {
        return 0; // below 0.5
    }
    const int right = -shift;
    uint64_t whole = right >= 64 ? 0 : mantissa >> right;
    // Round to nearest, ties to even, on the bits shifted out.
    const uint64_t half = 1ull << (right - 1);
    const uint64_t rest = right >= 64 ? mantissa : mantissa & ((1ull << right) - 1);
    if (rest > half || (rest == half && (whole & 1) != 0)) {
        ++whole;
    }
    if (whole > 0xFFFFFFFFull) {
        return 0;
    }
    return static_cast<uint32_t>(whole);
}

void rateToExtended80(uint32_t rate, uint8_t b[10]) {
    for (int i = 0; i < 10; ++i) {
        b[i] = 0;
    }
    if (rate == 0) {
        return;
    }
    uint64_t mantissa = rate;
    int exponent = 16383 + 63;
    while ((mantissa & (1ull << 63)) == 0) {
        mantissa <<= 1;
        --exponent;
    }
    b[0] = static_cast<uint8_t>(exponent >> 8);
    b[1] = static_cast<uint8_t>(exponent & 0xFF);
    for (int i = 0; i < 8; ++i) {
        b[2 + i] = static_cast<uint8_t>(mantissa >> (56 - 8 * i));
    }
}

} // namespace cleavix::sample
