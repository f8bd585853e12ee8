// The scene object tree.
#include "scene/sg_object.h"

#include <algorithm>
#include <thread>

#include "classlib/classdef.h"
#include "scene/sg_classes.h"

namespace kelm::scene {

using classlib::TComponent;
using classlib::TObject;
using classlib::TOperation;
using classlib::TVariant;

IsgDesignerHook* DesignerHook = nullptr;

namespace {
TsgProcessMessages g_processMessages = nullptr;

// Hears when a watched component is freed, so a wait that pumps messages
// notices an object or animation that went away meanwhile.
class TFreeWatch : public TComponent {
 public:
  TFreeWatch() : TComponent(nullptr) {}
  void Watch(TComponent* c) { FreeNotification(c); }
  bool Gone(TComponent* c) const { return std::find(gone_.begin(), gone_.end(), c) != gone_.end(); }
  void Notification(TComponent* component, TOperation operation) override {
    TComponent::Notification(component, operation);
    if (operation == TOperation::opRemove) gone_.push_back(component);
  }

 private:
  std::vector<TComponent*> gone_;
};
}  // namespace

void SetProcessMessagesHook(TsgProcessMessages hook) { g_processMessages = hook; }
TsgProcessMessages ProcessMessagesHook() { return g_processMessages; }

CL_CLASS(TsgObject) {
  c.Int("Index", &TsgObject::GetIndex, &TsgObject::SetIndex).Stored(false);
  c.Object("Parent", &TsgObject::Parent, &TsgObject::SetParent).Stored(false);
  c.Str("BindingName", &TsgObject::bindingName_, &TsgObject::SetBindingName);
  c.Str("ResourceName", &TsgObject::resourceName_, &TsgObject::SetResourceName);
}

TsgObject::TsgObject(TComponent* AOwner) : TComponent(AOwner) { RegisterObject(this); }

// A constructor further down the chain that fails never reaches
// BeforeDestruction: the global entry must not outlive the memory.
TsgObject::~TsgObject() { UnregisterObject(this); }

void TsgObject::BeforeDestruction() {
  inherited::BeforeDestruction();
  if (scene_) scene_->Notification(this, TOperation::opRemove);
  while (!notifyClients_.empty()) {
    TObject* client = notifyClients_.back();
    notifyClients_.pop_back();
    if (auto* c = dynamic_cast<IsgFreeNotifyClient*>(client))
      c->ObjectFreed(this);
    else if (auto* comp = dynamic_cast<TComponent*>(client))
      comp->Notification(this, TOperation::opRemove);
  }
  notifyClients_.shrink_to_fit();
  UnregisterObject(this);
  if (parent_)
    parent_->RemoveObject(this);
  else if (scene_)
    scene_->RemoveObject(this);
  scene_ = nullptr;
  DeleteChildren();
}

void TsgObject::AddNotifyClient(TObject* client) {
  if (client &&
      std::find(notifyClients_.begin(), notifyClients_.end(), client) == notifyClients_.end())
    notifyClients_.push_back(client);
}

void TsgObject::RemoveNotifyClient(TObject* client) {
  notifyClients_.erase(std::remove(notifyClients_.begin(), notifyClients_.end(), client),
                       notifyClients_.end());
}

void TsgObject::SetStored(bool flag) {
  if (stored_ == flag) return;
  stored_ = flag;
  for (int i = 0; i < GetChildrenCount(); ++i) GetChild(i)->SetStored(flag);
}

void TsgObject::SetResourceName(const std::string& v) {
  if (resourceName_ != v) resourceName_ = v;
}

void TsgObject::SetBindingName(const std::string& v) {
  if (bindingName_ != v) bindingName_ = v;
}

// ---- tree
void TsgObject::SetScene(IsgScene* scene) {
  scene_ = scene;
  for (int i = 0; i < GetChildrenCount(); ++i) GetChild(i)->SetScene(scene);
}

void TsgObject::SetParent(TsgObject* parent) {
  if (parent == parent_) return;
  // Refused before anything is detached: the new parent is this object or
  // lies below it.
  if (parent && parent->IsAncestorOrSelf(this)) return;
  if (parent_)
    parent_->RemoveObject(this);
  else if (scene_)
    scene_->RemoveObject(this);
  if (parent)
    parent->AddObject(this);
  else
    parent_ = nullptr;
}

bool TsgObject::IsAncestorOrSelf(const TsgObject* obj) const {
  for (const TsgObject* p = this; p; p = p->parent_)
    if (p == obj) return true;
  return false;
}

void TsgObject::AddObject(TsgObject* child) {
  // An object cannot hold itself or one of its ancestors: the tree walks
  // would never end.
  if (!child || IsAncestorOrSelf(child)) return;
  if (child->parent_ == this && children_ && children_->IndexOf(child) >= 0) return;
  if (child->parent_) child->SetParent(nullptr);
  if (!children_) children_ = std::make_unique<classlib::TList>();
  if (children_->IndexOf(child) >= 0) return;
  children_->Add(child);
  child->parent_ = this;
  child->SetScene(scene_);
  child->ParentChanged();
  if (isVisual_ && child->isVisual_)
    ChildAdded(child);
  else if (isVisual_ && child->IsEffectObject())
    EffectChildAdded(child);
}

void TsgObject::RemoveObject(TsgObject* child) {
  if (!child || !children_) return;
  int index = children_->IndexOf(child);
  if (index < 0) return;
  if (isVisual_ && child->isVisual_) ChildRemoving(child);
  child->parent_ = nullptr;
  child->SetScene(nullptr);
  child->cachedIndex_ = -1;
  // The visual steps above may have moved things: find the child again.
  index = children_->IndexOf(child);
  if (index < 0) return;
  for (int i = index; i < children_->Count(); ++i) children_->Item<TsgObject>(i)->cachedIndex_ = -1;
  children_->Delete(index);
  if (isVisual_) ChildRemoved(child);
}

void TsgObject::Exchange(TsgObject* child1, TsgObject* child2) {
  if (!children_ || !child1 || !child2) return;
  int i1 = children_->IndexOf(child1), i2 = children_->IndexOf(child2);
  if (i1 < 0 || i2 < 0) return;
  int c1 = child1->GetIndex(), c2 = child2->GetIndex();
  children_->Exchange(i1, i2);
  child1->cachedIndex_ = c2;
  child2->cachedIndex_ = c1;
  if (isVisual_ && !IsLoading()) RealignChildren();
}

void TsgObject::DeleteChildren() {
  if (!children_) return;
  // Each child leaves the list before it is freed: a child's end may free
  // siblings it owns, and those still remove themselves through
  // RemoveObject.
  while (children_ && children_->Count() > 0) {
    auto* child = children_->Item<TsgObject>(children_->Count() - 1);
    children_->Delete(children_->Count() - 1);
    child->parent_ = nullptr;
    child->SetScene(nullptr);
    classlib::Free(child);
  }
  children_.reset();
}

TsgObject* TsgObject::GetChild(int index) const {
  if (!children_ || index < 0 || index >= children_->Count()) return nullptr;
  return children_->Item<TsgObject>(index);
}

int TsgObject::GetIndex() const {
  if (cachedIndex_ >= 0) return cachedIndex_;
  if (!parent_ || !parent_->children_) return -1;
  cachedIndex_ = parent_->children_->IndexOf(const_cast<TsgObject*>(this));
  return cachedIndex_;
}

void TsgObject::ResetSiblingIndexes() {
  if (!parent_ || !parent_->children_) return;
  for (int i = 0; i < parent_->children_->Count(); ++i)
    parent_->children_->Item<TsgObject>(i)->cachedIndex_ = -1;
}

void TsgObject::SetIndex(int value) {
  if (!parent_ || !parent_->children_) return;
  int old = parent_->children_->IndexOf(this);
  if (old < 0) return;
  // Move checks both positions before changing anything, so a bad value
  // raises the list error with the list intact.
  parent_->children_->Move(old, value);
  ResetSiblingIndexes();
  if (isVisual_ && parent_->isVisual_ && !IsLoading()) parent_->RealignChildren();
}

void TsgObject::BringToFront() {
  if (!parent_ || !parent_->children_) return;
  int old = parent_->children_->IndexOf(this);
  if (old < 0) return;
  parent_->children_->Move(old, parent_->children_->Count() - 1);
  ResetSiblingIndexes();
  if (isVisual_) RepaintObject();
}

void TsgObject::SendToBack() {
  if (!parent_ || !parent_->children_) return;
  int old = parent_->children_->IndexOf(this);
  if (old < 0) return;
  parent_->children_->Move(old, 0);
  ResetSiblingIndexes();
  if (parent_->isVisual_) parent_->RealignChildren();
}

void TsgObject::SortChildren(const std::function<int(TsgObject*, TsgObject*)>& compare) {
  if (!children_) return;
  children_->Sort([&compare](void* a, void* b) {
    return compare(static_cast<TsgObject*>(a), static_cast<TsgObject*>(b));
  });
  for (int i = 0; i < children_->Count(); ++i) children_->Item<TsgObject>(i)->cachedIndex_ = -1;
}

void TsgObject::CollectTree(std::vector<TsgObject*>& list) {
  list.push_back(this);
  for (int i = 0; i < GetChildrenCount(); ++i) GetChild(i)->CollectTree(list);
}

void TsgObject::CollectControls(std::vector<TsgObject*>& list) {
  if (IsControlObject()) list.push_back(this);
  for (int i = 0; i < GetChildrenCount(); ++i) GetChild(i)->CollectControls(list);
}

// ---- lookup
TsgObject* TsgObject::FindResource(const std::string& name) {
  if (name.empty() || !children_) return nullptr;
  for (int i = 0; i < GetChildrenCount(); ++i) {
    TsgObject* child = GetChild(i);
    if (classlib::SameText(child->resourceName_, name)) return child;
    if (!child->IsControlObject())
      if (TsgObject* found = child->FindResource(name)) return found;
  }
  return nullptr;
}

TsgObject* TsgObject::FindBindingObject(const std::string& name) {
  if (classlib::SameText(bindingName_, name)) return this;
  for (int i = 0; i < GetChildrenCount(); ++i) {
    TsgObject* child = GetChild(i);
    if (classlib::SameText(child->bindingName_, name)) return child;
    if (TsgObject* found = child->FindBindingObject(name)) return found;
  }
  return nullptr;
}

TVariant TsgObject::GetBinding(const std::string& name) {
  if (TsgObject* obj = FindBindingObject(name)) return obj->GetData();
  return TVariant(u"");
}

void TsgObject::SetBinding(const std::string& name, const TVariant& value) {
  TsgObject* obj = FindBindingObject(name);
  if (!obj) return;
  // A bound value that the target cannot take is dropped: binding is a
  // best-effort push between controls.
  try {
    obj->SetData(value);
  } catch (const std::exception&) {
  }
}

TVariant TsgObject::GetData() { return TVariant(Name()); }

void TsgObject::UpdateStyle() {
  if (IsLoading() || IsDestroying()) return;
  for (int i = 0; i < GetChildrenCount(); ++i) GetChild(i)->UpdateStyle();
}

// ---- animations and effects
void TsgObject::StartAnimation(const std::u16string& name) {
  std::string n = classlib::WideToUtf8(name);
  for (int i = 0; i < GetChildrenCount(); ++i) {
    TsgObject* child = GetChild(i);
    if (child->IsAnimationObject() && classlib::SameText(child->Name(), n)) child->AnimationStart();
  }
}

void TsgObject::StopAnimation(const std::u16string& name) {
  std::string n = classlib::WideToUtf8(name);
  for (int i = GetChildrenCount() - 1; i >= 0; --i) {
    TsgObject* child = GetChild(i);
    if (child && child->IsAnimationObject() && classlib::SameText(child->Name(), n))
      child->AnimationStop();
  }
}

void TsgObject::StartTriggerAnimation(TObject* instance, const std::string& trigger) {
  StopTriggerAnimation(instance);
  for (int i = 0; i < GetChildrenCount(); ++i) {
    TsgObject* child = GetChild(i);
    if (child->IsAnimationObject())
      child->AnimationStartTrigger(instance, trigger);
    else if (child->IsLockedPart())
      child->StartTriggerAnimation(instance, trigger);
  }
}

void TsgObject::StartTriggerAnimationWait(TObject* instance, const std::string& trigger) {
  StopTriggerAnimation(instance);
  TFreeWatch* watch = classlib::New<TFreeWatch>();
  watch->Watch(this);
  try {
    for (int i = 0; i < GetChildrenCount(); ++i) {
      TsgObject* child = GetChild(i);
      if (child->IsAnimationObject()) {
        child->AnimationStartTrigger(instance, trigger);
        // A looping animation never ends by itself, and without a pump
        // nothing advances the clock: neither is waited for.
        if (child->AnimationLooping() || !g_processMessages) continue;
        watch->Watch(child);
        while (!watch->Gone(this) && !watch->Gone(child) && child->AnimationRunning()) {
          g_processMessages();
          std::this_thread::yield();
        }
        if (watch->Gone(this)) break;
        // Freed while waiting: the next child has moved into its place.
        if (watch->Gone(child)) --i;
      } else if (child->IsLockedPart()) {
        watch->Watch(child);
        child->StartTriggerAnimationWait(instance, trigger);
        if (watch->Gone(this)) break;
        if (watch->Gone(child)) --i;
      }
    }
  } catch (...) {
    classlib::Free(watch);
    throw;
  }
  classlib::Free(watch);
}

void TsgObject::StopTriggerAnimation(TObject* instance) {
  for (int i = 0; i < GetChildrenCount(); ++i) {
    TsgObject* child = GetChild(i);
    if (child->IsAnimationObject()) {
      if (!child->AnimationTrigger().empty()) child->AnimationStop();
    } else if (child->IsLockedPart()) {
      child->StopTriggerAnimation(instance);
    }
  }
}

void TsgObject::ApplyTriggerEffect(TObject* instance, const std::string& trigger) {
  for (int i = 0; i < GetChildrenCount(); ++i) {
    TsgObject* child = GetChild(i);
    if (child->IsEffectObject())
      child->EffectApplyTrigger(instance, trigger);
    else if (child->IsLockedPart())
      child->ApplyTriggerEffect(instance, trigger);
  }
}

// ---- streaming hooks
void TsgObject::GetChildren(const classlib::TGetChildProc& proc, TComponent* root) {
  inherited::GetChildren(proc, root);
  if (IsContentObject()) return;
  for (int i = 0; i < GetChildrenCount(); ++i) {
    TsgObject* child = GetChild(i);
    // A content host's children are stored as the control's own.
    if (child->IsContentObject())
      for (int j = 0; j < child->GetChildrenCount(); ++j)
        if (TsgObject* grand = child->GetChild(j); grand->stored_) proc(grand);
    if (child->stored_) proc(child);
  }
}

TComponent* TsgObject::GetParentComponent() const {
  if (parent_) return parent_->ChildWritingParent();
  return scene_ ? scene_->GetComponent() : nullptr;
}

void TsgObject::SetParentComponent(TComponent* parent) {
  if (parent_)
    parent_->RemoveObject(this);
  else if (scene_)
    scene_->RemoveObject(this);
  if (auto* obj = dynamic_cast<TsgObject*>(parent)) {
    obj->AddObject(this);
  } else if (parent) {
    void* intf = nullptr;
    if (parent->GetInterface(IsgScene::IID, &intf) && intf)
      static_cast<IsgScene*>(intf)->AddObject(this);
  }
}

}  // namespace kelm::scene
