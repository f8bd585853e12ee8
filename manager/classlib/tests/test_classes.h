// Small registered classes with one published property of every kind,
// shared by the stream tests and the reader's fuzz target.
#pragma once

#include <string>
#include <vector>

#include "classlib/classes.h"

namespace classlib::testing {

enum class TTestAlign { alNone, alTop, alBottom, alClient };
enum TTestStyle { fsBold, fsItalic, fsUnderline, fsStrikeOut };
using TTestStyles = TSet<TTestStyle>;

extern const TTypeInfo TypeInfo_TTestAlign;
extern const TTypeInfo TypeInfo_TTestStyle;
extern const TTypeInfo TypeInfo_TTestStyles;
extern const TTypeInfo TypeInfo_TTestColor;  // integer with the names clBlack, clRed, clLime

using TValueEvent = TEvent<TObject*, int&>;

// Loaded calls in the order they happened, by component name.
std::vector<std::string>& LoadedLog();

class TTestFont : public TPersistent {
  CL_DECLARE_CLASS(TTestFont, TPersistent)
 public:
  TTestFont() = default;
  void Assign(TPersistent* source) override;
  std::string Name = "Tahoma";
  int Size = 8;
  TTestStyles Style;
  int32_t Color = 0;
  void SetName(const std::string& v) { Name = v; }
  void SetSize(int v) { Size = v; }
};

class TTestItem : public TCollectionItem {
  CL_DECLARE_CLASS(TTestItem, TCollectionItem)
 public:
  explicit TTestItem(TCollection* c) : TCollectionItem(c) {}
  void Assign(TPersistent* source) override;
  std::u16string Caption;
  int Width = 50;
  bool Visible = true;
  TComponent* Link = nullptr;  // a plain reference, without notification
};

// Owned by its box and streamed inline with dotted names.
class TTestSub : public TComponent {
  CL_DECLARE_CLASS(TTestSub, TComponent)
 public:
  explicit TTestSub(TComponent* owner) : TComponent(owner) {}
  int Value = 0;
};

class TTestBox : public TComponent {
  CL_DECLARE_CLASS(TTestBox, TComponent)
 public:
  explicit TTestBox(TComponent* owner);
  ~TTestBox() override;
  void BeforeDestruction() override;

  // every property kind
  int32_t Left = 0;
  int32_t Width = 100;
  TTestAlign Align = TTestAlign::alNone;
  bool Enabled = true;
  TTestStyles Style;
  double Ratio = 0;
  float Scale = 0;
  double Price = 0;  // currency
  double Stamp = 0;  // date
  int64_t Big = 0;
  int32_t Color = 0;
  std::string Caption8;
  std::u16string Text;
  std::string Transient;  // published, never stored
  int32_t Hidden = 0;     // stored only when positive
  TTestFont* Font;
  TOwnedCollection* Items;
  TStringList* Lines;
  TTestSub* Inner;
  TTestBox* Buddy = nullptr;
  TComponent* Other = nullptr;
  TNotifyEvent OnClick;
  TValueEvent OnValue;
  // defined (custom) properties
  std::vector<uint8_t> Data;
  int Marker = 0;

  void SetFont(TTestFont* f) { Font->Assign(f); }
  void SetItems(TOwnedCollection* c) { Items->Assign(c); }
  void SetLines(TStringList* l) { Lines->Assign(l); }
  void SetBuddy(TTestBox* b);
  void SetOther(TComponent* c);
  bool HiddenStored() const { return Hidden > 0; }

  // the tree the stream stores as children
  TTestBox* ParentBox = nullptr;
  std::vector<TTestBox*> Children;
  void AddChild(TTestBox* child);
  void RemoveChild(TTestBox* child);

  bool HasParent() const override { return ParentBox != nullptr; }
  TComponent* GetParentComponent() const override { return ParentBox; }
  void SetParentComponent(TComponent* parent) override;
  void GetChildren(const TGetChildProc& proc, TComponent* root) override;
  void DefineProperties(TFiler& filer) override;
  void Loaded() override;
  void Notification(TComponent* c, TOperation op) override;

  // state seen while reading
  bool SawLoadingInSetter = false;
  void SetLeft(int32_t v);
};

class TTestForm : public TComponent {
  CL_DECLARE_CLASS(TTestForm, TComponent)
 public:
  explicit TTestForm(TComponent* owner) : TComponent(owner) {}
  std::u16string Caption;
  int Clicks = 0;
  int LastValue = 0;
  void ButtonClick(TObject*) { ++Clicks; }
  void ValueChange(TObject*, int& v) {
    LastValue = v;
    v = 42;
  }
  void Loaded() override;
};

// Registers the classes above (once).
void RegisterTestClasses();

// A tree with every property kind set away from its default.
TTestForm* MakeSampleForm();

std::vector<uint8_t> SaveToBytes(TComponent* root);
std::string BinaryToText(const std::vector<uint8_t>& bytes);
std::vector<uint8_t> TextToBinary(const std::string& text);

}  // namespace classlib::testing
