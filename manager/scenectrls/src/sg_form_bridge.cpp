// The road from a control to the form its scene sits on.
#include "scenectrls/sg_form_bridge.h"

#include "scene/sg_object.h"

namespace kelm::scenectrls {
namespace {
IsgFormBridge* g_formBridge = nullptr;
}  // namespace

void SetFormBridge(IsgFormBridge* bridge) { g_formBridge = bridge; }
IsgFormBridge* FormBridge() { return g_formBridge; }

classlib::TComponent* SceneOwnerForm(const scene::TsgObject* obj) {
  scene::IsgScene* sc = obj ? obj->Scene() : nullptr;
  if (!sc || !g_formBridge) return nullptr;
  // A scene placed on a form is owned by it, whatever its parent window.
  for (classlib::TComponent* c = sc->GetComponent(); c; c = c->Owner())
    if (g_formBridge->IsForm(c)) return c;
  return nullptr;
}

}  // namespace kelm::scenectrls
