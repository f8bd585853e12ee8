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

// Paeth unfiltering for a fixed pixel size: the pixel's bytes are
// independent of each other, so the compiler keeps them in registers.
template <size_t N>
void UnpaethFixed(uint8_t* row, const uint8_t* prev, size_t rowBytes) {
  for (size_t i = 0; i < N && i < rowBytes; ++i) row[i] = uint8_t(row[i] + prev[i]);
  for (size_t i = N; i < rowBytes; i += N)
    for (size_t k = 0; k < N; ++k)
      row[i + k] = uint8_t(row[i + k] + Paeth(row[i + k - N], prev[i + k], prev[i + k - N]));
}

template <size_t N>
void UnaverageFixed(uint8_t* row, const uint8_t* prev, size_t rowBytes) {
  for (size_t i = 0; i < N && i < rowBytes; ++i) row[i] = uint8_t(row[i] + (prev[i] >> 1));
  for (size_t i = N; i < rowBytes; i += N)
    for (size_t k = 0; k < N; ++k)
      row[i + k] = uint8_t(row[i + k] + ((row[i + k - N] + prev[i + k]) >> 1));
}

template <size_t N>
void UnsubFixed(uint8_t* row, size_t rowBytes) {
  for (size_t i = N; i < rowBytes; i += N)
    for (size_t k = 0; k < N; ++k) row[i + k] = uint8_t(row[i + k] + row[i + k - N]);
}

}  // namespace

uint8_t PaethPredictor(uint8_t a, uint8_t b, uint8_t c) { return uint8_t(Paeth(a, b, c)); }

void UnfilterRow(uint8_t type, uint8_t* row, const uint8_t* prev, size_t rowBytes,
                 size_t pixelBytes) {
  // Rows are whole pixels, so the fixed-size loops never step past the end;
  // other pixel sizes take the general loops.
  const bool whole = pixelBytes != 0 && rowBytes % pixelBytes == 0;
  size_t lead = pixelBytes < rowBytes ? pixelBytes : rowBytes;
  switch (type) {
    case kFilterSub:
      if (whole && pixelBytes == 3) return UnsubFixed<3>(row, rowBytes);
      if (whole && pixelBytes == 4) return UnsubFixed<4>(row, rowBytes);
      for (size_t i = pixelBytes; i < rowBytes; ++i) row[i] = uint8_t(row[i] + row[i - pixelBytes]);
      break;
    case kFilterUp:
      for (size_t i = 0; i < rowBytes; ++i) row[i] = uint8_t(row[i] + prev[i]);
      break;
    case kFilterAverage:
      if (whole && pixelBytes == 3) return UnaverageFixed<3>(row, prev, rowBytes);
      if (whole && pixelBytes == 4) return UnaverageFixed<4>(row, prev, rowBytes);
      for (size_t i = 0; i < lead; ++i) row[i] = uint8_t(row[i] + (prev[i] >> 1));
      for (size_t i = lead; i < rowBytes; ++i)
        row[i] = uint8_t(row[i] + ((row[i - pixelBytes] + prev[i]) >> 1));
      break;
    case kFilterPaeth:
      if (whole && pixelBytes == 3) return UnpaethFixed<3>(row, prev, rowBytes);
      if (whole && pixelBytes == 4) return UnpaethFixed<4>(row, prev, rowBytes);
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
