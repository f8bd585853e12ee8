#include "png/png_storage.h"

#include <algorithm>
#include <cstring>

#include "png/png_errors.h"
#include "vh/checked.h"

namespace kelm::png {

bool IsValidPngFormat(uint8_t colourType, uint8_t bitDepth) {
  switch (colourType) {
    case kGrey:
      return bitDepth == 1 || bitDepth == 2 || bitDepth == 4 || bitDepth == 8 || bitDepth == 16;
    case kPalette:
      return bitDepth == 1 || bitDepth == 2 || bitDepth == 4 || bitDepth == 8;
    case kRgb:
    case kGreyAlpha:
    case kRgbAlpha:
      return bitDepth == 8 || bitDepth == 16;
    default:
      return false;
  }
}

unsigned StorageBitsPerPixel(uint8_t colourType, uint8_t bitDepth) {
  if (colourType == kRgb || colourType == kRgbAlpha) return 24;
  if (bitDepth == 2) return 4;
  if (bitDepth == 16) return 8;
  return bitDepth;
}

PngBuffer::PngBuffer(uint64_t size) {
  if (size == 0) return;
  if (size > kMaxStorageBytes) throw EPNGOutMemory();
  bytes_.reset(static_cast<uint8_t*>(std::calloc(size_t(size), 1)));
  if (!bytes_) throw EPNGOutMemory();
  size_ = size_t(size);
}

PngBuffer PngBuffer::Clone() const {
  PngBuffer copy(size_);
  if (size_ != 0) std::memcpy(copy.data(), data(), size_);
  return copy;
}

PngStorage::Sizes PngStorage::ComputeSizes(uint32_t width, uint32_t height, unsigned bitsPerPixel,
                                           bool alpha, bool lowBytes, bool samples) {
  // Everything in 64 bits and checked: a header may claim any size.
  uint64_t bits = 0, stride = 0, pixels = 0, alphaSize = 0, total = 0;
  bool ok = vh::CheckedMul<uint64_t>(width, bitsPerPixel, &bits) &&
            vh::CheckedAdd<uint64_t>(bits, 31, &bits);
  stride = bits / 32 * 4;
  ok = ok && vh::CheckedMul<uint64_t>(stride, height, &pixels) &&
       vh::CheckedMul<uint64_t>(width, height, &alphaSize);
  uint64_t low = lowBytes ? pixels : 0, kept = samples ? pixels : 0;
  if (!alpha) alphaSize = 0;
  ok = ok && vh::CheckedAdd(pixels, alphaSize, &total) && vh::CheckedAdd(total, low, &total) &&
       vh::CheckedAdd(total, kept, &total);
  if (!ok || total > kMaxStorageBytes) throw EPNGOutMemory();
  return {size_t(stride), size_t(pixels), size_t(alphaSize), size_t(low), size_t(kept)};
}

namespace {

// A stand-in for the system halftone palette: the 6x6x6 colour cube followed
// by a grey ramp. The graphic class may replace it with the system's own.
void FillHalftone(PngRgbQuad* palette) {
  unsigned i = 0;
  for (unsigned r = 0; r < 6; ++r)
    for (unsigned g = 0; g < 6; ++g)
      for (unsigned b = 0; b < 6; ++b)
        palette[i++] = {uint8_t(b * 51), uint8_t(g * 51), uint8_t(r * 51), 0};
  for (unsigned k = 0; i < 256; ++i, ++k) {
    auto v = uint8_t((k * 255 + 19) / 39);
    palette[i] = {v, v, v, 0};
  }
}

}  // namespace

void PngStorage::Prepare(uint32_t width, uint32_t height, uint8_t colourType, uint8_t bitDepth,
                         const uint8_t* gammaLut) {
  unsigned bpp = StorageBitsPerPixel(colourType, bitDepth);
  bool hasAlpha = colourType == kGreyAlpha || colourType == kRgbAlpha;
  bool hasLow = bitDepth == 16;
  Sizes sizes = ComputeSizes(width, height, bpp, hasAlpha, hasLow);
  PngBuffer pixels(sizes.pixels), alpha(sizes.alpha), low(sizes.lowBytes);

  pixels_ = std::move(pixels);
  alpha_ = std::move(alpha);
  lowBytes_ = std::move(low);
  samples_ = PngBuffer();
  width_ = width;
  height_ = height;
  colourType_ = colourType;
  bitDepth_ = bitDepth;
  bitsPerPixel_ = bpp;
  rowStride_ = sizes.stride;
  usesPalette_ = bpp <= 8;
  std::memset(palette_, 0, sizeof palette_);
  paletteCount_ = usesPalette_ ? 1u << bpp : 0;
  if (colourType == kPalette)
    FillHalftone(palette_);
  else
    SetGreyRamp(gammaLut);
}

void PngStorage::SetGreyRamp(const uint8_t* gammaLut) {
  if (!usesPalette_ || colourType_ == kPalette) return;
  // Grey ramp over the sample range; 16-bit samples are kept as their high
  // byte, so they take a 256-entry ramp.
  unsigned entries = bitDepth_ == 16 ? 256 : 1u << bitDepth_;
  for (unsigned i = 0; i < entries; ++i) {
    uint8_t v = gammaLut[(i * 255 + (entries - 1) / 2) / (entries - 1)];
    palette_[i] = {v, v, v, 0};
  }
}

void PngStorage::AddAlphaPlane() {
  if (HasAlpha() || width_ == 0) return;
  Sizes sizes = ComputeSizes(width_, height_, bitsPerPixel_, true, HasLowBytes(), HasSamples());
  PngBuffer alpha(sizes.alpha);
  std::memset(alpha.data(), 255, alpha.size());
  alpha_ = std::move(alpha);
}

bool PngStorage::AddSamplePlane() {
  if (HasSamples() || usesPalette_ || width_ == 0) return HasSamples();
  try {
    Sizes sizes = ComputeSizes(width_, height_, bitsPerPixel_, HasAlpha(), HasLowBytes(), true);
    samples_ = PngBuffer(sizes.samples);
  } catch (const EPNGOutMemory&) {
    // The picture itself fits; only its exact saving is given up.
    return false;
  }
  return true;
}

unsigned PngStorage::NearestPaletteIndex(uint8_t red, uint8_t green, uint8_t blue) const {
  unsigned best = 0;
  long bestDistance = -1;
  for (unsigned i = 0; i < paletteCount_; ++i) {
    long dr = long(palette_[i].red) - red, dg = long(palette_[i].green) - green,
         db = long(palette_[i].blue) - blue;
    long d = dr * dr + dg * dg + db * db;
    if (bestDistance < 0 || d < bestDistance) {
      bestDistance = d;
      best = i;
    }
  }
  return best;
}

unsigned PngStorage::GetPacked(const uint8_t* row, uint32_t x, unsigned bits) {
  switch (bits) {
    case 1:
      return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case 4:
      return (x & 1) ? row[x >> 1] & 0x0F : row[x >> 1] >> 4;
    default:
      return row[x];
  }
}

void PngStorage::SetPacked(uint8_t* row, uint32_t x, unsigned bits, unsigned value) {
  switch (bits) {
    case 1: {
      auto mask = uint8_t(0x80 >> (x & 7));
      row[x >> 3] = uint8_t((row[x >> 3] & ~mask) | ((value & 1) ? mask : 0));
      break;
    }
    case 4:
      if (x & 1)
        row[x >> 1] = uint8_t((row[x >> 1] & 0xF0) | (value & 0x0F));
      else
        row[x >> 1] = uint8_t((row[x >> 1] & 0x0F) | (value & 0x0F) << 4);
      break;
    default:
      row[x] = uint8_t(value);
      break;
  }
}

void PngStorage::Resize(uint32_t width, uint32_t height) {
  Sizes sizes = ComputeSizes(width, height, bitsPerPixel_, HasAlpha(), HasLowBytes(), HasSamples());
  PngBuffer pixels(sizes.pixels), alpha(sizes.alpha), low(sizes.lowBytes), kept(sizes.samples);
  uint32_t rows = std::min(height, height_);
  size_t stride = std::min(sizes.stride, rowStride_);
  size_t alphaWidth = std::min(width, width_);
  // Image row y of both, top first.
  for (uint32_t y = 0; y < rows; ++y) {
    std::memcpy(pixels.data() + (height - 1 - y) * sizes.stride, Row(y), stride);
    if (HasLowBytes()) std::memcpy(low.data() + (height - 1 - y) * sizes.stride, LowRow(y), stride);
    if (HasSamples())
      std::memcpy(kept.data() + (height - 1 - y) * sizes.stride, SampleRow(y), stride);
  }
  if (HasAlpha()) {
    std::memset(alpha.data(), 255, alpha.size());
    for (uint32_t y = 0; y < rows; ++y)
      std::memcpy(alpha.data() + size_t(y) * width, AlphaRow(y), alphaWidth);
  }
  pixels_ = std::move(pixels);
  alpha_ = std::move(alpha);
  lowBytes_ = std::move(low);
  samples_ = std::move(kept);
  width_ = width;
  height_ = height;
  rowStride_ = sizes.stride;
}

PngStorage PngStorage::Clone() const {
  PngStorage copy;
  copy.width_ = width_;
  copy.height_ = height_;
  copy.colourType_ = colourType_;
  copy.bitDepth_ = bitDepth_;
  copy.bitsPerPixel_ = bitsPerPixel_;
  copy.rowStride_ = rowStride_;
  copy.usesPalette_ = usesPalette_;
  copy.pixels_ = pixels_.Clone();
  copy.alpha_ = alpha_.Clone();
  copy.lowBytes_ = lowBytes_.Clone();
  copy.samples_ = samples_.Clone();
  std::memcpy(copy.palette_, palette_, sizeof palette_);
  copy.paletteCount_ = paletteCount_;
  return copy;
}

}  // namespace kelm::png
