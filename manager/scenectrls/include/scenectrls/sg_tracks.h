// The value controls: a draggable thumb, the track that places it for a
// value between Min and Max, the track bar, and the scroll bar built from
// two tracks and four arrow buttons found in its style.
#pragma once

#include "scene/sg_control.h"
#include "scenectrls/sg_buttons.h"

namespace kelm::scenectrls {

enum TsgOrientation { sgHorizontal, sgVertical };
extern const classlib::TTypeInfo TypeInfo_TsgOrientation;

class TsgCustomTrack;

// Dragged, it sets its track's value from the pointer.
class TsgThumb : public scene::TsgControl {
  CL_DECLARE_CLASS(TsgThumb, TsgControl)
 public:
  explicit TsgThumb(classlib::TComponent* AOwner);
  // Set by the track each time it looks its thumb up; not owned.
  TsgCustomTrack* Track() const { return track_; }
  void SetTrack(TsgCustomTrack* track) { track_ = track; }
  bool Pressing() const { return pressing_; }

  void MouseDown(scene::TMouseButton button, scene::TShiftState shift, float x, float y) override;
  void MouseMove(scene::TShiftState shift, float x, float y, float dx, float dy) override;
  void MouseUp(scene::TMouseButton button, scene::TShiftState shift, float x, float y) override;

 private:
  TsgCustomTrack* track_ = nullptr;
  float pressX_ = 0, pressY_ = 0;
  bool pressing_ = false;
};

class TsgCustomTrack : public scene::TsgControl {
  CL_DECLARE_CLASS(TsgCustomTrack, TsgControl)
 public:
  explicit TsgCustomTrack(classlib::TComponent* AOwner);

  classlib::TNotifyEvent OnChange;
  // While the thumb is dragged.
  classlib::TNotifyEvent OnTracking;
  float Value() const { return value_; }
  // Snapped to Frequency, stored, clamped to Min..Max - ViewportSize;
  // reports (OnTracking while dragged, bound controls with Tracking,
  // OnChange unless dragged without Tracking) and moves the thumb.
  void SetValue(float v);
  float Min() const { return min_; }
  float Max() const { return max_; }
  float ViewportSize() const { return viewportSize_; }
  void SetViewportSize(float v);
  TsgOrientation Orientation() const { return orientation_; }
  void SetOrientation(TsgOrientation v);
  bool Tracking() const { return tracking_; }
  void SetTracking(bool v) { tracking_ = v; }
  float Frequency() const { return frequency_; }
  void SetFrequency(float v);

  // ---- virtual operations added, in slot order
  virtual void SetMax(float v);
  virtual void SetMin(float v);

  // The style part "thumb" when it is a thumb (told its track), else none.
  TsgThumb* Thumb();
  // True while the thumb is dragged.
  bool Dragging();
  // The thumb's rectangle in local coordinates.
  scene::TsgRect GetThumbRect();
  // What a drag without Tracking withheld, reported once on release:
  // bound controls, then OnChange.
  void ReportValue();
  // Min, Max and Value stored as they are, for the scroll bar that owns
  // this track as a style part.
  void StoreRange(float min, float max, float value);

  classlib::TVariant GetData() override;
  void SetData(const classlib::TVariant& value) override;
  void Realign() override;
  void MouseDown(scene::TMouseButton button, scene::TShiftState shift, float x, float y) override;
  void KeyDown(uint16_t& key, char16_t& keyChar, scene::TShiftState shift) override;

 private:
  float value_ = 0, min_ = 0, max_ = 100, viewportSize_ = 0;
  TsgOrientation orientation_ = sgHorizontal;
  bool tracking_ = true;
  float frequency_ = 0;
};

class TsgTrack : public TsgCustomTrack {
  CL_DECLARE_CLASS(TsgTrack, TsgCustomTrack)
 public:
  explicit TsgTrack(classlib::TComponent* AOwner) : TsgCustomTrack(AOwner) {}
};

class TsgTrackBar : public TsgCustomTrack {
  CL_DECLARE_CLASS(TsgTrackBar, TsgCustomTrack)
 public:
  explicit TsgTrackBar(classlib::TComponent* AOwner);
  void SetMax(float v) override;
};

class TsgScrollBar : public scene::TsgControl {
  CL_DECLARE_CLASS(TsgScrollBar, TsgControl)
 public:
  explicit TsgScrollBar(classlib::TComponent* AOwner);

  classlib::TNotifyEvent OnChange;
  float Value() const { return value_; }
  void SetValue(float v);
  float Min() const { return min_; }
  void SetMin(float v);
  float Max() const { return max_; }
  void SetMax(float v);
  float ViewportSize() const { return viewportSize_; }
  void SetViewportSize(float v);
  TsgOrientation Orientation() const { return orientation_; }
  void SetOrientation(TsgOrientation v);
  float SmallChange = 1;

  classlib::TVariant GetData() override;
  void SetData(const classlib::TVariant& value) override;
  // Wires the tracks and the arrow buttons of the style, then lays out.
  void Realign() override;

 private:
  void UpdateTrack(const char* part, TsgOrientation orientation);
  void UpdateButton(const char* part, bool visible, bool increment);
  void TrackChanged(classlib::TObject* sender);
  void Decrement(classlib::TObject* sender);
  void Increment(classlib::TObject* sender);

  float value_ = 0, min_ = 0, max_ = 100, viewportSize_ = 0;
  TsgOrientation orientation_ = sgHorizontal;
  bool inRealign_ = false;
};

class TsgSmallScrollBar : public TsgScrollBar {
  CL_DECLARE_CLASS(TsgSmallScrollBar, TsgScrollBar)
 public:
  explicit TsgSmallScrollBar(classlib::TComponent* AOwner);
};

}  // namespace kelm::scenectrls
