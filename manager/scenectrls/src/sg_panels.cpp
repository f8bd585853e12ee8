// Panels, the size grip, window frames and the HUD variants.
#include "scenectrls/sg_panels.h"

#include "classlib/classdef.h"

namespace kelm::scenectrls {

using classlib::TComponent;
using scene::TsgVisualObject;

const classlib::TTypeInfo TypeInfo_TsgCloseAlign =
    classlib::EnumTypeInfo("TsgCloseAlign", {"sgButtonAlignLeft", "sgButtonAlignRight"});

namespace {
TsgVisualObject* VisualPart(scene::TsgControl* c, const char* name) {
  return dynamic_cast<TsgVisualObject*>(c->FindResource(name));
}

// Writes the current style name again, which loads the style afresh.
void ReloadStyle(scene::TsgControl* c) { c->SetResource(std::string(c->Resource())); }
}  // namespace

// ---- panels
CL_CLASS(TsgPanel) {}

TsgPanel::TsgPanel(TComponent* AOwner) : TsgControl(AOwner) {
  SetWidth(120);
  SetHeight(100);
}

CL_CLASS(TsgCalloutPanel) {
  c.Float("CalloutLength", &TsgCalloutPanel::CalloutLength, &TsgCalloutPanel::SetCalloutLength,
          &classlib::TypeInfo_Single)
      .FloatDefault(11);
  c.Float("CalloutWidth", &TsgCalloutPanel::CalloutWidth, &TsgCalloutPanel::SetCalloutWidth,
          &classlib::TypeInfo_Single)
      .FloatDefault(23);
  c.Enum("CalloutPosition", &TsgCalloutPanel::CalloutPosition, &TsgCalloutPanel::SetCalloutPosition,
         &scene::TypeInfo_TsgCalloutPosition)
      .Default(scene::sgCalloutTop);
  c.Float("CalloutOffset", &TsgCalloutPanel::CalloutOffset, &TsgCalloutPanel::SetCalloutOffset,
          &classlib::TypeInfo_Single);
}

void TsgCalloutPanel::SetCalloutLength(float v) {
  if (v == calloutLength_) return;
  calloutLength_ = v;
  ApplyStyle();
}

void TsgCalloutPanel::SetCalloutWidth(float v) {
  if (v == calloutWidth_) return;
  calloutWidth_ = v;
  ApplyStyle();
}

void TsgCalloutPanel::SetCalloutPosition(scene::TsgCalloutPosition v) {
  if (v == calloutPosition_) return;
  calloutPosition_ = v;
  ApplyStyle();
}

void TsgCalloutPanel::SetCalloutOffset(float v) {
  if (v == calloutOffset_) return;
  calloutOffset_ = v;
  ApplyStyle();
}

void TsgCalloutPanel::ApplyStyle() {
  inherited::ApplyStyle();
  scene::TsgObject* target = FindResource("Backgound");
  if (!target) target = StyleObject();
  auto* callout = dynamic_cast<scene::TsgCalloutRectangle*>(target);
  if (!callout) return;
  callout->SetCalloutWidth(calloutWidth_);
  callout->SetCalloutLength(calloutLength_);
  callout->SetCalloutPosition(calloutPosition_);
  callout->SetCalloutOffset(calloutOffset_);
}

CL_CLASS(TsgStatusBar) {
  c.Bool("ShowSizeGrip", &TsgStatusBar::ShowSizeGrip, &TsgStatusBar::SetShowSizeGrip).Default(true);
}

TsgStatusBar::TsgStatusBar(TComponent* AOwner) : TsgControl(AOwner) {
  SetHeight(22);
  SetAlign(scene::vaBottom);
}

void TsgStatusBar::SetShowSizeGrip(bool v) {
  if (v == showSizeGrip_) return;
  showSizeGrip_ = v;
  ReloadStyle(this);
}

void TsgStatusBar::ApplyStyle() {
  inherited::ApplyStyle();
  TsgVisualObject* grip = VisualPart(this, "sizegrip");
  if (!grip) return;
  grip->SetVisible(showSizeGrip_);
  if (IsDesignTime()) return;
  // A style part is locked and blind to the mouse; the grip must feel it.
  grip->SetLocked(false);
  grip->SetHitTest(true);
}

CL_CLASS(TsgToolBar) {}

TsgToolBar::TsgToolBar(TComponent* AOwner) : TsgControl(AOwner) {
  SetHeight(40);
  SetAlign(scene::vaTop);
}

CL_CLASS(TsgSelectionItem) {}

TsgSelectionItem::TsgSelectionItem(TComponent* AOwner) : TsgControl(AOwner) { SetHitTest(false); }

void TsgSelectionItem::PaintChildren() {
  if (IsDesignTime()) return;
  inherited::PaintChildren();
}

CL_CLASS(TsgSizeGrip) {}

bool TsgSizeGrip::GetInterface(const classlib::TGUID& iid, void** obj) {
  if (iid == scene::IsgSizeGripMarker::IID) {
    *obj = static_cast<scene::IsgSizeGripMarker*>(this);
    return true;
  }
  return inherited::GetInterface(iid, obj);
}

// ---- window frames
CL_CLASS(TsgWindow) {
  c.Bool("ShowCloseButton", &TsgWindow::ShowCloseButton, &TsgWindow::SetShowCloseButton)
      .Default(true);
  c.Bool("ShowSizeGrip", &TsgWindow::ShowSizeGrip, &TsgWindow::SetShowSizeGrip).Default(true);
  c.Event("OnCloseClick", &TsgWindow::OnCloseClick, &TsgWindow::OnCloseClick);
  c.Bool("HitTest", &TsgWindow::HitTest, &TsgWindow::SetHitTest).Default(false);
  c.Enum("TextAlign", &TsgWindow::TextAlign, &TsgWindow::SetTextAlign,
         &scene::TypeInfo_TsgTextAlign)
      .Default(scene::sgTextAlignNear);
}

TsgWindow::TsgWindow(TComponent* AOwner) : TsgTextControl(AOwner) {
  AutoTranslate = true;
  SetHitTest(false);
  SetTextAlign(scene::sgTextAlignNear);
  SetWidth(200);
  SetHeight(200);
}

void TsgWindow::SetShowCloseButton(bool v) {
  if (v == showCloseButton_) return;
  showCloseButton_ = v;
  ReloadStyle(this);
}

void TsgWindow::SetShowSizeGrip(bool v) {
  if (v == showSizeGrip_) return;
  showSizeGrip_ = v;
  ReloadStyle(this);
}

void TsgWindow::ApplyStyle() {
  inherited::ApplyStyle();
  if (TsgVisualObject* close = VisualPart(this, "close")) {
    close->SetVisible(showCloseButton_);
    if (auto* button = dynamic_cast<TsgCloseButton*>(close); button && OnCloseClick) {
      button->CloseForm = false;
      button->OnClick = OnCloseClick;
    }
  }
  if (TsgVisualObject* grip = VisualPart(this, "sizegrip")) grip->SetVisible(showSizeGrip_);
}

CL_CLASS(TsgHudWindow) {
  c.Object("Fill", &TsgHudWindow::Fill, &TsgHudWindow::SetFill);
  c.Float("StrokeThickness", &TsgHudWindow::StrokeThickness, &TsgHudWindow::SetStrokeThickness,
          &classlib::TypeInfo_Single)
      .Stored(&TsgHudWindow::StrokeThicknessStored);
  c.Object("Stroke", &TsgHudWindow::Stroke, &TsgHudWindow::SetStroke);
  c.Enum("StrokeCap", &TsgHudWindow::StrokeCap, &TsgHudWindow::SetStrokeCap,
         &scene::TypeInfo_TsgStrokeCap)
      .Default(scene::sgCapFlat);
  c.Enum("StrokeDash", &TsgHudWindow::StrokeDash, &TsgHudWindow::SetStrokeDash,
         &scene::TypeInfo_TsgStrokeDash)
      .Default(scene::sgDashSolid);
  c.Enum("StrokeJoin", &TsgHudWindow::StrokeJoin, &TsgHudWindow::SetStrokeJoin,
         &scene::TypeInfo_TsgStrokeJoin)
      .Default(scene::sgJoinMiter);
  c.Enum("ButtonAlign", &TsgHudWindow::ButtonAlign, &TsgHudWindow::SetButtonAlign,
         &TypeInfo_TsgCloseAlign)
      .Default(sgButtonAlignLeft);
  c.Bool("ShowCaption", &TsgHudWindow::ShowCaption, &TsgHudWindow::SetShowCaption).Default(true);
  c.Bool("DisableShadowOnOSX", &TsgHudWindow::DisableShadowOnOSX,
         &TsgHudWindow::SetDisableShadowOnOSX)
      .Default(true);
}

TsgHudWindow::TsgHudWindow(TComponent* AOwner)
    : TsgWindow(AOwner),
      fill_(classlib::New<scene::TsgBrush>(scene::sgBrushSolid, 0xEA2F2F2Fu)),
      stroke_(classlib::New<scene::TsgBrush>(scene::sgBrushSolid, 0x5B000000u)) {
  Font()->SetStyle(scene::sgFontBold);
  fill_->OnChange = classlib::EventOf<&TsgHudWindow::BrushChanged>(this);
  stroke_->OnChange = classlib::EventOf<&TsgHudWindow::BrushChanged>(this);
}

TsgHudWindow::~TsgHudWindow() {
  classlib::Free(stroke_);
  classlib::Free(fill_);
}

void TsgHudWindow::Restyle() {
  if (!IsLoading()) ApplyStyle();
}

void TsgHudWindow::BrushChanged(classlib::TObject* sender) {
  (void)sender;
  Restyle();
}

void TsgHudWindow::SetStrokeThickness(float v) {
  if (v == strokeThickness_) return;
  strokeThickness_ = v;
  Restyle();
}

void TsgHudWindow::SetStrokeCap(scene::TsgStrokeCap v) {
  if (v == strokeCap_) return;
  strokeCap_ = v;
  Restyle();
}

void TsgHudWindow::SetStrokeDash(scene::TsgStrokeDash v) {
  if (v == strokeDash_) return;
  strokeDash_ = v;
  Restyle();
}

void TsgHudWindow::SetStrokeJoin(scene::TsgStrokeJoin v) {
  if (v == strokeJoin_) return;
  strokeJoin_ = v;
  Restyle();
}

void TsgHudWindow::SetButtonAlign(TsgCloseAlign v) {
  if (v == buttonAlign_) return;
  buttonAlign_ = v;
  Restyle();
}

void TsgHudWindow::SetShowCaption(bool v) {
  if (v == showCaption_) return;
  showCaption_ = v;
  Restyle();
}

void TsgHudWindow::SetDisableShadowOnOSX(bool v) {
  if (v == disableShadowOnOSX_) return;
  disableShadowOnOSX_ = v;
  ReloadStyle(this);
}

void TsgHudWindow::ApplyStyle() {
  inherited::ApplyStyle();
  if (auto* close = dynamic_cast<TsgCloseButton*>(FindResource("close"))) {
    close->SetAlign(buttonAlign_ == sgButtonAlignRight ? scene::vaRight : scene::vaLeft);
    if (close->Visible()) {
      close->SetVisible(showCaption_);
      close->SetDesignHide(!showCaption_);
    }
  }
  if (auto* back = dynamic_cast<scene::TsgShape*>(FindResource("back")))
    back->Fill()->Assign(fill_);
  if (auto* frame = dynamic_cast<scene::TsgShape*>(FindResource("stroke"))) {
    frame->Stroke()->Assign(stroke_);
    frame->SetStrokeThickness(strokeThickness_);
    frame->SetStrokeCap(strokeCap_);
    frame->SetStrokeDash(strokeDash_);
    frame->SetStrokeJoin(strokeJoin_);
    frame->Margins()->SetRect(
        {strokeThickness_, strokeThickness_, strokeThickness_, strokeThickness_});
  }
  if (TsgVisualObject* caption = VisualPart(this, "caption")) {
    caption->SetHeight(strokeThickness_ + 20);
    caption->Padding()->SetRect({strokeThickness_, strokeThickness_, strokeThickness_, 0});
    caption->SetVisible(showCaption_);
    caption->SetDesignHide(!showCaption_);
  }
  if (TsgVisualObject* text = VisualPart(this, "text")) {
    text->SetVisible(showCaption_);
    text->SetDesignHide(!showCaption_);
  }
}

// ---- HUD variants
CL_CLASS(TsgHudPanel) {}
CL_CLASS(TsgHudButton) {}
CL_CLASS(TsgHudRoundButton) {}
CL_CLASS(TsgHudCircleButton) {}
CL_CLASS(TsgHudSpeedButton) {}
CL_CLASS(TsgHudPopupBox) {}
CL_CLASS(TsgHudAngleButton) {}
CL_CLASS(TsgHudLabel) {}
CL_CLASS(TsgHudCheckBox) {}
CL_CLASS(TsgHudRadioButton) {}
CL_CLASS(TsgHudGroupBox) {}
CL_CLASS(TsgHudTrack) {}
CL_CLASS(TsgHudTrackBar) {}
CL_CLASS(TsgHudScrollBar) {}
CL_CLASS(TsgHudCloseButton) {}
CL_CLASS(TsgHudSizeGrip) {}
CL_CLASS(TsgHudStatusBar) {}

}  // namespace kelm::scenectrls
