// The tree's option sets, scroll bar settings and colours: small value
// objects streamed by member name, each asking its tree for exactly the
// refresh a change needs through TTreeOptionsHost.
#pragma once

#include <cstdint>

#include "classlib/component.h"
#include "classlib/filer.h"
#include "classlib/typinfo.h"

namespace kelm::lazytree {

enum TLTPaintOption : uint8_t {
  toHideFocusRect,
  toHideSelection,
  toHotTrack,
  toPopupMode,
  toShowBackground,
  toShowButtons,
  toShowDropmark,
  toShowHorzGridLines,
  toShowRoot,
  toShowTreeLines,
  toShowVertGridLines,
  toThemeAware,
  toUseBlendedImages,
  toGhostedIfUnfocused,
  toFullVertGridLines,
  toAlwaysHideSelection,
  toUseBlendedSelection,
  toStaticBackground,
  toChildrenAbove,
  toFixedIndent,
  toUseExplorerTheme,
};
enum TLTAnimationOption : uint8_t { toAnimatedToggle, toAdvancedAnimatedToggle };
enum TLTAutoOption : uint8_t {
  toAutoDropExpand,
  toAutoExpand,
  toAutoScroll,
  toAutoScrollOnExpand,
  toAutoSort,
  toAutoSpanColumns,
  toAutoTristateTracking,
  toAutoHideButtons,
  toAutoDeleteMovedNodes,
  toDisableAutoscrollOnFocus,
  toAutoChangeScale,
  toAutoFreeOnCollapse,
  toDisableAutoscrollOnEdit,
  toAutoBidiColumnOrdering,
};
enum TLTSelectionOption : uint8_t {
  toDisableDrawSelection,
  toExtendedFocus,
  toFullRowSelect,
  toLevelSelectConstraint,
  toMiddleClickSelect,
  toMultiSelect,
  toRightClickSelect,
  toSiblingSelectConstraint,
  toCenterScrollIntoView,
  toSimpleDrawSelection,
};
enum TLTMiscOption : uint8_t {
  toAcceptOLEDrop,
  toCheckSupport,
  toEditable,
  toFullRepaintOnResize,
  toGridExtensions,
  toInitOnSave,
  toReportMode,
  toToggleOnDblClick,
  toWheelPanning,
  toReadOnly,
  toVariableNodeHeight,
  toFullRowDrag,
  toNodeHeightResize,
  toNodeHeightDblClickResize,
  toEditOnClick,
  toEditOnDblClick,
};
enum TLTStringOption : uint8_t { toSaveCaptions, toShowStaticText, toAutoAcceptEditChange };
enum class TLTExportMode : uint8_t { emAll, emChecked, emUnchecked };
enum class TScrollStyle : uint8_t { ssNone, ssHorizontal, ssVertical, ssBoth };
enum class TScrollBarStyle : uint8_t { sbmRegular, sbmFlat, sbm3D };

using TLTPaintOptions = classlib::TSet<TLTPaintOption>;
using TLTAnimationOptions = classlib::TSet<TLTAnimationOption>;
using TLTAutoOptions = classlib::TSet<TLTAutoOption>;
using TLTSelectionOptions = classlib::TSet<TLTSelectionOption>;
using TLTMiscOptions = classlib::TSet<TLTMiscOption>;
using TLTStringOptions = classlib::TSet<TLTStringOption>;

extern const classlib::TTypeInfo TypeInfo_TLTPaintOptions;
extern const classlib::TTypeInfo TypeInfo_TLTAnimationOptions;
extern const classlib::TTypeInfo TypeInfo_TLTAutoOptions;
extern const classlib::TTypeInfo TypeInfo_TLTSelectionOptions;
extern const classlib::TTypeInfo TypeInfo_TLTMiscOptions;
extern const classlib::TTypeInfo TypeInfo_TLTStringOptions;

// What the value objects ask of their tree. Refresh means: the tree is
// not being loaded and its window exists.
class TTreeOptionsHost {
 public:
  virtual ~TTreeOptionsHost() = default;
  virtual bool OptionsLoading() const = 0;
  virtual bool OptionsHaveWindow() const = 0;
  virtual bool OptionsDesigning() const = 0;
  virtual void OptionsRepaint() = 0;
  virtual void OptionsRecreateWindow() = 0;
  virtual void OptionsRegisterDropTarget(bool registered) = 0;
  virtual void OptionsClearSelection() = 0;
  virtual int OptionsFocusedColumn() const = 0;
  // To the header's main column; repaint with it.
  virtual void OptionsFocusMainColumn(bool repaint) = 0;
  // Theme handling and repaint after a paint option change (window only).
  virtual void OptionsPaintChanged(TLTPaintOptions old, TLTPaintOptions now) = 0;
  virtual void OptionsRebuildLineImages() = 0;
  // The non-client frame only (the border is drawn there).
  virtual void OptionsRedrawFrame() = 0;
  virtual bool OptionsUpdating() const = 0;
  // An option set was stored: the tree takes the flags its layers read.
  virtual void OptionsStored() {}
  bool RefreshAllowed() const { return !OptionsLoading() && OptionsHaveWindow(); }
};

class TCustomLazyTreeOptions : public classlib::TPersistent {
  CL_DECLARE_CLASS(TCustomLazyTreeOptions, TPersistent)
 public:
  TCustomLazyTreeOptions() = default;
  void SetHost(TTreeOptionsHost* host) { host_ = host; }

