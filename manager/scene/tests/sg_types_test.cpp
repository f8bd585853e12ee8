// Value types, text conversions, colours, tokens, pixel helpers, easing.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <string>
#include <vector>

#include "classlib/datetime.h"
#include "classlib/sysutils.h"
#include "scene/sg_types.h"

namespace kelm::scene {
namespace {

bool SameRect(const TsgRect& a, const TsgRect& b) {
  return a.Left == b.Left && a.Top == b.Top && a.Right == b.Right && a.Bottom == b.Bottom;
}

// ---- float text
struct FloatCase {
  float v;
  const char* text;
};
const FloatCase kFloatCases[] = {
    {2.0f, "2"},
    {0.1f, "0.100"},
    {-1.5f, "-1.500"},
    {1.5f, "1.500"},
    {-0.25f, "-0.250"},
    {-15.0f, "-15"},
    {0.0f, "0"},
    {-0.0f, "0"},
    {1e10f, "10000000000"},
    {-3e9f, "-3000000000"},
    {4294967296.0f, "4294967296"},
    {0.0005f, "0.001"},
};

// Switches the class library's settings (and, where the host has one, the C
// library's numeric locale) to a comma separator for one scope.
class CommaLocale {
 public:
  CommaLocale() : saved_(classlib::FormatSettings().DecimalSeparator) {
    classlib::FormatSettings().DecimalSeparator = u',';
    const char* old = std::setlocale(LC_NUMERIC, nullptr);
    oldLocale_ = old ? old : "C";
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "German"})
      if (std::setlocale(LC_NUMERIC, name)) break;
  }
  ~CommaLocale() {
    classlib::FormatSettings().DecimalSeparator = saved_;
    std::setlocale(LC_NUMERIC, oldLocale_.c_str());
  }

 private:
  char16_t saved_;
  std::string oldLocale_;
};

TEST(SceneFloatText, WholeValuesWithoutPointFractionsWithThreeDecimals) {
  for (const auto& c : kFloatCases) EXPECT_EQ(sgFloatToStr(c.v), c.text) << c.text;
  CommaLocale comma;
  for (const auto& c : kFloatCases) EXPECT_EQ(sgFloatToStr(c.v), c.text) << "comma: " << c.text;
  EXPECT_EQ(classlib::FormatSettings().DecimalSeparator, u',');  // left as it was set
}

TEST(SceneFloatText, ParsesPointDecimalsAndRaisesTheConversionError) {
  struct {
    const char* text;
    float v;
  } good[] = {{"1.5", 1.5f}, {" 2 ", 2}, {"-3e2", -300}, {"+4", 4}, {".5", 0.5f}, {"0.100", 0.1f}};
  struct Bad {
    const char* text;
  } bad[] = {{""}, {"abc"}, {"1,5"}, {"1.5x"}, {"inf"}, {"nan"}, {"0x10"}, {"1e999"}, {"--1"}};
  for (int pass = 0; pass < 2; ++pass) {
    std::unique_ptr<CommaLocale> comma;
    if (pass == 1) comma = std::make_unique<CommaLocale>();
    for (const auto& g : good) EXPECT_EQ(sgStrToFloat(g.text), g.v) << g.text;
    for (const auto& b : bad) EXPECT_THROW(sgStrToFloat(b.text), classlib::EConvertError) << b.text;
  }
}

TEST(SceneFloatText, PointsAndRectanglesRoundTripAndBadTextGivesZero) {
  EXPECT_EQ(sgPointToStr(sgPoint(1.5f, 2)), "(1.500,2)");
  EXPECT_EQ(sgRectToStr(sgRect(1, 2, 3.25f, -4)), "(1,2,3.250,-4)");
  EXPECT_TRUE(SameRect(sgStrToRect("(1,2,3,4)"), sgRect(1, 2, 3, 4)));
  EXPECT_TRUE(
      SameRect(sgStrToRect(sgRectToStr(sgRect(0.5f, -1, 2e9f, 3))), sgRect(0.5f, -1, 2e9f, 3)));
  for (const char* bad : {"(1,x,3,4)", "(1,2,3)", "", "1,2,3,4", "(,,,)"})
    EXPECT_TRUE(SameRect(sgStrToRect(bad), TsgRect{})) << bad;
  TsgPoint p = sgStrToPoint("(0.500,1)");
  EXPECT_EQ(p.X, 0.5f);
  EXPECT_EQ(p.Y, 1.0f);
  for (const char* bad : {"(a,1)", "(1)", ""}) {
    p = sgStrToPoint(bad);
    EXPECT_TRUE(p.X == 0 && p.Y == 0) << bad;
  }
}

