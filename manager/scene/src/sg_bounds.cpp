// Bounds, positions and transforms.
#include "scene/sg_bounds.h"

#include "classlib/classdef.h"

namespace kelm::scene {

using classlib::TFiler;
using classlib::TPersistent;
using classlib::TReader;
using classlib::TWriter;

namespace {
bool SameRect(const TsgRect& a, const TsgRect& b) {
  return a.Left == b.Left && a.Top == b.Top && a.Right == b.Right && a.Bottom == b.Bottom;
}
}  // namespace

// ---- TsgBounds
CL_CLASS(TsgBounds) {
  c.Float("Left", &TsgBounds::Left, &TsgBounds::SetLeft, &classlib::TypeInfo_Single).Stored(false);
  c.Float("Top", &TsgBounds::Top, &TsgBounds::SetTop, &classlib::TypeInfo_Single).Stored(false);
  c.Float("Right", &TsgBounds::Right, &TsgBounds::SetRight, &classlib::TypeInfo_Single)
      .Stored(false);
  c.Float("Bottom", &TsgBounds::Bottom, &TsgBounds::SetBottom, &classlib::TypeInfo_Single)
      .Stored(false);
}

TsgBounds::TsgBounds(const TsgRect& defaultRect) : rect_(defaultRect), default_(defaultRect) {}

void TsgBounds::Changed() {
  if (OnChange) OnChange(this);
}

void TsgBounds::SetEdge(float TsgRect::*edge, float v) {
  if (rect_.*edge == v) return;
  rect_.*edge = v;
  Changed();
}

void TsgBounds::SetLeft(float v) { SetEdge(&TsgRect::Left, v); }
void TsgBounds::SetTop(float v) { SetEdge(&TsgRect::Top, v); }
void TsgBounds::SetRight(float v) { SetEdge(&TsgRect::Right, v); }
void TsgBounds::SetBottom(float v) { SetEdge(&TsgRect::Bottom, v); }

void TsgBounds::SetRect(const TsgRect& r) {
  if (SameRect(r, rect_)) return;
  rect_ = r;
  Changed();
}

TsgRect TsgBounds::MarginRect(const TsgRect& r) const {
  return {r.Left + rect_.Left, r.Top + rect_.Top, r.Right - rect_.Right, r.Bottom - rect_.Bottom};
}

bool TsgBounds::IsEmpty() const {
  return rect_.Left == 0 && rect_.Top == 0 && rect_.Right == 0 && rect_.Bottom == 0;
}

bool TsgBounds::IsRectEmpty() const { return sgIsRectEmpty(rect_); }

void TsgBounds::Assign(TPersistent* source) {
  if (auto* b = dynamic_cast<TsgBounds*>(source)) {
    SetRect(b->GetRect());
    return;
  }
  inherited::Assign(source);
}

void TsgBounds::DefineProperties(TFiler& filer) {
  inherited::DefineProperties(filer);
  filer.DefineProperty(
      "Rect", [this](TReader& r) { SetRect(sgStrToRect(r.ReadString())); },
      [this](TWriter& w) { w.WriteString(sgRectToStr(rect_)); }, !SameRect(rect_, default_));
}

// ---- TsgPosition
CL_CLASS(TsgPosition) {
  c.Float("X", &TsgPosition::X, &TsgPosition::SetX, &classlib::TypeInfo_Single).Stored(false);
  c.Float("Y", &TsgPosition::Y, &TsgPosition::SetY, &classlib::TypeInfo_Single).Stored(false);
}

TsgPosition::TsgPosition(const TsgPoint& defaultPoint)
    : point_(defaultPoint), default_(defaultPoint) {}

void TsgPosition::Changed() {
  if (OnChange) OnChange(this);
}

void TsgPosition::SetX(float v) {
  if (point_.X == v) return;
  point_.X = v;
  Changed();
}

void TsgPosition::SetY(float v) {
  if (point_.Y == v) return;
  point_.Y = v;
  Changed();
}

void TsgPosition::SetPoint(const TsgPoint& p) {
  point_ = p;
  Changed();
}

void TsgPosition::Assign(TPersistent* source) {
  if (auto* p = dynamic_cast<TsgPosition*>(source)) {
    SetPoint(p->GetPoint());
    return;
  }
  inherited::Assign(source);
}

void TsgPosition::DefineProperties(TFiler& filer) {
  inherited::DefineProperties(filer);
  bool differs = point_.X != default_.X || point_.Y != default_.Y;
  filer.DefineProperty(
      "Point", [this](TReader& r) { SetPoint(sgStrToPoint(r.ReadString())); },
      [this](TWriter& w) { w.WriteString(sgPointToStr(point_)); }, differs);
}

// ---- TsgTransform
CL_CLASS(TsgTransform) {
  c.Object("Position", &TsgTransform::Position, &TsgTransform::SetPosition);
  c.Object("Scale", &TsgTransform::Scale, &TsgTransform::SetScale);
  c.Float("RotateAngle", &TsgTransform::RotateAngle, &TsgTransform::SetRotateAngle,
          &classlib::TypeInfo_Single);
  c.Object("RotateCenter", &TsgTransform::RotateCenter, &TsgTransform::SetRotateCenter);
}

TsgTransform::TsgTransform()
    : position_(classlib::New<TsgPosition>(TsgPoint{0, 0})),
      scale_(classlib::New<TsgPosition>(TsgPoint{1, 1})),
      perspective_(classlib::New<TsgPosition>(TsgPoint{0, 0})),
      rotateCenter_(classlib::New<TsgPosition>(TsgPoint{0.5f, 0.5f})) {
  auto changed = classlib::EventOf<&TsgTransform::PositionChanged>(this);
  position_->OnChange = changed;
  scale_->OnChange = changed;
  perspective_->OnChange = changed;
  rotateCenter_->OnChange = changed;
}

TsgTransform::~TsgTransform() {
  classlib::Free(position_);
  classlib::Free(scale_);
  classlib::Free(perspective_);
  classlib::Free(rotateCenter_);
}

void TsgTransform::PositionChanged(classlib::TObject* sender) {
  (void)sender;
  UpdateMatrix();
}

void TsgTransform::SetRotateAngle(float v) {
  if (rotateAngle_ == v) return;
  rotateAngle_ = v;
  UpdateMatrix();
}

void TsgTransform::UpdateMatrix() {
  matrix_ = IdentityMatrix;
  matrix_.m11 = scale_->X();
  matrix_.m22 = scale_->Y();
  matrix_.m13 = perspective_->X();
  matrix_.m23 = perspective_->Y();
  matrix_.m31 = position_->X();
  matrix_.m32 = position_->Y();
  if (rotateAngle_ != 0)
    matrix_ = sgMatrixMultiply(sgCreateRotationMatrix(sgDegToRad(rotateAngle_)), matrix_);
  if (OnChange) OnChange(this);
}

void TsgTransform::Assign(TPersistent* source) {
  auto* t = dynamic_cast<TsgTransform*>(source);
  if (!t) {
    inherited::Assign(source);
    return;
  }
  // Copied field by field so the matrix is rebuilt once, at the end.
  auto copy = [](TsgPosition* to, const TsgPosition* from) {
    classlib::TNotifyEvent saved = to->OnChange;
    to->OnChange = nullptr;
    to->SetPoint(from->GetPoint());
    to->OnChange = saved;
  };
  copy(position_, t->position_);
  copy(scale_, t->scale_);
  copy(perspective_, t->perspective_);
  copy(rotateCenter_, t->rotateCenter_);
  UpdateMatrix();
}

}  // namespace kelm::scene