  TLTPaintOptions PaintOptions() const { return paint_; }
  void SetPaintOptions(TLTPaintOptions v);
  TLTAnimationOptions AnimationOptions() const { return animation_; }
  void SetAnimationOptions(TLTAnimationOptions v) { animation_ = v; }
  TLTAutoOptions AutoOptions() const { return auto_; }
  void SetAutoOptions(TLTAutoOptions v);
  TLTSelectionOptions SelectionOptions() const { return selection_; }
  void SetSelectionOptions(TLTSelectionOptions v);
  TLTMiscOptions MiscOptions() const { return misc_; }
  void SetMiscOptions(TLTMiscOptions v);
  void AssignTo(classlib::TPersistent* dest) override;
  // The old form property "Options": one set of "vo" names, each the
  // option of the same word in whichever of the five sets holds it; the
  // five sets are replaced. An unknown name is a read error.
  void ReadLegacyOptions(classlib::TReader& reader);

 protected:
  TTreeOptionsHost* host_ = nullptr;

 private:
  TLTPaintOptions paint_ = TLTPaintOptions::FromInt(7008);
  TLTAnimationOptions animation_;
  TLTAutoOptions auto_ = TLTAutoOptions::FromInt(329);
  TLTSelectionOptions selection_;
  TLTMiscOptions misc_ = TLTMiscOptions::FromInt(16809);
};

class TCustomStringTreeOptions : public TCustomLazyTreeOptions {
  CL_DECLARE_CLASS(TCustomStringTreeOptions, TCustomLazyTreeOptions)
 public:
  TCustomStringTreeOptions() = default;
  TLTStringOptions StringOptions() const { return string_; }
  void SetStringOptions(TLTStringOptions v);
  TLTExportMode ExportMode = TLTExportMode::emAll;
  void AssignTo(classlib::TPersistent* dest) override;

 private:
  TLTStringOptions string_ = TLTStringOptions::FromInt(5);
};

// Publishes the seven properties (the tree property TreeOptions).
class TStringTreeOptions : public TCustomStringTreeOptions {
  CL_DECLARE_CLASS(TStringTreeOptions, TCustomStringTreeOptions)
 public:
  TStringTreeOptions() = default;
};

class TScrollBarOptions : public classlib::TPersistent {
  CL_DECLARE_CLASS(TScrollBarOptions, TPersistent)
 public:
  TScrollBarOptions() = default;
  void SetHost(TTreeOptionsHost* host) { host_ = host; }
  bool AlwaysVisible() const { return alwaysVisible_; }
  void SetAlwaysVisible(bool v);
  TScrollStyle ScrollBars() const { return scrollBars_; }
  void SetScrollBars(TScrollStyle v);
  TScrollBarStyle ScrollBarStyle() const { return style_; }
  // Only sbmRegular: anything else fails the assertion.
  void SetScrollBarStyle(TScrollBarStyle v);
  uint16_t HorizontalIncrement = 20;
  uint16_t VerticalIncrement = 20;
  void Assign(classlib::TPersistent* source) override;

 private:
  TTreeOptionsHost* host_ = nullptr;
  bool alwaysVisible_ = false;
  TScrollStyle scrollBars_ = TScrollStyle::ssBoth;
  TScrollBarStyle style_ = TScrollBarStyle::sbmRegular;
};

class TLTColors : public classlib::TPersistent {
  CL_DECLARE_CLASS(TLTColors, TPersistent)
 public:
  static constexpr int kCount = 15;
  enum : int { TreeLineColorIndex = 5, BorderColorIndex = 7 };
  TLTColors();
  void SetHost(TTreeOptionsHost* host) { host_ = host; }
  uint32_t Color(int index) const { return colors_[index]; }
  void SetColor(int index, uint32_t value);
  template <int I>
  uint32_t ColorAt() const {
    return colors_[I];
  }
  template <int I>
  void SetColorAt(uint32_t value) {
    SetColor(I, value);
  }
  void Assign(classlib::TPersistent* source) override;

 private:
  TTreeOptionsHost* host_ = nullptr;
  uint32_t colors_[kCount];
};

}  // namespace kelm::lazytree
