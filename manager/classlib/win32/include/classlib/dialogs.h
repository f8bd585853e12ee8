// Message boxes (one replaceable entry) and the common dialogs.
#pragma once

#include <string>

#include "classlib/graphics.h"

namespace classlib {

// Every message box of the program goes through this entry: owner (or
// none), text, caption and flags, passed to the system unchanged; the
// answer is the button pressed (IDOK, IDCANCEL, ...).
using TMessageBoxFunc = int (*)(HWND owner, const std::u16string& text,
                                const std::u16string& caption, UINT flags);
int ShowMessageBox(HWND owner, const std::u16string& text, const std::u16string& caption,
                   UINT flags);
// Replaces the entry (tests record the boxes instead of showing them);
// answers the previous one. None restores the system's.
TMessageBoxFunc SetMessageBoxFunc(TMessageBoxFunc func);

enum TOpenOption {
  ofReadOnly,
  ofOverwritePrompt,
  ofHideReadOnly,
  ofNoChangeDir,
  ofAllowMultiSelect,
  ofPathMustExist,
  ofFileMustExist,
  ofCreatePrompt,
  ofNoReadOnlyReturn,
  ofEnableSizing
};
using TOpenOptions = TSet<TOpenOption>;

class TCommonDialog : public TComponent {
  CL_DECLARE_CLASS(TCommonDialog, TComponent)
 public:
  explicit TCommonDialog(TComponent* AOwner) : TComponent(AOwner) {}
  // Shows the dialog; true when the user confirmed.
  virtual bool Execute() = 0;

 protected:
  HWND OwnerWindow() const;
};

class TOpenDialog : public TCommonDialog {
  CL_DECLARE_CLASS(TOpenDialog, TCommonDialog)
 public:
  explicit TOpenDialog(TComponent* AOwner) : TCommonDialog(AOwner) {}
  bool Execute() override;
  std::u16string FileName, Filter, DefaultExt, InitialDir, Title;
  int FilterIndex = 1;
  TOpenOptions Options{ofHideReadOnly, ofEnableSizing};

 protected:
  bool Run(bool save);
};

class TSaveDialog : public TOpenDialog {
  CL_DECLARE_CLASS(TSaveDialog, TOpenDialog)
 public:
  explicit TSaveDialog(TComponent* AOwner) : TOpenDialog(AOwner) {}
  bool Execute() override { return Run(true); }
};

class TColorDialog : public TCommonDialog {
  CL_DECLARE_CLASS(TColorDialog, TCommonDialog)
 public:
  explicit TColorDialog(TComponent* AOwner) : TCommonDialog(AOwner) {}
  bool Execute() override;
  TColor Color = clBlack;
};

class TFont;
class TFontDialog : public TCommonDialog {
  CL_DECLARE_CLASS(TFontDialog, TCommonDialog)
 public:
  explicit TFontDialog(TComponent* AOwner);
  ~TFontDialog() override;
  bool Execute() override;
  TFont* Font() const { return font_; }

 private:
  TFont* font_;
};

}  // namespace classlib
