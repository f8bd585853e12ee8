// The picture object and its chunk classes: CRC, registry, lists, copying,
// pixel access, resizing and the texts of the errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "png/png_crc.h"
#include "png/png_errors.h"
#include "png_test_support.h"

namespace kelm::test {
namespace {

using namespace kelm::png;

TEST(PngCrc, MatchesTheStandardsValues) {
  // The CRC every IEND chunk carries, and the standard check value.
  const uint8_t iend[4] = {'I', 'E', 'N', 'D'};
  EXPECT_EQ(PngChunkCrc(iend, nullptr, 0), 0xAE426082u);
  const char check[] = "123456789";
  EXPECT_EQ(PngCrcFinish(PngCrcUpdate(kCrcInit, check, 9)), 0xCBF43926u);
  std::vector<uint8_t> bytes(1000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i * 131 + 7);
  EXPECT_EQ(PngCrcFinish(PngCrcUpdate(kCrcInit, bytes.data(), bytes.size())),
            Crc32(bytes.data(), bytes.size()));
  // Long runs take another path than short ones: every length around its
  // 16- and 64-byte steps, from every alignment, in one piece and split.
  for (size_t start = 0; start < 16; ++start)
    for (size_t length = 0; length + start <= 300; length += length < 140 ? 1 : 37) {
      const uint8_t* p = bytes.data() + start;
      const uint32_t expected = Crc32(p, length);
      ASSERT_EQ(PngCrcFinish(PngCrcUpdate(kCrcInit, p, length)), expected)
          << start << " " << length;
      const size_t half = length / 2;
      ASSERT_EQ(
          PngCrcFinish(PngCrcUpdate(PngCrcUpdate(kCrcInit, p, half), p + half, length - half)),
          expected)
          << start << " " << length << " split";
    }
}

TEST(PngFilters, PaethBreaksTiesTowardsLeftThenAbove) {
  struct Case {
    uint8_t a, b, c, expected;
  };
  const Case cases[] = {
      {10, 10, 10, 10},   // all equal
      {10, 20, 10, 20},   // p = 20: b exact
      {20, 10, 10, 20},   // p = 20: a exact
      {5, 9, 7, 7},       // p = 7: c exact
      {10, 4, 8, 4},      // p = 6: pb = pc = 2 < pa -> b
      {4, 10, 8, 4},      // p = 6: pa = pc = 2 < pb -> a
      {0, 255, 255, 0},   // p = 0: a
      {100, 50, 75, 75},  // p = 75: c
      {3, 7, 0, 7},       // p = 10: pa 7, pb 3, pc 10 -> b
      {6, 4, 5, 5},       // p = 5: pa 1, pb 1, pc 0 -> c
      {6, 4, 2, 6},       // p = 8: pa 2, pb 4 -> a
      {2, 4, 6, 2},       // p = 0: pa 2, pb 4, pc 6 -> a
      {4, 2, 6, 2},       // p = 0: pa 4, pb 2 -> b
  };
  for (const Case& c : cases)
    EXPECT_EQ(PaethPredictor(c.a, c.b, c.c), c.expected)
        << int(c.a) << " " << int(c.b) << " " << int(c.c);
}

TEST(PngFilters, UnfilteringMatchesTheStandardForEveryPixelSizeAndLength) {
  // The standard's reconstruction, byte by byte, with the predictor written
  // as its decision list. Rows of up to 90 bytes cover the whole-pixel
  // blocks of the wide pixel sizes and every length of their tails; bytes
  // after the row (in the decoder, the next row's) must stay as they were.
  auto reference = [](uint8_t type, std::vector<uint8_t> row, const std::vector<uint8_t>& prev,
                      size_t bpp) {
    for (size_t i = 0; i < row.size(); ++i) {
      int a = i >= bpp ? row[i - bpp] : 0, b = prev[i], c = i >= bpp ? prev[i - bpp] : 0;
      int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
      int predictor[5] = {0, a, b, (a + b) / 2, pa <= pb && pa <= pc ? a : pb <= pc ? b : c};
      row[i] = uint8_t(row[i] + predictor[type]);
    }
    return row;
  };
  uint32_t state = 12345;
  auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    // Extremes often, so that sums and differences wrap.
    uint32_t v = state >> 24;
    return uint8_t(v < 32 ? 0 : v < 64 ? 255 : v);
  };
  for (size_t bpp = 1; bpp <= 8; ++bpp)
    for (size_t length = bpp; length <= 90; length += bpp)
      for (uint8_t type = 0; type < 5; ++type) {
        std::vector<uint8_t> row(length), prev(length), guard(16);
        for (uint8_t& v : row) v = next();
        for (uint8_t& v : prev) v = next();
        for (uint8_t& v : guard) v = next();
        std::vector<uint8_t> buffer = row;
        buffer.insert(buffer.end(), guard.begin(), guard.end());
        UnfilterRow(type, buffer.data(), prev.data(), length, bpp);
        SCOPED_TRACE("pixel " + std::to_string(bpp) + " length " + std::to_string(length) +
                     " type " + std::to_string(type));
        ASSERT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + long(length)),
                  reference(type, row, prev, bpp));
        ASSERT_EQ(std::vector<uint8_t>(buffer.begin() + long(length), buffer.end()), guard);
        // Nor is anything read past the row (the sanitizers see an exact one).
        std::vector<uint8_t> exact = row;
        UnfilterRow(type, exact.data(), prev.data(), length, bpp);
        ASSERT_EQ(exact, reference(type, row, prev, bpp));
      }
}

