// A control with a text, standing in for the text control class in tests
// of action captions.
#pragma once

#include <string>

#include "scene/sg_control.h"

namespace kelm::scene {

class TsgTestLabel : public TsgControl {
  CL_DECLARE_CLASS(TsgTestLabel, TsgControl)
 public:
  explicit TsgTestLabel(classlib::TComponent* AOwner) : TsgControl(AOwner) {}
  bool IsTextControl() const override { return true; }
  std::u16string GetText() const override { return Text; }
  void SetText(const std::u16string& text) override { Text = text; }
  std::u16string Text;
};

}  // namespace kelm::scene
