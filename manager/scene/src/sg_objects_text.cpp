// The text and image leaves: auto-sizing and stretched text; images in four
// wrap modes or as a nine-part frame.
#include <cmath>
#include <cstdint>

#include "classlib/classdef.h"
#include "scene/sg_classes.h"
#include "scene/sg_objects.h"
#include "scene/sg_resources.h"
#include "sg_shape_publish.h"

namespace kelm::scene {

using classlib::TComponent;
using classlib::TObject;
using classlib::TVariant;

const classlib::TTypeInfo TypeInfo_TsgTextAlign = classlib::EnumTypeInfo(
    "TsgTextAlign", {"sgTextAlignCenter", "sgTextAlignNear", "sgTextAlignFar"});
const classlib::TTypeInfo TypeInfo_TsgImageWrap = classlib::EnumTypeInfo(
    "TsgImageWrap", {"sgImageOriginal", "sgImageFit", "sgImageStretch", "sgImageTile"});

// ---- TsgText
CL_CLASS(TsgText) {
  c.Bool("AutoSize", &TsgText::AutoSize, &TsgText::SetAutoSize).Default(false);
  c.Object("Fill", &TsgShape::Fill, &TsgShape::SetFill);
  c.Object("Font", &TsgText::Font, &TsgText::SetFont);
  c.Enum("HorzTextAlign", &TsgText::HorzTextAlign, &TsgText::SetHorzTextAlign,
         &TypeInfo_TsgTextAlign)
      .Default(sgTextAlignCenter);
  c.Enum("VertTextAlign", &TsgText::VertTextAlign, &TsgText::SetVertTextAlign,
         &TypeInfo_TsgTextAlign)
      .Default(sgTextAlignCenter);
  c.WStr("Text", &TsgText::Text, &TsgText::SetText);
  c.Bool("Stretch", &TsgText::Stretch, &TsgText::SetStretch).Default(false);
  c.Bool("WordWrap", &TsgText::WordWrap, &TsgText::SetWordWrap).Default(true);
}

TsgText::TsgText(TComponent* AOwner) : TsgShape(AOwner), font_(classlib::New<TsgFont>()) {
  SetFillDefaults(sgBrushSolid, 0xFF000000u);
  SetStrokeDefaults(sgBrushNone, Stroke()->SolidColor());
  font_->OnChange = classlib::EventOf<&TsgText::FontChangedEvent>(this);
}

TsgText::~TsgText() { classlib::Free(font_); }

void TsgText::SetText(const std::u16string& v) {
  if (v == text_) return;
  text_ = v;
  UpdateEffects();
  if (autoSize_) AutoFit();
  Repaint();
}

void TsgText::SetFont(TsgFont* v) {
  font_->Assign(v);
  if (autoSize_) AutoFit();
}

void TsgText::SetVertTextAlign(TsgTextAlign v) { ChangeWithEffects(vertTextAlign_, v); }
void TsgText::SetHorzTextAlign(TsgTextAlign v) { ChangeWithEffects(horzTextAlign_, v); }

void TsgText::SetAutoSize(bool v) {
  if (v == autoSize_) return;
  autoSize_ = v;
  AutoFit();
}

void TsgText::SetStretch(bool v) {
  if (v == stretch_) return;
  UpdateEffects();
  stretch_ = v;
  if (v) SetAutoSize(false);
  Repaint();
}

void TsgText::FontChanged(TObject* sender) {
  (void)sender;
  UpdateEffects();
  if (autoSize_) AutoFit();
  Repaint();
}

TVariant TsgText::GetData() { return TVariant(text_); }

void TsgText::SetData(const TVariant& value) { SetText(value.ToString()); }

void TsgText::Realign() {
  inherited::Realign();
  if (autoSize_) AutoFit();
}

void TsgText::AutoFit() {
  if (busy_) return;
  TsgCanvas* c = Canvas();
  const bool fits = autoSize_ && c && !text_.empty();
  busy_ = true;
  try {
    if (fits) {
      c->Font()->Assign(font_);
      TsgRect r{0, 0, wordWrap_ ? Width() : 1000, 1000};
      c->MeasureText(r, text_, wordWrap_, sgTextAlignNear, sgTextAlignNear);
      if (!wordWrap_) SetWidth(font_->Size() / 2 + r.Right);
      if (vertTextAlign_ != sgTextAlignCenter) SetHeight(r.Bottom);
    }
  } catch (...) {
    busy_ = false;
    throw;
  }
  busy_ = false;
  if (fits)
    if (TsgVisualObject* p = VisualParent()) p->Realign();
}

void TsgText::Paint() {
  TsgCanvas* c = Canvas();
  if (!c) return;
  c->Font()->Assign(font_);
  const float opacity = GetAbsoluteOpacity();
  const TsgRect local{0, 0, Width(), Height()};
  if (!stretch_) {
    c->FillText(local, text_, wordWrap_, opacity, horzTextAlign_, vertTextAlign_);
    return;
  }
  TsgRect r{0, 0, 1000, 1000};
  c->MeasureText(r, text_, false, horzTextAlign_, vertTextAlign_);
  sgOffsetRect(r, -r.Left, -r.Top);
  TsgMatrix m = IdentityMatrix;
  if (!sgIsRectEmpty(r)) {
    m.m11 = sgRectWidth(local) / sgRectWidth(r);
    m.m22 = sgRectHeight(local) / sgRectHeight(r);
  }
  c->MultiplyMatrix(m);
  sgInflateRect(r, font_->Size() / 3, font_->Size() / 3);
  c->FillText(r, text_, false, opacity, horzTextAlign_, vertTextAlign_);
}

// ---- TsgImage
CL_CLASS(TsgImage) {
  c.Object("Bitmap", &TsgImage::Bitmap, &TsgImage::SetBitmap);
  c.Object("BitmapMargins", &TsgImage::BitmapMargins, &TsgImage::SetBitmapMargins);
  c.Enum("WrapMode", &TsgImage::WrapMode, &TsgImage::SetWrapMode, &TypeInfo_TsgImageWrap)
      .Default(sgImageFit);
  c.Bool("DisableInterpolation", &TsgImage::DisableInterpolation,
         &TsgImage::SetDisableInterpolation)
      .Default(false);
  c.Event("OnBitmapLoaded", &TsgImage::OnBitmapLoaded, &TsgImage::OnBitmapLoaded);
}

TsgImage::TsgImage(TComponent* AOwner)
    : TsgVisualObject(AOwner),
      bitmap_(classlib::New<TsgBitmap>(0, 0)),
      margins_(classlib::New<TsgBounds>(TsgRect{0, 0, 0, 0})) {
  bitmap_->OnChange = classlib::EventOf<&TsgImage::BitmapChangedEvent>(this);
  margins_->OnChange = classlib::EventOf<&TsgImage::MarginsChangedEvent>(this);
}

TsgImage::~TsgImage() {
  classlib::Free(margins_);
  classlib::Free(bitmap_);
  if (scaled_) classlib::Free(scaled_);
}

void TsgImage::SetBitmap(TsgBitmap* v) {
  bitmap_->Assign(v);
  Repaint();
}

void TsgImage::SetWrapMode(TsgImageWrap v) {
  if (v == wrapMode_) return;
  wrapMode_ = v;
  Repaint();
}

void TsgImage::BitmapChanged(TObject* sender) {
  (void)sender;
  UpdateEffects();
  Repaint();
}

void TsgImage::MarginsChangedEvent(TObject* sender) {
  (void)sender;
  Repaint();
}

void TsgImage::DoBitmapLoaded(TObject* sender, int32_t argument) {
  (void)sender;
  if (OnBitmapLoaded) OnBitmapLoaded(this, argument);
  if (!IsDestroying()) Repaint();
}

TVariant TsgImage::GetData() { return ObjectRefToVariant(this); }

void TsgImage::SetData(const TVariant& value) {
  if (IsVariantObjectRef(value)) {
    TsgObject* obj = VariantToObjectRef(value);
    if (auto* image = dynamic_cast<TsgImage*>(obj))
      SetBitmap(image->Bitmap());
    else if (auto* resource = dynamic_cast<TsgBitmapObject*>(obj))
      SetBitmap(resource->Bitmap());
    return;
  }
  // Anything else names a file; the bitmap's own load path decides.
  bitmap_->LoadFromFile(value.ToString(), 0);
}

void TsgImage::PaintTiles(TsgCanvas* c, TsgBitmap* b, float opacity) {
  const float bw = float(b->Width()), bh = float(b->Height());
  const int64_t nx = int64_t(std::nearbyint(Width() / bw));
  const int64_t ny = int64_t(std::nearbyint(Height() / bh));
  const TsgRect src{0, 0, bw, bh};
  if ((nx + 1) * (ny + 1) <= MaxTileDraws) {
    for (int64_t i = 0; i <= nx; ++i)
      for (int64_t j = 0; j <= ny; ++j)
        c->DrawBitmap(b, src, {float(i) * bw, float(j) * bh, float(i + 1) * bw, float(j + 1) * bh},
                      opacity, true);
    return;
  }
  // A tiled brush anchored at the local origin lays the same tiles.
  c->Fill()->SetStyle(sgBrushBitmap);
  c->Fill()->Bitmap()->SetBitmap(b);
  c->Fill()->Bitmap()->SetWrapMode(sgWrapTile);
  c->FillRect({0, 0, float(nx + 1) * bw, float(ny + 1) * bh}, 0, 0, sgAllCorners, opacity,
              sgCornerRound);
}

void TsgImage::Paint() {
  TsgCanvas* c = Canvas();
  if (!c) return;
  const TsgRect local{0, 0, Width(), Height()};
  if (IsDesignTime() && !Locked() && !DesignHide()) DrawDesignOutline(c, local, 1);
  TsgBitmap* b = bitmap_;
  if (TsgBitmap* shared = bitmap_->GetResourceBitmap()) b = shared;
  if (b->IsEmpty()) return;
  const float bw = float(b->Width()), bh = float(b->Height());
  const TsgRect src{0, 0, bw, bh};
  const float opacity = GetAbsoluteOpacity();
  const float l = margins_->Left(), t = margins_->Top(), r = margins_->Right(),
              btm = margins_->Bottom();
  if (l == 0 && t == 0 && r == 0 && btm == 0) {
    switch (wrapMode_) {
      case sgImageOriginal: {
        const int state = c->SaveState();
        c->IntersectClipRect(local);
        c->DrawBitmap(b, src, src, opacity, true);
        c->RestoreState(state);
        break;
      }
      case sgImageFit: {
        TsgRect fitted = src;
        sgFitRect(fitted, local);
        c->DrawBitmap(b, src, fitted, opacity, disableInterpolation_);
        break;
      }
      case sgImageStretch:
        c->DrawBitmap(b, src, local, opacity, disableInterpolation_);
        break;
      case sgImageTile: {
        const int state = c->SaveState();
        c->IntersectClipRect(local);
        PaintTiles(c, b, opacity);
        c->RestoreState(state);
        break;
      }
    }
    return;
  }
  const float W = Width(), H = Height();
  const TsgRect parts[9][2] = {
      {{0, 0, l, t}, {0, 0, l, t}},
      {{l, 0, W - r, t}, {l, 0, bw - r, t}},
      {{W - r, 0, W, t}, {bw - r, 0, bw, t}},
      {{0, t, l, H - btm}, {0, t, l, bh - btm}},
      {{l, t, W - r, H - btm}, {l, t, bw - r, bh - btm}},
      {{W - r, t, W, H - btm}, {bw - r, t, bw, bh - btm}},
      {{0, H - btm, l, H}, {0, bh - btm, l, bh}},
      {{l, H - btm, W - r, H}, {l, bh - btm, bw - r, bh}},
      {{W - r, H - btm, W, H}, {bw - r, bh - btm, bw, bh}},
  };
  for (const auto& part : parts) c->DrawBitmap(b, part[1], part[0], opacity, true);
}

}  // namespace kelm::scene
