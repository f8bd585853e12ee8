#include "classlib/clipbrd.h"

#include <cstring>

#include "classlib/forms.h"
#include "classlib/resources.h"

namespace classlib {

CL_CLASS(TClipboard) {}

TClipboard* Clipboard() {
  static TClipboard* clipboard = New<TClipboard>();
  return clipboard;
}

TClipboard::~TClipboard() {
  if (window_) DeallocateHWnd(window_);
}

void TClipboard::Open() {
  if (openCount_++ > 0) return;
  if (!window_)
    window_ = AllocateHWnd(
        [this](TMessage& m) { m.Result = DefWindowProcW(window_, m.Msg, m.WParam, m.LParam); });
  // Another program may hold it for a moment.
  for (int attempt = 0; !OpenClipboard(window_); ++attempt) {
    if (attempt == 50) {
      openCount_ = 0;
      throw Exception(u"Cannot open clipboard");
    }
    Sleep(10);
  }
  emptied_ = false;
}

void TClipboard::Close() {
  if (openCount_ == 0) return;
  if (--openCount_ == 0) CloseClipboard();
}

void TClipboard::Clear() {
  Open();
  EmptyClipboard();
  emptied_ = true;
  Close();
}

bool TClipboard::HasFormat(UINT format) const {
  return IsClipboardFormatAvailable(format) != FALSE;
}

void TClipboard::SetAsHandle(UINT format, HANDLE data) {
  Open();
  try {
    if (!emptied_) {
      EmptyClipboard();
      emptied_ = true;
    }
    if (!SetClipboardData(format, data)) {
      GlobalFree(data);
      RaiseLastOSError();
    }
  } catch (...) {
    Close();
    throw;
  }
  Close();
}

HANDLE TClipboard::GetAsHandle(UINT format) {
  Open();
  HANDLE h = GetClipboardData(format);
  Close();
  return h;
}

void TClipboard::SetAsText(const std::u16string& text) {
  const size_t bytes = (text.size() + 1) * sizeof(char16_t);
  HGLOBAL g = GlobalAlloc(GMEM_MOVEABLE, bytes);
  if (!g) throw EOutOfResources(u"Out of memory");
  // With its terminating zero, as readers of CF_UNICODETEXT expect.
  std::memcpy(GlobalLock(g), text.c_str(), bytes);
  GlobalUnlock(g);
  Open();
  try {
    EmptyClipboard();
    emptied_ = true;
    SetAsHandle(CF_UNICODETEXT, g);
  } catch (...) {
    Close();
    throw;
  }
  Close();
}

std::u16string TClipboard::AsText() {
  Open();
  std::u16string result;
  try {
    if (HANDLE h = GetClipboardData(CF_UNICODETEXT)) {
      if (auto* p = static_cast<const char16_t*>(GlobalLock(h))) {
        size_t max = GlobalSize(h) / sizeof(char16_t);
        size_t n = 0;
        while (n < max && p[n]) ++n;
        result.assign(p, n);
        GlobalUnlock(h);
      }
    } else if (HANDLE a = GetClipboardData(CF_TEXT)) {
      // 8-bit text only: widened in the system code page.
      if (auto* p = static_cast<const char*>(GlobalLock(a))) {
        size_t max = GlobalSize(a);
        size_t n = 0;
        while (n < max && p[n]) ++n;
        int wide = MultiByteToWideChar(CP_ACP, 0, p, static_cast<int>(n), nullptr, 0);
        result.resize(static_cast<size_t>(wide));
        MultiByteToWideChar(CP_ACP, 0, p, static_cast<int>(n),
                            reinterpret_cast<wchar_t*>(result.data()), wide);
        GlobalUnlock(a);
      }
    }
  } catch (...) {
    Close();
    throw;
  }
  Close();
  return result;
}

void TClipboard::Assign(TPersistent* source) {
  TGraphic* g = nullptr;
  if (auto* p = dynamic_cast<TPicture*>(source)) g = p->Graphic();
  if (!g) g = dynamic_cast<TGraphic*>(source);
  if (!g) {
    TPersistent::Assign(source);
    return;
  }
  TBitmap bmp;
  bmp.Assign(g);
  UINT format = 0;
  HANDLE data = nullptr;
  bmp.SaveToClipboardFormat(format, data);
  SetAsHandle(format, data);
}

void TClipboard::AssignTo(TPersistent* dest) {
  TGraphic* target = nullptr;
  if (auto* p = dynamic_cast<TPicture*>(dest)) target = p->Bitmap();
  if (!target) target = dynamic_cast<TBitmap*>(dest);
  if (!target) {
    TPersistent::AssignTo(dest);
    return;
  }
  Open();
  try {
    target->LoadFromClipboardFormat(CF_DIB, GetClipboardData(CF_DIB));
  } catch (...) {
    Close();
    throw;
  }
  Close();
}

}  // namespace classlib