TEST(PngFilters, UnknownFilterTypeLeavesTheRow) {
  uint8_t row[4] = {1, 2, 3, 4};
  const uint8_t prev[4] = {9, 9, 9, 9};
  UnfilterRow(5, row, prev, 4, 1);
  EXPECT_EQ(std::vector<uint8_t>(row, row + 4), (std::vector<uint8_t>{1, 2, 3, 4}));
}

TEST(PngChunks, RegistryCreatesTheClassOfEachType) {
  PngPicture picture;
  const char* known[] = {"IEND", "IHDR", "IDAT", "PLTE", "gAMA",
                         "tRNS", "pHYs", "tIME", "tEXt", "zTXt"};
  for (const char* type : known) {
    auto chunk = CreateChunk(picture, reinterpret_cast<const uint8_t*>(type));
    EXPECT_EQ(chunk->TypeName(), type);
    EXPECT_EQ(chunk->KindString(), type);
  }
  auto raw = CreateChunk(picture, reinterpret_cast<const uint8_t*>("teST"));
  EXPECT_EQ(&raw->ChunkClass(), &TChunk::StaticClass());
  EXPECT_EQ(TChunkgAMA(picture).Gamma(), 1u);
}

TEST(PngChunks, ListOperations) {
  PngPicture picture;
  TPNGList& list = picture.ChunkList();
  TChunk* a = list.Add(std::make_unique<TChunkIHDR>(picture));
  TChunk* b = list.Add(std::make_unique<TChunktEXt>(picture));
  TChunk* c = list.Add(std::make_unique<TChunktEXt>(picture));
  EXPECT_EQ(list.Count(), 3u);
  EXPECT_EQ(list.Item(3), nullptr);
  EXPECT_EQ(list.Find<TChunktEXt>(), b);
  EXPECT_EQ(list.Find<TChunkzTXt>(), nullptr);
  list.Remove(b);
  EXPECT_EQ(list.Count(), 2u);
  EXPECT_EQ(list.Find<TChunktEXt>(), c);
  list.SetItem(7, std::make_unique<TChunkIEND>(picture));  // out of range: nothing
  EXPECT_EQ(list.Count(), 2u);
  EXPECT_EQ(list.Item(0), a);
  picture.Clear();
  EXPECT_TRUE(picture.Empty());
}

TEST(PngChunks, AssignBetweenIncompatibleClassesFails) {
  PngPicture picture;
  TChunkIHDR header(picture);
  TChunkPLTE palette(picture);
  TChunkgAMA gamma(picture);
  TChunktEXt text(picture);
  for (TChunk* target : std::initializer_list<TChunk*>{&header, &palette, &gamma}) {
    try {
      target->Assign(text);
      ADD_FAILURE() << target->TypeName();
    } catch (const EPngError& e) {
      EXPECT_EQ(e.Message(), u"The chunks must be compatible to be assigned.");
    }
  }
  gamma.SetGamma(45455);
  TChunkgAMA other(picture);
  other.Assign(gamma);
  EXPECT_EQ(other.Gamma(), 45455u);
}

TEST(PngErrors, Texts) {
  EXPECT_STREQ(EPngUnexpectedEnd().what(),
               "This \"Portable Network Graphics\" image is invalid because the decoder found an "
               "unexpected end of the file.");
  EXPECT_STREQ(EPNGIHDRNotFirst().what(),
               "This \"Portable Network Graphics\" image is not supported or it might be invalid."
               "\r\n(IHDR chunk is not the first)");
  EXPECT_STREQ(EPNGInvalidFileHeader().what(),
               "The file being readed is not a valid \"Portable Network Graphics\" image because "
               "it contains an invalid header. This file may be corruped, try obtaining it "
               "again.");
  EXPECT_STREQ(EPNGInvalidNewSize().what(), "The new size provided for image resizing is invalid.");
  // Every error is one the graphic class can catch by the common base, and
  // one of the class library's exceptions with the same text.
  EXPECT_THROW(throw EPNGNoImageData(), EPngException);
  try {
    throw EPNGInvalidPalette();
  } catch (const classlib::Exception& e) {
    EXPECT_EQ(e.Message(), u"The \"Portable Network Graphics\" image contains an invalid palette.");
  }
}

