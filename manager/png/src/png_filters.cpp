#include "png/png_filters.h"

#include <cstdlib>

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

}  // namespace

uint8_t PaethPredictor(uint8_t a, uint8_t b, uint8_t c) { return uint8_t(Paeth(a, b, c)); }

void UnfilterRow(uint8_t type, uint8_t* row, const uint8_t* prev, size_t rowBytes,
                 size_t pixelBytes) {
  // Rows are whole pixels, so the fixed-size loops never step past the end;
  // other pixel sizes take the general loops.
  const bool whole = pixelBytes != 0 && rowBytes >= pixelBytes && rowBytes % pixelBytes == 0;
  size_t lead = pixelBytes < rowBytes ? pixelBytes : rowBytes;
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
