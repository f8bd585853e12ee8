#include "png_test_image.h"

#include <zlib.h>

#include <cstdlib>
#include <random>

namespace kelm::test {

namespace {

const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// Adam7 as the standard's figure gives it: which pass each pixel of an 8x8
// block belongs to.
const uint8_t kAdam7Block[8][8] = {{1, 6, 4, 6, 2, 6, 4, 6}, {7, 7, 7, 7, 7, 7, 7, 7},
                                   {5, 6, 5, 6, 5, 6, 5, 6}, {7, 7, 7, 7, 7, 7, 7, 7},
                                   {3, 6, 4, 6, 3, 6, 4, 6}, {7, 7, 7, 7, 7, 7, 7, 7},
                                   {5, 6, 5, 6, 5, 6, 5, 6}, {7, 7, 7, 7, 7, 7, 7, 7}};

void Put32(std::vector<uint8_t>& v, uint32_t x) {
  for (int s = 24; s >= 0; s -= 8) v.push_back(uint8_t(x >> s));
}
uint32_t Get32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// The pixels of one pass (or of the whole image), as coordinate lists per row.
std::vector<std::vector<std::pair<uint32_t, uint32_t>>> PassRows(uint32_t w, uint32_t h, int pass) {
  std::vector<std::vector<std::pair<uint32_t, uint32_t>>> rows;
  for (uint32_t y = 0; y < h; ++y) {
    std::vector<std::pair<uint32_t, uint32_t>> row;
    for (uint32_t x = 0; x < w; ++x)
      if (pass == 0 || kAdam7Block[y % 8][x % 8] == pass) row.emplace_back(x, y);
    if (!row.empty()) rows.push_back(row);
  }
  return rows;
}

size_t BitsPerPixel(const Image& im) { return size_t(im.Channels()) * im.bitDepth; }

std::vector<uint8_t> PackRow(const Image& im,
                             const std::vector<std::pair<uint32_t, uint32_t>>& pixels) {
  size_t bits = BitsPerPixel(im) * pixels.size();
  std::vector<uint8_t> row((bits + 7) / 8, 0);
  size_t bit = 0;
  for (auto [x, y] : pixels) {
    for (unsigned c = 0; c < im.Channels(); ++c) {
      uint16_t s = im.At(x, y, c);
      if (im.bitDepth == 16) {
        row[bit / 8] = uint8_t(s >> 8);
        row[bit / 8 + 1] = uint8_t(s);
      } else if (im.bitDepth == 8) {
        row[bit / 8] = uint8_t(s);
      } else {
        row[bit / 8] |= uint8_t(s << (8 - im.bitDepth - bit % 8));
      }
      bit += im.bitDepth;
    }
  }
  return row;
}

void UnpackRow(Image& im, const std::vector<std::pair<uint32_t, uint32_t>>& pixels,
               const uint8_t* row) {
  size_t bit = 0;
  for (auto [x, y] : pixels) {
    for (unsigned c = 0; c < im.Channels(); ++c) {
      uint16_t s;
      if (im.bitDepth == 16)
        s = uint16_t(row[bit / 8] << 8 | row[bit / 8 + 1]);
      else if (im.bitDepth == 8)
        s = row[bit / 8];
      else
        s = (row[bit / 8] >> (8 - im.bitDepth - bit % 8)) & ((1 << im.bitDepth) - 1);
      im.At(x, y, c) = s;
      bit += im.bitDepth;
    }
  }
}

int Predict(int type, int a, int b, int c) {
  switch (type) {
    case 1:
      return a;
    case 2:
      return b;
    case 3:
      return (a + b) / 2;
    case 4: {
      int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
      return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
    }
    default:
      return 0;
  }
}

}  // namespace

unsigned Image::Channels() const {
  switch (colourType) {
    case 2:
      return 3;
    case 4:
      return 2;
    case 6:
      return 4;
    default:
      return 1;
  }
}

Image RandomImage(uint32_t width, uint32_t height, uint8_t colourType, uint8_t bitDepth,
                  uint32_t seed) {
  Image im;
  im.width = width;
  im.height = height;
  im.colourType = colourType;
  im.bitDepth = bitDepth;
  std::mt19937 rng(seed);
  uint32_t max = (1u << bitDepth) - 1;
  im.samples.resize(size_t(width) * height * im.Channels());
  // Runs of repeated samples give the filters and zlib something to find.
  for (size_t i = 0; i < im.samples.size(); ++i)
    im.samples[i] = (i > 0 && rng() % 3 == 0) ? im.samples[i - 1] : uint16_t(rng() % (max + 1));
  if (colourType == 3)
    for (uint32_t i = 0; i <= max; ++i)
      im.palette.push_back({uint8_t(rng()), uint8_t(rng()), uint8_t(rng())});
  return im;
}

std::vector<uint8_t> Compress(const std::vector<uint8_t>& bytes, int level) {
  uLongf size = compressBound(uLong(bytes.size()));
  std::vector<uint8_t> z(size);
  if (compress2(z.data(), &size, bytes.data(), uLong(bytes.size()), level) != Z_OK) abort();
  z.resize(size);
  return z;
}

uint32_t Crc32(const uint8_t* data, size_t size) {
  // Bit by bit, straight from the standard's definition.
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

std::vector<uint8_t> MakeChunk(const std::string& type, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> out;
  Put32(out, uint32_t(data.size()));
  out.insert(out.end(), type.begin(), type.end());
  out.insert(out.end(), data.begin(), data.end());
  Put32(out, Crc32(out.data() + 4, out.size() - 4));
  return out;
}

std::vector<uint8_t> Encode(const Image& im, const EncodeOptions& options) {
  // Filtered scan lines.
  std::vector<uint8_t> raw;
  size_t bpp = (BitsPerPixel(im) + 7) / 8;
  int rowIndex = 0;
  for (int pass = options.interlace ? 1 : 0; pass <= (options.interlace ? 7 : 0); ++pass) {
    std::vector<uint8_t> prev;
    for (const auto& pixels : PassRows(im.width, im.height, pass)) {
      std::vector<uint8_t> row = PackRow(im, pixels);
      if (prev.empty()) prev.assign(row.size(), 0);
      int type = options.filter >= 0 ? options.filter : rowIndex % 5;
      ++rowIndex;
      raw.push_back(uint8_t(type));
      for (size_t i = 0; i < row.size(); ++i) {
        int a = i >= bpp ? row[i - bpp] : 0, b = prev[i], c = i >= bpp ? prev[i - bpp] : 0;
        raw.push_back(uint8_t(row[i] - Predict(type, a, b, c)));
      }
      prev = row;
    }
  }
  std::vector<uint8_t> z = Compress(raw, options.level);

  std::vector<uint8_t> file(kSignature, kSignature + 8);
  auto add = [&file](const std::string& type, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> c = MakeChunk(type, data);
    file.insert(file.end(), c.begin(), c.end());
  };
  std::vector<uint8_t> ihdr;
  Put32(ihdr, im.width);
  Put32(ihdr, im.height);
  ihdr.insert(ihdr.end(), {im.bitDepth, im.colourType, 0, 0, uint8_t(options.interlace)});
  add("IHDR", ihdr);
  if (im.colourType == 3) {
    std::vector<uint8_t> plte;
    for (auto& e : im.palette) plte.insert(plte.end(), e.begin(), e.end());
    add("PLTE", plte);
  }
  for (const Chunk& c : options.beforeImage) add(c.type, c.data);

  std::vector<size_t> cuts;
  if (options.oneBytePerIdat)
    for (size_t i = 1; i < z.size(); ++i) cuts.push_back(i);
  for (long cut : options.cuts) {
    long at = cut < 0 ? long(z.size()) + cut : cut;
    if (at > 0 && size_t(at) < z.size()) cuts.push_back(size_t(at));
  }
  cuts.push_back(z.size());
  size_t start = 0;
  for (size_t end : cuts) {
    if (end <= start) continue;
    add("IDAT", std::vector<uint8_t>(z.begin() + long(start), z.begin() + long(end)));
    start = end;
  }
  for (const Chunk& c : options.afterImage) add(c.type, c.data);
  add("IEND", {});
  return file;
}

std::vector<FileChunk> ListChunks(const std::vector<uint8_t>& file) {
  std::vector<FileChunk> chunks;
  size_t pos = 8;
  while (pos + 12 <= file.size()) {
    uint32_t length = Get32(&file[pos]);
    if (length > file.size() - pos - 12) break;
    FileChunk c;
    c.offset = pos;
    c.type.assign(file.begin() + long(pos + 4), file.begin() + long(pos + 8));
    c.data.assign(file.begin() + long(pos + 8), file.begin() + long(pos + 8 + length));
    c.crcOk = Crc32(&file[pos + 4], length + 4) == Get32(&file[pos + 8 + length]);
    chunks.push_back(c);
    pos += 12 + length;
  }
  return chunks;
}

bool Decode(const std::vector<uint8_t>& file, Image* out, std::string* why,
            std::vector<uint8_t>* filters) {
  auto fail = [why](const std::string& reason) {
    *why = reason;
    return false;
  };
  if (file.size() < 8 || !std::equal(kSignature, kSignature + 8, file.begin()))
    return fail("signature");
  std::vector<FileChunk> chunks = ListChunks(file);
  if (chunks.empty() || chunks[0].type != "IHDR" || chunks[0].data.size() != 13)
    return fail("IHDR");
  Image im;
  const uint8_t* h = chunks[0].data.data();
  im.width = Get32(h);
  im.height = Get32(h + 4);
  im.bitDepth = h[8];
  im.colourType = h[9];
  bool interlace = h[12] == 1;
  std::vector<uint8_t> z;
  for (const FileChunk& c : chunks) {
    if (!c.crcOk) return fail("CRC of " + c.type);
    if (c.type == "IDAT") z.insert(z.end(), c.data.begin(), c.data.end());
    if (c.type == "PLTE")
      for (size_t i = 0; i + 2 < c.data.size(); i += 3)
        im.palette.push_back({c.data[i], c.data[i + 1], c.data[i + 2]});
  }
  if (chunks.back().type != "IEND") return fail("IEND");
  im.samples.assign(size_t(im.width) * im.height * im.Channels(), 0);

  size_t bpp = (BitsPerPixel(im) + 7) / 8;
  size_t expected = 0;
  std::vector<std::vector<std::vector<std::pair<uint32_t, uint32_t>>>> passes;
  for (int pass = interlace ? 1 : 0; pass <= (interlace ? 7 : 0); ++pass) {
    passes.push_back(PassRows(im.width, im.height, pass));
    for (auto& row : passes.back()) expected += 1 + (row.size() * BitsPerPixel(im) + 7) / 8;
  }
  std::vector<uint8_t> raw(expected + 1);
  uLongf rawSize = uLongf(raw.size());
  if (uncompress(raw.data(), &rawSize, z.data(), uLong(z.size())) != Z_OK) return fail("zlib");
  if (rawSize != expected) return fail("image data size");
  size_t pos = 0;
  for (auto& rows : passes) {
    std::vector<uint8_t> prev;
    for (auto& pixels : rows) {
      size_t n = (pixels.size() * BitsPerPixel(im) + 7) / 8;
      if (prev.empty()) prev.assign(n, 0);
      int type = raw[pos++];
      if (type > 4) return fail("filter type");
      if (filters) filters->push_back(uint8_t(type));
      std::vector<uint8_t> row(raw.begin() + long(pos), raw.begin() + long(pos + n));
      for (size_t i = 0; i < n; ++i) {
        int a = i >= bpp ? row[i - bpp] : 0, b = prev[i], c = i >= bpp ? prev[i - bpp] : 0;
        row[i] = uint8_t(row[i] + Predict(type, a, b, c));
      }
      UnpackRow(im, pixels, row.data());
      prev = row;
      pos += n;
    }
  }
  *out = im;
  return true;
}

}  // namespace kelm::test
