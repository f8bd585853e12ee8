// The start-up table of the scene controls. The order and the categories
// are what the designer lists; classes still to come take their places in
// the lists below.
#include "scenectrls/sg_registration.h"

#include "scene/sg_classes.h"
#include "scene/sg_control.h"
#include "scenectrls/sg_buttons.h"
#include "scenectrls/sg_check_boxes.h"
#include "scenectrls/sg_labels.h"
#include "scenectrls/sg_popup_box.h"

namespace kelm::scenectrls {

void RegisterSceneControlClasses() {
  static bool done = false;
  if (done) return;
  done = true;
  scene::RegisterSceneCoreClasses();
  // Streaming only: parts of other controls, not offered by the designer.
  classlib::RegisterClasses({TsgExpanderButton::StaticClass()});
  scene::RegisterSceneClasses("Windows",
                              {scene::TsgBackground::StaticClass(), TsgCloseButton::StaticClass()});
  scene::RegisterSceneClasses("Boxes", {TsgCheckBox::StaticClass(), TsgPathCheckBox::StaticClass(),
                                        TsgRadioButton::StaticClass(), TsgGroupBox::StaticClass(),
                                        TsgPopupBox::StaticClass()});
  scene::RegisterSceneClasses("Controls", {TsgLabel::StaticClass(), TsgValueLabel::StaticClass()});
  scene::RegisterSceneClasses(
      "Buttons",
      {TsgButton::StaticClass(), TsgRoundButton::StaticClass(), TsgCircleButton::StaticClass(),
       TsgSpeedButton::StaticClass(), TsgPopupButton::StaticClass()});
}

}  // namespace kelm::scenectrls
