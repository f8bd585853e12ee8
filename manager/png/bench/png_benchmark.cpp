// Decode and encode throughput of the codec against libpng on large images,
// measured side by side in one run and printed as ratios (libpng time /
// ours: above 1 means ours is faster).
#include <png.h>
#include <zlib.h>

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

enum class Content { Photo, Screenshot };

struct Shape {
  const char* name;
  uint32_t width, height;
  int colourType;  // PNG_COLOR_TYPE_*
  int channels;
  bool interlace;
  Content content;
};

// Photo-like content: smooth gradients with some noise, so the filters and
// zlib have realistic work.
void FillPhoto(const Shape& s, std::vector<uint8_t>& px) {
  std::mt19937 rng(42);
  for (uint32_t y = 0; y < s.height; ++y)
    for (uint32_t x = 0; x < s.width; ++x)
      for (int c = 0; c < s.channels; ++c)
        px[(size_t(y) * s.width + x) * s.channels + c] =
            uint8_t((x * (c + 1) + y * (3 - c) + (x * y >> 9)) / 4 + rng() % 6);
}

// Screenshot-like content: flat windows and bars of a few colours, with
// lines of small glyph-like marks, as a desktop capture has.
void FillScreenshot(const Shape& s, std::vector<uint8_t>& px) {
  std::mt19937 rng(7);
  const uint8_t colours[6][4] = {{240, 240, 240, 255}, {255, 255, 255, 255}, {0, 120, 215, 255},
                                 {30, 30, 30, 255},    {200, 60, 40, 200},   {90, 160, 90, 128}};
  auto put = [&](uint32_t x, uint32_t y, const uint8_t* c) {
    uint8_t* p = &px[(size_t(y) * s.width + x) * s.channels];
    for (int k = 0; k < s.channels; ++k) p[k] = c[k];
  };
  for (uint32_t y = 0; y < s.height; ++y)
    for (uint32_t x = 0; x < s.width; ++x) put(x, y, colours[0]);
  for (int w = 0; w < 40; ++w) {
    uint32_t x0 = uint32_t(rng() % s.width), y0 = uint32_t(rng() % s.height);
    uint32_t x1 = std::min<uint32_t>(s.width, x0 + 200 + rng() % 900);
    uint32_t y1 = std::min<uint32_t>(s.height, y0 + 150 + rng() % 700);
    const uint8_t* fill = colours[1 + rng() % 5];
    for (uint32_t y = y0; y < y1; ++y)
      for (uint32_t x = x0; x < x1; ++x) put(x, y, y < y0 + 24 ? colours[2] : fill);
    // Text: rows of 6x9 marks with gaps.
    for (uint32_t y = y0 + 32; y + 9 < y1; y += 16)
      for (uint32_t x = x0 + 8; x + 6 < x1; x += 7) {
        if (rng() % 8 == 0) continue;
        auto glyph = uint32_t(rng());
        for (uint32_t gy = 0; gy < 9; ++gy)
          for (uint32_t gx = 0; gx < 6; ++gx)
            if (glyph >> ((gy * 6 + gx) % 31) & 1) put(x + gx, y + gy, colours[3]);
      }
  }
}

