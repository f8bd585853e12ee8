// The caption control base: text, font, alignment and foreground brush,
// handed to the style part "text".
#include "scenectrls/sg_text_control.h"

#include "classlib/classdef.h"
#include "classlib/datetime.h"
#include "scene/sg_classes.h"
#include "scene/sg_objects.h"
#include "scene/sg_resources.h"

namespace kelm::scenectrls {

using scene::TsgText;
using scene::TsgTextAlign;

CL_CLASS(TsgTextControl) {
  c.Bool("AutoTranslate", &TsgTextControl::AutoTranslate, &TsgTextControl::AutoTranslate)
      .Default(true);
  c.Object("Font", &TsgTextControl::Font, &TsgTextControl::SetFont);
  c.Enum("TextAlign", &TsgTextControl::TextAlign, &TsgTextControl::SetTextAlign,
         &scene::TypeInfo_TsgTextAlign)
      .Default(scene::sgTextAlignCenter);
  c.Enum("VertTextAlign", &TsgTextControl::VertTextAlign, &TsgTextControl::SetVertTextAlign,
         &scene::TypeInfo_TsgTextAlign)
      .Default(scene::sgTextAlignCenter);
  c.WStr("Text", &TsgTextControl::Text, &TsgTextControl::SetTextProp);
  c.Bool("WordWrap", &TsgTextControl::WordWrap, &TsgTextControl::SetWordWrap).Default(false);
}

TsgTextControl::TsgTextControl(classlib::TComponent* AOwner)
    : TsgControl(AOwner),
      font_(classlib::New<scene::TsgFont>()),
      foreground_(classlib::New<scene::TsgBrush>(scene::sgBrushSolid, 0xFF000000u)) {
  font_->OnChange = classlib::EventOf<&TsgTextControl::FontChangedEvent>(this);
  foreground_->OnChange = classlib::EventOf<&TsgTextControl::ForegroundChanged>(this);
}

TsgTextControl::~TsgTextControl() {
  classlib::Free(foreground_);
  classlib::Free(font_);
}

TsgText* TsgTextControl::TextPart() { return dynamic_cast<TsgText*>(FindResource("text")); }

void TsgTextControl::ChangeText(const std::u16string& value) {
  if (value == text_) return;
  text_ = value;
  if (TsgText* part = TextPart()) {
    part->SetText(text_);
    part->UpdateEffects();
  } else if (auto* root = dynamic_cast<TsgText*>(StyleObject())) {
    root->SetText(text_);
  } else {
    Repaint();
  }
  UpdateEffects();
}

void TsgTextControl::FontChanged(classlib::TObject* sender) {
  (void)sender;
  if (TsgText* part = TextPart()) part->Font()->Assign(font_);
}

void TsgTextControl::ForegroundChanged(classlib::TObject* sender) {
  (void)sender;
  if (TsgText* part = TextPart()) part->Fill()->Assign(foreground_);
}

void TsgTextControl::SetTextAlign(TsgTextAlign v) {
  if (v == textAlign_) return;
  textAlign_ = v;
  if (TsgText* part = TextPart())
    part->SetHorzTextAlign(v);
  else
    Repaint();
}

void TsgTextControl::SetVertTextAlign(TsgTextAlign v) {
  if (v == vertTextAlign_) return;
  vertTextAlign_ = v;
  if (TsgText* part = TextPart())
    part->SetVertTextAlign(v);
  else
    Repaint();
}

void TsgTextControl::SetWordWrap(bool v) {
  if (v == wordWrap_) return;
  wordWrap_ = v;
  if (TsgText* part = TextPart()) part->SetWordWrap(v);
}

classlib::TVariant TsgTextControl::GetData() { return classlib::TVariant(text_); }

void TsgTextControl::SetData(const classlib::TVariant& value) {
  switch (value.VarType()) {
    case classlib::TVarType::varNull:
      ChangeText(u"");
      break;
    case classlib::TVarType::varDate:
      ChangeText(classlib::DateTimeToStr(value.ToDateTime()));
      break;
    default:
      ChangeText(value.ToString());
      break;
  }
}

void TsgTextControl::ApplyStyle() {
  inherited::ApplyStyle();
  if (auto* fore = dynamic_cast<scene::TsgBrushObject*>(FindResource("foreground")))
    foreground_->Assign(fore->Brush());
  if (TsgText* part = TextPart()) {
    part->SetText(text_);
    part->SetHorzTextAlign(textAlign_);
    part->SetVertTextAlign(vertTextAlign_);
    part->SetWordWrap(wordWrap_);
    part->Font()->Assign(font_);
  }
  if (AutoTranslate) {
    const std::u16string translated = scene::sgTranslate(text_);
    if (Scene() && !IsDesignTime()) ChangeText(translated);
  }
}

bool TsgTextControl::ImeCompositionInfo(scene::TsgFont*& font, scene::TsgPoint& caretOffset) {
  font = font_;
  caretOffset = {0, 0};
  return true;
}

}  // namespace kelm::scenectrls
