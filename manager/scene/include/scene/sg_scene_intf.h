// IsgScene: the only road from a scene object to its host window. Declared
// once here; the host window implements it, tests use a recording fake.
#pragma once

#include <cstdint>
#include <string>

#include "classlib/component.h"
#include "scene/sg_types.h"

namespace kelm::scene {

class TsgObject;
class TsgVisualObject;
class TsgControl;
class TsgCanvas;
class TsgResources;
class TsgBitmap;

// Not reference counted in practice: the host's lifetime is its
// component's. Operations in slot order.
class IsgScene {
 public:
  static constexpr classlib::TGUID IID = {
      0x5A3E9C71u, 0x2B4D, 0x4F18, {0x9E, 0x07, 0x6C, 0x1D, 0x8B, 0x2F, 0xA4, 0xE3}};

  virtual void AddObject(TsgObject* obj) = 0;
  virtual void RemoveObject(TsgObject* obj) = 0;
  virtual void BeginWindowMove() = 0;
  virtual void BeginWindowResize() = 0;
  virtual void AddUpdateRect(const TsgRect& r) = 0;
  virtual void InsertObject(const std::string& className) = 0;
  virtual TsgControl* GetActiveControl() = 0;
  virtual bool GetDisableUpdate() = 0;
  virtual void SetDisableUpdate(bool value) = 0;
  virtual bool GetDesignTime() = 0;
  virtual TsgCanvas* GetCanvas() = 0;
  virtual TsgObject* GetRoot() = 0;
  virtual classlib::TComponent* GetOwner() = 0;
  virtual classlib::TComponent* GetComponent() = 0;
  virtual TsgResources* GetStyle() = 0;
  virtual void SetStyle(TsgResources* style) = 0;
  virtual bool GetTransparency() = 0;
  virtual void UpdateStyle() = 0;
  virtual void Notification(classlib::TComponent* component, classlib::TOperation operation) = 0;
  virtual TsgVisualObject* GetSelected() = 0;
  virtual TsgVisualObject* GetDesignPlaceObject() = 0;
  virtual int GetUpdateRectsCount() = 0;
  virtual TsgRect GetUpdateRectItem(int index) = 0;
  virtual void SetCaptured(TsgVisualObject* obj) = 0;
  virtual TsgVisualObject* GetCaptured() = 0;
  virtual void SetFocused(TsgVisualObject* obj) = 0;
  virtual TsgVisualObject* GetFocused() = 0;
  virtual void SetDesignPlaceHolder(TsgObject* obj) = 0;
  virtual TsgPoint GetMousePos() = 0;
  virtual TsgPoint LocalToScreen(const TsgPoint& p) = 0;
  virtual void BeginDragDrop(TsgObject* obj, TsgBitmap* dragImage) = 0;
  virtual void SetSelected(TsgVisualObject* obj) = 0;
  virtual bool GetAnimatedCaret() = 0;
  virtual int32_t GetReserved1() = 0;
  virtual int32_t GetReserved2() = 0;

 protected:
  ~IsgScene() = default;
};

// Marks an object whose drag resizes the host window; no operations.
class IsgSizeGripMarker {
 public:
  static constexpr classlib::TGUID IID = {
      0xC7E04A2Du, 0x91F6, 0x4B3A, {0x8D, 0x55, 0x0E, 0x2F, 0x7A, 0x9B, 0x6C, 0x14}};

 protected:
  ~IsgSizeGripMarker() = default;
};
constexpr classlib::TGUID SizeGripInterface = IsgSizeGripMarker::IID;

// A design-time service that maps event handlers to names and back. Nothing
// in this system fills the slot; users check it first.
class IsgDesignerHook {
 public:
  virtual std::string GetMethodName(const classlib::TMethod& method) = 0;
  virtual classlib::TMethod GetMethod(const std::string& name) = 0;

 protected:
  ~IsgDesignerHook() = default;
};
extern IsgDesignerHook* DesignerHook;

}  // namespace kelm::scene
