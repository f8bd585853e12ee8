// The decoded picture in the layout of a Windows device-independent bitmap,
// so that the graphic class can hand it to GDI as it is: bottom-up rows of
// RowStride bytes, 1, 4, 8 or 24 (B, G, R) bits per pixel, a palette for the
// paletted and grey formats, plus a top-down alpha plane (colour types 4 and
// 6) and a low-byte plane for 16-bit samples laid out like the pixel rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace kelm::png {

enum PngColourType : uint8_t {
  kGrey = 0,
  kRgb = 2,
  kPalette = 3,
  kGreyAlpha = 4,
  kRgbAlpha = 6,
};

// True for the colour type and bit depth pairs the PNG standard allows.
bool IsValidPngFormat(uint8_t colourType, uint8_t bitDepth);
// Bits per pixel of the storage for a valid pair.
unsigned StorageBitsPerPixel(uint8_t colourType, uint8_t bitDepth);

struct PngRgbQuad {
  uint8_t blue, green, red, reserved;
};
static_assert(sizeof(PngRgbQuad) == 4);

// A zero-filled byte block; calloc keeps large untouched storage cheap.
class PngBuffer {
 public:
  PngBuffer() = default;
  // Throws EPNGOutMemory when the block cannot be had.
  explicit PngBuffer(uint64_t size);
  uint8_t* data() { return bytes_.get(); }
  const uint8_t* data() const { return bytes_.get(); }
  size_t size() const { return size_; }
  PngBuffer Clone() const;

 private:
  struct Free {
    void operator()(uint8_t* p) const { std::free(p); }
  };
  std::unique_ptr<uint8_t[], Free> bytes_;
  size_t size_ = 0;
};

// All planes of one picture together may not exceed this: a 32-bit process
// cannot hold more, and a hostile header must not make us try.
constexpr uint64_t kMaxStorageBytes = uint64_t(1) << 30;

class PngStorage {
 public:
  // Sizes and zero-fills the planes for a header already validated; throws
  // EPNGOutMemory when they would not fit. Grey ramps go through gammaLut.
  void Prepare(uint32_t width, uint32_t height, uint8_t colourType, uint8_t bitDepth,
               const uint8_t* gammaLut);
  // Rebuilds the grey ramp of a grey or grey + alpha storage through the
  // table; other storages are left alone.
  void SetGreyRamp(const uint8_t* gammaLut);
  // Gives a storage without an alpha plane one, all opaque (255). A
  // true-colour picture with a transparent colour keeps in it which pixels
  // held the file's key, since the stored colours are gamma-corrected and
  // may no longer tell them apart.
  void AddAlphaPlane();
  // Gives a true-colour storage a plane of the file's own samples (high
  // bytes, laid out like the pixel rows), so that a gamma-corrected picture
  // saves the samples it read: correction merges neighbouring samples and
  // no inverse table can tell them apart again. False (and no plane) when
  // the plane would not fit in the storage limit.
  bool AddSamplePlane();
  bool Empty() const { return width_ == 0; }
  // True when prepared for exactly this size and format.
  bool Describes(uint32_t width, uint32_t height, uint8_t colourType, uint8_t bitDepth) const {
    return width_ != 0 && width == width_ && height == height_ && colourType == colourType_ &&
           bitDepth == bitDepth_;
  }

  uint32_t Width() const { return width_; }
  uint32_t Height() const { return height_; }
  unsigned BitsPerPixel() const { return bitsPerPixel_; }
  size_t RowStride() const { return rowStride_; }
  bool UsesPalette() const { return usesPalette_; }
  bool HasAlpha() const { return alpha_.size() != 0; }
  bool HasLowBytes() const { return lowBytes_.size() != 0; }
  bool HasSamples() const { return samples_.size() != 0; }

  // Rows by image row, top first (the pixel and low-byte planes are stored
  // bottom-up, the alpha plane top-down).
  uint8_t* Row(uint32_t y) { return pixels_.data() + (height_ - 1 - y) * rowStride_; }
  const uint8_t* Row(uint32_t y) const { return pixels_.data() + (height_ - 1 - y) * rowStride_; }
  uint8_t* LowRow(uint32_t y) { return lowBytes_.data() + (height_ - 1 - y) * rowStride_; }
  const uint8_t* LowRow(uint32_t y) const {
    return lowBytes_.data() + (height_ - 1 - y) * rowStride_;
  }
  uint8_t* SampleRow(uint32_t y) { return samples_.data() + (height_ - 1 - y) * rowStride_; }
  const uint8_t* SampleRow(uint32_t y) const {
    return samples_.data() + (height_ - 1 - y) * rowStride_;
  }
  uint8_t* AlphaRow(uint32_t y) { return alpha_.data() + size_t(y) * width_; }
  const uint8_t* AlphaRow(uint32_t y) const { return alpha_.data() + size_t(y) * width_; }

  // The raw bottom-up pixel block (what a DIB section would hold).
  const uint8_t* PixelBits() const { return pixels_.data(); }

  PngRgbQuad* Palette() { return palette_; }
  const PngRgbQuad* Palette() const { return palette_; }
  // Entries the storage can index: 2^(bits per pixel) for paletted storage.
  unsigned PaletteCount() const { return paletteCount_; }

  // Index of the used palette entry nearest to the colour (lowest on ties).
  unsigned NearestPaletteIndex(uint8_t red, uint8_t green, uint8_t blue) const;

  // Packed sample of a paletted or grey storage row (1, 4 or 8 bits).
  static unsigned GetPacked(const uint8_t* row, uint32_t x, unsigned bits);
  static void SetPacked(uint8_t* row, uint32_t x, unsigned bits, unsigned value);

  // Another size keeping the overlapping top-left part: new pixel, low and
  // sample bytes 0, new alpha bytes 255.
  void Resize(uint32_t width, uint32_t height);

  PngStorage Clone() const;

 private:
  uint32_t width_ = 0, height_ = 0;
  uint8_t colourType_ = 0, bitDepth_ = 0;
  unsigned bitsPerPixel_ = 0;
  size_t rowStride_ = 0;
  bool usesPalette_ = false;
  PngBuffer pixels_, alpha_, lowBytes_, samples_;
  PngRgbQuad palette_[256] = {};
  unsigned paletteCount_ = 0;

  struct Sizes {
    size_t stride, pixels, alpha, lowBytes, samples;
  };
  static Sizes ComputeSizes(uint32_t width, uint32_t height, unsigned bitsPerPixel, bool alpha,
                            bool lowBytes, bool samples = false);
};

}  // namespace kelm::png
