// Containers: invisible layouts that only arrange or transform their
// children (plain, grid, scaled, split), and the scroll box, a styled
// control whose children live in a clipped, movable content object moved
// by the two scroll bars of its style, the wheel and, optionally, a drag
// with inertia. The list box, the memo and the tree view build on the
// scroll box through its own virtual operations.
#pragma once

#include "scene/sg_animations.h"
#include "scene/sg_control.h"
#include "scenectrls/sg_tracks.h"

namespace kelm::scenectrls {

// Draws a dashed frame in the designer, nothing at run time.
class TsgLayout : public scene::TsgVisualObject {
  CL_DECLARE_CLASS(TsgLayout, TsgVisualObject)
 public:
  explicit TsgLayout(classlib::TComponent* AOwner);
  void Paint() override;
};

// Lays its children out in OriginalWidth x OriginalHeight and draws them
// scaled to its current size; in the designer it resizes instead.
class TsgScaledLayout : public scene::TsgVisualObject {
  CL_DECLARE_CLASS(TsgScaledLayout, TsgVisualObject)
 public:
  explicit TsgScaledLayout(classlib::TComponent* AOwner);
  float OriginalWidth() const { return originalWidth_; }
  // Below 1 stores 1.
  void SetOriginalWidth(float v);
  float OriginalHeight() const { return originalHeight_; }
  void SetOriginalHeight(float v);

  scene::TsgMatrix GetChildrenMatrix() override;
  void SetWidth(float v) override;
  void SetHeight(float v) override;
  void Realign() override;
  void Paint() override;

 private:
  float originalWidth_, originalHeight_;
};

// Places every visual child in cells of ItemWidth x ItemHeight, in rows
// (horizontal) or columns (vertical) that wrap at the margins.
class TsgGridLayout : public scene::TsgVisualObject {
  CL_DECLARE_CLASS(TsgGridLayout, TsgVisualObject)
 public:
  explicit TsgGridLayout(classlib::TComponent* AOwner);
  float ItemWidth() const { return itemWidth_; }
  void SetItemWidth(float v);
  float ItemHeight() const { return itemHeight_; }
  void SetItemHeight(float v);
  TsgOrientation Orientation() const { return orientation_; }
  void SetOrientation(TsgOrientation v);
  void Realign() override;

 private:
  float itemWidth_ = 64, itemHeight_ = 64;
  TsgOrientation orientation_ = sgHorizontal;
  bool gridRealigning_ = false;
};

class TsgSplitLayout : public scene::TsgVisualObject {
  CL_DECLARE_CLASS(TsgSplitLayout, TsgVisualObject)
 public:
  explicit TsgSplitLayout(classlib::TComponent* AOwner);
};

class TsgScrollBox;

// The scroll box's content host: clipped to the viewport, its update
// rectangle bounded by it, hit only inside it; it tells the box of every
// child added or removed.
class TsgScrollContent : public scene::TsgContent {
  CL_DECLARE_CLASS(TsgScrollContent, TsgContent)
 public:
  explicit TsgScrollContent(classlib::TComponent* AOwner);
  void AddObject(scene::TsgObject* child) override;
  void RemoveObject(scene::TsgObject* child) override;
  // The visible part of the content in its own coordinates.
  scene::TsgRect GetClipRect() override;
  scene::TsgRect GetUpdateRect() override;
  scene::TsgVisualObject* ObjectAtPoint(const scene::TsgPoint& p) override;
  void Paint() override;
  // A child's size change realigns the box around.
  bool IsScrollContent() const override { return true; }

 private:
  // The box when the parent is one, else none.
  TsgScrollBox* Box() const;
  scene::TsgRect viewportUpdate_{};
};

class TsgScrollBox : public scene::TsgControl {
  CL_DECLARE_CLASS(TsgScrollBox, TsgControl)
 public:
  explicit TsgScrollBox(classlib::TComponent* AOwner);
  ~TsgScrollBox() override;
  void Notification(classlib::TComponent* component, classlib::TOperation operation) override;

  // ---- published plain fields
  bool AutoHide = true;
  bool Animated = true;
  bool DisableMouseWheel = false;
  bool MouseTracking = false;
  bool ShowScrollBars() const { return showScrollBars_; }
  void SetShowScrollBars(bool v);
  bool ShowSizeGrip() const { return showSizeGrip_; }
  void SetShowSizeGrip(bool v);
  bool UseSmallScrollBars() const { return useSmallScrollBars_; }
  void SetUseSmallScrollBars(bool v);

