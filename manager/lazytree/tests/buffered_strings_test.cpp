// The export's text builders: block sizes and the text they give back.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "lazytree/buffered_strings.h"

namespace kelm::lazytree {
namespace {

TEST(BufferedStrings, BlockGrowsInSteps) {
  struct TCase {
    size_t first;
    size_t capacity;
  };
  for (TCase c : {TCase{3, 4096}, TCase{4095, 4096}, TCase{4096, 4096}, TCase{4097, 8192},
                  TCase{5000, 8192}}) {
    TBufferedAnsiString s;
    EXPECT_EQ(s.Capacity(), 0u);
    s.Add(std::string(c.first, 'x'));
    EXPECT_EQ(s.Capacity(), c.capacity) << c.first;
    EXPECT_EQ(s.Length(), c.first);
  }
  TBufferedAnsiString s;
  s.Add(std::string(4096, 'y'));
  s.Add("z");  // no room left: the block grows by whole steps
  EXPECT_EQ(s.Capacity(), 8192u);
}

TEST(BufferedStrings, NewLineKeepsRoomForItself) {
  TBufferedAnsiString ansi;
  ansi.Add(std::string(4095, 'a'));
  ansi.AddNewLine();
  EXPECT_EQ(ansi.Capacity(), 8192u);
  EXPECT_EQ(ansi.AsString(), std::string(4095, 'a') + "\r\n");

  TBufferedAnsiString fresh;
  fresh.AddNewLine();
  EXPECT_EQ(fresh.Capacity(), 4096u);
  EXPECT_EQ(fresh.AsString(), "\r\n");

  TWideBufferedString wide;
  wide.Add(std::u16string(4092, u'w'));
  EXPECT_EQ(wide.Capacity(), 4096u);
  wide.AddNewLine();  // 4 units left: grows
  EXPECT_EQ(wide.Capacity(), 8192u);
  TWideBufferedString roomy;
  roomy.Add(std::u16string(4091, u'w'));
  roomy.AddNewLine();  // 5 units left: stays
  EXPECT_EQ(roomy.Capacity(), 4096u);
  EXPECT_EQ(roomy.AsString(), std::u16string(4091, u'w') + u"\r\n");
}

TEST(BufferedStrings, LongMixedAppendsEqualTheStandardStrings) {
  std::mt19937 rng(7);
  TBufferedAnsiString ansi;
  TWideBufferedString wide;
  std::string ansiExpected;
  std::u16string wideExpected;
  for (int i = 0; i < 600; ++i) {
    if (rng() % 5 == 0) {
      ansi.AddNewLine();
      wide.AddNewLine();
      ansiExpected += "\r\n";
      wideExpected += u"\r\n";
      continue;
    }
    const size_t length = rng() % 3 == 0 ? rng() % 9000 : rng() % 40;
    std::string piece(length, '\0');
    std::u16string widePiece(length, u'\0');
    for (size_t k = 0; k < length; ++k) {
      piece[k] = static_cast<char>('!' + rng() % 90);
      widePiece[k] = static_cast<char16_t>(0x20 + rng() % 0xD000);
    }
    ansi.Add(piece);
    wide.Add(widePiece);
    ansiExpected += piece;
    wideExpected += widePiece;
  }
  EXPECT_EQ(ansi.AsString(), ansiExpected);
  EXPECT_EQ(wide.AsString(), wideExpected);
  EXPECT_EQ(wide.Length(), wideExpected.size());
  EXPECT_GE(ansi.Capacity(), ansi.Length());
}

}  // namespace
}  // namespace kelm::lazytree
