// The shapes: stroke and fill state handed to the canvas around painting,
// the rectangles (sides, blur, callout outline), round rectangles and the
// ellipse family with their hit tests; and the caret every visual object
// may show, which is a rectangle.
#include "scene/sg_objects.h"

#include <algorithm>
#include <cmath>

#include "classlib/classdef.h"
#include "scene/sg_animations.h"
#include "scene/sg_classes.h"
#include "scene/sg_effects.h"
#include "scene/sg_selection.h"
#include "sg_shape_publish.h"

namespace kelm::scene {

using classlib::TComponent;
using classlib::TObject;

const classlib::TTypeInfo TypeInfo_TsgStrokeCap =
    classlib::EnumTypeInfo("TsgStrokeCap", {"sgCapFlat", "sgCapRound"});
const classlib::TTypeInfo TypeInfo_TsgStrokeJoin =
    classlib::EnumTypeInfo("TsgStrokeJoin", {"sgJoinMiter", "sgJoinRound", "sgJoinBevel"});
const classlib::TTypeInfo TypeInfo_TsgStrokeDash =
    classlib::EnumTypeInfo("TsgStrokeDash", {"sgDashSolid", "sgDashDash", "sgDashDot",
                                             "sgDashDashDot", "sgDashDashDotDot", "sgDashCustom"});
const classlib::TTypeInfo TypeInfo_TsgCorner = classlib::EnumTypeInfo(
    "TsgCorner",
    {"sgCornerTopLeft", "sgCornerTopRight", "sgCornerBottomLeft", "sgCornerBottomRight"});
const classlib::TTypeInfo TypeInfo_TsgCorners =
    classlib::SetTypeInfo("TsgCorners", &TypeInfo_TsgCorner);
const classlib::TTypeInfo TypeInfo_TsgSide =
    classlib::EnumTypeInfo("TsgSide", {"sgSideTop", "sgSideLeft", "sgSideBottom", "sgSideRight"});
const classlib::TTypeInfo TypeInfo_TsgSides = classlib::SetTypeInfo("TsgSides", &TypeInfo_TsgSide);
const classlib::TTypeInfo TypeInfo_TsgCornerType = classlib::EnumTypeInfo(
    "TsgCornerType", {"sgCornerRound", "sgCornerBevel", "sgCornerInnerRound", "sgCornerInnerLine"});
const classlib::TTypeInfo TypeInfo_TsgLineType =
    classlib::EnumTypeInfo("TsgLineType", {"sgLineNormal", "sgLineHorizontal", "sgLineVertical"});
const classlib::TTypeInfo TypeInfo_TsgCalloutPosition = classlib::EnumTypeInfo(
    "TsgCalloutPosition", {"sgCalloutTop", "sgCalloutLeft", "sgCalloutBottom", "sgCalloutRight"});

namespace {
TsgBrush* NewBrush(TsgBrushStyle style, TsgColor color) {
  auto* b = classlib::New<TsgBrush>(style, color);
  b->SetStyle(style);
  b->SetSolidColor(color);
  return b;
}
}  // namespace

// ---- TsgShape
CL_CLASS(TsgShape) { c.Event("OnDesignClick", &TsgShape::OnDesignClick, &TsgShape::OnDesignClick); }

TsgShape::TsgShape(TComponent* AOwner)
    : TsgVisualObject(AOwner),
      fill_(NewBrush(sgBrushSolid, 0xFFE0E0E0u)),
      stroke_(NewBrush(sgBrushSolid, 0xFF000000u)) {
  fill_->OnChange = classlib::EventOf<&TsgShape::FillChangedEvent>(this);
  stroke_->OnChange = classlib::EventOf<&TsgShape::StrokeChangedEvent>(this);
}

TsgShape::~TsgShape() {
  classlib::Free(stroke_);
  classlib::Free(fill_);
}

void TsgShape::SetFillDefaults(TsgBrushStyle style, TsgColor color) {
  classlib::Free(fill_);
  fill_ = NewBrush(style, color);
  fill_->OnChange = classlib::EventOf<&TsgShape::FillChangedEvent>(this);
}

void TsgShape::SetStrokeDefaults(TsgBrushStyle style, TsgColor color) {
  classlib::Free(stroke_);
  stroke_ = NewBrush(style, color);
  stroke_->OnChange = classlib::EventOf<&TsgShape::StrokeChangedEvent>(this);
}

TsgRect TsgShape::GetShapeRect() {
  TsgRect r{0, 0, Width(), Height()};
  if (stroke_->Style() != sgBrushNone) {
    const float h = strokeThickness_ / 2;
    sgInflateRect(r, -h, -h);
  }
  return r;
}

void TsgShape::FillChanged(TObject* sender) {
  (void)sender;
  if (!InUpdate()) Repaint();
  UpdateEffects();
}

void TsgShape::StrokeChanged(TObject* sender) {
  (void)sender;
  if (!InUpdate()) Repaint();
  UpdateEffects();
}

void TsgShape::DesignClick() {
  inherited::DesignClick();
  if (OnDesignClick) OnDesignClick(this);
}

void TsgShape::BeforePaint() {
  inherited::BeforePaint();
  TsgCanvas* c = Canvas();
  if (!c) return;
  c->Fill()->Assign(fill_);
  c->Stroke()->Assign(stroke_);
  c->StrokeThickness = strokeThickness_;
  c->StrokeCap = strokeCap_;
  c->StrokeJoin = strokeJoin_;
  c->SetStrokeDash(strokeDash_);
}

void TsgShape::AfterPaint() {
  inherited::AfterPaint();
  TsgCanvas* c = Canvas();
  if (!c) return;
  c->SetStrokeDash(sgDashSolid);
  c->StrokeThickness = 1;
}

// ---- TsgLine
CL_CLASS(TsgLine) {
  PublishStroke(c);
  c.Enum("LineType", &TsgLine::LineType, &TsgLine::SetLineType, &TypeInfo_TsgLineType)
      .Default(sgLineNormal);
}

void TsgLine::Paint() {
  TsgCanvas* c = Canvas();
  if (!c) return;
  const TsgRect s = GetShapeRect();
  const float opacity = GetAbsoluteOpacity();
  switch (lineType_) {
    case sgLineNormal:
      c->DrawLine({s.Left, s.Top}, {s.Right, s.Bottom}, opacity);
      break;
    case sgLineHorizontal:
      c->DrawLine({s.Left, s.Top}, {s.Right, s.Top}, opacity);
      break;
    case sgLineVertical:
      c->DrawLine({s.Left, s.Top}, {s.Left, s.Bottom}, opacity);
      break;
  }
}

// ---- TsgRectangle
CL_CLASS(TsgRectangle) {
  PublishFillAndStroke(c);
  c.Float("xRadius", &TsgRectangle::xRadius, &TsgRectangle::SetxRadius, &classlib::TypeInfo_Single);
  c.Float("yRadius", &TsgRectangle::yRadius, &TsgRectangle::SetyRadius, &classlib::TypeInfo_Single);
  c.Set("Corners", &TsgRectangle::Corners, &TsgRectangle::SetCorners, &TypeInfo_TsgCorners)
      .NoDefault()
      .Stored(&TsgRectangle::CornersStored);
  c.Enum("CornerType", &TsgRectangle::CornerType, &TsgRectangle::SetCornerType,
         &TypeInfo_TsgCornerType)
      .Default(sgCornerRound);
  c.Set("Sides", &TsgRectangle::Sides, &TsgRectangle::SetSides, &TypeInfo_TsgSides)
      .NoDefault()
      .Stored(&TsgRectangle::SidesStored);
}

void TsgRectangle::Paint() {
  TsgCanvas* c = Canvas();
  if (!c) return;
  const TsgRect s = GetShapeRect();
  const float opacity = GetAbsoluteOpacity();
  if (sides_ == sgAllSides) {
    c->FillRect(s, xRadius_, yRadius_, corners_, opacity, cornerType_);
    c->DrawRect(s, xRadius_, yRadius_, corners_, opacity, cornerType_);
    return;
  }
  // The fill reaches under the missing sides' half strokes.
  const float d = s.Left;
  TsgRect f = s;
  if (!(sides_ & sgSideTop)) f.Top -= d;
  if (!(sides_ & sgSideLeft)) f.Left -= d;
  if (!(sides_ & sgSideBottom)) f.Bottom += d;
  if (!(sides_ & sgSideRight)) f.Right += d;
  c->FillRect(f, xRadius_, yRadius_, corners_, opacity, cornerType_);
  c->DrawRectSides(s, xRadius_, yRadius_, corners_, opacity, sides_, cornerType_);
}

CL_CLASS(TsgSidesRectangle) {}

// ---- blurred rectangles
TsgBlurCache::~TsgBlurCache() {
  if (bitmap_) classlib::Free(bitmap_);
}

bool TsgBlurCache::Change(float& field, float v) {
  if (field == v) return false;
  field = v;
  dirty_ = true;
  return true;
}

bool TsgBlurCache::Dirty(const TsgShape* shape) const {
  return dirty_ || !bitmap_ || width_ != shape->Width() || height_ != shape->Height();
}

void TsgBlurCache::Paint(TsgShape* shape, float softness,
                         void (*outline)(TsgShape* shape, TsgCanvas* canvas, const TsgRect& r)) {
  TsgCanvas* canvas = shape->Canvas();
  if (!canvas) return;
  const int r = static_cast<int>(std::trunc(softness * 15));
  const int w = static_cast<int>(std::lround(shape->Width()));
  const int h = static_cast<int>(std::lround(shape->Height()));
  bool dirty = Dirty(shape);
  if (!bitmap_) {
    bitmap_ = classlib::New<TsgBitmap>(w, h);
    dirty = true;
  } else if (bitmap_->Width() != w || bitmap_->Height() != h) {
    bitmap_->SetSize(w, h);
    dirty = true;
  }
  if (dirty) {
    bitmap_->Clear(0);
    if (TsgCanvas* bc = bitmap_->GetCanvas(); bc && !bitmap_->IsEmpty() && bc->BeginScene()) {
      const float fr = float(r);
      try {
        outline(shape, bc, {fr, fr, shape->Width() - fr, shape->Height() - fr});
      } catch (...) {
        bc->EndScene();
        throw;
      }
      bc->EndScene();
    }
    sgStackBlur(*bitmap_, r, true);
    dirty_ = false;
    width_ = shape->Width();
    height_ = shape->Height();
  }
  const TsgRect local{0, 0, shape->Width(), shape->Height()};
  canvas->DrawBitmap(bitmap_, local, local, shape->GetAbsoluteOpacity(), true);
}

CL_CLASS(TsgBlurRectangle) {
  c.Float("Softness", &TsgBlurRectangle::Softness, &TsgBlurRectangle::SetSoftness,
          &classlib::TypeInfo_Single)
      .FloatDefault(static_cast<double>(0.3f));
}

TsgBlurRectangle::TsgBlurRectangle(TComponent* AOwner) : TsgRectangle(AOwner) {
  Stroke()->SetStyle(sgBrushNone);
}

void TsgBlurRectangle::SetSoftness(float v) {
  if (cache_.Change(softness_, v)) Repaint();
}

void TsgBlurRectangle::FillChanged(TObject* sender) {
  cache_.MarkDirty();
  inherited::FillChanged(sender);
}

void TsgBlurRectangle::SetxRadius(float v) {
  if (v != xRadius()) cache_.MarkDirty();
  inherited::SetxRadius(v);
}

void TsgBlurRectangle::SetyRadius(float v) {
  if (v != yRadius()) cache_.MarkDirty();
  inherited::SetyRadius(v);
}

void TsgBlurRectangle::SetCorners(TsgCorners v) {
  if (v != Corners()) cache_.MarkDirty();
  inherited::SetCorners(v);
}

void TsgBlurRectangle::SetCornerType(TsgCornerType v) {
  if (v != CornerType()) cache_.MarkDirty();
  inherited::SetCornerType(v);
}

void TsgBlurRectangle::Paint() {
  cache_.Paint(this, softness_, [](TsgShape* shape, TsgCanvas* c, const TsgRect& r) {
    auto* self = static_cast<TsgBlurRectangle*>(shape);
    c->Fill()->Assign(self->Fill());
    c->FillRect(r, self->xRadius(), self->yRadius(), self->Corners(), 1, self->CornerType());
    c->Stroke()->Assign(self->Stroke());
    c->DrawRect(r, self->xRadius(), self->yRadius(), self->Corners(), 1, self->CornerType());
  });
}

// ---- TsgRoundRect
CL_CLASS(TsgRoundRect) {
  PublishFillAndStroke(c);
  c.Set("Corners", &TsgRoundRect::Corners, &TsgRoundRect::SetCorners, &TypeInfo_TsgCorners)
      .NoDefault()
      .Stored(&TsgRoundRect::CornersStored);
}

float TsgRoundRect::Radius(const TsgRect& s) const {
  return Height() >= Width() ? sgRectWidth(s) / 2 : sgRectHeight(s) / 2;
}

void TsgRoundRect::Paint() {
  TsgCanvas* c = Canvas();
  if (!c) return;
  const TsgRect s = GetShapeRect();
  const float radius = Radius(s), opacity = GetAbsoluteOpacity();
  c->FillRect(s, radius, radius, corners_, opacity, sgCornerRound);
  c->DrawRect(s, radius, radius, corners_, opacity, sgCornerRound);
}

CL_CLASS(TsgBlurRoundRect) {
  c.Float("Softness", &TsgBlurRoundRect::Softness, &TsgBlurRoundRect::SetSoftness,
          &classlib::TypeInfo_Single)
      .FloatDefault(static_cast<double>(0.3f));
}

TsgBlurRoundRect::TsgBlurRoundRect(TComponent* AOwner) : TsgRoundRect(AOwner) {
  Stroke()->SetStyle(sgBrushNone);
}

void TsgBlurRoundRect::SetSoftness(float v) {
  if (cache_.Change(softness_, v)) Repaint();
}

void TsgBlurRoundRect::FillChanged(TObject* sender) {
  cache_.MarkDirty();
  inherited::FillChanged(sender);
}

void TsgBlurRoundRect::SetCorners(TsgCorners v) {
  if (v != Corners()) cache_.MarkDirty();
  inherited::SetCorners(v);
}

void TsgBlurRoundRect::Paint() {
  cache_.Paint(this, softness_, [](TsgShape* shape, TsgCanvas* c, const TsgRect& r) {
    auto* self = static_cast<TsgBlurRoundRect*>(shape);
    const float radius = sgRectHeight(r) / 2;
    c->Fill()->Assign(self->Fill());
    c->FillRect(r, radius, radius, self->Corners(), 1, sgCornerRound);
    c->Stroke()->Assign(self->Stroke());
    c->DrawRect(r, radius, radius, self->Corners(), 1, sgCornerRound);
  });
}

// ---- TsgCalloutRectangle
CL_CLASS(TsgCalloutRectangle) {
  c.Float("CalloutWidth", &TsgCalloutRectangle::CalloutWidth, &TsgCalloutRectangle::SetCalloutWidth,
          &classlib::TypeInfo_Single)
      .FloatDefault(23);
  c.Float("CalloutLength", &TsgCalloutRectangle::CalloutLength,
          &TsgCalloutRectangle::SetCalloutLength, &classlib::TypeInfo_Single)
      .FloatDefault(11);
  c.Enum("CalloutPosition", &TsgCalloutRectangle::CalloutPosition,
         &TsgCalloutRectangle::SetCalloutPosition, &TypeInfo_TsgCalloutPosition)
      .Default(sgCalloutTop);
  c.Float("CalloutOffset", &TsgCalloutRectangle::CalloutOffset,
          &TsgCalloutRectangle::SetCalloutOffset, &classlib::TypeInfo_Single);
}

TsgCalloutRectangle::TsgCalloutRectangle(TComponent* AOwner)
    : TsgRectangle(AOwner), path_(classlib::New<TsgPathData>()) {}

TsgCalloutRectangle::~TsgCalloutRectangle() { classlib::Free(path_); }

namespace {
TsgPoint Toward(const TsgPoint& from, const TsgPoint& to, float k) {
  return {from.X + k * (to.X - from.X), from.Y + k * (to.Y - from.Y)};
}
}  // namespace

void TsgCalloutRectangle::RebuildOutline() {
  const float W = calloutWidth_, len = calloutLength_, o = calloutOffset_;
  TsgRect r = GetShapeRect();
  switch (calloutPosition_) {
    case sgCalloutTop:
      r.Top += len;
      break;
    case sgCalloutLeft:
      r.Left += len;
      break;
    case sgCalloutBottom:
      r.Bottom -= len;
      break;
    case sgCalloutRight:
      r.Right -= len;
      break;
  }
  const TsgSides sides = Sides();
  if (sides != sgAllSides) {
    const float d = r.Left;
    if (!(sides & sgSideTop)) r.Top -= d;
    if (!(sides & sgSideLeft)) r.Left -= d;
    if (!(sides & sgSideBottom)) r.Bottom += d;
    if (!(sides & sgSideRight)) r.Right += d;
  }
  float x = xRadius(), y = yRadius();
  if (x > sgRectWidth(r) / 2) x = sgRectWidth(r) / 2;
  if (y > sgRectHeight(r) / 2) y = sgRectHeight(r) / 2;

  TsgPathData& p = *path_;
  p.Clear();
  const TsgCorners corners = Corners();
  const TsgCornerType type = CornerType();
  // One corner from A (on the edge before it) to B (on the edge after it).
  auto corner = [&](TsgCorner which, TsgPoint a, TsgPoint cpt, TsgPoint b) {
    if (!(corners & which)) {
      p.LineTo(cpt);
      p.LineTo(b);
      return;
    }
    const TsgPoint d{a.X + b.X - cpt.X, a.Y + b.Y - cpt.Y};
    switch (type) {
      case sgCornerRound:
        p.CurveTo(Toward(cpt, a, 0.5f), Toward(cpt, b, 0.5f), b);
        break;
      case sgCornerBevel:
        p.LineTo(b);
        break;
      case sgCornerInnerRound:
        p.CurveTo(Toward(a, d, 0.5f), Toward(b, d, 0.5f), b);
        break;
      case sgCornerInnerLine:
        p.LineTo(Toward(a, d, 0.5f));
        p.LineTo(Toward(b, d, 0.5f));
        p.LineTo(b);
        break;
    }
  };
  // Where the pointer's base starts along an edge from lo to hi.
  auto baseStart = [&](float lo, float hi, bool vertical) {
    if (o > 0) return lo + o;
    if (o < 0) return vertical ? hi + o - W : hi - std::fabs(o) - W;
    return (hi - lo) / 2 - W / 2;
  };
  // An edge to the point `to`: the pointer first when it sits on this side,
  // a move over a missing side.
  auto edge = [&](TsgSide side, TsgCalloutPosition at, TsgPoint to) {
    if (!(sides & side)) {
      p.MoveTo(to);
      return;
    }
    if (calloutPosition_ == at) {
      switch (at) {
        case sgCalloutTop: {
          const float s = baseStart(r.Left, r.Right, false);
          p.LineTo({s, r.Top});
          p.LineTo({s + W / 2, r.Top - len});
          p.LineTo({s + W, r.Top});
          break;
        }
        case sgCalloutRight: {
          const float s = baseStart(r.Top, r.Bottom, true);
          p.LineTo({r.Right, s});
          p.LineTo({r.Right + len, s + W / 2});
          p.LineTo({r.Right, s + W});
          break;
        }
        case sgCalloutBottom: {
          const float s = baseStart(r.Left, r.Right, false);
          p.LineTo({s + W, r.Bottom});
          p.LineTo({s + W / 2, r.Bottom + len});
          p.LineTo({s, r.Bottom});
          break;
        }
        case sgCalloutLeft: {
          const float s = baseStart(r.Top, r.Bottom, true);
          p.LineTo({r.Left, s + W});
          p.LineTo({r.Left - len, s + W / 2});
          p.LineTo({r.Left, s});
          break;
        }
      }
    }
    p.LineTo(to);
  };
  const TsgPoint start{r.Left, r.Top + y};
  p.MoveTo(start);
  corner(sgCornerTopLeft, start, {r.Left, r.Top}, {r.Left + x, r.Top});
  edge(sgSideTop, sgCalloutTop, {r.Right - x, r.Top});
  corner(sgCornerTopRight, {r.Right - x, r.Top}, {r.Right, r.Top}, {r.Right, r.Top + y});
  edge(sgSideRight, sgCalloutRight, {r.Right, r.Bottom - y});
  corner(sgCornerBottomRight, {r.Right, r.Bottom - y}, {r.Right, r.Bottom},
         {r.Right - x, r.Bottom});
  edge(sgSideBottom, sgCalloutBottom, {r.Left + x, r.Bottom});
  corner(sgCornerBottomLeft, {r.Left + x, r.Bottom}, {r.Left, r.Bottom}, {r.Left, r.Bottom - y});
  // The left side ends at the start; missing, the outline simply stops.
  if (sides & sgSideLeft) edge(sgSideLeft, sgCalloutLeft, start);
}

void TsgCalloutRectangle::Paint() {
  TsgCanvas* c = Canvas();
  if (!c) return;
  RebuildOutline();
  const float opacity = GetAbsoluteOpacity();
  const TsgRect b = path_->GetBounds();
  c->FillPath(path_, b, opacity);
  c->DrawPath(path_, b, opacity);
}

// ---- ellipses
CL_CLASS(TsgEllipse) { PublishFillAndStroke(c); }

void TsgEllipse::Paint() {
  TsgCanvas* c = Canvas();
  if (!c) return;
  const TsgRect s = GetShapeRect();
  const float opacity = GetAbsoluteOpacity();
  c->FillEllipse(s, opacity);
  c->DrawEllipse(s, opacity);
}

bool TsgEllipse::PointInObject(const TsgPoint& p) {
  const TsgPoint l = AbsoluteToLocal(p);
  const float w = Width(), h = Height();
  if (w * h == 0) return false;
  const float ex = (2 * l.X - w) / w, ey = (2 * l.Y - h) / h;
  return ex * ex + ey * ey <= 1;
}

CL_CLASS(TsgCircle) {}

void TsgCircle::Paint() {
  TsgCanvas* c = Canvas();
  if (!c) return;
  const float side = std::max(Width(), Height());
  TsgRect r{0, 0, side, side};
  sgFitRect(r, GetShapeRect());
  const float opacity = GetAbsoluteOpacity();
  c->FillEllipse(r, opacity);
  c->DrawEllipse(r, opacity);
}

CL_CLASS(TsgPie) {
  c.Float("StartAngle", &TsgPie::StartAngle, &TsgPie::SetStartAngle, &classlib::TypeInfo_Single);
  c.Float("EndAngle", &TsgPie::EndAngle, &TsgPie::SetEndAngle, &classlib::TypeInfo_Single)
      .FloatDefault(-90);
}

void TsgPie::BuildOutline(TsgPathData& path) {
  const TsgPoint centre{Width() / 2, Height() / 2};
  path.Clear();
  path.MoveTo(centre);
  path.AddArc(centre, {(Width() - StrokeThickness()) / 2, (Height() - StrokeThickness()) / 2},
              startAngle_, endAngle_ - startAngle_);
  path.LineTo(centre);
  path.ClosePath();
}

void TsgPie::Paint() {
  TsgCanvas* c = Canvas();
  if (!c) return;
  TsgPathData path;
  BuildOutline(path);
  const float opacity = GetAbsoluteOpacity();
  const TsgRect b = path.GetBounds();
  c->FillPath(&path, b, opacity);
  c->DrawPath(&path, b, opacity);
}

bool TsgPie::PointInObject(const TsgPoint& p) {
  TsgCanvas* c = Canvas();
  if (!c) return TsgEllipse::PointInObject(p);
  TsgPathData path;
  BuildOutline(path);
  return c->PtInPath(AbsoluteToLocal(p), path.GetBounds(), &path);
}

CL_CLASS(TsgArc) {
  c.Float("StartAngle", &TsgArc::StartAngle, &TsgArc::SetStartAngle, &classlib::TypeInfo_Single);
  c.Float("EndAngle", &TsgArc::EndAngle, &TsgArc::SetEndAngle, &classlib::TypeInfo_Single)
      .FloatDefault(-90);
}

TsgArc::TsgArc(TComponent* AOwner) : TsgEllipse(AOwner) {
  SetFillDefaults(sgBrushNone, Fill()->SolidColor());
}

void TsgArc::Paint() {
  TsgCanvas* c = Canvas();
  if (!c) return;
  const TsgPoint centre{Width() / 2, Height() / 2};
  const TsgPoint radius{(Width() - StrokeThickness()) / 2, (Height() - StrokeThickness()) / 2};
  const float opacity = GetAbsoluteOpacity();
  c->FillArc(centre, radius, startAngle_, endAngle_, opacity);
  c->DrawArc(centre, radius, startAngle_, endAngle_, opacity);
}

// ---- the caret of every visual object
TsgVisualObject* TsgVisualObject::EnsureCaret() {
  if (caret_) return caret_;
  auto* caret = classlib::New<TsgRectangle>(this);
  caret->SetStored(false);
  caret->SetHitTest(false);
  caret->SetLocked(true);
  caret->SetVisible(false);
  caret->SetBounds(0, 0, 3, 20);
  caret->Fill()->SetSolidColor(0xFF0000FFu);
  caret->Stroke()->SetStyle(sgBrushNone);
  AddObject(caret);
  caret_ = caret;
  if (Scene() && Scene()->GetAnimatedCaret()) {
    auto* blink = classlib::New<TsgFloatAnimation>(caret);
    blink->SetStored(false);
    blink->SetBindingName("caret");
    blink->SetPropertyName("Opacity");
    blink->SetStartValue(1);
    blink->SetStopValue(0);
    blink->SetDuration(0.1f);
    blink->SetAutoReverse(true);
    blink->SetLoop(true);
    blink->SetEnabled(false);
    caret->AddObject(blink);
  }
  return caret_;
}

void TsgVisualObject::ShowCaret() {
  TsgVisualObject* caret = EnsureCaret();
  caret->SetVisible(true);
  for (int i = 0; i < caret->GetChildrenCount(); ++i) {
    auto* blink = dynamic_cast<TsgAnimation*>(caret->GetChild(i));
    if (blink && classlib::SameText(blink->BindingName(), "caret") && !blink->Running())
      blink->Start();
  }
}

void TsgVisualObject::HideCaret() {
  if (caret_) caret_->SetVisible(false);
}

void TsgVisualObject::SetCaretPos(const TsgPoint& p) {
  TsgVisualObject* caret = EnsureCaret();
  caret->Position()->SetPoint({std::nearbyint(p.X), std::nearbyint(p.Y)});
}

void TsgVisualObject::SetCaretSize(const TsgPoint& size) {
  TsgVisualObject* caret = EnsureCaret();
  caret->SetWidth(size.X);
  caret->SetHeight(size.Y);
}

void TsgVisualObject::SetCaretColor(TsgColor color) {
  static_cast<TsgRectangle*>(EnsureCaret())->Fill()->SetSolidColor(color);
}

void DrawDesignOutline(TsgCanvas* c, const TsgRect& local, float opacity) {
  TsgRect frame = local;
  sgInflateRect(frame, -0.5f, -0.5f);
  c->StrokeThickness = 1;
  c->SetStrokeDash(sgDashDash);
  c->Stroke()->SetStyle(sgBrushSolid);
  c->Stroke()->SetSolidColor(0xA0909090u);
  c->DrawRect(frame, 0, 0, sgAllCorners, opacity, sgCornerRound);
  c->SetStrokeDash(sgDashSolid);
}

void RegisterShapeClasses() {
  static bool registered = false;
  if (registered) return;
  registered = true;
  classlib::RegisterClasses({TsgShape::StaticClass(), TsgCustomPath::StaticClass()});
  RegisterSceneClasses(
      "Shapes",
      {TsgLine::StaticClass(), TsgRectangle::StaticClass(), TsgSidesRectangle::StaticClass(),
       TsgBlurRectangle::StaticClass(), TsgRoundRect::StaticClass(),
       TsgBlurRoundRect::StaticClass(), TsgEllipse::StaticClass(), TsgCircle::StaticClass(),
       TsgArc::StaticClass(), TsgPie::StaticClass(), TsgText::StaticClass(), TsgPath::StaticClass(),
       TsgImage::StaticClass(), TsgPaintBox::StaticClass(), TsgScrollArrowLeft::StaticClass(),
       TsgScrollArrowRight::StaticClass(), TsgCalloutRectangle::StaticClass()});
  RegisterSceneClasses("Design", {TsgSelection::StaticClass(), TsgSelectionPoint::StaticClass(),
                                  TsgDesignFrame::StaticClass()});
}

}  // namespace kelm::scene