  // ---- state, read by the classes built on the box and by tests
  bool Tracking() const { return tracking_; }
  TsgScrollContent* Content() const { return content_; }
  scene::TsgVisualObject* ContentLayout() const { return contentLayout_; }
  TsgScrollBar* HScrollBar() const { return hScrollBar_; }
  TsgScrollBar* VScrollBar() const { return vScrollBar_; }
  scene::TsgFloatAnimation* HScrollAnimation() const { return hScrollAnimation_; }
  scene::TsgFloatAnimation* VScrollAnimation() const { return vScrollAnimation_; }
  float HScrollOffset() const { return hScrollOffset_; }
  float VScrollOffset() const { return vScrollOffset_; }

  // ---- overrides, in slot order
  void AddObject(scene::TsgObject* child) override;
  void MouseDown(scene::TMouseButton button, scene::TShiftState shift, float x, float y) override;
  void MouseMove(scene::TShiftState shift, float x, float y, float dx, float dy) override;
  void MouseUp(scene::TMouseButton button, scene::TShiftState shift, float x, float y) override;
  void MouseWheel(scene::TShiftState shift, int delta, bool& handled) override;
  void Realign() override;
  void ApplyStyle() override;
  void FreeStyle() override;

  // ---- virtual operations added, in slot order: the hooks of the list
  // box, the memo and the tree view
  // After a child was added to the content.
  virtual void ContentAddObject(scene::TsgObject* child) { (void)child; }
  // Before a child is removed from the content.
  virtual void ContentBeforeRemoveObject(scene::TsgObject* child) { (void)child; }
  // After a child was removed from the content.
  virtual void ContentRemoveObject(scene::TsgObject* child) { (void)child; }
  virtual void HScrollChange(classlib::TObject* sender);
  virtual void VScrollChange(classlib::TObject* sender);
  // The rectangle the content must cover, in the content's coordinates.
  virtual void GetContentBounds(scene::TsgRect& r);
  // While the content paints, its clip set.
  virtual void PaintContent(scene::TsgCanvas* canvas, const scene::TsgRect& r) {
    (void)canvas, (void)r;
  }
  virtual void RealignContent(const scene::TsgRect& r);

  // ---- further operations
  // The viewport in the box's coordinates; the box's own rectangle
  // without a viewport.
  void ContentRect(scene::TsgRect& r);
  float VScrollBarValue();
  float HScrollBarValue();
  float ViewportHeight();
  float ViewportWidth();
  void CenterContent();

 private:
  void HScrollChangeEvent(classlib::TObject* sender) { HScrollChange(sender); }
  void VScrollChangeEvent(classlib::TObject* sender) { VScrollChange(sender); }
  // Takes the two parts as the bars when both are scroll bars; hides the
  // other pair. False when either part is missing or of the wrong class.
  void TakeBars(const char* vertical, const char* horizontal);
  void HideBar(const char* name);
  void UpdateScrollBars();
  // Places a bar as ShowScrollBars wants it; moved out of the box when
  // hidden. Answers whether it is shown.
  void ShowBar(TsgScrollBar* bar, bool vertical);
  scene::TsgFloatAnimation* ScrollAnimation(TsgScrollBar* bar, scene::TsgFloatAnimation*& anim);
  void ScrollTo(TsgScrollBar* bar, scene::TsgFloatAnimation*& anim, float target);
  void StopScrollAnimations();

  bool tracking_ = false;
  scene::TsgFloatAnimation* hScrollAnimation_ = nullptr;
  scene::TsgFloatAnimation* vScrollAnimation_ = nullptr;
  float hScrollOffset_ = 0, vScrollOffset_ = 0;
  TsgScrollContent* content_ = nullptr;
  TsgScrollBar* hScrollBar_ = nullptr;
  TsgScrollBar* vScrollBar_ = nullptr;
  scene::TsgVisualObject* contentLayout_ = nullptr;
  scene::TsgPoint lastMousePos_{};
  scene::TsgPoint mouseVelocity_{};
  bool showScrollBars_ = true, showSizeGrip_ = false, useSmallScrollBars_ = false;
  bool boxRealigning_ = false;
};

// Scrolls up and down only: the content is as wide as the viewport.
class TsgVertScrollBox : public TsgScrollBox {
  CL_DECLARE_CLASS(TsgVertScrollBox, TsgScrollBox)
 public:
  explicit TsgVertScrollBox(classlib::TComponent* AOwner);
  void GetContentBounds(scene::TsgRect& r) override;
};

// Found by its class name: "framedscrollboxstyle".
class TsgFramedScrollBox : public TsgScrollBox {
  CL_DECLARE_CLASS(TsgFramedScrollBox, TsgScrollBox)
 public:
  using TsgScrollBox::TsgScrollBox;
};

class TsgFramedVertScrollBox : public TsgVertScrollBox {
  CL_DECLARE_CLASS(TsgFramedVertScrollBox, TsgVertScrollBox)
 public:
  explicit TsgFramedVertScrollBox(classlib::TComponent* AOwner);
};

}  // namespace kelm::scenectrls
