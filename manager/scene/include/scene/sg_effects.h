// Effects: non-visual children of a visual object that change how it is
// drawn. The object and its subtree are rendered into an offscreen bitmap,
// the effect processes it (blur, recolour, light, mirror), and the result is
// drawn under, over or instead of the object. Each effect keeps its own
// image; the object's EffectsDirty flag says when they are all stale.
#pragma once

#include <cstdint>
#include <string>

#include "scene/sg_object.h"
#include "scene/sg_types.h"

namespace kelm::scene {

class TsgBitmap;
class TsgCanvas;

// Blurs a bitmap in place with triangular weights (radius + 1 - |i| for the
// offsets -radius..radius), rows first, then columns, edges clamped to the
// first and last pixel, each sum divided (rounding down) by (radius + 1)^2.
// Radius 0 or less does nothing; the alpha channel is blurred only when
// asked.
void sgStackBlur(TsgBitmap& bitmap, int radius, bool blurAlpha);

// The largest side of an effect image, in pixels.
constexpr float MaxEffectSide = 16384;

class TsgEffect : public TsgObject {
  CL_DECLARE_CLASS(TsgEffect, TsgObject)
 public:
  explicit TsgEffect(classlib::TComponent* AOwner);
  ~TsgEffect() override;

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  const std::string& Trigger() const { return trigger_; }
  void SetTrigger(const std::string& v) { trigger_ = v; }
  // The object itself is not painted, only the effect image.
  bool DisablePaint() const { return disablePaint_; }
  // The effect image is drawn after the object instead of before it.
  bool PaintOverObject() const { return paintOverObject_; }
  // The image this effect made last; none before the first render.
  TsgBitmap* Image() const { return image_; }

  // ---- virtual operations, in slot order after TsgObject's
  // The area the effect image needs for an object rectangle.
  virtual TsgRect GetRect(const TsgRect& r) const { return r; }
  // Where the object's own image lies inside the effect image.
  virtual TsgPoint GetOffset() const { return {0, 0}; }
  // Transforms the object's image (premultiplied) in place.
  virtual void ProcessEffect(TsgCanvas* canvas, TsgBitmap& bitmap, const TsgPoint& scale) {
    (void)canvas, (void)bitmap, (void)scale;
  }
  // Enables or disables the effect by its Trigger text.
  virtual void ApplyTrigger(classlib::TObject* instance, const std::string& trigger);

  // Marks the visual parent's effect images stale and repaints the area
  // this effect covers (also when it has just been turned off).
  void UpdateParentEffect();
  // The image, made on first use.
  TsgBitmap* EnsureImage();

  // ---- TsgObject roads
  bool IsEffectObject() const override { return true; }
  void EffectApplyTrigger(classlib::TObject* instance, const std::string& trigger) override {
    ApplyTrigger(instance, trigger);
  }
  bool EffectEnabled() const override { return enabled_ || countedEnabled_; }
  TsgRect EffectRect(const TsgRect& r) const override { return GetRect(r); }
  bool EffectDisablesPaint() const override { return disablePaint_; }
  bool EffectPaintsOver() const override { return paintOverObject_; }

 protected:
  bool disablePaint_ = false;
  bool paintOverObject_ = false;
  // Stores a changed value and refreshes the parent.
  template <typename T>
  void Change(T& field, T value) {
    if (field == value) return;
    field = value;
    UpdateParentEffect();
  }

 private:
  bool enabled_ = true;
  // Set while the parent repaints for a change of this effect.
  bool countedEnabled_ = false;
  std::string trigger_;
  TsgBitmap* image_ = nullptr;
};

class TsgShadowEffect : public TsgEffect {
  CL_DECLARE_CLASS(TsgShadowEffect, TsgEffect)
 public:
  explicit TsgShadowEffect(classlib::TComponent* AOwner) : TsgEffect(AOwner) {}
  float Distance() const { return distance_; }
  void SetDistance(float v) { Change(distance_, v); }
  float Direction() const { return direction_; }
  void SetDirection(float v) { Change(direction_, v); }
  float Softness() const { return softness_; }
  void SetSoftness(float v);
  float Opacity() const { return opacity_; }
  void SetOpacity(float v);
  TsgColor ShadowColor() const { return color_; }
  void SetShadowColor(TsgColor v) { Change(color_, v); }
  std::string ShadowColorText() const { return sgColorToStr(color_); }
  void SetShadowColorText(const std::string& v) { SetShadowColor(sgStrToColor(v)); }
  bool ShadowColorStored() const { return color_ != 0xFF000000u; }

