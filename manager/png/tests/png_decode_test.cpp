// Decoding files written by the independent test generator.
#include <gtest/gtest.h>

#include <cmath>

#include "png/png_errors.h"
#include "png/png_records.h"
#include "png_test_support.h"

namespace kelm::test {
namespace {

using kelm::png::PngPicture;
using kelm::png::PngTransparency;

const uint32_t kSizes[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 32, 33, 34, 35, 36, 37, 38, 39, 40};

TEST(PngDecode, EveryFormatSizeAndInterlaceDecodesToTheWrittenSamples) {
  // Widths and heights each run over every size; rows cycle through all five
  // filter types.
  const size_t n = sizeof kSizes / sizeof kSizes[0];
  uint32_t seed = 1;
  for (const Format& f : AllFormats())
    for (size_t i = 0; i < n; ++i)
      for (bool interlace : {false, true}) {
        Image im =
            RandomImage(kSizes[i], kSizes[(i * 7 + 3) % n], f.colourType, f.bitDepth, seed++);
        SCOPED_TRACE(Describe(im, interlace));
        EncodeOptions options;
        options.interlace = interlace;
        PngPicture picture;
        Load(picture, Encode(im, options));
        ASSERT_TRUE(StorageMatches(picture, im));
        EXPECT_EQ(picture.Interlacing, interlace ? 1 : 0);
      }
}

TEST(PngDecode, EachFilterTypeAlone) {
  for (const Format& f : AllFormats())
    for (int filter = 0; filter < 5; ++filter)
      for (bool interlace : {false, true}) {
        Image im = RandomImage(11, 9, f.colourType, f.bitDepth, uint32_t(filter * 100 + 7));
        SCOPED_TRACE(Describe(im, interlace) + " filter " + std::to_string(filter));
        EncodeOptions options;
        options.filter = filter;
        options.interlace = interlace;
        PngPicture picture;
        Load(picture, Encode(im, options));
        ASSERT_TRUE(StorageMatches(picture, im));
      }
}

TEST(PngDecode, EveryZlibLevel) {
  Image im = RandomImage(37, 33, 6, 8, 99);
  for (int level = 0; level <= 9; ++level) {
    SCOPED_TRACE(level);
    EncodeOptions options;
    options.level = level;
    PngPicture picture;
    Load(picture, Encode(im, options));
    EXPECT_TRUE(StorageMatches(picture, im));
  }
}

TEST(PngDecode, ImageDataSplitOverManyChunks) {
  struct Case {
    const char* name;
    std::vector<long> cuts;
    bool oneByte;
  };
  const Case cases[] = {
      {"inside the zlib header", {1}, false},
      {"after the zlib header", {2}, false},
      {"inside the Adler-32 trailer", {-3}, false},
      {"last trailer byte alone", {-1}, false},
      {"trailer in its own chunk", {-4}, false},
      {"header and trailer split", {1, 2, -4, -2, -1}, false},
      {"every few bytes", {5, 9, 17, 40, 41, 100, 180}, false},
      {"one byte per chunk", {}, true},
  };
  for (bool interlace : {false, true})
    for (const Case& c : cases) {
      Image im = RandomImage(34, 10, 2, 16, 5);
      SCOPED_TRACE(std::string(c.name) + (interlace ? " interlaced" : ""));
      EncodeOptions options;
      options.interlace = interlace;
      options.cuts = c.cuts;
      options.oneBytePerIdat = c.oneByte;
      std::vector<uint8_t> file = Encode(im, options);
      size_t idats = 0;
      for (const FileChunk& chunk : ListChunks(file)) idats += chunk.type == "IDAT";
      ASSERT_GT(idats, 1u);
      PngPicture picture;
      Load(picture, file);
      EXPECT_TRUE(StorageMatches(picture, im));
      // The run is decoded as one image chunk.
      size_t kept = 0;
      for (size_t i = 0; i < picture.ChunkList().Count(); ++i)
        kept += picture.ChunkList().Item(i)->TypeName() == "IDAT";
      EXPECT_EQ(kept, 1u);
    }
}

TEST(PngDecode, ImageChunksPastTheEndOfTheZlibStreamAreNotPartOfTheImage) {
  // The decoder reads whole image chunks ahead of zlib's need; those the
  // zlib stream does not reach must be left as they were always left (not
  // part of the image, their CRC not held against the file), and the chunks
  // after them must still load. Here the extra chunks hold junk, one has a
  // broken CRC, and one is empty.
  const std::vector<uint8_t> junk = {0x12, 0x34, 0x56, 0x78, 0x9A};
  for (int layout = 0; layout < 3; ++layout) {
    Image im = RandomImage(20, 12, 6, 8, 41);
    SCOPED_TRACE(layout);
    EncodeOptions options;
    if (layout == 1) options.cuts = {7, 50, -3};
    options.oneBytePerIdat = layout == 2;
    options.afterImage = {{"IDAT", junk},
                          {"IDAT", junk},
                          {"IDAT", {}},
                          {"tEXt", {'T', 'i', 't', 'l', 'e', 0, 'a', 'b', 'c'}}};
    std::vector<uint8_t> file = Encode(im, options);
    std::vector<FileChunk> chunks = ListChunks(file);
    size_t junkSeen = 0;
    for (const FileChunk& c : chunks)
      if (c.type == "IDAT" && c.data == junk && ++junkSeen == 2)
        file[c.offset + 12 + c.data.size() - 1] ^= 0x55;
    ASSERT_EQ(junkSeen, 2u);
    PngPicture picture;
    Load(picture, file);
    EXPECT_TRUE(StorageMatches(picture, im));
    auto* text = picture.ChunkList().Find<kelm::png::TChunktEXt>();
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->Text, "abc");
    size_t kept = 0;
    for (size_t i = 0; i < picture.ChunkList().Count(); ++i)
      kept += picture.ChunkList().Item(i)->TypeName() == "IDAT";
    EXPECT_EQ(kept, 1u);
  }
}

TEST(PngDecode, TransparencyKinds) {
  struct Case {
    uint8_t colourType, bitDepth;
    std::vector<uint8_t> trns;
    PngTransparency kind;
    bool single;
  };
  const Case cases[] = {
      {0, 8, {}, PngTransparency::None, false},
      {0, 8, {0, 7}, PngTransparency::SingleColour, true},
      {2, 8, {0, 1, 0, 2, 0, 3}, PngTransparency::SingleColour, true},
      {3, 4, {255, 0, 255}, PngTransparency::SingleColour, true},
      {3, 4, {255, 0, 128}, PngTransparency::Partial, false},
      {3, 4, {}, PngTransparency::None, false},
      {4, 8, {}, PngTransparency::Partial, false},
      {6, 16, {}, PngTransparency::Partial, false},
  };
  for (const Case& c : cases) {
    Image im = RandomImage(5, 4, c.colourType, c.bitDepth, 3);
    SCOPED_TRACE(Describe(im, false) + " tRNS " + std::to_string(c.trns.size()));
    EncodeOptions options;
    if (!c.trns.empty()) options.beforeImage.push_back({"tRNS", c.trns});
    PngPicture picture;
    Load(picture, Encode(im, options));
    EXPECT_EQ(picture.TransparencyMode(), c.kind);
    auto* trns = picture.ChunkList().Find<kelm::png::TChunktRNS>();
    ASSERT_EQ(trns != nullptr, !c.trns.empty());
    if (!trns) continue;
    EXPECT_EQ(trns->SingleTransparent, c.single);
    for (size_t i = 0; i < 256; ++i)
      ASSERT_EQ(trns->AlphaTable[i], i < c.trns.size() ? c.trns[i] : 255) << i;
  }
}

TEST(PngDecode, GammaChunkCorrectsColourSamples) {
  const uint32_t gamma = 100000;  // display exponent 1/2.2
  Image im = RandomImage(9, 7, 2, 8, 12);
  EncodeOptions options;
  options.beforeImage.push_back({"gAMA", {0, 1, 0x86, 0xA0}});
  PngPicture picture;
  Load(picture, Encode(im, options));
  auto expected = [&](uint16_t v) {
    return uint16_t(std::lround(255.0 * std::pow(v / 255.0, 1.0 / (gamma / 100000.0 * 2.2))));
  };
  for (uint32_t y = 0; y < im.height; ++y)
    for (uint32_t x = 0; x < im.width; ++x)
      for (unsigned c = 0; c < 3; ++c)
        ASSERT_EQ(StoredSample(*picture.Header(), x, y, c), expected(im.At(x, y, c)));
  auto* chunk = picture.ChunkList().Find<kelm::png::TChunkgAMA>();
  ASSERT_NE(chunk, nullptr);
  EXPECT_EQ(chunk->Gamma(), gamma);
  EXPECT_EQ(picture.GammaLut[128], expected(128));
}

// Puts a chunk right after the header, where the PNG standard wants gAMA
// (before PLTE) and where a stray PLTE of a grey file would be.
std::vector<uint8_t> WithChunkAfterHeader(const std::vector<uint8_t>& file, const std::string& type,
                                          const std::vector<uint8_t>& data) {
  std::vector<uint8_t> out(file.begin(), file.begin() + 8);
  for (const FileChunk& c : ListChunks(file)) {
    std::vector<uint8_t> bytes = MakeChunk(c.type, c.data);
    out.insert(out.end(), bytes.begin(), bytes.end());
    if (c.type == "IHDR") {
      bytes = MakeChunk(type, data);
      out.insert(out.end(), bytes.begin(), bytes.end());
    }
  }
  return out;
}

TEST(PngDecode, GammaIsAppliedOnceForEveryColourType) {
  // Each shown colour is the file's sample, scaled to 8 bits, corrected
  // once: round(255 x (v / 255) ^ (1 / (g x 2.2))).
  for (uint32_t gamma : {100000u, 45455u * 2}) {
    auto direct = [gamma](unsigned v) {
      return unsigned(std::lround(255.0 * std::pow(v / 255.0, 1.0 / (gamma / 100000.0 * 2.2))));
    };
    std::vector<uint8_t> gama(4);
    kelm::png::PutBE32(gama.data(), gamma);
    uint32_t seed = 70;
    for (const Format& f : AllFormats()) {
      Image im = RandomImage(7, 5, f.colourType, f.bitDepth, seed++);
      SCOPED_TRACE(Describe(im, false) + " gamma " + std::to_string(gamma));
      PngPicture picture;
      Load(picture, WithChunkAfterHeader(Encode(im), "gAMA", gama));
      auto to8 = [&](uint16_t v) {
        return f.bitDepth == 16 ? unsigned(v >> 8) : v * 255u / ((1u << f.bitDepth) - 1);
      };
      for (uint32_t y = 0; y < im.height; ++y)
        for (uint32_t x = 0; x < im.width; ++x) {
          unsigned r, g, b;
          if (f.colourType == 3) {
            const auto& e = im.palette[im.At(x, y, 0)];
            r = e[0], g = e[1], b = e[2];
          } else if (f.colourType == 0 || f.colourType == 4) {
            r = g = b = to8(im.At(x, y, 0));
          } else {
            r = to8(im.At(x, y, 0)), g = to8(im.At(x, y, 1)), b = to8(im.At(x, y, 2));
          }
          ASSERT_EQ(picture.Pixel(x, y),
                    kelm::png::PngRgb(uint8_t(direct(r)), uint8_t(direct(g)), uint8_t(direct(b))))
              << x << "," << y;
        }
    }
  }
}

TEST(PngDecode, PaletteOfAGreyPictureIsIgnored) {
  Image im = RandomImage(6, 4, 0, 8, 5);
  std::vector<uint8_t> reds;
  for (int i = 0; i < 256; ++i) reds.insert(reds.end(), {255, 0, 0});
  PngPicture picture;
  Load(picture, WithChunkAfterHeader(Encode(im), "PLTE", reds));
  for (uint32_t y = 0; y < im.height; ++y)
    for (uint32_t x = 0; x < im.width; ++x) {
      auto v = uint8_t(im.At(x, y, 0));
      ASSERT_EQ(picture.Pixel(x, y), kelm::png::PngRgb(v, v, v)) << x << "," << y;
    }
  // What is drawn: the grey ramp stays.
  const kelm::png::PngRgbQuad* ramp = picture.Header()->Storage().Palette();
  for (unsigned i = 0; i < 256; ++i) {
    ASSERT_EQ(ramp[i].red, i);
    ASSERT_EQ(ramp[i].green, i);
  }
  // Kept as a chunk and written back as it was read.
  EXPECT_EQ(ChunkData(Save(picture), "PLTE"), reds);
}

TEST(PngDecode, PaletteComesFromThePLTEChunk) {
  Image im = RandomImage(6, 6, 3, 2, 44);
  PngPicture picture;
  Load(picture, Encode(im));
  const auto* palette = picture.Header()->Storage().Palette();
  for (size_t i = 0; i < im.palette.size(); ++i) {
    EXPECT_EQ(palette[i].red, im.palette[i][0]);
    EXPECT_EQ(palette[i].green, im.palette[i][1]);
    EXPECT_EQ(palette[i].blue, im.palette[i][2]);
  }
  // Pixels read back as their palette colour.
  const auto& e = im.palette[im.At(2, 3, 0)];
  EXPECT_EQ(picture.Pixel(2, 3), kelm::png::PngRgb(e[0], e[1], e[2]));
  auto* plte = picture.ChunkList().Find<kelm::png::TChunkPLTE>();
  ASSERT_NE(plte, nullptr);
  EXPECT_EQ(plte->EntryCount, 4u);
  EXPECT_EQ(plte->Item(3).red, im.palette[3][0]);
  EXPECT_THROW(plte->Item(4), kelm::png::EPngError);
}

TEST(PngDecode, TextTimeAndResolutionChunks) {
  std::vector<uint8_t> ztxt = {'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 0};
  const std::string words = "zipped words";
  std::vector<uint8_t> z = Compress(std::vector<uint8_t>(words.begin(), words.end()), 9);
  ztxt.insert(ztxt.end(), z.begin(), z.end());
  EncodeOptions options;
  options.afterImage = {
      {"tEXt", {'T', 'i', 't', 'l', 'e', 0, 'a', 'b', 'c'}},
      {"zTXt", ztxt},
      {"tIME", {0x07, 0xEA, 12, 10, 13, 59, 7}},
      {"pHYs", {0, 0, 0x0B, 0x13, 0, 0, 0x0B, 0x12, 1}},
  };
  PngPicture picture;
  Load(picture, Encode(RandomImage(3, 3, 0, 8, 1), options));
  auto& list = picture.ChunkList();
  auto* text = list.Find<kelm::png::TChunktEXt>();
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->Keyword, "Title");
  EXPECT_EQ(text->Text, "abc");
  auto* ztext = list.Find<kelm::png::TChunkzTXt>();
  ASSERT_NE(ztext, nullptr);
  EXPECT_EQ(ztext->Keyword, "Comment");
  EXPECT_EQ(ztext->Text, "zipped words");
  auto* time = list.Find<kelm::png::TChunktIME>();
  ASSERT_NE(time, nullptr);
  EXPECT_EQ(time->Year, 2026);
  EXPECT_EQ(time->Month, 12);
  EXPECT_EQ(time->Second, 7);
  auto* phys = list.Find<kelm::png::TChunkpHYs>();
  ASSERT_NE(phys, nullptr);
  EXPECT_EQ(phys->PPUnitX, 2835u);
  EXPECT_EQ(phys->PPUnitY, 2834u);
  EXPECT_EQ(phys->UnitType, 1);
}

TEST(PngDecode, BrokenCompressedTextLeavesTheTextEmpty) {
  EncodeOptions options;
  options.afterImage = {{"zTXt", {'K', 0, 0, 0x78, 0x9C, 0xFF, 0xFF, 0xFF}}};
  PngPicture picture;
  Load(picture, Encode(RandomImage(2, 2, 0, 8, 1), options));
  auto* ztext = picture.ChunkList().Find<kelm::png::TChunkzTXt>();
  ASSERT_NE(ztext, nullptr);
  EXPECT_EQ(ztext->Keyword, "K");
  EXPECT_EQ(ztext->Text, "");
}

TEST(PngDecode, CompressedTextsShareOneCap) {
  // Each text inflates to 7 MiB from a few kilobytes: two fit under the
  // 16 MiB cap together, the third is left empty, and a small one after it
  // still fits.
  const std::string big(7u << 20, 'z');
  auto ztxt = [](const std::string& keyword, const std::string& text) {
    std::vector<uint8_t> data(keyword.begin(), keyword.end());
    data.insert(data.end(), {0, 0});
    std::vector<uint8_t> packed = Compress(std::vector<uint8_t>(text.begin(), text.end()), 9);
    data.insert(data.end(), packed.begin(), packed.end());
    return data;
  };
  EncodeOptions options;
  options.afterImage = {{"zTXt", ztxt("A", big)},
                        {"zTXt", ztxt("B", big)},
                        {"zTXt", ztxt("C", big)},
                        {"zTXt", ztxt("D", "small")}};
  PngPicture picture;
  Load(picture, Encode(RandomImage(2, 2, 0, 8, 1), options));
  std::vector<size_t> sizes;
  for (size_t i = 0; i < picture.ChunkList().Count(); ++i)
    if (auto* text = dynamic_cast<kelm::png::TChunkzTXt*>(picture.ChunkList().Item(i)))
      sizes.push_back(text->Text.size());
  EXPECT_EQ(sizes, (std::vector<size_t>{big.size(), big.size(), 0, 5}));
}

TEST(PngDecode, ZlibStreamEndingEarlyIsAnUnexpectedEndKeepingTheRowsRead) {
  // A complete zlib stream that holds only the first rows.
  Image im = RandomImage(8, 6, 0, 8, 21);
  for (auto& s : im.samples) s = uint16_t(s | 1);  // no zero samples
  std::vector<uint8_t> rows;
  for (uint32_t y = 0; y < 2; ++y) {
    rows.push_back(0);
    for (uint32_t x = 0; x < 8; ++x) rows.push_back(uint8_t(im.At(x, y, 0)));
  }
  std::vector<uint8_t> z = Compress(rows);
  std::vector<uint8_t> file = Encode(im);
  std::vector<uint8_t> patched(file.begin(), file.begin() + 8);
  for (const FileChunk& c : ListChunks(file)) {
    std::vector<uint8_t> bytes = MakeChunk(c.type, c.type == "IDAT" ? z : c.data);
    patched.insert(patched.end(), bytes.begin(), bytes.end());
  }
  PngPicture picture;
  EXPECT_THROW(Load(picture, patched), kelm::png::EPngUnexpectedEnd);
  ASSERT_NE(picture.Header(), nullptr);
  for (uint32_t y = 0; y < 6; ++y)
    for (uint32_t x = 0; x < 8; ++x)
      ASSERT_EQ(StoredSample(*picture.Header(), x, y, 0), y < 2 ? im.At(x, y, 0) : 0)
          << x << "," << y;
}

}  // namespace
}  // namespace kelm::test
