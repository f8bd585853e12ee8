#include "tray_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "classlib/classdef.h"
#include "classlib/imglist.h"
#include "classlib/menus.h"
#include "kit/tray_icon.h"

namespace kelm::test {

using namespace classlib;

std::vector<NotifyCall> ShellRecorder::Calls;
BOOL ShellRecorder::Answer = TRUE;

std::vector<NotifyCall> ShellRecorder::Of(UINT id, DWORD message) {
  std::vector<NotifyCall> out;
  for (const NotifyCall& c : Calls)
    if (c.data.uID == id && c.message == message) out.push_back(c);
  return out;
}

CL_CLASS(TEventLog) {}

void TEventLog::Notify(const char* what, TObject* sender) {
  Lines.push_back(what);
  if (After) After(sender);
}

void TEventLog::Mouse(TObject* s, TMouseButton b, TShiftState shift, int x, int y) {
  Lines.push_back("mouse " + std::to_string(static_cast<int>(b)) + " " +
                  std::to_string(shift.ToInt()) + " " + std::to_string(x) + "," +
                  std::to_string(y));
  if (After) After(s);
}

void TEventLog::Move(TObject* s, TShiftState shift, int x, int y) {
  Lines.push_back("move " + std::to_string(shift.ToInt()) + " " + std::to_string(x) + "," +
                  std::to_string(y));
  if (After) After(s);
}

void TEventLog::Cycle(TObject* s, int next) {
  Lines.push_back("cycle " + std::to_string(next));
  if (After) After(s);
}

size_t TEventLog::Count(const std::string& line) const {
  return static_cast<size_t>(std::count(Lines.begin(), Lines.end(), line));
}

namespace {
BOOL Record(DWORD message, kit::TNotifyIconDataA* data) {
  ShellRecorder::Calls.push_back({message, *data});
  return ShellRecorder::Answer;
}

// The shell is never called for real; the application window exists and
// carries a title of this process's own (test programs share a desktop).
class KitEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    kit::SetShellNotifyIconFunc(&Record);
    RegisterClasses({kit::TTrayIcon::StaticClass(), TPopupMenu::StaticClass(),
                     TMenuItem::StaticClass(), TImageList::StaticClass()});
    Application->Initialize();
    std::u16string title = u"Kit Tests ";
    for (char c : std::to_string(GetCurrentProcessId())) title += static_cast<char16_t>(c);
    Application->SetTitle(title);
  }
};
[[maybe_unused]] const auto* environment = ::testing::AddGlobalTestEnvironment(new KitEnvironment);
}  // namespace

}  // namespace kelm::test
