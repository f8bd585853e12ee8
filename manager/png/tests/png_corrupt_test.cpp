// Damaged and hostile files: each is refused with its error, never read past
// its end, and what was decoded before the damage stays.
#include <gtest/gtest.h>

#include <functional>

#include "png/png_errors.h"
#include "png/png_records.h"
#include "png_test_support.h"

namespace kelm::test {
namespace {

using namespace kelm::png;

std::vector<uint8_t> Signature() { return {137, 80, 78, 71, 13, 10, 26, 10}; }

void Append(std::vector<uint8_t>& file, const std::vector<uint8_t>& bytes) {
  file.insert(file.end(), bytes.begin(), bytes.end());
}

std::vector<uint8_t> Ihdr(uint32_t w, uint32_t h, uint8_t depth, uint8_t type,
                          uint8_t compression = 0, uint8_t interlace = 0) {
  std::vector<uint8_t> d(13);
  PutBE32(&d[0], w);
  PutBE32(&d[4], h);
  d[8] = depth;
  d[9] = type;
  d[10] = compression;
  d[12] = interlace;
  return MakeChunk("IHDR", d);
}

// A chunk whose length field says one thing and whose data is another.
std::vector<uint8_t> LyingChunk(const std::string& type, uint32_t length,
                                const std::vector<uint8_t>& data) {
  std::vector<uint8_t> c = MakeChunk(type, data);
  PutBE32(c.data(), length);
  return c;
}

// Rebuilds a generated file with one chunk changed by edit (which may also
// return nothing to drop it).
std::vector<uint8_t> Rebuild(const std::vector<uint8_t>& file,
                             const std::function<std::vector<uint8_t>(const FileChunk&)>& edit) {
  std::vector<uint8_t> out = Signature();
  for (const FileChunk& c : ListChunks(file)) Append(out, edit(c));
  return out;
}

std::vector<uint8_t> Same(const FileChunk& c) { return MakeChunk(c.type, c.data); }

std::vector<uint8_t> SmallFile(bool interlace = false) {
  EncodeOptions options;
  options.interlace = interlace;
  options.cuts = {7, 20};
  options.beforeImage = {{"gAMA", {0, 0, 0xB1, 0x8F}}};
  options.afterImage = {{"tEXt", {'a', 0, 'b'}}};
  return Encode(RandomImage(9, 7, 3, 4, 17), options);
}

template <typename E>
::testing::AssertionResult Fails(const std::vector<uint8_t>& file) {
  PngPicture picture;
  try {
    Load(picture, file);
  } catch (const E&) {
    return ::testing::AssertionSuccess();
  } catch (const std::exception& e) {
    return ::testing::AssertionFailure() << "other error: " << e.what();
  }
  return ::testing::AssertionFailure() << "loaded";
}

TEST(PngCorrupt, RefusedWithTheirError) {
  std::vector<uint8_t> good = SmallFile();
  auto flipCrc = [](const std::string& type, int nth) {
    return [type, nth, seen = 0](const FileChunk& c) mutable {
      std::vector<uint8_t> bytes = MakeChunk(c.type, c.data);
      if (c.type == type && seen++ == nth) bytes.back() ^= 1;
      return bytes;
    };
  };
  struct Case {
    const char* name;
    std::vector<uint8_t> file;
    std::function<::testing::AssertionResult(const std::vector<uint8_t>&)> check;
  };
  std::vector<uint8_t> badSignature = good;
  badSignature[1] = 'p';
  std::vector<uint8_t> textFirst = Signature();
  Append(textFirst, MakeChunk("tEXt", {'a', 0, 'b'}));
  Append(textFirst, std::vector<uint8_t>(good.begin() + 8, good.end()));
  std::vector<uint8_t> zeroWidth = Signature();
  Append(zeroWidth, Ihdr(0, 5, 8, 0));
  std::vector<uint8_t> zeroHeight = Signature();
  Append(zeroHeight, Ihdr(5, 0, 8, 0));
  std::vector<uint8_t> wide = Signature();
  Append(wide, Ihdr(65536, 1, 8, 0));
  std::vector<uint8_t> tall = Signature();
  Append(tall, Ihdr(1, 0xFFFFFFFF, 8, 0));
  std::vector<uint8_t> huge = Signature();
  Append(huge, Ihdr(65535, 65535, 16, 6));
  std::vector<uint8_t> rgb4 = Signature();
  Append(rgb4, Ihdr(4, 4, 4, 2));
  std::vector<uint8_t> palette16 = Signature();
  Append(palette16, Ihdr(4, 4, 16, 3));
  std::vector<uint8_t> type5 = Signature();
  Append(type5, Ihdr(4, 4, 8, 5));
  std::vector<uint8_t> compression = Signature();
  Append(compression, Ihdr(4, 4, 8, 0, 1));
  std::vector<uint8_t> interlace = Signature();
  Append(interlace, Ihdr(4, 4, 8, 0, 0, 2));
  std::vector<uint8_t> shortHeader = Signature();
  Append(shortHeader, MakeChunk("IHDR", {0, 0, 0, 4, 0, 0, 0, 4, 8, 0, 0, 0}));

  auto replace = [&good](const std::string& type, const std::vector<uint8_t>& with) {
    return Rebuild(good,
                   [type, with](const FileChunk& c) { return c.type == type ? with : Same(c); });
  };
  auto insertAfter = [&good](const std::string& type, std::vector<uint8_t> extra) {
    return Rebuild(good, [type, extra, done = false](const FileChunk& c) mutable {
      std::vector<uint8_t> bytes = Same(c);
      if (c.type == type && !done) {
        bytes.insert(bytes.end(), extra.begin(), extra.end());
        done = true;
      }
      return bytes;
    });
  };
  auto noIdat = Rebuild(
      good, [](const FileChunk& c) { return c.type == "IDAT" ? std::vector<uint8_t>() : Same(c); });
  // A chunk between two parts of the image data.
  auto split = insertAfter("IDAT", MakeChunk("tEXt", {'x', 0, 'y'}));
  auto garbage = Rebuild(good, [first = true](const FileChunk& c) mutable {
    if (c.type != "IDAT") return Same(c);
    if (!first) return std::vector<uint8_t>();
    first = false;
    return MakeChunk("IDAT", {0x78, 0x9C, 0xFF, 0xFF, 0xFF, 0xFF});
  });

  const Case cases[] = {
      {"bad signature", badSignature, Fails<EPNGInvalidFileHeader>},
      {"signature only", Signature(), Fails<EPngUnexpectedEnd>},
      {"header not first", textFirst, Fails<EPNGIHDRNotFirst>},
      // A second header would re-make the storage (and its memory cap) under
      // the first one's chunks.
      {"second header", insertAfter("PLTE", Ihdr(9, 7, 4, 3)), Fails<EPngInvalidIHDR>},
      {"zero width", zeroWidth, Fails<EPngInvalidIHDR>},
      {"zero height", zeroHeight, Fails<EPngInvalidIHDR>},
      {"width above 65535", wide, Fails<EPNGSizeExceeds>},
      {"height 2^32-1", tall, Fails<EPNGSizeExceeds>},
      {"storage beyond what a process can hold", huge, Fails<EPNGOutMemory>},
      {"RGB at 4 bits", rgb4, Fails<EPngInvalidIHDR>},
      {"palette at 16 bits", palette16, Fails<EPngInvalidIHDR>},
      {"colour type 5", type5, Fails<EPngInvalidIHDR>},
      {"unknown compression", compression, Fails<EPNGUnknownCompression>},
      {"unknown interlace", interlace, Fails<EPNGUnknownInterlace>},
      {"short header", shortHeader, Fails<EPngInvalidIHDR>},
      {"header CRC", Rebuild(good, flipCrc("IHDR", 0)), Fails<EPngInvalidCRC>},
      {"palette CRC", Rebuild(good, flipCrc("PLTE", 0)), Fails<EPngInvalidCRC>},
      {"first image chunk CRC", Rebuild(good, flipCrc("IDAT", 0)), Fails<EPngInvalidCRC>},
      {"middle image chunk CRC", Rebuild(good, flipCrc("IDAT", 1)), Fails<EPngInvalidCRC>},
      {"last image chunk CRC", Rebuild(good, flipCrc("IDAT", 2)), Fails<EPngInvalidCRC>},
      {"end chunk CRC", Rebuild(good, flipCrc("IEND", 0)), Fails<EPngInvalidCRC>},
      {"header length 2^32-1", replace("IHDR", LyingChunk("IHDR", 0xFFFFFFFF, {})),
       Fails<EPngUnexpectedEnd>},
      {"text length 2^31", replace("tEXt", LyingChunk("tEXt", 0x80000000u, {'a', 0, 'b'})),
       Fails<EPngUnexpectedEnd>},
      {"text length past the end", replace("tEXt", LyingChunk("tEXt", 100, {'a', 0, 'b'})),
       Fails<EPngUnexpectedEnd>},
      {"image chunk length 2^32-1", replace("IDAT", LyingChunk("IDAT", 0xFFFFFFFF, {1, 2})),
       Fails<EPngUnexpectedEnd>},
      {"skipped chunk length past the end", insertAfter("PLTE", LyingChunk("cHRM", 0x7FFFFFFF, {})),
       Fails<EPngUnexpectedEnd>},
      {"palette of 4 bytes", replace("PLTE", MakeChunk("PLTE", {1, 2, 3, 4})),
       Fails<EPNGInvalidPalette>},
      {"palette of 257 entries", replace("PLTE", MakeChunk("PLTE", std::vector<uint8_t>(771))),
       Fails<EPNGInvalidPalette>},
      {"transparency of 257 bytes",
       insertAfter("PLTE", MakeChunk("tRNS", std::vector<uint8_t>(257))),
       Fails<EPNGInvalidPalette>},
      {"unknown critical chunk", insertAfter("PLTE", MakeChunk("HUGE", {1})),
       Fails<EPNGUnknownCriticalChunk>},
      {"no image data", noIdat, Fails<EPNGNoImageData>},
      {"other chunk inside the image data", split, Fails<EPNGMissingMultipleIDAT>},
      {"invalid compressed data", garbage, Fails<EPNGZLIBError>},
  };
  for (const Case& c : cases) EXPECT_TRUE(c.check(c.file)) << c.name;
}

TEST(PngCorrupt, ZlibErrorCarriesZlibsDescription) {
  std::vector<uint8_t> file = Rebuild(SmallFile(), [first = true](const FileChunk& c) mutable {
    if (c.type != "IDAT") return Same(c);
    if (!first) return std::vector<uint8_t>();
    first = false;
    return MakeChunk("IDAT", {0x78, 0x9C, 0xFF, 0xFF, 0xFF, 0xFF});
  });
  PngPicture picture;
  try {
    Load(picture, file);
    FAIL() << "loaded";
  } catch (const EPNGZLIBError& e) {
    EXPECT_EQ(e.Message(),
              u"Could not decompress the image because it contains invalid compressed data.\r\n"
              u" Description: invalid block type");
  }
}

TEST(PngCorrupt, TruncationAtEveryByteIsAnUnexpectedEnd) {
  for (bool interlace : {false, true}) {
    std::vector<uint8_t> file = SmallFile(interlace);
    for (size_t n = 0; n < file.size(); ++n) {
      std::vector<uint8_t> cut(file.begin(), file.begin() + long(n));
      ASSERT_TRUE(Fails<EPngUnexpectedEnd>(cut)) << "cut at " << n;
    }
    PngPicture picture;
    Load(picture, file);
  }
}

TEST(PngCorrupt, TruncatedImageDataKeepsTheRowsDecodedSoFar) {
  // Stored (level 0) rows with filter None: a cut halfway through the data
  // leaves the first rows decoded and the last ones zero.
  Image im = RandomImage(16, 64, 0, 8, 23);
  for (auto& s : im.samples) s = uint16_t(s | 1);
  EncodeOptions options;
  options.level = 0;
  options.filter = 0;
  std::vector<uint8_t> file = Encode(im, options);
  size_t idat = 0;
  for (const FileChunk& c : ListChunks(file))
    if (c.type == "IDAT") idat = c.offset;
  std::vector<uint8_t> cut(file.begin(), file.begin() + long(idat + 8 + size_t(17) * 32));
  PngPicture picture;
  EXPECT_THROW(Load(picture, cut), EPngUnexpectedEnd);
  ASSERT_NE(picture.Header(), nullptr);
  for (uint32_t x = 0; x < 16; ++x) {
    EXPECT_EQ(StoredSample(*picture.Header(), x, 0, 0), im.At(x, 0, 0));
    EXPECT_EQ(StoredSample(*picture.Header(), x, 20, 0), im.At(x, 20, 0));
    EXPECT_EQ(StoredSample(*picture.Header(), x, 63, 0), 0);
  }
}

TEST(PngCorrupt, ChunksReadBeforeTheFailureStay) {
  std::vector<uint8_t> file = Rebuild(SmallFile(), [](const FileChunk& c) {
    std::vector<uint8_t> bytes = MakeChunk(c.type, c.data);
    if (c.type == "PLTE") bytes.back() ^= 0x80;
    return bytes;
  });
  PngPicture picture;
  EXPECT_THROW(Load(picture, file), EPngInvalidCRC);
  ASSERT_GE(picture.ChunkList().Count(), 1u);
  EXPECT_EQ(picture.ChunkList().Item(0)->TypeName(), "IHDR");
}

TEST(PngCorrupt, FirstChunkNotHeaderFailsBeforeReadingIt) {
  // The second chunk would be unreadable; the error is about the first.
  std::vector<uint8_t> file = Signature();
  Append(file, LyingChunk("IDAT", 0xFFFFFFFF, {}));
  EXPECT_TRUE(Fails<EPNGIHDRNotFirst>(file));
}

TEST(PngCorrupt, LargestSidesAreAccepted) {
  std::vector<uint8_t> file = Signature();
  Append(file, Ihdr(65535, 1, 1, 0));
  std::vector<uint8_t> row(1 + 65535 / 8 + 1, 0);
  Append(file, MakeChunk("IDAT", Compress(row)));
  Append(file, MakeChunk("IEND", {}));
  PngPicture picture;
  Load(picture, file);
  EXPECT_EQ(picture.Width(), 65535u);
  EXPECT_EQ(picture.Height(), 1u);
}

}  // namespace
}  // namespace kelm::test
