// The header's stream: the current version round trip, old versions and
// damaged streams.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "classlib/sysutils.h"
#include "lazytree/header_stream.h"

namespace kelm::lazytree {
namespace {

struct TBytes {
  std::vector<uint8_t> b;
  TBytes& I(int64_t v) {
    for (int i = 0; i < 4; ++i)
      b.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
    return *this;
  }
  TBytes& W(const std::u16string& s) {
    I(static_cast<int64_t>(s.size()));
    for (char16_t c : s)
      b.push_back(static_cast<uint8_t>(c)), b.push_back(static_cast<uint8_t>(c >> 8));
    return *this;
  }
  TBytes& S(const std::string& s) {
    I(static_cast<int64_t>(s.size()));
    b.insert(b.end(), s.begin(), s.end());
    return *this;
  }
  // A column record of the given version with the given stored options.
  TBytes& Column(int version, uint32_t options, const std::u16string& text = u"A") {
    W(text).W(u"").I(80).I(10).I(10000).I(0).I(-1).I(0).I(4).I(4).I(0).I(options);
    if (version >= 1) I(7).I(1);
    if (version >= 2) I(0xFF000005);
    if (version >= 6 && (options & 0x4000) != 0) I(2);
    return *this;
  }
  // Header values 4-13.
  TBytes& Tail() {
    return I(0).I(0xFF00000F).I(22).I(522).I(3).I(0xFF000008).I(-11).S("Tahoma").I(2).I(1);
  }
};

THeaderRecord Parse(const std::vector<uint8_t>& b, size_t* used = nullptr) {
  return ParseHeaderStream(b.data(), b.size(), used);
}

// The manager's snapshot list: four columns, a wide caption, XP style.
THeaderRecord ManagerHeader() {
  THeaderRecord h;
  const int widths[] = {100, 200, 200, 250};
  const char16_t* texts[] = {u"Node", u"Create Time", u"\u540d\u524d", u"remarks"};
  for (int i = 0; i < 4; ++i) {
    TColumnRecord c;
    c.Width = widths[i];
    c.Text = texts[i];
    h.Columns.push_back(c);
    h.Positions.push_back(i);
  }
  h.Columns[3].Options |= 1u << 14;  // coUseCaptionAlignment
  h.Columns[3].CaptionAlignment = 2;
  h.Columns[1].Hint = u"when";
  h.Height = 22;
  h.Options = (1u << 10) | (1u << 1) | (1u << 3);
  h.Style = 3;
  h.FontName = u"Tahoma \u00e9";
  h.MaxWidthPercent = 40;
  h.MinHeightPercent = 5;
  return h;
}

TEST(HeaderStream, CurrentVersionRoundTripsByteForByte) {
  const THeaderRecord h = ManagerHeader();
  const std::vector<uint8_t> bytes = WriteHeaderStream(h);
  // Marker and version lead; the wide caption is written as UTF-16 units.
  ASSERT_GE(bytes.size(), 12u);
  EXPECT_EQ(std::memcmp(bytes.data(), "\xFF\xFF\xFF\xFF\x06\0\0\0\x04\0\0\0", 12), 0);
  size_t used = 0;
  THeaderRecord back = Parse(bytes, &used);
  EXPECT_EQ(used, bytes.size());
  EXPECT_EQ(back, h);
  EXPECT_EQ(WriteHeaderStream(back), bytes);
  // The caption alignment is written only for the column that uses it.
  THeaderRecord without = h;
  without.Columns[3].Options &= ~(1u << 14);
  EXPECT_EQ(WriteHeaderStream(without).size() + 4, bytes.size());
}

TEST(HeaderStream, OldVersionsConvertOptionsAndSkipLaterFields) {
  struct TCase {
    int version;  // -1: no marker
    uint32_t stored;
    uint16_t options;
  };
  for (TCase c :
       {TCase{-1, 0x7F, 0xEF}, TCase{0, 0x7F, 0xEF}, TCase{1, 0x7F, 0xEF}, TCase{1, 0xFFFF, 0xEF},
        TCase{2, 0xFFFF, 0xFF}, TCase{3, 0x1FFFF, 0xFFFF}, TCase{5, 0x4000, 0x4000}}) {
    TBytes s;
    if (c.version >= 0) s.I(-1).I(c.version);
    s.I(1).Column(c.version, c.stored).I(0);
    if (c.version > 4) s.I(77);  // default width
    s.Tail();
    if (c.version > 0) s.I(0).I(0).I(1);
    if (c.version > 4) s.I(1).I(900).I(12).I(20).I(1).I(2).I(3).I(4);
    size_t used = 0;
    THeaderRecord h = Parse(s.b, &used);
    SCOPED_TRACE(c.version);
    EXPECT_EQ(used, s.b.size());
    EXPECT_EQ(h.Version, c.version);
    ASSERT_EQ(h.Columns.size(), 1u);
    EXPECT_EQ(h.Columns[0].Options, c.options);
    EXPECT_EQ(h.Columns[0].Tag, c.version >= 1 ? 7 : 0);
    EXPECT_EQ(h.Columns[0].Alignment, c.version >= 1 ? 1 : 0);
    // Before version 6 a stored caption alignment flag brings no value.
    EXPECT_EQ(h.Columns[0].CaptionAlignment, 0);
    EXPECT_EQ(h.DefaultWidth, c.version > 4 ? 77 : 50);
    EXPECT_EQ(h.SortDirection, c.version > 0 ? 1 : 0);
    EXPECT_EQ(h.MaxHeight, c.version > 4 ? 900 : 10000);
    EXPECT_EQ(h.MinWidthPercent, c.version > 4 ? 4 : 0);
    EXPECT_EQ(h.FontName, u"Tahoma");
    EXPECT_EQ(h.Height, 22);
  }
  // From version 6 the caption alignment follows the options that ask for it.
  TBytes s;
  s.I(-1).I(6).I(1).Column(6, 0x4000 | 0x80).I(0).I(50).Tail().I(0).I(-1).I(0);
  s.I(0).I(10000).I(10).I(17).I(0).I(0).I(0).I(0);
  EXPECT_EQ(Parse(s.b).Columns[0].CaptionAlignment, 2);
}

TEST(HeaderStream, DamagedStreamsRaiseReadError) {
  const std::vector<uint8_t> good = WriteHeaderStream(ManagerHeader());
  const size_t firstText = 12;  // text length of column 0
  struct TCase {
    const char* what;
    std::vector<uint8_t> bytes;
  };
  auto patch = [&](size_t at, int32_t v) {
    std::vector<uint8_t> b = good;
    for (int i = 0; i < 4; ++i)
      b[at + i] = static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i));
    return b;
  };
  // The position array: four entries before the default width and the
  // header's own values (21 numbers, the font name and its length).
  const size_t posAt = good.size() - (4 * 22 + std::string("Tahoma \xc3\xa9").size()) - 4 * 4;
  std::vector<TCase> cases = {
      {"empty", {}},
      {"marker only", {0xFF, 0xFF, 0xFF, 0xFF}},
      {"future version", TBytes().I(-1).I(7).I(0).I(50).Tail().b},
      {"negative version", TBytes().I(-1).I(-3).b},
      {"negative count", patch(8, -1)},
      {"count beyond bytes", patch(8, 100000)},
      {"text longer than stream", patch(firstText, 0x3FFFFFFF)},
      {"negative text length", patch(firstText, -2)},
      {"position repeated", patch(posAt + 4, 0)},
      {"position out of range", patch(posAt, 4)},
      {"negative position", patch(posAt, -1)},
      {"bad column style", TBytes().I(-1).I(6).I(1).W(u"").W(u"").I(50).I(10).I(100).I(9).b},
      {"font name past end",
       TBytes().I(-1).I(6).I(0).I(50).I(0).I(0).I(17).I(0).I(0).I(0).I(0).I(999).b},
      {"cut in the tail", std::vector<uint8_t>(good.begin(), good.end() - 1)},
      {"cut after the columns", std::vector<uint8_t>(good.begin(), good.begin() + posAt + 8)},
  };
  for (const TCase& c : cases) {
    EXPECT_THROW(Parse(c.bytes), classlib::EReadError) << c.what;
  }
  // Every truncation of a good stream fails cleanly.
  for (size_t n = 0; n < good.size(); ++n)
    EXPECT_THROW(ParseHeaderStream(good.data(), n), classlib::EReadError) << n;
  EXPECT_NO_THROW(Parse(good));
}

}  // namespace
}  // namespace kelm::lazytree