std::vector<uint8_t> MakePixels(const Shape& s) {
  std::vector<uint8_t> px(size_t(s.width) * s.height * s.channels);
  if (s.content == Content::Photo)
    FillPhoto(s, px);
  else
    FillScreenshot(s, px);
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
  // The codec deflates with zlib's default strategy; left alone, libpng
  // would pick another one for filtered rows and the race would not be fair.
  png_set_compression_strategy(png, Z_DEFAULT_STRATEGY);
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

// A decode from nothing to nothing, as libpng's run is: a new picture, freed
// before the other side runs. One kept from run to run would hold its planes
// across libpng's run and time the allocator's heap trimming, not decoding.
size_t OurFreshDecode(const std::vector<uint8_t>& file) {
  kelm::png::PngPicture picture;
  return OurDecode(file, picture);
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
  const Content Photo = Content::Photo, Screenshot = Content::Screenshot;
  const Shape shapes[] = {
      {"photo RGB 2048x2048", 2048, 2048, PNG_COLOR_TYPE_RGB, 3, false, Photo},
      {"photo RGBA 2048x2048", 2048, 2048, PNG_COLOR_TYPE_RGB_ALPHA, 4, false, Photo},
      {"photo RGB 2048x2048 Adam7", 2048, 2048, PNG_COLOR_TYPE_RGB, 3, true, Photo},
      {"photo RGBA 2048x2048 Adam7", 2048, 2048, PNG_COLOR_TYPE_RGB_ALPHA, 4, true, Photo},
      {"screen RGB 2560x2048", 2560, 2048, PNG_COLOR_TYPE_RGB, 3, false, Screenshot},
      {"screen RGBA 2560x2048", 2560, 2048, PNG_COLOR_TYPE_RGB_ALPHA, 4, false, Screenshot},
      {"screen RGB 2560x2048 Adam7", 2560, 2048, PNG_COLOR_TYPE_RGB, 3, true, Screenshot},
      {"screen RGBA 2560x2048 Adam7", 2560, 2048, PNG_COLOR_TYPE_RGB_ALPHA, 4, true, Screenshot},
  };
  // Decoding is quick and the machine may be shared: more runs for it.
  const int decodeRuns = 9, encodeRuns = 3;
  const int level = 7;
  std::printf(
      "Times are the best of interleaved runs (%d decoding, %d encoding); ratio = libpng "
      "time / ours (above 1 means ours is faster).\n"
      "Both encoders: zlib level %d, default strategy. Decoded files: libpng's, with a "
      "filter chosen per row.\n\n",
      decodeRuns, encodeRuns, level);
  std::printf("%-28s %9s %9s %6s", "image", "decode", "libpng", "ratio");
  for (int m = 0; m < 2; ++m)
    std::printf("   %-8s %9s %9s %6s %8s %8s %6s", "filters", "encode", "libpng", "ratio", "ours",
                "libpng", "size");
  std::printf("\n");
  for (const Shape& s : shapes) {
    std::vector<uint8_t> px = MakePixels(s);
    std::vector<uint8_t> file = LibpngEncode(s, px, level, PNG_ALL_FILTERS);
    auto decode = Race([&] { OurFreshDecode(file); }, [&] { LibpngDecode(file); }, decodeRuns);
    // Our encoder starts from the picture decoded from libpng's file, so
    // that both encoders write the same pixels.
    kelm::png::PngPicture picture;
    OurDecode(file, picture);
    std::printf("%-28s %7.1fms %7.1fms %6.2f", s.name, decode.first * 1e3, decode.second * 1e3,
                decode.second / decode.first);
    picture.DeflateLevel = level;
    // Per row, each with its own choice: the files differ. With Sub on
    // every row both hand zlib the same bytes: equal files, and the ratio
    // is the encoders' own cost.
    struct Mode {
      const char* name;
      kelm::png::PngFilterSet ours;
      int theirs;
    };
    const Mode modes[] = {{"per row", 0x1F, PNG_ALL_FILTERS},
                          {"Sub", kelm::png::FilterBit(kelm::png::kFilterSub), PNG_FILTER_SUB}};
    for (const Mode& m : modes) {
      picture.RowFilters = m.ours;
      size_t ourSize = 0, theirSize = 0;
      auto encode =
          Race([&] { ourSize = OurEncode(picture).size(); },
               [&] { theirSize = LibpngEncode(s, px, level, m.theirs).size(); }, encodeRuns);
      std::printf("   %-8s %7.1fms %7.1fms %6.2f %7zuK %7zuK %6.3f", m.name, encode.first * 1e3,
                  encode.second * 1e3, encode.second / encode.first, ourSize / 1024,
                  theirSize / 1024, double(ourSize) / double(theirSize));
    }
    std::printf("\n");
    std::fflush(stdout);
  }
  std::printf("\nours, libpng = file sizes; size = ours / libpng's.\n");
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
