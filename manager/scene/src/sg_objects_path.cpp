// Path shapes in their four wrap modes, the two scroll arrows, and the
// paint box.
#include <algorithm>
#include <cmath>

#include "classlib/classdef.h"
#include "scene/sg_objects.h"
#include "sg_shape_publish.h"

namespace kelm::scene {

using classlib::TComponent;
using classlib::TObject;

const classlib::TTypeInfo TypeInfo_TsgPathWrap = classlib::EnumTypeInfo(
    "TsgPathWrap", {"sgPathOriginal", "sgPathFit", "sgPathStretch", "sgPathTile"});

namespace {
// How far past the first tile a wrap goes along one axis: the path's own
// count, round(extent / size), but never more than ceil(extent). A path
// narrower than a unit (a straight line is 0.001 across) would ask for
// some 10^5 tiles a side; tiles closer than a unit add nothing.
int64_t LastTile(float extent, float size) {
  if (!(extent > 0) || !(size > 0)) return 0;
  const double wanted = std::nearbyint(double(extent) / double(size));
  return int64_t(std::min(wanted, std::ceil(double(extent))));
}
}  // namespace

// ---- TsgCustomPath
CL_CLASS(TsgCustomPath) { PublishFillAndStroke(c); }

TsgCustomPath::TsgCustomPath(TComponent* AOwner)
    : TsgShape(AOwner), data_(classlib::New<TsgPathData>()) {
  data_->OnChange = classlib::EventOf<&TsgCustomPath::DataChangedEvent>(this);
}

TsgCustomPath::~TsgCustomPath() { classlib::Free(data_); }

void TsgCustomPath::DataChangedEvent(TObject* sender) {
  (void)sender;
  UpdateEffects();
  Repaint();
}

TsgPathData* TsgCustomPath::DrawnPath() {
  if (TsgPathData* shared = data_->GetResourcePath()) return shared;
  return data_;
}

void TsgCustomPath::Paint() {
  TsgCanvas* c = Canvas();
  if (!c) return;
  const float opacity = GetAbsoluteOpacity();
  TsgPathData* path = DrawnPath();
  if (!path->IsEmpty()) {
    const TsgRect s = GetShapeRect();
    switch (wrapMode_) {
      case sgPathOriginal: {
        const int state = c->SaveState();
        c->IntersectClipRect(GetLocalRect());
        TsgRect r = path->GetBounds();
        sgOffsetRect(r, s.Left, s.Top);
        c->FillPath(path, r, opacity);
        c->DrawPath(path, r, opacity);
        c->RestoreState(state);
        break;
      }
      case sgPathFit: {
        TsgRect r = path->GetBounds();
        sgFitRect(r, s);
        c->FillPath(path, r, opacity);
        c->DrawPath(path, r, opacity);
        break;
      }
      case sgPathStretch:
        c->FillPath(path, s, opacity);
        c->DrawPath(path, s, opacity);
        break;
      case sgPathTile: {
        const int state = c->SaveState();
        c->IntersectClipRect(GetLocalRect());
        PaintTiles(c, path, s, opacity);
        c->RestoreState(state);
        break;
      }
    }
  }
  if (IsDesignTime() && !Locked() && !PaintingToBitmap())
    DrawDesignOutline(c, GetLocalRect(), opacity);
}

void TsgCustomPath::PaintTiles(TsgCanvas* c, TsgPathData* path, const TsgRect& s, float opacity) {
  const TsgRect b = path->GetBounds();
  const float bw = sgRectWidth(b), bh = sgRectHeight(b);
  const float w = Width(), h = Height();
  // A tile's stroke reaches half its thickness beyond the tile.
  const float m = std::max(s.Left, 0.f);
  const int64_t columns = LastTile(w, bw), rows = LastTile(h, bh);
  for (int64_t i = 0; i <= columns; ++i) {
    const float x = s.Left + float(i) * (bw + 2 * s.Left);
    if (b.Left + x >= w + m || b.Right + x <= -m) continue;
    for (int64_t j = 0; j <= rows; ++j) {
      const float y = s.Top + float(j) * (bh + 2 * s.Top);
      if (b.Top + y >= h + m || b.Bottom + y <= -m) continue;
      TsgRect r = b;
      sgOffsetRect(r, x, y);
      c->FillPath(path, r, opacity);
      c->DrawPath(path, r, opacity);
    }
  }
}

bool TsgCustomPath::PointInObject(const TsgPoint& p) {
  const bool design = IsDesignTime() && !Locked() && !PaintingToBitmap();
  TsgCanvas* c = Canvas();
  TsgPathData* path = DrawnPath();
  if (!design && c && path->Count() > 1)
    return c->PtInPath(AbsoluteToLocal(p), GetShapeRect(), path);
  return inherited::PointInObject(p);
}

CL_CLASS(TsgPath) {
  c.Object("Data", &TsgCustomPath::Data, &TsgCustomPath::AssignData);
  c.Enum("WrapMode", &TsgCustomPath::WrapMode, &TsgCustomPath::SetWrapMode, &TypeInfo_TsgPathWrap)
      .Default(sgPathStretch);
}

// ---- the scroll arrows
namespace {
void SetArrow(TsgCustomPath* arrow, const char* text) {
  arrow->Data()->SetData(text);
  arrow->Data()->Scale(100, 100);
  arrow->SetWrapMode(sgPathFit);
}
}  // namespace

CL_CLASS(TsgScrollArrowLeft) {}

TsgScrollArrowLeft::TsgScrollArrowLeft(TComponent* AOwner) : TsgCustomPath(AOwner) {
  SetArrow(this, "M 1,0 L 1,1 L 0,0.500 L 1,0 Z");
}

CL_CLASS(TsgScrollArrowRight) {}

TsgScrollArrowRight::TsgScrollArrowRight(TComponent* AOwner) : TsgCustomPath(AOwner) {
  SetArrow(this, "M 0,0 L 0,1 L 1,0.500 Z");
}

// ---- TsgPaintBox
CL_CLASS(TsgPaintBox) { c.Event("OnPaint", &TsgPaintBox::OnPaint, &TsgPaintBox::OnPaint); }

void TsgPaintBox::Paint() {
  inherited::Paint();
  if (TsgCanvas* c = Canvas(); c && OnPaint) OnPaint(this, c);
}

}  // namespace kelm::scene
