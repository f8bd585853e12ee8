// Fuzz target: any bytes loaded as a PNG file, once as they are and once
// with every chunk's CRC made right, so that mutations inside chunks reach
// the decoders behind the CRC check. A file that loads must save, and what
// is saved must load again to the same size.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "png/png_bitmap.h"
#include "png/png_crc.h"
#include "png/png_errors.h"
#include "png/png_picture.h"
#include "png/png_records.h"

namespace {

using namespace kelm::png;

void LoadAndResave(const uint8_t* data, size_t size) {
  PngPicture picture;
  PngReadStream in(data, size);
  try {
    picture.LoadFromStream(in);
  } catch (const EPngException&) {
    return;
  }
  // Re-encoding large pictures would only slow the search down.
  if (uint64_t(picture.Width()) * picture.Height() > (uint64_t(1) << 20)) return;
  if (picture.Width() <= 64 && picture.Height() <= 64) {
    // Drawing helpers, scaled up and down.
    std::vector<uint8_t> block(size_t(4) * 96 * 40);
    BlendOnto(picture, block.data(), size_t(4) * 96, 96, 40);
    (void)TransparentColour(picture);
    for (uint32_t y = 0; y < picture.Height(); ++y)
      for (uint32_t x = 0; x < picture.Width(); ++x) (void)picture.Pixel(x, y);
  }
  PngMemoryStream out;
  picture.SaveToStream(out);
  PngPicture again;
  PngReadStream back(out.Bytes());
  try {
    again.LoadFromStream(back);
  } catch (const EPngException&) {
    std::abort();
  }
  if (again.Width() != picture.Width() || again.Height() != picture.Height()) std::abort();
}

std::vector<uint8_t> WithGoodCrcs(const uint8_t* data, size_t size) {
  std::vector<uint8_t> fixed(data, data + size);
  size_t pos = 8;
  while (pos + 12 <= size) {
    uint32_t length = GetBE32(&fixed[pos]);
    if (length > size - pos - 12) break;
    PutBE32(&fixed[pos + 8 + length], PngChunkCrc(&fixed[pos + 4], &fixed[pos + 8], length));
    pos += 12 + length;
  }
  return fixed;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  LoadAndResave(data, size);
  if (size >= 8) {
    std::vector<uint8_t> fixed = WithGoodCrcs(data, size);
    LoadAndResave(fixed.data(), fixed.size());
  }
  return 0;
}
