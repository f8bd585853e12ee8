#include "ctrl_fakes.h"

#include <fstream>
#include <limits>
#include <memory>
#include <sstream>

#include "classlib/classdef.h"
#include "classlib/streams.h"
#include "classlib/textform.h"
#include "scene/sg_style.h"

namespace kelm::test {

using scenectrls::TsgTimer;

// ---- ManualTimers
ManualTimers::ManualTimers() : previous_(scenectrls::TimerSource()) {
  scenectrls::SetTimerSource(this);
}

ManualTimers::~ManualTimers() { scenectrls::SetTimerSource(previous_); }

void ManualTimers::Schedule(TsgTimer* timer, uint32_t intervalMs) {
  timers_[timer] = {now_ + intervalMs, intervalMs};
}

void ManualTimers::Cancel(TsgTimer* timer) { timers_.erase(timer); }

bool ManualTimers::Scheduled(const TsgTimer* timer) const {
  return timers_.count(const_cast<TsgTimer*>(timer)) != 0;
}

void ManualTimers::Advance(uint32_t ms) {
  const uint64_t end = now_ + ms;
  for (;;) {
    TsgTimer* next = nullptr;
    uint64_t due = std::numeric_limits<uint64_t>::max();
    for (const auto& [timer, entry] : timers_)
      if (entry.due <= end && entry.due < due) {
        next = timer;
        due = entry.due;
      }
    if (!next) break;
    now_ = due;
    // The next tick is due one interval on, unless the handler reschedules.
    Entry& entry = timers_[next];
    entry.due += entry.interval;
    next->Timer();
  }
  now_ = end;
}

// ---- forms
CL_CLASS(TTestForm) {}

TestFormBridge::TestFormBridge() : previous_(scenectrls::FormBridge()) {
  scenectrls::SetFormBridge(this);
}

TestFormBridge::~TestFormBridge() { scenectrls::SetFormBridge(previous_); }

bool TestFormBridge::IsForm(classlib::TComponent* component) {
  return dynamic_cast<TTestForm*>(component) != nullptr;
}

void TestFormBridge::SetModalResult(classlib::TComponent* form, int32_t result) {
  static_cast<TTestForm*>(form)->ModalResult = result;
}

void TestFormBridge::CloseForm(classlib::TComponent* form) {
  ++static_cast<TTestForm*>(form)->Closes;
}

// ---- menus
namespace {
RecordingMenu* g_menu = nullptr;
}  // namespace

RecordingMenu::RecordingMenu() : previous_(scenectrls::MenuPopupEntry()) {
  g_menu = this;
  scenectrls::SetMenuPopupEntry(&RecordingMenu::Entry);
}

RecordingMenu::~RecordingMenu() {
  scenectrls::SetMenuPopupEntry(previous_);
  g_menu = nullptr;
}

const scenectrls::TsgMenuItem* RecordingMenu::Entry(const scenectrls::TsgMenu& menu, int x, int y) {
  Popup popup;
  popup.X = x;
  popup.Y = y;
  for (const scenectrls::TsgMenuItem& item : menu.Items)
    popup.Items.push_back(classlib::WideToUtf8(item.Caption) + (item.Checked ? "*" : ""));
  g_menu->Popups.push_back(popup);
  const int choose = g_menu->Choose;
  if (choose < 0 || choose >= static_cast<int>(menu.Items.size())) return nullptr;
  return &menu.Items[static_cast<size_t>(choose)];
}

// ---- the default style book
namespace {
std::unique_ptr<classlib::TStream> ReadBookFile() {
  std::ifstream file(VH_DEFAULT_STYLE_FILE);
  std::stringstream text;
  text << file.rdbuf();
  classlib::TStringStream source(text.str());
  auto binary = std::make_unique<classlib::TMemoryStream>();
  classlib::ObjectTextToBinary(source, *binary);
  binary->SetPosition(0);
  return binary;
}
}  // namespace

void UseDefaultStyleBook() {
  scene::ResetDefaultStyle();
  scene::SetDefaultStyleSource(&ReadBookFile);
}

void DropDefaultStyleBook() {
  scene::ResetDefaultStyle();
  scene::SetDefaultStyleSource(nullptr);
}

}  // namespace kelm::test