// ---- tokens
TEST(SceneTokens, GetTokenConsumesSeparatorsAndKeepsStops) {
  std::string s = "(1,2)";
  EXPECT_EQ(sgGetToken(s, ",()", ""), "");
  EXPECT_EQ(sgGetToken(s, ",()", ""), "1");
  EXPECT_EQ(sgGetToken(s, ",()", ""), "2");
  EXPECT_EQ(s, "");
  s = "  a , b";
  EXPECT_EQ(sgGetToken(s, ",", ""), "a");
  EXPECT_EQ(s, "b");
  s = "ab;cd,ef";
  EXPECT_EQ(sgGetToken(s, ",", ";"), "ab");
  EXPECT_EQ(s, ";cd,ef");  // the stop character stays
}

TEST(SceneTokens, ReadTokenSkipsSeparatorsAndStopsBeforeStops) {
  std::u16string s = u"  one two=three";
  int pos = 1;
  EXPECT_EQ(sgReadToken(s, pos, u" ", u"="), u"one");
  EXPECT_EQ(pos, 7);
  EXPECT_EQ(sgReadToken(s, pos, u" ", u"="), u"two");
  EXPECT_EQ(s[static_cast<size_t>(pos - 1)], u'=');  // the caller reads the stop itself
  ++pos;
  EXPECT_EQ(sgReadToken(s, pos, u" ", u"="), u"three");
  EXPECT_EQ(pos, static_cast<int>(s.size()) + 1);
  EXPECT_EQ(sgReadToken(s, pos, u" ", u"="), u"");
  pos = 0;  // a position before the text starts at its beginning
  EXPECT_EQ(sgReadToken(u"x", pos, u" ", u""), u"x");
}

// ---- colours
TEST(SceneColors, TextParsesAsSigned32Bits) {
  struct {
    const char* text;
    TsgColor c;
  } cases[] = {
      {"#FF00FF00", 0xFF00FF00},
      {"Red", 0xFFFF0000},
      {"RED", 0xFFFF0000},
      {"red", 0xFFFF0000},
      {"#80FF0000", 0x80FF0000},
      {"White", 0xFFFFFFFF},
      {"16711680", 0x00FF0000},
      {"#FFF", 0x00000FFF},
      {"$FFFFFFFF", 0xFFFFFFFF},
      {"#FFFFFFFF", 0xFFFFFFFF},
      {"-1", 0xFFFFFFFF},
      {"2147483647", 0x7FFFFFFF},
      {"2147483648", 0},
      {"4294967295", 0},
      {"#1FFFFFFFF", 0},
      {"", 0},
      {"#", 0},
      {"unknown", 0},
      {"#GG", 0},
      {"Cornflowerblue", 0xFF6495ED},
      {"darkorange", 0xFFFF8C00},
  };
  for (const auto& c : cases) EXPECT_EQ(sgStrToColor(c.text), c.c) << c.text;
  EXPECT_EQ(sgStrToColor("Grey"), sgStrToColor("Gray"));
  EXPECT_EQ(sgColorToStr(0xFF00FF00), "#FF00FF00");
  EXPECT_EQ(sgColorToStr(0x0000000A), "#0000000A");
  for (TsgColor c : {0u, 0x80FF0000u, 0xFFFFFFFFu, 0x12345678u})
    EXPECT_EQ(sgStrToColor(sgColorToStr(c)), c);
}

