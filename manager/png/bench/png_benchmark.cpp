// Decode and encode throughput of the codec against libpng on images of the
// sizes users have (4000 x 3000 photos, 2560 x 1600 screens), measured side
// by side in one run and printed as ratios (libpng time / ours: above 1
// means ours is faster).
//
//   png_benchmark [NAME-PART] [--decode-only | --encode-all]
// runs only the images whose name contains NAME-PART. Encoding is raced on
// the 2560 x 1600 images unless --encode-all asks for the large ones too
// (minutes more: zlib at level 7 takes seconds per 4000 x 3000 image).
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "png/png_picture.h"

namespace {

enum class Content { Photo, Screenshot, Palette };

struct Shape {
  std::string name;
  uint32_t width, height;
  int colourType;  // PNG_COLOR_TYPE_*
  int channels;
  int depth;
  bool interlace;
  Content content;
  size_t RowBytes() const { return size_t(width) * channels * depth / 8; }
};

// A small fast generator: the images are large and made once per row.
struct Random {
  uint64_t state;
  uint32_t Next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return uint32_t(state >> 11);
  }
};

// Photo-like content: smooth shapes (low-frequency waves, different per
// channel but correlated) under sensor-like noise of a few levels, so that
// every filter leaves small but nonzero residues and zlib finds few long
// matches. 16-bit samples carry noise in their low bytes as well.
void FillPhoto(const Shape& s, std::vector<uint8_t>& px) {
  Random rng{0x9E3779B97F4A7C15ull};
  const int samples = s.channels;
  std::vector<float> colWave(size_t(s.width) * 3), rowWave(size_t(s.height) * 3);
  for (uint32_t x = 0; x < s.width; ++x)
    for (int c = 0; c < 3; ++c)
      colWave[x * 3 + c] = 60.0f * std::sin(float(x) * (0.0021f + 0.0007f * float(c))) +
                           25.0f * std::sin(float(x) * 0.013f + float(c));
  for (uint32_t y = 0; y < s.height; ++y)
    for (int c = 0; c < 3; ++c)
      rowWave[y * 3 + c] = 50.0f * std::cos(float(y) * (0.0027f + 0.0005f * float(c))) +
                           20.0f * std::sin(float(y) * 0.017f - float(c));
  for (uint32_t y = 0; y < s.height; ++y) {
    uint8_t* row = px.data() + size_t(y) * s.RowBytes();
    for (uint32_t x = 0; x < s.width; ++x) {
      uint32_t r = rng.Next();
      for (int c = 0; c < samples; ++c) {
        float v;
        if (c == 3)  // alpha: mostly opaque, soft edges
          v = 255.0f - std::max(0.0f, rowWave[y * 3] + colWave[x * 3] - 40.0f);
        else
          v = 128.0f + colWave[x * 3 + c] + rowWave[y * 3 + c] +
              float(int(r >> (c * 4) & 7) + int(r >> (c * 4 + 12) & 7) - 7);
        v = std::clamp(v, 0.0f, 255.0f);
        if (s.depth == 16) {
          auto wide = uint16_t(std::min(65535.0f, v * 257.0f + float(rng.Next() & 0xFF)));
          row[(size_t(x) * samples + c) * 2] = uint8_t(wide >> 8);
          row[(size_t(x) * samples + c) * 2 + 1] = uint8_t(wide);
        } else {
          row[size_t(x) * samples + c] = uint8_t(v);
        }
      }
    }
  }
}

// Screenshot-like content: flat windows and bars of a few colours, with
// lines of small glyph-like marks, as a desktop capture has.
void FillScreenshot(const Shape& s, std::vector<uint8_t>& px) {
  Random rng{7};
  const uint8_t colours[6][4] = {{240, 240, 240, 255}, {255, 255, 255, 255}, {0, 120, 215, 255},
                                 {30, 30, 30, 255},    {200, 60, 40, 200},   {90, 160, 90, 128}};
  auto put = [&](uint32_t x, uint32_t y, const uint8_t* c) {
    uint8_t* p = &px[(size_t(y) * s.width + x) * s.channels];
    for (int k = 0; k < s.channels; ++k) p[k] = c[k];
  };
  for (uint32_t y = 0; y < s.height; ++y)
    for (uint32_t x = 0; x < s.width; ++x) put(x, y, colours[0]);
  for (int w = 0; w < 40; ++w) {
    uint32_t x0 = rng.Next() % s.width, y0 = rng.Next() % s.height;
    uint32_t x1 = std::min<uint32_t>(s.width, x0 + 200 + rng.Next() % 900);
    uint32_t y1 = std::min<uint32_t>(s.height, y0 + 150 + rng.Next() % 700);
    const uint8_t* fill = colours[1 + rng.Next() % 5];
    for (uint32_t y = y0; y < y1; ++y)
      for (uint32_t x = x0; x < x1; ++x) put(x, y, y < y0 + 24 ? colours[2] : fill);
    // Text: rows of 6x9 marks with gaps.
    for (uint32_t y = y0 + 32; y + 9 < y1; y += 16)
      for (uint32_t x = x0 + 8; x + 6 < x1; x += 7) {
        if (rng.Next() % 8 == 0) continue;
        uint32_t glyph = rng.Next();
        for (uint32_t gy = 0; gy < 9; ++gy)
          for (uint32_t gx = 0; gx < 6; ++gx)
            if (glyph >> ((gy * 6 + gx) % 31) & 1) put(x + gx, y + gy, colours[3]);
      }
  }
}

