// TsgTextControl: the base of every scene control that shows a caption.
// The caption, font and alignment go to the style part "text"; a brush
// part "foreground" colours it.
#pragma once

#include <string>

#include "scene/sg_brush.h"
#include "scene/sg_canvas.h"
#include "scene/sg_control.h"
#include "scene/sg_types.h"

namespace kelm::scene {
class TsgText;
}

namespace kelm::scenectrls {

class TsgTextControl : public scene::TsgControl {
  CL_DECLARE_CLASS(TsgTextControl, TsgControl)
 public:
  explicit TsgTextControl(classlib::TComponent* AOwner);
  ~TsgTextControl() override;

  scene::TsgFont* Font() const { return font_; }
  void SetFont(scene::TsgFont* v) { font_->Assign(v); }
  scene::TsgTextAlign TextAlign() const { return textAlign_; }
  void SetTextAlign(scene::TsgTextAlign v);
  scene::TsgTextAlign VertTextAlign() const { return vertTextAlign_; }
  void SetVertTextAlign(scene::TsgTextAlign v);
  // Colours the "text" part's fill whenever it changes.
  scene::TsgBrush* Foreground() const { return foreground_; }
  bool WordWrap() const { return wordWrap_; }
  void SetWordWrap(bool v);
  const std::u16string& Text() const { return text_; }
  void SetTextProp(const std::u16string& v) { ChangeText(v); }

  // ---- virtual operations added, in slot order
  // Stores a different text and shows it in the "text" part (or the style
  // root when that is a text, else repaints); marks the effects for redraw.
  virtual void ChangeText(const std::u16string& value);
  virtual void FontChanged(classlib::TObject* sender);

  // ---- overrides
  classlib::TVariant GetData() override;
  void SetData(const classlib::TVariant& value) override;
  void ApplyStyle() override;
  // Captions of linked actions go through ChangeText.
  bool IsTextControl() const override { return true; }
  std::u16string GetText() const override { return text_; }
  void SetText(const std::u16string& text) override { ChangeText(text); }
  // The IME writes in the control's font at its origin.
  bool ImeCompositionInfo(scene::TsgFont*& font, scene::TsgPoint& caretOffset) override;

 protected:
  // The style part "text" when it is a text object, else none.
  scene::TsgText* TextPart();

 private:
  void FontChangedEvent(classlib::TObject* sender) { FontChanged(sender); }
  void ForegroundChanged(classlib::TObject* sender);

  scene::TsgFont* font_;
  scene::TsgTextAlign textAlign_ = scene::sgTextAlignCenter;
  scene::TsgTextAlign vertTextAlign_ = scene::sgTextAlignCenter;
  scene::TsgBrush* foreground_;
  bool wordWrap_ = false;
  std::u16string text_;
};

}  // namespace kelm::scenectrls
