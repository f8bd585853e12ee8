// The clipboard: text as UTF-16 (CF_UNICODETEXT), read back from CF_TEXT
// when no Unicode text is there, and pictures as 32-bit DIBs.
#pragma once

#include <string>

#include "classlib/graphics.h"

namespace classlib {

class TClipboard : public TPersistent {
  CL_DECLARE_CLASS(TClipboard, TPersistent)
 public:
  TClipboard() = default;
  ~TClipboard() override;
  // Nested opens share one system open.
  void Open();
  void Close();
  void Clear();
  bool HasFormat(UINT format) const;
  std::u16string AsText();
  void SetAsText(const std::u16string& text);
  // Takes ownership of the global memory.
  void SetAsHandle(UINT format, HANDLE data);
  HANDLE GetAsHandle(UINT format);
  // A bitmap or picture goes as CF_DIB; Assign from the clipboard fills one.
  void Assign(TPersistent* source) override;
  void AssignTo(TPersistent* dest) override;

 private:
  int openCount_ = 0;
  bool emptied_ = false;
  HWND window_ = nullptr;
};

TClipboard* Clipboard();

}  // namespace classlib
