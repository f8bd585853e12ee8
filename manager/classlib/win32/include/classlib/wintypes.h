// Small shared pieces of the Win32 part: geometry, UTF-16 at the Win32
// boundary, the message record and the class library's own message numbers.
#pragma once

#include <windows.h>

#include <string>

#include "classlib/classes.h"

namespace classlib {

// wchar_t is two bytes with mingw-w64, so UTF-16 text passes to the wide
// Win32 calls unchanged.
static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t expected");
inline const wchar_t* WStr(const std::u16string& s) {
  return reinterpret_cast<const wchar_t*>(s.c_str());
}
inline std::u16string FromWStr(const wchar_t* s) {
  return s ? std::u16string(reinterpret_cast<const char16_t*>(s)) : std::u16string();
}
inline std::u16string FromWStr(const wchar_t* s, size_t n) {
  return std::u16string(reinterpret_cast<const char16_t*>(s), n);
}

using TRect = RECT;
using TPoint = POINT;
inline TRect Rect(int l, int t, int r, int b) { return TRect{l, t, r, b}; }
inline TRect Bounds(int l, int t, int w, int h) { return TRect{l, t, l + w, t + h}; }
inline TPoint Point(int x, int y) { return TPoint{x, y}; }
inline bool PtInRect(const TRect& r, const TPoint& p) {
  return p.x >= r.left && p.x < r.right && p.y >= r.top && p.y < r.bottom;
}

// A window message as the library's handlers see it.
struct TMessage {
  UINT Msg = 0;
  WPARAM WParam = 0;
  LPARAM LParam = 0;
  LRESULT Result = 0;
};

// The class library's own notifications (CM_) and the reflected control
// notifications (CN_). The numbers are fixed where custom controls send
// them by number: parent-font-changed 0xB008, CM_HINTSHOW 0xB030 and
// CM_HINTSHOWPAUSE 0xB041. All stay clear of the private numbers the
// program's controls use (0x47B, 0x800, 0x2B10, 0x8020, 0xB7D0, 0xB7D5).
enum : UINT {
  CM_BASE = 0xB000,
  CM_ACTIVATE = CM_BASE + 0,
  CM_DEACTIVATE = CM_BASE + 1,
  CM_DIALOGKEY = CM_BASE + 5,
  CM_DIALOGCHAR = CM_BASE + 6,
  CM_PARENTFONTCHANGED = CM_BASE + 8,
  CM_PARENTCOLORCHANGED = CM_BASE + 9,
  CM_VISIBLECHANGED = CM_BASE + 11,
  CM_ENABLEDCHANGED = CM_BASE + 12,
  CM_COLORCHANGED = CM_BASE + 13,
  CM_FONTCHANGED = CM_BASE + 14,
  CM_CURSORCHANGED = CM_BASE + 15,
  CM_CTL3DCHANGED = CM_BASE + 16,
  CM_TEXTCHANGED = CM_BASE + 18,
  CM_MOUSEENTER = CM_BASE + 19,
  CM_MOUSELEAVE = CM_BASE + 20,
  CM_SHOWINGCHANGED = CM_BASE + 25,
  CM_ENTER = CM_BASE + 26,
  CM_EXIT = CM_BASE + 27,
  CM_DESIGNHITTEST = CM_BASE + 28,
  CM_RELEASE = CM_BASE + 33,
  CM_SYSCOLORCHANGE = CM_BASE + 36,
  CM_DRAG = CM_BASE + 47,
  CM_HINTSHOW = CM_BASE + 48,
  CM_RECREATEWND = CM_BASE + 51,
  // Docking: lParam a TDockClientRec (answer 0 when docked); the client
  // undocking in lParam; a docked client's change (wParam the client,
  // lParam a TDockNotifyRec).
  CM_DOCKCLIENT = CM_BASE + 52,
  CM_UNDOCKCLIENT = CM_BASE + 53,
  CM_DOCKNOTIFICATION = CM_BASE + 54,
  CM_BIDIMODECHANGED = CM_BASE + 60,
  CM_HINTSHOWPAUSE = CM_BASE + 65,
  CM_MOUSEWHEEL = CM_BASE + 67,
  CN_BASE = 0xBC00,
  CN_COMMAND = CN_BASE + WM_COMMAND,
};

}  // namespace classlib
