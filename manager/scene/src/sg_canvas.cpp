// The canvas state and the drawing built once for every back end.
#include "scene/sg_canvas.h"

#include <algorithm>
#include <utility>

#include "classlib/classdef.h"
#include "scene/sg_bitmap.h"

namespace kelm::scene {

CL_CLASS(TsgCanvas) {}

namespace {
TsgCanvasClass& DefaultClass() {
  static TsgCanvasClass maker;
  return maker;
}
TsgCanvasBitmapClass& DefaultBitmapClass() {
  static TsgCanvasBitmapClass cls;
  return cls;
}
}  // namespace

void SetDefaultCanvasBitmapClass(TsgCanvasBitmapClass cls) {
  DefaultBitmapClass() = std::move(cls);
}

TsgCanvas* sgCreateCanvasFromBitmap(TsgBitmap* bitmap) {
  const auto& make = DefaultBitmapClass().CreateFromBitmap;
  return make ? make(bitmap) : nullptr;
}

uint32_t* sgCanvasBitmapScanline(TsgBitmap* bitmap, int row) {
  const auto& scanline = DefaultBitmapClass().GetBitmapScanline;
  return scanline ? scanline(bitmap, row) : nullptr;
}

void SetDefaultCanvasClass(TsgCanvasClass maker) { DefaultClass() = std::move(maker); }
bool DefaultCanvasClassSet() { return static_cast<bool>(DefaultClass()); }

TsgCanvas* sgCreateCanvas(int width, int height) {
  if (!DefaultClass()) return nullptr;
  TsgCanvas* c = DefaultClass()(width, height);
  if (c) c->ResizeBuffer(width, height);
  return c;
}

float sgTextWidth(TsgCanvas* canvas, const std::u16string& text) {
  TsgRect r{0, 0, 10000, 20};
  canvas->MeasureText(r, text, false, sgTextAlignNear, sgTextAlignCenter);
  return sgRectWidth(r);
}

TsgCanvas::TsgCanvas(int width, int height)
    : width_(width),
      height_(height),
      fill_(classlib::New<TsgBrush>(sgBrushSolid, 0xFFFFFFFFu)),
      stroke_(classlib::New<TsgBrush>(sgBrushSolid, 0xFF000000u)),
      font_(classlib::New<TsgFont>()) {
  font_->OnChange = classlib::EventOf<&TsgCanvas::FontChangedEvent>(this);
}

TsgCanvas::TsgCanvas(TsgBitmap* bitmap)
    : TsgCanvas(bitmap ? bitmap->Width() : 0, bitmap ? bitmap->Height() : 0) {
  bitmap_ = bitmap;
}

void TsgCanvas::AssignTo(classlib::TPersistent* dest) {
  auto* bitmap = dynamic_cast<TsgBitmap*>(dest);
  if (!bitmap) {
    TPersistent::AssignTo(dest);
    return;
  }
  bitmap->SetSize(width_, height_);
  // The bitmap takes a negative side as 0: then there is nothing to copy.
  uint32_t* to = bitmap->Bits();
  if (!buffered_ || !bits_ || !to || bitmap->Width() != width_ || bitmap->Height() != height_)
    return;
  const size_t w = size_t(width_);
  for (size_t y = 0; y < size_t(height_); ++y) std::copy_n(bits_ + y * w, w, to + y * w);
  bitmap->NeedUpdate = true;
  // New pixels in a bitmap of the same size: its owner repaints.
  bitmap->BitmapChanged();
}

TsgCanvas::~TsgCanvas() {
  for (TsgCanvasSaveState& s : states_) FreeSlot(s);
  classlib::Free(font_);
  classlib::Free(stroke_);
  classlib::Free(fill_);
}

void TsgCanvas::BeforeDestruction() {
  for (TsgCanvasSaveState& s : states_) FreeSlot(s);
  states_.clear();
  FreeBuffer();
}

void TsgCanvas::FreeSlot(TsgCanvasSaveState& s) {
  classlib::Free(s.Stroke);
  classlib::Free(s.Fill);
  classlib::Free(s.Font);
  s.Stroke = s.Fill = nullptr;
  s.Font = nullptr;
  s.DashArray.clear();
  s.Handle = -1;
}

int TsgCanvas::StoreState(int handle) {
  int index = -1;
  for (size_t i = 0; i < states_.size(); ++i) {
    if (states_[i].Handle == -1) {
      index = static_cast<int>(i);
      break;
    }
  }
  if (index < 0) {
    states_.emplace_back();
    index = static_cast<int>(states_.size()) - 1;
  }
  TsgCanvasSaveState& s = states_[static_cast<size_t>(index)];
  s.Handle = handle;
  s.Matrix = matrix_;
  s.Stroke = classlib::New<TsgBrush>(stroke_->DefaultStyle(), stroke_->DefaultColor());
  s.Stroke->Assign(stroke_);
  s.Fill = classlib::New<TsgBrush>(fill_->DefaultStyle(), fill_->DefaultColor());
  s.Fill->Assign(fill_);
  s.StrokeThickness = StrokeThickness;
  s.StrokeCap = StrokeCap;
  s.StrokeJoin = StrokeJoin;
  s.StrokeDash = strokeDash_;
  if (strokeDash_ != sgDashSolid) s.DashArray = DashArray;
  s.DashOffset = DashOffset;
  s.Font = classlib::New<TsgFont>();
  s.Font->Assign(font_);
  return index;
}

bool TsgCanvas::LoadState(int index) {
  if (index < 0 || index >= static_cast<int>(states_.size())) return false;
  TsgCanvasSaveState& s = states_[static_cast<size_t>(index)];
  if (s.Handle == -1) return false;
  matrix_ = s.Matrix;
  stroke_->Assign(s.Stroke);
  fill_->Assign(s.Fill);
  StrokeThickness = s.StrokeThickness;
  StrokeCap = s.StrokeCap;
  StrokeJoin = s.StrokeJoin;
  strokeDash_ = s.StrokeDash;
  DashArray = s.StrokeDash != sgDashSolid ? s.DashArray : std::vector<float>{};
  DashOffset = s.DashOffset;
  font_->Assign(s.Font);
  FreeSlot(s);
  return true;
}

void TsgCanvas::SetStrokeDash(TsgStrokeDash style) {
  if (style == strokeDash_) return;
  strokeDash_ = style;
  switch (style) {
    case sgDashSolid:
      DashArray.clear();
      break;
    case sgDashDash:
      DashArray = {3, 1};
      break;
    case sgDashDot:
      DashArray = {1, 1};
      break;
    case sgDashDashDot:
      DashArray = {3, 1, 1, 1};
      break;
    case sgDashDashDotDot:
      DashArray = {3, 1, 1, 1, 1, 1};
      break;
    case sgDashCustom:
      return;
  }
  DashOffset = 0;
}

namespace {

// The path of a polygon: ClosePolygon closes the open figure (a close with
// no figure open is skipped); the point after a close starts a new one.
// closeLast: a last point that is not ClosePolygon is a line to it and
// then the close, so the figure keeps every vertex.
void PolygonPath(const TsgPolygon& polygon, TsgPathData& path, bool closeLast) {
  bool open = false;
  for (size_t i = 0; i < polygon.size(); ++i) {
    const TsgPoint& p = polygon[i];
    if (sgIsClosePolygon(p)) {
      if (open) path.ClosePath();
      open = false;
      continue;
    }
    if (!open) {
      path.MoveTo(p);
      open = true;
    } else {
      path.LineTo(p);
    }
  }
  if (closeLast && open) path.ClosePath();
}

}  // namespace

void TsgCanvas::FillPolygon(const TsgPolygon& polygon, float opacity) {
  auto* path = classlib::New<TsgPathData>();
  PolygonPath(polygon, *path, true);
  if (!path->IsEmpty()) FillPath(path, path->GetBounds(), opacity);
  classlib::Free(path);
}

void TsgCanvas::DrawPolygon(const TsgPolygon& polygon, float opacity) {
  auto* path = classlib::New<TsgPathData>();
  PolygonPath(polygon, *path, false);
  if (!path->IsEmpty()) DrawPath(path, path->GetBounds(), opacity);
  classlib::Free(path);
}

void TsgCanvas::FillArc(const TsgPoint& center, const TsgPoint& radius, float startAngle,
                        float sweepAngle, float opacity) {
  auto* path = classlib::New<TsgPathData>();
  path->AddArc(center, radius, startAngle, sweepAngle);
  FillPath(path, path->GetBounds(), opacity);
  classlib::Free(path);
}

void TsgCanvas::DrawArc(const TsgPoint& center, const TsgPoint& radius, float startAngle,
                        float sweepAngle, float opacity) {
  auto* path = classlib::New<TsgPathData>();
  path->AddArc(center, radius, startAngle, sweepAngle);
  DrawPath(path, path->GetBounds(), opacity);
  classlib::Free(path);
}

namespace {

TsgPoint Mid(const TsgPoint& a, const TsgPoint& b) { return {(a.X + b.X) / 2, (a.Y + b.Y) / 2}; }

void Piece(TsgPathData& path, const TsgPoint& to, bool draw) {
  draw ? path.LineTo(to) : path.MoveTo(to);
}

// A corner from a (on the side before) round the rectangle's corner k to
// b (on the side after); the path stands at a.
void Corner(TsgPathData& path, const TsgPoint& a, const TsgPoint& k, const TsgPoint& b, bool shaped,
            TsgCornerType type, bool sideBefore, bool sideAfter) {
  if (!shaped) {
    Piece(path, k, sideBefore);
    Piece(path, b, sideAfter);
    return;
  }
  // Inner points: the corner pulled half a radius inwards along each side.
  const TsgPoint innerA{a.X + (b.X - k.X) / 2, a.Y + (b.Y - k.Y) / 2};
  const TsgPoint innerB{b.X + (a.X - k.X) / 2, b.Y + (a.Y - k.Y) / 2};
  switch (type) {
    case sgCornerRound:
      path.CurveTo(Mid(a, k), Mid(b, k), b);
      break;
    case sgCornerBevel:
      path.LineTo(b);
      break;
    case sgCornerInnerRound:
      path.CurveTo(innerA, innerB, b);
      break;
    case sgCornerInnerLine:
      path.LineTo(innerA);
      path.LineTo(innerB);
      path.LineTo(b);
      break;
  }
}

}  // namespace

void TsgCanvas::DrawRectSides(const TsgRect& r, float xRadius, float yRadius, TsgCorners corners,
                              float opacity, TsgSides sides, TsgCornerType cornerType) {
  const float w = sgRectWidth(r), h = sgRectHeight(r);
  float xr = xRadius > 0 ? xRadius : 0;
  float yr = yRadius > 0 ? yRadius : 0;
  if (xr * 2 > w) xr = w / 2;
  if (yr * 2 > h) yr = h / 2;
  const float L = r.Left, T = r.Top, R = r.Right, B = r.Bottom;
  const bool top = sides & sgSideTop, left = sides & sgSideLeft, bottom = sides & sgSideBottom,
             right = sides & sgSideRight;
  auto* path = classlib::New<TsgPathData>();
  path->MoveTo({L, T + yr});
  Corner(*path, {L, T + yr}, {L, T}, {L + xr, T}, corners & sgCornerTopLeft, cornerType, left, top);
  Piece(*path, {R - xr, T}, top);
  Corner(*path, {R - xr, T}, {R, T}, {R, T + yr}, corners & sgCornerTopRight, cornerType, top,
         right);
  Piece(*path, {R, B - yr}, right);
  Corner(*path, {R, B - yr}, {R, B}, {R - xr, B}, corners & sgCornerBottomRight, cornerType, right,
         bottom);
  Piece(*path, {L + xr, B}, bottom);
  Corner(*path, {L + xr, B}, {L, B}, {L, B - yr}, corners & sgCornerBottomLeft, cornerType, bottom,
         left);
  if (left) path->LineTo({L, T + yr});
  DrawPath(path, r, opacity);
  classlib::Free(path);
}

}  // namespace kelm::scene
