// Test support shared by the scene's test programs: a recording host
// (IsgScene) and a scriptable message pump for the waiting calls.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "classlib/component.h"
#include "scene/sg_object.h"
#include "scene/sg_scene_intf.h"

namespace kelm::test {

// Holds a class-library object and frees it the library's way.
struct FreeObject {
  void operator()(classlib::TObject* o) const { classlib::Free(o); }
};
template <class T>
using Owned = std::unique_ptr<T, FreeObject>;

// A scene host that keeps a root list as the real one does and records
// every call as a line ("AddObject name", "Notification name remove" ...);
// objects are named by Name, or by class name when unnamed.
class FakeScene : public classlib::TComponent, public scene::IsgScene {
  CL_DECLARE_CLASS(FakeScene, TComponent)
 public:
  explicit FakeScene(classlib::TComponent* AOwner);
  void BeforeDestruction() override;
  bool GetInterface(const classlib::TGUID& iid, void** obj) override;

  std::vector<std::string> Log;
  std::vector<scene::TsgObject*> Roots;
  std::vector<scene::TsgRect> UpdateRects;
  bool DesignTime = false;
  bool DisableUpdate = false;
  bool Transparency = false;
  bool AnimatedCaret = true;
  scene::TsgPoint MousePos;
  scene::TsgVisualObject* Selected = nullptr;
  scene::TsgVisualObject* Captured = nullptr;
  scene::TsgVisualObject* Focused = nullptr;
  scene::TsgObject* DesignPlaceHolder = nullptr;
  scene::TsgResources* Style = nullptr;
  // The host's canvas; not owned.
  scene::TsgCanvas* Canvas = nullptr;
  scene::TsgVisualObject* DesignPlaceObject = nullptr;

  // Lines of Log that start with prefix.
  int CountLog(const std::string& prefix) const;

  // ---- IsgScene
  void AddObject(scene::TsgObject* obj) override;
  void RemoveObject(scene::TsgObject* obj) override;
  void BeginWindowMove() override { Record("BeginWindowMove"); }
  void BeginWindowResize() override { Record("BeginWindowResize"); }
  void AddUpdateRect(const scene::TsgRect& r) override;
  void InsertObject(const std::string& className) override { Record("InsertObject " + className); }
  scene::TsgControl* GetActiveControl() override { return nullptr; }
  bool GetDisableUpdate() override { return DisableUpdate; }
  void SetDisableUpdate(bool value) override { DisableUpdate = value; }
  bool GetDesignTime() override { return DesignTime; }
  scene::TsgCanvas* GetCanvas() override { return Canvas; }
  scene::TsgObject* GetRoot() override { return Roots.empty() ? nullptr : Roots.front(); }
  classlib::TComponent* GetOwner() override { return Owner(); }
  classlib::TComponent* GetComponent() override { return this; }
  scene::TsgResources* GetStyle() override { return Style; }
  void SetStyle(scene::TsgResources* style) override { Style = style; }
  bool GetTransparency() override { return Transparency; }
  void UpdateStyle() override;
  void Notification(classlib::TComponent* component, classlib::TOperation operation) override;
  scene::TsgVisualObject* GetSelected() override { return Selected; }
  scene::TsgVisualObject* GetDesignPlaceObject() override { return DesignPlaceObject; }
  int GetUpdateRectsCount() override { return static_cast<int>(UpdateRects.size()); }
  scene::TsgRect GetUpdateRectItem(int index) override;
  void SetCaptured(scene::TsgVisualObject* obj) override { Captured = obj; }
  scene::TsgVisualObject* GetCaptured() override { return Captured; }
  void SetFocused(scene::TsgVisualObject* obj) override { Focused = obj; }
  scene::TsgVisualObject* GetFocused() override { return Focused; }
  void SetDesignPlaceHolder(scene::TsgObject* obj) override { DesignPlaceHolder = obj; }
  scene::TsgPoint GetMousePos() override { return MousePos; }
  scene::TsgPoint LocalToScreen(const scene::TsgPoint& p) override { return p; }
  void BeginDragDrop(scene::TsgObject* obj, scene::TsgBitmap* dragImage) override;
  void SetSelected(scene::TsgVisualObject* obj) override { Selected = obj; }
  bool GetAnimatedCaret() override { return AnimatedCaret; }
  int32_t GetReserved1() override { return 0; }
  int32_t GetReserved2() override { return 0; }

 private:
  void Record(const std::string& line) { Log.push_back(line); }
  static std::string NameOf(const classlib::TComponent* c);
};

// Stands in for the message loop of the waiting calls: installed as the
// process-messages hook, each pump runs the next scripted step (or the
// idle step when the script is empty). At most Limit pumps run: a wait
// that would never end fails the test instead of hanging it.
class ScriptedPump {
 public:
  ScriptedPump();
  ~ScriptedPump();
  ScriptedPump(const ScriptedPump&) = delete;
  ScriptedPump& operator=(const ScriptedPump&) = delete;

  void Then(std::function<void()> step) { script_.push_back(std::move(step)); }
  std::function<void()> Idle;
  int Pumps() const { return pumps_; }
  bool LimitHit() const { return limitHit_; }
  int Limit = 1000;

 private:
  static void Pump();
  std::deque<std::function<void()>> script_;
  int pumps_ = 0;
  bool limitHit_ = false;
  scene::TsgProcessMessages previous_ = nullptr;
};

}  // namespace kelm::test
