// The text form: its exact layout, round trips through the binary form and
// through objects, its syntax variants and its errors.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "test_classes.h"

namespace classlib::testing {
namespace {

const char kSampleText[] =
    "object frmSample: TTestForm\r\n"
    "  Caption = 'Sample '#233#20013\r\n"
    "  object boxA: TTestBox\r\n"
    "    Left = -5\r\n"
    "    Width = 40000\r\n"
    "    Align = alClient\r\n"
    "    Enabled = False\r\n"
    "    Style = [fsBold, fsUnderline]\r\n"
    "    Ratio = 1.5\r\n"
    "    Scale = 0.1s\r\n"
    "    Price = 12.34c\r\n"
    "    Stamp = 45000.25d\r\n"
    "    Big = 1099511627776\r\n"
    "    Color = clRed\r\n"
    "    Caption8 = 'It''s 8-bit'\r\n"
    "    Text = 'Line 1'#13#10'Line '#252\r\n"
    "    Hidden = 3\r\n"
    "    Font.Name = 'Segoe UI'\r\n"
    "    Font.Size = 11\r\n"
    "    Font.Style = [fsItalic]\r\n"
    "    Font.Color = 1193046\r\n"
    "    Items = <\r\n"
    "      item\r\n"
    "        Caption = 'First'\r\n"
    "        Width = 70\r\n"
    "      end\r\n"
    "      item\r\n"
    "        Visible = False\r\n"
    "      end>\r\n"
    "    Lines.Strings = (\r\n"
    "      'alpha'\r\n"
    "      ''\r\n"
    "      'LONG')\r\n"
    "    Inner.Value = 9\r\n"
    "    OnClick = ButtonClick\r\n"
    "    OnValue = ValueChange\r\n"
    "    Data = {\r\n"
    "      0001FEFF}\r\n"
    "    Marker = -77\r\n"
    "    object boxB: TTestBox\r\n"
    "      Font.Name = 'Tahoma'\r\n"
    "      Items = <>\r\n"
    "      Buddy = boxA\r\n"
    "      Other = frmSample\r\n"
    "      object boxC: TTestBox\r\n"
    "        Text = 'deep'\r\n"
    "        Font.Name = 'Tahoma'\r\n"
    "        Items = <>\r\n"
    "      end\r\n"
    "    end\r\n"
    "  end\r\n"
    "end\r\n";

std::string SampleText() {
  std::string t = kSampleText;
  t.replace(t.find("LONG"), 4, std::string(300, 'x'));
  return t;
}

class TextFormTest : public ::testing::Test {
 protected:
  void SetUp() override { RegisterTestClasses(); }
};

TEST_F(TextFormTest, WriterOutputHasTheDocumentedLayout) {
  TTestForm* form = MakeSampleForm();
  std::string text = BinaryToText(SaveToBytes(form));
  Free(form);
  EXPECT_EQ(text, SampleText());
}

TEST_F(TextFormTest, TextToBinaryToTextIsExact) {
  std::string text = SampleText();
  EXPECT_EQ(BinaryToText(TextToBinary(text)), text);
}

TEST_F(TextFormTest, TextToObjectsToTextIsExact) {
  std::string text = SampleText();
  auto bin = TextToBinary(text);
  TTestForm* form = New<TTestForm>(nullptr);
  TResourceStream in(bin.data(), static_cast<int64_t>(bin.size()));
  TReader(in).ReadRootComponent(form);
  EXPECT_EQ(BinaryToText(SaveToBytes(form)), text);
  Free(form);
}

TEST_F(TextFormTest, SyntaxVariantsReadToCanonicalText) {
  struct Case {
    const char* in;
    const char* canonical;
  } cases[] = {
      {"X = $1F", "X = 31"},
      {"X = -$10", "X = -16"},
      {"X = +7", "X = 7"},
      {"X = 'ab' +\r\n 'cd'", "X = 'abcd'"},
      {"X = #65'b'#$43", "X = 'AbC'"},
      {"X = 'caf\xc3\xa9'", "X = 'caf'#233"},
      {"X = []", "X = []"},
      {"X = ()", "X = ()"},
      {"X = <>", "X = <>"},
      {"X = {}", "X = {}"},
      {"X = { 0a 0B }", "X = {\r\n    0A0B}"},
      {"X = 2", "X = 2"},
      {"X = 2.0", "X = 2.0"},
      {"X = 1e3", "X = 1000.0"},
      {"X = 2.5E-3", "X = 0.0025"},
      {"X = 3s", "X = 3.0s"},
      {"X = 7c", "X = 7.0c"},
      {"X = -0.0001c", "X = -0.0001c"},
      {"X = 922337203685477.5807c", "X = 922337203685477.5807c"},
      {"X = -922337203685477.5808c", "X = -922337203685477.5808c"},
      {"X = 1d", "X = 1.0d"},
      {"X = true", "X = True"},
      {"X = NIL", "X = nil"},
      {"X = Null", "X = Null"},
      {"X = Form1.Button1", "X = Form1.Button1"},
      {"X = (\r\n 1\r\n (\r\n 'a'))", "X = (\r\n    1\r\n    (\r\n      'a'))"},
      {"X = <\r\n item [3]\r\n end>", "X = <\r\n    item [3]\r\n    end>"},
      {"// comment\r\n X = 1", "X = 1"},
      {"X = 9223372036854775807", "X = 9223372036854775807"},
      {"X = -9223372036854775808", "X = -9223372036854775808"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    std::string text = std::string("object T\r\n  ") + c.in + "\r\nend\r\n";
    std::string expected = std::string("object T\r\n  ") + c.canonical + "\r\nend\r\n";
    EXPECT_EQ(BinaryToText(TextToBinary(text)), expected);
  }
}

TEST_F(TextFormTest, PrefixesAndChildPositionsRoundTrip) {
  std::string text =
      "inherited Form1: TForm1 [2]\r\n"
      "  inline Frame1: TFrame1\r\n"
      "  end\r\n"
      "  object aVeryLongComponentName: TAVeryLongClassNameForTesting\r\n"
      "  end\r\n"
      "end\r\n";
  EXPECT_EQ(BinaryToText(TextToBinary(text)), text);
  // The writer ignores what the reader ignores: flags leave no trace on load.
  auto bin = TextToBinary("inherited f: TTestForm\r\n  Caption = 'x'\r\nend\r\n");
  TTestForm* form = New<TTestForm>(nullptr);
  TResourceStream in(bin.data(), static_cast<int64_t>(bin.size()));
  TReader(in).ReadRootComponent(form);
  EXPECT_EQ(form->Caption, u"x");
  Free(form);
}

TEST_F(TextFormTest, FloatsKeepEveryBit) {
  const double values[] = {0.1,           -1.0 / 3.0, 1e-300, 5e-324, 1.7976931348623157e308,
                           123456789.125, 1e20,       -2.0};
  for (double v : values) {
    SCOPED_TRACE(v);
    TMemoryStream m;
    TWriter w(m);
    w.WriteSignature();
    w.WriteStr("T");
    w.WriteStr("");
    w.WriteStr("X");
    w.WriteFloat(v);
    w.WriteListEnd();
    w.WriteListEnd();
    auto bytes = m.Bytes();
    std::string text = BinaryToText(bytes);
    EXPECT_EQ(TextToBinary(text), bytes) << text;
  }
}

TEST_F(TextFormTest, ExtendedConversionIsExactForDoubles) {
  const double values[] = {0.0, 1.0, -2.5, 1e-310, 3.141592653589793, 1e308};
  for (double v : values) {
    uint8_t ext[10];
    DoubleToExtended(v, ext);
    EXPECT_EQ(ExtendedToDouble(ext), v);
  }
  // 1.0 as an x87 extended: mantissa 0x8000000000000000, exponent 0x3FFF.
  uint8_t one[10];
  DoubleToExtended(1.0, one);
  const uint8_t expected[10] = {0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F};
  EXPECT_EQ(std::memcmp(one, expected, 10), 0);
  uint8_t inf[10] = {0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0xFF};
  EXPECT_EQ(ExtendedToDouble(inf), -std::numeric_limits<double>::infinity());
}

TEST_F(TextFormTest, WideTextBecomesAWideStringAndAsciiAShortOne) {
  auto ascii = TextToBinary("object T\r\n  X = 'abc'\r\nend\r\n");
  auto wide = TextToBinary("object T\r\n  X = 'ab'#1234\r\nend\r\n");
  // signature, class "T", empty name, "X", then the value tag
  EXPECT_EQ(ascii[4 + 2 + 1 + 2], static_cast<uint8_t>(TValueType::vaString));
  EXPECT_EQ(wide[4 + 2 + 1 + 2], static_cast<uint8_t>(TValueType::vaWString));
  std::string longText = "object T\r\n  X = '" + std::string(256, 'a') + "'\r\nend\r\n";
  EXPECT_EQ(TextToBinary(longText)[9], static_cast<uint8_t>(TValueType::vaLString));
}

TEST_F(TextFormTest, MalformedTextNamesTheLine) {
  struct Case {
    const char* text;
    const char* message;
  } cases[] = {
      {"object T\r\n  X 1\r\nend\r\n", "Line 2: '=' expected"},
      {"object T\r\n  X = 'open\r\nend\r\n", "Line 2: Unterminated string"},
      {"object T\r\n  X = {0A0}\r\nend\r\n", "Line 2: Invalid binary value"},
      {"object T\r\n  X = {0G}\r\nend\r\n", "Line 2: Invalid binary value"},
      {"object T\r\n  X = 1\r\n", "Line 3: Property name expected"},
      {"thing T\r\nend\r\n", "Line 1: 'object' expected"},
      {"object T\r\n  X = [a b]\r\nend\r\n", "Line 2: ']' expected"},
      {"object T\r\n  X = <\r\n  thing\r\n  >\r\nend\r\n", "Line 3: 'item' expected"},
      {"object T\r\n  X = 99999999999999999999\r\nend\r\n", "Line 2: Invalid integer value"},
      {"object T\r\n  X = #70000\r\nend\r\n", "Line 2: Invalid character code"},
      {"object T\r\n  X = 1.5.5c\r\nend\r\n", "Line 2: Property name expected"},
      {"object T\r\n  X = 922337203685477.5808c\r\nend\r\n", "Line 2: Invalid currency value"},
      {"", "Line 1: 'object' expected"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      TextToBinary(c.text);
      ADD_FAILURE() << "no error";
    } catch (const EParserError& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
}

}  // namespace
}  // namespace classlib::testing
