// CRC-32 of the PNG standard (polynomial 0xEDB88320, reflected).
#pragma once

#include <cstddef>
#include <cstdint>

namespace kelm::png {

// Running form: start with kCrcInit, update, then PngCrcFinish.
constexpr uint32_t kCrcInit = 0xFFFFFFFFu;
uint32_t PngCrcUpdate(uint32_t crc, const void* data, size_t size);
inline uint32_t PngCrcFinish(uint32_t crc) { return ~crc; }

// CRC of a chunk's type followed by its data.
uint32_t PngChunkCrc(const uint8_t type[4], const uint8_t* data, size_t size);

}  // namespace kelm::png
