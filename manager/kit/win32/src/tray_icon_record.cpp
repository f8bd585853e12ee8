#include "kit/tray_icon_record.h"

#include <shellapi.h>

namespace kelm::kit {

namespace {
BOOL SystemNotifyIcon(DWORD message, TNotifyIconDataA* data) {
  // Our record has the system's 488-byte layout (checked field by field in
  // the header); cbSize tells the shell which one it is.
  return Shell_NotifyIconA(message, reinterpret_cast<NOTIFYICONDATAA*>(data));
}
TShellNotifyIconFunc notifyFunc = &SystemNotifyIcon;
}  // namespace

BOOL ShellNotifyIcon(DWORD message, TNotifyIconDataA* data) { return notifyFunc(message, data); }

TShellNotifyIconFunc SetShellNotifyIconFunc(TShellNotifyIconFunc func) {
  TShellNotifyIconFunc previous = notifyFunc;
  notifyFunc = func ? func : &SystemNotifyIcon;
  return previous;
}

}  // namespace kelm::kit
