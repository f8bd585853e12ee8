// Brushes, gradients and fonts: what they write, change events, gradient
// colours; paths through the same component streams.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <string>

#include "classlib/classdef.h"
#include "classlib/streams.h"
#include "classlib/sysutils.h"
#include "scene/sg_brush.h"
#include "scene/sg_classes.h"
#include "scene/sg_object.h"
#include "scene/sg_path.h"

namespace kelm::scene {

// A scene object publishing a brush, a font and a path, as shapes do.
class THolder : public TsgObject {
  CL_DECLARE_CLASS(THolder, TsgObject)
 public:
  explicit THolder(classlib::TComponent* AOwner)
      : TsgObject(AOwner),
        fill_(classlib::New<TsgBrush>(sgBrushSolid, 0xFF000000u)),
        font_(classlib::New<TsgFont>()),
        path_(classlib::New<TsgPathData>()) {}
  ~THolder() override {
    classlib::Free(fill_);
    classlib::Free(font_);
    classlib::Free(path_);
  }
  TsgBrush* Fill() const { return fill_; }
  void SetFill(TsgBrush* v) { fill_->Assign(v); }
  TsgFont* Font() const { return font_; }
  void SetFont(TsgFont* v) { font_->Assign(v); }
  TsgPathData* Path() const { return path_; }
  void SetPath(TsgPathData* v) { path_->Assign(v); }

 private:
  TsgBrush* fill_;
  TsgFont* font_;
  TsgPathData* path_;
};

CL_CLASS(THolder) {
  c.Object("Fill", &THolder::Fill, &THolder::SetFill);
  c.Object("Font", &THolder::Font, &THolder::SetFont);
  c.Object("Path", &THolder::Path, &THolder::SetPath);
}

namespace {

class ChangeCounter : public classlib::TObject {
 public:
  int Count = 0;
  void Changed(classlib::TObject*) { ++Count; }
  classlib::TNotifyEvent Event() { return classlib::EventOf<&ChangeCounter::Changed>(this); }
};

std::string TextOf(classlib::TComponent* obj) {
  classlib::TStringStream text;
  SaveObjectToTextStream(obj, text);
  return text.DataString();
}

std::string BinaryOf(classlib::TComponent* obj) {
  classlib::TMemoryStream m;
  SaveObjectToStream(obj, m);
  return std::string(reinterpret_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size()));
}

bool Has(const std::string& s, const char* what) { return s.find(what) != std::string::npos; }

TEST(BrushStream, StoredRulesOnWrittenBytes) {
  classlib::RegisterClasses({THolder::StaticClass()});
  auto* obj = classlib::New<THolder>(nullptr);
  // Defaults write nothing of the brush, the font or the path.
  std::string bytes = BinaryOf(obj);
  for (const char* name : {"Fill", "Color", "Style", "Gradient", "Font", "Family", "Size",
                           "ClearType", "Path", "Resource"})
    EXPECT_FALSE(Has(bytes, name)) << name;

  obj->Fill()->SetColor("#FFFF0000");
  bytes = BinaryOf(obj);
  EXPECT_TRUE(Has(bytes, "Fill.Color"));
  EXPECT_FALSE(Has(bytes, "Style"));
  EXPECT_FALSE(Has(bytes, "Gradient"));

  // A gradient brush writes its style and gradient, no colour; positions
  // only while linear, the transform only while radial.
  obj->Fill()->SetStyle(sgBrushGradient);
  obj->Fill()->Gradient()->StopPosition()->SetPoint(sgPoint(0.5f, 1));
  obj->Fill()->Gradient()->RadialTransform()->SetRotateAngle(30);
  bytes = BinaryOf(obj);
  EXPECT_FALSE(Has(bytes, "Fill.Color"));
  EXPECT_TRUE(Has(bytes, "Fill.Style"));
  EXPECT_TRUE(Has(bytes, "Fill.Gradient.Points"));
  EXPECT_TRUE(Has(bytes, "Fill.Gradient.Style"));
  EXPECT_TRUE(Has(bytes, "Fill.Gradient.StopPosition"));
  EXPECT_FALSE(Has(bytes, "RadialTransform"));
  obj->Fill()->Gradient()->SetStyle(sgRadialGradient);
  bytes = BinaryOf(obj);
  EXPECT_FALSE(Has(bytes, "StopPosition"));
  EXPECT_FALSE(Has(bytes, "StartPosition"));
  EXPECT_TRUE(Has(bytes, "Fill.Gradient.RadialTransform"));

  obj->Font()->SetSize(13);
  obj->Font()->SetClearType(false);
  obj->Path()->SetData("M 0 0 L 5 5");
  const std::string text = TextOf(obj);
  EXPECT_TRUE(Has(text, "Font.Size = 13")) << text;
  EXPECT_TRUE(Has(text, "Font.ClearType = False")) << text;
  EXPECT_FALSE(Has(text, "Family")) << text;
  EXPECT_TRUE(Has(text, "Path.Path = {")) << text;

  // Everything reads back through the loader.
  classlib::TStringStream in(text);
  auto* copy = dynamic_cast<THolder*>(LoadObjectFromTextStream(nullptr, in));
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->Fill()->Style(), sgBrushGradient);
  EXPECT_EQ(copy->Fill()->Gradient()->Style(), sgRadialGradient);
  EXPECT_EQ(copy->Fill()->Gradient()->Points()->Count(), 2);
  EXPECT_EQ(copy->Font()->Size(), 13);
  EXPECT_FALSE(copy->Font()->ClearType());
  EXPECT_EQ(copy->Path()->GetData(), "M 0,0 L 5,5 ");
  classlib::Free(copy);
  classlib::Free(obj);
}

