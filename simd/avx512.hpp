#pragma once

// Primitives of the avx512 level: the thin per-level layer every kernel
// algorithm is written over. Include only inside MORV_TARGET_AVX512, after
// <immintrin.h> and the standard headers, as <layer>/kernels_avx512.cpp
// files do.
//
// Every level offers the same names: V holds doubles, I 64-bit integers and
// Mask one flag per lane; mask_bits puts lane i in bit i. Arithmetic rounds
// once per operation (fma included); compares are ordered (false on NaN).
struct Avx512 {
    static constexpr int width = 8;
    static constexpr int registers = 32;  // vector registers: blocking sizes follow
    using V = __m512d;
    using I = __m512i;
    using Mask = __mmask8;

    // Memory. The partial forms touch lanes [0, k) only, k < width; the
    // load zeroes the others.
    static V load(const double* p) { return _mm512_loadu_pd(p); }
    static void store(double* p, V v) { _mm512_storeu_pd(p, v); }
    static V load_partial(const double* p, std::size_t k)
    {
        return _mm512_maskz_loadu_pd(first(k), p);
    }
    static void store_partial(double* p, V v, std::size_t k)
    {
        _mm512_mask_storeu_pd(p, first(k), v);
    }

    // Arithmetic. maskz forms here and below: GCC 12 warns on the plain ones.
    static V set1(double x) { return _mm512_set1_pd(x); }
    static V add(V a, V b) { return _mm512_add_pd(a, b); }
    static V sub(V a, V b) { return _mm512_sub_pd(a, b); }
    static V mul(V a, V b) { return _mm512_mul_pd(a, b); }
    static V div(V a, V b) { return _mm512_div_pd(a, b); }
    static V fma(V a, V b, V c) { return _mm512_fmadd_pd(a, b, c); }   // a b + c
    static V fms(V a, V b, V c) { return _mm512_fmsub_pd(a, b, c); }   // a b - c
    static V fnma(V a, V b, V c) { return _mm512_fnmadd_pd(a, b, c); } // c - a b
    static V min(V a, V b) { return _mm512_maskz_min_pd(0xFF, a, b); } // a < b ? a : b
    // s 2^floor(e), for results that are normal doubles.
    static V scalef(V s, V e) { return _mm512_maskz_scalef_pd(0xFF, s, e); }

