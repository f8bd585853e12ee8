// Test support for the scene controls: a manual clock for their timers, a
// form bridge over test forms, a menu entry that records what would pop up
// and picks a scripted item, and the default style book read from the
// source tree.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "classlib/component.h"
#include "scenectrls/sg_form_bridge.h"
#include "scenectrls/sg_menu.h"
#include "scenectrls/sg_timer.h"

namespace kelm::test {

// Installed while it lives. Time moves only through Advance, which fires
// every tick that falls due in order, each at its own moment.
class ManualTimers : public scenectrls::IsgTimerSource {
 public:
  ManualTimers();
  virtual ~ManualTimers();
  ManualTimers(const ManualTimers&) = delete;
  ManualTimers& operator=(const ManualTimers&) = delete;

  void Schedule(scenectrls::TsgTimer* timer, uint32_t intervalMs) override;
  void Cancel(scenectrls::TsgTimer* timer) override;
  void Advance(uint32_t ms);
  uint64_t Now() const { return now_; }
  bool Scheduled(const scenectrls::TsgTimer* timer) const;

 private:
  struct Entry {
    uint64_t due;
    uint32_t interval;
  };
  std::map<scenectrls::TsgTimer*, Entry> timers_;
  uint64_t now_ = 0;
  scenectrls::IsgTimerSource* previous_;
};

// A form as the controls see one: its modal result and its closes.
class TTestForm : public classlib::TComponent {
  CL_DECLARE_CLASS(TTestForm, TComponent)
 public:
  explicit TTestForm(classlib::TComponent* AOwner) : TComponent(AOwner) {}
  int32_t ModalResult = 0;
  int Closes = 0;
};

// Answers TTestForm as the form; installed while it lives.
class TestFormBridge : public scenectrls::IsgFormBridge {
 public:
  TestFormBridge();
  virtual ~TestFormBridge();
  TestFormBridge(const TestFormBridge&) = delete;
  TestFormBridge& operator=(const TestFormBridge&) = delete;
  bool IsForm(classlib::TComponent* component) override;
  void SetModalResult(classlib::TComponent* form, int32_t result) override;
  void CloseForm(classlib::TComponent* form) override;

 private:
  scenectrls::IsgFormBridge* previous_;
};

// Installed while it lives: each pop-up is recorded (captions with a "*"
// for checked items, and the point) and answers the item at Choose (-1:
// dismissed).
class RecordingMenu {
 public:
  RecordingMenu();
  ~RecordingMenu();
  RecordingMenu(const RecordingMenu&) = delete;
  RecordingMenu& operator=(const RecordingMenu&) = delete;

  struct Popup {
    std::vector<std::string> Items;
    int X = 0, Y = 0;
  };
  std::vector<Popup> Popups;
  int Choose = -1;

 private:
  static const scenectrls::TsgMenuItem* Entry(const scenectrls::TsgMenu& menu, int x, int y);
  scenectrls::TsgMenuPopupEntry previous_;
};

// Makes the source tree's default style book the default style (read
// afresh on the next lookup).
void UseDefaultStyleBook();
// Forgets it again.
void DropDefaultStyleBook();

}  // namespace kelm::test
