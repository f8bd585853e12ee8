// The editing helpers under "Design": a selection rectangle the user moves
// and resizes by its corner grips, a grip point the user drags, and an
// inert design frame. Each reports every step of a drag through OnTrack
// and its end through OnChange.
#pragma once

#include <cstdint>

#include "scene/sg_visual.h"

namespace kelm::scene {

class TsgSelection : public TsgVisualObject {
  CL_DECLARE_CLASS(TsgSelection, TsgVisualObject)
 public:
  enum TCorner { cnTopLeft, cnTopRight, cnBottomRight, cnBottomLeft, cnNone };

  explicit TsgSelection(classlib::TComponent* AOwner);

  float GripSize() const { return gripSize_; }
  // Kept within 1..20.
  void SetGripSize(float v);
  bool ParentBounds = true;
  bool HideSelection() const { return hideSelection_; }
  void SetHideSelection(bool v);
  int32_t MinSize() const { return minSize_; }
  // Any value below 1 stores 1.
  void SetMinSize(int32_t v) { minSize_ = v > 0 ? v : 1; }
  bool Proportional = false;
  classlib::TNotifyEvent OnChange, OnTrack;

  bool Hot(TCorner corner) const { return hot_[corner]; }
  bool Moving() const { return moving_; }
  // The corner being dragged, cnNone when none.
  TCorner Resizing() const { return resizing_; }

  TsgRect GetAbsoluteRect() override;
  bool PointInObject(const TsgPoint& p) override;
  void MouseDown(TMouseButton button, TShiftState shift, float x, float y) override;
  void MouseMove(TShiftState shift, float x, float y, float dx, float dy) override;
  void MouseUp(TMouseButton button, TShiftState shift, float x, float y) override;
  void MouseLeave() override;
  void Paint() override;

  bool GripSizeStored() const { return gripSize_ != 3; }

 private:
  // The corner whose grip square (half-width GripSize, borders inside)
  // holds the local point; cnNone when none does.
  TCorner GripAt(const TsgPoint& local) const;
  TsgPoint CornerPoint(TCorner corner) const;
  void Resize(const TsgPoint& local);

  float gripSize_ = 3;
  bool hideSelection_ = false;
  int32_t minSize_ = 15;
  TsgPoint down_{};
  float ratio_ = 1;
  bool moving_ = false;
  TCorner resizing_ = cnNone;
  bool hot_[4] = {false, false, false, false};
};

// A grip drawn around its own origin; dragging it moves its Position.
// Width and height are always twice the grip size.
class TsgSelectionPoint : public TsgVisualObject {
  CL_DECLARE_CLASS(TsgSelectionPoint, TsgVisualObject)
 public:
  explicit TsgSelectionPoint(classlib::TComponent* AOwner);

  float GripSize() const { return gripSize_; }
  // Kept within 1..20.
  void SetGripSize(float v);
  bool ParentBounds = true;
  classlib::TNotifyEvent OnChange, OnTrack;
  bool Dragging() const { return dragging_; }

  void SetHeight(float v) override;
  void SetWidth(float v) override;
  TsgRect GetUpdateRect() override;
  bool PointInObject(const TsgPoint& p) override;
  void MouseDown(TMouseButton button, TShiftState shift, float x, float y) override;
  void MouseMove(TShiftState shift, float x, float y, float dx, float dy) override;
  void MouseUp(TMouseButton button, TShiftState shift, float x, float y) override;
  void MouseEnter() override;
  void MouseLeave() override;
  void Paint() override;

  bool GripSizeStored() const { return gripSize_ != 3; }

 private:
  float gripSize_ = 3;
  bool dragging_ = false;
};

// Marks a region for a designer; draws nothing and raises nothing itself.
class TsgDesignFrame : public TsgVisualObject {
  CL_DECLARE_CLASS(TsgDesignFrame, TsgVisualObject)
 public:
  explicit TsgDesignFrame(classlib::TComponent* AOwner) : TsgVisualObject(AOwner) {}
  classlib::TNotifyEvent OnChange, OnTrack;
  void Paint() override {}
};

}  // namespace kelm::scene
