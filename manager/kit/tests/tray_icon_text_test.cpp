// The 8-bit texts of the notification-area record: cut on a character
// boundary, NUL kept.
#include "kit/tray_icon_text.h"

#include <gtest/gtest.h>

#include <cstring>

#include "classlib/codepage.h"

namespace kelm::test {
namespace {

using kit::AnsiPrefix;
using kit::CopyAnsiField;

// A double-byte code page in miniature: ASCII takes one byte, every other
// UTF-16 unit two (a lead byte 0x81 and the unit's low byte).
class DoubleByteConverter : public classlib::TCodePageConverter {
 public:
  std::u16string ToWide(std::string_view) const override { return {}; }
  std::string ToAnsi(std::u16string_view wide) const override {
    std::string out;
    for (char16_t c : wide) {
      if (c < 0x80) {
        out += static_cast<char>(c);
      } else {
        out += '\x81';
        out += static_cast<char>(c & 0xFF);
      }
    }
    return out;
  }
};

struct DoubleByteCodePage : ::testing::Test {
  DoubleByteCodePage() {
    previous = classlib::SetCodePage(std::make_unique<DoubleByteConverter>());
  }
  ~DoubleByteCodePage() override { classlib::SetCodePage(std::move(previous)); }
  std::unique_ptr<classlib::TCodePageConverter> previous;
};

TEST(TrayIconText, FieldKeepsItsNulAndZeroesTheRest) {
  char field[8];
  std::memset(field, 'x', sizeof field);
  CopyAnsiField(u"abcdefghij", field);
  EXPECT_EQ(std::string(field, 8), std::string("abcdefg\0", 8));
  CopyAnsiField(u"ab", field);
  EXPECT_EQ(std::string(field, 8), std::string("ab\0\0\0\0\0\0", 8));
  CopyAnsiField(u"", field);
  EXPECT_EQ(std::string(field, 8), std::string(8, '\0'));
}

TEST(TrayIconText, RecordFieldsTakeAtMost127255And63Bytes) {
  const std::u16string longText(400, u'w');
  char tip[128], info[256], title[64];
  CopyAnsiField(longText, tip);
  CopyAnsiField(longText, info);
  CopyAnsiField(longText, title);
  EXPECT_EQ(std::strlen(tip), 127u);
  EXPECT_EQ(std::strlen(info), 255u);
  EXPECT_EQ(std::strlen(title), 63u);
}

TEST_F(DoubleByteCodePage, ADoubleByteCharacterIsNeverSplit) {
  struct Case {
    std::u16string text;
    size_t maxBytes;
    std::string expected;
  } cases[] = {
      {u"a\u00e9\u00e9", 5, "a\x81\xe9\x81\xe9"},  // exactly fits
      {u"a\u00e9\u00e9", 4, "a\x81\xe9"},          // the last one would straddle
      {u"\u00e9", 1, ""},
      {u"ab\U0001F600c", 5, "ab"},  // a surrogate pair goes whole or not at all
      {u"ab\U0001F600c", 6, std::string("ab\x81\x3d\x81\x00", 6)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.maxBytes);
    EXPECT_EQ(AnsiPrefix(c.text, c.maxBytes), c.expected);
  }
  char tip[128];
  CopyAnsiField(std::u16string(100, u'\u00e9'), tip);
  EXPECT_EQ(std::strlen(tip), 126u);  // 63 characters; the 64th would need byte 127
}

}  // namespace
}  // namespace kelm::test
