#include "scene_fakes.h"

#include <algorithm>
#include <stdexcept>

#include "classlib/classdef.h"
#include "scene/sg_classes.h"

namespace kelm::test {

using scene::TsgObject;

CL_CLASS(FakeScene) {}

FakeScene::FakeScene(classlib::TComponent* AOwner) : TComponent(AOwner) { scene::AddScene(this); }

void FakeScene::BeforeDestruction() {
  inherited::BeforeDestruction();
  scene::RemoveScene(this);
  // The roots belong to the host.
  while (!Roots.empty()) {
    TsgObject* obj = Roots.back();
    Roots.pop_back();
    obj->SetScene(nullptr);
    classlib::Free(obj);
  }
}

bool FakeScene::GetInterface(const classlib::TGUID& iid, void** obj) {
  if (iid == scene::IsgScene::IID) {
    *obj = static_cast<scene::IsgScene*>(this);
    return true;
  }
  return TComponent::GetInterface(iid, obj);
}

std::string FakeScene::NameOf(const classlib::TComponent* c) {
  if (!c) return "nil";
  return c->Name().empty() ? c->ClassName() : c->Name();
}

int FakeScene::CountLog(const std::string& prefix) const {
  return static_cast<int>(std::count_if(Log.begin(), Log.end(), [&](const std::string& l) {
    return l.compare(0, prefix.size(), prefix) == 0;
  }));
}

void FakeScene::AddObject(TsgObject* obj) {
  Record("AddObject " + NameOf(obj));
  if (!obj) return;
  if (obj->Parent()) obj->SetParent(nullptr);
  if (std::find(Roots.begin(), Roots.end(), obj) == Roots.end()) Roots.push_back(obj);
  obj->SetScene(this);
}

void FakeScene::RemoveObject(TsgObject* obj) {
  Record("RemoveObject " + NameOf(obj));
  if (!obj) return;
  obj->SetScene(nullptr);
  Roots.erase(std::remove(Roots.begin(), Roots.end(), obj), Roots.end());
}

void FakeScene::AddUpdateRect(const scene::TsgRect& r) {
  Record("AddUpdateRect");
  UpdateRects.push_back(r);
}

void FakeScene::UpdateStyle() {
  Record("UpdateStyle");
  if (TsgObject* root = GetRoot()) root->UpdateStyle();
}

void FakeScene::Notification(classlib::TComponent* component, classlib::TOperation operation) {
  if (component != this)
    Record("Notification " + NameOf(component) +
           (operation == classlib::TOperation::opRemove ? " remove" : " insert"));
  TComponent::Notification(component, operation);
}

scene::TsgRect FakeScene::GetUpdateRectItem(int index) {
  if (index < 0 || index >= GetUpdateRectsCount()) return {};
  return UpdateRects[static_cast<size_t>(index)];
}

void FakeScene::BeginDragDrop(TsgObject* obj, scene::TsgBitmap* dragImage) {
  (void)dragImage;
  Record("BeginDragDrop " + NameOf(obj));
}

// ---- ScriptedPump
namespace {
ScriptedPump* g_current = nullptr;
}

ScriptedPump::ScriptedPump() {
  previous_ = scene::ProcessMessagesHook();
  g_current = this;
  scene::SetProcessMessagesHook(&ScriptedPump::Pump);
}

ScriptedPump::~ScriptedPump() {
  scene::SetProcessMessagesHook(previous_);
  g_current = nullptr;
}

void ScriptedPump::Pump() {
  ScriptedPump* p = g_current;
  if (!p) return;
  ++p->pumps_;
  if (p->pumps_ > p->Limit) {
    p->limitHit_ = true;
    throw std::runtime_error("the wait did not end within the pump limit");
  }
  if (!p->script_.empty()) {
    auto step = std::move(p->script_.front());
    p->script_.pop_front();
    step();
  } else if (p->Idle) {
    p->Idle();
  }
}

}  // namespace kelm::test
