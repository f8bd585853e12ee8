// Caption controls without input: the label that can size itself to its
// text, the value label, and the group box.
#pragma once

#include "scenectrls/sg_text_control.h"

namespace kelm::scenectrls {

class TsgLabel : public TsgTextControl {
  CL_DECLARE_CLASS(TsgLabel, TsgTextControl)
 public:
  explicit TsgLabel(classlib::TComponent* AOwner);
  bool AutoSize() const { return autoSize_; }
  // Switching it on sizes the label to its text at once.
  void SetAutoSize(bool v);
  // With AutoSize, a new text resizes the label.
  void ChangeText(const std::u16string& value) override;
  void ApplyStyle() override;

 private:
  bool autoSize_ = false;
};

class TsgValueLabel : public TsgLabel {
  CL_DECLARE_CLASS(TsgValueLabel, TsgLabel)
 public:
  explicit TsgValueLabel(classlib::TComponent* AOwner);
};

// Frame and caption come from its style.
class TsgGroupBox : public TsgTextControl {
  CL_DECLARE_CLASS(TsgGroupBox, TsgTextControl)
 public:
  explicit TsgGroupBox(classlib::TComponent* AOwner);
};

}  // namespace kelm::scenectrls
