#include "png/png_picture.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "png/png_errors.h"
#include "png/png_records.h"

namespace kelm::png {

namespace {

const uint8_t kIhdr[4] = {'I', 'H', 'D', 'R'};
const uint8_t kIdat[4] = {'I', 'D', 'A', 'T'};
const uint8_t kIend[4] = {'I', 'E', 'N', 'D'};
const uint8_t kChrm[4] = {'c', 'H', 'R', 'M'};

bool Is(const uint8_t* kind, const uint8_t* code) { return std::memcmp(kind, code, 4) == 0; }

void ReadSignature(PngStream& stream) {
  uint8_t signature[8];
  size_t got = stream.Read(signature, sizeof signature);
  if (std::memcmp(signature, kPngSignature, got) != 0) throw EPNGInvalidFileHeader();
  // A correct but cut-off signature is a truncated file.
  if (got != sizeof signature) throw EPngUnexpectedEnd();
}

// True for the first chunk of a known single-valued kind (gamma,
// transparency, ...): unknown and text chunks may repeat without end.
bool FirstOfItsKind(const TChunkClass& cls, const std::vector<const TChunkClass*>& seen) {
  if (&cls == &TChunk::StaticClass() || &cls == &TChunktEXt::StaticClass() ||
      &cls == &TChunkzTXt::StaticClass())
    return false;
  return std::find(seen.begin(), seen.end(), &cls) == seen.end();
}

}  // namespace

PngPicture::PngPicture() { ResetGamma(); }

void PngPicture::ResetGamma() {
  for (int i = 0; i < 256; ++i) GammaLut[i] = InverseGammaLut[i] = uint8_t(i);
}

void PngPicture::Clear() {
  ResetGamma();
  chunks_.SetSize(0);
  imageRead_ = false;
}

void PngPicture::LoadFromStream(PngStream& stream) {
  Clear();
  ReadSignature(stream);
  // The list grows geometrically: loading stays linear in the chunk count
  // however many small chunks a file holds.
  size_t ancillaryKept = 0;
  std::vector<const TChunkClass*> seen;
  for (size_t count = 0;;) {
    PngChunkHead head;
    if (stream.Read(&head, sizeof head) != sizeof head) throw EPngUnexpectedEnd();
    if (count == 0 && !Is(head.type, kIhdr)) throw EPNGIHDRNotFirst();
    // One header per picture: a second one would re-make the storage under
    // the chunks already read for the first.
    if (count != 0 && Is(head.type, kIhdr)) throw EPngInvalidIHDR();
    uint32_t length = GetBE32(head.length);
    if (length > kMaxChunkLength) throw EPngUnexpectedEnd();
    const TChunkClass& cls = FindChunkClass(head.type);
    const bool ancillary = (head.type[0] & 0x20) != 0;
    // Later IDAT runs are not part of the image; chromaticities are not used.
    if ((imageRead_ && Is(head.type, kIdat)) || Is(head.type, kChrm) ||
        (ancillary && ancillaryKept >= kMaxAncillaryChunks && !FirstOfItsKind(cls, seen))) {
      if (uint64_t(length) + 4 > stream.Remaining()) throw EPngUnexpectedEnd();
      stream.Seek(stream.Position() + length + 4);
      continue;
    }
    if (&cls == &TChunk::StaticClass() && !ancillary) throw EPNGUnknownCriticalChunk();
    TChunk* loading = chunks_.Add(cls.create(*this));
    ++count;
    if (ancillary) {
      ++ancillaryKept;
      if (FirstOfItsKind(cls, seen)) seen.push_back(&cls);
    }
    loading->LoadFromStream(stream, head.type, length);
    if (Is(head.type, kIdat)) imageRead_ = true;
    if (Is(head.type, kIend)) break;
  }
  if (!imageRead_) throw EPNGNoImageData();
}

void PngPicture::SaveToStream(PngStream& stream) {
  stream.Write(kPngSignature, sizeof kPngSignature);
  for (size_t i = 0; i < chunks_.Count(); ++i)
    if (TChunk* chunk = chunks_.Item(i)) chunk->SaveToStream(stream);
}

void PngPicture::Assign(const PngPicture* source) {
  if (source == this) return;
  Clear();
  if (!source) return;
  Interlacing = source->Interlacing;
  idatLimit_ = source->idatLimit_;
  DeflateLevel = source->DeflateLevel;
  RowFilters = source->RowFilters;
  // The stored pixels already went through the gamma tables; the copy must
  // write them back the same way.
  std::memcpy(GammaLut, source->GammaLut, sizeof GammaLut);
  std::memcpy(InverseGammaLut, source->InverseGammaLut, sizeof InverseGammaLut);
  for (size_t i = 0; i < source->chunks_.Count(); ++i) {
    const TChunk* from = source->chunks_.Item(i);
    if (!from) continue;
    std::unique_ptr<TChunk> copy = from->ChunkClass().create(*this);
    copy->Assign(*from);
    chunks_.Add(std::move(copy));
  }
}

TChunkIHDR& PngPicture::RequireHeader() const {
  TChunkIHDR* header = Header();
  // The header's fields are open to change; the storage must still be the
  // one they describe before anything walks it.
  if (!header || !header->Storage().Describes(header->Width, header->Height, header->ColourType,
                                              header->BitDepth))
    throw EPNGHeaderNotPresent();
  return *header;
}

uint32_t PngPicture::Width() const {
  TChunkIHDR* header = Header();
  return header ? header->Width : 0;
}

uint32_t PngPicture::Height() const {
  TChunkIHDR* header = Header();
  return header ? header->Height : 0;
}

void PngPicture::SetSize(uint32_t width, uint32_t height) {
  if (width < 1 || height < 1) throw EPNGInvalidNewSize();
  if (width > kMaxImageSide || height > kMaxImageSide) throw EPNGSizeExceeds();
  TChunkIHDR& header = RequireHeader();
  header.Storage().Resize(width, height);
  header.Width = width;
  header.Height = height;
}

PngTransparency PngPicture::TransparencyMode() const {
  TChunkIHDR* header = Header();
  if (!header) return PngTransparency::None;
  const TChunktRNS* trns = chunks_.Find<TChunktRNS>();
  switch (header->ColourType) {
    case kGrey:
    case kRgb:
      return trns ? PngTransparency::SingleColour : PngTransparency::None;
    case kPalette:
      if (!trns) return PngTransparency::None;
      return trns->SingleTransparent ? PngTransparency::SingleColour : PngTransparency::Partial;
    default:
      return PngTransparency::Partial;
  }
}

PngColour PngPicture::Pixel(int64_t x, int64_t y) const {
  const TChunkIHDR& header = RequireHeader();
  if (x < 0 || y < 0 || x >= header.Width || y >= header.Height) return 0;
  const PngStorage& storage = header.Storage();
  const uint8_t* row = storage.Row(uint32_t(y));
  // Paletted and grey storages (grey + alpha too) show their palette or
  // grey ramp, which already went through GammaLut once; true colour is
  // stored corrected.
  if (storage.UsesPalette()) {
    const PngRgbQuad& c =
        storage.Palette()[PngStorage::GetPacked(row, uint32_t(x), storage.BitsPerPixel())];
    return PngRgb(c.red, c.green, c.blue);
  }
  const uint8_t* bgr = row + x * 3;
  return PngRgb(bgr[2], bgr[1], bgr[0]);
}

void PngPicture::SetPixel(int64_t x, int64_t y, PngColour colour) {
  TChunkIHDR& header = RequireHeader();
  if (x < 0 || y < 0 || x >= header.Width || y >= header.Height) return;
  PngStorage& storage = header.Storage();
  uint8_t* row = storage.Row(uint32_t(y));
  auto red = uint8_t(colour), green = uint8_t(colour >> 8), blue = uint8_t(colour >> 16);
  switch (header.ColourType) {
    case kPalette:
    case kGrey:
      PngStorage::SetPacked(row, uint32_t(x), storage.BitsPerPixel(),
                            storage.NearestPaletteIndex(red, green, blue));
      break;
    case kGreyAlpha:
      // The red component as grey; the sample is the one whose ramp entry
      // (the grey after gamma) shows it.
      row[x] = uint8_t(storage.NearestPaletteIndex(red, red, red));
      break;
    default: {
      uint8_t* bgr = row + x * 3;
      bgr[0] = blue;
      bgr[1] = green;
      bgr[2] = red;
      break;
    }
  }
}

}  // namespace kelm::png
