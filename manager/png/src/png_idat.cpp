// Image data: the run of IDAT chunks as one zlib stream of filtered rows,
// converted into and out of the picture's storage (PNG standard, sections
// 7 to 10).
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <optional>
#include <vector>

#include "png/png_bitmap.h"
#include "png/png_chunks.h"
#include "png/png_crc.h"
#include "png/png_errors.h"
#include "png/png_filters.h"
#include "png/png_picture.h"
#include "png/png_records.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kelm::png {

namespace {

constexpr uint8_t kIdat[4] = {'I', 'D', 'A', 'T'};
constexpr size_t kInputBufferSize = 65535;
// Inflated rows handled at a time: small enough to stay in the cache.
constexpr size_t kBatchBytes = 128 * 1024;

struct Pass {
  uint32_t x0, y0, dx, dy;
};
constexpr Pass kAdam7[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                            {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
constexpr Pass kWhole = {0, 0, 1, 1};

uint32_t PassSize(uint32_t size, uint32_t start, uint32_t step) {
  return size > start ? (size - start + step - 1) / step : 0;
}

size_t RowBytes(uint8_t colourType, uint8_t depth, uint32_t width) {
  uint64_t w = width;
  switch (colourType) {
    case kRgb:
      return size_t(w * depth * 3 / 8);
    case kGreyAlpha:
      return size_t(w * depth * 2 / 8);
    case kRgbAlpha:
      return size_t(w * depth * 4 / 8);
    default:
      return size_t((w * depth + 7) / 8);
  }
}

size_t PixelBytes(uint8_t colourType, uint8_t depth) {
  switch (colourType) {
    case kGrey:
      return depth == 16 ? 2 : 1;
    case kRgb:
      return depth * 3 / 8;
    case kGreyAlpha:
      return depth / 4;
    case kRgbAlpha:
      return depth / 2;
    default:
      return 1;
  }
}

// Sample i of a packed row of 1, 2 or 4 bits.
inline unsigned PackedSample(const uint8_t* row, uint32_t i, unsigned bits) {
  unsigned perByte = 8 / bits, shift = 8 - bits * (i % perByte + 1);
  return (row[i / perByte] >> shift) & ((1u << bits) - 1);
}
inline void PutPackedSample(uint8_t* row, uint32_t i, unsigned bits, unsigned value) {
  unsigned perByte = 8 / bits, shift = 8 - bits * (i % perByte + 1);
  unsigned mask = ((1u << bits) - 1) << shift;
  row[i / perByte] = uint8_t((row[i / perByte] & ~mask) | ((value << shift) & mask));
}

// Where one decoded or encoded row lives in the storage.
struct RowPlace {
  uint32_t y, x0, dx, count;
};

// ---- decoding ----

// What a decoded row is stored with: the gamma table, and for a true-colour
// picture with a transparent colour the file's key, whose pixels are noted
// in the alpha plane before correction can merge them with other colours.
struct StoreContext {
  const uint8_t* lut;
  bool identity;
  bool keyed;
  uint16_t key[3];
  // Rows of a whole image row's converted pixels, low bytes and alpha, made
  // in the cache before they go to the storage in one stream.
  uint8_t* stage;
  uint8_t* lowStage;
  uint8_t* alphaStage;
};

// Copies a converted row into the storage past the caches. The planes of a
// large picture are written once and are larger than the caches: an
// ordinary store would first fetch every line it overwrites, doubling the
// memory traffic that decoding is bound by.
void StreamRow(uint8_t* dst, const uint8_t* src, size_t n) {
#if defined(__SSE2__)
  size_t head = (16 - (reinterpret_cast<uintptr_t>(dst) & 15)) & 15;
  if (n >= head + 64) {
    std::memcpy(dst, src, head);
    size_t i = head;
    for (; i + 16 <= n; i += 16)
      _mm_stream_si128(reinterpret_cast<__m128i*>(dst + i),
                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i)));
    std::memcpy(dst + i, src + i, n - i);
    return;
  }
#endif
  std::memcpy(dst, src, n);
}

// Makes the streamed rows visible before the storage is handed on.
void FinishStreaming() {
#if defined(__SSE2__)
  _mm_sfence();
#endif
}

// A whole 16-bit true-colour row without correction: high bytes as B, G, R,
// low bytes likewise into the low-byte plane, alpha by its high byte.
template <bool kAlpha>
void StoreTrueColourRow16(const uint8_t* src, uint8_t* high, uint8_t* low, uint8_t* alpha,
                          uint32_t count) {
  const size_t step = kAlpha ? 8 : 6;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* p = src + i * step;
    uint8_t* h = high + size_t(i) * 3;
    uint8_t* l = low + size_t(i) * 3;
    h[0] = p[4];
    h[1] = p[2];
    h[2] = p[0];
    l[0] = p[5];
    l[1] = p[3];
    l[2] = p[1];
    if (kAlpha) alpha[i] = p[6];
  }
}

inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

// A whole row (no interlacing) without correction, the commonest load: each
// pixel but the last goes out as one 4-byte store whose spare byte the next
// pixel overwrites. Storage is little-endian: B, G, R from the low byte up.
template <bool kAlpha>
void StoreTrueColourRow8(const uint8_t* src, uint8_t* dst, uint8_t* alphaRow, uint32_t count) {
  const size_t step = kAlpha ? 4 : 3;
  const uint32_t last = count - 1;
  for (uint32_t i = 0; i < last; ++i) {
    uint32_t rgbx = Load32(src + i * step);
    uint32_t bgr = (rgbx >> 16 & 0xFFu) | (rgbx & 0xFF00u) | (rgbx & 0xFFu) << 16;
    std::memcpy(dst + size_t(i) * 3, &bgr, 4);
    if (kAlpha) alphaRow[i] = uint8_t(rgbx >> 24);
  }
  const uint8_t* p = src + size_t(last) * step;
  uint8_t* d = dst + size_t(last) * 3;
  d[0] = p[2];
  d[1] = p[1];
  d[2] = p[0];
  if (kAlpha) alphaRow[last] = p[3];
}

// 8-bit true colour, the common case, in one tight loop per variant.
template <bool kAlpha, bool kKeyed, bool kIdentity>
void StoreTrueColour8(const uint8_t* src, uint8_t* dst, uint8_t* alphaRow, const RowPlace& at,
                      const StoreContext& ctx) {
  if (kIdentity && !kKeyed && at.dx == 1 && at.x0 == 0 && at.count != 0) {
    StoreTrueColourRow8<kAlpha>(src, ctx.stage, ctx.alphaStage, at.count);
    StreamRow(dst, ctx.stage, size_t(at.count) * 3);
    if (kAlpha) StreamRow(alphaRow, ctx.alphaStage, at.count);
    return;
  }
  const uint8_t* lut = ctx.lut;
  const size_t step = kAlpha ? 4 : 3;
  const auto kr = uint8_t(ctx.key[0]), kg = uint8_t(ctx.key[1]), kb = uint8_t(ctx.key[2]);
  for (uint32_t i = 0; i < at.count; ++i) {
    const uint8_t* p = src + i * step;
    uint32_t x = at.x0 + i * at.dx;
    uint8_t* d = dst + size_t(x) * 3;
    uint8_t r = p[0], g = p[1], b = p[2];
    d[0] = kIdentity ? b : lut[b];
    d[1] = kIdentity ? g : lut[g];
    d[2] = kIdentity ? r : lut[r];
    if (kAlpha) alphaRow[x] = p[3];
    if (kKeyed) alphaRow[x] = r == kr && g == kg && b == kb ? 0 : 255;
  }
}

