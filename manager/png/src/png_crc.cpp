#include "png/png_crc.h"

#include <zlib.h>

#include <climits>

#if defined(__x86_64__) && defined(__GNUC__)
#include <emmintrin.h>
#include <wmmintrin.h>
#define KELM_PNG_CRC_FOLDING 1
#endif

namespace kelm::png {

namespace {

#if defined(KELM_PNG_CRC_FOLDING)
// The CRC of long runs (the image data is nearly all of a file) by carry-less
// multiplication where the processor has it: four 16-byte lanes are folded
// forward 64 bytes at a time, then into one lane, then reduced to 32 bits
// (Barrett). The constants are powers of x modulo the polynomial, in the
// reflected bit order: x^(4*128+32) and x^(4*128-32) for the 64-byte fold,
// x^(128+32) and x^(128-32) for the 16-byte fold, x^64 for the last 64 to 32
// bits, and the polynomial with its Barrett quotient.
constexpr uint64_t kFold4Low = 0x154442BD4ull, kFold4High = 0x1C6E41596ull;
constexpr uint64_t kFold1Low = 0x1751997D0ull, kFold1High = 0x0CCAA009Eull;
constexpr uint64_t kFold64 = 0x163CD6124ull;
constexpr uint64_t kPolynomial = 0x1DB710641ull, kBarrett = 0x1F7011641ull;

__attribute__((target("pclmul"))) inline __m128i Fold(__m128i x, __m128i k, __m128i next) {
  __m128i low = _mm_clmulepi64_si128(x, k, 0x00), high = _mm_clmulepi64_si128(x, k, 0x11);
  return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

inline __m128i Load(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// The running CRC over size bytes, size a multiple of 16 and at least 64.
__attribute__((target("pclmul"))) uint32_t FoldCrc(uint32_t crc, const uint8_t* p, size_t size) {
  __m128i x0 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(int(crc)));
  __m128i x1 = Load(p + 16), x2 = Load(p + 32), x3 = Load(p + 48);
  p += 64;
  size -= 64;
  const __m128i k4 = _mm_set_epi64x(kFold4High, kFold4Low);
  for (; size >= 64; size -= 64, p += 64) {
    x0 = Fold(x0, k4, Load(p));
    x1 = Fold(x1, k4, Load(p + 16));
    x2 = Fold(x2, k4, Load(p + 32));
    x3 = Fold(x3, k4, Load(p + 48));
  }
  const __m128i k1 = _mm_set_epi64x(kFold1High, kFold1Low);
  __m128i x = Fold(x0, k1, x1);
  x = Fold(x, k1, x2);
  x = Fold(x, k1, x3);
  for (; size >= 16; size -= 16, p += 16) x = Fold(x, k1, Load(p));
  // 128 bits to 64, 64 to 32, then the remainder.
  x = _mm_xor_si128(_mm_clmulepi64_si128(x, k1, 0x10), _mm_srli_si128(x, 8));
  const __m128i mask = _mm_setr_epi32(-1, 0, 0, 0);
  x = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x, mask), _mm_set_epi64x(0, kFold64), 0x00),
                    _mm_srli_si128(x, 4));
  const __m128i barrett = _mm_set_epi64x(kBarrett, kPolynomial);
  __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x, mask), barrett, 0x10);
  t = _mm_clmulepi64_si128(_mm_and_si128(t, mask), barrett, 0x00);
  return uint32_t(_mm_cvtsi128_si32(_mm_srli_si128(_mm_xor_si128(x, t), 4)));
}

bool HasCarrylessMultiply() {
  static const bool has = __builtin_cpu_supports("pclmul");
  return has;
}
#endif

// zlib's crc32 keeps the register complemented between calls; the running
// form here is converted on the way in and out.
uint32_t ZlibCrc(uint32_t crc, const uint8_t* p, size_t size) {
  uLong z = ~crc & 0xFFFFFFFFu;
  while (size != 0) {
    // zlib takes a uInt length.
    uInt piece = size > UINT_MAX ? UINT_MAX : uInt(size);
    z = crc32(z, p, piece);
    p += piece;
    size -= piece;
  }
  return ~uint32_t(z);
}

}  // namespace

uint32_t PngCrcUpdate(uint32_t crc, const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
#if defined(KELM_PNG_CRC_FOLDING)
  if (size >= 64 && HasCarrylessMultiply()) {
    size_t bulk = size & ~size_t(15);
    crc = FoldCrc(crc, p, bulk);
    p += bulk;
    size -= bulk;
  }
#endif
  // zlib's crc32 (already linked for inflating) for the rest, several bytes
  // at a time.
  return ZlibCrc(crc, p, size);
}

uint32_t PngChunkCrc(const uint8_t type[4], const uint8_t* data, size_t size) {
  return PngCrcFinish(PngCrcUpdate(PngCrcUpdate(kCrcInit, type, 4), data, size));
}

}  // namespace kelm::png
