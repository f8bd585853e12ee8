// How controls reach the class library's forms (its Win32 part): a bridge
// installed at start-up answers which component is a form, sets a form's
// ModalResult and closes it. Without a bridge no component is a form.
#pragma once

#include <cstdint>

#include "classlib/component.h"

namespace kelm::scene {
class TsgObject;
}

namespace kelm::scenectrls {

class IsgFormBridge {
 public:
  virtual bool IsForm(classlib::TComponent* component) = 0;
  virtual void SetModalResult(classlib::TComponent* form, int32_t result) = 0;
  virtual void CloseForm(classlib::TComponent* form) = 0;

 protected:
  ~IsgFormBridge() = default;
};
void SetFormBridge(IsgFormBridge* bridge);
IsgFormBridge* FormBridge();

// The first form up the owner chain (owners, not parents) from the
// component hosting the object's scene; none outside a scene, without a
// bridge or without a form among the owners.
classlib::TComponent* SceneOwnerForm(const scene::TsgObject* obj);

}  // namespace kelm::scenectrls
