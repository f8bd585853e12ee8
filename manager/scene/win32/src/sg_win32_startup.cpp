// Win32 start-up of the scene library: the waiting animation calls pump
// the application's message loop, and objects pop their window menus.
#include "classlib/forms.h"
#include "classlib/menus.h"
#include "scene/sg_object.h"
#include "scene/sg_visual.h"

namespace kelm::scene {
namespace {

void ProcessApplicationMessages() {
  if (classlib::Application) classlib::Application->ProcessMessages();
}

// Anything but a class-library pop-up menu is not a window menu: nothing shows.
void PopupWindowMenu(classlib::TComponent* menu, int x, int y,
                     classlib::TComponent* popupComponent) {
  auto* popup = dynamic_cast<classlib::TPopupMenu*>(menu);
  if (!popup) return;
  popup->SetPopupComponent(popupComponent);
  popup->Popup(x, y);
}

// An object library: linked into a program, this start-up step always
// comes along (a static library would drop the unreferenced object).
struct Startup {
  Startup() {
    SetProcessMessagesHook(&ProcessApplicationMessages);
    SetPopupMenuHook(&PopupWindowMenu);
  }
} startup;

}  // namespace
}  // namespace kelm::scene
