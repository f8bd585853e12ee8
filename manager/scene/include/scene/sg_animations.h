// The animation classes: each drives a property of its parent, named by
// text and reached through the published properties, so any published
// property of a scene object (or of an object reached through its published
// object properties, "Position.Y") can be animated without code.
#pragma once

#include <memory>
#include <string>

#include "classlib/collection.h"
#include "classlib/typinfo.h"
#include "scene/sg_animation.h"
#include "scene/sg_bitmap.h"
#include "scene/sg_bounds.h"
#include "scene/sg_brush.h"
#include "scene/sg_path.h"
#include "scene/sg_spline.h"

namespace kelm::scene {

// The object and property an animation writes. Resolved from the parent by
// PropertyName: each segment before a "." that names a published object
// property steps into that object; the rest is the property's name.
struct TsgAnimationTarget {
  classlib::TObject* Object = nullptr;
  std::string Name;

  bool Resolved() const { return Object != nullptr; }
  // Only with a parent and a name, and only when nothing is resolved yet.
  // A component stepped into on the way (a reference property) may be
  // freed before the animation: the watcher is told of its free.
  void Resolve(TsgObject* parent, const std::string& propertyName, classlib::TComponent* watcher);
  // The last component stepped into below the parent, or none.
  classlib::TComponent* Holder = nullptr;
  void Clear() {
    Object = nullptr;
    Holder = nullptr;
    Name.clear();
  }
  // The published property, or none.
  const classlib::TPropInfo* Prop() const;
  // Reads and writes; a property of an unsuitable kind is left alone (the
  // reads then answer false).
  bool ReadFloat(float& v) const;
  void WriteFloat(float v) const;
  // Colour text in a string property, or ARGB in an integer one.
  bool ReadColor(TsgColor& c) const;
  void WriteColor(TsgColor c) const;
  classlib::TObject* ReadObject() const;
  // Through the property's setter, when it takes objects of class cls.
  void WriteObject(classlib::TObject* value, classlib::TClass cls) const;
};

// The shared part of the classes driven by PropertyName.
#define VH_SG_PROPERTY_TARGET                                                                   \
 public:                                                                                        \
  const std::string& PropertyName() const { return propertyName_; }                             \
  void SetPropertyName(const std::string& v) { propertyName_ = v; }                             \
  const TsgAnimationTarget& Target() const { return target_; }                                  \
  void ParentChanged() override { target_.Clear(); }                                            \
  void Notification(classlib::TComponent* component, classlib::TOperation operation) override { \
    TsgAnimation::Notification(component, operation);                                           \
    if (operation == classlib::TOperation::opRemove && component == target_.Holder)             \
      target_.Clear();                                                                          \
  }                                                                                             \
                                                                                                \
 protected:                                                                                     \
  std::string propertyName_;                                                                    \
  TsgAnimationTarget target_

class TsgFloatAnimation : public TsgAnimation {
  CL_DECLARE_CLASS(TsgFloatAnimation, TsgAnimation)
  VH_SG_PROPERTY_TARGET;

 public:
  explicit TsgFloatAnimation(classlib::TComponent* AOwner);
  void ProcessAnimation() override;
  void Start() override;

  float StartValue() const { return startValue_; }
  void SetStartValue(float v) { startValue_ = v; }
  float StopValue() const { return stopValue_; }
  void SetStopValue(float v) { stopValue_ = v; }
  bool StartFromCurrent() const { return startFromCurrent_; }
  void SetStartFromCurrent(bool v) { startFromCurrent_ = v; }
  // The finish handler of the code-made animations: frees this animation.
  void FreeOnFinish(classlib::TObject* sender);

 protected:
  void BeforeFinish() override { target_.Clear(); }

 private:
  float startValue_ = 0;
  float stopValue_ = 0;
  bool startFromCurrent_ = false;
};

class TsgColorAnimation : public TsgAnimation {
  CL_DECLARE_CLASS(TsgColorAnimation, TsgAnimation)
  VH_SG_PROPERTY_TARGET;

 public:
  explicit TsgColorAnimation(classlib::TComponent* AOwner);
  void ProcessAnimation() override;
  void Start() override;

  std::string StartValue() const { return sgColorToStr(startValue_); }
  void SetStartValue(const std::string& v) { startValue_ = sgStrToColor(v); }
  std::string StopValue() const { return sgColorToStr(stopValue_); }
  void SetStopValue(const std::string& v) { stopValue_ = sgStrToColor(v); }
  bool StartFromCurrent() const { return startFromCurrent_; }
  void SetStartFromCurrent(bool v) { startFromCurrent_ = v; }