void StoreRow(const uint8_t* src, const RowPlace& at, const TChunkIHDR& header, PngStorage& storage,
              const StoreContext& ctx) {
  uint8_t* dst = storage.Row(at.y);
  const uint8_t depth = header.BitDepth;
  const unsigned bpp = storage.BitsPerPixel();
  const uint8_t* lut = ctx.lut;
  switch (header.ColourType) {
    case kGrey:
    case kPalette:
      if (depth == 16) {
        uint8_t* low = storage.LowRow(at.y);
        for (uint32_t i = 0; i < at.count; ++i) {
          uint32_t x = at.x0 + i * at.dx;
          dst[x] = src[2 * size_t(i)];
          low[x] = src[2 * size_t(i) + 1];
        }
      } else if (at.dx == 1 && depth == bpp) {
        StreamRow(dst, src, RowBytes(header.ColourType, depth, at.count));
      } else {
        // 2-bit samples widen to 4-bit nibbles of the same value.
        for (uint32_t i = 0; i < at.count; ++i)
          PngStorage::SetPacked(dst, at.x0 + i * at.dx, bpp,
                                depth == 8 ? src[i] : PackedSample(src, i, depth));
      }
      break;
    case kRgb:
    case kRgbAlpha: {
      const bool alpha = header.ColourType == kRgbAlpha;
      uint8_t* alphaRow = alpha || ctx.keyed ? storage.AlphaRow(at.y) : nullptr;
      // Without a gamma chunk the table is the identity: no look-ups.
      if (depth == 8 && ctx.identity) {
        if (alpha)
          StoreTrueColour8<true, false, true>(src, dst, alphaRow, at, ctx);
        else if (ctx.keyed)
          StoreTrueColour8<false, true, true>(src, dst, alphaRow, at, ctx);
        else
          StoreTrueColour8<false, false, true>(src, dst, alphaRow, at, ctx);
        break;
      }
      const size_t sample = depth / 8u, step = (alpha ? 4u : 3u) * sample;
      uint8_t* low = depth == 16 ? storage.LowRow(at.y) : nullptr;
      if (low && ctx.identity && !ctx.keyed && at.dx == 1 && at.x0 == 0) {
        if (alpha)
          StoreTrueColourRow16<true>(src, ctx.stage, ctx.lowStage, ctx.alphaStage, at.count);
        else
          StoreTrueColourRow16<false>(src, ctx.stage, ctx.lowStage, nullptr, at.count);
        StreamRow(dst, ctx.stage, size_t(at.count) * 3);
        StreamRow(low, ctx.lowStage, size_t(at.count) * 3);
        if (alpha) StreamRow(alphaRow, ctx.alphaStage, at.count);
        break;
      }
      // The file's samples go into the sample plane as they are, so that
      // saving writes them back whatever the correction merged.
      uint8_t* kept = storage.HasSamples() ? storage.SampleRow(at.y) : nullptr;
      for (uint32_t i = 0; i < at.count; ++i) {
        const uint8_t* p = src + i * step;
        uint32_t x = at.x0 + i * at.dx;
        uint8_t* d = dst + size_t(x) * 3;
        const uint8_t r = p[0], g = p[sample], b = p[2 * sample];
        d[0] = lut[b];
        d[1] = lut[g];
        d[2] = lut[r];
        if (kept) {
          uint8_t* k = kept + size_t(x) * 3;
          k[0] = b;
          k[1] = g;
          k[2] = r;
        }
        if (low) {
          uint8_t* l = low + size_t(x) * 3;
          l[0] = lut[p[5]];
          l[1] = lut[p[3]];
          l[2] = lut[p[1]];
        }
        if (alpha) alphaRow[x] = p[3 * sample];
        if (ctx.keyed) {
          bool isKey = low ? GetBE16(p) == ctx.key[0] && GetBE16(p + 2) == ctx.key[1] &&
                                 GetBE16(p + 4) == ctx.key[2]
                           : r == uint8_t(ctx.key[0]) && g == uint8_t(ctx.key[1]) &&
                                 b == uint8_t(ctx.key[2]);
          alphaRow[x] = isKey ? 0 : 255;
        }
      }
      break;
    }
    case kGreyAlpha: {
      const size_t sample = depth / 8u;
      uint8_t* low = depth == 16 ? storage.LowRow(at.y) : nullptr;
      uint8_t* alphaRow = storage.AlphaRow(at.y);
      for (uint32_t i = 0; i < at.count; ++i) {
        const uint8_t* p = src + size_t(i) * 2 * sample;
        uint32_t x = at.x0 + i * at.dx;
        dst[x] = p[0];
        if (low) low[x] = p[1];
        alphaRow[x] = p[sample];
      }
      break;
    }
    default:
      break;
  }
}

// The run of IDAT chunks as one byte source, checking each chunk's CRC.
// Whole chunks that follow the one being read are gathered into the same
// piece while they fit: zlib then inflates long stretches per call instead
// of one small chunk at a time (files commonly hold 8 KB chunks), which
// saves its per-call work and the copy of its window on every return. What
// a file shows is what it showed before: a chunk is gathered only when it
// is an IDAT chunk whose CRC holds; anything else (another chunk type, a
// bad CRC, a short stream) is left unread for the chunk-by-chunk path, which
// reports it only if the rows need those bytes. Gathered chunks the zlib
// stream does not reach are image chunks after its end, which the chunk
// loop would pass over unread anyway.
class IdatInput {
 public:
  IdatInput(PngStream& stream, uint32_t firstLength)
      : stream_(stream),
        left_(firstLength),
        crc_(PngCrcUpdate(kCrcInit, kIdat, 4)),
        buffer_(kInputBufferSize) {}

