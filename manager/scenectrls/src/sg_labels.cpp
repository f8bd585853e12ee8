// Labels (sized to their text on request), value labels and group boxes.
#include "scenectrls/sg_labels.h"

#include "classlib/classdef.h"
#include "scene/sg_objects.h"

namespace kelm::scenectrls {

using classlib::TComponent;

CL_CLASS(TsgLabel) {
  c.Object("BindingSource", &TsgLabel::BindingSource, &TsgLabel::SetBindingSource);
  c.Bool("HitTest", &TsgLabel::HitTest, &TsgLabel::SetHitTest).Default(false);
  c.Bool("AutoSize", &TsgLabel::AutoSize, &TsgLabel::SetAutoSize).Default(false);
  c.Bool("WordWrap", &TsgLabel::WordWrap, &TsgLabel::SetWordWrap).Default(true);
}

TsgLabel::TsgLabel(TComponent* AOwner) : TsgTextControl(AOwner) {
  AutoTranslate = true;
  SetWidth(120);
  SetHeight(15);
  SetWordWrap(true);
  SetHitTest(false);
}

void TsgLabel::SetAutoSize(bool v) {
  if (v == autoSize_) return;
  autoSize_ = v;
  if (v) ApplyStyle();
}

void TsgLabel::ChangeText(const std::u16string& value) {
  if (value == Text()) return;
  inherited::ChangeText(value);
  if (autoSize_) ApplyStyle();
}

void TsgLabel::ApplyStyle() {
  inherited::ApplyStyle();
  scene::TsgText* part = TextPart();
  if (!part) return;
  part->SetWordWrap(WordWrap());
  if (!autoSize_) return;
  SetWordWrap(false);
  part->SetWordWrap(false);
  part->SetVertTextAlign(scene::sgTextAlignNear);
  part->SetHorzTextAlign(scene::sgTextAlignNear);
  // The part sizes itself only while it is not laid out by its parent.
  const scene::TsgAlign align = part->Align();
  part->SetAlign(scene::vaNone);
  part->SetAutoSize(true);
  SetWidth(part->Width());
  SetHeight(part->Height());
  part->SetAutoSize(false);
  part->SetAlign(align);
}

CL_CLASS(TsgValueLabel) {
  c.Bool("AutoTranslate", &TsgValueLabel::AutoTranslate, &TsgValueLabel::AutoTranslate)
      .Default(false);
  c.Bool("WordWrap", &TsgValueLabel::WordWrap, &TsgValueLabel::SetWordWrap).Default(false);
}

TsgValueLabel::TsgValueLabel(TComponent* AOwner) : TsgLabel(AOwner) {
  AutoTranslate = false;
  SetWordWrap(false);
}

CL_CLASS(TsgGroupBox) {}

TsgGroupBox::TsgGroupBox(TComponent* AOwner) : TsgTextControl(AOwner) {
  AutoTranslate = true;
  CanFocused = false;
  SetWidth(120);
  SetHeight(100);
}

}  // namespace kelm::scenectrls