 private:
  TsgColor startValue_ = 0xFFFFFFFFu;
  TsgColor stopValue_ = 0xFFFFFFFFu;
  bool startFromCurrent_ = false;
};

class TsgGradientAnimation : public TsgAnimation {
  CL_DECLARE_CLASS(TsgGradientAnimation, TsgAnimation)
  VH_SG_PROPERTY_TARGET;

 public:
  explicit TsgGradientAnimation(classlib::TComponent* AOwner);
  ~TsgGradientAnimation() override;
  void ProcessAnimation() override;
  void Start() override;

  TsgGradient* StartValue() const { return startValue_; }
  void SetStartValue(TsgGradient* v) { startValue_->Assign(v); }
  TsgGradient* StopValue() const { return stopValue_; }
  void SetStopValue(TsgGradient* v) { stopValue_->Assign(v); }
  bool StartFromCurrent() const { return startFromCurrent_; }
  void SetStartFromCurrent(bool v) { startFromCurrent_ = v; }

 private:
  TsgGradient* startValue_;
  TsgGradient* stopValue_;
  bool startFromCurrent_ = false;
};

class TsgRectAnimation : public TsgAnimation {
  CL_DECLARE_CLASS(TsgRectAnimation, TsgAnimation)
  VH_SG_PROPERTY_TARGET;

 public:
  explicit TsgRectAnimation(classlib::TComponent* AOwner);
  ~TsgRectAnimation() override;
  void ProcessAnimation() override;
  void Start() override;

  TsgBounds* StartValue() const { return startValue_; }
  void SetStartValue(TsgBounds* v) { startValue_->Assign(v); }
  TsgBounds* StopValue() const { return stopValue_; }
  void SetStopValue(TsgBounds* v) { stopValue_->Assign(v); }
  bool StartFromCurrent() const { return startFromCurrent_; }
  void SetStartFromCurrent(bool v) { startFromCurrent_ = v; }

 private:
  TsgBounds* startValue_;
  TsgBounds* stopValue_;
  TsgBounds* current_;
  bool startFromCurrent_ = false;
};

class TsgBitmapAnimation : public TsgAnimation {
  CL_DECLARE_CLASS(TsgBitmapAnimation, TsgAnimation)
  VH_SG_PROPERTY_TARGET;

 public:
  explicit TsgBitmapAnimation(classlib::TComponent* AOwner);
  ~TsgBitmapAnimation() override;
  void ProcessAnimation() override;

  TsgBitmap* StartValue() const { return startValue_; }
  void SetStartValue(TsgBitmap* v) { startValue_->Assign(v); }
  TsgBitmap* StopValue() const { return stopValue_; }
  void SetStopValue(TsgBitmap* v) { stopValue_->Assign(v); }

 private:
  TsgBitmap* startValue_;
  TsgBitmap* stopValue_;
  TsgBitmap* current_;
};

// AnimationBitmap is a horizontal strip of AnimationCount frames, each
// followed by a one-pixel gap.
class TsgBitmapListAnimation : public TsgAnimation {
  CL_DECLARE_CLASS(TsgBitmapListAnimation, TsgAnimation)
  VH_SG_PROPERTY_TARGET;

 public:
  explicit TsgBitmapListAnimation(classlib::TComponent* AOwner);
  ~TsgBitmapListAnimation() override;
  void ProcessAnimation() override;

  TsgBitmap* AnimationBitmap() const { return strip_; }
  void SetAnimationBitmap(TsgBitmap* v) { strip_->Assign(v); }
  int32_t AnimationCount() const { return count_; }
  void SetAnimationCount(int32_t v) { count_ = v; }
  // The frame shown for the current normalised time.
  int FrameIndex() const;

 private:
  TsgBitmap* strip_;
  TsgBitmap* current_;
  int32_t count_ = 1;
};

// ---- key frames
class TsgKey : public classlib::TCollectionItem {
  CL_DECLARE_CLASS(TsgKey, TCollectionItem)
 public:
  explicit TsgKey(classlib::TCollection* collection);
  float Key() const { return key_; }
  // Clamped to 0..1.
  void SetKey(float v);
  void Assign(classlib::TPersistent* source) override;

 private:
  float key_ = 0;
};

class TsgColorKey : public TsgKey {
  CL_DECLARE_CLASS(TsgColorKey, TsgKey)
 public:
  explicit TsgColorKey(classlib::TCollection* collection);
  std::string Value() const { return sgColorToStr(value_); }
  void SetValue(const std::string& v) { value_ = sgStrToColor(v); }
  TsgColor IntValue() const { return value_; }
  void SetIntValue(TsgColor v) { value_ = v; }
  void Assign(classlib::TPersistent* source) override;

