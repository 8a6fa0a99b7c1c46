#pragma once

// Primitives of the avx2 level (see simd/avx512.hpp for what each does).
// Include only inside MORV_TARGET_AVX2, after <immintrin.h> and the standard
// headers. AVX2 lacks 64-bit arithmetic shifts and conversions, scalef and
// mask registers: they are built from a few instructions each.
struct Avx2 {
    static constexpr int width = 4;
    static constexpr int registers = 16;
    using V = __m256d;
    using I = __m256i;
    using Mask = __m256d;  // all-ones or all-zeros lanes

    // Memory.
    static V load(const double* p) { return _mm256_loadu_pd(p); }
    static void store(double* p, V v) { _mm256_storeu_pd(p, v); }
    static V load_partial(const double* p, std::size_t k)
    {
        return _mm256_maskload_pd(p, first(k));
    }
    static void store_partial(double* p, V v, std::size_t k)
    {
        _mm256_maskstore_pd(p, first(k), v);
    }

    // Arithmetic.
    static V set1(double x) { return _mm256_set1_pd(x); }
    static V add(V a, V b) { return _mm256_add_pd(a, b); }
    static V sub(V a, V b) { return _mm256_sub_pd(a, b); }
    static V mul(V a, V b) { return _mm256_mul_pd(a, b); }
    static V div(V a, V b) { return _mm256_div_pd(a, b); }
    static V fma(V a, V b, V c) { return _mm256_fmadd_pd(a, b, c); }
    static V fms(V a, V b, V c) { return _mm256_fmsub_pd(a, b, c); }
    static V fnma(V a, V b, V c) { return _mm256_fnmadd_pd(a, b, c); }
    static V min(V a, V b) { return _mm256_min_pd(a, b); }
    // floor(e) added to the exponent field: 2^52 + 2^51 puts it in the low bits.
    static V scalef(V s, V e)
    {
        const I m = as_bits(add(_mm256_floor_pd(e), set1(0x1.8p52)));
        return from_bits(_mm256_add_epi64(as_bits(s), _mm256_slli_epi64(m, 52)));
    }

    // Compares and masks.
    static Mask eq(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_EQ_OQ); }
    static Mask within(V x, double lo, double hi)
    {
        return _mm256_and_pd(_mm256_cmp_pd(x, set1(lo), _CMP_GE_OQ),
                             _mm256_cmp_pd(x, set1(hi), _CMP_LE_OQ));
    }
    static Mask at_least(V x, double lo) { return _mm256_cmp_pd(x, set1(lo), _CMP_GE_OQ); }
    static Mask ne(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_NEQ_OQ); }  // false on NaN
    static Mask and_(Mask a, Mask b) { return _mm256_and_pd(a, b); }
    static Mask or_(Mask a, Mask b) { return _mm256_or_pd(a, b); }
    static V select(Mask m, V a, V b) { return _mm256_blendv_pd(b, a, m); }
    static unsigned mask_bits(Mask m) { return static_cast<unsigned>(_mm256_movemask_pd(m)); }

    // 64-bit integer lanes and bit patterns.
    static I as_bits(V v) { return _mm256_castpd_si256(v); }
    static V from_bits(I i) { return _mm256_castsi256_pd(i); }
    static I iset1(std::int64_t x) { return _mm256_set1_epi64x(x); }
    static I isub(I a, I b) { return _mm256_sub_epi64(a, b); }
    static I iand(I a, I b) { return _mm256_and_si256(a, b); }
    static I srl(I a, unsigned n) { return _mm256_srli_epi64(a, static_cast<int>(n)); }
    static I sra(I a, unsigned n)  // logical shift, then the sign bit extended
    {
        const I sign = iset1(std::int64_t{1} << (63 - n));
        return isub(_mm256_xor_si256(srl(a, n), sign), sign);
    }
    static V to_double(I a)  // |a| < 2^51: a added to 2^52 + 2^51 in the low bits
    {
        return sub(from_bits(_mm256_add_epi64(a, as_bits(set1(0x1.8p52)))), set1(0x1.8p52));
    }

    // Tables by scalar loads: gathers are slow on CPUs with the
    // gather-sampling mitigation, and 16 entries span four registers. The
    // index holds byte offsets j * 8, so that rows of 16 bytes are still
    // addressed by scale 2.
    using Table16 = const double*;
    struct Index {
        I offsets;
    };
    static Table16 table16(const double* t) { return t; }
    template <unsigned Shift>
    static Index index16(I bits)
    {
        if constexpr (Shift >= 3)
            return {iand(srl(bits, Shift - 3), iset1(15 * 8))};
        else
            return {iand(_mm256_slli_epi64(bits, 3 - Shift), iset1(15 * 8))};
    }
    static V lookup(Table16 t, const Index& j) { return lookup(t, extracted(j)); }
    // Several tables at one index (see simd/avx512.hpp), the last two read
    // from their rows: one load per lane instead of one per table, then a
    // transpose in registers.
    struct Table16x2 {
        const double (*rows)[2];
    };
    struct Table16x3 {
        Table16 a;
        const double (*rows)[2];
    };
    static Table16x2 table16x2(const double*, const double*, const double (*rows)[2]) { return {rows}; }
    static Table16x3 table16x3(const double* a, const double*, const double*, const double (*rows)[2])
    {
        return {a, rows};
    }
    // The offsets through memory, fewer instructions: exp's lookups are off
    // its longest path.
    static void lookup2(const Table16x2& t, const Index& j, V& a, V& b) { lookup2(t, stored(j), a, b); }
    // The offsets by extraction, the shorter path: log waits on a.
    static void lookup3(const Table16x3& t, const Index& j, V& a, V& b, V& c)
    {
        const Offsets at = extracted(j);
        a = lookup(t.a, at);
        lookup2({t.rows}, at, b, c);
    }

    // Step sums and pair layout.
    // As in simd/avx512.hpp.
    template <unsigned Lanes>
    static V blend(V a, V b) { return _mm256_blend_pd(a, b, Lanes & 15); }
    template <unsigned Lanes>
    static V broadcast_into(V v, const double* p)
    {
        return _mm256_blend_pd(v, _mm256_broadcast_sd(p), Lanes & 15);
    }
    static V broadcast_pair(const double* p)
    {
        return _mm256_broadcast_pd(reinterpret_cast<const __m128d*>(p));
    }
    static V broadcast_quad(const double* p) { return _mm256_loadu_pd(p); }
    // Each lane's index picks within a half of the row; its bit 2, the half.
    template <unsigned Pattern>
    static V permute_row(const double* row)
    {
        constexpr int within = (Pattern & 3) | (Pattern >> 2 & 12) | (Pattern >> 4 & 48) | (Pattern >> 6 & 192);
        constexpr int upper = (Pattern >> 2 & 1) | (Pattern >> 5 & 2) | (Pattern >> 8 & 4) | (Pattern >> 11 & 8);
        return _mm256_blend_pd(_mm256_permute4x64_pd(_mm256_loadu_pd(row), within),
                               _mm256_permute4x64_pd(_mm256_loadu_pd(row + 4), within), upper);
    }
    static void exchange1(V& a, V& b)
    {
        const V low = _mm256_unpacklo_pd(a, b);
        b = _mm256_unpackhi_pd(a, b);
        a = low;
    }
    static void exchange2(V& a, V& b)
    {
        const V low = _mm256_permute2f128_pd(a, b, 0x20);
        b = _mm256_permute2f128_pd(a, b, 0x31);
        a = low;
    }

