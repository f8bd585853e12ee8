// The record every notification-area call carries: our own byte-packed
// NOTIFYICONDATAA in its 488-byte form (the layout with balloon texts and
// without the GUID), and the one replaceable entry to Shell_NotifyIconA.
#pragma once

#include <windows.h>

#include <cstddef>

namespace kelm::kit {

#pragma pack(push, 1)
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
#pragma pack(pop)

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