TEST(PngPictureOps, OperationsNeedingTheHeader) {
  PngPicture picture;
  EXPECT_EQ(picture.Width(), 0u);
  EXPECT_THROW(picture.SetSize(4, 4), EPNGHeaderNotPresent);
  EXPECT_THROW(picture.Pixel(0, 0), EPNGHeaderNotPresent);
  PngMemoryStream out;
  picture.ChunkList().Add(std::make_unique<TChunkIDAT>(picture));
  EXPECT_THROW(picture.SaveToStream(out), EPNGHeaderNotPresent);
}

TEST(PngPictureOps, HeaderFieldsChangedAfterLoadingAreNotTrusted) {
  // Changing the format under prepared storage would make every row walk
  // past its end; the picture then counts as having no valid header.
  PngPicture picture;
  Load(picture, Encode(RandomImage(4, 4, 0, 8, 1)));
  TChunkIHDR& header = *picture.Header();
  header.ColourType = 2;
  PngMemoryStream out;
  EXPECT_THROW(picture.SaveToStream(out), EPNGHeaderNotPresent);
  EXPECT_THROW(picture.Pixel(3, 3), EPNGHeaderNotPresent);
  header.ColourType = 0;
  header.Width = 5000;
  EXPECT_THROW(picture.SetPixel(4000, 0, 0), EPNGHeaderNotPresent);
  // Preparing the storage again for the new fields makes it usable.
  header.PrepareStorage();
  picture.SetPixel(4999, 3, PngRgb(9, 9, 9));
  EXPECT_EQ(picture.Pixel(4999, 3), PngRgb(9, 9, 9));
  header.BitDepth = 3;
  EXPECT_THROW(header.PrepareStorage(), EPngInvalidIHDR);
}

TEST(PngPictureOps, OversizedTablesAreWrittenWithinTheirBounds) {
  EncodeOptions options;
  options.beforeImage = {{"tRNS", {1, 2}}};
  PngPicture picture;
  Load(picture, Encode(RandomImage(3, 3, 3, 8, 1), options));
  picture.ChunkList().Find<TChunkPLTE>()->EntryCount = 100000;
  picture.ChunkList().Find<TChunktRNS>()->SetPayloadSize(5000);
  std::vector<uint8_t> saved = Save(picture);
  EXPECT_EQ(ChunkData(saved, "PLTE").size(), 768u);
  EXPECT_EQ(ChunkData(saved, "tRNS").size(), 256u);
  TChunkPLTE detached(picture);
  detached.EntryCount = 4;  // more than its (empty) payload holds
  picture.Clear();
  EXPECT_THROW(detached.Item(2), EPngError);
}

TEST(PngPictureOps, PixelAccessPerFormat) {
  struct Case {
    uint8_t colourType, bitDepth;
    PngColour written, readBack;
  };
  const Case cases[] = {
      {0, 1, PngRgb(200, 200, 200), PngRgb(255, 255, 255)},
      {0, 2, PngRgb(90, 80, 80), PngRgb(85, 85, 85)},
      {0, 4, PngRgb(34, 34, 34), PngRgb(34, 34, 34)},
      {0, 8, PngRgb(77, 77, 77), PngRgb(77, 77, 77)},
      {0, 16, PngRgb(78, 78, 78), PngRgb(78, 78, 78)},
      {2, 8, PngRgb(1, 2, 3), PngRgb(1, 2, 3)},
      {6, 16, PngRgb(4, 5, 6), PngRgb(4, 5, 6)},
      {4, 8, PngRgb(9, 100, 100), PngRgb(9, 9, 9)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.colourType) + "/" + std::to_string(c.bitDepth));
    PngPicture picture;
    Load(picture, Encode(RandomImage(5, 3, c.colourType, c.bitDepth, 1)));
    picture.SetPixel(4, 2, c.written);
    EXPECT_EQ(picture.Pixel(4, 2), c.readBack);
    // Outside the image: nothing written, 0 read.
    picture.SetPixel(5, 0, PngRgb(1, 1, 1));
    picture.SetPixel(-1, 0, PngRgb(1, 1, 1));
    EXPECT_EQ(picture.Pixel(5, 0), 0u);
    EXPECT_EQ(picture.Pixel(0, -1), 0u);
    EXPECT_EQ(picture.Pixel(0, 3), 0u);
  }
}