TEST(SceneColors, The147NamesInTableOrder) {
  const std::string expected =
      "Aliceblue, Antiquewhite, Aqua, Aquamarine, Azure, Beige, Bisque, Black, Blanchedalmond, "
      "Blue, Blueviolet, Brown, Burlywood, Cadetblue, Chartreuse, Chocolate, Coral, "
      "Cornflowerblue, Cornsilk, Crimson, Cyan, Darkblue, Darkcyan, Darkgoldenrod, Darkgray, "
      "Darkgreen, Darkgrey, Darkkhaki, Darkmagenta, Darkolivegreen, Darkorange, Darkorchid, "
      "Darkred, Darksalmon, Darkseagreen, Darkslateblue, Darkslategray, Darkslategrey, "
      "Darkturquoise, Darkviolet, Deeppink, Deepskyblue, Dimgray, Dimgrey, Dodgerblue, Firebrick, "
      "Floralwhite, Forestgreen, Fuchsia, Gainsboro, Ghostwhite, Gold, Goldenrod, Gray, Green, "
      "Greenyellow, Grey, Honeydew, Hotpink, Indianred, Indigo, Ivory, Khaki, Lavender, "
      "Lavenderblush, Lawngreen, Lemonchiffon, Lightblue, Lightcoral, Lightcyan, "
      "Lightgoldenrodyellow, Lightgray, Lightgreen, Lightgrey, Lightpink, Lightsalmon, "
      "Lightseagreen, Lightskyblue, Lightslategray, Lightslategrey, Lightsteelblue, Lightyellow, "
      "Lime, Limegreen, Linen, Magenta, Maroon, Mediumaquamarine, Mediumblue, Mediumorchid, "
      "Mediumpurple, Mediumseagreen, Mediumslateblue, Mediumspringgreen, Mediumturquoise, "
      "Mediumvioletred, Midnightblue, Mintcream, Mistyrose, Moccasin, Navajowhite, Navy, Oldlace, "
      "Olive, Olivedrab, Orange, Orangered, Orchid, Palegoldenrod, Palegreen, Paleturquoise, "
      "Palevioletred, Papayawhip, Peachpuff, Peru, Pink, Plum, Powderblue, Purple, Red, Rosybrown, "
      "Royalblue, Saddlebrown, Salmon, Sandybrown, Seagreen, Seashell, Sienna, Silver, Skyblue, "
      "Slateblue, Slategray, Slategrey, Snow, Springgreen, Steelblue, Tan, Teal, Thistle, Tomato, "
      "Turquoise, Violet, Wheat, White, Whitesmoke, Yellow, Yellowgreen";
  std::string got;
  for (int i = 0; i < sgColorNameCount; ++i)
    got += std::string(i ? ", " : "") + sgColorNames[i].Name;
  EXPECT_EQ(got, expected);
  for (const auto& n : sgColorNames) {
    std::string v = n.Value;
    ASSERT_EQ(v.size(), 9u) << n.Name;
    EXPECT_EQ(v.substr(0, 3), "#FF") << n.Name;
    for (char ch : v.substr(1)) EXPECT_TRUE(std::isxdigit(ch) && !std::islower(ch)) << n.Name;
    EXPECT_EQ(sgStrToColor(n.Name), sgStrToColor(n.Value)) << n.Name;
  }
  for (auto [a, b] : {std::pair{"Darkgray", "Darkgrey"},
                      {"Dimgray", "Dimgrey"},
                      {"Gray", "Grey"},
                      {"Lightgray", "Lightgrey"},
                      {"Darkslategray", "Darkslategrey"},
                      {"Lightslategray", "Lightslategrey"},
                      {"Slategray", "Slategrey"}})
    EXPECT_EQ(sgStrToColor(a), sgStrToColor(b)) << a;
  // A few standard values as a check on the table itself.
  EXPECT_EQ(sgStrToColor("Rebeccapurple"), 0u);  // not a level-3 keyword
  EXPECT_EQ(sgStrToColor("Navy"), 0xFF000080u);
  EXPECT_EQ(sgStrToColor("Lightgoldenrodyellow"), 0xFFFAFAD2u);
  EXPECT_EQ(sgStrToColor("Mediumspringgreen"), 0xFF00FA9Au);
  EXPECT_EQ(sgStrToColor("Peachpuff"), 0xFFFFDAB9u);
}

