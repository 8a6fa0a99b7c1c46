#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

// Primitives of the generic level (see simd/avx512.hpp for what each does):
// any CPU's baseline, one double per lane (kernels written with Vec<S> take
// two: SSE2 or NEON). Fused multiply-add comes from the C library, exact but
// slow: this level serves CPUs without AVX2 and those that are not x86, and
// the tests. Integers are unsigned so that they wrap as vector lanes do.
struct Generic {
    static constexpr int width = 1;
    static constexpr int registers = 16;  // of the SSE2 (or NEON) width GCC vectors take here
    using V = double;
    using I = std::uint64_t;
    using Mask = bool;

    // Memory. With one lane there is never a partial vector.
    static V load(const double* p) { return *p; }
    static void store(double* p, V v) { *p = v; }
    static V load_partial(const double*, std::size_t) { return 0; }
    static void store_partial(double*, V, std::size_t) {}

    // Arithmetic.
    static V set1(double x) { return x; }
    static V add(V a, V b) { return a + b; }
    static V sub(V a, V b) { return a - b; }
    static V mul(V a, V b) { return a * b; }
    static V div(V a, V b) { return a / b; }
    static V fma(V a, V b, V c) { return std::fma(a, b, c); }
    static V fms(V a, V b, V c) { return std::fma(a, b, -c); }
    static V fnma(V a, V b, V c) { return std::fma(-a, b, c); }
    static V min(V a, V b) { return a < b ? a : b; }
    // The exponent clamped first: the conversion of a NaN or huge e to int
    // would be undefined.
    static V scalef(V s, V e)
    {
        const double m = std::fmin(std::fmax(std::floor(e), -4096.0), 4096.0);
        return std::ldexp(s, static_cast<int>(m));
    }

    // Compares and masks.
    static Mask eq(V a, V b) { return a == b; }
    static Mask within(V x, double lo, double hi) { return lo <= x && x <= hi; }
    static Mask at_least(V x, double lo) { return lo <= x; }
    static Mask ne(V a, V b) { return a < b || a > b; }  // false on NaN
    static Mask and_(Mask a, Mask b) { return a && b; }
    static Mask or_(Mask a, Mask b) { return a || b; }
    static V select(Mask m, V a, V b) { return m ? a : b; }
    static unsigned mask_bits(Mask m) { return m ? 1u : 0u; }

    // 64-bit integers and bit patterns.
    static I as_bits(V v)
    {
        I i;
        std::memcpy(&i, &v, sizeof i);
        return i;
    }
    static V from_bits(I i)
    {
        V v;
        std::memcpy(&v, &i, sizeof v);
        return v;
    }
    static I iset1(std::int64_t x) { return static_cast<I>(x); }
    static I isub(I a, I b) { return a - b; }
    static I iand(I a, I b) { return a & b; }
    static I srl(I a, unsigned n) { return a >> n; }
    static I sra(I a, unsigned n) { return static_cast<I>(static_cast<std::int64_t>(a) >> n); }
    static V to_double(I a) { return static_cast<double>(static_cast<std::int64_t>(a)); }

    using Table16 = const double*;
    using Index = std::size_t;
    static Table16 table16(const double* t) { return t; }
    template <unsigned Shift>
    static Index index16(I bits) { return static_cast<Index>(bits >> Shift & 15); }
    static V lookup(Table16 t, Index j) { return t[j]; }
    // Two or three tables at one index (see simd/avx2.hpp): plain lookups here.
    struct Table16x2 {
        Table16 a, b;
    };
    struct Table16x3 {
        Table16 a, b, c;
    };
    static Table16x2 table16x2(const double* a, const double* b, const double (*)[2]) { return {a, b}; }
    static Table16x3 table16x3(const double* a, const double* b, const double* c, const double (*)[2])
    {
        return {a, b, c};
    }
    static void lookup2(const Table16x2& t, Index j, V& a, V& b)
    {
        a = t.a[j];
        b = t.b[j];
    }
    static void lookup3(const Table16x3& t, Index j, V& a, V& b, V& c)
    {
        a = t.a[j];
        b = t.b[j];
        c = t.c[j];
    }

    // Step sums and pair layout.
    // As in simd/avx512.hpp, for one lane: callers pass the lanes from their
    // first on (masks and indices shifted, pointers moved); a transpose has
    // no steps.
    template <unsigned Lanes>
    static V blend(V a, V b) { return Lanes & 1 ? b : a; }
    template <unsigned Lanes>
    static V broadcast_into(V v, const double* p) { return Lanes & 1 ? *p : v; }
    static V broadcast_pair(const double* p) { return *p; }
    static V broadcast_quad(const double* p) { return *p; }
    template <unsigned Pattern>
    static V permute_row(const double* row) { return row[Pattern & 15]; }
};