  TsgRect GetRect(const TsgRect& r) const override;
  TsgPoint GetOffset() const override;
  void ProcessEffect(TsgCanvas* canvas, TsgBitmap& bitmap, const TsgPoint& scale) override;

 private:
  float distance_ = 3, direction_ = 45, softness_ = 0.3f, opacity_ = 0.6f;
  TsgColor color_ = 0xFF000000u;
};

class TsgBlurEffect : public TsgEffect {
  CL_DECLARE_CLASS(TsgBlurEffect, TsgEffect)
 public:
  explicit TsgBlurEffect(classlib::TComponent* AOwner);
  float Softness() const { return softness_; }
  void SetSoftness(float v);

  TsgRect GetRect(const TsgRect& r) const override;
  TsgPoint GetOffset() const override;
  void ProcessEffect(TsgCanvas* canvas, TsgBitmap& bitmap, const TsgPoint& scale) override;

 private:
  float softness_ = 0.3f;
};

class TsgGlowEffect : public TsgEffect {
  CL_DECLARE_CLASS(TsgGlowEffect, TsgEffect)
 public:
  explicit TsgGlowEffect(classlib::TComponent* AOwner) : TsgEffect(AOwner) {}
  float Softness() const { return softness_; }
  void SetSoftness(float v);
  float Opacity() const { return opacity_; }
  void SetOpacity(float v);
  TsgColor GlowColor() const { return color_; }
  void SetGlowColor(TsgColor v) { Change(color_, v); }
  std::string GlowColorText() const { return sgColorToStr(color_); }
  void SetGlowColorText(const std::string& v) { SetGlowColor(sgStrToColor(v)); }
  bool GlowColorStored() const { return color_ != 0xFFFFD700u; }

  TsgRect GetRect(const TsgRect& r) const override;
  TsgPoint GetOffset() const override;
  void ProcessEffect(TsgCanvas* canvas, TsgBitmap& bitmap, const TsgPoint& scale) override;

 private:
  float softness_ = 0.4f, opacity_ = 0.9f;
  TsgColor color_ = 0xFFFFD700u;
};

class TsgInnerGlowEffect : public TsgGlowEffect {
  CL_DECLARE_CLASS(TsgInnerGlowEffect, TsgGlowEffect)
 public:
  explicit TsgInnerGlowEffect(classlib::TComponent* AOwner);

  TsgRect GetRect(const TsgRect& r) const override;
  TsgPoint GetOffset() const override;
  void ProcessEffect(TsgCanvas* canvas, TsgBitmap& bitmap, const TsgPoint& scale) override;
};

class TsgBevelEffect : public TsgEffect {
  CL_DECLARE_CLASS(TsgBevelEffect, TsgEffect)
 public:
  explicit TsgBevelEffect(classlib::TComponent* AOwner);
  float Direction() const { return direction_; }
  void SetDirection(float v) { Change(direction_, v); }
  int32_t Size() const { return size_; }
  void SetSize(int32_t v) { Change(size_, v); }

  TsgRect GetRect(const TsgRect& r) const override;
  TsgPoint GetOffset() const override { return {5, 5}; }
  void ProcessEffect(TsgCanvas* canvas, TsgBitmap& bitmap, const TsgPoint& scale) override;

 private:
  float direction_ = 45;
  int32_t size_ = 10;
};

class TsgReflectionEffect : public TsgEffect {
  CL_DECLARE_CLASS(TsgReflectionEffect, TsgEffect)
 public:
  explicit TsgReflectionEffect(classlib::TComponent* AOwner) : TsgEffect(AOwner) {}
  int32_t Offset() const { return offset_; }
  void SetOffset(int32_t v) { Change(offset_, v); }
  float Opacity() const { return opacity_; }
  void SetOpacity(float v) { Change(opacity_, v); }
  float Length() const { return length_; }
  void SetLength(float v);

  TsgRect GetRect(const TsgRect& r) const override;
  TsgPoint GetOffset() const override { return {2, 2}; }
  void ProcessEffect(TsgCanvas* canvas, TsgBitmap& bitmap, const TsgPoint& scale) override;

 private:
  int32_t offset_ = 0;
  float opacity_ = 0.5f, length_ = 0.5f;
};

// Registers the six effect classes under "Effects" (once).
void RegisterEffectClasses();

}  // namespace kelm::scene