TEST(SceneColors, AlphaArithmetic) {
  struct {
    TsgColor in, pre, unpre;
  } cases[] = {
      {0x00FFFFFF, 0x00000000, 0x00000000}, {0xFF123456, 0xFF123456, 0xFF123456},
      {0x80FF8040, 0x80804020, 0x80FFFF7F},  // unpremultiplied channels clamp at 255
      {0x80400000, 0x80200000, 0x807F0000}, {0x01010101, 0x01000000, 0x01FFFFFF},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(sgPremultiplyAlpha(c.in), c.pre) << std::hex << c.in;
    EXPECT_EQ(sgUnpremultiplyAlpha(c.in), c.unpre) << std::hex << c.in;
  }
  // Premultiplied then back: within one step of the original.
  TsgColor back = sgUnpremultiplyAlpha(sgPremultiplyAlpha(0x80C86432));
  EXPECT_NEAR(static_cast<int>((back >> 16) & 0xFF), 0xC8, 2);

  EXPECT_EQ(sgOpacityColor(0x80FF0000, 1.5f), 0x80FF0000u);
  EXPECT_EQ(sgOpacityColor(0x80FF0000, 0.5f), 0x40FF0000u);
  EXPECT_EQ(sgOpacityColor(0xFFFF0000, -1.0f), 0x00FF0000u);
  EXPECT_EQ(sgInterpolateColor(0x00000000, 0xFFFFFFFF, 0.5f), 0x7F7F7F7Fu);
  EXPECT_EQ(sgInterpolateColor(0x10203040, 0x10203040, 0.7f), 0x10203040u);
  // Beyond t = 1 the channel sum keeps its low 8 bits.
  EXPECT_EQ(sgInterpolateColor(0x000000F0, 0x000000FF, 4.0f), 0x0000002Cu);
  EXPECT_EQ(sgMakeColor(1, 2, 3, 4), 0x04010203u);
  EXPECT_EQ(sgColorToNative(0x12345678), 0x12345678u);
}

TEST(SceneColors, HslConversions) {
  struct {
    TsgColor c;
    float h, s, l;
  } cases[] = {
      {0xFFFF0000, 0, 1, 0.5f},        {0xFF00FF00, 1 / 3.0f, 1, 0.5f},
      {0xFF0000FF, 2 / 3.0f, 1, 0.5f}, {0xFF808080, 0, 0, 128 / 255.0f},
      {0xFFFFFFFF, 0, 0, 1},           {0xFFFF00FF, 5 / 6.0f, 1, 0.5f},
  };
  for (const auto& c : cases) {
    float h, s, l;
    sgRGBtoHSL(c.c, h, s, l);
    EXPECT_NEAR(h, c.h, 1e-5) << std::hex << c.c;
    EXPECT_NEAR(s, c.s, 1e-5) << std::hex << c.c;
    EXPECT_NEAR(l, c.l, 1e-5) << std::hex << c.c;
    EXPECT_EQ(sgHSLtoRGB(h, s, l), c.c | 0xFF000000u) << std::hex << c.c;
  }
  // Alpha kept; hue clamped, not wrapped (pure red pushed below 0 stays red).
  EXPECT_EQ(sgChangeHSL(0x40FF0000, -0.5f, 0, 0), 0x40FF0000u);
  EXPECT_EQ(sgChangeHSL(0x40FF0000, 0, 0, 1), 0x40FFFFFFu);
  EXPECT_EQ(sgChangeHSL(0x40FF0000, 0, -1, 0), 0x40808080u);
}

// ---- geometry
TEST(SceneGeometry, RectangleRelations) {
  TsgRect r;
  EXPECT_FALSE(sgIntersectRect(r, sgRect(0, 0, 10, 10), sgRect(10, 0, 20, 10)));
  EXPECT_TRUE(SameRect(r, TsgRect{}));
  EXPECT_TRUE(sgRectsIntersect(sgRect(0, 0, 10, 10), sgRect(10, 0, 20, 10)));
  EXPECT_TRUE(sgIntersectRect(r, sgRect(0, 0, 10, 10), sgRect(5, -5, 20, 8)));
  EXPECT_TRUE(SameRect(r, sgRect(5, 0, 10, 8)));
  EXPECT_FALSE(sgRectsIntersect(sgRect(0, 0, 10, 10), sgRect(11, 0, 20, 10)));
  EXPECT_TRUE(sgPtInRect(sgPoint(10, 10), sgRect(0, 0, 10, 10)));
  EXPECT_FALSE(sgPtInRect(sgPoint(10.01f, 5), sgRect(0, 0, 10, 10)));
  EXPECT_TRUE(sgIsRectEmpty(sgRect(0, 0, 0, 10)));
  EXPECT_TRUE(sgIsRectEmpty(sgRect(5, 0, 1, 10)));
  EXPECT_FALSE(sgIsRectEmpty(sgRect(0, 0, 1, 1)));
  EXPECT_TRUE(SameRect(sgUnionRect(sgRect(0, 5, 1, 6), sgRect(-1, 7, 0, 9)), sgRect(-1, 5, 1, 9)));
  r = sgRect(1, 2, 3, 4);
  EXPECT_TRUE(SameRect(sgOffsetRect(r, 1, -1), sgRect(2, 1, 4, 3)));
  EXPECT_TRUE(SameRect(sgInflateRect(r, 1, 2), sgRect(1, -1, 5, 5)));
  sgMultiplyRect(r, 2, 3);
  EXPECT_TRUE(SameRect(r, sgRect(2, -3, 10, 15)));
  EXPECT_EQ(sgRectWidth(r), 8);
  EXPECT_EQ(sgRectHeight(r), 18);
}

