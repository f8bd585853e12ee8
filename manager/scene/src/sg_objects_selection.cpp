// The selection rectangle with its corner grips, the grip point, and the
// design frame.
#include <algorithm>
#include <cmath>

#include "classlib/classdef.h"
#include "scene/sg_canvas.h"
#include "scene/sg_scene_intf.h"
#include "scene/sg_selection.h"

namespace kelm::scene {

using classlib::TComponent;

namespace {
constexpr TsgColor kSelectionStroke = 0xFF1072C5u;
constexpr TsgColor kGripHot = 0xFFFF0000u;
constexpr TsgColor kGripCold = 0xFFFFFFFFu;

// 1..20; what is not a number at all becomes 1.
float ClampGrip(float v) { return v >= 1 ? std::min(v, 20.f) : 1.f; }

// A grip: an ellipse of half-size g around centre, filled and outlined.
void PaintGrip(TsgCanvas* c, const TsgPoint& centre, float g, bool hot, float opacity) {
  c->Fill()->SetStyle(sgBrushSolid);
  c->Fill()->SetSolidColor(hot ? kGripHot : kGripCold);
  const TsgRect r{centre.X - g, centre.Y - g, centre.X + g, centre.Y + g};
  c->FillEllipse(r, opacity);
  c->DrawEllipse(r, opacity);
}

void SetSelectionStroke(TsgCanvas* c) {
  c->Stroke()->SetStyle(sgBrushSolid);
  c->Stroke()->SetSolidColor(kSelectionStroke);
  c->StrokeThickness = 1;
}

// A point of obj's local space in its parent's (the scene's without one).
TsgPoint ToParent(TsgVisualObject* obj, const TsgPoint& local) {
  const TsgPoint abs = obj->LocalToAbsolute(local);
  TsgVisualObject* parent = obj->VisualParent();
  return parent ? parent->AbsoluteToLocal(abs) : abs;
}

// A vector of obj's parent's space in obj's local one, and back.
TsgPoint ParentVectorToLocal(TsgVisualObject* obj, const TsgPoint& v) {
  TsgVisualObject* parent = obj->VisualParent();
  return obj->AbsoluteToLocalVector(parent ? parent->LocalToAbsoluteVector(v) : v);
}

TsgPoint LocalVectorToParent(TsgVisualObject* obj, const TsgPoint& v) {
  const TsgPoint abs = obj->LocalToAbsoluteVector(v);
  TsgVisualObject* parent = obj->VisualParent();
  return parent ? parent->AbsoluteToLocalVector(abs) : abs;
}

// Keeps p within the parent's rectangle when asked to and there is one.
TsgPoint ClampToParent(TsgVisualObject* obj, bool parentBounds, TsgPoint p) {
  TsgVisualObject* parent = obj->VisualParent();
  if (!parentBounds || !parent) return p;
  p.X = std::clamp(p.X, 0.f, std::max(parent->Width(), 0.f));
  p.Y = std::clamp(p.Y, 0.f, std::max(parent->Height(), 0.f));
  return p;
}

constexpr classlib::TShiftState kButtons{classlib::ssLeft, classlib::ssRight, classlib::ssMiddle};
}  // namespace

// ---- TsgSelection
CL_CLASS(TsgSelection) {
  c.Float("GripSize", &TsgSelection::GripSize, &TsgSelection::SetGripSize,
          &classlib::TypeInfo_Single)
      .Stored(&TsgSelection::GripSizeStored);
  c.Bool("ParentBounds", &TsgSelection::ParentBounds, &TsgSelection::ParentBounds).Default(true);
  c.Bool("HideSelection", &TsgSelection::HideSelection, &TsgSelection::SetHideSelection)
      .Default(false);
  c.Int("MinSize", &TsgSelection::MinSize, &TsgSelection::SetMinSize).Default(15);
  c.Bool("Proportional", &TsgSelection::Proportional, &TsgSelection::Proportional).Default(false);
  c.Event("OnChange", &TsgSelection::OnChange, &TsgSelection::OnChange);
  c.Event("OnTrack", &TsgSelection::OnTrack, &TsgSelection::OnTrack);
}

TsgSelection::TsgSelection(TComponent* AOwner) : TsgVisualObject(AOwner) { AutoCapture = true; }

void TsgSelection::SetGripSize(float v) {
  gripSize_ = ClampGrip(v);
  Repaint();
}

void TsgSelection::SetHideSelection(bool v) {
  if (v == hideSelection_) return;
  hideSelection_ = v;
  Repaint();
}

TsgPoint TsgSelection::CornerPoint(TCorner corner) const {
  switch (corner) {
    case cnTopRight:
      return {Width(), 0};
    case cnBottomRight:
      return {Width(), Height()};
    case cnBottomLeft:
      return {0, Height()};
    default:
      return {0, 0};
  }
}

TsgSelection::TCorner TsgSelection::GripAt(const TsgPoint& local) const {
  for (TCorner corner : {cnTopLeft, cnTopRight, cnBottomRight, cnBottomLeft}) {
    const TsgPoint c = CornerPoint(corner);
    if (std::fabs(local.X - c.X) <= gripSize_ && std::fabs(local.Y - c.Y) <= gripSize_)
      return corner;
  }
  return cnNone;
}

TsgRect TsgSelection::GetAbsoluteRect() {
  TsgRect r = inherited::GetAbsoluteRect();
  sgInflateRect(r, gripSize_ + 4, gripSize_ + 4);
  return r;
}

bool TsgSelection::PointInObject(const TsgPoint& p) {
  return inherited::PointInObject(p) || GripAt(AbsoluteToLocal(p)) != cnNone;
}

void TsgSelection::MouseDown(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseDown(button, shift, x, y);
  down_ = {x, y};
  if (button != TMouseButton::mbLeft) return;
  // A flat or empty selection keeps proportions square rather than
  // dividing by nothing.
  ratio_ = Width() > 0 && Height() > 0 ? Width() / Height() : 1;
  if (!std::isfinite(ratio_)) ratio_ = 1;
  resizing_ = GripAt(down_);
  moving_ = resizing_ == cnNone;
}

void TsgSelection::MouseMove(TShiftState shift, float x, float y, float dx, float dy) {
  inherited::MouseMove(shift, x, y, dx, dy);
  if ((shift * kButtons).Empty()) {
    for (TCorner corner : {cnTopLeft, cnTopRight, cnBottomRight, cnBottomLeft}) {
      const TsgPoint c = CornerPoint(corner);
      const bool hot = std::fabs(x - c.X) <= gripSize_ && std::fabs(y - c.Y) <= gripSize_;
      if (hot == hot_[corner]) continue;
      hot_[corner] = hot;
      Repaint();
    }
    return;
  }
  if (!shift.Contains(classlib::ssLeft)) return;
  if (moving_) {
    TsgPoint pos = Position()->GetPoint();
    pos.X += x - down_.X;
    pos.Y += y - down_.Y;
    if (TsgVisualObject* parent = VisualParent(); parent && ParentBounds) {
      pos.X = std::max(std::min(pos.X, parent->Width() - Width()), 0.f);
      pos.Y = std::max(std::min(pos.Y, parent->Height() - Height()), 0.f);
    }
    Position()->SetPoint(pos);
    if (OnTrack) OnTrack(this);
  } else if (resizing_ != cnNone) {
    Resize({x, y});
    if (OnTrack) OnTrack(this);
  }
}

void TsgSelection::Resize(const TsgPoint& local) {
  // The dragged corner goes where the mouse is in the parent (inside it
  // with ParentBounds); the step comes back in local units.
  const TsgPoint target = ClampToParent(this, ParentBounds, ToParent(this, local));
  const TsgPoint corner = ToParent(this, CornerPoint(resizing_));
  const TsgPoint step = ParentVectorToLocal(this, {target.X - corner.X, target.Y - corner.Y});
  const bool left = resizing_ == cnTopLeft || resizing_ == cnBottomLeft;
  const bool top = resizing_ == cnTopLeft || resizing_ == cnTopRight;
  // The new rectangle in the current local space.
  float l = 0, t = 0, r = Width(), b = Height();
  (left ? l : r) += step.X;
  (top ? t : b) += step.Y;
  const float least = float(minSize_);
  if (!Proportional) {
    // Raised to the least size from the dragged corner's new place: the
    // opposite corner gives way.
    if (r - l < least) {
      if (left)
        r = l + least;
      else
        l = r - least;
    }
    if (b - t < least) {
      if (top)
        b = t + least;
      else
        t = b - least;
    }
  } else {
    float w = std::max(r - l, least);
    if (w / ratio_ < least) w = std::nearbyint(least * ratio_);
    const float h = std::nearbyint(w / ratio_);
    // The opposite corner keeps its place.
    if (left)
      l = r - w;
    else
      r = l + w;
    if (top)
      t = b - h;
    else
      b = t + h;
  }
  const TsgPoint shift = LocalVectorToParent(this, {l, t});
  const TsgPoint pos = Position()->GetPoint();
  SetBounds(pos.X + shift.X, pos.Y + shift.Y, r - l, b - t);
}

void TsgSelection::MouseUp(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseUp(button, shift, x, y);
  const bool dragged = moving_ || resizing_ != cnNone;
  // Cleared first: the handler may free this object.
  moving_ = false;
  resizing_ = cnNone;
  if (dragged && OnChange) OnChange(this);
}

void TsgSelection::MouseLeave() {
  inherited::MouseLeave();
  std::fill(std::begin(hot_), std::end(hot_), false);
  Repaint();
}

void TsgSelection::Paint() {
  if (hideSelection_) return;
  TsgCanvas* c = Canvas();
  if (!c) return;
  const float opacity = GetAbsoluteOpacity();
  TsgRect frame = GetLocalRect();
  sgInflateRect(frame, -0.5f, -0.5f);
  SetSelectionStroke(c);
  c->SetStrokeDash(sgDashDash);
  c->DrawRect(frame, 0, 0, sgAllCorners, opacity, sgCornerRound);
  c->SetStrokeDash(sgDashSolid);
  for (TCorner corner : {cnTopLeft, cnTopRight, cnBottomLeft, cnBottomRight})
    PaintGrip(c, CornerPoint(corner), gripSize_, hot_[corner], opacity);
}

// ---- TsgSelectionPoint
CL_CLASS(TsgSelectionPoint) {
  c.Float("GripSize", &TsgSelectionPoint::GripSize, &TsgSelectionPoint::SetGripSize,
          &classlib::TypeInfo_Single)
      .Stored(&TsgSelectionPoint::GripSizeStored);
  c.Bool("ParentBounds", &TsgSelectionPoint::ParentBounds, &TsgSelectionPoint::ParentBounds)
      .Default(true);
  c.Event("OnChange", &TsgSelectionPoint::OnChange, &TsgSelectionPoint::OnChange);
  c.Event("OnTrack", &TsgSelectionPoint::OnTrack, &TsgSelectionPoint::OnTrack);
}

TsgSelectionPoint::TsgSelectionPoint(TComponent* AOwner) : TsgVisualObject(AOwner) {
  AutoCapture = true;
  NoDesignGrips = true;
  gripSize_ = 3;
  SetWidth(6);
  SetHeight(6);
}

void TsgSelectionPoint::SetGripSize(float v) {
  gripSize_ = ClampGrip(v);
  Repaint();
}

void TsgSelectionPoint::SetWidth(float v) {
  (void)v;
  inherited::SetWidth(2 * gripSize_);
}

void TsgSelectionPoint::SetHeight(float v) {
  (void)v;
  inherited::SetHeight(2 * gripSize_);
}

TsgRect TsgSelectionPoint::GetUpdateRect() {
  TsgRect r = inherited::GetUpdateRect();
  sgInflateRect(r, gripSize_ + 1, gripSize_ + 1);
  return r;
}

bool TsgSelectionPoint::PointInObject(const TsgPoint& p) {
  const TsgPoint l = AbsoluteToLocal(p);
  return std::fabs(l.X) < gripSize_ && std::fabs(l.Y) < gripSize_;
}

void TsgSelectionPoint::MouseDown(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseDown(button, shift, x, y);
  if (button == TMouseButton::mbLeft) dragging_ = true;
}

void TsgSelectionPoint::MouseMove(TShiftState shift, float x, float y, float dx, float dy) {
  inherited::MouseMove(shift, x, y, dx, dy);
  if (!dragging_ || !VisualParent()) return;
  Position()->SetPoint(ClampToParent(this, ParentBounds, ToParent(this, {x, y})));
  if (OnTrack) OnTrack(this);
}

void TsgSelectionPoint::MouseUp(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseUp(button, shift, x, y);
  const bool dragged = dragging_;
  dragging_ = false;
  if (dragged && OnChange) OnChange(this);
}

void TsgSelectionPoint::MouseEnter() {
  inherited::MouseEnter();
  Repaint();
}

void TsgSelectionPoint::MouseLeave() {
  inherited::MouseLeave();
  Repaint();
}

void TsgSelectionPoint::Paint() {
  inherited::Paint();
  TsgCanvas* c = Canvas();
  if (!c) return;
  const bool selected = Scene() && Scene()->GetSelected() == this;
  SetSelectionStroke(c);
  PaintGrip(c, {0, 0}, gripSize_, IsMouseOver() || selected, GetAbsoluteOpacity());
}

// ---- TsgDesignFrame
CL_CLASS(TsgDesignFrame) {
  c.Event("OnChange", &TsgDesignFrame::OnChange, &TsgDesignFrame::OnChange);
  c.Event("OnTrack", &TsgDesignFrame::OnTrack, &TsgDesignFrame::OnTrack);
}

}  // namespace kelm::scene