// A photo reduced to the 6 x 6 x 6 colour cube with its noise as dither:
// the paletted pictures of the web and of older programs.
std::vector<png_color> CubePalette() {
  std::vector<png_color> palette;
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b)
        palette.push_back({png_byte(r * 51), png_byte(g * 51), png_byte(b * 51)});
  return palette;
}

void FillPalette(const Shape& s, std::vector<uint8_t>& px) {
  Shape rgb = s;
  rgb.colourType = PNG_COLOR_TYPE_RGB;
  rgb.channels = 3;
  std::vector<uint8_t> photo(rgb.RowBytes() * s.height);
  FillPhoto(rgb, photo);
  for (size_t i = 0; i < size_t(s.width) * s.height; ++i) {
    const uint8_t* p = &photo[i * 3];
    px[i] = uint8_t((p[0] + 25) / 51 * 36 + (p[1] + 25) / 51 * 6 + (p[2] + 25) / 51);
  }
}

std::vector<uint8_t> MakePixels(const Shape& s) {
  std::vector<uint8_t> px(s.RowBytes() * s.height);
  if (s.content == Content::Photo)
    FillPhoto(s, px);
  else if (s.content == Content::Palette)
    FillPalette(s, px);
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
  png_set_IHDR(png, info, s.width, s.height, s.depth, s.colourType,
               s.interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  std::vector<png_color> palette = CubePalette();
  if (s.colourType == PNG_COLOR_TYPE_PALETTE)
    png_set_PLTE(png, info, palette.data(), int(palette.size()));
  png_set_compression_level(png, level);
  // The codec deflates with zlib's default strategy; left alone, libpng
  // would pick another one for filtered rows and the race would not be fair.
  png_set_compression_strategy(png, Z_DEFAULT_STRATEGY);
  png_set_filter(png, 0, filters);
  std::vector<png_bytep> rows(s.height);
  for (uint32_t y = 0; y < s.height; ++y)
    rows[y] = const_cast<png_bytep>(px.data() + size_t(y) * s.RowBytes());
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

// The thread's own processor time (user and system, page faults included):
// the machine is shared, and time spent waiting for a processor is neither
// side's.
double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

struct Times {
  std::vector<double> ours, theirs;
  static double Min(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }
  static double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
  }
};

// Alternated runs: each round runs both, the first one changing every
// round, so neither side always finds the caches and the heap as the other
// left them.
Times Race(const std::function<void()>& ours, const std::function<void()>& theirs, int runs) {
  Times t;
  for (int i = 0; i < runs; ++i) {
    for (int k = 0; k < 2; ++k) {
      bool oursNow = (k == 0) == (i % 2 == 0);
      double t0 = ThreadSeconds();
      (oursNow ? ours : theirs)();
      (oursNow ? t.ours : t.theirs).push_back(ThreadSeconds() - t0);
    }
  }
  return t;
}

void PrintRace(const Times& t) {
  std::printf(" %7.1f %7.1f %7.1f %7.1f %5.2f %5.2f", Times::Min(t.ours) * 1e3,
              Times::Min(t.theirs) * 1e3, Times::Median(t.ours) * 1e3,
              Times::Median(t.theirs) * 1e3, Times::Min(t.theirs) / Times::Min(t.ours),
              Times::Median(t.theirs) / Times::Median(t.ours));
}

int Run(const std::string& only, bool decodeOnly, bool encodeAll) {
  const Content Photo = Content::Photo, Screenshot = Content::Screenshot,
                Palette = Content::Palette;
  std::vector<Shape> shapes;
  for (auto [w, h] : {std::pair<uint32_t, uint32_t>{4000, 3000}, {2560, 1600}}) {
    std::string size = " " + std::to_string(w) + "x" + std::to_string(h);
    shapes.push_back({"photo RGB" + size, w, h, PNG_COLOR_TYPE_RGB, 3, 8, false, Photo});
    shapes.push_back({"photo RGBA" + size, w, h, PNG_COLOR_TYPE_RGB_ALPHA, 4, 8, false, Photo});
    shapes.push_back({"photo RGB16" + size, w, h, PNG_COLOR_TYPE_RGB, 3, 16, false, Photo});
    shapes.push_back({"photo RGB Adam7" + size, w, h, PNG_COLOR_TYPE_RGB, 3, 8, true, Photo});
    shapes.push_back({"screen RGB" + size, w, h, PNG_COLOR_TYPE_RGB, 3, 8, false, Screenshot});
    shapes.push_back({"palette 8-bit" + size, w, h, PNG_COLOR_TYPE_PALETTE, 1, 8, false, Palette});
  }
  const int decodeRuns = 7, encodeRuns = 3;
  const int level = 7;
  std::printf(
      "Processor time of this thread, %d alternated runs decoding and %d encoding each image;\n"
      "ratio = libpng time / ours (above 1: ours is faster), of the minima and of the medians.\n"
      "decode: libpng's file of the image (zlib level %d, default strategy, a filter chosen per\n"
      "        row by libpng) read into a new picture and freed, against png_read_png with no\n"
      "        transformations into a new read struct and freed.\n"
      "encode: that picture written with Sub on every row (our default filter set) against\n"
      "        png_write_png of the same samples (16-bit ones by their high byte, as a picture\n"
      "        writes them) with Sub on every row, both at zlib level %d and default\n"
      "        strategy: the same bytes go to zlib (size = our file / libpng's). %s\n\n",
      decodeRuns, encodeRuns, level, level,
      encodeAll ? "" : "2560 x 1600\n        images only (--encode-all: all).");
  std::printf("%-27s %7s %7s %7s %7s %5s %5s", "", "decode", "(ms)", "", "", "ratio", "");
  if (!decodeOnly) std::printf("   %7s %7s %7s %7s %5s %5s", "encode", "(ms)", "", "", "ratio", "");
  std::printf("\n%-27s %7s %7s %7s %7s %5s %5s", "image", "ours", "libpng", "ours", "libpng", "min",
              "med");
  if (!decodeOnly)
    std::printf("   %7s %7s %7s %7s %5s %5s %6s", "ours", "libpng", "ours", "libpng", "min", "med",
                "size");
  std::printf("\n%-27s %7s %7s %7s %7s\n", "", "min", "min", "median", "median");
  for (const Shape& s : shapes) {
    if (!only.empty() && s.name.find(only) == std::string::npos) continue;
    std::vector<uint8_t> px = MakePixels(s);
    std::vector<uint8_t> file = LibpngEncode(s, px, level, PNG_ALL_FILTERS);
    Times decode = Race([&] { OurFreshDecode(file); }, [&] { LibpngDecode(file); }, decodeRuns);
    std::printf("%-27s", s.name.c_str());
    PrintRace(decode);
    if (!decodeOnly && (encodeAll || s.width <= 2560)) {
      // Our encoder starts from the picture decoded from libpng's file, so
      // that both encoders write the same pixels.
      kelm::png::PngPicture picture;
      OurDecode(file, picture);
      picture.DeflateLevel = level;
      picture.RowFilters = kelm::png::FilterBit(kelm::png::kFilterSub);
      // A picture writes 16-bit samples by their high byte: libpng gets the
      // same samples.
      std::vector<uint8_t> kept = px;
      if (s.depth == 16)
        for (size_t i = 1; i < kept.size(); i += 2) kept[i] = 0;
      size_t ourSize = 0, theirSize = 0;
      Times encode = Race([&] { ourSize = OurEncode(picture).size(); },
                          [&] { theirSize = LibpngEncode(s, kept, level, PNG_FILTER_SUB).size(); },
                          encodeRuns);
      std::printf("  ");
      PrintRace(encode);
      std::printf(" %6.3f", double(ourSize) / double(theirSize));
    }
    std::printf("\n");
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string only;
  bool decodeOnly = false, encodeAll = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--decode-only") == 0)
      decodeOnly = true;
    else if (std::strcmp(argv[i], "--encode-all") == 0)
      encodeAll = true;
    else
      only = argv[i];
  }
  try {
    return Run(only, decodeOnly, encodeAll);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "png_benchmark: %s\n", e.what());
    return 1;
  }
}