  // Next piece of compressed data; never empty.
  size_t Next(const uint8_t** data) {
    size_t filled = 0;
    while (filled == 0) {
      while (left_ == 0) NextChunk();
      size_t got = stream_.Read(buffer_.data(), size_t(std::min<uint64_t>(left_, buffer_.size())));
      if (got == 0) throw EPngUnexpectedEnd();
      crc_ = PngCrcUpdate(crc_, buffer_.data(), got);
      left_ -= got;
      filled = got;
    }
    while (left_ == 0 && filled < buffer_.size() && Gather(filled)) {
    }
    *data = buffer_.data();
    return filled;
  }

  // Reads the rest of the current chunk (the tail of the zlib stream the
  // rows did not need) and checks its CRC.
  void Finish() {
    while (left_ != 0) {
      size_t got = stream_.Read(buffer_.data(), size_t(std::min<uint64_t>(left_, buffer_.size())));
      if (got == 0) throw EPngUnexpectedEnd();
      crc_ = PngCrcUpdate(crc_, buffer_.data(), got);
      left_ -= got;
    }
    if (!crcChecked_) CheckCrc();
  }

 private:
  void CheckCrc() {
    uint8_t stored[4];
    if (stream_.Read(stored, 4) != 4) throw EPngUnexpectedEnd();
    if (GetBE32(stored) != PngCrcFinish(crc_)) throw EPngInvalidCRC();
    crcChecked_ = true;
  }

  void NextChunk() {
    if (!crcChecked_) CheckCrc();
    PngChunkHead head;
    if (stream_.Read(&head, sizeof head) != sizeof head) throw EPngUnexpectedEnd();
    if (std::memcmp(head.type, kIdat, 4) != 0) throw EPNGMissingMultipleIDAT();
    uint32_t length = GetBE32(head.length);
    if (length > kMaxChunkLength) throw EPngUnexpectedEnd();
    crc_ = PngCrcUpdate(kCrcInit, kIdat, 4);
    crcChecked_ = false;
    left_ = length;
  }

  // Appends the next chunk whole to the piece when it is a sound IDAT chunk
  // that fits; otherwise leaves the stream where it was and returns false.
  bool Gather(size_t& filled) {
    uint64_t position = stream_.Position();
    if (!crcChecked_) {
      uint8_t stored[4];
      if (stream_.Read(stored, 4) != 4 || GetBE32(stored) != PngCrcFinish(crc_)) {
        stream_.Seek(position);
        return false;
      }
      crcChecked_ = true;
      position += 4;
    }
    PngChunkHead head;
    uint8_t stored[4];
    bool sound =
        stream_.Read(&head, sizeof head) == sizeof head && std::memcmp(head.type, kIdat, 4) == 0;
    const uint32_t length = sound ? GetBE32(head.length) : 0;
    sound = sound && length <= buffer_.size() - filled &&
            stream_.Read(buffer_.data() + filled, length) == length &&
            stream_.Read(stored, 4) == 4 &&
            GetBE32(stored) == PngCrcFinish(PngCrcUpdate(PngCrcUpdate(kCrcInit, kIdat, 4),
                                                         buffer_.data() + filled, length));
    if (!sound) {
      stream_.Seek(position);
      return false;
    }
    filled += length;
    return true;
  }

  PngStream& stream_;
  uint64_t left_;
  uint32_t crc_;
  bool crcChecked_ = false;
  std::vector<uint8_t> buffer_;
};

class Inflater {
 public:
  Inflater() {
    if (inflateInit(&zs_) != Z_OK) throw EPNGZLIBError(Message(Z_MEM_ERROR));
#if ZLIB_VERNUM >= 0x1290
    // Every byte of the image data is checked by its chunk's CRC; the rows
    // are complete before the stream's own trailer need be reached, so its
    // Adler-32 would be summed over every inflated byte to be compared at
    // best now and then.
    inflateValidate(&zs_, 0);
#endif
  }
  ~Inflater() { inflateEnd(&zs_); }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;

