#include "common/format_tables.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace bm {
namespace {

void ApplyCyclic(std::span<std::uint8_t> data, std::uint64_t bid) {
    const auto key = static_cast<std::uint32_t>(bid);
    auto w = static_cast<std::uint16_t>((key ^ (key >> 16)) & 0xFFFF);
    for (auto& byte : data) {
        const auto lo = static_cast<std::uint8_t>(w & 0xFF);
        const auto hi = static_cast<std::uint8_t>(w >> 8);
        std::uint8_t b = byte;
        b = kCryptEncode[static_cast<std::uint8_t>(b + lo)];
        b = kCryptMiddle[static_cast<std::uint8_t>(b + hi)];
        b = kCryptDecode[static_cast<std::uint8_t>(b - hi)];
        b = static_cast<std::uint8_t>(b - lo);
        byte = b;
        w = static_cast<std::uint16_t>(w + 1);
    }
}

// Eight-bytes-per-step tables derived from the published one.
struct SlicedCrc {
    std::array<std::array<std::uint32_t, 256>, 8> t{};
    SlicedCrc() {
        t[0] = kCrcTable;
        for (std::size_t k = 1; k < 8; ++k)
            for (std::size_t n = 0; n < 256; ++n)
                t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xFF];
    }
};

std::uint32_t TableCrc(const std::uint8_t* p, std::size_t n, std::uint32_t crc) {
    static const SlicedCrc sliced;
    const auto& t = sliced.t;
    while (n >= 8) {
        const std::uint32_t a = crc ^ (static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                                       static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24);
        crc = t[7][a & 0xFF] ^ t[6][(a >> 8) & 0xFF] ^ t[5][(a >> 16) & 0xFF] ^ t[4][a >> 24] ^ t[3][p[4]] ^
              t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
        p += 8;
        n -= 8;
    }
    while (n--) crc = kCrcTable[(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    return crc;
}

#if defined(__x86_64__)
// Folding with carry-less multiplication: four 128-bit lanes folded 64
// bytes at a time, then into one lane, then a Barrett reduction to 32
// bits. The constants are x^k mod P for the reflected polynomial (k = 4*128
// +- 32, 128 +- 32, 64) and P with its Barrett quotient. n is at least 64
// and a multiple of 16; the CRC state goes in and out as the table version
// keeps it.
#define BM_FOLDING __attribute__((target("pclmul,sse4.1")))
BM_FOLDING inline __m128i Load(const std::uint8_t* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); }
// x times x^k mod P (both halves), added to the next 128 bits.
BM_FOLDING inline __m128i Fold(__m128i x, __m128i k, __m128i next) {
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), next);
}

BM_FOLDING std::uint32_t FoldedCrc(const std::uint8_t* p, std::size_t n,
                                                                  std::uint32_t crc) {
    const __m128i k1k2 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
    const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
    const __m128i k5 = _mm_set_epi64x(0, 0x0163cd6124);
    const __m128i poly = _mm_set_epi64x(0x01f7011641, 0x01db710641);

    __m128i x1 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i x2 = Load(p + 16);
    __m128i x3 = Load(p + 32);
    __m128i x4 = Load(p + 48);
    p += 64;
    n -= 64;
    while (n >= 64) {
        x1 = Fold(x1, k1k2, Load(p));
        x2 = Fold(x2, k1k2, Load(p + 16));
        x3 = Fold(x3, k1k2, Load(p + 32));
        x4 = Fold(x4, k1k2, Load(p + 48));
        p += 64;
        n -= 64;
    }
    x1 = Fold(x1, k3k4, x2);
    x1 = Fold(x1, k3k4, x3);
    x1 = Fold(x1, k3k4, x4);
    while (n >= 16) {
        x1 = Fold(x1, k3k4, Load(p));
        p += 16;
        n -= 16;
    }

    // 128 bits to 64.
    const __m128i mask32 = _mm_setr_epi32(~0, 0, ~0, 0);
    x2 = _mm_clmulepi64_si128(x1, k3k4, 0x10);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2);
    x2 = _mm_srli_si128(x1, 4);
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, mask32), k5, 0x00), x2);
    // Barrett reduction to 32 bits.
    x2 = _mm_and_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, mask32), poly, 0x10), mask32);
    x2 = _mm_clmulepi64_si128(x2, poly, 0x00);
    x1 = _mm_xor_si128(x1, x2);
    return static_cast<std::uint32_t>(_mm_extract_epi32(x1, 1));
}

