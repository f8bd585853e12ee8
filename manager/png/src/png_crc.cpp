#include "png/png_crc.h"

#include <zlib.h>

#include <climits>

namespace kelm::png {

// zlib's crc32 (already linked for inflating) computes the same CRC several
// bytes at a time; it keeps the register complemented between calls, so the
// running form here is converted on the way in and out.
uint32_t PngCrcUpdate(uint32_t crc, const void* data, size_t size) {
  const auto* p = static_cast<const Bytef*>(data);
  uLong z = ~crc & 0xFFFFFFFFu;
  while (size != 0) {
    // zlib takes a uInt length.
    uInt piece = size > UINT_MAX ? UINT_MAX : uInt(size);
    z = crc32(z, p, piece);
    p += piece;
    size -= piece;
  }
  return ~uint32_t(z);
}

uint32_t PngChunkCrc(const uint8_t type[4], const uint8_t* data, size_t size) {
  return PngCrcFinish(PngCrcUpdate(PngCrcUpdate(kCrcInit, type, 4), data, size));
}

}  // namespace kelm::png
