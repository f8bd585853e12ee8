// Shared pieces of the kit's Win32 tests: a recorder in place of
// Shell_NotifyIconA, and an object whose methods log the events
// they receive.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "classlib/controls.h"
#include "classlib/forms.h"
#include "kit/tray_icon_record.h"
#include "message_pump.h"

namespace kelm::test {

// Every Shell_NotifyIconA call of the process, recorded; answers `Answer`.
struct NotifyCall {
  DWORD message;
  kit::TNotifyIconDataA data;
};
struct ShellRecorder {
  static std::vector<NotifyCall> Calls;
  static BOOL Answer;
  // Calls with this uID and message.
  static std::vector<NotifyCall> Of(UINT id, DWORD message);
  static void Clear() { Calls.clear(); }
};

// Logs every event it receives as a line ("click", "down 0 10,20", ...).
class TEventLog : public classlib::TObject {
  CL_DECLARE_CLASS(TEventLog, TObject)
 public:
  std::vector<std::string> Lines;
  // Called after each logged event (a test may free the sender here).
  std::function<void(classlib::TObject*)> After;

  void Notify(const char* what, classlib::TObject* sender);
  void Click(classlib::TObject* s) { Notify("click", s); }
  void DblClick(classlib::TObject* s) { Notify("dblclick", s); }
  void Enter(classlib::TObject* s) { Notify("enter", s); }
  void Exit(classlib::TObject* s) { Notify("exit", s); }
  void Tick(classlib::TObject* s) { Notify("tick", s); }
  void Minimize(classlib::TObject* s) { Notify("minimize", s); }
  void Mouse(classlib::TObject* s, classlib::TMouseButton b, classlib::TShiftState shift, int x,
             int y);
  void Move(classlib::TObject* s, classlib::TShiftState shift, int x, int y);
  void Cycle(classlib::TObject* s, int next);
  size_t Count(const std::string& line) const;
  bool Has(const std::string& line) const { return Count(line) > 0; }
};

}  // namespace kelm::test
