// The chunk classes: a PNG file is kept as an ordered list of these, one
// class per known chunk type; unknown ancillary chunks stay raw and are
// written back unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "png/png_storage.h"
#include "png/png_stream.h"

namespace kelm::png {

class PngPicture;
class TChunk;

// What the chunk registry knows of a chunk class: its type name and its
// virtual constructor.
struct TChunkClass {
  const char* typeName;  // "IHDR", ...; empty for the raw chunk class
  std::unique_ptr<TChunk> (*create)(PngPicture& owner);
};

class TChunk {
 public:
  explicit TChunk(PngPicture& owner);
  virtual ~TChunk();
  TChunk(const TChunk&) = delete;
  TChunk& operator=(const TChunk&) = delete;

  static const TChunkClass& StaticClass();
  virtual const TChunkClass& ChunkClass() const { return StaticClass(); }
  std::string TypeName() const { return ChunkClass().typeName; }

  // Copies the payload and type; classes with fields copy those too.
  virtual void Assign(const TChunk& source);
  // Reads size payload bytes and the CRC (the chunk's length and type have
  // been read already).
  virtual void LoadFromStream(PngStream& stream, const uint8_t kind[4], uint32_t size);
  // Writes length, type, payload and CRC, after rebuilding the payload.
  virtual void SaveToStream(PngStream& stream);

  PngPicture& Owner() const { return *owner_; }
  const uint8_t* Kind() const { return kind_; }
  std::string KindString() const { return std::string(reinterpret_cast<const char*>(kind_), 4); }
  const uint8_t* Payload() const { return payload_.data(); }
  uint8_t* Payload() { return payload_.data(); }
  uint32_t PayloadSize() const { return payloadSize_; }
  // Resizes the payload; it keeps one zero byte past its end.
  void SetPayloadSize(uint32_t size);

  // Writes one complete chunk.
  static void WriteChunk(PngStream& stream, const uint8_t kind[4], const uint8_t* data,
                         uint32_t size);

 protected:
  // Sets the type from the class's type name.
  void SetKindFromClass();

 private:
  PngPicture* owner_;
  std::vector<uint8_t> payload_;
  uint32_t payloadSize_ = 0;
  uint8_t kind_[4] = {};
};

// Declares the metaclass plumbing of one chunk class.
#define VH_PNG_CHUNK_CLASS(Name)           \
 public:                                   \
  explicit Name(PngPicture& owner);        \
  static const TChunkClass& StaticClass(); \
  const TChunkClass& ChunkClass() const override { return StaticClass(); }

class TChunkIEND : public TChunk {
  VH_PNG_CHUNK_CLASS(TChunkIEND)
};

class TChunkIHDR : public TChunk {
  VH_PNG_CHUNK_CLASS(TChunkIHDR)
  void Assign(const TChunk& source) override;
  void LoadFromStream(PngStream& stream, const uint8_t kind[4], uint32_t size) override;
  void SaveToStream(PngStream& stream) override;

  uint32_t Width = 0;
  uint32_t Height = 0;
  uint8_t BitDepth = 0;
  uint8_t ColourType = 0;
  uint8_t CompressionMethod = 0;
  uint8_t FilterMethod = 0;
  uint8_t InterlaceMethod = 0;

  // Zero-filled storage for the header's size and format; a header the
  // codec cannot hold raises its loading error.
  void PrepareStorage();
  PngStorage& Storage() { return storage_; }
  const PngStorage& Storage() const { return storage_; }

 private:
  PngStorage storage_;
};

// Bit depth a storage format is written with: 2-bit palette indices are kept
// as 4-bit nibbles and written so.
uint8_t WrittenBitDepth(uint8_t colourType, uint8_t bitDepth);

class TChunkIDAT : public TChunk {
  VH_PNG_CHUNK_CLASS(TChunkIDAT)
  // Decodes the run of IDAT chunks starting here into the header's storage.
  void LoadFromStream(PngStream& stream, const uint8_t kind[4], uint32_t size) override;
  // Encodes the storage as one or more IDAT chunks.
  void SaveToStream(PngStream& stream) override;
};

class TChunkPLTE : public TChunk {
  VH_PNG_CHUNK_CLASS(TChunkPLTE)
  void Assign(const TChunk& source) override;
  void LoadFromStream(PngStream& stream, const uint8_t kind[4], uint32_t size) override;
  void SaveToStream(PngStream& stream) override;
  // Entry i as stored in the picture; EPngError beyond EntryCount.
  PngRgbQuad Item(unsigned index) const;
  // Puts the file's colours, through the picture's GammaLut, into the
  // palette of a paletted storage (other storages ignore a palette).
  void ApplyToStorage() const;

