// The effect classes: their properties, geometry and image processing.
#include "scene/sg_effects.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "classlib/classdef.h"
#include "scene/sg_animation.h"
#include "scene/sg_bitmap.h"
#include "scene/sg_classes.h"
#include "scene/sg_visual.h"

namespace kelm::scene {

using classlib::TComponent;
using classlib::TObject;

namespace {
// Not-a-number clamps to the low end.
float Clamp(float v, float lo, float hi) { return !(v >= lo) ? lo : (v > hi ? hi : v); }
float Trunc(float v) { return std::trunc(v); }
float DegCos(float deg) { return std::cos(sgDegToRad(deg)); }
float DegSin(float deg) { return std::sin(sgDegToRad(deg)); }

TsgRect Inflated(TsgRect r, float d) {
  sgInflateRect(r, d, d);
  return r;
}

// Recolours the object's silhouette, blurs it and cuts it away where the
// object (displaced by dx, dy) is opaque: the common core of shadow and glow.
void Silhouette(TsgBitmap& bitmap, TsgColor color, float opacity, int radius, int dx, int dy) {
  const std::vector<uint8_t> mask = bitmap.CreateAlphaMask();
  bitmap.FillColorByAlpha(sgOpacityColor(color, opacity));
  sgStackBlur(bitmap, radius, true);
  bitmap.ApplyAlphaMask(mask, -dx, -dy);
}
}  // namespace

// ---- TsgEffect
CL_CLASS(TsgEffect) {
  c.Bool("Enabled", &TsgEffect::Enabled, &TsgEffect::SetEnabled).Default(true);
  c.Str("Trigger", &TsgEffect::Trigger, &TsgEffect::SetTrigger);
}

TsgEffect::TsgEffect(TComponent* AOwner) : TsgObject(AOwner) {}

TsgEffect::~TsgEffect() {
  if (image_) classlib::Free(image_);
}

TsgBitmap* TsgEffect::EnsureImage() {
  if (!image_) image_ = classlib::New<TsgBitmap>();
  return image_;
}

void TsgEffect::SetEnabled(bool value) {
  if (enabled_ == value) return;
  enabled_ = value;
  if (enabled_ && Parent() && Parent()->IsVisual()) Parent()->EffectChildAdded(this);
  UpdateParentEffect();
}

void TsgEffect::UpdateParentEffect() {
  if (IsLoading()) return;
  TsgVisualObject* parent = Parent() ? Parent()->Visual() : nullptr;
  if (!parent) return;
  parent->UpdateEffects();
  parent->MarkUpdateRectDirty();
  // Counted as enabled for this one repaint, so that an effect being turned
  // off still has the area it covered refreshed.
  const bool counted = countedEnabled_;
  countedEnabled_ = true;
  try {
    parent->Repaint();
  } catch (...) {
    countedEnabled_ = counted;
    throw;
  }
  countedEnabled_ = counted;
  // The rectangle cached for that repaint may hold an area no longer drawn.
  parent->MarkUpdateRectDirty();
}

void TsgEffect::ApplyTrigger(TObject* instance, const std::string& trigger) {
  if (trigger_.empty() || !instance || !sgTriggerMentions(trigger_, trigger)) return;
  SetEnabled(sgTriggerLastConditionHolds(instance, trigger_));
}

// ---- shadow
CL_CLASS(TsgShadowEffect) {
  c.Float("Distance", &TsgShadowEffect::Distance, &TsgShadowEffect::SetDistance,
          &classlib::TypeInfo_Single)
      .FloatDefault(3.0);
  c.Float("Direction", &TsgShadowEffect::Direction, &TsgShadowEffect::SetDirection,
          &classlib::TypeInfo_Single)
      .FloatDefault(45.0);
  c.Float("Softness", &TsgShadowEffect::Softness, &TsgShadowEffect::SetSoftness,
          &classlib::TypeInfo_Single)
      .FloatDefault(static_cast<double>(0.3f));
  c.Float("Opacity", &TsgShadowEffect::Opacity, &TsgShadowEffect::SetOpacity,
          &classlib::TypeInfo_Single)
      .FloatDefault(static_cast<double>(0.6f));
  c.Str("ShadowColor", &TsgShadowEffect::ShadowColorText, &TsgShadowEffect::SetShadowColorText)
      .Stored(&TsgShadowEffect::ShadowColorStored);
}

void TsgShadowEffect::SetSoftness(float v) { Change(softness_, Clamp(v, 0, 3)); }
void TsgShadowEffect::SetOpacity(float v) { Change(opacity_, Clamp(v, 0, 1)); }

TsgRect TsgShadowEffect::GetRect(const TsgRect& r) const {
  TsgRect e = Inflated(r, Trunc(softness_ * 20));
  sgOffsetRect(e, distance_ * DegCos(direction_), distance_ * DegSin(direction_));
  return e;
}

TsgPoint TsgShadowEffect::GetOffset() const {
  const float s = Trunc(softness_ * 20);
  return {s, s};
}

void TsgShadowEffect::ProcessEffect(TsgCanvas* canvas, TsgBitmap& bitmap, const TsgPoint& scale) {
  (void)canvas;
  // A displacement beyond the image cuts nothing: kept within it, so that
  // any distance (or none that is a number) stays a whole pixel count.
  auto pixels = [](float d, int limit) {
    return int(std::lround(Clamp(d, -float(limit), float(limit))));
  };
  const int dx = pixels(scale.X * distance_ * DegCos(direction_), bitmap.Width());
  const int dy = pixels(scale.Y * distance_ * DegSin(direction_), bitmap.Height());
  Silhouette(bitmap, color_, opacity_, int(Trunc(softness_ * 10 + 5)), dx, dy);
}

// ---- blur
CL_CLASS(TsgBlurEffect) {
  c.Float("Softness", &TsgBlurEffect::Softness, &TsgBlurEffect::SetSoftness,
          &classlib::TypeInfo_Single)
      .FloatDefault(static_cast<double>(0.3f));
}

TsgBlurEffect::TsgBlurEffect(TComponent* AOwner) : TsgEffect(AOwner) { disablePaint_ = true; }

void TsgBlurEffect::SetSoftness(float v) { Change(softness_, Clamp(v, 0, 9)); }

TsgRect TsgBlurEffect::GetRect(const TsgRect& r) const {
  return Inflated(r, Trunc(softness_ * 20));
}

TsgPoint TsgBlurEffect::GetOffset() const {
  const float s = Trunc(softness_ * 20);
  return {s, s};
}

void TsgBlurEffect::ProcessEffect(TsgCanvas* canvas, TsgBitmap& bitmap, const TsgPoint& scale) {
  (void)canvas, (void)scale;
  if (softness_ > 0) sgStackBlur(bitmap, int(Trunc(softness_ * 15)), true);
}

// ---- glow and inner glow
CL_CLASS(TsgGlowEffect) {
  c.Float("Softness", &TsgGlowEffect::Softness, &TsgGlowEffect::SetSoftness,
          &classlib::TypeInfo_Single)
      .FloatDefault(static_cast<double>(0.4f));
  c.Float("Opacity", &TsgGlowEffect::Opacity, &TsgGlowEffect::SetOpacity,
          &classlib::TypeInfo_Single)
      .FloatDefault(static_cast<double>(0.9f));
  c.Str("GlowColor", &TsgGlowEffect::GlowColorText, &TsgGlowEffect::SetGlowColorText)
      .Stored(&TsgGlowEffect::GlowColorStored);
}

void TsgGlowEffect::SetSoftness(float v) { Change(softness_, Clamp(v, 0, 9)); }
void TsgGlowEffect::SetOpacity(float v) { Change(opacity_, Clamp(v, 0, 1)); }

TsgRect TsgGlowEffect::GetRect(const TsgRect& r) const {
  return Inflated(r, Trunc(softness_ * 23) + 4);
}

TsgPoint TsgGlowEffect::GetOffset() const {
  const float s = Trunc(softness_ * 23) + 4;
  return {s, s};
}

void TsgGlowEffect::ProcessEffect(TsgCanvas* canvas, TsgBitmap& bitmap, const TsgPoint& scale) {
  (void)canvas, (void)scale;
  Silhouette(bitmap, color_, opacity_, int(Trunc(softness_ * 10 + 5)), 0, 0);
}

CL_CLASS(TsgInnerGlowEffect) {}

TsgInnerGlowEffect::TsgInnerGlowEffect(TComponent* AOwner) : TsgGlowEffect(AOwner) {
  paintOverObject_ = true;
}

TsgRect TsgInnerGlowEffect::GetRect(const TsgRect& r) const {
  return Inflated(r, Trunc(Softness() * 20));
}

TsgPoint TsgInnerGlowEffect::GetOffset() const {
  const float s = Trunc(Softness() * 20);
  return {s, s};
}

void TsgInnerGlowEffect::ProcessEffect(TsgCanvas* canvas, TsgBitmap& bitmap,
                                       const TsgPoint& scale) {
  // The inverted silhouette glows into the object and is cut away outside.
  bitmap.InvertAlpha();
  TsgGlowEffect::ProcessEffect(canvas, bitmap, scale);
}

// ---- bevel
CL_CLASS(TsgBevelEffect) {
  c.Float("Direction", &TsgBevelEffect::Direction, &TsgBevelEffect::SetDirection,
          &classlib::TypeInfo_Single)
      .FloatDefault(45.0);
  c.Int("Size", &TsgBevelEffect::Size, &TsgBevelEffect::SetSize).Default(10);
}

TsgBevelEffect::TsgBevelEffect(TComponent* AOwner) : TsgEffect(AOwner) { disablePaint_ = true; }

TsgRect TsgBevelEffect::GetRect(const TsgRect& r) const { return Inflated(r, 5); }

void TsgBevelEffect::ProcessEffect(TsgCanvas* canvas, TsgBitmap& bitmap, const TsgPoint& scale) {
  (void)canvas, (void)scale;
  if (size_ == 0) return;
  const int w = bitmap.Width(), h = bitmap.Height();
  uint32_t* bits = bitmap.Bits();
  if (!bits) return;
  TsgBitmap relief(w, h);
  std::copy(bits, bits + size_t(w) * size_t(h), relief.Bits());
  sgStackBlur(relief, size_, true);
  const uint32_t* rb = relief.Bits();
  auto alpha = [rb, w](int x, int y) {
    return float(rb[size_t(y) * size_t(w) + size_t(x)] >> 24) / 255;
  };
  const float lx = DegCos(direction_), lz = DegSin(direction_);
  const float lightLength = std::sqrt(lx * lx + lz * lz);
  const float gain = float(size_) * 0.4f;
  for (int y = 0; y + 1 < h; ++y)
    for (int x = 0; x + 1 < w; ++x) {
      uint32_t& p = bits[size_t(y) * size_t(w) + size_t(x)];
      if ((p >> 24) == 0) continue;
      const float a0 = alpha(x + 1, y + 1);
      const float nx = -(alpha(x + 1, y) - a0), nz = -(alpha(x, y + 1) - a0);
      const float lengths = lightLength * std::sqrt(nx * nx + 1 + nz * nz);
      const float cosine = lengths <= 1e-40f ? 1 : (lx * nx + lz * nz) / lengths;
      const TsgColor lit = sgChangeHSL(sgUnpremultiplyAlpha(p), 0, 0, cosine * gain);
      p = sgPremultiplyAlpha(lit);
    }
  bitmap.NeedUpdate = true;
  bitmap.BitmapChanged();
}

// ---- reflection
CL_CLASS(TsgReflectionEffect) {
  c.Int("Offset", &TsgReflectionEffect::Offset, &TsgReflectionEffect::SetOffset).Default(0);
  c.Float("Opacity", &TsgReflectionEffect::Opacity, &TsgReflectionEffect::SetOpacity,
          &classlib::TypeInfo_Single)
      .FloatDefault(0.5);
  c.Float("Length", &TsgReflectionEffect::Length, &TsgReflectionEffect::SetLength,
          &classlib::TypeInfo_Single)
      .FloatDefault(0.5);
}

void TsgReflectionEffect::SetLength(float v) { Change(length_, Clamp(v, 0.1f, 1)); }

TsgRect TsgReflectionEffect::GetRect(const TsgRect& r) const {
  TsgRect e = Inflated(r, 2);
  sgOffsetRect(e, 0, sgRectHeight(r) + float(offset_));
  return e;
}

void TsgReflectionEffect::ProcessEffect(TsgCanvas* canvas, TsgBitmap& bitmap,
                                        const TsgPoint& scale) {
  (void)canvas, (void)scale;
  bitmap.FlipVertical();
  const int w = bitmap.Width(), h = bitmap.Height();
  uint32_t* bits = bitmap.Bits();
  if (!bits) return;
  const int b = int(std::lround(float(h - 1) * length_));
  for (int r = 0; r < h; ++r) {
    uint32_t* row = bits + size_t(r) * size_t(w);
    if (r >= b) {
      std::fill(row, row + w, 0u);
      continue;
    }
    const float fade = opacity_ * float(b - r) / float(b);
    for (int x = 0; x < w; ++x)
      row[x] = sgPremultiplyAlpha(sgOpacityColor(sgUnpremultiplyAlpha(row[x]), fade));
  }
  bitmap.NeedUpdate = true;
  bitmap.BitmapChanged();
}

void RegisterEffectClasses() {
  static bool registered = false;
  if (registered) return;
  registered = true;
  classlib::RegisterClass(TsgEffect::StaticClass());
  RegisterSceneClasses("Effects",
                       {TsgShadowEffect::StaticClass(), TsgBlurEffect::StaticClass(),
                        TsgGlowEffect::StaticClass(), TsgInnerGlowEffect::StaticClass(),
                        TsgBevelEffect::StaticClass(), TsgReflectionEffect::StaticClass()});
}

}  // namespace kelm::scene