  // Inflates size bytes into out; fewer only when the zlib stream ended
  // first. Returns how many.
  size_t Fill(IdatInput& input, uint8_t* out, size_t size) {
    zs_.next_out = out;
    zs_.avail_out = uInt(size);
    while (zs_.avail_out != 0 && !ended_) {
      if (zs_.avail_in == 0) {
        const uint8_t* data = nullptr;
        zs_.avail_in = uInt(input.Next(&data));
        zs_.next_in = const_cast<Bytef*>(data);
      }
      int ret = inflate(&zs_, Z_NO_FLUSH);
      // A preset dictionary is not allowed in PNG and would never progress.
      if (ret == Z_NEED_DICT) throw EPNGZLIBError("preset dictionary");
      if (ret < 0 && ret != Z_BUF_ERROR) throw EPNGZLIBError(Message(ret));
      if (ret == Z_STREAM_END) ended_ = true;
    }
    return size - zs_.avail_out;
  }
  // How much the last Fill into out wrote, also when it failed.
  size_t Filled(const uint8_t* out) const { return size_t(zs_.next_out - out); }

 private:
  std::string Message(int ret) const { return zs_.msg ? zs_.msg : zError(ret); }
  z_stream zs_{};
  bool ended_ = false;
};

// ---- encoding ----

// A grey or true-colour picture with a transparent colour is written so
// that exactly the pixels that held the key hold it again: key pixels are
// written as the whole key (not as their corrected colour or their high
// byte alone), and any other pixel whose written form would equal the key
// is told apart by its own low bytes, another sample value with the same
// corrected colour, or, failing both, a change of one in its last sample.
struct KeyContext {
  std::array<uint16_t, 3> key;
  const uint8_t* lut;
};

void WriteKeyedPixel(uint8_t* p, uint32_t x, uint32_t y, const TChunkIHDR& header,
                     const PngStorage& storage, const uint8_t* inverse, const KeyContext& k) {
  const bool wide = header.BitDepth == 16;
  const size_t samples = header.ColourType == kGrey ? 1 : 3;
  auto written = [&](size_t c) { return wide ? GetBE16(p + 2 * c) : uint16_t(p[c]); };
  if (MatchesColourKey(header, k.key, k.lut, x, y)) {
    for (size_t c = 0; c < samples; ++c) {
      if (wide)
        PutBE16(p + 2 * c, k.key[c]);
      else
        p[c] = uint8_t(k.key[c]);
    }
    return;
  }
  auto isKey = [&] {
    for (size_t c = 0; c < samples; ++c)
      if (written(c) != (wide ? k.key[c] : uint8_t(k.key[c]))) return false;
    return true;
  };
  if (!isKey()) return;
  if (wide) {
    if (header.ColourType == kGrey) {
      p[1] = storage.LowRow(y)[x];
    } else {
      const uint8_t* low = storage.LowRow(y) + size_t(x) * 3;
      for (size_t c = 0; c < 3; ++c) p[2 * c + 1] = inverse[low[2 - c]];
    }
  } else {
    const uint8_t* bgr = storage.Row(y) + size_t(x) * 3;
    for (size_t c = 0; c < 3 && isKey(); ++c)
      for (unsigned v = 0; v < 256; ++v)
        if (v != p[c] && k.lut[v] == bgr[2 - c]) {
          p[c] = uint8_t(v);
          break;
        }
  }
  if (isKey()) p[wide ? 2 * samples - 1 : samples - 1] ^= 1;
}

// A stored corrected sample goes out as the file's own sample when that
// still shows as it; a changed one through the inverse table.
inline uint8_t WrittenSample(uint8_t stored, const uint8_t* kept, size_t i, const uint8_t* lut,
                             const uint8_t* inverse) {
  return kept && lut[kept[i]] == stored ? kept[i] : inverse[stored];
}

