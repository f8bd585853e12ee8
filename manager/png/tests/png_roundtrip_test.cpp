// Saving: what the codec writes is read back by the independent reader as
// the same samples, and by the codec itself as the same storage.
#include <gtest/gtest.h>

#include <map>

#include "png/png_bitmap.h"
#include "png/png_errors.h"
#include "png/png_records.h"
#include "png_test_support.h"

namespace kelm::test {
namespace {

using namespace kelm::png;

// What a saved image holds: 16-bit samples keep only their high byte.
Image Expected(const Image& im) {
  Image out = im;
  if (out.bitDepth == 16)
    for (auto& s : out.samples) s = uint16_t(s & 0xFF00);
  return out;
}

std::vector<uint8_t> Resaved(const std::vector<uint8_t>& file, PngPicture& picture) {
  Load(picture, file);
  return Save(picture);
}

TEST(PngRoundTrip, EveryFormatReadsBackUnchanged) {
  uint32_t seed = 500;
  for (const Format& f : AllFormats())
    for (bool interlace : {false, true})
      for (uint32_t size : {1u, 5u, 33u}) {
        Image im = RandomImage(size, size + 2, f.colourType, f.bitDepth, seed++);
        SCOPED_TRACE(Describe(im, interlace));
        EncodeOptions options;
        options.interlace = interlace;
        PngPicture picture;
        std::vector<uint8_t> saved = Resaved(Encode(im, options), picture);

        Image back;
        std::string why;
        ASSERT_TRUE(Decode(saved, &back, &why)) << why;
        // 2-bit palette indices are written as 4-bit ones of the same value.
        EXPECT_EQ(back.bitDepth, f.colourType == 3 && f.bitDepth == 2 ? 4 : f.bitDepth);
        EXPECT_EQ(back.colourType, f.colourType);
        Image want = Expected(im);
        EXPECT_EQ(back.samples, want.samples);
        EXPECT_EQ(back.palette, im.palette);

        PngPicture again;
        Load(again, saved);
        want.bitDepth = back.bitDepth;
        EXPECT_TRUE(StorageMatches(again, want));
      }
}

TEST(PngRoundTrip, TwoBitGreyKeepsItsDepthAndLevels) {
  Image im = RandomImage(13, 5, 0, 2, 8);
  PngPicture picture;
  std::vector<uint8_t> saved = Resaved(Encode(im), picture);
  Image back;
  std::string why;
  ASSERT_TRUE(Decode(saved, &back, &why)) << why;
  EXPECT_EQ(back.bitDepth, 2);
  EXPECT_EQ(back.samples, im.samples);
  // Level 3 is white, level 1 a third of the way.
  for (uint32_t x = 0; x < im.width; ++x) {
    uint8_t grey = uint8_t(im.At(x, 0, 0) * 85);
    EXPECT_EQ(picture.Pixel(x, 0), PngRgb(grey, grey, grey)) << x;
  }
}

TEST(PngRoundTrip, SixteenBitKeepsHighBytesAndZeroesLowBytes) {
  Image im = RandomImage(6, 4, 2, 16, 77);
  PngPicture picture;
  PngPicture again;
  Load(again, Resaved(Encode(im), picture));
  for (uint32_t y = 0; y < 4; ++y)
    for (uint32_t x = 0; x < 6; ++x)
      for (unsigned c = 0; c < 3; ++c)
        EXPECT_EQ(StoredSample(*again.Header(), x, y, c), im.At(x, y, c) & 0xFF00);
}

TEST(PngRoundTrip, SixteenBitTransparentColourKeepsExactlyItsPixels) {
  // Samples share high bytes with the key, so writing them by their high
  // byte alone would merge them with it. Keys with and without a low byte.
  struct Case {
    uint8_t colourType;
    std::vector<uint16_t> key;
  };
  const Case cases[] = {
      {0, {0x1256}}, {0, {0x1200}}, {2, {0x1256, 0x3400, 0x1200}}, {2, {0x1200, 0x3400, 0x1200}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.colourType) + " key " + std::to_string(c.key[0]));
    Image im = RandomImage(32, 32, c.colourType, 16, 31);
    // Pixel by pixel: the key; the key with the first low byte changed; with
    // every low byte changed; with another high byte.
    for (uint32_t n = 0; n < 32 * 32; ++n)
      for (size_t k = 0; k < c.key.size(); ++k) {
        const uint16_t changes[] = {0, uint16_t(k == 0 ? 0x56 : 0), 0x56, 0x2600};
        im.samples[n * c.key.size() + k] = uint16_t(c.key[k] ^ changes[(n + n / 32) % 4]);
      }
    std::vector<uint8_t> trns(2 * c.key.size());
    for (size_t k = 0; k < c.key.size(); ++k) PutBE16(&trns[2 * k], c.key[k]);
    EncodeOptions options;
    options.beforeImage = {{"tRNS", trns}};
    PngPicture picture;
    Load(picture, Encode(im, options));
    PngPicture again;
    Load(again, Save(picture));
    unsigned transparent = 0;
    for (uint32_t y = 0; y < 32; ++y)
      for (uint32_t x = 0; x < 32; ++x) {
        bool isKey = true;
        for (size_t k = 0; k < c.key.size(); ++k)
          isKey = isKey && im.At(x, y, unsigned(k)) == c.key[k];
        transparent += isKey;
        ASSERT_EQ(IsTransparentPixel(picture, x, y), isKey) << x << "," << y;
        ASSERT_EQ(IsTransparentPixel(again, x, y), isKey) << x << "," << y;
      }
    EXPECT_GT(transparent, 0u);
    EXPECT_LT(transparent, 1024u);
  }
}

TEST(PngRoundTrip, FilterChoice) {
  struct Case {
    const char* name;
    PngFilterSet allowed;
    std::vector<uint8_t> expected;  // every row's filter, or {} to check only validity
  };
  const PngFilterSet all = 0x1F;
  const Case cases[] = {
      {"default {Sub}", FilterBit(kFilterSub), {1, 1, 1, 1}},
      {"empty set", 0, {0, 0, 0, 0}},
      {"only None", FilterBit(kFilterNone), {0, 0, 0, 0}},
      {"only Paeth", FilterBit(kFilterPaeth), {4, 4, 4, 4}},
      {"only Up", FilterBit(kFilterUp), {2, 2, 2, 2}},
      // Row 0 (squares) repeats under no filter: None. Row 1 repeats row 0:
      // Up and Paeth both give zeros, Up wins the tie. Rows 2 and 3 repeat
      // as they are: None wins its ties with Sub.
      {"all five", all, {0, 2, 0, 0}},
  };
  Image im;
  im.width = 12;
  im.height = 4;
  im.colourType = 0;
  im.bitDepth = 8;
  for (uint32_t y = 0; y < 4; ++y)
    for (uint32_t x = 0; x < 12; ++x)
      im.samples.push_back(uint16_t(y < 2 ? x * x : y == 2 ? 9 : (x % 2 ? 200 : 9)));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PngPicture picture;
    Load(picture, Encode(im));
    picture.RowFilters = c.allowed;
    std::vector<uint8_t> saved = Save(picture);
    Image back;
    std::string why;
    std::vector<uint8_t> filters;
    ASSERT_TRUE(Decode(saved, &back, &why, &filters)) << why;
    EXPECT_EQ(back.samples, im.samples);
    EXPECT_EQ(filters, c.expected);
  }
}

