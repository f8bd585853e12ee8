// The record every notification-area call carries: our own NOTIFYICONDATAA
// in the layout with balloon texts and without the GUID (488 bytes, byte
// packed, in the 32-bit program; naturally aligned in a 64-bit build), and
// the one replaceable entry to Shell_NotifyIconA.
#pragma once

#include <windows.h>

#include <cstddef>

namespace kelm::kit {

#ifndef _WIN64
#pragma pack(push, 1)
#endif
struct TNotifyIconDataA {
  DWORD cbSize;
  HWND hWnd;
  UINT uID;
  UINT uFlags;
  UINT uCallbackMessage;
  HICON hIcon;
  char szTip[128];
  DWORD dwState;
  DWORD dwStateMask;
  char szInfo[256];
  union {
    UINT uTimeout;
    UINT uVersion;
  };
  char szInfoTitle[64];
  DWORD dwInfoFlags;
};
#ifndef _WIN64
#pragma pack(pop)
#endif

#ifdef _WIN64
static_assert(offsetof(TNotifyIconDataA, hWnd) == 8);
static_assert(offsetof(TNotifyIconDataA, uID) == 16);
static_assert(offsetof(TNotifyIconDataA, uFlags) == 20);
static_assert(offsetof(TNotifyIconDataA, uCallbackMessage) == 24);
static_assert(offsetof(TNotifyIconDataA, hIcon) == 32);
static_assert(offsetof(TNotifyIconDataA, szTip) == 40);
static_assert(offsetof(TNotifyIconDataA, dwState) == 168);
static_assert(offsetof(TNotifyIconDataA, szInfo) == 176);
static_assert(offsetof(TNotifyIconDataA, uTimeout) == 432);
static_assert(offsetof(TNotifyIconDataA, szInfoTitle) == 436);
static_assert(offsetof(TNotifyIconDataA, dwInfoFlags) == 500);
static_assert(sizeof(TNotifyIconDataA) == 504);
#else
static_assert(offsetof(TNotifyIconDataA, cbSize) == 0);
static_assert(offsetof(TNotifyIconDataA, hWnd) == 4);
static_assert(offsetof(TNotifyIconDataA, uID) == 8);
static_assert(offsetof(TNotifyIconDataA, uFlags) == 12);
static_assert(offsetof(TNotifyIconDataA, uCallbackMessage) == 16);
static_assert(offsetof(TNotifyIconDataA, hIcon) == 20);
static_assert(offsetof(TNotifyIconDataA, szTip) == 24);
static_assert(offsetof(TNotifyIconDataA, dwState) == 152);
static_assert(offsetof(TNotifyIconDataA, dwStateMask) == 156);
static_assert(offsetof(TNotifyIconDataA, szInfo) == 160);
static_assert(offsetof(TNotifyIconDataA, uTimeout) == 416);
static_assert(offsetof(TNotifyIconDataA, uVersion) == 416);
static_assert(offsetof(TNotifyIconDataA, szInfoTitle) == 420);
static_assert(offsetof(TNotifyIconDataA, dwInfoFlags) == 484);
static_assert(sizeof(TNotifyIconDataA) == 488);
#endif

// Commands and flags of the record (the system's values).
constexpr DWORD kNimAdd = 0, kNimModify = 1, kNimDelete = 2, kNimSetVersion = 4;
constexpr UINT kNifMessage = 0x1, kNifIcon = 0x2, kNifTip = 0x4, kNifInfo = 0x10;
// uFlags outside a balloon: message, icon and tip.
constexpr UINT kNifNormal = kNifMessage | kNifIcon | kNifTip;
// The message the icon's mouse activity and notices arrive with.
constexpr UINT kTrayCallbackMessage = 0x800;
// Balloon notices in the callback's lParam.
constexpr UINT kNinBalloonShow = 0x402, kNinBalloonHide = 0x403, kNinBalloonTimeout = 0x404,
               kNinBalloonUserClick = 0x405;

// Every call to the notification area goes through here; tests replace it.
using TShellNotifyIconFunc = BOOL (*)(DWORD message, TNotifyIconDataA* data);
BOOL ShellNotifyIcon(DWORD message, TNotifyIconDataA* data);
// None restores Shell_NotifyIconA. Returns the previous function.
TShellNotifyIconFunc SetShellNotifyIconFunc(TShellNotifyIconFunc func);

}  // namespace kelm::kit