void LoadRow(uint8_t* out, const RowPlace& at, const TChunkIHDR& header, const PngStorage& storage,
             const uint8_t* lut, const uint8_t* inverse, const KeyContext* key) {
  const uint8_t* src = storage.Row(at.y);
  const uint8_t depth = header.BitDepth;
  const unsigned bpp = storage.BitsPerPixel();
  switch (header.ColourType) {
    case kGrey:
    case kPalette:
      if (depth == 16) {
        // The low-byte plane is not written: samples go out as high byte, 0.
        for (uint32_t i = 0; i < at.count; ++i) {
          out[2 * size_t(i)] = src[at.x0 + i * at.dx];
          out[2 * size_t(i) + 1] = 0;
          if (key)
            WriteKeyedPixel(out + 2 * size_t(i), at.x0 + i * at.dx, at.y, header, storage, inverse,
                            *key);
        }
      } else if (depth == 8) {
        for (uint32_t i = 0; i < at.count; ++i) out[i] = src[at.x0 + i * at.dx];
      } else {
        unsigned written = WrittenBitDepth(header.ColourType, depth);
        if (at.dx == 1 && written == bpp) {
          std::memcpy(out, src, RowBytes(header.ColourType, uint8_t(written), at.count));
          break;
        }
        std::memset(out, 0, RowBytes(header.ColourType, uint8_t(written), at.count));
        for (uint32_t i = 0; i < at.count; ++i)
          PutPackedSample(out, i, written, PngStorage::GetPacked(src, at.x0 + i * at.dx, bpp));
      }
      break;
    case kRgb:
    case kRgbAlpha: {
      const bool alpha = header.ColourType == kRgbAlpha;
      const size_t sample = depth / 8u;
      const size_t step = (alpha ? 4u : 3u) * sample;
      const uint8_t* alphaRow = alpha ? storage.AlphaRow(at.y) : nullptr;
      const uint8_t* keptRow = storage.HasSamples() ? storage.SampleRow(at.y) : nullptr;
      for (uint32_t i = 0; i < at.count; ++i) {
        uint8_t* p = out + i * step;
        uint32_t x = at.x0 + i * at.dx;
        const uint8_t* s = src + size_t(x) * 3;
        const uint8_t* kept = keptRow ? keptRow + size_t(x) * 3 : nullptr;
        if (sample == 2) std::memset(p, 0, step);
        p[0] = WrittenSample(s[2], kept, 2, lut, inverse);
        p[sample] = WrittenSample(s[1], kept, 1, lut, inverse);
        p[2 * sample] = WrittenSample(s[0], kept, 0, lut, inverse);
        if (alphaRow) p[3 * sample] = alphaRow[x];
        if (key) WriteKeyedPixel(p, x, at.y, header, storage, inverse, *key);
      }
      break;
    }
    case kGreyAlpha: {
      const size_t sample = depth / 8u;
      const uint8_t* alphaRow = storage.AlphaRow(at.y);
      for (uint32_t i = 0; i < at.count; ++i) {
        uint8_t* p = out + size_t(i) * 2 * sample;
        uint32_t x = at.x0 + i * at.dx;
        if (sample == 2) std::memset(p, 0, 4);
        p[0] = src[x];
        p[sample] = alphaRow[x];
      }
      break;
    }
    default:
      break;
  }
}

// Deflates rows and writes the output as IDAT chunks of at most limit bytes.
class IdatWriter {
 public:
  IdatWriter(PngStream& stream, int level, uint32_t limit) : stream_(stream), out_(limit) {
    int ret = deflateInit(&zs_, level);
    if (ret != Z_OK) throw EPNGZLIBError(zError(ret));
    Reset();
  }
  ~IdatWriter() { deflateEnd(&zs_); }
  IdatWriter(const IdatWriter&) = delete;
  IdatWriter& operator=(const IdatWriter&) = delete;

  void Write(const uint8_t* data, size_t size) {
    zs_.next_in = const_cast<Bytef*>(data);
    zs_.avail_in = uInt(size);
    while (zs_.avail_in != 0) Step(Z_NO_FLUSH);
  }

  void Finish() {
    while (Step(Z_FINISH) != Z_STREAM_END) {
    }
    if (zs_.avail_out != out_.size()) Flush();
  }

 private:
  int Step(int flush) {
    int ret = deflate(&zs_, flush);
    if (ret == Z_STREAM_ERROR) throw EPNGZLIBError(zs_.msg ? zs_.msg : zError(ret));
    if (zs_.avail_out == 0) Flush();
    return ret;
  }
  void Flush() {
    TChunk::WriteChunk(stream_, kIdat, out_.data(), uint32_t(out_.size() - zs_.avail_out));
    Reset();
  }
  void Reset() {
    zs_.next_out = out_.data();
    zs_.avail_out = uInt(out_.size());
  }