TEST(SceneGeometry, FitCenterAndBounds) {
  TsgRect r = sgRect(0, 0, 50, 20);
  EXPECT_FLOAT_EQ(sgFitRect(r, sgRect(0, 0, 100, 100)), 0.5f);
  EXPECT_TRUE(SameRect(r, sgRect(25, 40, 75, 60)));
  r = sgRect(0, 0, 200, 100);
  EXPECT_FLOAT_EQ(sgFitRect(r, sgRect(0, 0, 100, 100)), 2.0f);
  EXPECT_TRUE(SameRect(r, sgRect(0, 25, 100, 75)));
  r = sgRect(3, 3, 9, 9);
  EXPECT_EQ(sgFitRect(r, sgRect(0, 0, 0, 100)), 1.0f);
  EXPECT_TRUE(SameRect(r, sgRect(3, 3, 9, 9)));
  // Halves round to the even neighbour: (11 - 2) / 2 = 4.5 -> 4, (13 - 2) / 2 = 5.5 -> 6.
  r = sgRect(7, 7, 9, 9);
  sgCenterRect(r, sgRect(10, 20, 21, 33));
  EXPECT_TRUE(SameRect(r, sgRect(14, 26, 16, 28)));
  EXPECT_TRUE(SameRect(sgBoundsOfPoints(nullptr, -1), sgRect(61440, 61440, -61440, -61440)));
  EXPECT_TRUE(SameRect(sgNormalizeRect(sgRect(5, 6, 1, 2)), sgRect(1, 2, 5, 6)));
  EXPECT_EQ(sgMinFloat(1, 2), 1);
  EXPECT_EQ(sgMaxFloat(1, 2), 2);
  EXPECT_EQ(sgInterpolateFloat(2, 4, 0.25f), 2.5f);
}

TEST(SceneGeometry, AnglesAndVectors) {
  struct {
    float in, out;
  } angles[] = {{-200, 160}, {720, 0}, {-180, -180}, {270, 270}, {-270, 90}, {370, 10}, {0, 0}};
  for (const auto& a : angles) EXPECT_FLOAT_EQ(sgNormalizeAngle(a.in), a.out) << a.in;
  EXPECT_FLOAT_EQ(sgDegToRad(180), 3.1415927f);
  EXPECT_FLOAT_EQ(sgRadToDeg(sgPi), 180.0f);
  TsgVector x = sgVector(1, 0, 1), y = sgVector(0, 1, 1), zero = sgVector(0, 0, 1);
  EXPECT_EQ(sgVectorCosAngle(x, zero), 0);
  EXPECT_NEAR(sgVectorAngle(x, y), -90, 1e-3);  // cross >= 0: negated
  EXPECT_NEAR(sgVectorAngle(y, x), 90, 1e-3);
  EXPECT_NEAR(sgVectorAngle(x, x), 0, 1e-3);
  EXPECT_EQ(sgVectorCross(x, y), 1);
  EXPECT_EQ(sgVectorDot(x, y), 0);
  EXPECT_EQ(sgVectorLength(sgVector(3, 4, 1)), 5);
  TsgVector d = sgVectorSubtract(sgVector(3, 4, 7), x);
  EXPECT_TRUE(d.X == 2 && d.Y == 4 && d.W == 1);
}

bool Near(const TsgMatrix& a, const TsgMatrix& b) {
  const float* p = &a.m11;
  const float* q = &b.m11;
  for (int i = 0; i < 9; ++i)
    if (std::fabs(p[i] - q[i]) > 1e-5f) return false;
  return true;
}

