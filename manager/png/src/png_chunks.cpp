#include "png/png_chunks.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "png/png_crc.h"
#include "png/png_errors.h"
#include "png/png_picture.h"
#include "png/png_records.h"

namespace kelm::png {

namespace {

// Reads exactly count bytes or raises the unexpected-end error.
void ReadExact(PngStream& stream, void* buffer, size_t count) {
  if (stream.Read(buffer, count) != count) throw EPngUnexpectedEnd();
}

void CheckCrc(PngStream& stream, uint32_t expected) {
  uint8_t stored[4];
  ReadExact(stream, stored, 4);
  if (GetBE32(stored) != expected) throw EPngInvalidCRC();
}

template <typename T>
const T& SameClass(const TChunk& source) {
  if (&source.ChunkClass() != &T::StaticClass()) throw EPngError(kChunksIncompatible);
  return static_cast<const T&>(source);
}

}  // namespace

// ---- TChunk ----

TChunk::TChunk(PngPicture& owner) : owner_(&owner), payload_(1, 0) {}
TChunk::~TChunk() = default;

const TChunkClass& TChunk::StaticClass() {
  static const TChunkClass cls{"",
                               [](PngPicture& owner) { return std::make_unique<TChunk>(owner); }};
  return cls;
}

void TChunk::SetKindFromClass() {
  const char* name = ChunkClass().typeName;
  if (std::strlen(name) == 4) std::memcpy(kind_, name, 4);
}

void TChunk::SetPayloadSize(uint32_t size) {
  payload_.assign(size_t(size) + 1, 0);
  payloadSize_ = size;
}

void TChunk::Assign(const TChunk& source) {
  payload_ = source.payload_;
  payloadSize_ = source.payloadSize_;
  std::memcpy(kind_, source.kind_, 4);
}

void TChunk::LoadFromStream(PngStream& stream, const uint8_t kind[4], uint32_t size) {
  std::memcpy(kind_, kind, 4);
  // The length is checked against what the stream really holds before any
  // memory is taken for it.
  if (size > kMaxChunkLength || uint64_t(size) + 4 > stream.Remaining()) throw EPngUnexpectedEnd();
  SetPayloadSize(size);
  ReadExact(stream, payload_.data(), size);
  CheckCrc(stream, PngChunkCrc(kind_, payload_.data(), size));
}

void TChunk::WriteChunk(PngStream& stream, const uint8_t kind[4], const uint8_t* data,
                        uint32_t size) {
  PngChunkHead head;
  PutBE32(head.length, size);
  std::memcpy(head.type, kind, 4);
  stream.Write(&head, sizeof head);
  if (size != 0) stream.Write(data, size);
  uint8_t crc[4];
  PutBE32(crc, PngChunkCrc(kind, data, size));
  stream.Write(crc, 4);
}

void TChunk::SaveToStream(PngStream& stream) {
  WriteChunk(stream, kind_, payload_.data(), payloadSize_);
}

#define VH_PNG_CHUNK_IMPL(Name, Type)                                                     \
  Name::Name(PngPicture& owner) : TChunk(owner) { SetKindFromClass(); }                   \
  const TChunkClass& Name::StaticClass() {                                                \
    static const TChunkClass cls{Type, [](PngPicture& owner) -> std::unique_ptr<TChunk> { \
                                   return std::make_unique<Name>(owner);                  \
                                 }};                                                      \
    return cls;                                                                           \
  }

VH_PNG_CHUNK_IMPL(TChunkIEND, "IEND")
VH_PNG_CHUNK_IMPL(TChunkIHDR, "IHDR")
VH_PNG_CHUNK_IMPL(TChunkIDAT, "IDAT")
VH_PNG_CHUNK_IMPL(TChunkPLTE, "PLTE")
VH_PNG_CHUNK_IMPL(TChunkpHYs, "pHYs")
VH_PNG_CHUNK_IMPL(TChunktIME, "tIME")
VH_PNG_CHUNK_IMPL(TChunktEXt, "tEXt")

#undef VH_PNG_CHUNK_IMPL

TChunkgAMA::TChunkgAMA(PngPicture& owner) : TChunk(owner) {
  SetKindFromClass();
  SetGamma(1);
}
const TChunkClass& TChunkgAMA::StaticClass() {
  static const TChunkClass cls{"gAMA", [](PngPicture& owner) -> std::unique_ptr<TChunk> {
                                 return std::make_unique<TChunkgAMA>(owner);
                               }};
  return cls;
}

TChunkzTXt::TChunkzTXt(PngPicture& owner) : TChunktEXt(owner) { SetKindFromClass(); }
const TChunkClass& TChunkzTXt::StaticClass() {
  static const TChunkClass cls{"zTXt", [](PngPicture& owner) -> std::unique_ptr<TChunk> {
                                 return std::make_unique<TChunkzTXt>(owner);
                               }};
  return cls;
}

// ---- registry ----

const TChunkClass& FindChunkClass(const uint8_t kind[4]) {
  static const TChunkClass* const kRegistry[] = {
      &TChunkIEND::StaticClass(), &TChunkIHDR::StaticClass(), &TChunkIDAT::StaticClass(),
      &TChunkPLTE::StaticClass(), &TChunkgAMA::StaticClass(), &TChunktRNS::StaticClass(),
      &TChunkpHYs::StaticClass(), &TChunktIME::StaticClass(), &TChunktEXt::StaticClass(),
      &TChunkzTXt::StaticClass(),
  };
  for (const TChunkClass* cls : kRegistry)
    if (std::memcmp(cls->typeName, kind, 4) == 0) return *cls;
  return TChunk::StaticClass();
}

std::unique_ptr<TChunk> CreateChunk(PngPicture& owner, const uint8_t kind[4]) {
  return FindChunkClass(kind).create(owner);
}

// ---- lists ----

void TPNGPointerList::SetItem(size_t index, std::unique_ptr<TChunk> chunk) {
  if (index < items_.size()) items_[index] = std::move(chunk);
}

void TPNGPointerList::BeforeGrowingTo(size_t size) {
  if (size > items_.capacity()) moved_ += items_.size();
}

void TPNGPointerList::Reserve(size_t size) {
  BeforeGrowingTo(size);
  items_.reserve(size);
}

TChunk* TPNGPointerList::Add(std::unique_ptr<TChunk> chunk) {
  BeforeGrowingTo(items_.size() + 1);
  items_.push_back(std::move(chunk));
  return items_.back().get();
}

void TPNGPointerList::Remove(const TChunk* chunk) {
  auto it = std::find_if(items_.begin(), items_.end(),
                         [chunk](const std::unique_ptr<TChunk>& p) { return p.get() == chunk; });
  if (it != items_.end()) items_.erase(it);
}

void TPNGPointerList::SetSize(size_t size) {
  BeforeGrowingTo(size);
  items_.resize(size);
}

TChunk* TPNGList::ItemFromClass(const TChunkClass& chunkClass) const {
  for (size_t i = 0; i < Count(); ++i) {
    TChunk* chunk = Item(i);
    if (chunk && &chunk->ChunkClass() == &chunkClass) return chunk;
  }
  return nullptr;
}

// ---- IHDR ----

uint8_t WrittenBitDepth(uint8_t colourType, uint8_t bitDepth) {
  // Grey keeps 2 bits: widening the samples to 4 bits without rescaling them
  // would darken the image.
  return colourType == kPalette && bitDepth == 2 ? 4 : bitDepth;
}

void TChunkIHDR::Assign(const TChunk& source) {
  const auto& other = SameClass<TChunkIHDR>(source);
  TChunk::Assign(source);
  Width = other.Width;
  Height = other.Height;
  BitDepth = other.BitDepth;
  ColourType = other.ColourType;
  CompressionMethod = other.CompressionMethod;
  FilterMethod = other.FilterMethod;
  InterlaceMethod = other.InterlaceMethod;
  storage_ = other.storage_.Clone();
}

void TChunkIHDR::LoadFromStream(PngStream& stream, const uint8_t kind[4], uint32_t size) {
  TChunk::LoadFromStream(stream, kind, size);
  if (PayloadSize() < sizeof(PngIhdrRecord)) throw EPngInvalidIHDR();
  PngIhdrRecord record;
  std::memcpy(&record, Payload(), sizeof record);
  Width = GetBE32(record.width);
  Height = GetBE32(record.height);
  BitDepth = record.bitDepth;
  ColourType = record.colourType;
  CompressionMethod = record.compression;
  FilterMethod = record.filter;
  InterlaceMethod = record.interlace;
  PrepareStorage();
  Owner().Interlacing = InterlaceMethod;
}

void TChunkIHDR::PrepareStorage() {
  if (Width > kMaxImageSide || Height > kMaxImageSide) throw EPNGSizeExceeds();
  // The PNG standard forbids empty images; formats it does not define have no
  // conversion and are refused before any storage is made.
  if (Width == 0 || Height == 0) throw EPngInvalidIHDR();
  if (CompressionMethod != 0) throw EPNGUnknownCompression();
  if (InterlaceMethod > 1) throw EPNGUnknownInterlace();
  if (!IsValidPngFormat(ColourType, BitDepth)) throw EPngInvalidIHDR();
  storage_.Prepare(Width, Height, ColourType, BitDepth, Owner().GammaLut);
}

void TChunkIHDR::SaveToStream(PngStream& stream) {
  PngIhdrRecord record;
  PutBE32(record.width, Width);
  PutBE32(record.height, Height);
  record.bitDepth = WrittenBitDepth(ColourType, BitDepth);
  record.colourType = ColourType;
  record.compression = CompressionMethod;
  record.filter = FilterMethod;
  record.interlace = Owner().Interlacing;
  SetPayloadSize(sizeof record);
  std::memcpy(Payload(), &record, sizeof record);
  TChunk::SaveToStream(stream);
}

// ---- PLTE ----

void TChunkPLTE::Assign(const TChunk& source) {
  const auto& other = SameClass<TChunkPLTE>(source);
  TChunk::Assign(source);
  EntryCount = other.EntryCount;
}

void TChunkPLTE::LoadFromStream(PngStream& stream, const uint8_t kind[4], uint32_t size) {
  TChunk::LoadFromStream(stream, kind, size);
  if (PayloadSize() % 3 != 0 || PayloadSize() > 768) throw EPNGInvalidPalette();
  EntryCount = PayloadSize() / 3;
  ApplyToStorage();
}

void TChunkPLTE::ApplyToStorage() const {
  TChunkIHDR* header = Owner().Header();
  // Grey storages keep their ramp: the PNG standard gives a palette no
  // meaning there. True-colour pictures only keep it as a suggestion.
  if (!header || header->ColourType != kPalette || !header->Storage().UsesPalette()) return;
  const uint8_t* lut = Owner().GammaLut;
  PngRgbQuad* palette = header->Storage().Palette();
  for (size_t i = 0; i < 256; ++i) {
    if (i >= EntryCount || 3 * i + 3 > PayloadSize()) {
      palette[i] = {0, 0, 0, 0};
      continue;
    }
    const uint8_t* rgb = Payload() + 3 * i;
    palette[i] = {lut[rgb[2]], lut[rgb[1]], lut[rgb[0]], 0};
  }
}

void TChunkPLTE::SaveToStream(PngStream& stream) {
  TChunkIHDR* header = Owner().Header();
  // Only a paletted storage holds the colours; a suggested palette of a
  // true-colour image, or one a grey image carried, is written back as it
  // was read.
  if (header && header->ColourType == kPalette && header->Storage().UsesPalette()) {
    if (EntryCount == 0) EntryCount = header->Storage().PaletteCount();
    EntryCount = std::min(EntryCount, 256u);
    const uint8_t* lut = Owner().GammaLut;
    const uint8_t* inverse = Owner().InverseGammaLut;
    const PngRgbQuad* palette = header->Storage().Palette();
    // An entry still showing as the file's colour is written as that colour:
    // correction merges neighbouring values, and the inverse table would
    // pick one of them for all.
    std::vector<uint8_t> read(Payload(), Payload() + PayloadSize());
    auto written = [&](size_t at, uint8_t shown) {
      return at < read.size() && lut[read[at]] == shown ? read[at] : inverse[shown];
    };
    SetPayloadSize(EntryCount * 3);
    for (size_t i = 0; i < EntryCount; ++i) {
      uint8_t* rgb = Payload() + 3 * i;
      rgb[0] = written(3 * i, palette[i].red);
      rgb[1] = written(3 * i + 1, palette[i].green);
      rgb[2] = written(3 * i + 2, palette[i].blue);
    }
  }
  TChunk::SaveToStream(stream);
}

PngRgbQuad TChunkPLTE::Item(unsigned index) const {
  if (index >= EntryCount) throw EPngError(kNoSuchPaletteEntry);
  TChunkIHDR* header = Owner().Header();
  if (header && header->ColourType == kPalette && header->Storage().UsesPalette() && index < 256)
    return header->Storage().Palette()[index];
  if (3 * size_t(index) + 3 > PayloadSize()) throw EPngError(kNoSuchPaletteEntry);
  const uint8_t* rgb = Payload() + 3 * size_t(index);
  return {rgb[2], rgb[1], rgb[0], 0};
}

// ---- gAMA ----

uint32_t TChunkgAMA::Gamma() const {
  return PayloadSize() >= sizeof(PngGammaRecord) ? GetBE32(Payload()) : 0;
}

void TChunkgAMA::SetGamma(uint32_t value) {
  SetPayloadSize(sizeof(PngGammaRecord));
  PutBE32(Payload(), value);
}

void TChunkgAMA::Assign(const TChunk& source) {
  SameClass<TChunkgAMA>(source);
  TChunk::Assign(source);
}

void TChunkgAMA::LoadFromStream(PngStream& stream, const uint8_t kind[4], uint32_t size) {
  TChunk::LoadFromStream(stream, kind, size);
  uint32_t g = Gamma();
  PngPicture& picture = Owner();
  // The PNG standard places the gamma before the image data; one after it
  // cannot apply to pixels already stored, nor to their saving.
  if (g == 0 || picture.ImageDataRead()) return;
  double exponent = 1.0 / (g / 100000.0 * 2.2);
  for (int i = 0; i < 256; ++i) {
    double v = std::round(255.0 * std::pow(i / 255.0, exponent));
    auto out = uint8_t(std::clamp(v, 0.0, 255.0));
    picture.GammaLut[i] = out;
    picture.InverseGammaLut[out] = uint8_t(i);
  }
}

// ---- tRNS ----

void TChunktRNS::Assign(const TChunk& source) {
  const auto& other = SameClass<TChunktRNS>(source);
  TChunk::Assign(source);
  SingleTransparent = other.SingleTransparent;
  std::memcpy(AlphaTable, other.AlphaTable, sizeof AlphaTable);
}

TChunktRNS::TChunktRNS(PngPicture& owner) : TChunk(owner) {
  SetKindFromClass();
  std::memset(AlphaTable, 255, sizeof AlphaTable);
}
const TChunkClass& TChunktRNS::StaticClass() {
  static const TChunkClass cls{"tRNS", [](PngPicture& owner) -> std::unique_ptr<TChunk> {
                                 return std::make_unique<TChunktRNS>(owner);
                               }};
  return cls;
}

void TChunktRNS::LoadFromStream(PngStream& stream, const uint8_t kind[4], uint32_t size) {
  // Refused before its bytes are read: the table holds 256 entries.
  if (size > 256) throw EPNGInvalidPalette();
  TChunk::LoadFromStream(stream, kind, size);
  std::memset(AlphaTable, 255, sizeof AlphaTable);
  std::memcpy(AlphaTable, Payload(), PayloadSize());
  TChunkIHDR* header = Owner().Header();
  uint8_t colourType = header ? header->ColourType : 0;
  if (colourType == kGrey || colourType == kRgb) {
    SingleTransparent = true;
  } else if (colourType == kPalette) {
    unsigned notOpaque = 0;
    for (uint32_t i = 0; i < PayloadSize(); ++i) notOpaque += AlphaTable[i] != 255;
    SingleTransparent = notOpaque == 1;
  } else {
    SingleTransparent = false;
  }
}

void TChunktRNS::SaveToStream(PngStream& stream) {
  uint32_t size = std::min<uint32_t>(PayloadSize(), sizeof AlphaTable);
  SetPayloadSize(size);
  std::memcpy(Payload(), AlphaTable, size);
  TChunk::SaveToStream(stream);
}

// ---- pHYs ----

void TChunkpHYs::Assign(const TChunk& source) {
  const auto& other = SameClass<TChunkpHYs>(source);
  TChunk::Assign(source);
  PPUnitX = other.PPUnitX;
  PPUnitY = other.PPUnitY;
  UnitType = other.UnitType;
}

void TChunkpHYs::LoadFromStream(PngStream& stream, const uint8_t kind[4], uint32_t size) {
  TChunk::LoadFromStream(stream, kind, size);
  if (PayloadSize() != sizeof(PngPhysRecord)) return;
  PngPhysRecord record;
  std::memcpy(&record, Payload(), sizeof record);
  PPUnitX = GetBE32(record.pixelsPerUnitX);
  PPUnitY = GetBE32(record.pixelsPerUnitY);
  UnitType = record.unit;
}

void TChunkpHYs::SaveToStream(PngStream& stream) {
  PngPhysRecord record;
  PutBE32(record.pixelsPerUnitX, PPUnitX);
  PutBE32(record.pixelsPerUnitY, PPUnitY);
  record.unit = UnitType;
  SetPayloadSize(sizeof record);
  std::memcpy(Payload(), &record, sizeof record);
  TChunk::SaveToStream(stream);
}

// ---- tIME ----

void TChunktIME::Assign(const TChunk& source) {
  const auto& other = SameClass<TChunktIME>(source);
  TChunk::Assign(source);
  Year = other.Year;
  Month = other.Month;
  Day = other.Day;
  Hour = other.Hour;
  Minute = other.Minute;
  Second = other.Second;
}

void TChunktIME::LoadFromStream(PngStream& stream, const uint8_t kind[4], uint32_t size) {
  TChunk::LoadFromStream(stream, kind, size);
  if (PayloadSize() != sizeof(PngTimeRecord)) return;
  PngTimeRecord record;
  std::memcpy(&record, Payload(), sizeof record);
  Year = GetBE16(record.year);
  Month = record.month;
  Day = record.day;
  Hour = record.hour;
  Minute = record.minute;
  Second = record.second;
}

void TChunktIME::SaveToStream(PngStream& stream) {
  PngTimeRecord record;
  PutBE16(record.year, Year);
  record.month = Month;
  record.day = Day;
  record.hour = Hour;
  record.minute = Minute;
  record.second = Second;
  SetPayloadSize(sizeof record);
  std::memcpy(Payload(), &record, sizeof record);
  TChunk::SaveToStream(stream);
}

// ---- tEXt and zTXt ----

namespace {

// Splits "keyword NUL rest"; returns where the rest starts (past the end
// when there is no NUL).
size_t SplitKeyword(const uint8_t* data, size_t size, std::string& keyword) {
  const uint8_t* nul = static_cast<const uint8_t*>(std::memchr(data, 0, size));
  size_t length = nul ? size_t(nul - data) : size;
  keyword.assign(reinterpret_cast<const char*>(data), length);
  return length + 1;
}

// Inflates a whole zlib stream; false on any error or when the result would
// exceed limit bytes.
bool InflateAll(const uint8_t* data, size_t size, size_t limit, std::string& out) {
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) return false;
  zs.next_in = const_cast<Bytef*>(data);
  zs.avail_in = uInt(size);
  std::string result;
  char buffer[16384];
  int ret = Z_OK;
  while (ret == Z_OK) {
    zs.next_out = reinterpret_cast<Bytef*>(buffer);
    zs.avail_out = sizeof buffer;
    ret = inflate(&zs, Z_NO_FLUSH);
    size_t produced = sizeof buffer - zs.avail_out;
    if (result.size() + produced > limit) ret = Z_MEM_ERROR;
    if (ret == Z_OK || ret == Z_STREAM_END) result.append(buffer, produced);
    // No progress possible: the data ended before the stream did.
    if (ret == Z_OK && produced == 0 && zs.avail_in == 0) ret = Z_BUF_ERROR;
  }
  inflateEnd(&zs);
  if (ret != Z_STREAM_END) return false;
  out = std::move(result);
  return true;
}

}  // namespace

