// The progress bar (an indicator sized to the value along its track) and
// the angle dial.
#pragma once

#include "scene/sg_control.h"
#include "scenectrls/sg_tracks.h"

namespace kelm::scenectrls {

class TsgProgressBar : public scene::TsgControl {
  CL_DECLARE_CLASS(TsgProgressBar, TsgControl)
 public:
  explicit TsgProgressBar(classlib::TComponent* AOwner);
  float Min() const { return min_; }
  // Min and Max are only stored: the indicator follows at the next realign.
  void SetMin(float v) { min_ = v; }
  float Value() const { return value_; }
  void SetValue(float v);
  float Max() const { return max_; }
  void SetMax(float v) { max_ = v; }
  TsgOrientation Orientation() const { return orientation_; }
  void SetOrientation(TsgOrientation v);

  classlib::TVariant GetData() override;
  void SetData(const classlib::TVariant& value) override;
  void ApplyStyle() override;
  // Sizes the indicator of the orientation to the value along the track
  // part; one shorter than 3 is hidden.
  void Realign() override;

 private:
  float min_ = 0, value_ = 0, max_ = 100;
  TsgOrientation orientation_ = sgHorizontal;
  bool inRealign_ = false;
};

// A dial turned by dragging around its centre; Value in degrees.
class TsgAngleButton : public scene::TsgControl {
  CL_DECLARE_CLASS(TsgAngleButton, TsgControl)
 public:
  explicit TsgAngleButton(classlib::TComponent* AOwner);
  classlib::TNotifyEvent OnChange;
  float Value() const { return value_; }
  void SetValue(float v);
  float Frequency = 0;
  bool Tracking = true;
  bool ShowValue() const { return showValue_; }
  void SetShowValue(bool v);
  // The value as the dial shows it: whole degrees and the degree sign.
  std::u16string ValueText() const;

  classlib::TVariant GetData() override;
  void SetData(const classlib::TVariant& value) override;
  void ApplyStyle() override;
  void MouseDown(scene::TMouseButton button, scene::TShiftState shift, float x, float y) override;
  void MouseMove(scene::TShiftState shift, float x, float y, float dx, float dy) override;
  void MouseUp(scene::TMouseButton button, scene::TShiftState shift, float x, float y) override;

 private:
  void UpdateTexts();
  bool pressing_ = false;
  float lastX_ = 0, lastY_ = 0;
  float valueAtPress_ = 0;
  float value_ = 0;
  bool showValue_ = false;
};

}  // namespace kelm::scenectrls
