// Option sets, scroll bar options and colours: each setter compares first,
// stores, then asks the tree for the one refresh the change needs.
#include "lazytree/tree_options.h"

#include "classlib/classdef.h"
#include "classlib/sysutils.h"
#include "lazytree/lazy_tree_error.h"

namespace kelm::lazytree {

using classlib::EnumTypeInfo;
using classlib::SetTypeInfo;
using classlib::TTypeInfo;

namespace {

const TTypeInfo TypeInfo_TLTPaintOption = EnumTypeInfo(
    "TLTPaintOption", {"toHideFocusRect",       "toHideSelection",       "toHotTrack",
                       "toPopupMode",           "toShowBackground",      "toShowButtons",
                       "toShowDropmark",        "toShowHorzGridLines",   "toShowRoot",
                       "toShowTreeLines",       "toShowVertGridLines",   "toThemeAware",
                       "toUseBlendedImages",    "toGhostedIfUnfocused",  "toFullVertGridLines",
                       "toAlwaysHideSelection", "toUseBlendedSelection", "toStaticBackground",
                       "toChildrenAbove",       "toFixedIndent",         "toUseExplorerTheme"});
const TTypeInfo TypeInfo_TLTAnimationOption =
    EnumTypeInfo("TLTAnimationOption", {"toAnimatedToggle", "toAdvancedAnimatedToggle"});
const TTypeInfo TypeInfo_TLTAutoOption =
    EnumTypeInfo("TLTAutoOption",
                 {"toAutoDropExpand", "toAutoExpand", "toAutoScroll", "toAutoScrollOnExpand",
                  "toAutoSort", "toAutoSpanColumns", "toAutoTristateTracking", "toAutoHideButtons",
                  "toAutoDeleteMovedNodes", "toDisableAutoscrollOnFocus", "toAutoChangeScale",
                  "toAutoFreeOnCollapse", "toDisableAutoscrollOnEdit", "toAutoBidiColumnOrdering"});
const TTypeInfo TypeInfo_TLTSelectionOption = EnumTypeInfo(
    "TLTSelectionOption",
    {"toDisableDrawSelection", "toExtendedFocus", "toFullRowSelect", "toLevelSelectConstraint",
     "toMiddleClickSelect", "toMultiSelect", "toRightClickSelect", "toSiblingSelectConstraint",
     "toCenterScrollIntoView", "toSimpleDrawSelection"});
const TTypeInfo TypeInfo_TLTMiscOption = EnumTypeInfo(
    "TLTMiscOption",
    {"toAcceptOLEDrop", "toCheckSupport", "toEditable", "toFullRepaintOnResize", "toGridExtensions",
     "toInitOnSave", "toReportMode", "toToggleOnDblClick", "toWheelPanning", "toReadOnly",
     "toVariableNodeHeight", "toFullRowDrag", "toNodeHeightResize", "toNodeHeightDblClickResize",
     "toEditOnClick", "toEditOnDblClick"});
const TTypeInfo TypeInfo_TLTStringOption = EnumTypeInfo(
    "TLTStringOption", {"toSaveCaptions", "toShowStaticText", "toAutoAcceptEditChange"});
const TTypeInfo TypeInfo_TLTExportMode =
    EnumTypeInfo("TLTExportMode", {"emAll", "emChecked", "emUnchecked"});
const TTypeInfo TypeInfo_TScrollStyle =
    EnumTypeInfo("TScrollStyle", {"ssNone", "ssHorizontal", "ssVertical", "ssBoth"});
const TTypeInfo TypeInfo_TScrollBarStyle =
    EnumTypeInfo("TScrollBarStyle", {"sbmRegular", "sbmFlat", "sbm3D"});
const TTypeInfo TypeInfo_TLTScrollIncrement = classlib::IntTypeInfo("TLTScrollIncrement", 1, 10000);

template <class E>
classlib::TSet<E> Changed(classlib::TSet<E> a, classlib::TSet<E> b) {
  return (a - b) + (b - a);
}

}  // namespace

const TTypeInfo TypeInfo_TLTPaintOptions = SetTypeInfo("TLTPaintOptions", &TypeInfo_TLTPaintOption);
const TTypeInfo TypeInfo_TLTAnimationOptions =
    SetTypeInfo("TLTAnimationOptions", &TypeInfo_TLTAnimationOption);
const TTypeInfo TypeInfo_TLTAutoOptions = SetTypeInfo("TLTAutoOptions", &TypeInfo_TLTAutoOption);
const TTypeInfo TypeInfo_TLTSelectionOptions =
    SetTypeInfo("TLTSelectionOptions", &TypeInfo_TLTSelectionOption);
const TTypeInfo TypeInfo_TLTMiscOptions = SetTypeInfo("TLTMiscOptions", &TypeInfo_TLTMiscOption);
const TTypeInfo TypeInfo_TLTStringOptions =
    SetTypeInfo("TLTStringOptions", &TypeInfo_TLTStringOption);

// ---- option sets

void TCustomLazyTreeOptions::SetPaintOptions(TLTPaintOptions v) {
  if (v == paint_) return;
  const TLTPaintOptions old = paint_;
  paint_ = v;
  if (host_ != nullptr) host_->OptionsStored();
  if (host_ != nullptr && host_->OptionsHaveWindow()) host_->OptionsPaintChanged(old, v);
}

void TCustomLazyTreeOptions::SetAutoOptions(TLTAutoOptions v) {
  if (v == auto_) return;
  const TLTAutoOptions old = auto_;
  auto_ = v;
  if (host_ != nullptr) host_->OptionsStored();
  if (host_ != nullptr && Changed(old, v).Contains(toAutoSpanColumns) && host_->RefreshAllowed())
    host_->OptionsRepaint();
}

void TCustomLazyTreeOptions::SetSelectionOptions(TLTSelectionOptions v) {
  if (v == selection_) return;
  const TLTSelectionOptions old = selection_;
  selection_ = v;
  if (host_ != nullptr) host_->OptionsStored();
  if (host_ == nullptr) return;
  const TLTSelectionOptions added = v - old;
  if (Changed(old, v).Contains(toMultiSelect) || added.Contains(toLevelSelectConstraint) ||
      added.Contains(toSiblingSelectConstraint))
    host_->OptionsClearSelection();
  if ((old - v).Contains(toExtendedFocus) && host_->OptionsFocusedColumn() > 0 &&
      host_->OptionsHaveWindow())
    host_->OptionsFocusMainColumn(true);
  if (!v.Contains(toExtendedFocus)) host_->OptionsFocusMainColumn(false);
}

void TCustomLazyTreeOptions::SetMiscOptions(TLTMiscOptions v) {
  if (v == misc_) return;
  const TLTMiscOptions old = misc_;
  misc_ = v;
  if (host_ != nullptr) host_->OptionsStored();
  if (host_ == nullptr || !host_->RefreshAllowed()) return;
  const TLTMiscOptions changed = Changed(old, v);
  if (changed.Contains(toCheckSupport)) host_->OptionsRepaint();
  if (host_->OptionsDesigning()) return;
  if (changed.Contains(toFullRepaintOnResize)) host_->OptionsRecreateWindow();
  if (changed.Contains(toAcceptOLEDrop))
    host_->OptionsRegisterDropTarget(v.Contains(toAcceptOLEDrop));
}

void TCustomLazyTreeOptions::AssignTo(classlib::TPersistent* dest) {
  auto* d = dynamic_cast<TCustomLazyTreeOptions*>(dest);
  if (d == nullptr) {
    inherited::AssignTo(dest);
    return;
  }
  d->SetPaintOptions(paint_);
  d->SetAnimationOptions(animation_);
  d->SetAutoOptions(auto_);
  d->SetSelectionOptions(selection_);
  d->SetMiscOptions(misc_);
}

void TCustomLazyTreeOptions::ReadLegacyOptions(classlib::TReader& reader) {
  // Each new set's member names; the old set named the same words.
  const classlib::TTypeInfo* const sets[] = {
      &TypeInfo_TLTPaintOptions, &TypeInfo_TLTAnimationOptions, &TypeInfo_TLTAutoOptions,
      &TypeInfo_TLTSelectionOptions, &TypeInfo_TLTMiscOptions};
  uint32_t masks[5] = {0, 0, 0, 0, 0};
  if (reader.ReadValue() != classlib::TValueType::vaSet)
    throw classlib::EReadError(u"Invalid property value");
  for (std::string name = reader.ReadStr(); !name.empty(); name = reader.ReadStr()) {
    if (name.size() < 3 || name.compare(0, 2, "vo") != 0)
      throw classlib::EReadError(u"Invalid property value");
    const std::string word = "to" + name.substr(2);
    bool found = false;
    for (size_t s = 0; s < 5 && !found; ++s) {
      const int bit = sets[s]->CompType->GetEnumValue(word);
      if (bit < 0) continue;
      masks[s] |= uint32_t(1) << bit;
      found = true;
    }
    if (!found) throw classlib::EReadError(u"Invalid property value");
  }
  SetPaintOptions(TLTPaintOptions::FromInt(masks[0]));
  SetAnimationOptions(TLTAnimationOptions::FromInt(masks[1]));
  SetAutoOptions(TLTAutoOptions::FromInt(masks[2]));
  SetSelectionOptions(TLTSelectionOptions::FromInt(masks[3]));
  SetMiscOptions(TLTMiscOptions::FromInt(masks[4]));
}

void TCustomStringTreeOptions::SetStringOptions(TLTStringOptions v) {
  if (v == string_) return;
  const TLTStringOptions old = string_;
  string_ = v;
  if (host_ != nullptr && Changed(old, v).Contains(toShowStaticText) && host_->RefreshAllowed())
    host_->OptionsRepaint();
}

void TCustomStringTreeOptions::AssignTo(classlib::TPersistent* dest) {
  if (auto* d = dynamic_cast<TCustomStringTreeOptions*>(dest)) d->SetStringOptions(string_);
  inherited::AssignTo(dest);
}

// ---- scroll bars

void TScrollBarOptions::SetAlwaysVisible(bool v) {
  if (v == alwaysVisible_) return;
  alwaysVisible_ = v;
  if (host_ != nullptr && host_->RefreshAllowed()) host_->OptionsRecreateWindow();
}

void TScrollBarOptions::SetScrollBars(TScrollStyle v) {
  if (v == scrollBars_) return;
  scrollBars_ = v;
  if (host_ != nullptr && host_->RefreshAllowed()) host_->OptionsRecreateWindow();
}

void TScrollBarOptions::SetScrollBarStyle(TScrollBarStyle v) {
  if (v == style_) return;
  LT_ASSERT(v == TScrollBarStyle::sbmRegular,
            u"Flat scrollbars styles are disabled. Enable UseFlatScrollbars in LTConfig "
            u"forflat scrollbar support.");
  style_ = v;
}

void TScrollBarOptions::Assign(classlib::TPersistent* source) {
  auto* s = dynamic_cast<TScrollBarOptions*>(source);
  if (s == nullptr) {
    inherited::Assign(source);
    return;
  }
  SetAlwaysVisible(s->alwaysVisible_);
  HorizontalIncrement = s->HorizontalIncrement;
  SetScrollBars(s->scrollBars_);
  SetScrollBarStyle(s->style_);
  VerticalIncrement = s->VerticalIncrement;
}

// ---- colours

namespace {
constexpr uint32_t kDefaultColors[TLTColors::kCount] = {
    0xFF000010, 0xFF00000D, 0xFF00000D, 0xFF00000D, 0xFF00000F, 0xFF000010, 0xFF00000F, 0xFF00000F,
    0xFF000008, 0xFF00000D, 0xFF00000F, 0xFF00000D, 0xFF00000D, 0xFF00000D, 0xFF000010};
}  // namespace

TLTColors::TLTColors() {
  for (int i = 0; i < kCount; ++i) colors_[i] = kDefaultColors[i];
}

void TLTColors::SetColor(int index, uint32_t value) {
  if (index < 0 || index >= kCount || colors_[index] == value) return;
  colors_[index] = value;
  if (host_ == nullptr || !host_->RefreshAllowed()) return;
  if (index == TreeLineColorIndex) {
    host_->OptionsRebuildLineImages();
    host_->OptionsRepaint();
  } else if (index == BorderColorIndex) {
    host_->OptionsRedrawFrame();
  } else {
    host_->OptionsRepaint();
  }
}

void TLTColors::Assign(classlib::TPersistent* source) {
  auto* s = dynamic_cast<TLTColors*>(source);
  if (s == nullptr) {
    inherited::Assign(source);
    return;
  }
  for (int i = 0; i < kCount; ++i) colors_[i] = s->colors_[i];
  if (host_ != nullptr && !host_->OptionsUpdating()) host_->OptionsRepaint();
}

CL_CLASS(TCustomLazyTreeOptions) {}
CL_CLASS(TCustomStringTreeOptions) {}

CL_CLASS(TStringTreeOptions) {
  c.Set("AnimationOptions", &TStringTreeOptions::AnimationOptions,
        &TStringTreeOptions::SetAnimationOptions, &TypeInfo_TLTAnimationOptions)
      .Default(0);
  c.Set("AutoOptions", &TStringTreeOptions::AutoOptions, &TStringTreeOptions::SetAutoOptions,
        &TypeInfo_TLTAutoOptions)
      .Default(329);
  c.Enum("ExportMode", &TStringTreeOptions::ExportMode, &TStringTreeOptions::ExportMode,
         &TypeInfo_TLTExportMode)
      .Default(TLTExportMode::emAll);
  c.Set("MiscOptions", &TStringTreeOptions::MiscOptions, &TStringTreeOptions::SetMiscOptions,
        &TypeInfo_TLTMiscOptions)
      .Default(16809);
  c.Set("PaintOptions", &TStringTreeOptions::PaintOptions, &TStringTreeOptions::SetPaintOptions,
        &TypeInfo_TLTPaintOptions)
      .Default(7008);
  c.Set("SelectionOptions", &TStringTreeOptions::SelectionOptions,
        &TStringTreeOptions::SetSelectionOptions, &TypeInfo_TLTSelectionOptions)
      .Default(0);
  c.Set("StringOptions", &TStringTreeOptions::StringOptions, &TStringTreeOptions::SetStringOptions,
        &TypeInfo_TLTStringOptions)
      .Default(5);
}

CL_CLASS(TScrollBarOptions) {
  c.Bool("AlwaysVisible", &TScrollBarOptions::AlwaysVisible, &TScrollBarOptions::SetAlwaysVisible)
      .Default(0);
  c.Int("HorizontalIncrement", &TScrollBarOptions::HorizontalIncrement,
        &TScrollBarOptions::HorizontalIncrement, &TypeInfo_TLTScrollIncrement)
      .Default(20);
  c.Enum("ScrollBars", &TScrollBarOptions::ScrollBars, &TScrollBarOptions::SetScrollBars,
         &TypeInfo_TScrollStyle)
      .Default(TScrollStyle::ssBoth);
  c.Enum("ScrollBarStyle", &TScrollBarOptions::ScrollBarStyle,
         &TScrollBarOptions::SetScrollBarStyle, &TypeInfo_TScrollBarStyle)
      .Default(TScrollBarStyle::sbmRegular);
  c.Int("VerticalIncrement", &TScrollBarOptions::VerticalIncrement,
        &TScrollBarOptions::VerticalIncrement, &TypeInfo_TLTScrollIncrement)
      .Default(20);
}

CL_CLASS(TLTColors) {
  using classlib::TypeInfo_Cardinal;
  c.Int("DisabledColor", &TLTColors::ColorAt<0>, &TLTColors::SetColorAt<0>, &TypeInfo_Cardinal)
      .Default(static_cast<int64_t>(kDefaultColors[0]));
  c.Int("DropMarkColor", &TLTColors::ColorAt<1>, &TLTColors::SetColorAt<1>, &TypeInfo_Cardinal)
      .Default(static_cast<int64_t>(kDefaultColors[1]));
  c.Int("DropTargetColor", &TLTColors::ColorAt<2>, &TLTColors::SetColorAt<2>, &TypeInfo_Cardinal)
      .Default(static_cast<int64_t>(kDefaultColors[2]));
  c.Int("FocusedSelectionColor", &TLTColors::ColorAt<3>, &TLTColors::SetColorAt<3>,
        &TypeInfo_Cardinal)
      .Default(static_cast<int64_t>(kDefaultColors[3]));
  c.Int("GridLineColor", &TLTColors::ColorAt<4>, &TLTColors::SetColorAt<4>, &TypeInfo_Cardinal)
      .Default(static_cast<int64_t>(kDefaultColors[4]));
  c.Int("TreeLineColor", &TLTColors::ColorAt<5>, &TLTColors::SetColorAt<5>, &TypeInfo_Cardinal)
      .Default(static_cast<int64_t>(kDefaultColors[5]));
  c.Int("UnfocusedSelectionColor", &TLTColors::ColorAt<6>, &TLTColors::SetColorAt<6>,
        &TypeInfo_Cardinal)
      .Default(static_cast<int64_t>(kDefaultColors[6]));
  c.Int("BorderColor", &TLTColors::ColorAt<7>, &TLTColors::SetColorAt<7>, &TypeInfo_Cardinal)
      .Default(static_cast<int64_t>(kDefaultColors[7]));
  c.Int("HotColor", &TLTColors::ColorAt<8>, &TLTColors::SetColorAt<8>, &TypeInfo_Cardinal)
      .Default(static_cast<int64_t>(kDefaultColors[8]));
  c.Int("FocusedSelectionBorderColor", &TLTColors::ColorAt<9>, &TLTColors::SetColorAt<9>,
        &TypeInfo_Cardinal)
      .Default(static_cast<int64_t>(kDefaultColors[9]));
  c.Int("UnfocusedSelectionBorderColor", &TLTColors::ColorAt<10>, &TLTColors::SetColorAt<10>,
        &TypeInfo_Cardinal)
      .Default(static_cast<int64_t>(kDefaultColors[10]));
  c.Int("DropTargetBorderColor", &TLTColors::ColorAt<11>, &TLTColors::SetColorAt<11>,
        &TypeInfo_Cardinal)
      .Default(static_cast<int64_t>(kDefaultColors[11]));
  c.Int("SelectionRectangleBlendColor", &TLTColors::ColorAt<12>, &TLTColors::SetColorAt<12>,
        &TypeInfo_Cardinal)
      .Default(static_cast<int64_t>(kDefaultColors[12]));
  c.Int("SelectionRectangleBorderColor", &TLTColors::ColorAt<13>, &TLTColors::SetColorAt<13>,
        &TypeInfo_Cardinal)
      .Default(static_cast<int64_t>(kDefaultColors[13]));
  c.Int("HeaderHotColor", &TLTColors::ColorAt<14>, &TLTColors::SetColorAt<14>, &TypeInfo_Cardinal)
      .Default(static_cast<int64_t>(kDefaultColors[14]));
}

}  // namespace kelm::lazytree