private:
    struct Offsets {
        std::int64_t at[4];
    };
    static Offsets extracted(const Index& j)
    {
        const __m128i high = _mm256_extracti128_si256(j.offsets, 1);
        const __m128i low = _mm256_castsi256_si128(j.offsets);
        return {{_mm_cvtsi128_si64(low), _mm_extract_epi64(low, 1), _mm_cvtsi128_si64(high),
                 _mm_extract_epi64(high, 1)}};
    }
    static Offsets stored(const Index& j)
    {
        alignas(32) Offsets o;
        _mm256_store_si256(reinterpret_cast<__m256i*>(o.at), j.offsets);
        asm("" : "+m"(o));  // else GCC takes them out as extracted() does
        return o;
    }
    // The double at byte offset `offset` * `scale` from t.
    static const double* entry(const double* t, std::int64_t offset, int scale)
    {
        return reinterpret_cast<const double*>(reinterpret_cast<const char*>(t) + offset * scale);
    }
    static V lookup(Table16 t, const Offsets& j)
    {
        return _mm256_set_pd(*entry(t, j.at[3], 1), *entry(t, j.at[2], 1), *entry(t, j.at[1], 1),
                             *entry(t, j.at[0], 1));
    }
    // The rows of 16 bytes at offsets i (low half) and k (high half).
    static V pair(const double* t, std::int64_t i, std::int64_t k)
    {
        return _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_load_pd(entry(t, i, 2))),
                                    _mm_load_pd(entry(t, k, 2)), 1);
    }
    static void lookup2(const Table16x2& t, const Offsets& j, V& a, V& b)
    {
        const V r02 = pair(t.rows[0], j.at[0], j.at[2]);  // a0 b0 a2 b2
        const V r13 = pair(t.rows[0], j.at[1], j.at[3]);  // a1 b1 a3 b3
        a = _mm256_unpacklo_pd(r02, r13);
        b = _mm256_unpackhi_pd(r02, r13);
    }
    static I first(std::size_t k)
    {
        return _mm256_cmpgt_epi64(iset1(static_cast<std::int64_t>(k)),
                                  _mm256_set_epi64x(3, 2, 1, 0));
    }
};