TEST(PngRoundTrip, EveryFilterSetWritesTheSameImage) {
  Image im = RandomImage(40, 37, 6, 8, 3);
  for (PngFilterSet set = 0; set < 32; ++set) {
    for (bool interlace : {false, true}) {
      PngPicture picture;
      EncodeOptions options;
      options.interlace = interlace;
      Load(picture, Encode(im, options));
      picture.RowFilters = set;
      Image back;
      std::string why;
      ASSERT_TRUE(Decode(Save(picture), &back, &why)) << why;
      ASSERT_EQ(back.samples, im.samples) << int(set);
    }
  }
}

TEST(PngRoundTrip, InterlacingCanBeSwitchedForSaving) {
  for (const Format& f : AllFormats())
    for (uint8_t target : {0, 1}) {
      Image im = RandomImage(11, 6, f.colourType, f.bitDepth, 31);
      SCOPED_TRACE(Describe(im, target == 1));
      EncodeOptions options;
      options.interlace = target == 0;
      PngPicture picture;
      Load(picture, Encode(im, options));
      picture.Interlacing = target;
      std::vector<uint8_t> saved = Save(picture);
      EXPECT_EQ(ChunkData(saved, "IHDR").at(12), target);
      Image back;
      std::string why;
      ASSERT_TRUE(Decode(saved, &back, &why)) << why;
      EXPECT_EQ(back.samples, Expected(im).samples);
    }
}

