// The tab control as a window: the model of kt_tabs.h bound to the class
// library's custom control, its stored form and its font; painting through
// an off-screen bitmap, mouse and keyboard input, hot tracking, dragging a
// tab, and the strip's buttons (kt_tab_buttons.h).
#pragma once

#include <windows.h>

#include "classlib/classdef.h"
#include "classlib/controls.h"
#include "classlib/graphics.h"
#include "classlib/imglist.h"
#include "kit/kt_tabs.h"
#include "kit/kt_tabs_gdi.h"

namespace classlib {
class TTimer;
}

namespace kelm::kit {

class TKtTabScroller;
class TKtTabControlCloseButton;
class TKtTabMenuButton;
class TKtActiveTabCloseButton;

extern const classlib::TTypeInfo TypeInfo_TKtTabStyle;
extern const classlib::TTypeInfo TypeInfo_TKtTabOrientation;
extern const classlib::TTypeInfo TypeInfo_TKtTabSequence;
extern const classlib::TTypeInfo TypeInfo_TKtImagePosition;
extern const classlib::TTypeInfo TypeInfo_TKtHorizontalAlignment;
extern const classlib::TTypeInfo TypeInfo_TKtVerticalAlignment;
extern const classlib::TTypeInfo TypeInfo_TKtTabHotTrackStyle;
extern const classlib::TTypeInfo TypeInfo_TKtTabHotTrackColorSource;
extern const classlib::TTypeInfo TypeInfo_TKtHotTrackColorType;
extern const classlib::TTypeInfo TypeInfo_TOrientation;

using TKtTabChangingEvent = classlib::TEvent<classlib::TObject*, int, bool&>;
using TKtTabOrderChangeEvent = classlib::TEvent<classlib::TObject*, int, int>;
using TKtTabCloseEvent = classlib::TEvent<classlib::TObject*, bool&>;
using TKtPaintBackgroundEvent2 =
    classlib::TEvent<classlib::TObject*, classlib::TCanvas*, classlib::TRect, bool&>;
using TKtPaintTabBackgroundEvent =
    classlib::TEvent<classlib::TObject*, classlib::TCanvas*, int, classlib::TRect, bool&>;
using TKtGetTextColorEvent =
    classlib::TEvent<classlib::TObject*, int, TKtTextStyle, classlib::TColor&, bool&>;
using TKtPaintCardBackgroundEvent =
    classlib::TEvent<classlib::TObject*, classlib::TCanvas*, int, classlib::TRect, bool&>;

class TKtCustomTabControl : public classlib::TCustomControl, public TKtTabControlModel {
  CL_DECLARE_CLASS(TKtCustomTabControl, TCustomControl)
 public:
  explicit TKtCustomTabControl(classlib::TComponent* AOwner);
  ~TKtCustomTabControl() override;

  classlib::TCustomImageList* Images() const { return images_; }
  void SetImages(classlib::TCustomImageList* v);
  bool Loading() const override;
  void Loaded() override;
  void Invalidate() override;
  void SetBounds(int left, int top, int width, int height) override;
  void WndProc(classlib::TMessage& m) override;

  classlib::TNotifyEvent OnChange;
  classlib::TNotifyEvent OnPageChange;
  classlib::TNotifyEvent OnTabClick;

  // The drop indicator at rect (control coordinates), combined by exclusive
  // or with what the parent shows, so that drawing it twice removes it.
  void DrawDropIndicator(const TKtRect& rect);
  TKtTabChangingEvent OnChanging;
  TKtTabOrderChangeEvent OnTabOrderChange;
  TKtTabCloseEvent OnClose;
  TKtPaintCardBackgroundEvent OnPaintCardBackground;
  TKtPaintBackgroundEvent2 OnPaintBackground;
  TKtPaintTabBackgroundEvent OnPaintTabBackground;
  TKtGetTextColorEvent OnGetTextColor;

  // Empty here; the page control sets every page's tab.
  virtual void HideAllTabs() {}
  virtual void ShowAllTabs() {}

  // ---- scrolling a single row that does not fit
  void ScrollTabs(bool forward);
  // Whether the scroller's up-right half scrolls forward (else back).
  bool ScrollsForward(bool upRight) const;
  // Whether there is more to scroll that way.
  bool CanScroll(bool forward) const;
  classlib::TNotifyEvent OnScrolledTabs;