 private:
  TsgColor value_ = 0;
};

class TsgFloatKey : public TsgKey {
  CL_DECLARE_CLASS(TsgFloatKey, TsgKey)
 public:
  explicit TsgFloatKey(classlib::TCollection* collection);
  float Value() const { return value_; }
  void SetValue(float v) { value_ = v; }
  void Assign(classlib::TPersistent* source) override;

 private:
  float value_ = 0;
};

class TsgKeys : public classlib::TCollection {
  CL_DECLARE_CLASS(TsgKeys, TCollection)
 public:
  explicit TsgKeys(classlib::TClass itemClass);
  TsgKey* Keys(int index) const { return static_cast<TsgKey*>(Items(index)); }
  // The pair (k, k + 1) around t and t's fraction between them; false with
  // fewer than two keys, no such pair or equal keys.
  bool FindKeys(float t, int& k, float& fraction) const;
};

class TsgColorKeyAnimation : public TsgAnimation {
  CL_DECLARE_CLASS(TsgColorKeyAnimation, TsgAnimation)
  VH_SG_PROPERTY_TARGET;

 public:
  explicit TsgColorKeyAnimation(classlib::TComponent* AOwner);
  ~TsgColorKeyAnimation() override;
  void ProcessAnimation() override;
  void Start() override;

  TsgKeys* Keys() const { return keys_; }
  void SetKeys(TsgKeys* v) { keys_->Assign(v); }
  bool StartFromCurrent() const { return startFromCurrent_; }
  void SetStartFromCurrent(bool v) { startFromCurrent_ = v; }

 private:
  TsgKeys* keys_;
  bool startFromCurrent_ = false;
};

class TsgFloatKeyAnimation : public TsgAnimation {
  CL_DECLARE_CLASS(TsgFloatKeyAnimation, TsgAnimation)
  VH_SG_PROPERTY_TARGET;

 public:
  explicit TsgFloatKeyAnimation(classlib::TComponent* AOwner);
  ~TsgFloatKeyAnimation() override;
  void ProcessAnimation() override;
  void Start() override;

  TsgKeys* Keys() const { return keys_; }
  void SetKeys(TsgKeys* v) { keys_->Assign(v); }
  bool StartFromCurrent() const { return startFromCurrent_; }
  void SetStartFromCurrent(bool v) { startFromCurrent_ = v; }

 private:
  TsgKeys* keys_;
  bool startFromCurrent_ = false;
};

#undef VH_SG_PROPERTY_TARGET

// Moves its visual parent along Path, relative to where it stood at start.
class TsgPathAnimation : public TsgAnimation {
  CL_DECLARE_CLASS(TsgPathAnimation, TsgAnimation)
 public:
  explicit TsgPathAnimation(classlib::TComponent* AOwner);
  ~TsgPathAnimation() override;
  void ProcessAnimation() override;
  void Start() override;
  void ParentChanged() override { target_ = nullptr; }

  TsgPathData* Path() const { return path_; }
  void SetPath(TsgPathData* v) { path_->Assign(v); }
  bool Rotate() const { return rotate_; }
  void SetRotate(bool v) { rotate_ = v; }
  // Points of the flattened path at the last start (0 without a canvas).
  int PointCount() const { return spline_ ? spline_->PointCount() : 0; }

 private:
  TsgPathData* path_;
  bool rotate_ = false;
  std::unique_ptr<TsgSpline> spline_;
  TsgVisualObject* target_ = nullptr;
  TsgPoint startPos_;
};

// Holds two path texts for the object that reads them; animates nothing.
class TsgPathSwitcher : public TsgAnimation {
  CL_DECLARE_CLASS(TsgPathSwitcher, TsgAnimation)
 public:
  explicit TsgPathSwitcher(classlib::TComponent* AOwner);
  const std::string& PathTrue() const { return pathTrue_; }
  void SetPathTrue(const std::string& v) { pathTrue_ = v; }
  const std::string& PathFalse() const { return pathFalse_; }
  void SetPathFalse(const std::string& v) { pathFalse_ = v; }
  const std::string& PropertyName() const { return propertyName_; }
  void SetPropertyName(const std::string& v) { propertyName_ = v; }

 private:
  std::string pathTrue_;
  std::string pathFalse_;
  std::string propertyName_;
};

// Registers the classes above under "Animations".
void RegisterAnimationClasses();

}  // namespace kelm::scene
