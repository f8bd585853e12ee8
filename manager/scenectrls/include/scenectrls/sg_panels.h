// Containers and decorations: panels (plain, callout, status bar, tool
// bar), the selection item, the size grip, in-scene window frames and the
// HUD variants, which differ from their bases only by their styles.
#pragma once

#include "scene/sg_objects.h"
#include "scene/sg_scene_intf.h"
#include "scenectrls/sg_buttons.h"
#include "scenectrls/sg_check_boxes.h"
#include "scenectrls/sg_labels.h"
#include "scenectrls/sg_popup_box.h"
#include "scenectrls/sg_tracks.h"
#include "scenectrls/sg_value_controls.h"

namespace kelm::scenectrls {

class TsgPanel : public scene::TsgControl {
  CL_DECLARE_CLASS(TsgPanel, TsgControl)
 public:
  explicit TsgPanel(classlib::TComponent* AOwner);
};

// Its callout values go to the style part named "Backgound" (so spelt in
// the styles), else to a callout-rectangle style root.
class TsgCalloutPanel : public TsgPanel {
  CL_DECLARE_CLASS(TsgCalloutPanel, TsgPanel)
 public:
  explicit TsgCalloutPanel(classlib::TComponent* AOwner) : TsgPanel(AOwner) {}
  float CalloutLength() const { return calloutLength_; }
  void SetCalloutLength(float v);
  float CalloutWidth() const { return calloutWidth_; }
  void SetCalloutWidth(float v);
  scene::TsgCalloutPosition CalloutPosition() const { return calloutPosition_; }
  void SetCalloutPosition(scene::TsgCalloutPosition v);
  float CalloutOffset() const { return calloutOffset_; }
  void SetCalloutOffset(float v);
  void ApplyStyle() override;

 private:
  float calloutLength_ = 11, calloutWidth_ = 23;
  scene::TsgCalloutPosition calloutPosition_ = scene::sgCalloutTop;
  float calloutOffset_ = 0;
};

class TsgStatusBar : public scene::TsgControl {
  CL_DECLARE_CLASS(TsgStatusBar, TsgControl)
 public:
  explicit TsgStatusBar(classlib::TComponent* AOwner);
  bool ShowSizeGrip() const { return showSizeGrip_; }
  // Reloads the style.
  void SetShowSizeGrip(bool v);
  void ApplyStyle() override;

 private:
  bool showSizeGrip_ = true;
};

class TsgToolBar : public scene::TsgControl {
  CL_DECLARE_CLASS(TsgToolBar, TsgControl)
 public:
  explicit TsgToolBar(classlib::TComponent* AOwner);
};

// Taken into list and combo contents like an item.
class TsgSelectionItem : public scene::TsgControl {
  CL_DECLARE_CLASS(TsgSelectionItem, TsgControl)
 public:
  explicit TsgSelectionItem(classlib::TComponent* AOwner);
  // Its children show only at run time.
  void PaintChildren() override;
};

// Dragging it resizes the host form: the host asks for the marker.
class TsgSizeGrip : public scene::TsgControl, public scene::IsgSizeGripMarker {
  CL_DECLARE_CLASS(TsgSizeGrip, TsgControl)
 public:
  explicit TsgSizeGrip(classlib::TComponent* AOwner) : TsgControl(AOwner) {}
  bool GetInterface(const classlib::TGUID& iid, void** obj) override;
};

class TsgWindow : public TsgTextControl {
  CL_DECLARE_CLASS(TsgWindow, TsgTextControl)
 public:
  explicit TsgWindow(classlib::TComponent* AOwner);
  bool ShowCloseButton() const { return showCloseButton_; }
  void SetShowCloseButton(bool v);
  bool ShowSizeGrip() const { return showSizeGrip_; }
  void SetShowSizeGrip(bool v);
  // Given to the style's close button instead of closing the form.
  classlib::TNotifyEvent OnCloseClick;
  void ApplyStyle() override;