  unsigned EntryCount = 0;
};

class TChunkgAMA : public TChunk {
  VH_PNG_CHUNK_CLASS(TChunkgAMA)
  void Assign(const TChunk& source) override;
  void LoadFromStream(PngStream& stream, const uint8_t kind[4], uint32_t size) override;
  // In 1/100000 units, kept in the payload.
  uint32_t Gamma() const;
  void SetGamma(uint32_t value);
};

class TChunktRNS : public TChunk {
  VH_PNG_CHUNK_CLASS(TChunktRNS)
  void Assign(const TChunk& source) override;
  void LoadFromStream(PngStream& stream, const uint8_t kind[4], uint32_t size) override;
  void SaveToStream(PngStream& stream) override;

  bool SingleTransparent = false;
  uint8_t AlphaTable[256];
};

class TChunkpHYs : public TChunk {
  VH_PNG_CHUNK_CLASS(TChunkpHYs)
  void Assign(const TChunk& source) override;
  void LoadFromStream(PngStream& stream, const uint8_t kind[4], uint32_t size) override;
  void SaveToStream(PngStream& stream) override;

  uint32_t PPUnitX = 0, PPUnitY = 0;
  uint8_t UnitType = 0;
};

class TChunktIME : public TChunk {
  VH_PNG_CHUNK_CLASS(TChunktIME)
  void Assign(const TChunk& source) override;
  void LoadFromStream(PngStream& stream, const uint8_t kind[4], uint32_t size) override;
  void SaveToStream(PngStream& stream) override;

  uint16_t Year = 0;
  uint8_t Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;
};

class TChunktEXt : public TChunk {
  VH_PNG_CHUNK_CLASS(TChunktEXt)
  void Assign(const TChunk& source) override;
  void LoadFromStream(PngStream& stream, const uint8_t kind[4], uint32_t size) override;
  void SaveToStream(PngStream& stream) override;

  std::string Keyword, Text;
};

class TChunkzTXt : public TChunktEXt {
  VH_PNG_CHUNK_CLASS(TChunkzTXt)
  void LoadFromStream(PngStream& stream, const uint8_t kind[4], uint32_t size) override;
  void SaveToStream(PngStream& stream) override;
};

#undef VH_PNG_CHUNK_CLASS

// Inflated zTXt text is capped, for all the zTXt chunks of a picture
// together, so that small chunks cannot demand unbounded memory; a text
// that would pass the cap stays empty.
constexpr size_t kMaxInflatedText = size_t(16) << 20;

// The registry: the first class whose type name equals the code, else the
// raw chunk class.
const TChunkClass& FindChunkClass(const uint8_t kind[4]);
std::unique_ptr<TChunk> CreateChunk(PngPicture& owner, const uint8_t kind[4]);

// Growable list of chunks; it owns them. Out-of-range reads give nothing.
class TPNGPointerList {
 public:
  size_t Count() const { return items_.size(); }
  TChunk* Item(size_t index) const { return index < items_.size() ? items_[index].get() : nullptr; }
  // Replaces (and frees) the chunk at index; out of range does nothing.
  void SetItem(size_t index, std::unique_ptr<TChunk> chunk);
  TChunk* Add(std::unique_ptr<TChunk> chunk);
  // Frees the chunk and closes the gap.
  void Remove(const TChunk* chunk);
  // Shrinking frees the chunks past the new end; growing adds empty places.
  void SetSize(size_t size);
  void Reserve(size_t size);
  // Chunks copied to a new array as the list grew, in all: tests check that
  // it stays proportional to the count.
  size_t MovedItems() const { return moved_; }

 private:
  void BeforeGrowingTo(size_t size);

  std::vector<std::unique_ptr<TChunk>> items_;
  size_t moved_ = 0;
};

class TPNGList : public TPNGPointerList {
 public:
  // First chunk of exactly the given class, or nothing.
  TChunk* ItemFromClass(const TChunkClass& chunkClass) const;
  template <typename T>
  T* Find() const {
    return static_cast<T*>(ItemFromClass(T::StaticClass()));
  }
};

}  // namespace kelm::png