#undef BM_FOLDING

bool HasFoldingInstructions() {
    static const bool has = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return has;
}
#endif

// A byte substitution through a 256-entry table.
void SubstituteBytes(std::span<std::uint8_t> data, const std::array<std::uint8_t, 256>& table) {
    for (auto& b : data) b = table[b];
}

#if defined(__x86_64__)
// The same, 64 bytes per step: two two-register permutes look the byte up
// in each half of the table, and the byte's top bit picks the half.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void SubstituteBytesWide(
    std::span<std::uint8_t> data, const std::array<std::uint8_t, 256>& table) {
    const __m512i t0 = _mm512_loadu_si512(table.data());
    const __m512i t1 = _mm512_loadu_si512(table.data() + 64);
    const __m512i t2 = _mm512_loadu_si512(table.data() + 128);
    const __m512i t3 = _mm512_loadu_si512(table.data() + 192);
    std::uint8_t* p = data.data();
    std::size_t n = data.size();
    while (n > 0) {
        const std::size_t step = n < 64 ? n : 64;
        const __mmask64 lanes = step == 64 ? ~__mmask64{0} : (__mmask64{1} << step) - 1;
        const __m512i x = _mm512_maskz_loadu_epi8(lanes, p);
        const __m512i low = _mm512_permutex2var_epi8(t0, x, t1);
        const __m512i high = _mm512_permutex2var_epi8(t2, x, t3);
        _mm512_mask_storeu_epi8(p, lanes, _mm512_mask_blend_epi8(_mm512_movepi8_mask(x), low, high));
        p += step;
        n -= step;
    }
}

bool HasWidePermutes() {
    static const bool has = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                            __builtin_cpu_supports("avx512vbmi");
    return has;
}
#endif

void Substitute(std::span<std::uint8_t> data, const std::array<std::uint8_t, 256>& table) {
#if defined(__x86_64__)
    if (data.size() >= 64 && HasWidePermutes()) {
        SubstituteBytesWide(data, table);
        return;
    }
#endif
    SubstituteBytes(data, table);
}

}  // namespace

void DecodeBytes(std::span<std::uint8_t> data, CryptMethod method, std::uint64_t bid) {
    switch (method) {
        case CryptMethod::None: return;
        case CryptMethod::Permute:
            Substitute(data, kCryptDecode);
            return;
        case CryptMethod::Cyclic: ApplyCyclic(data, bid); return;
    }
}

void EncodeBytes(std::span<std::uint8_t> data, CryptMethod method, std::uint64_t bid) {
    switch (method) {
        case CryptMethod::None: return;
        case CryptMethod::Permute:
            Substitute(data, kCryptEncode);
            return;
        case CryptMethod::Cyclic: ApplyCyclic(data, bid); return;
    }
}

std::uint32_t ComputeCrc(std::span<const std::uint8_t> data, std::uint32_t crc) {
    const std::uint8_t* p = data.data();
    std::size_t n = data.size();
#if defined(__x86_64__)
    if (n >= 64 && HasFoldingInstructions()) {
        const std::size_t folded = n & ~std::size_t{15};
        crc = FoldedCrc(p, folded, crc);
        p += folded;
        n -= folded;
    }
#endif
    return TableCrc(p, n, crc);
}

}  // namespace bm