TEST(PngPictureOps, ResizeKeepsTheTopLeftAndPadsNewPixels) {
  Image im = RandomImage(6, 5, 6, 16, 9);
  PngPicture picture;
  Load(picture, Encode(im));
  EXPECT_THROW(picture.SetSize(0, 5), EPNGInvalidNewSize);
  EXPECT_THROW(picture.SetSize(5, 0), EPNGInvalidNewSize);
  EXPECT_THROW(picture.SetSize(65536, 5), EPNGSizeExceeds);
  picture.SetSize(9, 3);
  EXPECT_EQ(picture.Width(), 9u);
  EXPECT_EQ(picture.Height(), 3u);
  const TChunkIHDR& header = *picture.Header();
  for (uint32_t y = 0; y < 3; ++y)
    for (uint32_t x = 0; x < 9; ++x)
      for (unsigned c = 0; c < 4; ++c) {
        uint16_t want = x < 6 ? KeptSample(im, x, y, c) : (c == 3 ? 0xFF00 : 0);
        ASSERT_EQ(StoredSample(header, x, y, c), want) << x << "," << y << " " << c;
      }
  // The resized picture saves and loads at its new size.
  PngPicture back;
  Load(back, Save(picture));
  EXPECT_EQ(back.Width(), 9u);
  EXPECT_EQ(back.Height(), 3u);
}

TEST(PngPictureOps, GreyRampAndPaletteSizes) {
  struct Case {
    uint8_t bitDepth;
    unsigned entries, ramp;
  };
  const Case cases[] = {{1, 2, 2}, {2, 16, 4}, {4, 16, 16}, {8, 256, 256}, {16, 256, 256}};
  for (const Case& c : cases) {
    PngPicture picture;
    Load(picture, Encode(RandomImage(3, 3, 0, c.bitDepth, 1)));
    const PngStorage& s = picture.Header()->Storage();
    ASSERT_EQ(s.PaletteCount(), c.entries) << int(c.bitDepth);
    EXPECT_EQ(s.Palette()[c.ramp - 1].red, 255);
    EXPECT_EQ(s.Palette()[0].red, 0);
    if (c.ramp < c.entries) {
      EXPECT_EQ(s.Palette()[c.ramp].red, 0);
    }
  }
}

TEST(PngPictureOps, TransparencyOf256BytesIsAccepted) {
  EncodeOptions options;
  options.beforeImage = {{"tRNS", std::vector<uint8_t>(256, 7)}};
  PngPicture picture;
  Load(picture, Encode(RandomImage(3, 3, 3, 8, 1), options));
  auto* trns = picture.ChunkList().Find<TChunktRNS>();
  ASSERT_NE(trns, nullptr);
  EXPECT_EQ(trns->AlphaTable[255], 7);
  EXPECT_EQ(picture.TransparencyMode(), PngTransparency::Partial);
}

TEST(PngPictureOps, LoadingIsLinearInTheChunkCount) {
  // Files of many empty ancillary chunks, up to the number kept. A list
  // that grows by a fixed step
  // copies its chunks over and over (about n * n / 20 moves for a step of
  // ten); one that grows geometrically moves fewer than two per chunk in
  // all, at every size, and reads each byte of the file once.
  auto file = [](size_t chunks) {
    std::vector<uint8_t> bytes = Encode(RandomImage(2, 2, 0, 8, 1));
    std::vector<uint8_t> empty = MakeChunk("prVt", {});
    std::vector<uint8_t> out(bytes.begin(), bytes.begin() + 8 + 25);  // signature, IHDR
    out.reserve(bytes.size() + chunks * empty.size());
    for (size_t i = 0; i < chunks; ++i) out.insert(out.end(), empty.begin(), empty.end());
    out.insert(out.end(), bytes.begin() + 8 + 25, bytes.end());
    return out;
  };
  for (size_t chunks : {size_t(250), kMaxAncillaryChunks}) {
    std::vector<uint8_t> bytes = file(chunks);
    PngPicture picture;
    PngReadStream in(bytes);
    picture.LoadFromStream(in);
    const TPNGList& list = picture.ChunkList();
    ASSERT_EQ(list.Count(), chunks + 3);
    EXPECT_LE(list.MovedItems(), 2 * list.Count()) << chunks;
    EXPECT_EQ(in.Position(), bytes.size()) << chunks;
  }
  // The count itself: a list grown one place at a time moves every chunk
  // it holds each time, far past the bound above.
  PngPicture owner;
  const uint8_t kind[4] = {'p', 'r', 'V', 't'};
  TPNGList stepped;
  for (size_t i = 0; i < 100; ++i) {
    stepped.Reserve(i + 1);
    stepped.Add(CreateChunk(owner, kind));
  }
  EXPECT_EQ(stepped.MovedItems(), 99u * 100u / 2u);
}