TEST(SceneGeometry, MatricesInvertOrBecomeIdentity) {
  TsgMatrix m = {2, 0, 0, 0, 4, 0, 10, 20, 1};
  TsgVector v = sgVectorTransform(sgVector(1, 1, 1), m);
  EXPECT_TRUE(v.X == 12 && v.Y == 24 && v.W == 1);
  EXPECT_EQ(sgMatrixDeterminant(m), 8);
  TsgMatrix inv = m;
  sgInvertMatrix(inv);
  EXPECT_TRUE(Near(sgMatrixMultiply(m, inv), IdentityMatrix));
  TsgMatrix singular[] = {
      {1, 2, 3, 2, 4, 6, 0, 0, 1},  // dependent rows
      {0, 0, 0, 0, 0, 0, 0, 0, 0},
      {1e-20f, 0, 0, 0, 1e-20f, 0, 0, 0, 1e-20f},  // determinant below Epsilon
  };
  for (TsgMatrix s : singular) {
    sgInvertMatrix(s);
    EXPECT_TRUE(Near(s, IdentityMatrix));
  }
  TsgMatrix rot = sgCreateRotationMatrix(sgPi / 2);
  v = sgVectorTransform(sgVector(1, 0, 1), rot);
  EXPECT_NEAR(v.X, 0, 1e-6);
  EXPECT_NEAR(v.Y, 1, 1e-6);
  TsgMatrix adj = {1, 2, 3, 0, 1, 4, 5, 6, 0};
  sgMatrixAdjoint(adj);
  EXPECT_TRUE(Near(adj, TsgMatrix{-24, 18, 5, 20, -15, -4, -5, 4, 1}));
  sgMatrixScale(adj, 2);
  EXPECT_EQ(adj.m11, -48);
  float s, c;
  sgSinCos(0, s, c);
  EXPECT_TRUE(s == 0 && c == 1);
}

// ---- pixel buffers
TEST(ScenePixels, FillsClipAndMove) {
  std::vector<uint32_t> buf(4 * 3, 0);
  sgFillLongsRect(buf.data(), 4, 3, 1, 1, 10, 10, 7);  // clipped to 4 x 3
  const std::vector<uint32_t> want = {0, 0, 0, 0, 0, 7, 7, 7, 0, 7, 7, 7};
  EXPECT_EQ(buf, want);
  sgFillLongsRect(buf.data(), 4, 3, 0, 5, 4, 9, 9);  // top clipped to bottom: nothing
  EXPECT_EQ(buf, want);
  sgFillAlpha(buf.data(), 2, 0x80);
  EXPECT_EQ(buf[0], 0x80000000u);
  EXPECT_EQ(buf[2], 0u);
  uint32_t seq[5] = {1, 2, 3, 4, 5};
  sgMoveLongs(seq, seq + 1, 4);
  EXPECT_EQ(seq[4], 4u);
  EXPECT_EQ(seq[1], 1u);
  EXPECT_EQ(sgFillLongs(seq, 2, 9), seq);
  EXPECT_EQ(seq[1], 9u);
  EXPECT_EQ(sgCompareInt(1, 1), 0);
  EXPECT_EQ(sgCompareInt(1, 2), 1);
  EXPECT_EQ(sgCompareInt(2, 1), -1);
  EXPECT_EQ(sgTranslate(u"Text"), u"Text");
}

// ---- easing
using AT = TsgAnimationType;
using EaseFn = double (*)(double, double, double, double, AT);

