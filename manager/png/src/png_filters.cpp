#include "png/png_filters.h"

#include <cstdlib>

namespace kelm::png {

uint8_t PaethPredictor(uint8_t a, uint8_t b, uint8_t c) {
  int p = int(a) + b - c;
  int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return a;
  if (pb <= pc) return b;
  return c;
}

void UnfilterRow(uint8_t type, uint8_t* row, const uint8_t* prev, size_t rowBytes,
                 size_t pixelBytes) {
  size_t lead = pixelBytes < rowBytes ? pixelBytes : rowBytes;
  switch (type) {
    case kFilterSub:
      for (size_t i = pixelBytes; i < rowBytes; ++i) row[i] = uint8_t(row[i] + row[i - pixelBytes]);
      break;
    case kFilterUp:
      for (size_t i = 0; i < rowBytes; ++i) row[i] = uint8_t(row[i] + prev[i]);
      break;
    case kFilterAverage:
      for (size_t i = 0; i < lead; ++i) row[i] = uint8_t(row[i] + (prev[i] >> 1));
      for (size_t i = lead; i < rowBytes; ++i)
        row[i] = uint8_t(row[i] + ((row[i - pixelBytes] + prev[i]) >> 1));
      break;
    case kFilterPaeth:
      for (size_t i = 0; i < lead; ++i) row[i] = uint8_t(row[i] + prev[i]);
      for (size_t i = lead; i < rowBytes; ++i)
        row[i] =
            uint8_t(row[i] + PaethPredictor(row[i - pixelBytes], prev[i], prev[i - pixelBytes]));
      break;
    default:
      break;
  }
}

void FilterRow(PngFilter type, const uint8_t* raw, const uint8_t* prev, uint8_t* out,
               size_t rowBytes, size_t pixelBytes) {
  for (size_t i = 0; i < rowBytes; ++i) {
    uint8_t a = i >= pixelBytes ? raw[i - pixelBytes] : 0;
    uint8_t c = i >= pixelBytes ? prev[i - pixelBytes] : 0;
    uint8_t b = prev[i];
    uint8_t predictor = 0;
    switch (type) {
      case kFilterNone:
        break;
      case kFilterSub:
        predictor = a;
        break;
      case kFilterUp:
        predictor = b;
        break;
      case kFilterAverage:
        predictor = uint8_t((a + b) >> 1);
        break;
      case kFilterPaeth:
        predictor = PaethPredictor(a, b, c);
        break;
    }
    out[i] = uint8_t(raw[i] - predictor);
  }
}

size_t FilterScore(const uint8_t* row, size_t rowBytes) {
  size_t score = 0;
  for (size_t i = 2; i < rowBytes; ++i)
    if (row[i] == row[i - 1] || row[i] == row[i - 2]) ++score;
  return score;
}

}  // namespace kelm::png
