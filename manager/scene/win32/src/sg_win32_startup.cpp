// Win32 start-up of the scene library: the waiting animation calls pump
// the application's message loop.
#include "classlib/forms.h"
#include "scene/sg_object.h"

namespace kelm::scene {
namespace {

void ProcessApplicationMessages() {
  if (classlib::Application) classlib::Application->ProcessMessages();
}

// An object library: linked into a program, this start-up step always
// comes along (a static library would drop the unreferenced object).
struct Startup {
  Startup() { SetProcessMessagesHook(&ProcessApplicationMessages); }
} startup;

}  // namespace
}  // namespace kelm::scene
