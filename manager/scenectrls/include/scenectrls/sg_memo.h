// TsgMemo: the scene's multi-line text editor, a styled scroll box over
// the line store: a caret, a selection, keys, the mouse, the wheel, an
// undo stack, a context menu and the clipboard; only the visible band of
// lines is painted. TsgHudMemo is the same under its own style name.
#pragma once

#include <string>
#include <vector>

#include "scene/sg_brush.h"
#include "scene/sg_wide_strings.h"
#include "scenectrls/sg_layouts.h"
#include "scenectrls/sg_line_store.h"
#include "scenectrls/sg_menu.h"

namespace kelm::scenectrls {

// The system clipboard's text, installed by the Win32 part. None: copy
// keeps nothing and paste finds nothing.
class IsgClipboard {
 public:
  virtual std::u16string GetText() = 0;
  virtual void SetText(const std::u16string& text) = 0;

 protected:
  ~IsgClipboard() = default;
};
void SetClipboard(IsgClipboard* clipboard);
IsgClipboard* Clipboard();

class TsgMemo;

// The memo's visual lines as a string list; its edits are the memo's.
class TsgMemoLines : public scene::TsgWideStrings {
  CL_DECLARE_CLASS(TsgMemoLines, TsgWideStrings)
 public:
  TsgMemoLines() = default;
  TsgMemo* Memo = nullptr;
  std::u16string Get(int index) const override;
  int GetCount() const override;
  void Clear() override;
  void Delete(int index) override;
  void InsertObject(int index, const std::u16string& text, classlib::TObject* obj) override;

 protected:
  void SetUpdateState(bool updating) override;
};

enum TEditCharCase { sgecNormal, sgecUpperCase, sgecLowerCase };
extern const classlib::TTypeInfo TypeInfo_TEditCharCase;

class TsgMemo : public TsgScrollBox, public IEdtUndoTarget {
  CL_DECLARE_CLASS(TsgMemo, TsgScrollBox)
 public:
  explicit TsgMemo(classlib::TComponent* AOwner);
  ~TsgMemo() override;

  // ---- published
  const std::u16string& Text() const { return store_.Text(); }
  scene::TsgFont* Font() const { return font_; }
  void SetFont(scene::TsgFont* v) { font_->Assign(v); }
  scene::TsgTextAlign TextAlign = scene::sgTextAlignNear;
  bool AutoSelect = true;
  TEditCharCase CharCase = sgecNormal;
  bool HideSelection() const { return hideSelection_; }
  void SetHideSelection(bool v);
  int MaxLength() const { return store_.MaxLength; }
  void SetMaxLength(int v) { store_.MaxLength = v; }
  bool ReadOnly = false;
  bool WordWrap() const { return store_.WordWrap(); }
  void SetWordWrap(bool v);
  bool Transparent = false;
  classlib::TNotifyEvent OnChange, OnChangeTracking;
  TsgMemoLines* Lines() const { return lines_; }
  void SetLines(scene::TsgWideStrings* v) { lines_->Assign(v); }
  // Line edits of Lines: no undo record, and the records of the text
  // before are dropped.
  void InsertLine(int i, const std::u16string& s);
  void DeleteLine(int i);
  void SetUpdateLocked(bool v);

  // ---- state
  bool Modified() const { return modified_; }
  TsgCaret Caret() const { return caret_; }
  bool HasSelection() const { return hasSelection_; }
  TsgCaret SelAnchor() const { return selAnchor_; }
  TsgCaret SelEnd() const { return selEnd_; }
  const TsgLineStore& Store() const { return store_; }
  TEdtActionStack& ActionStack() { return store_.Actions(); }
  scene::TsgBrush* TextBrush() const { return textBrush_; }
  scene::TsgBrush* SelectionBrush() const { return selectionBrush_; }
  // The context menu as built and last enabled.
  const TsgMenu& PopupMenuModel() const { return menu_; }

  // ---- the setter of Text, then the virtual operations added, in slot
  // order
  void SetText(const std::u16string& text) override;
  std::u16string GetText() const override { return store_.Text(); }
  virtual std::vector<scene::TsgRect> GetSelectionRects();
  virtual void ApplyCanvasFont();
  virtual void CreatePopupMenu();
  virtual void UpdatePopupMenu();
  virtual void DoChange();
  virtual bool ValidText(const std::u16string& text) {
    (void)text;
    return true;
  }

