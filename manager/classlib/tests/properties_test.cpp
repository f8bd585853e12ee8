// Published properties: tables walked ancestors first, access by name and
// path, text and variant access, kinds, defaults and stored rules.
#include <gtest/gtest.h>

#include "test_classes.h"

namespace classlib::testing {
namespace {

class TDerivedBox : public TTestBox {
  CL_DECLARE_CLASS(TDerivedBox, TTestBox)
 public:
  explicit TDerivedBox(TComponent* owner) : TTestBox(owner) {}
  int Extra = 0;
};
CL_CLASS(TDerivedBox) {
  c.Int("Extra", &TDerivedBox::Extra, &TDerivedBox::Extra);
  // A redeclared property keeps its place and takes the new default.
  c.Int("Width", &TDerivedBox::Width, &TDerivedBox::Width).Default(7);
}

TEST(Properties, TablesListAncestorsFirstInDeclarationOrder) {
  const auto& props = TDerivedBox::StaticClass()->Properties();
  ASSERT_GE(props.size(), 5u);
  EXPECT_EQ(props[0]->Name, "Name");
  EXPECT_EQ(props[1]->Name, "Tag");
  EXPECT_EQ(props[2]->Name, "Left");
  EXPECT_EQ(props[3]->Name, "Width");
  EXPECT_EQ(props[3]->Default, 7);
  EXPECT_EQ(props.back()->Name, "Extra");
  EXPECT_EQ(TDerivedBox::StaticClass()->FindProperty("EXTRA"), props.back());
  EXPECT_EQ(TTestBox::StaticClass()->FindProperty("Extra"), nullptr);
}

TEST(Properties, KindsAndTypeInformation) {
  struct Case {
    const char* name;
    TTypeKind kind;
    bool writable;
  } cases[] = {
      {"Tag", TTypeKind::Integer, true},         {"Align", TTypeKind::Enumeration, true},
      {"Enabled", TTypeKind::Enumeration, true}, {"Style", TTypeKind::Set, true},
      {"Ratio", TTypeKind::Float, true},         {"Caption8", TTypeKind::String, true},
      {"Text", TTypeKind::WString, true},        {"Font", TTypeKind::Class, true},
      {"Inner", TTypeKind::Class, false},        {"OnClick", TTypeKind::Method, true},
      {"Big", TTypeKind::Int64, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const TPropInfo* p = TTestBox::StaticClass()->FindProperty(c.name);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->Kind(), c.kind);
    EXPECT_EQ(p->Writable(), c.writable);
  }
  const TPropInfo* font = TTestBox::StaticClass()->FindProperty("Font");
  EXPECT_EQ(font->PropType->ClassType(), TTestFont::StaticClass());
  const TPropInfo* style = TTestBox::StaticClass()->FindProperty("Style");
  EXPECT_EQ(style->PropType->CompType->Names,
            (std::vector<std::string>{"fsBold", "fsItalic", "fsUnderline", "fsStrikeOut"}));
  EXPECT_EQ(TypeInfo_TTestAlign.GetEnumValue("ALCLIENT"), 3);
  EXPECT_EQ(TypeInfo_TTestAlign.GetEnumValue("alNowhere"), -1);
  EXPECT_EQ(TypeInfo_TTestAlign.GetEnumName(1), "alTop");
  EXPECT_EQ(TypeInfo_TTestAlign.GetEnumName(9), "");
}

TEST(Properties, GetAndSetByName) {
  TTestBox box(nullptr);
  SetOrdProp(&box, "width", 33);
  EXPECT_EQ(box.Width, 33);
  SetEnumProp(&box, "Align", "altop");
  EXPECT_EQ(box.Align, TTestAlign::alTop);
  EXPECT_EQ(GetEnumProp(&box, "Enabled"), "True");
  SetOrdProp(&box, "Style", TTestStyles{fsItalic, fsStrikeOut}.ToInt());
  EXPECT_EQ(box.Style, (TTestStyles{fsItalic, fsStrikeOut}));
  SetFloatProp(&box, "Scale", 2.5);
  EXPECT_EQ(box.Scale, 2.5f);
  SetStrProp(&box, "Text", u"\x4e2d");
  EXPECT_EQ(box.Text, u"\x4e2d");
  SetStrProp(&box, "Caption8", u"caf\x00e9");
  EXPECT_EQ(box.Caption8, "caf\xe9");  // through the code page
  EXPECT_EQ(GetStrProp(&box, "Caption8"), u"caf\x00e9");
  TTestBox other(nullptr);
  SetObjectProp(&box, "Buddy", &other);
  EXPECT_EQ(box.Buddy, &other);
  EXPECT_EQ(GetObjectProp(&box, "Font"), box.Font);
  EXPECT_THROW(SetObjectProp(&box, "Buddy", box.Font), EPropertyError);  // wrong class
  SetObjectProp(&box, "Buddy", nullptr);
  TTestForm form(nullptr);
  SetMethodProp(&box, "OnClick", TMethod{&form, form.MethodAddress("ButtonClick")});
  ASSERT_TRUE(box.OnClick);
  box.OnClick(&box);
  EXPECT_EQ(form.Clicks, 1);
  EXPECT_TRUE(GetMethodProp(&box, "OnClick").Assigned());
}

TEST(Properties, UnsuitableAccessIsRefused) {
  TTestBox box(nullptr);
  EXPECT_THROW(GetOrdProp(&box, "NoSuch"), EPropertyError);
  EXPECT_THROW(GetOrdProp(&box, "Text"), EPropertyError);
  EXPECT_THROW(SetObjectProp(&box, "Inner", nullptr), EPropertyError);  // read-only
  EXPECT_THROW(SetEnumProp(&box, "Align", "alSideways"), EPropertyError);
  EXPECT_THROW(SetOrdProp(&box, "Align", 4), ERangeError);
  EXPECT_THROW(SetOrdProp(&box, "Width", int64_t(1) << 33), ERangeError);
  EXPECT_EQ(box.Width, 100);
  EXPECT_EQ(box.Align, TTestAlign::alNone);
}

TEST(Properties, PathsWalkThroughObjectProperties) {
  TTestBox box(nullptr);
  TObject* target = nullptr;
  const TPropInfo* p = FindPropPath(&box, "Font.Size", &target);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(target, box.Font);
  EXPECT_EQ(p->Name, "Size");
  EXPECT_NE(FindPropPath(&box, "inner.value", &target), nullptr);
  EXPECT_EQ(target, box.Inner);
  EXPECT_EQ(FindPropPath(&box, "Width.Size", &target), nullptr);
  EXPECT_EQ(FindPropPath(&box, "Font.Nope", &target), nullptr);
  EXPECT_EQ(FindPropPath(&box, "Buddy.Width", &target), nullptr);  // nil object
}

TEST(Properties, TextAndVariantAccessConvertToTheKind) {
  TTestBox box(nullptr);
  struct Case {
    const char* prop;
    TVariant in;
    const char16_t* text;
  } cases[] = {
      {"Width", TVariant(u"42"), u"42"},
      {"Width", TVariant(7.5), u"8"},  // halves to even
      {"Align", TVariant(u"alBottom"), u"alBottom"},
      {"Align", TVariant(1), u"alTop"},
      {"Enabled", TVariant(false), u"False"},
      {"Enabled", TVariant(u"true"), u"True"},
      {"Ratio", TVariant(u"0.25"), u"0.25"},
      {"Caption8", TVariant(12), u"12"},
      {"Text", TVariant(u"wide"), u"wide"},
      {"Color", TVariant(u"clLime"), u"clLime"},
      {"Color", TVariant(5), u"5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.prop);
    const TPropInfo* p = GetPropInfo(&box, c.prop);
    SetPropValue(&box, p, c.in);
    EXPECT_EQ(GetPropText(&box, p), c.text);
  }
  // Events, sets and objects read as empty text and are left alone.
  EXPECT_EQ(GetPropText(&box, GetPropInfo(&box, "OnClick")), u"");
  EXPECT_EQ(GetPropText(&box, GetPropInfo(&box, "Style")), u"");
  EXPECT_EQ(GetPropText(&box, GetPropInfo(&box, "Font")), u"");
  EXPECT_THROW(SetPropValue(&box, GetPropInfo(&box, "Width"), TVariant(u"wide")), EConvertError);
  EXPECT_THROW(SetPropValue(&box, GetPropInfo(&box, "Align"), TVariant(u"alSideways")),
               EConvertError);
  EXPECT_EQ(GetPropValue(&box, GetPropInfo(&box, "Enabled")), TVariant(true));
}

TEST(Properties, StoredRulesAreData) {
  TTestBox box(nullptr);
  const TPropInfo* hidden = GetPropInfo(&box, "Hidden");
  EXPECT_FALSE(hidden->IsStored(&box));
  box.Hidden = 1;
  EXPECT_TRUE(hidden->IsStored(&box));
  EXPECT_FALSE(GetPropInfo(&box, "Transient")->IsStored(&box));
  EXPECT_FALSE(GetPropInfo(&box, "Name")->IsStored(&box));
}

}  // namespace
}  // namespace classlib::testing