TEST(Brush, ColourTextAndGradientFirstStop) {
  TsgBrush brush(sgBrushSolid, 0xFF000000u);
  ChangeCounter counter;
  brush.OnChange = counter.Event();
  brush.SetColor("#FF000000");
  EXPECT_EQ(counter.Count, 0);
  brush.SetStyle(sgBrushGradient);
  brush.SetColor("#FFFF0000");
  EXPECT_EQ(brush.Gradient()->Points()->Points(0)->IntColor(), 0xFFFF0000u);
  EXPECT_EQ(brush.GetColor(), "#FFFF0000");
  EXPECT_EQ(counter.Count, 2);
  brush.SetColor("no colour");
  EXPECT_EQ(brush.SolidColor(), 0u);
  // A changed stop position reaches the brush's owner.
  brush.Gradient()->StopPosition()->SetPoint(sgPoint(1, 1));
  EXPECT_EQ(counter.Count, 4);
}

TEST(Brush, AssignFiresOnceAndCopiesOnlyTheUsedPart) {
  TsgBrush source(sgBrushNone, 0xFF000000u), target(sgBrushSolid, 0xFFFFFFFFu);
  source.SetStyle(sgBrushGradient);
  source.Gradient()->Points()->Clear();
  for (int i = 0; i < 5; ++i)
    source.Gradient()->Points()->AddPoint(0xFF000000u | uint32_t(i), float(i) / 4);
  source.Gradient()->StartPosition()->SetPoint(sgPoint(0.25f, 0));
  ChangeCounter counter;
  target.OnChange = counter.Event();
  target.Assign(&source);
  EXPECT_EQ(counter.Count, 1);
  EXPECT_EQ(target.Style(), sgBrushGradient);
  EXPECT_EQ(target.DefaultStyle(), sgBrushNone);
  EXPECT_EQ(target.Gradient()->Points()->Count(), 5);
  EXPECT_EQ(target.Gradient()->StartPosition()->X(), 0.25f);

  // A solid source leaves the target's gradient alone.
  TsgBrush solid(sgBrushSolid, 0xFF00FF00u);
  target.Assign(&solid);
  EXPECT_EQ(counter.Count, 2);
  EXPECT_EQ(target.Gradient()->Points()->Count(), 5);
  EXPECT_EQ(target.SolidColor(), 0xFF00FF00u);

  // A resource brush whose name resolves nowhere answers its own colour.
  TsgBrush res(sgBrushResource, 0xFF123456u);
  res.Resource()->SetResourceName("nowhere");
  EXPECT_EQ(res.GetSolidColor(), 0xFF123456u);
}

TEST(Gradient, InterpolateColor) {
  TsgGradient g;
  g.Points()->Clear();
  g.Points()->AddPoint(0xFF000000u, 0);
  g.Points()->AddPoint(0xFFFF0000u, 0.5f);
  g.Points()->AddPoint(0xFFFFFFFFu, 1);
  struct {
    float t;
    TsgColor want;
  } cases[] = {{0.5f, 0xFFFF0000u},
               {0.25f, sgInterpolateColor(0xFF000000u, 0xFFFF0000u, 0.5f)},
               {0.75f, sgInterpolateColor(0xFFFF0000u, 0xFFFFFFFFu, 0.5f)},
               {-3, 0xFF000000u},
               {7, 0xFFFFFFFFu}};
  for (const auto& c : cases) EXPECT_EQ(g.InterpolateColor(c.t), c.want) << c.t;

  TsgGradient inner;
  inner.Points()->Points(0)->SetOffset(0.2f);
  inner.Points()->Points(1)->SetOffset(0.8f);
  EXPECT_EQ(inner.InterpolateColor(0), 0xFF000000u);
  EXPECT_EQ(inner.InterpolateColor(0.19f), 0xFF000000u);
  EXPECT_EQ(inner.InterpolateColor(0.9f), 0xFFFFFFFFu);
  // Equal offsets give the earlier stop's colour; one stop gives nothing.
  inner.Points()->Points(1)->SetOffset(0.2f);
  EXPECT_EQ(inner.InterpolateColor(0.2f), 0xFF000000u);
  inner.Points()->Delete(1);
  EXPECT_EQ(inner.InterpolateColor(0.5f), 0u);
}