  // ---- the strip's buttons, made when first needed (none before)
  TKtTabScroller* Scroller() const { return scroller_; }
  TKtTabControlCloseButton* CloseButton() const { return closeButton_; }
  TKtTabMenuButton* MenuButton() const { return menuButton_; }
  TKtActiveTabCloseButton* ActiveTabCloseButton() const { return activeClose_; }
  // Lays the tabs out when stale and places the buttons (the start of a
  // paint does the same).
  void PlaceButtons();

  // ---- hot tracking and hints
  int HotTab() const { return hotTab_; }
  classlib::TTimer* HotTrackTimer() const { return hotTimer_; }
  void HotTrackTick(classlib::TObject* sender);

  // ---- dragging a tab onto another
  void DragOver(classlib::TObject* source, int x, int y, classlib::TDragState state,
                bool& accept) override;
  void DragDrop(classlib::TObject* source, int x, int y) override;
  bool DropIndicatorShown() const { return indicatorShown_; }
  // Runs while a dragged tab is over no tab: first after 400 ms, then
  // every 300 ms, scrolling one tab towards the side the mouse is on.
  classlib::TTimer* DragScrollTimer() const { return dragScrollTimer_; }
  void DragScrollTick(classlib::TObject* sender);

 protected:
  void DefineProperties(classlib::TFiler& filer) override;
  void Notification(classlib::TComponent* component, classlib::TOperation operation) override;
  void CreateParams(classlib::TCreateParams& params) override;
  void AdjustClientRect(classlib::TRect& rect) override;
  void Paint() override;
  void CMFontChanged(classlib::TMessage& m) override;
  void MouseDown(classlib::TMouseButton button, classlib::TShiftState shift, int x, int y) override;
  void KeyDown(WORD& key, classlib::TShiftState shift) override;
  void MouseMove(classlib::TShiftState shift, int x, int y) override;
  void CMDialogKey(classlib::TMessage& m) override;
  void DoTabClick() override;
  void ButtonsChanged() override;
  void RepaintScroller() override;
  void StopHotTrackTimer() override;
  void InvalidateStrip() override;
  virtual void CMParentColorChanged(classlib::TMessage& m);

  bool Designing() const override { return IsDesigning(); }
  bool DoChanging(int newIndex) override;
  void DoChange() override;
  void DoPageChange() override;
  virtual void DoTabOrderChange(int oldIndex, int newIndex);
  // Raises OnClose with AllowClose False and answers it.
  virtual bool DoClose();
  // True when the owner painted the card of the row.
  virtual bool DoPaintCardBackground(classlib::TCanvas* canvas, int row,
                                     const classlib::TRect& rect);
  // Each true when the owner's handler did it.
  virtual bool DoPaintBackground(classlib::TCanvas* canvas, const classlib::TRect& rect);
  virtual bool DoPaintTabBackground(classlib::TCanvas* canvas, int tab,
                                    const classlib::TRect& rect);
  virtual bool DoGetTextColor(int tab, TKtTextStyle style, classlib::TColor& color);
  // After the close button was allowed, and after a tab was dropped on tab
  // i: the tab control keeps its tab list as its owner set it.
  virtual void CloseActiveTab() {}
  virtual void MoveActiveTab(int i) { (void)i; }
  void FontMayNeedTrueType() override;
  bool ImageSizeOf(int32_t imageIndex, TKtSize& size) override;
  // Whether the tab text's font is TrueType (vertical text needs one).
  virtual bool TabFontIsTrueType();

 private:
  void ImageListChange(classlib::TObject* sender);
  classlib::TColor FrameColor();
  void DrawTabsAndCards(HDC dc);
  void DrawTab(HDC dc, int i);
  void DrawCard(HDC dc, int row);
  void DrawTabContent(HDC dc, int i, const RECT& rect);
  // The band along the outer edge of the selected tab, or of the hot one.
  void DrawHighlightBar(HDC dc, int i, bool hot);
  // The focus rectangle around the selected tab's text area.
  void DrawFocusAround(HDC dc, const RECT& text);
  void DrawShadow(HDC dc, const TKtRect& card);

  void EndHotTracking();
  void CloseClicked(classlib::TObject* sender);
  void ScrollerUpRight(classlib::TObject* sender);
  void ScrollerDownLeft(classlib::TObject* sender);
  TKtRect IndicatorRect(int target);
  void ShowIndicator(int target);