  // ---- metrics and carets
  float LineHeight() const;
  float TextWidth(std::u16string_view s);
  float VisibleLineCount();
  scene::TsgPoint CaretToPoint(TsgCaret q);
  TsgCaret PointToCaret(scene::TsgPoint pt);
  void SetCaret(TsgCaret q);
  void MoveCaretByLines(int k);
  TsgCaret NextWordCaret(TsgCaret q) const;
  TsgCaret PrevWordCaret(TsgCaret q) const;
  int GetSelStart() const;
  int GetSelLength() const;
  std::u16string GetSelText() const;
  void ExtendSelection(TsgCaret q);
  void CollapseSelection(int k);
  void SelectAll();
  void SelectWord();
  void ClearSelection();
  void CopyToClipboard();
  void CutToClipboard();
  void PasteFromClipboard();
  bool Undo() { return store_.Actions().Undo(); }
  void UpdateCaret(bool scroll);

  // ---- editing primitives
  void InsertText(TsgCaret at, const std::u16string& s, bool selectInserted, bool recordUndo,
                  bool group);
  void DeleteText(TsgCaret at, int n, bool resetSelection, bool recordUndo);
  void RestoreText(int position, const std::u16string& text, bool select) override;
  void RemoveText(int position, int length) override;

  // ---- overrides
  classlib::TVariant GetData() override;
  void SetData(const classlib::TVariant& value) override;
  void MouseDown(scene::TMouseButton button, scene::TShiftState shift, float x, float y) override;
  void MouseMove(scene::TShiftState shift, float x, float y, float dx, float dy) override;
  void MouseUp(scene::TMouseButton button, scene::TShiftState shift, float x, float y) override;
  void MouseWheel(scene::TShiftState shift, int delta, bool& handled) override;
  void KeyDown(uint16_t& key, char16_t& keyChar, scene::TShiftState shift) override;
  void ContextPopup(const scene::TsgPoint& screenPoint) override;
  void EnterFocus() override;
  void KillFocus() override;
  void ApplyStyle() override;
  void GetContentBounds(scene::TsgRect& r) override;
  bool ImeCompositionInfo(scene::TsgFont*& font, scene::TsgPoint& caretOffset) override;
  // Widths measured without a canvas were 0: the lines are measured again.
  void SetScene(scene::IsgScene* scene) override;
  void Loaded() override;

 private:
  void FontChanged(classlib::TObject* sender);
  void PaintLines(classlib::TObject* sender, scene::TsgCanvas* canvas, const scene::TsgRect& r);
  // After every edit: OnChangeTracking, Modified, a realign.
  void TextEdited();
  void RealignUnlessLocked();
  void ScrollToCaretVert();
  void ScrollToCaretHorz();
  // The painted line range.
  void VisibleBand(int& first, int& last);
  // Typing: a character or a line break over the selection.
  void TypeText(const std::u16string& s);
  bool Earlier(TsgCaret a, TsgCaret b) const {
    return a.Line < b.Line || (a.Line == b.Line && a.Column < b.Column);
  }

  TsgLineStore store_;
  bool modified_ = false;
  scene::TsgBrush* textBrush_;
  scene::TsgFont* font_;
  bool mouseSelecting_ = false;
  scene::TsgPoint mousePos_{};
  TsgCaret caret_{};
  int firstVisibleColumn_ = 1;
  TsgMenu menu_;
  bool hideSelection_ = true;
  TsgCaret selAnchor_{}, selEnd_{};
  bool hasSelection_ = false;
  scene::TsgBrush* selectionBrush_;
  bool updateLocked_ = false;
  TsgMemoLines* lines_;
};

class TsgHudMemo : public TsgMemo {
  CL_DECLARE_CLASS(TsgHudMemo, TsgMemo)
 public:
  explicit TsgHudMemo(classlib::TComponent* AOwner) : TsgMemo(AOwner) {}
};

}  // namespace kelm::scenectrls
