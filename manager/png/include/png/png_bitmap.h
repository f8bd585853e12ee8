// What the graphic class needs to turn the picture into bitmaps and back,
// kept portable: building a picture from device-independent bitmap bits,
// telling transparent pixels, and blending partly transparent pictures over
// a 32-bit destination block.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "png/png_picture.h"

namespace kelm::png {

// Device-independent bitmap bits: bottom-up rows of ((bpp x width + 31) / 32)
// x 4 bytes at 1, 4 or 8 bits per pixel (with a palette) or 24 (B, G, R).
struct PngDibSource {
  uint32_t width = 0, height = 0;
  unsigned bitsPerPixel = 24;
  const uint8_t* bits = nullptr;
  const PngRgbQuad* palette = nullptr;  // 2^bpp entries for paletted bits
  std::optional<PngColour> transparentColour;
};

// Replaces the picture: IHDR, PLTE (paletted only), tRNS (with a
// transparent colour), IDAT and IEND, in that order.
void AssignFromDib(PngPicture& picture, const PngDibSource& source);

// The colour that single-colour transparency leaves out, if any.
std::optional<PngColour> TransparentColour(const PngPicture& picture);

// True where single-colour transparency leaves the destination unchanged.
bool IsTransparentPixel(const PngPicture& picture, uint32_t x, uint32_t y);

// The file's transparent colour of a grey or true-colour picture (grey, or
// R, G, B, at the file's bit depth), when the picture has one.
std::optional<std::array<uint16_t, 3>> ColourKey(const PngPicture& picture);
// True when the stored pixel is one the file gave the key colour: grey by
// its sample, true colour by the alpha plane that loading filled from the
// file's samples, or else (a picture built in memory) by its stored colour
// against the key through the gamma table.
bool MatchesColourKey(const TChunkIHDR& header, const std::array<uint16_t, 3>& key,
                      const uint8_t* gammaLut, uint32_t x, uint32_t y);

// Opacity 0-255 of a pixel: the alpha plane, or the tRNS table by index.
uint8_t PixelAlpha(const PngPicture& picture, uint32_t x, uint32_t y);

// Blends the picture, scaled to width x height, over a top-down block of
// 32-bit B, G, R, x pixels.
void BlendOnto(const PngPicture& picture, uint8_t* bgrx, size_t stride, uint32_t width,
               uint32_t height);

}  // namespace kelm::png
