// Counted strings, bitmaps and the debug log's formatting.
#include <algorithm>

#include "kernel_test.h"

namespace hk::testing {
namespace {

using RtlTest = KernelTest;

struct BitmapFixture {
  ULONG words[2] = {0, 0};
  RTL_BITMAP map;
  explicit BitmapFixture(ULONG bits) { RtlInitializeBitMap(&map, words, bits); }
};

TEST_F(RtlTest, BitLayoutMatchesTheOnDiskByteOrder) {
  BitmapFixture f(40);
  RtlSetBit(&f.map, 0);
  RtlSetBit(&f.map, 9);
  RtlSetBit(&f.map, 39);
  auto* bytes = reinterpret_cast<unsigned char*>(f.words);
  EXPECT_EQ(bytes[0], 0x01);
  EXPECT_EQ(bytes[1], 0x02);
  EXPECT_EQ(bytes[4], 0x80);
  EXPECT_EQ(RtlNumberOfSetBits(&f.map), 3u);
  EXPECT_EQ(RtlNumberOfClearBits(&f.map), 37u);
}

// Counts and fills work a word at a time: starts and ends inside a word,
// and stray bits past the map's end, are where they go wrong. Checked
// against one bit at a time over every range of a 100-bit map.
TEST_F(RtlTest, WordWiseCountsAndFillsMatchBitByBitAtEveryStartAndEnd) {
  constexpr ULONG kBits = 100;
  ULONG words[4] = {0x9E3779B9u, 0x7F4A7C15u, 0xF39CC060u, 0xFFFFFFFFu};  // 4th: 28 stray bits
  RTL_BITMAP map;
  RtlInitializeBitMap(&map, words, kBits);
  auto bit = [&](ULONG i) { return ((words[i / 32] >> (i % 32)) & 1) != 0; };
  ULONG total = 0;
  for (ULONG i = 0; i < kBits; ++i) total += bit(i) ? 1 : 0;
  EXPECT_EQ(RtlNumberOfSetBits(&map), total);
  EXPECT_EQ(RtlNumberOfClearBits(&map), kBits - total);
  for (ULONG start = 0; start < kBits; ++start) {
    for (ULONG length = 1; start + length <= kBits; ++length) {
      ULONG set = 0;
      for (ULONG i = start; i < start + length; ++i) set += bit(i) ? 1 : 0;
      ASSERT_EQ(RtlAreBitsSet(&map, start, length) != FALSE, set == length)
          << start << "+" << length;
      ASSERT_EQ(RtlAreBitsClear(&map, start, length) != FALSE, set == 0) << start << "+" << length;
    }
  }
  const ULONG saved[4] = {words[0], words[1], words[2], words[3]};
  for (ULONG start : {0u, 5u, 31u, 32u, 45u}) {
    for (ULONG length : {1u, 27u, 32u, 55u}) {
      if (start + length > kBits) continue;
      for (bool setThem : {true, false}) {
        std::copy(saved, saved + 4, words);
        if (setThem) {
          RtlSetBits(&map, start, length);
        } else {
          RtlClearBits(&map, start, length);
        }
        for (ULONG i = 0; i < 128; ++i) {
          const bool inside = i >= start && i < start + length;
          const bool was = ((saved[i / 32] >> (i % 32)) & 1) != 0;
          ASSERT_EQ(bit(i), inside ? setThem : was) << start << "+" << length << " bit " << i;
        }
      }
    }
  }
  // Whole words of set bits are stepped over, never a clear bit after them.
  RtlSetAllBits(&map);
  RtlClearBit(&map, 70);
  EXPECT_EQ(RtlFindClearBits(&map, 1, 0), 70u);
  EXPECT_EQ(RtlFindClearBits(&map, 1, 90), 70u);
  EXPECT_EQ(RtlFindClearBits(&map, 2, 0), 0xFFFFFFFFu);
}

TEST_F(RtlTest, AreBitsSetRefusesEmptyAndOutOfRangeQueries) {
  BitmapFixture f(40);
  RtlSetBits(&f.map, 30, 10);
  struct Case {
    ULONG start, length;
    BOOLEAN expected;
  } cases[] = {{30, 10, TRUE}, {30, 0, FALSE}, {35, 6, FALSE},
               {40, 1, FALSE}, {29, 2, FALSE}, {39, 1, TRUE}};
  for (const Case& c : cases) {
    EXPECT_EQ(RtlAreBitsSet(&f.map, c.start, c.length), c.expected) << c.start << "+" << c.length;
  }
}

TEST_F(RtlTest, FindClearBitsSearchesFromTheHintThenWraps) {
  BitmapFixture f(64);
  RtlSetBits(&f.map, 0, 64);
  RtlClearBits(&f.map, 4, 3);
  RtlClearBits(&f.map, 50, 2);
  EXPECT_EQ(RtlFindClearBits(&f.map, 2, 40), 50u);
  EXPECT_EQ(RtlFindClearBits(&f.map, 3, 40), 4u);    // wrapped to the start
  EXPECT_EQ(RtlFindClearBits(&f.map, 2, 1000), 4u);  // a hint past the end counts as 0
  EXPECT_EQ(RtlFindClearBits(&f.map, 4, 0), 0xFFFFFFFFu);
  EXPECT_EQ(RtlFindClearBitsAndSet(&f.map, 2, 50), 50u);
  EXPECT_TRUE(RtlAreBitsSet(&f.map, 50, 2));
}

TEST_F(RtlTest, BitIndexOutsideTheMapIsLoud) {
  BitmapFixture f(40);
  RtlSetBit(&f.map, 39);
  EXPECT_TRUE(FaultOf([&] { RtlSetBit(&f.map, 40); }, "outside a bitmap of 40 bits"));
  EXPECT_TRUE(FaultOf([&] { RtlClearBits(&f.map, 38, 3); }, "outside"));
}

TEST_F(RtlTest, CopyTruncatesAppendRefusesAndEqualityHonoursCase) {
  WCHAR storage[6];
  UNICODE_STRING dest{0, sizeof storage, storage};
  UNICODE_STRING source;
  RtlInitUnicodeString(&source, u"\\??\\C:\\long");
  RtlCopyUnicodeString(&dest, &source);
  EXPECT_EQ(dest.Length, sizeof storage);  // truncated, no room for a terminator
  EXPECT_EQ(Narrow(&dest), "\\??\\C:");
  EXPECT_EQ(RtlAppendUnicodeToString(&dest, u"x"), STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(dest.Length, sizeof storage);

  UNICODE_STRING lower, upper;
  RtlInitUnicodeString(&lower, u"\\??\\c:");
  RtlInitUnicodeString(&upper, u"\\??\\C:");
  EXPECT_FALSE(RtlEqualUnicodeString(&lower, &upper, FALSE));
  EXPECT_TRUE(RtlEqualUnicodeString(&lower, &upper, TRUE));
  UNICODE_STRING shorter;
  RtlInitUnicodeString(&shorter, u"\\??\\C");
  EXPECT_FALSE(RtlEqualUnicodeString(&shorter, &upper, TRUE));
}

TEST_F(RtlTest, UpcaseUsesTheSystemTableInPlace) {
  WCHAR text[] = u"\\device\\harddiskvolume1\x00e9\x0101\x0430";
  UNICODE_STRING s;
  RtlInitUnicodeString(&s, text);
  EXPECT_EQ(RtlUpcaseUnicodeString(&s, &s, FALSE), STATUS_SUCCESS);
  EXPECT_EQ(std::u16string(s.Buffer, s.Length / 2), u"\\DEVICE\\HARDDISKVOLUME1\x00c9\x0100\x0410");
}

TEST_F(RtlTest, DbgPrintFollowsTheKernelsConventionsAndIsCaptured) {
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, u"\\Device\\X");
  LONGLONG big = -5000000000LL;
  DbgPrint("ERROR:%s (%d): UTIL %08x\n", "QVR", 42, 0xC0000001u);
  DbgPrint("%ws|%wZ|%I64d|%-4d|%c|%5s|%X\n", u"wide", &name, big, 7, 'q', "ab", 0xabcu);
  DbgPrint("partial ");
  DbgPrint("line\n");
  std::vector<std::string> lines = DbgLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "ERROR:QVR (42): UTIL c0000001");
  EXPECT_EQ(lines[1], "wide|\\Device\\X|-5000000000|7   |q|   ab|ABC");
  EXPECT_EQ(lines[2], "partial line");
}

}  // namespace
}  // namespace hk::testing
