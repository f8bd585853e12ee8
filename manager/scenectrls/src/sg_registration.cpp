// The start-up table of the scene controls. The order and the categories
// are what the designer lists; classes still to come take their places in
// the lists below.
#include "scenectrls/sg_registration.h"

#include "scene/sg_classes.h"
#include "scene/sg_control.h"
#include "scenectrls/sg_buttons.h"
#include "scenectrls/sg_check_boxes.h"
#include "scenectrls/sg_labels.h"
#include "scenectrls/sg_layouts.h"
#include "scenectrls/sg_memo.h"
#include "scenectrls/sg_panels.h"
#include "scenectrls/sg_popup_box.h"
#include "scenectrls/sg_tab_control.h"
#include "scenectrls/sg_tracks.h"
#include "scenectrls/sg_value_controls.h"

namespace kelm::scenectrls {

void RegisterSceneControlClasses() {
  static bool done = false;
  if (done) return;
  done = true;
  scene::RegisterSceneCoreClasses();
  // Streaming only: parts of other controls, not offered by the designer.
  classlib::RegisterClasses({TsgSelectionItem::StaticClass(), TsgThumb::StaticClass(),
                             TsgExpanderButton::StaticClass(), TsgScrollContent::StaticClass()});
  // The Win32 start-up adds the window-control layout to "Layout".
  scene::RegisterSceneClasses("Layout",
                              {TsgLayout::StaticClass(), TsgScaledLayout::StaticClass(),
                               TsgGridLayout::StaticClass(), TsgSplitLayout::StaticClass()});
  scene::RegisterSceneClasses("Windows",
                              {scene::TsgBackground::StaticClass(), TsgSizeGrip::StaticClass(),
                               TsgCloseButton::StaticClass()});
  scene::RegisterSceneClasses("Boxes", {TsgCheckBox::StaticClass(), TsgPathCheckBox::StaticClass(),
                                        TsgRadioButton::StaticClass(), TsgGroupBox::StaticClass(),
                                        TsgPopupBox::StaticClass()});
  scene::RegisterSceneClasses(
      "Controls",
      {TsgPanel::StaticClass(), TsgCalloutPanel::StaticClass(), TsgLabel::StaticClass(),
       TsgValueLabel::StaticClass(), TsgProgressBar::StaticClass(), TsgTrack::StaticClass(),
       TsgScrollBar::StaticClass(), TsgSmallScrollBar::StaticClass(), TsgTrackBar::StaticClass(),
       TsgScrollBox::StaticClass(), TsgVertScrollBox::StaticClass(),
       TsgFramedScrollBox::StaticClass(), TsgFramedVertScrollBox::StaticClass(),
       TsgTabControl::StaticClass()});
  scene::RegisterSceneClasses("Text Edits", {TsgMemo::StaticClass()});
  scene::RegisterSceneClasses("Items", {TsgTabItem::StaticClass(), TsgHudTabItem::StaticClass()});
  scene::RegisterSceneClasses("Tool and Status",
                              {TsgStatusBar::StaticClass(), TsgToolBar::StaticClass()});
  scene::RegisterSceneClasses("Buttons",
                              {TsgButton::StaticClass(), TsgRoundButton::StaticClass(),
                               TsgCircleButton::StaticClass(), TsgSpeedButton::StaticClass(),
                               TsgAngleButton::StaticClass(), TsgPopupButton::StaticClass()});
  // TsgWindow is reached only as the HUD window's base.
  scene::RegisterSceneClasses("HUD",
                              {TsgHudPanel::StaticClass(),       TsgHudWindow::StaticClass(),
                               TsgHudButton::StaticClass(),      TsgHudSpeedButton::StaticClass(),
                               TsgHudAngleButton::StaticClass(), TsgHudTrack::StaticClass(),
                               TsgHudTrackBar::StaticClass(),    TsgHudScrollBar::StaticClass(),
                               TsgHudPopupBox::StaticClass(),    TsgHudLabel::StaticClass(),
                               TsgHudCheckBox::StaticClass(),    TsgHudRadioButton::StaticClass(),
                               TsgHudGroupBox::StaticClass(),    TsgHudCloseButton::StaticClass(),
                               TsgHudStatusBar::StaticClass(),   TsgHudSizeGrip::StaticClass(),
                               TsgHudRoundButton::StaticClass(), TsgHudCircleButton::StaticClass(),
                               TsgHudTabControl::StaticClass(),  TsgHudMemo::StaticClass()});
}

}  // namespace kelm::scenectrls