  PngStream& stream_;
  std::vector<uint8_t> out_;
  z_stream zs_{};
};

// Picks the filter for a row from the allowed set, leaving its filtered
// form in candidates[filter] after the place of the filter-type byte.
PngFilter ChooseFilter(PngFilterSet allowed, const uint8_t* raw, const uint8_t* prev,
                       std::vector<std::vector<uint8_t>>& candidates, size_t rowBytes,
                       size_t pixelBytes) {
  unsigned count = 0;
  for (unsigned f = 0; f < kFilterCount; ++f) {
    if (!(allowed & FilterBit(PngFilter(f)))) continue;
    FilterRow(PngFilter(f), raw, prev, candidates[f].data() + 1, rowBytes, pixelBytes);
    ++count;
  }
  if (count == 0 || allowed == FilterBit(kFilterNone)) return kFilterNone;
  if (count == 1) {
    for (unsigned f = 0; f < kFilterCount; ++f)
      if (allowed & FilterBit(PngFilter(f))) return PngFilter(f);
  }
  PngFilter best = kFilterNone;
  size_t bestScore = 0;
  for (unsigned f = 0; f < kFilterCount; ++f) {
    if (!(allowed & FilterBit(PngFilter(f)))) continue;
    size_t score = FilterScore(candidates[f].data() + 1, rowBytes);
    if (score > bestScore) {
      bestScore = score;
      best = PngFilter(f);
    }
  }
  return best;
}

}  // namespace

void TChunkIDAT::LoadFromStream(PngStream& stream, const uint8_t kind[4], uint32_t size) {
  // No payload is kept: the rows are decoded straight from the stream.
  (void)kind;
  if (size > kMaxChunkLength) throw EPngUnexpectedEnd();
  PngPicture& picture = Owner();
  TChunkIHDR& header = picture.RequireHeader();
  PngStorage& storage = header.Storage();
  const uint8_t colourType = header.ColourType, depth = header.BitDepth;
  const size_t pixelBytes = PixelBytes(colourType, depth);
  const size_t fullRow = RowBytes(colourType, depth, header.Width);

  // The gamma is final now (it must come before the image data): the
  // palette or grey ramp takes it once, whatever order the chunks came in.
  if (const TChunkPLTE* plte = picture.ChunkList().Find<TChunkPLTE>()) plte->ApplyToStorage();
  storage.SetGreyRamp(picture.GammaLut);
  // Whole rows are staged: B, G, R (or 16-bit high bytes) plus 4 spare
  // bytes for the 4-byte stores, low bytes, alpha.
  std::vector<uint8_t> stages(size_t(header.Width) * 7 + 4);
  StoreContext ctx{picture.GammaLut,
                   true,
                   false,
                   {},
                   stages.data(),
                   stages.data() + size_t(header.Width) * 3 + 4,
                   stages.data() + size_t(header.Width) * 6 + 4};
  for (int i = 0; i < 256; ++i) ctx.identity = ctx.identity && picture.GammaLut[i] == i;
  if (!ctx.identity && (colourType == kRgb || colourType == kRgbAlpha)) storage.AddSamplePlane();
  if (colourType == kRgb) {
    const TChunktRNS* trns = picture.ChunkList().Find<TChunktRNS>();
    if (trns && trns->PayloadSize() >= 6) {
      storage.AddAlphaPlane();
      ctx.keyed = true;
      for (size_t c = 0; c < 3; ++c) ctx.key[c] = GetBE16(trns->AlphaTable + 2 * c);
    }
  }

  IdatInput input(stream, size);
  Inflater inflater;
  // Rows are inflated several at a time, straight into the buffer they are
  // unfiltered in: zlib's fast loop runs on long stretches, and each row is
  // still in the cache when it is unfiltered and stored.
  const size_t fullStride = fullRow + 1;
  const size_t batchRows = std::max<size_t>(1, kBatchBytes / fullStride);
  std::vector<uint8_t> batch(batchRows * fullStride);
  std::vector<uint8_t> previous(fullRow);
  const bool interlaced = header.InterlaceMethod == 1;
  for (unsigned p = 0; p < (interlaced ? 7u : 1u); ++p) {
    const Pass& pass = interlaced ? kAdam7[p] : kWhole;
    uint32_t width = PassSize(header.Width, pass.x0, pass.dx);
    uint32_t height = PassSize(header.Height, pass.y0, pass.dy);
    if (width == 0 || height == 0) continue;
    const size_t rowBytes = RowBytes(colourType, depth, width);
    const size_t stride = rowBytes + 1;
    // Each pass starts from a zero previous row.
    std::fill(previous.begin(), previous.end(), 0);
    for (uint32_t r = 0; r < height;) {
      const auto rows = uint32_t(std::min<size_t>(batchRows, height - r));
      // Rows inflated before a failure are still stored, then it goes on.
      std::exception_ptr failure;
      size_t got = 0;
      try {
        got = inflater.Fill(input, batch.data(), rows * stride);
      } catch (...) {
        failure = std::current_exception();
        got = inflater.Filled(batch.data());
      }
      const uint8_t* prev = previous.data();
      for (size_t k = 0; k < got / stride; ++k, ++r) {
        uint8_t* row = batch.data() + k * stride;
        UnfilterRow(row[0], row + 1, prev, rowBytes, pixelBytes);
        StoreRow(row + 1, {pass.y0 + r * pass.dy, pass.x0, pass.dx, width}, header, storage, ctx);
        prev = row + 1;
      }
      FinishStreaming();
      if (failure) std::rethrow_exception(failure);
      // A zlib stream that ends before the last row is a cut-off image: the
      // rows decoded so far stay, the rest stay zero, and the load fails.
      if (got != rows * stride) {
        input.Finish();
        throw EPngUnexpectedEnd();
      }
      std::memcpy(previous.data(), prev, rowBytes);
    }
  }
  input.Finish();
}

