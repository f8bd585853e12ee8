// Decode and encode throughput of the codec against libpng on large images,
// measured side by side in one run and printed as ratios (ours / libpng
// time: below 1 means faster).
#include <png.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <stdexcept>
#include <vector>

#include "png/png_picture.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Shape {
  const char* name;
  uint32_t width, height;
  int colourType;  // PNG_COLOR_TYPE_*
  int channels;
  bool interlace;
};

// Photo-like content: smooth gradients with some noise, so the filters and
// zlib have realistic work.
std::vector<uint8_t> MakePixels(const Shape& s) {
  std::vector<uint8_t> px(size_t(s.width) * s.height * s.channels);
  std::mt19937 rng(42);
  for (uint32_t y = 0; y < s.height; ++y)
    for (uint32_t x = 0; x < s.width; ++x)
      for (int c = 0; c < s.channels; ++c)
        px[(size_t(y) * s.width + x) * s.channels + c] =
            uint8_t((x * (c + 1) + y * (3 - c) + (x * y >> 9)) / 4 + rng() % 6);
  return px;
}

// ---- libpng through its public API, in memory ----

struct Reader {
  const std::vector<uint8_t>* bytes;
  size_t pos;
};

void ReadCallback(png_structp png, png_bytep out, png_size_t n) {
  auto* r = static_cast<Reader*>(png_get_io_ptr(png));
  if (r->pos + n > r->bytes->size()) png_error(png, "short");
  std::memcpy(out, r->bytes->data() + r->pos, n);
  r->pos += n;
}

void WriteCallback(png_structp png, png_bytep data, png_size_t n) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + n);
}

std::vector<uint8_t> LibpngEncode(const Shape& s, const std::vector<uint8_t>& px, int level,
                                  int filters) {
  std::vector<uint8_t> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) throw std::runtime_error("libpng write");
  png_set_write_fn(png, &out, WriteCallback, nullptr);
  png_set_IHDR(png, info, s.width, s.height, 8, s.colourType,
               s.interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, level);
  png_set_filter(png, 0, filters);
  std::vector<png_bytep> rows(s.height);
  for (uint32_t y = 0; y < s.height; ++y)
    rows[y] = const_cast<png_bytep>(px.data() + size_t(y) * s.width * s.channels);
  png_set_rows(png, info, rows.data());
  png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

size_t LibpngDecode(const std::vector<uint8_t>& file) {
  Reader r{&file, 0};
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) throw std::runtime_error("libpng read");
  png_set_read_fn(png, &r, ReadCallback);
  png_read_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  size_t height = png_get_image_height(png, info);
  png_destroy_read_struct(&png, &info, nullptr);
  return height;
}

// ---- ours ----

size_t OurDecode(const std::vector<uint8_t>& file, kelm::png::PngPicture& picture) {
  kelm::png::PngReadStream in(file);
  picture.LoadFromStream(in);
  return picture.Height();
}

std::vector<uint8_t> OurEncode(kelm::png::PngPicture& picture) {
  kelm::png::PngMemoryStream out;
  picture.SaveToStream(out);
  return out.Bytes();
}

// Best of several interleaved runs of each, in seconds.
std::pair<double, double> Race(const std::function<void()>& ours,
                               const std::function<void()>& theirs, int runs) {
  double best[2] = {1e9, 1e9};
  for (int i = 0; i < runs; ++i) {
    int k = 0;
    for (const auto* f : {&ours, &theirs}) {
      auto t0 = Clock::now();
      (*f)();
      best[k] = std::min(best[k], std::chrono::duration<double>(Clock::now() - t0).count());
      ++k;
    }
  }
  return {best[0], best[1]};
}

int Run() {
  const Shape shapes[] = {
      {"RGB 8-bit 2048x2048", 2048, 2048, PNG_COLOR_TYPE_RGB, 3, false},
      {"RGBA 8-bit 2048x2048", 2048, 2048, PNG_COLOR_TYPE_RGB_ALPHA, 4, false},
      {"grey 8-bit 4096x2048", 4096, 2048, PNG_COLOR_TYPE_GRAY, 1, false},
      {"RGB 8-bit 2048x2048 Adam7", 2048, 2048, PNG_COLOR_TYPE_RGB, 3, true},
  };
  const int runs = 3;
  std::printf("%-28s %10s %10s %8s   %10s %10s %8s\n", "image", "decode ms", "libpng ms", "ratio",
              "encode ms", "libpng ms", "ratio");
  for (const Shape& s : shapes) {
    std::vector<uint8_t> px = MakePixels(s);
    // Both encoders at the codec's defaults: level 7, Sub filter only.
    std::vector<uint8_t> file = LibpngEncode(s, px, 7, PNG_FILTER_SUB);
    kelm::png::PngPicture picture;
    auto decode = Race([&] { OurDecode(file, picture); }, [&] { LibpngDecode(file); }, runs);
    picture.DeflateLevel = 7;
    picture.RowFilters = kelm::png::FilterBit(kelm::png::kFilterSub);
    size_t ourSize = 0, theirSize = 0;
    auto encode = Race([&] { ourSize = OurEncode(picture).size(); },
                       [&] { theirSize = LibpngEncode(s, px, 7, PNG_FILTER_SUB).size(); }, runs);
    std::printf("%-28s %10.1f %10.1f %8.2f   %10.1f %10.1f %8.2f   size ratio %.3f\n", s.name,
                decode.first * 1e3, decode.second * 1e3, decode.first / decode.second,
                encode.first * 1e3, encode.second * 1e3, encode.first / encode.second,
                double(ourSize) / double(theirSize));
  }
  return 0;
}

}  // namespace

int main() {
  try {
    return Run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "png_benchmark: %s\n", e.what());
    return 1;
  }
}
