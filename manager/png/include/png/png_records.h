// On-disk records of the PNG format (the PNG standard, sections 5 and 11),
// byte-packed, multi-byte fields big-endian as byte arrays.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kelm::png {

inline uint32_t GetBE32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
inline uint16_t GetBE16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
inline void PutBE32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}
inline void PutBE16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
}

constexpr uint8_t kPngSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};

// The PNG standard caps chunk lengths at 2^31 - 1.
constexpr uint32_t kMaxChunkLength = 0x7FFFFFFFu;

#pragma pack(push, 1)

// Length and type in front of every chunk's data; the CRC follows the data.
struct PngChunkHead {
  uint8_t length[4];
  uint8_t type[4];
};
static_assert(sizeof(PngChunkHead) == 8);
static_assert(offsetof(PngChunkHead, length) == 0);
static_assert(offsetof(PngChunkHead, type) == 4);

struct PngIhdrRecord {
  uint8_t width[4];
  uint8_t height[4];
  uint8_t bitDepth;
  uint8_t colourType;
  uint8_t compression;
  uint8_t filter;
  uint8_t interlace;
};
static_assert(sizeof(PngIhdrRecord) == 13);
static_assert(offsetof(PngIhdrRecord, width) == 0);
static_assert(offsetof(PngIhdrRecord, height) == 4);
static_assert(offsetof(PngIhdrRecord, bitDepth) == 8);
static_assert(offsetof(PngIhdrRecord, colourType) == 9);
static_assert(offsetof(PngIhdrRecord, compression) == 10);
static_assert(offsetof(PngIhdrRecord, filter) == 11);
static_assert(offsetof(PngIhdrRecord, interlace) == 12);

struct PngPhysRecord {
  uint8_t pixelsPerUnitX[4];
  uint8_t pixelsPerUnitY[4];
  uint8_t unit;
};
static_assert(sizeof(PngPhysRecord) == 9);
static_assert(offsetof(PngPhysRecord, pixelsPerUnitY) == 4);
static_assert(offsetof(PngPhysRecord, unit) == 8);

struct PngTimeRecord {
  uint8_t year[2];
  uint8_t month;
  uint8_t day;
  uint8_t hour;
  uint8_t minute;
  uint8_t second;
};
static_assert(sizeof(PngTimeRecord) == 7);
static_assert(offsetof(PngTimeRecord, month) == 2);
static_assert(offsetof(PngTimeRecord, second) == 6);

struct PngGammaRecord {
  uint8_t gamma[4];
};
static_assert(sizeof(PngGammaRecord) == 4);

#pragma pack(pop)

}  // namespace kelm::png