TEST(PngRoundTrip, ImageDataIsSplitAtTheLimit) {
  Image im = RandomImage(300, 300, 2, 8, 1);
  PngPicture picture;
  Load(picture, Encode(im));
  picture.DeflateLevel = 0;
  picture.SetIdatLimit(0xFFFFFFFFu);
  EXPECT_EQ(picture.IdatLimit(), 0x7FFFFFFFu);
  picture.SetIdatLimit(100);
  EXPECT_EQ(picture.IdatLimit(), 65535u);
  std::vector<uint8_t> saved = Save(picture);
  std::vector<size_t> sizes;
  for (const FileChunk& c : ListChunks(saved))
    if (c.type == "IDAT") sizes.push_back(c.data.size());
  ASSERT_GE(sizes.size(), 3u);
  for (size_t i = 0; i + 1 < sizes.size(); ++i) EXPECT_EQ(sizes[i], 65535u);
  EXPECT_LE(sizes.back(), 65535u);
  Image back;
  std::string why;
  ASSERT_TRUE(Decode(saved, &back, &why)) << why;
  EXPECT_EQ(back.samples, im.samples);
}

TEST(PngRoundTrip, AncillaryChunksAndPalettes) {
  EncodeOptions options;
  options.beforeImage = {{"tRNS", {10, 0, 255, 30}}, {"prVt", {1, 2, 3, 0, 9}}};
  options.afterImage = {{"tEXt", {'k', 0, 'v'}}, {"cHRM", std::vector<uint8_t>(32, 1)}};
  Image im = RandomImage(7, 3, 3, 8, 2);
  std::vector<uint8_t> file = Encode(im, options);
  PngPicture picture;
  std::vector<uint8_t> saved = Resaved(file, picture);
  std::vector<std::string> types;
  std::map<std::string, std::vector<uint8_t>> data;
  for (const FileChunk& c : ListChunks(saved)) {
    types.push_back(c.type);
    data[c.type] = c.data;
    EXPECT_TRUE(c.crcOk) << c.type;
  }
  EXPECT_EQ(data["prVt"], (std::vector<uint8_t>{1, 2, 3, 0, 9}));
  EXPECT_EQ(data["tRNS"], (std::vector<uint8_t>{10, 0, 255, 30}));
  EXPECT_EQ(data["tEXt"], (std::vector<uint8_t>{'k', 0, 'v'}));
  // cHRM is dropped on load.
  EXPECT_EQ(types,
            (std::vector<std::string>{"IHDR", "PLTE", "tRNS", "prVt", "IDAT", "tEXt", "IEND"}));
  Image back;
  std::string why;
  ASSERT_TRUE(Decode(saved, &back, &why)) << why;
  EXPECT_EQ(back.palette, im.palette);
  EXPECT_EQ(back.samples, im.samples);
}

TEST(PngRoundTrip, SecondImageDataRunIsIgnored) {
  Image first = RandomImage(4, 4, 0, 8, 1), second = RandomImage(4, 4, 0, 8, 2);
  std::vector<uint8_t> other;
  for (const FileChunk& c : ListChunks(Encode(second)))
    if (c.type == "IDAT") other = MakeChunk("IDAT", c.data);
  EncodeOptions options;
  options.afterImage = {{"tEXt", {'a', 0, 'b'}}};
  std::vector<uint8_t> file = Encode(first, options);
  file.insert(file.end() - 12, other.begin(), other.end());
  PngPicture picture;
  Load(picture, file);
  EXPECT_TRUE(StorageMatches(picture, first));
  size_t idats = 0;
  for (const FileChunk& c : ListChunks(Save(picture))) idats += c.type == "IDAT";
  EXPECT_EQ(idats, 1u);
}

