#include "png/png_bitmap.h"

#include <cstring>
#include <memory>

#include "png/png_errors.h"
#include "png/png_records.h"

namespace kelm::png {

namespace {

// The storage colour of a pixel (before the display gamma): grey value,
// palette entry or B, G, R.
PngRgbQuad StoredColour(const TChunkIHDR& header, uint32_t x, uint32_t y) {
  const PngStorage& s = header.Storage();
  const uint8_t* row = s.Row(y);
  // Grey + alpha shows its grey through the ramp, as grey does.
  if (s.UsesPalette()) return s.Palette()[PngStorage::GetPacked(row, x, s.BitsPerPixel())];
  const uint8_t* bgr = row + size_t(x) * 3;
  return {bgr[0], bgr[1], bgr[2], 0};
}

const TChunktRNS* Transparency(const PngPicture& picture) {
  return picture.ChunkList().Find<TChunktRNS>();
}

}  // namespace

void AssignFromDib(PngPicture& picture, const PngDibSource& source) {
  const unsigned bpp = source.bitsPerPixel;
  if ((bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24) || !source.bits ||
      (bpp < 16 && !source.palette))
    throw EPngError("Unsupported bitmap format.");
  if (source.width < 1 || source.height < 1) throw EPNGInvalidNewSize();
  if (source.width > kMaxImageSide || source.height > kMaxImageSide) throw EPNGSizeExceeds();
  picture.Clear();
  TPNGList& list = picture.ChunkList();
  auto* header = static_cast<TChunkIHDR*>(list.Add(std::make_unique<TChunkIHDR>(picture)));
  header->Width = source.width;
  header->Height = source.height;
  header->ColourType = bpp < 16 ? kPalette : kRgb;
  header->BitDepth = uint8_t(bpp < 16 ? bpp : 8);
  picture.Interlacing = 0;
  header->PrepareStorage();
  PngStorage& storage = header->Storage();
  // Same layout on both sides: the rows copy as they are.
  std::memcpy(storage.Row(source.height - 1), source.bits, storage.RowStride() * source.height);
  if (bpp < 16) {
    std::memcpy(storage.Palette(), source.palette, sizeof(PngRgbQuad) << bpp);
    list.Add(std::make_unique<TChunkPLTE>(picture));
  }
  if (source.transparentColour) {
    PngColour c = *source.transparentColour;
    auto red = uint8_t(c), green = uint8_t(c >> 8), blue = uint8_t(c >> 16);
    auto trns = std::make_unique<TChunktRNS>(picture);
    uint32_t size = 0;
    if (header->ColourType == kRgb) {
      PutBE16(trns->AlphaTable, red);
      PutBE16(trns->AlphaTable + 2, green);
      PutBE16(trns->AlphaTable + 4, blue);
      size = 6;
      trns->SingleTransparent = true;
    } else {
      for (unsigned i = 0; i < storage.PaletteCount(); ++i) {
        const PngRgbQuad& e = storage.Palette()[i];
        if (e.red == red && e.green == green && e.blue == blue) {
          trns->AlphaTable[i] = 0;
          size = i + 1;
          trns->SingleTransparent = true;
          break;
        }
      }
    }
    // A colour the palette does not hold makes nothing transparent.
    if (size != 0) {
      trns->SetPayloadSize(size);
      list.Add(std::move(trns));
    }
  }
  list.Add(std::make_unique<TChunkIDAT>(picture));
  list.Add(std::make_unique<TChunkIEND>(picture));
}

std::optional<PngColour> TransparentColour(const PngPicture& picture) {
  if (picture.TransparencyMode() != PngTransparency::SingleColour) return std::nullopt;
  const TChunkIHDR& header = picture.RequireHeader();
  const TChunktRNS& trns = *Transparency(picture);
  const uint8_t* lut = picture.GammaLut;
  switch (header.ColourType) {
    case kGrey: {
      unsigned depth = header.BitDepth, v = GetBE16(trns.AlphaTable);
      auto grey =
          uint8_t(depth == 16 ? v >> 8 : (v & ((1u << depth) - 1)) * 255 / ((1u << depth) - 1));
      return PngRgb(lut[grey], lut[grey], lut[grey]);
    }
    case kRgb: {
      // 16-bit samples are kept by their high byte, 8-bit ones by the low.
      unsigned shift = header.BitDepth == 16 ? 8 : 0;
      auto sample = [&](size_t i) {
        return lut[uint8_t(GetBE16(trns.AlphaTable + 2 * i) >> shift)];
      };
      return PngRgb(sample(0), sample(1), sample(2));
    }
    default: {
      const PngRgbQuad* palette = header.Storage().Palette();
      for (uint32_t i = 0; i < trns.PayloadSize(); ++i)
        if (trns.AlphaTable[i] != 255)
          return PngRgb(palette[i].red, palette[i].green, palette[i].blue);
      return std::nullopt;
    }
  }
}

std::optional<std::array<uint16_t, 3>> ColourKey(const PngPicture& picture) {
  if (picture.TransparencyMode() != PngTransparency::SingleColour) return std::nullopt;
  const TChunkIHDR* header = picture.Header();
  const TChunktRNS& trns = *Transparency(picture);
  if (!header || (header->ColourType != kGrey && header->ColourType != kRgb)) return std::nullopt;
  std::array<uint16_t, 3> key{};
  for (size_t c = 0; c < 3; ++c) key[c] = GetBE16(trns.AlphaTable + 2 * c);
  return key;
}

bool MatchesColourKey(const TChunkIHDR& header, const std::array<uint16_t, 3>& key,
                      const uint8_t* gammaLut, uint32_t x, uint32_t y) {
  const PngStorage& s = header.Storage();
  if (header.ColourType == kGrey) {
    if (header.BitDepth == 16)
      return s.Row(y)[x] == (key[0] >> 8) && s.LowRow(y)[x] == (key[0] & 0xFF);
    return PngStorage::GetPacked(s.Row(y), x, s.BitsPerPixel()) == key[0];
  }
  // Gamma correction may give two file colours one stored colour; loading
  // noted the file's own answer in the alpha plane.
  if (s.HasAlpha()) return s.AlphaRow(y)[x] == 0;
  const uint8_t* bgr = s.Row(y) + size_t(x) * 3;
  const uint8_t* low = header.BitDepth == 16 ? s.LowRow(y) + size_t(x) * 3 : nullptr;
  for (size_t c = 0; c < 3; ++c) {
    uint8_t hi = header.BitDepth == 16 ? uint8_t(key[c] >> 8) : uint8_t(key[c]);
    if (bgr[2 - c] != gammaLut[hi]) return false;
    if (low && low[2 - c] != gammaLut[uint8_t(key[c])]) return false;
  }
  return true;
}

bool IsTransparentPixel(const PngPicture& picture, uint32_t x, uint32_t y) {
  if (picture.TransparencyMode() != PngTransparency::SingleColour) return false;
  const TChunkIHDR& header = picture.RequireHeader();
  if (x >= header.Width || y >= header.Height) return false;
  if (std::optional<std::array<uint16_t, 3>> key = ColourKey(picture))
    return MatchesColourKey(header, *key, picture.GammaLut, x, y);
  const TChunktRNS& trns = *Transparency(picture);
  const PngStorage& s = header.Storage();
  return trns.AlphaTable[PngStorage::GetPacked(s.Row(y), x, s.BitsPerPixel())] != 255;
}

uint8_t PixelAlpha(const PngPicture& picture, uint32_t x, uint32_t y) {
  const TChunkIHDR& header = picture.RequireHeader();
  if (x >= header.Width || y >= header.Height) return 0;
  const PngStorage& s = header.Storage();
  // A true-colour picture's alpha plane only notes its key pixels.
  if (s.HasAlpha() && header.ColourType != kRgb) return s.AlphaRow(y)[x];
  const TChunktRNS* trns = Transparency(picture);
  if (header.ColourType == kPalette && trns)
    return trns->AlphaTable[PngStorage::GetPacked(s.Row(y), x, s.BitsPerPixel())];
  return IsTransparentPixel(picture, x, y) ? 0 : 255;
}

void BlendOnto(const PngPicture& picture, uint8_t* bgrx, size_t stride, uint32_t width,
               uint32_t height) {
  const TChunkIHDR& header = picture.RequireHeader();
  for (uint32_t y = 0; y < height; ++y) {
    // trunc(y / sy) with sy = height / image height, without rounding error.
    auto sy = uint32_t(uint64_t(y) * header.Height / height);
    uint8_t* out = bgrx + y * stride;
    for (uint32_t x = 0; x < width; ++x, out += 4) {
      auto sx = uint32_t(uint64_t(x) * header.Width / width);
      PngRgbQuad c = StoredColour(header, sx, sy);
      unsigned a = PixelAlpha(picture, sx, sy);
      out[0] = uint8_t((c.blue * a + (255 - a) * out[0] + 255) >> 8);
      out[1] = uint8_t((c.green * a + (255 - a) * out[1] + 255) >> 8);
      out[2] = uint8_t((c.red * a + (255 - a) * out[2] + 255) >> 8);
    }
  }
}

}  // namespace kelm::png
