#include "lazytree/header_columns.h"

#include <algorithm>
#include <cstdio>

#include "classlib/classdef.h"
#include "lazytree/lazy_tree_error.h"

namespace kelm::lazytree {

namespace {

constexpr int32_t kDefaultMargin = 4;

}  // namespace

// ---- TLazyTreeColumn

TLazyTreeColumn::TLazyTreeColumn(classlib::TCollection* collection)
    : classlib::TCollectionItem(collection) {}

TLazyTreeColumns* TLazyTreeColumn::Owner() const {
  return static_cast<TLazyTreeColumns*>(Collection());
}

THeaderLayout& TLazyTreeColumn::Geometry() const {
  LT_ASSERT(Owner() != nullptr, u"column outside a collection");
  return Owner()->Layout();
}

THeaderHost* TLazyTreeColumn::Host() const {
  THeaderLayout& g = Geometry();
  g.SyncView();
  return g.Host;
}

void TLazyTreeColumn::RepaintTree() const {
  if (THeaderHost* host = Host()) host->HeaderRepaintTree();
}

void TLazyTreeColumn::SetText(const std::u16string& value) {
  if (text_ == value) return;
  text_ = value;
  ItemChanged();
}

int32_t TLazyTreeColumn::Width() const { return Geometry().Column(Index()).Width; }
void TLazyTreeColumn::SetWidth(int32_t value) {
  Host();
  Geometry().SetWidth(Index(), value);
}
int32_t TLazyTreeColumn::MinWidth() const { return Geometry().Column(Index()).MinWidth; }
void TLazyTreeColumn::SetMinWidth(int32_t value) {
  Host();
  Geometry().SetMinWidth(Index(), value);
}
int32_t TLazyTreeColumn::MaxWidth() const { return Geometry().Column(Index()).MaxWidth; }
void TLazyTreeColumn::SetMaxWidth(int32_t value) {
  Host();
  Geometry().SetMaxWidth(Index(), value);
}
uint32_t TLazyTreeColumn::Position() const { return Geometry().Column(Index()).Position; }
void TLazyTreeColumn::SetPosition(uint32_t value) {
  THeaderHost* host = Host();
  THeaderLayout& g = Geometry();
  const int count = g.Count();
  if (g.View.Loading || count == 0) {
    g.SetPosition(Index(), value);
    return;
  }
  const uint32_t clamped = std::min(value, static_cast<uint32_t>(count - 1));
  g.EnsurePositionArrayLength();
  const std::vector<int32_t>& order = g.PositionToIndex();
  const auto shown =
      static_cast<uint32_t>(std::find(order.begin(), order.end(), Index()) - order.begin());
  const bool moves = clamped != shown;
  // An edit in progress belongs to the old cell layout.
  if (moves && host != nullptr) host->HeaderCancelEditing();
  g.SetPosition(Index(), value);
  if (!moves) return;
  ItemChanged();
  if (host != nullptr && Owner()->UpdateCount() == 0) {
    host->HeaderRepaint(Index());
    host->HeaderRepaintTree();
  }
}
TLTColumnOptions TLazyTreeColumn::Options() const { return Geometry().Column(Index()).Options; }
void TLazyTreeColumn::SetOptions(TLTColumnOptions value) {
  const TLTColumnOptions old = Options();
  if (old == value) return;
  THeaderHost* host = Host();
  Geometry().SetColumnOptions(Index(), value);
  const TLTColumnOptions added = value - old;
  const bool visibility = ((value - old) + (old - value)).Contains(coVisible);
  if (host != nullptr && added.Contains(coParentBidiMode))
    bidiMode_ = static_cast<TBiDiMode>(host->HeaderBiDiMode());
  if (host != nullptr && added.Contains(coParentColor)) color_ = host->HeaderColor();
  ItemChanged();
  if (host == nullptr || Geometry().View.Loading) return;
  if ((visibility || added.Contains(coParentColor)) && !host->HeaderTreeUpdating() &&
      Geometry().View.HasWindow)
    host->HeaderRepaintTree();
  if (visibility) host->HeaderUpdateHorizontalScrollBar();
}

void TLazyTreeColumn::SetStyle(TLazyTreeColumnStyle value) {
  if (style_ == value) return;
  style_ = value;
  ItemChanged();
}

void TLazyTreeColumn::SetImageIndex(int32_t value) {
  if (imageIndex_ == value) return;
  imageIndex_ = value;
  ItemChanged();
}

void TLazyTreeColumn::SetLayout(TLTHeaderColumnLayout value) {
  if (layout_ == value) return;
  layout_ = value;
  ItemChanged();
}

void TLazyTreeColumn::SetMargin(int32_t value) {
  if (value < 0) value = kDefaultMargin;
  if (margin_ == value) return;
  margin_ = value;
  ItemChanged();
}

void TLazyTreeColumn::SetSpacing(int32_t value) {
  if (spacing_ == value) return;
  spacing_ = value;
  ItemChanged();
}

void TLazyTreeColumn::SetBiDiMode(TBiDiMode value) {
  if (bidiMode_ == value) return;
  bidiMode_ = value;
  Geometry().SetColumnOptions(Index(), Options() - TLTColumnOptions{coParentBidiMode});
  ItemChanged();
  RepaintTree();
}

void TLazyTreeColumn::FollowTreeBiDiMode() {
  THeaderHost* host = Host();
  if (host == nullptr || !Options().Contains(coParentBidiMode)) return;
  const auto mode = static_cast<TBiDiMode>(host->HeaderBiDiMode());
  if (mode == bidiMode_) return;
  bidiMode_ = mode;
  ItemChanged();
}

void TLazyTreeColumn::SetAlignment(TAlignment value) {
  if (alignment_ == value) return;
  alignment_ = value;
  ItemChanged();
  RepaintTree();
}

TAlignment TLazyTreeColumn::CaptionAlignment() const {
  return Options().Contains(coUseCaptionAlignment) ? captionAlignment_ : alignment_;
}

void TLazyTreeColumn::SetCaptionAlignment(TAlignment value) {
  if (Options().Contains(coUseCaptionAlignment) && captionAlignment_ == value) return;
  captionAlignment_ = value;
  Geometry().SetColumnOptions(Index(), Options() + TLTColumnOptions{coUseCaptionAlignment});
  if (THeaderHost* host = Host()) host->HeaderRepaint(Index());
}

void TLazyTreeColumn::SetColor(uint32_t value) {
  if (color_ == value) return;
  color_ = value;
  Geometry().SetColumnOptions(Index(), Options() - TLTColumnOptions{coParentColor});
  ItemChanged();
  RepaintTree();
}

void TLazyTreeColumn::SetCheckBox(bool value) {
  if (checkBox_ == value) return;
  checkBox_ = value;
  ItemChanged();
}

void TLazyTreeColumn::SetCheckType(TCheckType value) {
  if (checkType_ == value) return;
  checkType_ = value;
  ItemChanged();
}

void TLazyTreeColumn::SetCheckState(TCheckState value) {
  if (checkState_ == value) return;
  checkState_ = value;
  ItemChanged();
}

void TLazyTreeColumn::SetIndex(int index) {
  const int current = Index();
  // Out-of-range indices are refused below, before anything moves.
  if (Owner() != nullptr && current >= 0 && current != index && index >= 0 &&
      index < Owner()->Count())
    Geometry().MoveColumnIndex(current, index);
  inherited::SetIndex(index);
}

TColumnRecord TLazyTreeColumn::ToRecord() const {
  TColumnRecord r;
  const TColumnGeometry& g = Geometry().Column(Index());
  r.Text = text_;
  r.Hint = hint_;
  r.Width = g.Width;
  r.MinWidth = g.MinWidth;
  r.MaxWidth = g.MaxWidth;
  r.Style = static_cast<uint8_t>(style_);
  r.ImageIndex = imageIndex_;
  r.Layout = static_cast<uint8_t>(layout_);
  r.Margin = margin_;
  r.Spacing = spacing_;
  r.BiDiMode = static_cast<uint8_t>(bidiMode_);
  r.Options = static_cast<uint16_t>(g.Options.ToInt());
  r.Tag = Tag;
  r.Alignment = static_cast<uint8_t>(alignment_);
  r.Color = color_;
  r.CaptionAlignment =
      g.Options.Contains(coUseCaptionAlignment) ? static_cast<uint8_t>(captionAlignment_) : 0;
  return r;
}

// The values the layout does not keep; their setters would drop the
// parent flags, so the stored options are applied last.
void TLazyTreeColumn::LoadRecord(const TColumnRecord& r) {
  SetText(r.Text);
  hint_ = r.Hint;
  SetStyle(static_cast<TLazyTreeColumnStyle>(r.Style));
  SetImageIndex(r.ImageIndex);
  SetLayout(static_cast<TLTHeaderColumnLayout>(r.Layout));
  SetMargin(r.Margin);
  SetSpacing(r.Spacing);
  SetBiDiMode(static_cast<TBiDiMode>(r.BiDiMode));
  Tag = r.Tag;
  SetAlignment(static_cast<TAlignment>(r.Alignment));
  SetColor(r.Color);
  const TLTColumnOptions options = TLTColumnOptions::FromInt(r.Options);
  if (options.Contains(coUseCaptionAlignment))
    SetCaptionAlignment(static_cast<TAlignment>(r.CaptionAlignment));
  Geometry().SetColumnOptions(Index(), options);
}

bool TLazyTreeColumn::SameAs(const TLazyTreeColumn& o) const {
  return bidiMode_ == o.bidiMode_ && imageIndex_ == o.imageIndex_ && layout_ == o.layout_ &&
         margin_ == o.margin_ && MaxWidth() == o.MaxWidth() && MinWidth() == o.MinWidth() &&
         Position() == o.Position() && spacing_ == o.spacing_ && style_ == o.style_ &&
         text_ == o.text_ && hint_ == o.hint_ && Width() == o.Width() &&
         alignment_ == o.alignment_ && CaptionAlignment() == o.CaptionAlignment() &&
         color_ == o.color_ && Tag == o.Tag && Options() == o.Options();
}

void TLazyTreeColumn::Assign(classlib::TPersistent* source) {
  auto* s = dynamic_cast<TLazyTreeColumn*>(source);
  if (s == nullptr) {
    inherited::Assign(source);
    return;
  }
  // Emptied first so that no setter below is refused or redirected by a
  // flag of the old set; the source's set goes in last.
  Geometry().SetColumnOptions(Index(), {});
  SetBiDiMode(s->bidiMode_);
  SetImageIndex(s->imageIndex_);
  SetLayout(s->layout_);
  SetMargin(s->margin_);
  SetMaxWidth(s->MaxWidth());
  SetMinWidth(s->MinWidth());
  SetPosition(s->Position());
  SetSpacing(s->spacing_);
  SetStyle(s->style_);
  SetText(s->text_);
  hint_ = s->hint_;
  SetWidth(s->Width());
  SetAlignment(s->alignment_);
  SetCaptionAlignment(s->CaptionAlignment());
  SetColor(s->color_);
  Tag = s->Tag;
  SetOptions(s->Options());
  ItemChanged();
}

std::string TLazyTreeColumn::GetDisplayName() const {
  const bool narrow = std::all_of(text_.begin(), text_.end(), [](char16_t c) { return c < 256; });
  if (narrow) return std::string(text_.begin(), text_.end());
  char buf[32];
  std::snprintf(buf, sizeof buf, "Column %d", Index());
  return buf;
}

// ---- TLazyTreeColumns

TLazyTreeColumns::TLazyTreeColumns(classlib::TPersistent* owner, THeaderLayout& layout)
    : classlib::TOwnedCollection(owner, TLazyTreeColumn::StaticClass()), layout_(layout) {}

TLazyTreeColumns::~TLazyTreeColumns() {
  // The layout outlives the items; keep the two the same length.
  clearing_ = true;
  layout_.Clear();
}

TLazyTreeColumn* TLazyTreeColumns::Items(int index) const {
  return static_cast<TLazyTreeColumn*>(TCollection::Items(index));
}

TLazyTreeColumn* TLazyTreeColumns::Add() {
  return static_cast<TLazyTreeColumn*>(TCollection::Add());
}

void TLazyTreeColumns::Notify(classlib::TCollectionItem* item,
                              classlib::TCollectionNotification action) {
  using classlib::TCollectionNotification;
  if (action == TCollectionNotification::cnAdded) {
    if (!adopting_) layout_.AddColumn();
  } else if (action == TCollectionNotification::cnExtracting && !clearing_) {
    layout_.RemoveColumn(item->Index());
  }
}

void TLazyTreeColumns::Update(classlib::TCollectionItem* item) {
  layout_.SyncView();
  THeaderHost* host = layout_.Host;
  if (host == nullptr) return;
  if (!layout_.View.Loading && !layout_.LoadingColumns) {
    if (item != nullptr) {
      host->HeaderRepaint(item->Index());
    } else if (layout_.View.HasWindow) {
      host->HeaderUpdateHorizontalScrollBar();
      host->HeaderRepaint(-1);
      host->HeaderRepaintTree();
    }
  }
  if (!host->HeaderTreeUpdating()) host->HeaderDesignerModified();
}

void TLazyTreeColumns::ClearColumns() {
  clearing_ = true;
  try {
    layout_.Clear();
    Clear();
  } catch (...) {
    clearing_ = false;
    throw;
  }
  clearing_ = false;
}

void TLazyTreeColumns::ToRecord(THeaderRecord& record) const {
  record.Columns.clear();
  for (int i = 0; i < Count(); ++i) record.Columns.push_back(Items(i)->ToRecord());
  record.Positions = layout_.PositionToIndex();
  record.DefaultWidth = layout_.DefaultWidth;
}

void TLazyTreeColumns::LoadHeaderRecord(const THeaderRecord& record) {
  clearing_ = true;
  try {
    Clear();
  } catch (...) {
    clearing_ = false;
    throw;
  }
  clearing_ = false;
  layout_.LoadHeaderRecord(record);
  LT_ASSERT(layout_.Count() == static_cast<int>(record.Columns.size()),
            u"layout and record disagree");
  BeginUpdate();
  adopting_ = true;
  try {
    for (const TColumnRecord& c : record.Columns) Add()->LoadRecord(c);
  } catch (...) {
    adopting_ = false;
    EndUpdate();
    throw;
  }
  adopting_ = false;
  EndUpdate();
}

void TLazyTreeColumns::Assign(classlib::TPersistent* source) {
  auto* s = dynamic_cast<TLazyTreeColumns*>(source);
  if (s == nullptr || s == this) {
    inherited::Assign(source);
    return;
  }
  ClearColumns();
  inherited::Assign(source);
  layout_.SetPositionOrder(s->layout_.PositionToIndex());
  layout_.PositionsNeedFixing = false;
  layout_.RecomputeColumnEdges(true);
}

bool TLazyTreeColumns::SameColumnsAs(const TLazyTreeColumns& o) const {
  if (ClassType() != o.ClassType() || Count() != o.Count()) return false;
  if (layout_.PositionToIndex() != o.layout_.PositionToIndex()) return false;
  for (int i = 0; i < Count(); ++i)
    if (!Items(i)->SameAs(*o.Items(i))) return false;
  return true;
}

void TLazyTreeColumn::DefineProperties(classlib::TFiler& filer) {
  inherited::DefineProperties(filer);
  // ReadWideString also converts an 8-bit string value.
  filer.DefineProperty(
      "WideText", [this](classlib::TReader& r) { SetText(r.ReadWideString()); },
      [this](classlib::TWriter& w) { w.WriteWideString(text_); }, !text_.empty());
  filer.DefineProperty(
      "WideHint", [this](classlib::TReader& r) { hint_ = r.ReadWideString(); },
      [this](classlib::TWriter& w) { w.WriteWideString(hint_); }, !hint_.empty());
}

const classlib::TTypeInfo TypeInfo_TAlignment =
    classlib::EnumTypeInfo("TAlignment", {"taLeftJustify", "taRightJustify", "taCenter"});

namespace {

using classlib::EnumTypeInfo;
using classlib::TTypeInfo;

const TTypeInfo TypeInfo_TBiDiMode = EnumTypeInfo(
    "TBiDiMode",
    {"bdLeftToRight", "bdRightToLeft", "bdRightToLeftNoAlign", "bdRightToLeftReadingOnly"});
const TTypeInfo TypeInfo_TLTHeaderColumnLayout = EnumTypeInfo(
    "TLTHeaderColumnLayout", {"blGlyphLeft", "blGlyphRight", "blGlyphTop", "blGlyphBottom"});
const TTypeInfo TypeInfo_TLazyTreeColumnStyle =
    EnumTypeInfo("TLazyTreeColumnStyle", {"vsText", "vsOwnerDraw"});
const TTypeInfo TypeInfo_TLTColumnOption = EnumTypeInfo(
    "TLTColumnOption",
    {"coAllowClick", "coDraggable", "coEnabled", "coParentBidiMode", "coParentColor", "coResizable",
     "coShowDropMark", "coVisible", "coAutoSpring", "coFixed", "coSmartResize", "coAllowFocus",
     "coDisableAnimatedResize", "coWrapCaption", "coUseCaptionAlignment"});
const TTypeInfo TypeInfo_TCheckType = EnumTypeInfo(
    "TCheckType", {"ctNone", "ctTriStateCheckBox", "ctCheckBox", "ctRadioButton", "ctButton"});
const TTypeInfo TypeInfo_TCheckState =
    EnumTypeInfo("TCheckState", {"csUncheckedNormal", "csUncheckedPressed", "csCheckedNormal",
                                 "csCheckedPressed", "csMixedNormal", "csMixedPressed"});
const TTypeInfo TypeInfo_TLTColumnOptions =
    classlib::SetTypeInfo("TLTColumnOptions", &TypeInfo_TLTColumnOption);

}  // namespace

void TLazyTreeColumns::ReadColumns(classlib::TReader& reader) {
  layout_.LoadingColumns = true;
  try {
    ClearColumns();
    if (reader.ReadValue() != classlib::TValueType::vaCollection)
      throw classlib::EReadError(u"Invalid property value");
    reader.ReadCollection(this);
  } catch (...) {
    layout_.LoadingColumns = false;
    throw;
  }
  layout_.LoadingColumns = false;
}

void TLazyTreeColumns::WriteColumns(classlib::TWriter& writer) {
  // Items name their properties plainly, not under the header's path.
  const std::string path = writer.PropPath();
  writer.SetPropPath("");
  try {
    writer.WriteCollection(this);
  } catch (...) {
    writer.SetPropPath(path);
    throw;
  }
  writer.SetPropPath(path);
}

// Published in name order, as the stored form lists them.
CL_CLASS(TLazyTreeColumn) {
  using C = TLazyTreeColumn;
  c.Enum("Alignment", &C::Alignment, &C::SetAlignment, &TypeInfo_TAlignment)
      .Default(TAlignment::taLeftJustify);
  c.Enum("BiDiMode", &C::BiDiMode, &C::SetBiDiMode, &TypeInfo_TBiDiMode)
      .NoDefault()
      .Stored(&C::IsBiDiModeStored);
  c.Enum("CaptionAlignment", &C::CaptionAlignment, &C::SetCaptionAlignment, &TypeInfo_TAlignment)
      .NoDefault()
      .Stored(&C::IsCaptionAlignmentStored);
  c.Bool("CheckBox", &C::CheckBox, &C::SetCheckBox).Default(false);
  c.Enum("CheckState", &C::CheckState, &C::SetCheckState, &TypeInfo_TCheckState)
      .Default(csUncheckedNormal);
  c.Enum("CheckType", &C::CheckType, &C::SetCheckType, &TypeInfo_TCheckType).Default(ctCheckBox);
  c.Int("Color", &C::Color, &C::SetColor, &classlib::TypeInfo_Cardinal)
      .NoDefault()
      .Stored(&C::IsColorStored);
  c.Int("ImageIndex", &C::ImageIndex, &C::SetImageIndex).Default(-1);
  c.Enum("Layout", &C::Layout, &C::SetLayout, &TypeInfo_TLTHeaderColumnLayout)
      .Default(TLTHeaderColumnLayout::blGlyphLeft);
  c.Int("Margin", &C::Margin, &C::SetMargin).Default(4);
  c.Int("MaxWidth", &C::MaxWidth, &C::SetMaxWidth).Default(10000);
  c.Int("MinWidth", &C::MinWidth, &C::SetMinWidth).Default(10);
  c.Set("Options", &C::Options, &C::SetOptions, &TypeInfo_TLTColumnOptions)
      .Default(static_cast<int64_t>(kDefaultColumnOptions));
  c.Int("Position", &C::Position, &C::SetPosition, &classlib::TypeInfo_Cardinal).NoDefault();
  c.Int("Spacing", &C::Spacing, &C::SetSpacing).Default(4);
  c.Enum("Style", &C::Style, &C::SetStyle, &TypeInfo_TLazyTreeColumnStyle)
      .Default(TLazyTreeColumnStyle::vsText);
  c.Int("Tag", &C::TagValue, &C::SetTag).Default(0);
  c.Int("Width", &C::Width, &C::SetWidth).Default(50);
}
CL_CLASS(TLazyTreeColumns) {}

}  // namespace kelm::lazytree