TEST(PngPictureOps, LargePlanesAreZeroFilledCopiedAndResized) {
  // Planes of 32 MiB and more (a 16-bit picture of user size) must read as
  // zero, copy, resize and free like the small ones.
  PngStorage storage;
  const uint8_t identity[256] = {};
  storage.Prepare(4096, 2800, kRgb, 16, identity);
  ASSERT_GE(size_t(storage.RowStride()) * storage.Height(), size_t(32) << 20);
  for (uint32_t y : {0u, 1399u, 2799u}) {
    const uint8_t* row = storage.Row(y);
    const uint8_t* low = storage.LowRow(y);
    ASSERT_TRUE(std::all_of(row, row + storage.RowStride(), [](uint8_t b) { return b == 0; }));
    ASSERT_TRUE(std::all_of(low, low + storage.RowStride(), [](uint8_t b) { return b == 0; }));
  }
  storage.Row(0)[0] = 1;
  storage.Row(2799)[storage.RowStride() - 1] = 2;
  storage.LowRow(2799)[5] = 3;
  PngStorage copy = storage.Clone();
  EXPECT_EQ(copy.Row(0)[0], 1);
  EXPECT_EQ(copy.Row(2799)[storage.RowStride() - 1], 2);
  EXPECT_EQ(copy.LowRow(2799)[5], 3);
  copy.Resize(4096, 2801);
  EXPECT_EQ(copy.Row(0)[0], 1);
  EXPECT_EQ(copy.LowRow(2799)[5], 3);
  EXPECT_EQ(copy.Row(2800)[7], 0);
  storage.Resize(2, 2);
  EXPECT_EQ(storage.Row(0)[0], 1);
}

TEST(PngPictureOps, AncillaryChunksAreKeptUpToTheBound) {
  // Numbered unknown chunks, then the first gamma chunk, then a text chunk.
  // At the bound all are kept and written back in order; past it the
  // unknown and text chunks are skipped, the gamma chunk still applies, and
  // a hostile count of them takes no more than the bound.
  const Image im = RandomImage(3, 2, 2, 8, 5);
  for (size_t chunks : {kMaxAncillaryChunks - 2, kMaxAncillaryChunks - 1, size_t(300000)}) {
    SCOPED_TRACE(chunks);
    EncodeOptions options;
    options.beforeImage.reserve(chunks + 1);
    for (size_t i = 0; i < chunks; ++i) {
      std::vector<uint8_t> number(4);
      PutBE32(number.data(), uint32_t(i));
      options.beforeImage.push_back({"prVt", number});
    }
    options.beforeImage.push_back({"gAMA", {0, 1, 0x86, 0xA0}});
    options.afterImage = {{"tEXt", {'k', 0, 'v'}}};
    std::vector<uint8_t> file = Encode(im, options);
    PngPicture picture;
    PngReadStream in(file);
    picture.LoadFromStream(in);
    EXPECT_EQ(in.Position(), file.size());
    EXPECT_NE(picture.GammaLut[128], 128);

    const size_t unknown = std::min(chunks, kMaxAncillaryChunks);
    const bool text = unknown + 1 < kMaxAncillaryChunks;
    std::vector<std::string> types = {"IHDR"};
    types.insert(types.end(), unknown, "prVt");
    types.insert(types.end(), {"gAMA", "IDAT"});
    if (text) types.push_back("tEXt");
    types.push_back("IEND");
    ASSERT_EQ(picture.ChunkList().Count(), types.size());

    const std::vector<uint8_t> saved = Save(picture);
    const std::vector<FileChunk> written = ListChunks(saved);
    ASSERT_EQ(written.size(), types.size());
    for (size_t i = 0; i < written.size(); ++i) {
      ASSERT_EQ(written[i].type, types[i]) << i;
      if (written[i].type == "prVt") {
        ASSERT_EQ(GetBE32(written[i].data.data()), i - 1);
      }
    }
    // What was kept loads again whole and saves the same file.
    PngPicture again;
    Load(again, saved);
    EXPECT_EQ(Save(again), saved);
  }
}

}  // namespace
}  // namespace kelm::test