TEST(SceneEasing, EveryCurveRunsFromBeginToEnd) {
  struct {
    const char* name;
    EaseFn f;
  } curves[] = {{"Linear", sgInterpolateLinear}, {"Quad", sgInterpolateQuad},
                {"Cubic", sgInterpolateCubic},   {"Quart", sgInterpolateQuart},
                {"Quint", sgInterpolateQuint},   {"Sine", sgInterpolateSine},
                {"Expo", sgInterpolateExpo},     {"Circ", sgInterpolateCirc},
                {"Bounce", sgInterpolateBounce}};
  for (const auto& c : curves)
    for (AT t : {AT::sgAnimationIn, AT::sgAnimationOut, AT::sgAnimationInOut}) {
      EXPECT_NEAR(c.f(0, 3, 2, 4, t), 3, 1e-5) << c.name << int(t);
      EXPECT_NEAR(c.f(4, 3, 2, 4, t), 5, 1e-5) << c.name << int(t);
      EXPECT_EQ(c.f(2, 3, 2, 4, static_cast<AT>(7)), 0) << c.name;
    }
  for (AT t : {AT::sgAnimationIn, AT::sgAnimationOut, AT::sgAnimationInOut}) {
    EXPECT_NEAR(sgInterpolateBack(0, 3, 2, 4, 0, t), 3, 1e-9);
    EXPECT_NEAR(sgInterpolateBack(4, 3, 2, 4, 0, t), 5, 1e-9);
    EXPECT_EQ(sgInterpolateElastic(0, 3, 2, 4, 0, 0, t), 3);
    EXPECT_EQ(sgInterpolateElastic(4, 3, 2, 4, 0, 0, t), 5);
  }
  // Exact ends where the formulas say so.
  EXPECT_EQ(sgInterpolateExpo(0, 1.25, 3, 2, AT::sgAnimationIn), 1.25);
  EXPECT_EQ(sgInterpolateExpo(2, 1.25, 3, 2, AT::sgAnimationOut), 4.25);
  EXPECT_EQ(sgInterpolateElastic(2, 1.25, 3, 2, 0, 0, AT::sgAnimationOut), 4.25);
  EXPECT_EQ(sgInterpolateBack(2, 0, 1, 4, 0, static_cast<AT>(3)), 0);
  EXPECT_EQ(sgInterpolateElastic(2, 0, 1, 4, 0, 0, static_cast<AT>(3)), 0);
}

TEST(SceneEasing, MidpointsAndShapes) {
  EXPECT_NEAR(sgInterpolateQuad(1, 0, 1, 2, AT::sgAnimationIn), 0.25, 1e-12);
  EXPECT_NEAR(sgInterpolateQuad(1, 0, 1, 2, AT::sgAnimationOut), 0.75, 1e-12);
  EXPECT_NEAR(sgInterpolateCubic(1, 0, 1, 2, AT::sgAnimationInOut), 0.5, 1e-12);
  EXPECT_NEAR(sgInterpolateSine(1, 0, 1, 2, AT::sgAnimationInOut), 0.5, 1e-12);
  EXPECT_NEAR(sgInterpolateBack(1, 0, 1, 4, 0, AT::sgAnimationIn),
              0.0625 * (2.70158 * 0.25 - 1.70158),
              1e-12);  // undershoots below 0
  EXPECT_LT(sgInterpolateBack(1, 0, 1, 4, 0, AT::sgAnimationIn), 0);
  EXPECT_EQ(sgInterpolate(TsgInterpolationType::sgInterpolationLinear, AT::sgAnimationIn, 1, 4),
            0.25);
  EXPECT_EQ(sgInterpolate(TsgInterpolationType::sgInterpolationBounce, AT::sgAnimationOut, 1, 1),
            sgInterpolateBounce(1, 0, 1, 1, AT::sgAnimationOut));
}

TEST(SceneEasing, BounceBreakpoints) {
  auto out = [](double u) { return sgInterpolateBounce(u, 0, 1, 1, AT::sgAnimationOut); };
  auto seg = [](double u, double centre, double add) {
    double w = u - centre;
    return 7.5625 * w * w + add;
  };
  struct {
    double u, centre, add;
  } cases[] = {{0.2, 0, 0},
               {0.36, 0, 0},
               {0.37, 1.5 / 2.75, 0.75},
               {0.73, 1.5 / 2.75, 0.75},  // below 1/1.36: still the second segment
               {0.74, 2.25 / 2.75, 0.9375},
               {0.9, 2.25 / 2.75, 0.9375},
               {0.92, 2.625 / 2.75, 0.984375}};
  for (const auto& c : cases) EXPECT_NEAR(out(c.u), seg(c.u, c.centre, c.add), 1e-12) << c.u;
  // In mirrors Out; InOut joins the halves at c / 2.
  EXPECT_NEAR(sgInterpolateBounce(0.3, 0, 1, 1, AT::sgAnimationIn), 1 - out(0.7), 1e-12);
  EXPECT_NEAR(sgInterpolateBounce(0.5, 0, 1, 1, AT::sgAnimationInOut), 0.5, 1e-12);
}

}  // namespace
}  // namespace kelm::scene
