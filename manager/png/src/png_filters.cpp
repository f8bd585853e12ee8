#include "png/png_filters.h"

#include <cstdlib>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kelm::png {

namespace {

// The predictor in integer arithmetic without branches on the data, so that
// the decoding and encoding loops stay free of mispredicted jumps.
inline int Paeth(int a, int b, int c) {
  int pa = std::abs(b - c);          // |p - a| with p = a + b - c
  int pb = std::abs(a - c);          // |p - b|
  int pc = std::abs(a + b - 2 * c);  // |p - c|
  int nearest = pb < pa ? b : a;
  int nearestDistance = pb < pa ? pb : pa;
  return pc < nearestDistance ? c : nearest;
}

// Unfiltering for a fixed pixel size. The left pixel is carried in
// registers from one pixel to the next: read back from the row, each byte
// would wait for the store just made (the row and the previous row may
// alias as far as the compiler knows), and that wait is most of the cost.
template <size_t N>
void UnpaethFixed(uint8_t* row, const uint8_t* prev, size_t rowBytes) {
  int a[N], c[N];
  for (size_t k = 0; k < N; ++k) {
    a[k] = row[k] = uint8_t(row[k] + prev[k]);
    c[k] = prev[k];
  }
  for (size_t i = N; i < rowBytes; i += N)
    for (size_t k = 0; k < N; ++k) {
      int b = prev[i + k];
      a[k] = row[i + k] = uint8_t(row[i + k] + Paeth(a[k], b, c[k]));
      c[k] = b;
    }
}

template <size_t N>
void UnaverageFixed(uint8_t* row, const uint8_t* prev, size_t rowBytes) {
  unsigned a[N];
  for (size_t k = 0; k < N; ++k) a[k] = row[k] = uint8_t(row[k] + (prev[k] >> 1));
  for (size_t i = N; i < rowBytes; i += N)
    for (size_t k = 0; k < N; ++k)
      a[k] = row[i + k] = uint8_t(row[i + k] + ((a[k] + prev[i + k]) >> 1));
}

template <size_t N>
void UnsubFixed(uint8_t* row, size_t rowBytes) {
  unsigned a[N];
  for (size_t k = 0; k < N; ++k) a[k] = row[k];
  for (size_t i = N; i < rowBytes; i += N)
    for (size_t k = 0; k < N; ++k) a[k] = row[i + k] = uint8_t(row[i + k] + a[k]);
}

#if defined(__SSE2__)
// Rows of 3, 4, 6 and 8-byte pixels unfiltered a block of whole pixels at a
// time: the block's filtered bytes and the previous row's are loaded once,
// each pixel is taken from them by a shift, computed from the left pixel
// held in a register, and gathered into one store of the block. The chain
// from one pixel to the next is all the work that has to wait; loading and
// storing per pixel would stall on the store just made. A block is the
// whole pixels that fit in 16 bytes; a store writes back the block's spare
// bytes unchanged (they were loaded before the store). The bytes after the
// last whole block go through the byte loops.
template <size_t N>
constexpr size_t kBlockBytes = 16 / N* N;

// Puts the block's pixel results, gathered at the top of out, at its start
// and keeps the filtered bytes after the block.
template <size_t N>
inline __m128i FinishBlock(__m128i out, __m128i x) {
  constexpr int kSpare = int(16 - kBlockBytes<N>);
  if constexpr (kSpare == 0) {
    return out;
  } else {
    return _mm_or_si128(_mm_srli_si128(out, kSpare),
                        _mm_slli_si128(_mm_srli_si128(x, 16 - kSpare), 16 - kSpare));
  }
}

// Appends the pixel in the low N bytes of v to the results at the top of out.
template <size_t N>
inline __m128i Gather(__m128i out, __m128i v) {
  return _mm_or_si128(_mm_srli_si128(out, int(N)), _mm_slli_si128(v, int(16 - N)));
}

template <size_t N, size_t... K>
inline __m128i SubBlock(__m128i& a, __m128i x, std::index_sequence<K...>) {
  __m128i out = _mm_setzero_si128();
  ((a = _mm_add_epi8(a, _mm_srli_si128(x, int(K * N))), out = Gather<N>(out, a)), ...);
  return out;
}

// Average on complemented values: with na = ~a and nb = ~b, the rounding-up
// byte average gives ~floor((a + b) / 2), so ~(x + floor((a + b) / 2)) is
// avg(na, nb) - x, two steps from one pixel to the next.
template <size_t N, size_t... K>
inline __m128i AverageBlock(__m128i& na, __m128i x, __m128i nb, std::index_sequence<K...>) {
  __m128i out = _mm_setzero_si128();
  ((na = _mm_sub_epi8(_mm_avg_epu8(na, _mm_srli_si128(nb, int(K * N))),
                      _mm_srli_si128(x, int(K * N))),
    out = Gather<N>(out, na)),
   ...);
  return out;
}

// The predictor on 16-bit lanes, as Paeth() above.
inline __m128i PaethLanes(__m128i a, __m128i b, __m128i c) {
  const __m128i zero = _mm_setzero_si128();
  __m128i bc = _mm_sub_epi16(b, c), ac = _mm_sub_epi16(a, c);
  __m128i sum = _mm_add_epi16(bc, ac);
  __m128i pa = _mm_max_epi16(bc, _mm_sub_epi16(zero, bc));
  __m128i pb = _mm_max_epi16(ac, _mm_sub_epi16(zero, ac));
  __m128i pc = _mm_max_epi16(sum, _mm_sub_epi16(zero, sum));
  __m128i takeB = _mm_cmpgt_epi16(pa, pb);
  __m128i nearest = _mm_or_si128(_mm_and_si128(takeB, b), _mm_andnot_si128(takeB, a));
  __m128i distance = _mm_min_epi16(pa, pb);
  __m128i takeC = _mm_cmpgt_epi16(distance, pc);
  return _mm_or_si128(_mm_and_si128(takeC, c), _mm_andnot_si128(takeC, nearest));
}

template <size_t N, size_t... K>
inline __m128i PaethBlock(__m128i& a, __m128i& c, __m128i x, __m128i b, std::index_sequence<K...>) {
  const __m128i zero = _mm_setzero_si128(), low = _mm_set1_epi16(0xFF);
  __m128i out = _mm_setzero_si128();
  __m128i bk;
  ((bk = _mm_unpacklo_epi8(_mm_srli_si128(b, int(K * N)), zero),
    a = _mm_and_si128(
        _mm_add_epi16(_mm_unpacklo_epi8(_mm_srli_si128(x, int(K * N)), zero), PaethLanes(a, bk, c)),
        low),
    c = bk, out = Gather<N>(out, _mm_packus_epi16(a, a))),
   ...);
  return out;
}

inline __m128i Load16(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline void Store16(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// Unfilters the whole blocks of a row; returns where the byte loops go on
// (0 when the row holds no whole block: then they do it all).
template <size_t N>
size_t UnfilterBlocks(uint8_t type, uint8_t* row, const uint8_t* prev, size_t rowBytes) {
  constexpr size_t kBlock = kBlockBytes<N>;
  using Pixels = std::make_index_sequence<16 / N>;
  const __m128i ones = _mm_set1_epi8(-1);
  size_t i = 0;
  if (rowBytes < 16) return 0;
  // The next block is loaded before this one is stored: the store covers
  // its first bytes.
  __m128i x = Load16(row);
  switch (type) {
    case kFilterSub: {
      __m128i a = _mm_setzero_si128();
      for (; i + 16 <= rowBytes; i += kBlock) {
        __m128i out = FinishBlock<N>(SubBlock<N>(a, x, Pixels{}), x);
        if (i + kBlock + 16 <= rowBytes) x = Load16(row + i + kBlock);
        Store16(row + i, out);
      }
      break;
    }
    case kFilterAverage: {
      __m128i na = ones;
      for (; i + 16 <= rowBytes; i += kBlock) {
        __m128i nb = _mm_xor_si128(Load16(prev + i), ones);
        __m128i out = FinishBlock<N>(_mm_xor_si128(AverageBlock<N>(na, x, nb, Pixels{}), ones), x);
        if (i + kBlock + 16 <= rowBytes) x = Load16(row + i + kBlock);
        Store16(row + i, out);
      }
      break;
    }
    case kFilterPaeth: {
      __m128i a = _mm_setzero_si128(), c = _mm_setzero_si128();
      for (; i + 16 <= rowBytes; i += kBlock) {
        __m128i out = FinishBlock<N>(PaethBlock<N>(a, c, x, Load16(prev + i), Pixels{}), x);
        if (i + kBlock + 16 <= rowBytes) x = Load16(row + i + kBlock);
        Store16(row + i, out);
      }
      break;
    }
    default:
      return 0;
  }
  return i;
}

// The byte loops from byte start on (after the first pixel), for a row
// whose earlier bytes are already unfiltered.
void UnfilterFrom(uint8_t type, uint8_t* row, const uint8_t* prev, size_t start, size_t rowBytes,
                  size_t pixelBytes) {
  switch (type) {
    case kFilterSub:
      for (size_t i = start; i < rowBytes; ++i) row[i] = uint8_t(row[i] + row[i - pixelBytes]);
      break;
    case kFilterAverage:
      for (size_t i = start; i < rowBytes; ++i)
        row[i] = uint8_t(row[i] + ((row[i - pixelBytes] + prev[i]) >> 1));
      break;
    case kFilterPaeth:
      for (size_t i = start; i < rowBytes; ++i)
        row[i] = uint8_t(row[i] + Paeth(row[i - pixelBytes], prev[i], prev[i - pixelBytes]));
      break;
    default:
      break;
  }
}
#endif

// Sub, Average and Paeth rows of 3, 4, 6 or 8-byte pixels; false for the
// others.
bool UnfilterWide(uint8_t type, uint8_t* row, const uint8_t* prev, size_t rowBytes,
                  size_t pixelBytes) {
#if defined(__SSE2__)
  if (type != kFilterSub && type != kFilterAverage && type != kFilterPaeth) return false;
  size_t done = 0;
  switch (pixelBytes) {
    case 3:
      done = UnfilterBlocks<3>(type, row, prev, rowBytes);
      break;
    case 4:
      done = UnfilterBlocks<4>(type, row, prev, rowBytes);
      break;
    case 6:
      done = UnfilterBlocks<6>(type, row, prev, rowBytes);
      break;
    case 8:
      done = UnfilterBlocks<8>(type, row, prev, rowBytes);
      break;
    default:
      return false;
  }
  if (done == 0) return false;
  UnfilterFrom(type, row, prev, done, rowBytes, pixelBytes);
  return true;
#else
  (void)type, (void)row, (void)prev, (void)rowBytes, (void)pixelBytes;
  return false;
#endif
}

}  // namespace

uint8_t PaethPredictor(uint8_t a, uint8_t b, uint8_t c) { return uint8_t(Paeth(a, b, c)); }

void UnfilterRow(uint8_t type, uint8_t* row, const uint8_t* prev, size_t rowBytes,
                 size_t pixelBytes) {
  // Rows are whole pixels, so the fixed-size loops never step past the end;
  // other pixel sizes take the general loops.
  const bool whole = pixelBytes != 0 && rowBytes >= pixelBytes && rowBytes % pixelBytes == 0;
  size_t lead = pixelBytes < rowBytes ? pixelBytes : rowBytes;
  if (whole && UnfilterWide(type, row, prev, rowBytes, pixelBytes)) return;
  switch (type) {
    case kFilterSub:
      if (whole && pixelBytes == 3) return UnsubFixed<3>(row, rowBytes);
      if (whole && pixelBytes == 4) return UnsubFixed<4>(row, rowBytes);
      if (whole && pixelBytes == 6) return UnsubFixed<6>(row, rowBytes);
      if (whole && pixelBytes == 8) return UnsubFixed<8>(row, rowBytes);
      for (size_t i = pixelBytes; i < rowBytes; ++i) row[i] = uint8_t(row[i] + row[i - pixelBytes]);
      break;
    case kFilterUp:
      for (size_t i = 0; i < rowBytes; ++i) row[i] = uint8_t(row[i] + prev[i]);
      break;
    case kFilterAverage:
      if (whole && pixelBytes == 3) return UnaverageFixed<3>(row, prev, rowBytes);
      if (whole && pixelBytes == 4) return UnaverageFixed<4>(row, prev, rowBytes);
      if (whole && pixelBytes == 6) return UnaverageFixed<6>(row, prev, rowBytes);
      if (whole && pixelBytes == 8) return UnaverageFixed<8>(row, prev, rowBytes);
      for (size_t i = 0; i < lead; ++i) row[i] = uint8_t(row[i] + (prev[i] >> 1));
      for (size_t i = lead; i < rowBytes; ++i)
        row[i] = uint8_t(row[i] + ((row[i - pixelBytes] + prev[i]) >> 1));
      break;
    case kFilterPaeth:
      if (whole && pixelBytes == 3) return UnpaethFixed<3>(row, prev, rowBytes);
      if (whole && pixelBytes == 4) return UnpaethFixed<4>(row, prev, rowBytes);
      if (whole && pixelBytes == 6) return UnpaethFixed<6>(row, prev, rowBytes);
      if (whole && pixelBytes == 8) return UnpaethFixed<8>(row, prev, rowBytes);
      for (size_t i = 0; i < lead; ++i) row[i] = uint8_t(row[i] + prev[i]);
      for (size_t i = lead; i < rowBytes; ++i)
        row[i] = uint8_t(row[i] + Paeth(row[i - pixelBytes], prev[i], prev[i - pixelBytes]));
      break;
    default:
      break;
  }
}

void FilterRow(PngFilter type, const uint8_t* raw, const uint8_t* prev, uint8_t* out,
               size_t rowBytes, size_t pixelBytes) {
  // One loop per filter type; the first pixel has no left neighbour.
  size_t lead = pixelBytes < rowBytes ? pixelBytes : rowBytes;
  switch (type) {
    case kFilterNone:
      for (size_t i = 0; i < rowBytes; ++i) out[i] = raw[i];
      break;
    case kFilterSub:
      for (size_t i = 0; i < lead; ++i) out[i] = raw[i];
      for (size_t i = lead; i < rowBytes; ++i) out[i] = uint8_t(raw[i] - raw[i - pixelBytes]);
      break;
    case kFilterUp:
      for (size_t i = 0; i < rowBytes; ++i) out[i] = uint8_t(raw[i] - prev[i]);
      break;
    case kFilterAverage:
      for (size_t i = 0; i < lead; ++i) out[i] = uint8_t(raw[i] - (prev[i] >> 1));
      for (size_t i = lead; i < rowBytes; ++i)
        out[i] = uint8_t(raw[i] - ((raw[i - pixelBytes] + prev[i]) >> 1));
      break;
    case kFilterPaeth:
      for (size_t i = 0; i < lead; ++i) out[i] = uint8_t(raw[i] - prev[i]);
      for (size_t i = lead; i < rowBytes; ++i)
        out[i] = uint8_t(raw[i] - Paeth(raw[i - pixelBytes], prev[i], prev[i - pixelBytes]));
      break;
  }
}

size_t FilterScore(const uint8_t* row, size_t rowBytes) {
  size_t score = 0;
  for (size_t i = 2; i < rowBytes; ++i)
    score += size_t(row[i] == row[i - 1]) | size_t(row[i] == row[i - 2]);
  return score;
}

}  // namespace kelm::png