 private:
  bool showCloseButton_ = true, showSizeGrip_ = true;
};

enum TsgCloseAlign { sgButtonAlignLeft, sgButtonAlignRight };
extern const classlib::TTypeInfo TypeInfo_TsgCloseAlign;

class TsgHudWindow : public TsgWindow {
  CL_DECLARE_CLASS(TsgHudWindow, TsgWindow)
 public:
  explicit TsgHudWindow(classlib::TComponent* AOwner);
  ~TsgHudWindow() override;
  scene::TsgBrush* Fill() const { return fill_; }
  void SetFill(scene::TsgBrush* v) { fill_->Assign(v); }
  scene::TsgBrush* Stroke() const { return stroke_; }
  void SetStroke(scene::TsgBrush* v) { stroke_->Assign(v); }
  float StrokeThickness() const { return strokeThickness_; }
  void SetStrokeThickness(float v);
  scene::TsgStrokeCap StrokeCap() const { return strokeCap_; }
  void SetStrokeCap(scene::TsgStrokeCap v);
  scene::TsgStrokeDash StrokeDash() const { return strokeDash_; }
  void SetStrokeDash(scene::TsgStrokeDash v);
  scene::TsgStrokeJoin StrokeJoin() const { return strokeJoin_; }
  void SetStrokeJoin(scene::TsgStrokeJoin v);
  TsgCloseAlign ButtonAlign() const { return buttonAlign_; }
  void SetButtonAlign(TsgCloseAlign v);
  bool ShowCaption() const { return showCaption_; }
  void SetShowCaption(bool v);
  bool DisableShadowOnOSX() const { return disableShadowOnOSX_; }
  void SetDisableShadowOnOSX(bool v);
  bool StrokeThicknessStored() const { return strokeThickness_ != 1; }
  void ApplyStyle() override;

 private:
  void BrushChanged(classlib::TObject* sender);
  // Re-wires the style's parts unless the window is being read.
  void Restyle();
  scene::TsgBrush* fill_;
  float strokeThickness_ = 1;
  scene::TsgBrush* stroke_;
  scene::TsgStrokeCap strokeCap_ = scene::sgCapFlat;
  scene::TsgStrokeDash strokeDash_ = scene::sgDashSolid;
  scene::TsgStrokeJoin strokeJoin_ = scene::sgJoinMiter;
  TsgCloseAlign buttonAlign_ = sgButtonAlignLeft;
  bool showCaption_ = true;
  bool disableShadowOnOSX_ = true;
};

// ---- HUD variants: their own style names, their bases' behaviour.
#define SG_HUD_CLASS(Name, Base)                                  \
  class Name : public Base {                                      \
    CL_DECLARE_CLASS(Name, Base)                                  \
   public:                                                        \
    explicit Name(classlib::TComponent* AOwner) : Base(AOwner) {} \
  };
SG_HUD_CLASS(TsgHudPanel, TsgPanel)
SG_HUD_CLASS(TsgHudButton, TsgButton)
SG_HUD_CLASS(TsgHudRoundButton, TsgButton)
SG_HUD_CLASS(TsgHudCircleButton, TsgCircleButton)
SG_HUD_CLASS(TsgHudSpeedButton, TsgSpeedButton)
SG_HUD_CLASS(TsgHudPopupBox, TsgPopupBox)
SG_HUD_CLASS(TsgHudAngleButton, TsgAngleButton)
SG_HUD_CLASS(TsgHudLabel, TsgLabel)
SG_HUD_CLASS(TsgHudCheckBox, TsgCheckBox)
SG_HUD_CLASS(TsgHudRadioButton, TsgRadioButton)
SG_HUD_CLASS(TsgHudGroupBox, TsgGroupBox)
SG_HUD_CLASS(TsgHudTrack, TsgTrack)
SG_HUD_CLASS(TsgHudTrackBar, TsgTrackBar)
SG_HUD_CLASS(TsgHudScrollBar, TsgScrollBar)
SG_HUD_CLASS(TsgHudCloseButton, TsgCloseButton)
SG_HUD_CLASS(TsgHudSizeGrip, TsgSizeGrip)
SG_HUD_CLASS(TsgHudStatusBar, TsgStatusBar)
#undef SG_HUD_CLASS

}  // namespace kelm::scenectrls
