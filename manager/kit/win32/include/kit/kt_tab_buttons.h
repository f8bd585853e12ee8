// The small controls of the tab strip: the two-arrow scroller with its
// auto-repeat, the close button and the menu button that lists the tabs.
// Each is a child of its tab control, made the first time it is needed.
#pragma once

#include <windows.h>

#include "classlib/controls.h"
#include "classlib/menus.h"
#include "classlib/timers.h"
#include "kit/kt_tabs.h"

namespace kelm::kit {

class TKtCustomTabControl;

// A button face: framed in frameColor lightened by 30, filled (or with a
// gradient) from the button colour, darker while pressed, lighter while hot.
void PaintTabButtonFace(classlib::TCanvas* canvas, const classlib::TRect& rect,
                        classlib::TColor frameColor, classlib::TColor buttonColor, bool gradients,
                        bool enabled, bool pressed, bool hot);

class TKtTabScroller : public classlib::TCustomControl {
  CL_DECLARE_CLASS(TKtTabScroller, TCustomControl)
 public:
  enum THalf { shNone, shDownLeft, shUpRight };
  // The repeat's first delay and its period, in milliseconds.
  static constexpr unsigned kFirstDelay = 400;
  static constexpr unsigned kRepeat = 100;

  TKtTabScroller(classlib::TComponent* AOwner, TKtCustomTabControl* tabs);
  classlib::TColor FrameColor() const { return frameColor_; }
  virtual void SetFrameColor(classlib::TColor v);
  TOrientation Orientation() const { return orientation_; }
  virtual void SetOrientation(TOrientation v);
  // The half at a client point.
  THalf HalfAt(int x, int y) const;
  THalf Pressed() const { return pressed_; }
  // The auto-repeat timer (tests drive its ticks).
  classlib::TTimer* RepeatTimer() const { return timer_; }
  void RepeatTick(classlib::TObject* sender);

  classlib::TNotifyEvent OnUpRightClick;
  classlib::TNotifyEvent OnDownLeftClick;

 protected:
  void Paint() override;
  void MouseDown(classlib::TMouseButton button, classlib::TShiftState shift, int x, int y) override;
  void MouseMove(classlib::TShiftState shift, int x, int y) override;
  void MouseUp(classlib::TMouseButton button, classlib::TShiftState shift, int x, int y) override;
  void WMEraseBkgnd(classlib::TMessage& m) override;
  void WndProc(classlib::TMessage& m) override;

 private:
  void ClickHalf(THalf half);
  classlib::TRect HalfRect(THalf half) const;

  TKtCustomTabControl* tabs_;
  classlib::TTimer* timer_;
  classlib::TColor frameColor_ = classlib::clBtnShadow;
  TOrientation orientation_ = TOrientation::orHorizontal;
  THalf pressed_ = shNone;
  bool pressedInside_ = false;
  THalf hot_ = shNone;
};

// A push button of the strip: the close button and the menu button.
class TKtTabStripButton : public classlib::TCustomControl {
  CL_DECLARE_CLASS(TKtTabStripButton, TCustomControl)
 public:
  TKtTabStripButton(classlib::TComponent* AOwner, TKtCustomTabControl* tabs);
  classlib::TColor FrameColor() const { return frameColor_; }
  void SetFrameColor(classlib::TColor v);
  bool Hot() const { return hot_; }
  bool Down() const { return pressed_; }

 protected:
  void Paint() override;
  virtual void PaintGlyph(const classlib::TRect& rect) = 0;
  void MouseDown(classlib::TMouseButton button, classlib::TShiftState shift, int x, int y) override;
  void MouseUp(classlib::TMouseButton button, classlib::TShiftState shift, int x, int y) override;
  void WMEraseBkgnd(classlib::TMessage& m) override;
  void WndProc(classlib::TMessage& m) override;

  TKtCustomTabControl* tabs_;

 private:
  classlib::TColor frameColor_ = classlib::clBtnShadow;
  bool pressed_ = false;
  bool hot_ = false;
};

class TKtTabControlCloseButton : public TKtTabStripButton {
  CL_DECLARE_CLASS(TKtTabControlCloseButton, TKtTabStripButton)
 public:
  TKtTabControlCloseButton(classlib::TComponent* AOwner, TKtCustomTabControl* tabs)
      : TKtTabStripButton(AOwner, tabs) {}
  classlib::TNotifyEvent OnClose;
  void Click() override;

 protected:
  void PaintGlyph(const classlib::TRect& rect) override;
};

class TKtTabMenuButton : public TKtTabStripButton {
  CL_DECLARE_CLASS(TKtTabMenuButton, TKtTabStripButton)
 public:
  TKtTabMenuButton(classlib::TComponent* AOwner, TKtCustomTabControl* tabs);
  classlib::TNotifyEvent OnDisplayMenu;
  // One item per visible tab (sorted by caption with SortTabMenu), the
  // selected one checked; choosing an item selects its tab.
  void BuildMenu();
  classlib::TPopupMenu* Menu() const { return menu_; }
  // Where the menu pops up (screen) and whether its right edge is there.
  classlib::TPoint PopupPoint(bool& rightAligned);
  void Click() override;

 protected:
  void PaintGlyph(const classlib::TRect& rect) override;

 private:
  void ItemClick(classlib::TObject* sender);
  classlib::TPopupMenu* menu_;
};

// The close glyph on the selected tab: a graphic control with a face only
// while the mouse is over it; only the left button presses it.
class TKtActiveTabCloseButton : public classlib::TGraphicControl {
  CL_DECLARE_CLASS(TKtActiveTabCloseButton, TGraphicControl)
 public:
  TKtActiveTabCloseButton(classlib::TComponent* AOwner, TKtCustomTabControl* tabs);
  classlib::TColor FrameColor() const { return frameColor_; }
  void SetFrameColor(classlib::TColor v);
  bool Hot() const { return hot_; }
  classlib::TNotifyEvent OnClose;
  void Click() override;
  void WndProc(classlib::TMessage& m) override;

 protected:
  void Paint() override;
  void MouseDown(classlib::TMouseButton button, classlib::TShiftState shift, int x, int y) override;
  void MouseUp(classlib::TMouseButton button, classlib::TShiftState shift, int x, int y) override;

 private:
  TKtCustomTabControl* tabs_;
  classlib::TColor frameColor_ = classlib::clBtnShadow;
  bool pressed_ = false;
  bool hot_ = false;
};

}  // namespace kelm::kit
