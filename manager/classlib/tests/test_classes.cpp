#include "test_classes.h"

#include <algorithm>

namespace classlib::testing {

const TTypeInfo TypeInfo_TTestAlign =
    EnumTypeInfo("TTestAlign", {"alNone", "alTop", "alBottom", "alClient"});
const TTypeInfo TypeInfo_TTestStyle =
    EnumTypeInfo("TTestStyle", {"fsBold", "fsItalic", "fsUnderline", "fsStrikeOut"});
const TTypeInfo TypeInfo_TTestStyles = SetTypeInfo("TTestStyles", &TypeInfo_TTestStyle);

namespace {
struct ColorName {
  int64_t value;
  const char* name;
};
const ColorName kColors[] = {{0x000000, "clBlack"}, {0x0000FF, "clRed"}, {0x00FF00, "clLime"}};
bool ColorToInt(std::string_view ident, int64_t& v) {
  for (auto& c : kColors)
    if (SameText(ident, c.name)) {
      v = c.value;
      return true;
    }
  return false;
}
bool IntToColor(int64_t v, std::string& ident) {
  for (auto& c : kColors)
    if (c.value == v) {
      ident = c.name;
      return true;
    }
  return false;
}
}  // namespace

const TTypeInfo TypeInfo_TTestColor = [] {
  TTypeInfo t = IntTypeInfo("TTestColor");
  t.IdentToInt = ColorToInt;
  t.IntToIdent = IntToColor;
  return t;
}();

std::vector<std::string>& LoadedLog() {
  static std::vector<std::string> log;
  return log;
}

CL_CLASS(TTestFont) {
  c.Str("Name", &TTestFont::Name, &TTestFont::SetName);
  c.Int("Size", &TTestFont::Size, &TTestFont::SetSize).Default(8);
  c.Set("Style", &TTestFont::Style, &TTestFont::Style, &TypeInfo_TTestStyles).Default(0);
  c.Int("Color", &TTestFont::Color, &TTestFont::Color, &TypeInfo_TTestColor).Default(0);
}

void TTestFont::Assign(TPersistent* source) {
  if (auto* f = dynamic_cast<TTestFont*>(source)) {
    Name = f->Name;
    Size = f->Size;
    Style = f->Style;
    Color = f->Color;
    return;
  }
  TPersistent::Assign(source);
}

CL_CLASS(TTestItem) {
  c.WStr("Caption", &TTestItem::Caption, &TTestItem::Caption);
  c.Int("Width", &TTestItem::Width, &TTestItem::Width).Default(50);
  c.Bool("Visible", &TTestItem::Visible, &TTestItem::Visible).Default(true);
  c.Object("Link", &TTestItem::Link, &TTestItem::Link);
}

void TTestItem::Assign(TPersistent* source) {
  if (auto* i = dynamic_cast<TTestItem*>(source)) {
    Caption = i->Caption;
    Width = i->Width;
    Visible = i->Visible;
    return;
  }
  TCollectionItem::Assign(source);
}

CL_CLASS(TTestSub) { c.Int("Value", &TTestSub::Value, &TTestSub::Value).Default(0); }

CL_CLASS(TTestBox) {
  c.Int("Left", &TTestBox::Left, &TTestBox::SetLeft).Default(0);
  c.Int("Width", &TTestBox::Width, &TTestBox::Width).Default(100);
  c.Enum("Align", &TTestBox::Align, &TTestBox::Align, &TypeInfo_TTestAlign)
      .Default(TTestAlign::alNone);
  c.Bool("Enabled", &TTestBox::Enabled, &TTestBox::Enabled).Default(true);
  c.Set("Style", &TTestBox::Style, &TTestBox::Style, &TypeInfo_TTestStyles).Default(0);
  c.Float("Ratio", &TTestBox::Ratio, &TTestBox::Ratio);
  c.Float("Scale", &TTestBox::Scale, &TTestBox::Scale, &TypeInfo_Single);
  c.Float("Price", &TTestBox::Price, &TTestBox::Price, &TypeInfo_Currency);
  c.Float("Stamp", &TTestBox::Stamp, &TTestBox::Stamp, &TypeInfo_TDateTime);
  c.Int("Big", &TTestBox::Big, &TTestBox::Big, &TypeInfo_Int64).Default(0);
  c.Int("Color", &TTestBox::Color, &TTestBox::Color, &TypeInfo_TTestColor).Default(0);
  c.Str("Caption8", &TTestBox::Caption8, &TTestBox::Caption8);
  c.WStr("Text", &TTestBox::Text, &TTestBox::Text);
  c.Str("Transient", &TTestBox::Transient, &TTestBox::Transient).Stored(false);
  c.Int("Hidden", &TTestBox::Hidden, &TTestBox::Hidden).Stored(&TTestBox::HiddenStored);
  c.Object("Font", &TTestBox::Font, &TTestBox::SetFont);
  c.Object("Items", &TTestBox::Items, &TTestBox::SetItems);
  c.Object("Lines", &TTestBox::Lines, &TTestBox::SetLines);
  c.Object("Inner", &TTestBox::Inner, nullptr);
  c.Object("Buddy", &TTestBox::Buddy, &TTestBox::SetBuddy);
  c.Object("Other", &TTestBox::Other, &TTestBox::SetOther);
  c.Event("OnClick", &TTestBox::OnClick, &TTestBox::OnClick);
  c.Event("OnValue", &TTestBox::OnValue, &TTestBox::OnValue);
}

TTestBox::TTestBox(TComponent* owner) : TComponent(owner) {
  Font = New<TTestFont>();
  Items = New<TOwnedCollection>(this, TTestItem::StaticClass());
  Lines = New<TStringList>();
  Inner = New<TTestSub>(this);
  Inner->SetSubComponent(true);
}

TTestBox::~TTestBox() {
  Free(Font);
  Free(Items);
  Free(Lines);
}

void TTestBox::BeforeDestruction() {
  TComponent::BeforeDestruction();
  if (ParentBox) ParentBox->RemoveChild(this);
  while (!Children.empty()) {
    TTestBox* c = Children.back();
    RemoveChild(c);
  }
}

void TTestBox::SetLeft(int32_t v) {
  if (IsLoading()) SawLoadingInSetter = true;
  Left = v;
}

void TTestBox::SetBuddy(TTestBox* b) {
  if (Buddy) Buddy->RemoveFreeNotification(this);
  Buddy = b;
  if (b) b->FreeNotification(this);
}

void TTestBox::SetOther(TComponent* c) {
  if (Other) Other->RemoveFreeNotification(this);
  Other = c;
  if (c) c->FreeNotification(this);
}

void TTestBox::Notification(TComponent* c, TOperation op) {
  TComponent::Notification(c, op);
  if (op != TOperation::opRemove) return;
  if (c == Buddy) Buddy = nullptr;
  if (c == Other) Other = nullptr;
}

void TTestBox::AddChild(TTestBox* child) {
  if (!child || child->ParentBox == this) return;
  if (child->ParentBox) child->ParentBox->RemoveChild(child);
  Children.push_back(child);
  child->ParentBox = this;
}

void TTestBox::RemoveChild(TTestBox* child) {
  auto it = std::find(Children.begin(), Children.end(), child);
  if (it == Children.end()) return;
  Children.erase(it);
  child->ParentBox = nullptr;
}

void TTestBox::SetParentComponent(TComponent* parent) {
  if (auto* box = dynamic_cast<TTestBox*>(parent)) box->AddChild(this);
}

void TTestBox::GetChildren(const TGetChildProc& proc, TComponent* root) {
  TComponent::GetChildren(proc, root);
  for (TTestBox* c : Children) proc(c);
}

void TTestBox::DefineProperties(TFiler& filer) {
  TComponent::DefineProperties(filer);
  filer.DefineBinaryProperty(
      "Data",
      [this](TStream& s) {
        Data.resize(static_cast<size_t>(s.Size()));
        if (!Data.empty()) s.ReadBuffer(Data.data(), static_cast<int64_t>(Data.size()));
      },
      [this](TStream& s) {
        if (!Data.empty()) s.WriteBuffer(Data.data(), static_cast<int64_t>(Data.size()));
      },
      !Data.empty());
  filer.DefineProperty(
      "Marker", [this](TReader& r) { Marker = r.ReadInteger(); },
      [this](TWriter& w) { w.WriteInteger(Marker); }, Marker != 0);
}

void TTestBox::Loaded() {
  TComponent::Loaded();
  LoadedLog().push_back(Name());
}

CL_CLASS(TTestForm) {
  c.WStr("Caption", &TTestForm::Caption, &TTestForm::Caption);
  c.Method<&TTestForm::ButtonClick>("ButtonClick");
  c.Method<&TTestForm::ValueChange>("ValueChange");
}

void TTestForm::Loaded() {
  TComponent::Loaded();
  LoadedLog().push_back(Name());
}

void RegisterTestClasses() {
  RegisterClasses({TTestBox::StaticClass(), TTestForm::StaticClass(), TTestSub::StaticClass()});
}

TTestForm* MakeSampleForm() {
  RegisterTestClasses();
  auto* form = New<TTestForm>(nullptr);
  form->SetName("frmSample");
  form->Caption = u"Sample \x00e9\x4e2d";
  auto* a = New<TTestBox>(form);
  a->SetName("boxA");
  a->Left = -5;
  a->Width = 40000;
  a->Align = TTestAlign::alClient;
  a->Enabled = false;
  a->Style = {fsBold, fsUnderline};
  a->Ratio = 1.5;
  a->Scale = 0.1f;
  a->Price = 12.34;
  a->Stamp = 45000.25;
  a->Big = int64_t(1) << 40;
  a->Color = 0x0000FF;
  a->Caption8 = "It's 8-bit";
  a->Text = u"Line 1\r\nLine \x00fc";
  a->Transient = "never written";
  a->Hidden = 3;
  a->Font->Name = "Segoe UI";
  a->Font->Size = 11;
  a->Font->Style = {fsItalic};
  a->Font->Color = 0x123456;
  auto* i1 = static_cast<TTestItem*>(a->Items->Add());
  i1->Caption = u"First";
  i1->Width = 70;
  auto* i2 = static_cast<TTestItem*>(a->Items->Add());
  i2->Visible = false;
  a->Lines->Add("alpha");
  a->Lines->Add("");
  a->Lines->Add(std::string(300, 'x'));
  a->Inner->Value = 9;
  a->OnClick = EventOf<&TTestForm::ButtonClick>(form);
  a->OnValue = EventOf<&TTestForm::ValueChange>(form);
  a->Data = {0x00, 0x01, 0xFE, 0xFF};
  a->Marker = -77;
  auto* b = New<TTestBox>(form);
  b->SetName("boxB");
  a->AddChild(b);
  b->SetBuddy(a);
  b->SetOther(form);
  auto* c = New<TTestBox>(form);
  c->SetName("boxC");
  b->AddChild(c);
  c->Text = u"deep";
  return form;
}

std::vector<uint8_t> SaveToBytes(TComponent* root) {
  TMemoryStream m;
  TWriter w(m);
  w.WriteRootComponent(root);
  return m.Bytes();
}

std::string BinaryToText(const std::vector<uint8_t>& bytes) {
  TResourceStream in(bytes.data(), static_cast<int64_t>(bytes.size()));
  TStringStream out;
  ObjectBinaryToText(in, out);
  return out.DataString();
}

std::vector<uint8_t> TextToBinary(const std::string& text) {
  TStringStream in(text);
  TMemoryStream out;
  ObjectTextToBinary(in, out);
  return out.Bytes();
}

}  // namespace classlib::testing