  int pressedTab_ = -1;
  TKtTabScroller* scroller_ = nullptr;
  TKtTabControlCloseButton* closeButton_ = nullptr;
  TKtTabMenuButton* menuButton_ = nullptr;
  TKtActiveTabCloseButton* activeClose_ = nullptr;
  // The far end of the selected tab the close glyph takes (its length).
  TKtRect ActiveCloseRect() const;
  int hotTab_ = -1;
  classlib::TTimer* hotTimer_ = nullptr;
  std::u16string storedHint_;
  int dragTarget_ = -1;
  TKtRect indicator_{};
  bool indicatorShown_ = false;
  classlib::TTimer* dragScrollTimer_ = nullptr;
  TKtPoint lastDragPoint_{};
  // The paint under way serves a hot-tracking repaint of the strip alone.
  bool skipShadows_ = false;
  // The page area the children were last aligned to: the layout at paint
  // time may move it.
  TKtRect alignedTo_{};
  HBITMAP bitmap_ = nullptr;
  SIZE bitmapSize_{0, 0};

  TKtFontMeasurer measurer_;
  classlib::TChangeLink* imageLink_;
  classlib::TCustomImageList* images_ = nullptr;
};

// The published properties, for a descendant that publishes them (in the
// order of the page control).
template <class T>
void PublishTabControlProperties(classlib::ClassDef<T>& c) {
  using classlib::TypeInfo_TColor;
  using M = TKtTabControlModel;
  c.Bool("AlignTabs", &M::AlignTabs, &M::SetAlignTabs).Default(false);
  c.Bool("AllowTabDragging", &M::AllowTabDragging, &M::SetAllowTabDragging).Default(false);
  c.Int("BackgroundColor", &M::BackgroundColor, &M::SetBackgroundColor, &TypeInfo_TColor)
      .Default(clKtBtnFace);
  c.Bool("BoldCurrentTab", &M::BoldCurrentTab, &M::SetBoldCurrentTab).Default(false);
  c.Int("ButtonColor", &M::ButtonColor, &M::SetButtonColor, &TypeInfo_TColor).Default(clKtBtnFace);
  c.Bool("UseColoredTabs", &M::UseColoredTabs, &M::SetUseColoredTabs).Default(false);
  c.Int("CutCornerSize", &M::CutCornerSize, &M::SetCutCornerSize).Default(6);
  c.Int("DragIndicatorColor", &M::DragIndicatorColor, &M::SetDragIndicatorColor, &TypeInfo_TColor)
      .Default(0x505050);
  c.Int("FlatColor", &M::FlatColor, &M::SetFlatColor, &TypeInfo_TColor).Default(clKtBtnShadow);
  c.Int("FlatColorAdjustment", &M::FlatColorAdjustment, &M::SetFlatColorAdjustment).Default(0);
  c.Enum("ImageAlignment", &M::ImageAlignment, &M::SetImageAlignment,
         &TypeInfo_TKtHorizontalAlignment)
      .Default(TKtHorizontalAlignment::haCenter);
  c.Int("ImageMargin", &M::ImageMargin, &M::SetImageMargin).Default(2);
  c.Enum("ImagePosition", &M::ImagePosition, &M::SetImagePosition, &TypeInfo_TKtImagePosition)
      .Default(TKtImagePosition::ipLeft);
  c.Enum("ImageAlignmentVertical", &M::ImageAlignmentVertical, &M::SetImageAlignmentVertical,
         &TypeInfo_TKtVerticalAlignment)
      .Default(TKtVerticalAlignment::vaCenter);
  c.Bool("HotTrack", &M::HotTrack, &M::SetHotTrack).Default(true);
  c.Int("HotTrackColor", &M::HotTrackColor, &M::SetHotTrackColor, &TypeInfo_TColor)
      .Default(0x149BF0);
  c.Enum("HotTrackColorSource", &M::HotTrackColorSource, &M::SetHotTrackColorSource,
         &TypeInfo_TKtTabHotTrackColorSource)
      .Default(TKtTabHotTrackColorSource::htcsTabColor);
  c.Enum("HotTrackColorType", &M::HotTrackColorType, &M::SetHotTrackColorType,
         &TypeInfo_TKtHotTrackColorType)
      .Default(TKtHotTrackColorType::htctActual);
  c.Enum("HotTrackStyle", &M::HotTrackStyle, &M::SetHotTrackStyle, &TypeInfo_TKtTabHotTrackStyle)
      .Default(TKtTabHotTrackStyle::htsTab);
  c.Object("Images", &TKtCustomTabControl::Images, &TKtCustomTabControl::SetImages);
  c.Int("Margin", &M::Margin, &M::SetMargin).Default(0);
  c.Bool("MultiLine", &M::MultiLine, &M::SetMultiLine).Default(false);
  c.Bool("ParentBackgroundColor", &M::ParentBackgroundColor, &M::SetParentBackgroundColor)
      .Default(true);
  c.Int("RowIndent", &M::RowIndent, &M::SetRowIndent).Default(5);
  c.Int("RowOverlap", &M::RowOverlap, &M::SetRowOverlap).Default(5);
  c.Bool("ShowCardFrame", &M::ShowCardFrame, &M::SetShowCardFrame).Default(true);
  c.Bool("ShowCloseButton", &M::ShowCloseButton, &M::SetShowCloseButton).Default(false);
  c.Bool("ShowCloseButtonOnActiveTab", &M::ShowCloseButtonOnActiveTab,
         &M::SetShowCloseButtonOnActiveTab)
      .Default(false);
  c.Bool("ShowMenuButton", &M::ShowMenuButton, &M::SetShowMenuButton).Default(false);
  c.Bool("SortTabMenu", &M::SortTabMenu, &M::SetSortTabMenu).Default(true);
  c.Bool("ShowFocusRect", &M::ShowFocusRect, &M::SetShowFocusRect).Default(true);
  c.Bool("ShowFullFrame", &M::ShowFullFrame, &M::SetShowFullFrame).Default(true);
  c.Bool("ShowShadow", &M::ShowShadow, &M::SetShowShadow).Default(true);
  c.Bool("SoftCorners", &M::SoftCorners, &M::SetSoftCorners).Default(false);
  c.Int("TabOverlap", &M::TabOverlap, &M::SetTabOverlap).Default(-1);
  c.Enum("TextOrientation", &M::TextOrientation, &M::SetTextOrientation, &TypeInfo_TOrientation)
      .Default(TOrientation::orHorizontal);
  c.Int("TabHeight", &M::TabHeight, &M::SetTabHeight).Default(0);
  c.Bool("TabHints", &M::TabHints, &M::SetTabHints).Default(false);
  c.Int("TabIndex", &M::TabIndex, &M::SetTabIndex).Default(-1);
  c.Enum("TabOrientation", &M::TabOrientation, &M::SetTabOrientation, &TypeInfo_TKtTabOrientation)
      .Default(TKtTabOrientation::toTop);
  c.Enum("TabSequence", &M::TabSequence, &M::SetTabSequence, &TypeInfo_TKtTabSequence)
      .Default(TKtTabSequence::tsStandard);
  c.Enum("TabStyle", &M::TabStyle, &M::SetTabStyle, &TypeInfo_TKtTabStyle)
      .Default(TKtTabStyle::tsSingleSlant);
  c.Int("TabWidth", &M::TabWidth, &M::SetTabWidth).Default(0);
  c.Enum("TextAlignment", &M::TextAlignment, &M::SetTextAlignment, &TypeInfo_TKtHorizontalAlignment)
      .Default(TKtHorizontalAlignment::haCenter);
  c.Enum("TextAlignmentVertical", &M::TextAlignmentVertical, &M::SetTextAlignmentVertical,
         &TypeInfo_TKtVerticalAlignment)
      .Default(TKtVerticalAlignment::vaCenter);
  c.Bool("Transparent", &M::Transparent, &M::SetTransparent).Default(false);
  c.Bool("UseGradients", &M::UseGradients, &M::SetUseGradients).Default(true);
  c.Event("OnChange", &TKtCustomTabControl::OnChange, &TKtCustomTabControl::OnChange);
  c.Event("OnChanging", &TKtCustomTabControl::OnChanging, &TKtCustomTabControl::OnChanging);
  c.Event("OnPageChange", &TKtCustomTabControl::OnPageChange, &TKtCustomTabControl::OnPageChange);
  c.Event("OnTabOrderChange", &TKtCustomTabControl::OnTabOrderChange,
          &TKtCustomTabControl::OnTabOrderChange);
  c.Event("OnClose", &TKtCustomTabControl::OnClose, &TKtCustomTabControl::OnClose);
  c.Event("OnGetTextColor", &TKtCustomTabControl::OnGetTextColor,
          &TKtCustomTabControl::OnGetTextColor);
  c.Event("OnPaintBackground", &TKtCustomTabControl::OnPaintBackground,
          &TKtCustomTabControl::OnPaintBackground);
  c.Event("OnPaintTabBackground", &TKtCustomTabControl::OnPaintTabBackground,
          &TKtCustomTabControl::OnPaintTabBackground);
  c.Event("OnScrolledTabs", &TKtCustomTabControl::OnScrolledTabs,
          &TKtCustomTabControl::OnScrolledTabs);
  c.Event("OnPaintCardBackground", &TKtCustomTabControl::OnPaintCardBackground,
          &TKtCustomTabControl::OnPaintCardBackground);
}

}  // namespace kelm::kit
