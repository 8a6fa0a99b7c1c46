#include "exact/fixed_format.hpp"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// The C library spells non-finite values and huge integers itself; these are
// rare enough that its speed does not matter.
char* format_by_libc(char* out, double v)
{
    char buf[fixed6_max_chars + 8];
    const int len = std::snprintf(buf, sizeof buf, "%f", v);
    std::memcpy(out, buf, static_cast<std::size_t>(len));
    return out + len;
}

// Six decimal digits, leading zeros kept.
char* write_six_digits(char* out, std::uint32_t frac)
{
    for (int i = 5; i >= 0; --i) {
        out[i] = static_cast<char>('0' + frac % 10);
        frac /= 10;
    }
    return out + 6;
}

}  // namespace

char* format_fixed6(char* out, double v)
{
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    const bool negative = (bits >> 63) != 0;
    const int biased = static_cast<int>((bits >> 52) & 0x7ff);
    std::uint64_t mant = bits & ((std::uint64_t(1) << 52) - 1);

    // From 2^64 up the integer part leaves 64 bits; beyond that are inf and NaN.
    if (biased >= 1023 + 64)
        return format_by_libc(out, v);

    // |v| = mant * 2^exp2 exactly.
    int exp2;
    if (biased == 0) {
        exp2 = -1074;
    } else {
        mant |= std::uint64_t(1) << 52;
        exp2 = biased - 1075;
    }

    std::uint64_t int_part;
    std::uint32_t frac = 0;
    if (exp2 >= 0) {
        int_part = mant << exp2;  // below 2^64 by the bound above
    } else {
        const int shift = -exp2;
        std::uint64_t frac_bits;
        if (shift >= 64) {
            int_part = 0;
            frac_bits = mant;
        } else {
            int_part = mant >> shift;
            frac_bits = mant & ((std::uint64_t(1) << shift) - 1);
        }
        // frac_bits / 2^shift is the fraction; scaled by 10^6 it is below
        // 2^73, so from shift 75 on it stays below one half and rounds to 0.
        if (shift < 75) {
            const unsigned __int128 scaled = static_cast<unsigned __int128>(frac_bits) * 1000000u;
            const unsigned __int128 one = 1;
            std::uint64_t digits = static_cast<std::uint64_t>(scaled >> shift);
            const unsigned __int128 rest = scaled & ((one << shift) - 1);
            const unsigned __int128 half = one << (shift - 1);
            if (rest > half || (rest == half && (digits & 1) != 0))
                ++digits;
            if (digits == 1000000) {  // rounded up into the integer part
                digits = 0;
                ++int_part;
            }
            frac = static_cast<std::uint32_t>(digits);
        }
    }

    if (negative)
        *out++ = '-';
    out = std::to_chars(out, out + 20, int_part).ptr;
    *out++ = '.';
    return write_six_digits(out, frac);
}
