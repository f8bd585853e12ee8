// Win32 start-up of the scene controls: their timers tick on class-library
// timers, forms are the class library's forms, menus pop up as
// class-library pop-up menus, and the class table is registered.
#include <map>
#include <memory>

#include "classlib/clipbrd.h"
#include "classlib/forms.h"
#include "classlib/menus.h"
#include "classlib/timers.h"
#include "scene/sg_classes.h"
#include "scenectrls/sg_form_bridge.h"
#include "scenectrls/sg_layouts_win32.h"
#include "scenectrls/sg_memo.h"
#include "scenectrls/sg_menu.h"
#include "scenectrls/sg_registration.h"
#include "scenectrls/sg_timer.h"

namespace kelm::scenectrls {
namespace {

using classlib::TObject;

// Forwards one window timer's ticks to its scene timer.
class TTimerSink : public TObject {
 public:
  explicit TTimerSink(TsgTimer* timer) : timer_(timer) {}
  // The tick may cancel or reschedule, freeing this sink and its window
  // timer; the window timer allows that from its own event and nothing
  // here follows the call.
  void Fire(TObject* sender) {
    (void)sender;
    timer_->Timer();
  }

 private:
  TsgTimer* timer_;
};

class TWindowTimers : public IsgTimerSource {
 public:
  virtual ~TWindowTimers() {
    for (auto& [timer, entry] : live_) Release(entry);
  }
  void Schedule(TsgTimer* timer, uint32_t intervalMs) override {
    Cancel(timer);
    Entry entry{classlib::New<TTimerSink>(timer), classlib::New<classlib::TTimer>(nullptr)};
    entry.window->SetInterval(intervalMs);
    entry.window->SetOnTimer(classlib::EventOf<&TTimerSink::Fire>(entry.sink));
    entry.window->SetEnabled(true);
    live_[timer] = entry;
  }
  void Cancel(TsgTimer* timer) override {
    auto it = live_.find(timer);
    if (it == live_.end()) return;
    const Entry entry = it->second;
    live_.erase(it);
    Release(entry);
  }

 private:
  struct Entry {
    TTimerSink* sink;
    classlib::TTimer* window;
  };
  static void Release(const Entry& entry) {
    classlib::Free(entry.window);
    classlib::Free(entry.sink);
  }
  std::map<TsgTimer*, Entry> live_;
};

class TClassLibraryForms : public IsgFormBridge {
 public:
  virtual ~TClassLibraryForms() = default;
  bool IsForm(classlib::TComponent* component) override {
    return dynamic_cast<classlib::TCustomForm*>(component) != nullptr;
  }
  void SetModalResult(classlib::TComponent* form, int32_t result) override {
    static_cast<classlib::TCustomForm*>(form)->SetModalResult(result);
  }
  void CloseForm(classlib::TComponent* form) override {
    static_cast<classlib::TCustomForm*>(form)->Close();
  }
};

// Notes which item of the shown menu was clicked.
class TMenuChoice : public TObject {
 public:
  void Clicked(TObject* sender) {
    auto it = items.find(static_cast<classlib::TMenuItem*>(sender));
    if (it != items.end()) chosen = it->second;
  }
  void AddItems(classlib::TMenuItem* parent, const std::vector<TsgMenuItem>& list) {
    for (const TsgMenuItem& item : list) {
      auto* mi = classlib::New<classlib::TMenuItem>(nullptr);
      mi->SetCaption(item.Caption);
      mi->SetHint(item.Hint);
      mi->SetChecked(item.Checked);
      mi->SetEnabled(item.Enabled);
      parent->Add(mi);
      if (item.Items.empty()) {
        mi->OnClick = classlib::EventOf<&TMenuChoice::Clicked>(this);
        items[mi] = &item;
      } else {
        AddItems(mi, item.Items);
      }
    }
  }
  std::map<classlib::TMenuItem*, const TsgMenuItem*> items;
  const TsgMenuItem* chosen = nullptr;
};

const TsgMenuItem* PopupClassLibraryMenu(const TsgMenu& menu, int x, int y) {
  auto* popup = classlib::New<classlib::TPopupMenu>(nullptr);
  auto* choice = classlib::New<TMenuChoice>();
  const TsgMenuItem* chosen = nullptr;
  try {
    choice->AddItems(popup->Items(), menu.Items);
    popup->Popup(x, y);
    chosen = choice->chosen;
  } catch (...) {
    classlib::Free(popup);
    classlib::Free(choice);
    throw;
  }
  classlib::Free(popup);
  classlib::Free(choice);
  return chosen;
}

// The memo's text through the class library's clipboard (CF_UNICODETEXT).
class TClassLibraryClipboard : public IsgClipboard {
 public:
  virtual ~TClassLibraryClipboard() = default;
  std::u16string GetText() override { return classlib::Clipboard()->AsText(); }
  void SetText(const std::u16string& text) override { classlib::Clipboard()->SetAsText(text); }
};

// An object library: linked into a program, this start-up always comes
// along.
struct Startup {
  Startup() {
    static TWindowTimers timers;
    static TClassLibraryForms forms;
    static TClassLibraryClipboard clipboard;
    SetClipboard(&clipboard);
    SetTimerSource(&timers);
    SetFormBridge(&forms);
    SetMenuPopupEntry(&PopupClassLibraryMenu);
    RegisterSceneControlClasses();
    // Last in "Layout", after the portable layouts.
    scene::RegisterSceneClasses("Layout", {TsgNonSGLayout::StaticClass()});
  }
} startup;

}  // namespace
}  // namespace kelm::scenectrls