TEST(PngRoundTrip, GammaCorrectedColoursLoadTheSameAfterSaving) {
  // Gamma 1.0 file: samples are brightened on load and written back through
  // the inverse table, so loading the saved file shows the same colours.
  EncodeOptions options;
  options.beforeImage = {{"gAMA", {0, 1, 0x86, 0xA0}}};
  Image im = RandomImage(16, 16, 6, 8, 4);
  PngPicture picture;
  std::vector<uint8_t> saved = Resaved(Encode(im, options), picture);
  PngPicture again;
  Load(again, saved);
  for (uint32_t y = 0; y < 16; ++y)
    for (uint32_t x = 0; x < 16; ++x)
      for (unsigned c = 0; c < 4; ++c)
        ASSERT_EQ(StoredSample(*again.Header(), x, y, c), StoredSample(*picture.Header(), x, y, c));
  // The stored colours are brightened; the written ones are not. Dark
  // samples, where the correction is one to one, come back exactly.
  Image back;
  std::string why;
  ASSERT_TRUE(Decode(saved, &back, &why)) << why;
  for (uint32_t y = 0; y < 16; ++y)
    for (uint32_t x = 0; x < 16; ++x)
      for (unsigned c = 0; c < 3; ++c) {
        uint16_t v = im.At(x, y, c);
        if (v == 0 || v >= 40) continue;
        ASSERT_GT(StoredSample(*picture.Header(), x, y, c), v);
        ASSERT_EQ(back.At(x, y, c), v);
      }
}

std::vector<uint8_t> GammaChunk(uint32_t gamma) {
  std::vector<uint8_t> data(4);
  PutBE32(data.data(), gamma);
  return data;
}

TEST(PngRoundTrip, GammaFilesSaveTheSamplesTheyRead) {
  // Correction merges neighbouring samples (bright ones at gamma 1.0 and
  // 2.5, dark ones at 0.45), true-colour samples in the storage and palette
  // colours in the palette; saving must still write the file's own.
  const Format formats[] = {{3, 8}, {3, 2},  {0, 8}, {0, 16}, {4, 8},
                            {2, 8}, {2, 16}, {6, 8}, {6, 16}};
  uint32_t seed = 900;
  for (uint32_t gamma : {45000u, 100000u, 250000u})
    for (const Format& f : formats)
      for (bool interlace : {false, true}) {
        Image im = RandomImage(24, 24, f.colourType, f.bitDepth, seed++);
        SCOPED_TRACE(Describe(im, interlace) + " gamma " + std::to_string(gamma));
        EncodeOptions options;
        options.interlace = interlace;
        options.beforeImage = {{"gAMA", GammaChunk(gamma)}};
        PngPicture picture;
        std::vector<uint8_t> saved = Resaved(Encode(im, options), picture);
        Image back;
        std::string why;
        ASSERT_TRUE(Decode(saved, &back, &why)) << why;
        EXPECT_EQ(back.samples, Expected(im).samples);
        EXPECT_EQ(back.palette, im.palette);
        EXPECT_EQ(ChunkData(saved, "gAMA"), GammaChunk(gamma));
        // The saved file shows as the loaded one did, and saves the same.
        PngPicture again;
        Load(again, saved);
        for (uint32_t y = 0; y < im.height; ++y)
          for (uint32_t x = 0; x < im.width; ++x)
            ASSERT_EQ(again.Pixel(x, y), picture.Pixel(x, y)) << x << "," << y;
        EXPECT_EQ(Save(again), saved);
      }
}

