// The portable PNG picture: the chunk list, the encoder's settings and the
// gamma tables. The graphic class of the class library wraps one of these
// and adds drawing, the clipboard and conversion to and from bitmaps.
#pragma once

#include <cstdint>

#include "png/png_chunks.h"
#include "png/png_filters.h"
#include "png/png_records.h"
#include "png/png_stream.h"

namespace kelm::png {

enum class PngTransparency { None, SingleColour, Partial };

// Colours as the class library passes them: 0x00BBGGRR.
using PngColour = uint32_t;
constexpr PngColour PngRgb(uint8_t r, uint8_t g, uint8_t b) {
  return PngColour(r) | PngColour(g) << 8 | PngColour(b) << 16;
}

constexpr uint32_t kMinIdatLimit = 65535;
// Ancillary chunks a loaded picture keeps at most: past this many, unknown
// and text chunks and repeats of the other kinds are skipped unread, so a
// file of millions of empty chunks takes little time and memory. The first
// gamma, transparency, physical size and time chunk are always kept.
constexpr size_t kMaxAncillaryChunks = 1000;
constexpr uint32_t kMaxImageSide = 65535;

class PngPicture {
 public:
  PngPicture();
  PngPicture(const PngPicture&) = delete;
  PngPicture& operator=(const PngPicture&) = delete;

  // Filters the encoder may choose from (default {Sub}).
  PngFilterSet RowFilters = FilterBit(kFilterSub);
  // zlib compression level.
  int DeflateLevel = 7;
  // 0 none, 1 Adam7; taken from the header on load.
  uint8_t Interlacing = 0;
  uint8_t GammaLut[256];
  uint8_t InverseGammaLut[256];

  // Largest IDAT payload written; smaller values are raised to 65,535 and
  // larger ones lowered to the standard's chunk length limit.
  uint32_t IdatLimit() const { return idatLimit_; }
  void SetIdatLimit(uint32_t limit) {
    idatLimit_ = limit < kMinIdatLimit     ? kMinIdatLimit
                 : limit > kMaxChunkLength ? kMaxChunkLength
                                           : limit;
  }

  TPNGList& ChunkList() { return chunks_; }
  const TPNGList& ChunkList() const { return chunks_; }

  // Identity gamma tables and no chunks.
  void Clear();
  bool Empty() const { return chunks_.Count() == 0; }

  // Replaces the picture by the file; on failure the chunks read so far stay.
  void LoadFromStream(PngStream& stream);
  void SaveToStream(PngStream& stream);

  // Nothing clears; another picture is copied chunk by chunk.
  void Assign(const PngPicture* source);

  // Header or nothing; RequireHeader raises EPNGHeaderNotPresent.
  TChunkIHDR* Header() const { return chunks_.Find<TChunkIHDR>(); }
  TChunkIHDR& RequireHeader() const;

  // 0 without a header.
  uint32_t Width() const;
  uint32_t Height() const;
  // Keeps the overlapping top-left part.
  void SetSize(uint32_t width, uint32_t height);

  PngTransparency TransparencyMode() const;

  // Outside the image reading gives 0 and writing does nothing.
  PngColour Pixel(int64_t x, int64_t y) const;
  void SetPixel(int64_t x, int64_t y, PngColour colour);

  void ResetGamma();

  // True once the image data of the file being loaded has been decoded:
  // a gamma chunk after it no longer applies to the stored pixels.
  bool ImageDataRead() const { return imageRead_; }

 private:
  TPNGList chunks_;
  bool imageRead_ = false;
  uint32_t idatLimit_ = kMinIdatLimit;
};

}  // namespace kelm::png
