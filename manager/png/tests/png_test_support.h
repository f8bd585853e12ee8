// Reading a decoded picture back as sample values, for comparison with the
// images the test generator wrote. Follows the storage layout the codec
// documents: bottom-up packed rows, B G R order, a top-down alpha plane and
// a low-byte plane for 16-bit samples.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "png/png_picture.h"
#include "png/png_stream.h"
#include "png_test_image.h"

namespace kelm::test {

// The sample as the storage holds it at the file's depth (16-bit samples
// rebuilt from both planes).
inline uint16_t StoredSample(const kelm::png::TChunkIHDR& header, uint32_t x, uint32_t y,
                             unsigned c) {
  const kelm::png::PngStorage& s = header.Storage();
  const bool wide = header.BitDepth == 16;
  auto both = [&](const uint8_t* hi, const uint8_t* lo, size_t i) -> uint16_t {
    return wide ? uint16_t(hi[i] << 8 | lo[i]) : hi[i];
  };
  const uint8_t* row = s.Row(y);
  const uint8_t* low = wide ? s.LowRow(y) : nullptr;
  switch (header.ColourType) {
    case 2:
    case 6:
      if (c == 3) return wide ? uint16_t(s.AlphaRow(y)[x] << 8) : s.AlphaRow(y)[x];
      return both(row, low, size_t(x) * 3 + (2 - c));
    case 4:
      if (c == 1) return wide ? uint16_t(s.AlphaRow(y)[x] << 8) : s.AlphaRow(y)[x];
      return both(row, low, x);
    default:
      if (wide) return both(row, low, x);
      return uint16_t(kelm::png::PngStorage::GetPacked(row, x, s.BitsPerPixel()));
  }
}

// What the codec keeps of a sample: alpha only as its high byte.
inline uint16_t KeptSample(const Image& im, uint32_t x, uint32_t y, unsigned c) {
  uint16_t v = im.At(x, y, c);
  bool alpha = (im.colourType == 4 && c == 1) || (im.colourType == 6 && c == 3);
  return im.bitDepth == 16 && alpha ? uint16_t(v & 0xFF00) : v;
}

inline ::testing::AssertionResult StorageMatches(const kelm::png::PngPicture& picture,
                                                 const Image& im) {
  const kelm::png::TChunkIHDR* header = picture.Header();
  if (!header) return ::testing::AssertionFailure() << "no header";
  if (header->Width != im.width || header->Height != im.height)
    return ::testing::AssertionFailure() << "size " << header->Width << "x" << header->Height;
  for (uint32_t y = 0; y < im.height; ++y)
    for (uint32_t x = 0; x < im.width; ++x)
      for (unsigned c = 0; c < im.Channels(); ++c) {
        uint16_t got = StoredSample(*header, x, y, c), want = KeptSample(im, x, y, c);
        if (got != want)
          return ::testing::AssertionFailure() << "pixel (" << x << "," << y << ") channel " << c
                                               << ": " << got << " != " << want;
      }
  return ::testing::AssertionSuccess();
}

inline void Load(kelm::png::PngPicture& picture, const std::vector<uint8_t>& file) {
  kelm::png::PngReadStream stream(file);
  picture.LoadFromStream(stream);
}

inline std::vector<uint8_t> Save(kelm::png::PngPicture& picture) {
  kelm::png::PngMemoryStream stream;
  picture.SaveToStream(stream);
  return stream.Bytes();
}

// Data of the first chunk of a type in a file (empty when there is none).
inline std::vector<uint8_t> ChunkData(const std::vector<uint8_t>& file, const std::string& type) {
  for (const FileChunk& c : ListChunks(file))
    if (c.type == type) return c.data;
  return {};
}

struct Format {
  uint8_t colourType, bitDepth;
};
// Every pair the PNG standard allows.
inline const std::vector<Format>& AllFormats() {
  static const std::vector<Format> formats = {{0, 1}, {0, 2},  {0, 4},  {0, 8}, {0, 16},
                                              {2, 8}, {2, 16}, {3, 1},  {3, 2}, {3, 4},
                                              {3, 8}, {4, 8},  {4, 16}, {6, 8}, {6, 16}};
  return formats;
}

inline std::string Describe(const Image& im, bool interlace) {
  return "type " + std::to_string(im.colourType) + " depth " + std::to_string(im.bitDepth) + " " +
         std::to_string(im.width) + "x" + std::to_string(im.height) +
         (interlace ? " interlaced" : "");
}

}  // namespace kelm::test
