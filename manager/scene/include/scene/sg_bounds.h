// Small streamable value objects published as sub-properties: four-edge
// margins (TsgBounds), points (TsgPosition) and the 2-D transform of
// radial gradients (TsgTransform). Each reports changes to its one owner
// through OnChange; bounds and positions stream as one compact text.
#pragma once

#include "classlib/component.h"
#include "classlib/filer.h"
#include "scene/sg_types.h"

namespace kelm::scene {

class TsgBounds : public classlib::TPersistent {
  CL_DECLARE_CLASS(TsgBounds, TPersistent)
 public:
  explicit TsgBounds(const TsgRect& defaultRect);

  float Left() const { return rect_.Left; }
  float Top() const { return rect_.Top; }
  float Right() const { return rect_.Right; }
  float Bottom() const { return rect_.Bottom; }
  void SetLeft(float v);
  void SetTop(float v);
  void SetRight(float v);
  void SetBottom(float v);
  // Stores all four and fires once, when any edge differs.
  void SetRect(const TsgRect& r);
  TsgRect GetRect() const { return rect_; }
  const TsgRect& DefaultRect() const { return default_; }
  TsgRect MarginRect(const TsgRect& r) const;
  bool IsEmpty() const;
  bool IsRectEmpty() const;

  void Assign(classlib::TPersistent* source) override;
  // "Rect": the text of sgRectToStr, when any edge differs from the default.
  void DefineProperties(classlib::TFiler& filer) override;

  classlib::TNotifyEvent OnChange;

 private:
  void SetEdge(float TsgRect::*edge, float v);
  void Changed();
  TsgRect rect_;
  TsgRect default_;
};

class TsgPosition : public classlib::TPersistent {
  CL_DECLARE_CLASS(TsgPosition, TPersistent)
 public:
  explicit TsgPosition(const TsgPoint& defaultPoint);

  float X() const { return point_.X; }
  float Y() const { return point_.Y; }
  void SetX(float v);
  void SetY(float v);
  // Stores both and always fires.
  void SetPoint(const TsgPoint& p);
  TsgPoint GetPoint() const { return point_; }
  const TsgPoint& DefaultPoint() const { return default_; }

  void Assign(classlib::TPersistent* source) override;
  // "Point": the text of sgPointToStr, when X or Y differs from the default.
  void DefineProperties(classlib::TFiler& filer) override;

  classlib::TNotifyEvent OnChange;

 private:
  void Changed();
  TsgPoint point_;
  TsgPoint default_;
};

class TsgTransform : public classlib::TPersistent {
  CL_DECLARE_CLASS(TsgTransform, TPersistent)
 public:
  TsgTransform();
  ~TsgTransform() override;

  const TsgMatrix& Matrix() const { return matrix_; }
  TsgPosition* Position() const { return position_; }
  TsgPosition* Scale() const { return scale_; }
  TsgPosition* Perspective() const { return perspective_; }
  TsgPosition* RotateCenter() const { return rotateCenter_; }
  float RotateAngle() const { return rotateAngle_; }
  void SetRotateAngle(float v);
  // Owned sub-objects: setters copy into them.
  void SetPosition(TsgPosition* v) { position_->Assign(v); }
  void SetScale(TsgPosition* v) { scale_->Assign(v); }
  void SetRotateCenter(TsgPosition* v) { rotateCenter_->Assign(v); }

  // Rotation about the origin first, then scale, then the move; the
  // rotation centre is the user's to apply.
  void UpdateMatrix();
  void Assign(classlib::TPersistent* source) override;

  classlib::TNotifyEvent OnChange;

 private:
  void PositionChanged(classlib::TObject* sender);
  TsgMatrix matrix_ = IdentityMatrix;
  TsgPosition* position_;
  TsgPosition* scale_;
  TsgPosition* perspective_;
  float rotateAngle_ = 0;
  TsgPosition* rotateCenter_;
};

}  // namespace kelm::scene