TEST(PngRoundTrip, ChangedGammaColoursAreWrittenAsShown) {
  // Gamma 1.0: what is set after loading is written so that it shows as
  // set; what is left alone keeps the file's samples, also after resizing.
  const std::vector<uint8_t> gama = GammaChunk(100000);
  for (uint8_t colourType : {2, 3}) {
    SCOPED_TRACE(int(colourType));
    Image im = RandomImage(8, 8, colourType, 8, 41);
    EncodeOptions options;
    options.beforeImage = {{"gAMA", gama}};
    PngPicture picture;
    Load(picture, Encode(im, options));
    const uint8_t* lut = picture.GammaLut;
    const PngColour set = PngRgb(lut[10], lut[200], lut[255]);
    if (colourType == 2) {
      picture.SetPixel(3, 2, set);
    } else {
      PngRgbQuad& entry = picture.Header()->Storage().Palette()[im.At(3, 2, 0)];
      entry = {lut[255], lut[200], lut[10], 0};
    }
    picture.SetSize(9, 8);
    PngPicture again;
    Load(again, Save(picture));
    EXPECT_EQ(again.Pixel(3, 2), set);
    Image back;
    std::string why;
    ASSERT_TRUE(Decode(Save(picture), &back, &why)) << why;
    for (uint32_t y = 0; y < 8; ++y)
      for (uint32_t x = 0; x < 8; ++x) {
        if (colourType == 3) {
          ASSERT_EQ(back.At(x, y, 0), im.At(x, y, 0));
          continue;
        }
        for (unsigned c = 0; c < 3; ++c) {
          if (x != 3 || y != 2) {
            ASSERT_EQ(back.At(x, y, c), im.At(x, y, c)) << x << "," << y;
          }
        }
      }
    if (colourType == 3) {
      for (size_t i = 0; i < im.palette.size(); ++i) {
        if (i != im.At(3, 2, 0)) {
          ASSERT_EQ(back.palette[i], im.palette[i]) << i;
        }
      }
    }
  }
}

TEST(PngRoundTrip, CompressedTextIsWrittenCompressed) {
  PngPicture picture;
  Load(picture, Encode(RandomImage(2, 2, 0, 8, 1)));
  auto chunk = std::make_unique<TChunkzTXt>(picture);
  chunk->Keyword = "Note";
  picture.ChunkList().Remove(picture.ChunkList().Find<TChunkIEND>());
  TChunk* added = picture.ChunkList().Add(std::move(chunk));
  picture.ChunkList().Add(std::make_unique<TChunkIEND>(picture));
  // An empty text is written as one space.
  PngPicture back;
  Load(back, Save(picture));
  auto* text = back.ChunkList().Find<TChunkzTXt>();
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->Keyword, "Note");
  EXPECT_EQ(text->Text, " ");
  static_cast<TChunkzTXt*>(added)->Text = std::string(5000, 'q');
  Load(back, Save(picture));
  EXPECT_EQ(back.ChunkList().Find<TChunkzTXt>()->Text, std::string(5000, 'q'));
  EXPECT_LT(back.ChunkList().Find<TChunkzTXt>()->PayloadSize(), 200u);
}

TEST(PngRoundTrip, AssignedCopySavesTheSameBytes) {
  EncodeOptions options;
  options.interlace = true;
  options.beforeImage = {{"gAMA", {0, 1, 0x86, 0xA0}}, {"tRNS", {0, 1, 0, 2, 0, 3}}};
  options.afterImage = {{"tIME", {7, 234, 1, 2, 3, 4, 5}},
                        {"zTXt", {'a', 0, 0, 0x78, 0x9C, 3, 0, 0, 0, 0, 1}}};
  PngPicture picture;
  Load(picture, Encode(RandomImage(9, 9, 2, 8, 6), options));
  picture.RowFilters = 0x1F;
  picture.DeflateLevel = 9;
  PngPicture copy;
  copy.Assign(&picture);
  EXPECT_EQ(copy.Interlacing, 1);
  EXPECT_EQ(copy.RowFilters, 0x1F);
  EXPECT_EQ(copy.DeflateLevel, 9);
  EXPECT_EQ(Save(copy), Save(picture));
  copy.Assign(nullptr);
  EXPECT_TRUE(copy.Empty());
}

}  // namespace
}  // namespace kelm::test
