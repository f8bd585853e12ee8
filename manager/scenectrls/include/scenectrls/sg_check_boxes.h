// Check boxes and radio buttons: pressed while the left button is held
// over them, toggled on a release inside (or Enter, Space). A radio button
// unchecks the other buttons of its group across the whole scene.
#pragma once

#include <string>

#include "scene/sg_path.h"
#include "scenectrls/sg_text_control.h"

namespace kelm::scenectrls {

// The press state the check box and the radio button share: IsPressed
// follows the pointer while the left button is held; the release ends it
// without a trigger and reports whether it lay inside.
struct TsgTogglePress {
  bool Pressing = false;
  bool IsPressed = false;
  void Down(TsgTextControl* control, scene::TMouseButton button);
  void Move(TsgTextControl* control, scene::TShiftState shift, float x, float y);
  // True when a press ends with a release inside the control.
  bool Up(TsgTextControl* control, float x, float y);
};

class TsgCheckBox : public TsgTextControl {
  CL_DECLARE_CLASS(TsgCheckBox, TsgTextControl)
 public:
  explicit TsgCheckBox(classlib::TComponent* AOwner);
  classlib::TNotifyEvent OnChange;
  bool IsPressed() const { return press_.IsPressed; }
  bool IsChecked() const { return isChecked_; }
  // Animations of "IsChecked" only, then OnChange.
  void SetIsChecked(bool v);

  classlib::TVariant GetData() override;
  void SetData(const classlib::TVariant& value) override;
  void ApplyStyle() override;
  void MouseDown(scene::TMouseButton button, scene::TShiftState shift, float x, float y) override;
  void MouseMove(scene::TShiftState shift, float x, float y, float dx, float dy) override;
  void MouseUp(scene::TMouseButton button, scene::TShiftState shift, float x, float y) override;
  void KeyDown(uint16_t& key, char16_t& keyChar, scene::TShiftState shift) override;

 private:
  TsgTogglePress press_;
  bool isChecked_ = false;
};

// A check box whose style part "checkmark" (a path) takes Path.
class TsgPathCheckBox : public TsgCheckBox {
  CL_DECLARE_CLASS(TsgPathCheckBox, TsgCheckBox)
 public:
  explicit TsgPathCheckBox(classlib::TComponent* AOwner);
  ~TsgPathCheckBox() override;
  scene::TsgPathData* Path() const { return path_; }
  void SetPath(scene::TsgPathData* v) { path_->Assign(v); }
  void ApplyStyle() override;

 private:
  void PathChanged(classlib::TObject* sender);
  scene::TsgPathData* path_;
};

class TsgRadioButton : public TsgTextControl {
  CL_DECLARE_CLASS(TsgRadioButton, TsgTextControl)
 public:
  explicit TsgRadioButton(classlib::TComponent* AOwner);
  classlib::TNotifyEvent OnChange;
  bool IsPressed() const { return press_.IsPressed; }
  bool IsChecked() const { return isChecked_; }
  // The group rule: checking unchecks the other members (same GroupName,
  // case-sensitive; the empty name is one group); the last checked member,
  // or a button outside a scene, refuses false.
  void SetIsChecked(bool v);
  const std::string& GroupName() const { return groupName_; }
  void SetGroupName(const std::string& v) { groupName_ = v; }

  classlib::TVariant GetData() override;
  void SetData(const classlib::TVariant& value) override;
  void ApplyStyle() override;
  void MouseDown(scene::TMouseButton button, scene::TShiftState shift, float x, float y) override;
  void MouseMove(scene::TShiftState shift, float x, float y, float dx, float dy) override;
  void MouseUp(scene::TMouseButton button, scene::TShiftState shift, float x, float y) override;
  void KeyDown(uint16_t& key, char16_t& keyChar, scene::TShiftState shift) override;

 private:
  TsgTogglePress press_;
  bool isChecked_ = false;
  std::string groupName_;
};

}  // namespace kelm::scenectrls