TEST(Font, SettersAndAssign) {
  TsgFont font, other;
  ChangeCounter counter;
  font.OnChange = counter.Event();
  font.SetFamily("Tahoma");
  font.SetSize(11);
  EXPECT_EQ(counter.Count, 0);
  font.SetStyle(sgFontBold);
  EXPECT_EQ(counter.Count, 1);
  other.SetFamily("Arial");
  other.SetSize(20);
  font.Assign(&other);
  EXPECT_EQ(counter.Count, 2);
  EXPECT_EQ(font.Family(), "Arial");
  EXPECT_EQ(font.Size(), 20);
  EXPECT_EQ(font.Style(), sgFontRegular);
}

TEST(Font, WindowFontMapping) {
  struct {
    bool bold, italic, underline, strikeout;
    TsgFontStyle want;
  } cases[] = {
      {false, false, false, false, sgFontRegular}, {true, false, false, false, sgFontBold},
      {false, true, false, false, sgFontItalic},   {true, true, false, false, sgFontBoldItalic},
      {true, false, true, false, sgFontStrikeout},  // kept
      {false, false, false, true, sgFontStrikeout}};
  for (const auto& c : cases)
    EXPECT_EQ(sgFontStyleFromWindow(c.bold, c.italic, c.underline, c.strikeout, sgFontStrikeout),
              c.want);
  bool bold = false, italic = true;
  EXPECT_TRUE(sgFontStyleToWindow(sgFontBold, bold, italic));
  EXPECT_TRUE(bold);
  EXPECT_FALSE(italic);
  EXPECT_FALSE(sgFontStyleToWindow(sgFontUnderline, bold, italic));
  EXPECT_TRUE(bold);
  EXPECT_EQ(sgFontSizeFromHeight(-13), 13);
  EXPECT_EQ(sgFontSizeFromHeight(13), 13);
  EXPECT_EQ(sgFontHeightFromSize(10.6f), -11);
}

TEST(Font, FromAWindowFont) {
  struct {
    TsgWindowFont wf;
    TsgFontStyle before, after;
    float size;
  } cases[] = {
      // Height -13 with bold and underline: size 13, the style kept.
      {{"Arial", -13, true, false, true, false}, sgFontItalic, sgFontItalic, 13},
      {{"Arial", 12, true, true, false, false}, sgFontRegular, sgFontBoldItalic, 12},
      {{"Verdana", -9, false, false, false, false}, sgFontBold, sgFontRegular, 9},
      {{"Tahoma", -11, false, false, false, true}, sgFontBold, sgFontBold, 11},
      {{"Tahoma", INT_MIN, false, true, false, false}, sgFontBold, sgFontItalic, 2147483648.0f},
  };
  for (const auto& c : cases) {
    TsgFont font;
    font.SetStyle(c.before);
    ChangeCounter counter;
    font.OnChange = counter.Event();
    font.AssignWindowFont(c.wf);
    EXPECT_EQ(font.Family(), c.wf.Name);
    EXPECT_EQ(font.Size(), c.size) << c.wf.Height;
    EXPECT_EQ(font.Style(), c.after) << c.wf.Height;
    EXPECT_EQ(counter.Count, 1);
  }
}

TEST(Font, ToAWindowFont) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct {
    float size;
    TsgFontStyle style;
    int height;
    bool bold, italic, underline;  // the window font starts italic and underlined
  } cases[] = {
      {11, sgFontRegular, -11, false, false, false},
      {10.5f, sgFontBold, -10, true, false, false},  // halves round to even
      {11.5f, sgFontBoldItalic, -12, true, true, false},
      {10.6f, sgFontItalic, -11, false, true, false},
      {12, sgFontUnderline, -12, false, true, true},  // style left alone
      {12, sgFontStrikeout, -12, false, true, true},
      {1e30f, sgFontRegular, -INT_MAX, false, false, false},
      {-1e30f, sgFontRegular, INT_MAX, false, false, false},
      {nan, sgFontRegular, 0, false, false, false},
  };
  for (const auto& c : cases) {
    TsgFont font;
    font.SetFamily("Courier New");
    font.SetSize(c.size);
    font.SetStyle(c.style);
    TsgWindowFont wf{"Arial", -20, false, true, true, false};
    font.AssignToWindowFont(wf);
    EXPECT_EQ(wf.Name, "Courier New");
    EXPECT_EQ(wf.Height, c.height) << c.size;
    EXPECT_EQ(wf.Bold, c.bold) << c.size;
    EXPECT_EQ(wf.Italic, c.italic) << c.size;
    EXPECT_EQ(wf.Underline, c.underline) << c.size;
    EXPECT_FALSE(wf.StrikeOut);
  }
}

TEST(Font, OtherClassesRaiseWithoutACopier) {
  TsgFont font;
  TsgGradient gradient;
  EXPECT_THROW(font.Assign(&gradient), classlib::EConvertError);
  EXPECT_THROW(gradient.Assign(&font), classlib::EConvertError);
}

}  // namespace
}  // namespace kelm::scene