void TChunkIDAT::SaveToStream(PngStream& stream) {
  PngPicture& picture = Owner();
  TChunkIHDR& header = picture.RequireHeader();
  const PngStorage& storage = header.Storage();
  const uint8_t colourType = header.ColourType;
  const uint8_t depth = WrittenBitDepth(colourType, header.BitDepth);
  const size_t pixelBytes = PixelBytes(colourType, depth);
  const size_t fullRow = RowBytes(colourType, depth, header.Width);

  // Only 16-bit grey and true colour can lose their key in writing.
  std::optional<KeyContext> keyContext;
  if (std::optional<std::array<uint16_t, 3>> key = ColourKey(picture))
    if (colourType == kRgb || depth == 16) keyContext = KeyContext{*key, picture.GammaLut};

  IdatWriter writer(stream, picture.DeflateLevel, picture.IdatLimit());
  std::vector<uint8_t> raw(fullRow), prev(fullRow);
  // Each candidate starts with its filter-type byte, so that a row goes to
  // zlib in one piece.
  std::vector<std::vector<uint8_t>> candidates(kFilterCount, std::vector<uint8_t>(fullRow + 1));
  const bool interlaced = picture.Interlacing == 1;
  for (unsigned p = 0; p < (interlaced ? 7u : 1u); ++p) {
    const Pass& pass = interlaced ? kAdam7[p] : kWhole;
    uint32_t width = PassSize(header.Width, pass.x0, pass.dx);
    uint32_t height = PassSize(header.Height, pass.y0, pass.dy);
    if (width == 0 || height == 0) continue;
    size_t rowBytes = RowBytes(colourType, depth, width);
    std::fill(prev.begin(), prev.end(), 0);
    for (uint32_t r = 0; r < height; ++r) {
      LoadRow(raw.data(), {pass.y0 + r * pass.dy, pass.x0, pass.dx, width}, header, storage,
              picture.GammaLut, picture.InverseGammaLut, keyContext ? &*keyContext : nullptr);
      PngFilter filter = ChooseFilter(picture.RowFilters, raw.data(), prev.data(), candidates,
                                      rowBytes, pixelBytes);
      std::vector<uint8_t>& out = candidates[filter];
      // None is chosen without being allowed when nothing else is.
      if (!(picture.RowFilters & FilterBit(filter)))
        FilterRow(filter, raw.data(), prev.data(), out.data() + 1, rowBytes, pixelBytes);
      out[0] = filter;
      writer.Write(out.data(), rowBytes + 1);
      std::swap(raw, prev);
    }
  }
  writer.Finish();
}

}  // namespace kelm::png