    // Compares and masks.
    static Mask eq(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_EQ_OQ); }
    static Mask within(V x, double lo, double hi)  // lo <= x <= hi
    {
        return _mm512_mask_cmp_pd_mask(_mm512_cmp_pd_mask(x, set1(lo), _CMP_GE_OQ), x, set1(hi),
                                       _CMP_LE_OQ);
    }
    static Mask at_least(V x, double lo) { return _mm512_cmp_pd_mask(x, set1(lo), _CMP_GE_OQ); }
    static Mask ne(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_NEQ_OQ); }  // false on NaN
    static Mask and_(Mask a, Mask b) { return a & b; }
    static Mask or_(Mask a, Mask b) { return a | b; }
    static V select(Mask m, V a, V b) { return _mm512_mask_blend_pd(m, b, a); }  // m ? a : b
    static unsigned mask_bits(Mask m) { return m; }

    // 64-bit integer lanes and bit patterns.
    static I as_bits(V v) { return _mm512_castpd_si512(v); }
    static V from_bits(I i) { return _mm512_castsi512_pd(i); }
    static I iset1(std::int64_t x) { return _mm512_set1_epi64(x); }
    static I isub(I a, I b) { return _mm512_sub_epi64(a, b); }
    static I iand(I a, I b) { return _mm512_and_si512(a, b); }
    static I srl(I a, unsigned n) { return _mm512_maskz_srli_epi64(0xFF, a, n); }
    static I sra(I a, unsigned n) { return _mm512_maskz_srai_epi64(0xFF, a, n); }
    static V to_double(I a) { return _mm512_cvtepi64_pd(a); }  // |a| < 2^51

    // A table of 16 doubles held in two registers: a lookup is one permute,
    // which reads only the low four bits of each index.
    struct Table16 {
        V lo, hi;
    };
    using Index = I;
    static Table16 table16(const double* t) { return {load(t), load(t + 8)}; }
    // Entry (bits >> Shift) mod 16.
    template <unsigned Shift>
    static Index index16(I bits) { return Shift ? srl(bits, Shift) : bits; }
    static V lookup(const Table16& t, Index j) { return _mm512_permutex2var_pd(t.lo, j, t.hi); }
    // Two or three tables at one index: a, b (and c) are the tables, and
    // rows the last two's entries row by row, {a[j], b[j]} or {b[j], c[j]},
    // for levels whose lookups are loads. Here, a permute each.
    struct Table16x2 {
        Table16 a, b;
    };
    struct Table16x3 {
        Table16 a, b, c;
    };
    static Table16x2 table16x2(const double* a, const double* b, const double (*)[2])
    {
        return {table16(a), table16(b)};
    }
    static Table16x3 table16x3(const double* a, const double* b, const double* c, const double (*)[2])
    {
        return {table16(a), table16(b), table16(c)};
    }
    static void lookup2(const Table16x2& t, Index j, V& a, V& b)
    {
        a = lookup(t.a, j);
        b = lookup(t.b, j);
    }
    static void lookup3(const Table16x3& t, Index j, V& a, V& b, V& c)
    {
        a = lookup(t.a, j);
        b = lookup(t.b, j);
        c = lookup(t.c, j);
    }

    // Step sums and pair layout.
    // Lanes whose bit is set in Lanes take b's value; the others keep a's.
    template <unsigned Lanes>
    static V blend(V a, V b) { return _mm512_mask_blend_pd(Lanes & 255, a, b); }
    // Lanes whose bit is set in Lanes take *p; the others keep v's value.
    template <unsigned Lanes>
    static V broadcast_into(V v, const double* p)
    {
        return _mm512_mask_broadcastsd_pd(v, Lanes & 255, _mm_load_sd(p));
    }
    // p[0], p[1] (p[0..3]) repeated across the lanes. (maskz forms here and
    // below: GCC 12 warns on the plain ones' undefined source.)
    static V broadcast_pair(const double* p) { return _mm512_maskz_broadcast_f64x2(0xFF, _mm_loadu_pd(p)); }
    static V broadcast_quad(const double* p) { return _mm512_maskz_broadcast_f64x4(0xFF, _mm256_loadu_pd(p)); }
    // Lane j takes row[(Pattern >> 4j) & 15], of row[0..7].
    template <unsigned Pattern>
    static V permute_row(const double* row)
    {
        const __m512i index = _mm512_set_epi64(Pattern >> 28 & 15, Pattern >> 24 & 15, Pattern >> 20 & 15,
                                               Pattern >> 16 & 15, Pattern >> 12 & 15, Pattern >> 8 & 15,
                                               Pattern >> 4 & 15, Pattern & 15);
        return _mm512_maskz_permutexvar_pd(0xFF, index, _mm512_loadu_pd(row));
    }
    // The steps of a transpose: exchangeB leaves in a the low B lanes of each
    // 2B lanes of a, then those of b; in b the high ones.
    static void exchange1(V& a, V& b)
    {
        const V low = _mm512_maskz_unpacklo_pd(0xFF, a, b);
        b = _mm512_maskz_unpackhi_pd(0xFF, a, b);
        a = low;
    }
    static void exchange2(V& a, V& b)
    {
        const V low = _mm512_permutex2var_pd(a, _mm512_set_epi64(13, 12, 5, 4, 9, 8, 1, 0), b);
        b = _mm512_permutex2var_pd(a, _mm512_set_epi64(15, 14, 7, 6, 11, 10, 3, 2), b);
        a = low;
    }
    static void exchange4(V& a, V& b)
    {
        const V low = _mm512_maskz_shuffle_f64x2(0xFF, a, b, 0x44);
        b = _mm512_maskz_shuffle_f64x2(0xFF, a, b, 0xEE);
        a = low;
    }

private:
    static __mmask8 first(std::size_t k) { return static_cast<__mmask8>((1u << k) - 1); }
};
