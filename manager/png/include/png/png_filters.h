// Row filters of the PNG standard (section 9): None, Sub, Up, Average, Paeth.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kelm::png {

enum PngFilter : uint8_t { kFilterNone, kFilterSub, kFilterUp, kFilterAverage, kFilterPaeth };
constexpr unsigned kFilterCount = 5;

// Set of filters as bits 1 << PngFilter.
using PngFilterSet = uint8_t;
constexpr PngFilterSet FilterBit(PngFilter f) { return PngFilterSet(1u << f); }

uint8_t PaethPredictor(uint8_t a, uint8_t b, uint8_t c);

// Undoes the filter in place. prev is the previous unfiltered row (zeros for
// the first row of an image or pass). Unknown types leave the row as it is.
void UnfilterRow(uint8_t type, uint8_t* row, const uint8_t* prev, size_t rowBytes,
                 size_t pixelBytes);

// Writes the filtered form of raw into out.
void FilterRow(PngFilter type, const uint8_t* raw, const uint8_t* prev, uint8_t* out,
               size_t rowBytes, size_t pixelBytes);

// How well a filtered row will compress: positions from the third byte on
// that repeat one of the two bytes before them.
size_t FilterScore(const uint8_t* row, size_t rowBytes);

}  // namespace kelm::png