void TChunktEXt::Assign(const TChunk& source) {
  const TChunkClass& cls = source.ChunkClass();
  TChunk::Assign(source);
  if (&cls == &TChunktEXt::StaticClass() || &cls == &TChunkzTXt::StaticClass()) {
    const auto& other = static_cast<const TChunktEXt&>(source);
    Keyword = other.Keyword;
    Text = other.Text;
  }
}

void TChunktEXt::LoadFromStream(PngStream& stream, const uint8_t kind[4], uint32_t size) {
  TChunk::LoadFromStream(stream, kind, size);
  if (PayloadSize() <= 2) return;
  size_t rest = SplitKeyword(Payload(), PayloadSize(), Keyword);
  if (rest < PayloadSize())
    Text.assign(reinterpret_cast<const char*>(Payload()) + rest, PayloadSize() - rest);
}

void TChunktEXt::SaveToStream(PngStream& stream) {
  SetPayloadSize(uint32_t(Keyword.size() + 1 + Text.size()));
  std::memcpy(Payload(), Keyword.data(), Keyword.size());
  std::memcpy(Payload() + Keyword.size() + 1, Text.data(), Text.size());
  TChunk::SaveToStream(stream);
}

void TChunkzTXt::LoadFromStream(PngStream& stream, const uint8_t kind[4], uint32_t size) {
  // The plain chunk reading, not the tEXt parsing.
  TChunk::LoadFromStream(stream, kind, size);  // NOLINT(bugprone-parent-virtual-call)
  if (PayloadSize() <= 3) return;
  size_t rest = SplitKeyword(Payload(), PayloadSize(), Keyword);
  // The compression method byte follows the keyword's NUL.
  size_t data = rest + 1;
  Text.clear();
  // The cap holds for the picture's compressed texts together: a thousand
  // small chunks must not inflate to gigabytes between them.
  size_t used = 0;
  const TPNGList& list = Owner().ChunkList();
  for (size_t i = 0; i < list.Count(); ++i) {
    const TChunk* other = list.Item(i);
    if (other && other != this && &other->ChunkClass() == &TChunkzTXt::StaticClass())
      used += static_cast<const TChunkzTXt*>(other)->Text.size();
  }
  if (data <= PayloadSize() && used < kMaxInflatedText)
    InflateAll(Payload() + data, PayloadSize() - data, kMaxInflatedText - used, Text);
}

void TChunkzTXt::SaveToStream(PngStream& stream) {
  if (Text.empty()) Text = " ";
  uLongf bound = compressBound(uLong(Text.size()));
  std::vector<uint8_t> packed(bound);
  int ret = compress2(packed.data(), &bound, reinterpret_cast<const Bytef*>(Text.data()),
                      uLong(Text.size()), Owner().DeflateLevel);
  if (ret != Z_OK) throw EPNGZLIBError(zError(ret));
  SetPayloadSize(uint32_t(Keyword.size() + 2 + bound));
  std::memcpy(Payload(), Keyword.data(), Keyword.size());
  // NUL and compression method 0 stay from the zero fill.
  std::memcpy(Payload() + Keyword.size() + 2, packed.data(), bound);
  TChunk::SaveToStream(stream);  // NOLINT(bugprone-parent-virtual-call): payload built here
}

}  // namespace kelm::png
