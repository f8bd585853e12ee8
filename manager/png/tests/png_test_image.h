// A small PNG writer and reader for the tests, written from the PNG
// standard alone and kept apart from the codec (own CRC, filters, Adam7 and
// zlib calls), so that the codec is checked against an independent model.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kelm::test {

// An image as sample values at the file's bit depth, row-major, channels
// interleaved (grey; R G B; index; grey A; R G B A).
struct Image {
  uint32_t width = 0, height = 0;
  uint8_t colourType = 0, bitDepth = 8;
  std::vector<uint16_t> samples;
  std::vector<std::array<uint8_t, 3>> palette;  // colour type 3

  unsigned Channels() const;
  uint16_t At(uint32_t x, uint32_t y, unsigned c) const {
    return samples[(size_t(y) * width + x) * Channels() + c];
  }
  uint16_t& At(uint32_t x, uint32_t y, unsigned c) {
    return samples[(size_t(y) * width + x) * Channels() + c];
  }
};

// Random samples over the full range of the depth (deterministic per seed);
// paletted images get a random palette of 2^depth entries.
Image RandomImage(uint32_t width, uint32_t height, uint8_t colourType, uint8_t bitDepth,
                  uint32_t seed);

struct Chunk {
  std::string type;
  std::vector<uint8_t> data;
};

struct EncodeOptions {
  bool interlace = false;
  int filter = -1;  // 0-4 for every row; -1 cycles 0, 1, 2, 3, 4 row by row
  int level = 6;    // zlib level
  // Cut points in the zlib stream where a new IDAT chunk starts; negative
  // values count from the end. oneBytePerIdat puts each byte in its own chunk.
  std::vector<long> cuts;
  bool oneBytePerIdat = false;
  std::vector<Chunk> beforeImage;  // e.g. gAMA, tRNS (after PLTE)
  std::vector<Chunk> afterImage;   // before IEND
};

// A complete zlib stream of the bytes.
std::vector<uint8_t> Compress(const std::vector<uint8_t>& bytes, int level = 6);
uint32_t Crc32(const uint8_t* data, size_t size);
std::vector<uint8_t> MakeChunk(const std::string& type, const std::vector<uint8_t>& data);
std::vector<uint8_t> Encode(const Image& image, const EncodeOptions& options = {});

// Chunks of a file as they are, with where each starts.
struct FileChunk {
  std::string type;
  std::vector<uint8_t> data;
  size_t offset;
  bool crcOk;
};
std::vector<FileChunk> ListChunks(const std::vector<uint8_t>& file);

// Decodes a well-formed file; on failure returns false with a reason. The
// filter type of every row is reported in filters when asked for.
bool Decode(const std::vector<uint8_t>& file, Image* out, std::string* why,
            std::vector<uint8_t>* filters = nullptr);

}  // namespace kelm::test
