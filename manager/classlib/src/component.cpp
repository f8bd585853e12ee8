#include "classlib/component.h"

#include <algorithm>

#include "classlib/classdef.h"
#include "classlib/filer.h"

namespace classlib {

const TTypeInfo TypeInfo_THelpType = EnumTypeInfo("THelpType", {"htKeyword", "htContext"});

CL_CLASS(TPersistent) {}

void TPersistent::Assign(TPersistent* source) {
  if (source) {
    source->AssignTo(this);
    return;
  }
  AssignError(nullptr);
}

void TPersistent::AssignTo(TPersistent* dest) { dest->AssignError(this); }

void TPersistent::DefineProperties(TFiler&) {}

void TPersistent::AssignError(TPersistent* source) {
  std::string from = source ? source->ClassName() : std::string("nil");
  throw EConvertError(Format(u"Cannot assign a %s to a %s", {from, ClassName()}));
}

CL_CLASS(TInterfacedPersistent) {}

bool TInterfacedPersistent::GetInterface(const TGUID& iid, void** obj) {
  if (iid == IStreamPersist::IID) {
    if (auto* p = dynamic_cast<IStreamPersist*>(this)) {
      if (obj) *obj = p;
      return true;
    }
  }
  return TPersistent::GetInterface(iid, obj);
}

CL_CLASS(TComponent) {
  c.Str("Name", &TComponent::name_, &TComponent::SetName).Stored(false);
  c.Int("Tag", &TComponent::tag_, &TComponent::SetTag).Default(0);
}

TComponent::TComponent(TComponent* AOwner) {
  if (AOwner) AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
  // Normally done by Free; this covers a plain delete.
  if (!tornDown_) {
    state_.Include(csDestroying);
    Teardown();
  }
}

void TComponent::BeforeDestruction() {
  if (!state_.Contains(csDestroying)) Destroying();
}

void TComponent::ReleaseLinks() { Teardown(); }

void TComponent::Teardown() {
  if (tornDown_) return;
  tornDown_ = true;
  // Registered components hear of this one's end; each registration is
  // dropped before the call so a receiver that does not call the inherited
  // Notification cannot loop.
  while (!freeNotifies_.empty()) {
    TComponent* other = freeNotifies_.back();
    freeNotifies_.pop_back();
    auto& back = other->freeNotifies_;
    back.erase(std::remove(back.begin(), back.end(), this), back.end());
    other->Notification(this, TOperation::opRemove);
  }
  DestroyComponents();
  if (owner_) owner_->RemoveComponent(this);
}

TComponent* TComponent::Components(int index) const {
  if (index < 0 || index >= ComponentCount())
    throw EListError(Format(u"List index out of bounds (%d)", {index}));
  return components_[static_cast<size_t>(index)];
}

int TComponent::ComponentIndex() const {
  if (!owner_) return -1;
  auto& list = owner_->components_;
  auto it = std::find(list.begin(), list.end(), this);
  return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

void TComponent::InsertComponent(TComponent* component) {
  if (!component || component->owner_ == this) return;
  ValidateRename(component, std::string(), component->name_);
  if (component->owner_) component->owner_->RemoveComponent(component);
  components_.push_back(component);
  component->owner_ = this;
}

void TComponent::RemoveComponent(TComponent* component) {
  if (!component || component->owner_ != this) return;
  Notification(component, TOperation::opRemove);
  components_.erase(std::remove(components_.begin(), components_.end(), component),
                    components_.end());
  component->owner_ = nullptr;
}

void TComponent::DestroyComponents() {
  // Freeing one component may free others (a scene object frees its
  // children, which this component owns too): re-read the list every time.
  while (!components_.empty()) {
    TComponent* c = components_.back();
    components_.pop_back();
    c->owner_ = nullptr;
    Notification(c, TOperation::opRemove);
    Free(c);
  }
}

void TComponent::Destroying() {
  if (state_.Contains(csDestroying)) return;
  state_.Include(csDestroying);
  // Everything owned knows before the first of them is freed.
  for (size_t i = 0; i < components_.size(); ++i) components_[i]->Destroying();
}

TComponent* TComponent::FindComponent(std::string_view name) const {
  if (name.empty()) return nullptr;
  for (TComponent* c : components_)
    if (SameText(c->name_, name)) return c;
  return nullptr;
}

void TComponent::SetName(const std::string& newName) {
  if (newName == name_) return;
  if (!newName.empty() && !IsValidIdent(newName))
    throw EComponentError(Format(u"'%s' is not a valid component name", {newName}));
  if (owner_)
    owner_->ValidateRename(this, name_, newName);
  else
    ValidateRename(nullptr, name_, newName);
  name_ = newName;
}

void TComponent::ValidateRename(TComponent* component, const std::string& curName,
                                const std::string& newName) {
  if (!component || newName.empty() || SameText(curName, newName)) return;
  TComponent* existing = FindComponent(newName);
  if (existing && existing != component)
    throw EComponentError(Format(u"A component named %s already exists", {newName}));
}

void TComponent::SetDesigning(bool value, bool setChildren) {
  if (value)
    state_.Include(csDesigning);
  else
    state_.Exclude(csDesigning);
  if (setChildren)
    for (TComponent* c : components_) c->SetDesigning(value, true);
}

void TComponent::SetSubComponent(bool value) {
  if (value)
    style_.Include(csSubComponent);
  else
    style_.Exclude(csSubComponent);
}

void TComponent::FreeNotification(TComponent* component) {
  if (!component || component == this) return;
  // Components of one owner hear of each other through the owner.
  if (!owner_ || component->owner_ != owner_) {
    if (std::find(freeNotifies_.begin(), freeNotifies_.end(), component) == freeNotifies_.end()) {
      freeNotifies_.push_back(component);
      component->freeNotifies_.push_back(this);
    }
  }
  state_.Include(csFreeNotification);
}

void TComponent::RemoveFreeNotification(TComponent* component) {
  if (!component) return;
  freeNotifies_.erase(std::remove(freeNotifies_.begin(), freeNotifies_.end(), component),
                      freeNotifies_.end());
  auto& back = component->freeNotifies_;
  back.erase(std::remove(back.begin(), back.end(), this), back.end());
}

void TComponent::Notification(TComponent* component, TOperation operation) {
  if (operation == TOperation::opRemove && component) RemoveFreeNotification(component);
  // Index walk: a receiver may free components of this owner.
  for (size_t i = 0; i < components_.size(); ++i)
    components_[i]->Notification(component, operation);
}

void TComponent::GetChildren(const TGetChildProc& proc, TComponent* root) {
  if (root != this) return;
  for (size_t i = 0; i < components_.size(); ++i) {
    TComponent* c = components_[i];
    if (!c->HasParent() && !c->style_.Contains(csSubComponent)) proc(c);
  }
}

void TComponent::ReadState(TReader& reader) { reader.ReadData(this); }

void TComponent::WriteState(TWriter& writer) { writer.WriteData(this); }

void TComponent::Loaded() { state_.Exclude(csLoading); }

// ---- global component lookup
namespace {
std::vector<TFindGlobalComponent>& Finders() {
  static std::vector<TFindGlobalComponent> finders;
  return finders;
}
}  // namespace

void RegisterFindGlobalComponent(TFindGlobalComponent finder) {
  auto& f = Finders();
  if (std::find(f.begin(), f.end(), finder) == f.end()) f.push_back(finder);
}

void UnRegisterFindGlobalComponent(TFindGlobalComponent finder) {
  auto& f = Finders();
  f.erase(std::remove(f.begin(), f.end(), finder), f.end());
}

TComponent* FindGlobalComponent(std::string_view name) {
  for (TFindGlobalComponent f : Finders())
    if (TComponent* c = f(name)) return c;
  return nullptr;
}

}  // namespace classlib
