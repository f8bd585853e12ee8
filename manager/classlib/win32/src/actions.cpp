#include "classlib/actions.h"

#include <algorithm>

#include "classlib/forms.h"
#include "classlib/imglist.h"

namespace classlib {

// ---- TBasicAction
CL_CLASS(TBasicAction) {
  c.Event("OnExecute", &TBasicAction::OnExecute, &TBasicAction::OnExecute);
  c.Event("OnUpdate", &TBasicAction::OnUpdate, &TBasicAction::OnUpdate);
}

void TBasicAction::BeforeDestruction() {
  TComponent::BeforeDestruction();
  // Clients hear of the free through their free notification; the links
  // must not point here any longer.
  for (TBasicActionLink* link : std::vector<TBasicActionLink*>(clients_)) link->action_ = nullptr;
  clients_.clear();
}

bool TBasicAction::Execute() {
  if (!OnExecute) return false;
  OnExecute(this);
  return true;
}

bool TBasicAction::Update() {
  if (!OnUpdate) return false;
  OnUpdate(this);
  return true;
}

bool TBasicAction::TakeUpdatePass() {
  if (!Application || !Application->InActionUpdate()) return true;
  if (lastPass_ == Application->ActionPass()) return false;
  lastPass_ = Application->ActionPass();
  return true;
}

void TBasicAction::RegisterChanges(TBasicActionLink* link) {
  if (std::find(clients_.begin(), clients_.end(), link) == clients_.end()) clients_.push_back(link);
}

void TBasicAction::UnRegisterChanges(TBasicActionLink* link) {
  clients_.erase(std::remove(clients_.begin(), clients_.end(), link), clients_.end());
}

void TBasicAction::Change() {
  if (OnChange) OnChange(this);
  for (TBasicActionLink* link : std::vector<TBasicActionLink*>(clients_)) link->Change();
}

// ---- TBasicActionLink
CL_CLASS(TBasicActionLink) {}

TBasicActionLink::~TBasicActionLink() {
  if (action_) action_->UnRegisterChanges(this);
}

void TBasicActionLink::SetAction(TBasicAction* a) {
  if (a == action_) return;
  if (action_) action_->UnRegisterChanges(this);
  action_ = a;
  if (action_) action_->RegisterChanges(this);
}

bool TBasicActionLink::Execute(TComponent* component) {
  if (!action_) return false;
  action_->SetActionComponent(component);
  struct Reset {
    TBasicAction*& a;
    ~Reset() {
      if (a) a->SetActionComponent(nullptr);
    }
  } reset{action_};
  return action_->Execute();
}

bool TBasicActionLink::Update() {
  return action_ && action_->TakeUpdatePass() && action_->Update();
}

void TBasicActionLink::Change() {
  if (OnChange) OnChange(action_);
}

// ---- TActionLink
CL_CLASS(TActionLink) {}

TCustomAction* TActionLink::CustomAction() const { return dynamic_cast<TCustomAction*>(Action()); }

bool TActionLink::DoShowHint(std::u16string& hint) {
  if (TCustomAction* a = CustomAction()) return a->DoHint(hint);
  return true;
}

// ---- TControlActionLink
CL_CLASS(TControlActionLink) {}

bool TControlActionLink::IsCaptionLinked() {
  auto* a = CustomAction();
  return a && client_->Caption() == a->Caption();
}
bool TControlActionLink::IsEnabledLinked() {
  auto* a = CustomAction();
  return a && client_->Enabled() == a->Enabled();
}
bool TControlActionLink::IsHelpContextLinked() {
  auto* a = CustomAction();
  return a && client_->HelpContext() == a->HelpContext();
}
bool TControlActionLink::IsHintLinked() {
  auto* a = CustomAction();
  return a && client_->Hint() == a->Hint();
}
bool TControlActionLink::IsVisibleLinked() {
  auto* a = CustomAction();
  return a && client_->Visible() == a->Visible();
}
bool TControlActionLink::IsOnExecuteLinked() {
  return Action() && client_->OnClick == Action()->OnExecute;
}
void TControlActionLink::SetCaption(const std::u16string& v) {
  if (IsCaptionLinked()) client_->SetCaption(v);
}
void TControlActionLink::SetEnabled(bool v) {
  if (IsEnabledLinked()) client_->SetEnabled(v);
}
void TControlActionLink::SetHelpContext(int v) {
  if (IsHelpContextLinked()) client_->SetHelpContext(v);
}
void TControlActionLink::SetHint(const std::u16string& v) {
  if (IsHintLinked()) client_->SetHint(v);
}
void TControlActionLink::SetVisible(bool v) {
  if (IsVisibleLinked()) client_->SetVisible(v);
}
void TControlActionLink::SetOnExecute(const TNotifyEvent& v) {
  if (IsOnExecuteLinked()) client_->OnClick = v;
}

// ---- TContainedAction
CL_CLASS(TContainedAction) {
  c.Str("Category", &TContainedAction::Category, &TContainedAction::SetCategory);
}

void TContainedAction::BeforeDestruction() {
  TBasicAction::BeforeDestruction();
  SetActionList(nullptr);
}

bool TContainedAction::Execute() {
  if (actionList_ && actionList_->ExecuteAction(this)) return true;
  return TBasicAction::Execute();
}

bool TContainedAction::Update() {
  if (actionList_ && actionList_->UpdateAction(this)) return true;
  return TBasicAction::Update();
}

void TContainedAction::SetActionList(TCustomActionList* list) {
  if (list == actionList_) return;
  if (actionList_) actionList_->RemoveAction(this);
  if (list) list->AddAction(this);
}

int TContainedAction::Index() const { return actionList_ ? actionList_->IndexOfAction(this) : -1; }

TComponent* TContainedAction::GetParentComponent() const { return actionList_; }

void TContainedAction::SetParentComponent(TComponent* parent) {
  if (auto* list = dynamic_cast<TCustomActionList*>(parent)) SetActionList(list);
}

// ---- TCustomAction
CL_CLASS(TCustomAction) {
  c.Bool("AutoCheck", &TCustomAction::AutoCheck, &TCustomAction::SetAutoCheck).Default(false);
  c.WStr("Caption", &TCustomAction::Caption, &TCustomAction::SetCaption);
  c.Bool("Checked", &TCustomAction::Checked, &TCustomAction::SetChecked).Default(false);
  c.Bool("Enabled", &TCustomAction::Enabled, &TCustomAction::SetEnabled).Default(true);
  c.Int("GroupIndex", &TCustomAction::GroupIndex, &TCustomAction::SetGroupIndex).Default(0);
  c.Int("HelpContext", &TCustomAction::HelpContext, &TCustomAction::SetHelpContext).Default(0);
  c.Str("HelpKeyword", &TCustomAction::HelpKeyword, &TCustomAction::SetHelpKeyword);
  c.Enum("HelpType", &TCustomAction::HelpType, &TCustomAction::SetHelpType, &TypeInfo_THelpType)
      .Default(THelpType::htKeyword);
  c.WStr("Hint", &TCustomAction::Hint, &TCustomAction::SetHint);
  c.Int("ImageIndex", &TCustomAction::ImageIndex, &TCustomAction::SetImageIndex).Default(-1);
  c.Bool("Visible", &TCustomAction::Visible, &TCustomAction::SetVisible).Default(true);
  c.Event("OnHint", &TCustomAction::OnHint, &TCustomAction::OnHint);
}

template <class F>
void TCustomAction::ForLinks(F f) {
  for (TBasicActionLink* link : std::vector<TBasicActionLink*>(clients_))
    if (auto* l = dynamic_cast<TActionLink*>(link)) f(l);
}

bool TCustomAction::Execute() {
  if (!enabled_) return false;
  if (autoCheck_) SetChecked(!checked_);
  return TContainedAction::Execute();
}

// Each setter tells the links before it stores, so a link can see whether
// its client still shows the old value.
void TCustomAction::SetCaption(const std::u16string& v) {
  if (v == caption_) return;
  ForLinks([&](TActionLink* l) { l->SetCaption(v); });
  caption_ = v;
  Change();
}

void TCustomAction::SetChecked(bool v) {
  if (v == checked_) return;
  ForLinks([&](TActionLink* l) { l->SetChecked(v); });
  checked_ = v;
  // Checking one action of a group clears the others.
  if (v && groupIndex_ > 0 && ActionList())
    for (int i = 0; i < ActionList()->ActionCount(); ++i)
      if (auto* a = dynamic_cast<TCustomAction*>(ActionList()->Actions(i));
          a && a != this && a->groupIndex_ == groupIndex_)
        a->SetChecked(false);
  Change();
}

void TCustomAction::SetEnabled(bool v) {
  if (v == enabled_) return;
  ForLinks([&](TActionLink* l) { l->SetEnabled(v); });
  enabled_ = v;
  Change();
}

void TCustomAction::SetHelpContext(int v) {
  if (v == helpContext_) return;
  ForLinks([&](TActionLink* l) { l->SetHelpContext(v); });
  helpContext_ = v;
  Change();
}

void TCustomAction::SetHelpKeyword(const std::string& v) {
  if (v == helpKeyword_) return;
  ForLinks([&](TActionLink* l) { l->SetHelpKeyword(v); });
  helpKeyword_ = v;
  Change();
}

void TCustomAction::SetHelpType(THelpType v) {
  if (v == helpType_) return;
  ForLinks([&](TActionLink* l) { l->SetHelpType(v); });
  helpType_ = v;
  Change();
}

bool TCustomAction::DoHint(std::u16string& hint) {
  bool canShow = true;
  if (OnHint) OnHint(hint, canShow);
  return canShow;
}

void TCustomAction::SetHint(const std::u16string& v) {
  if (v == hint_) return;
  ForLinks([&](TActionLink* l) { l->SetHint(v); });
  hint_ = v;
  Change();
}

void TCustomAction::SetImageIndex(int v) {
  if (v == imageIndex_) return;
  ForLinks([&](TActionLink* l) { l->SetImageIndex(v); });
  imageIndex_ = v;
  Change();
}

void TCustomAction::SetVisible(bool v) {
  if (v == visible_) return;
  ForLinks([&](TActionLink* l) { l->SetVisible(v); });
  visible_ = v;
  Change();
}

CL_CLASS(TAction) {}

// ---- TCustomActionList
CL_CLASS(TCustomActionList) {
  c.Object("Images", &TCustomActionList::Images, &TCustomActionList::SetImages);
  c.Event("OnExecute", &TCustomActionList::OnExecute, &TCustomActionList::OnExecute);
  c.Event("OnUpdate", &TCustomActionList::OnUpdate, &TCustomActionList::OnUpdate);
  c.Event("OnChange", &TCustomActionList::OnChange, &TCustomActionList::OnChange);
}

void TCustomActionList::BeforeDestruction() {
  TComponent::BeforeDestruction();
  for (TContainedAction* a : std::vector<TContainedAction*>(actions_)) a->actionList_ = nullptr;
  actions_.clear();
}

void TCustomActionList::AddAction(TContainedAction* a) {
  if (a->actionList_ == this) return;
  actions_.push_back(a);
  a->actionList_ = this;
  a->FreeNotification(this);
}

void TCustomActionList::RemoveAction(TContainedAction* a) {
  auto it = std::find(actions_.begin(), actions_.end(), a);
  if (it == actions_.end()) return;
  actions_.erase(it);
  a->actionList_ = nullptr;
}

int TCustomActionList::IndexOfAction(const TContainedAction* a) const {
  auto it = std::find(actions_.begin(), actions_.end(), a);
  return it == actions_.end() ? -1 : static_cast<int>(it - actions_.begin());
}

bool TCustomActionList::ExecuteAction(TBasicAction* a) {
  bool handled = false;
  if (OnExecute) OnExecute(a, handled);
  return handled;
}

bool TCustomActionList::UpdateAction(TBasicAction* a) {
  bool handled = false;
  if (OnUpdate) OnUpdate(a, handled);
  return handled;
}

void TCustomActionList::UpdateActions() {
  for (TContainedAction* a : std::vector<TContainedAction*>(actions_))
    if (a->TakeUpdatePass()) a->Update();
}

void TCustomActionList::SetImages(TCustomImageList* v) {
  if (images_) images_->RemoveFreeNotification(this);
  images_ = v;
  if (v) v->FreeNotification(this);
}

void TCustomActionList::GetChildren(const TGetChildProc& proc, TComponent* root) {
  for (TContainedAction* a : actions_)
    if (a->Owner() == root) proc(a);
}

void TCustomActionList::SetChildOrder(TComponent* child, int order) {
  auto* a = dynamic_cast<TContainedAction*>(child);
  auto it = std::find(actions_.begin(), actions_.end(), a);
  if (it == actions_.end()) return;
  actions_.erase(it);
  order = std::clamp(order, 0, static_cast<int>(actions_.size()));
  actions_.insert(actions_.begin() + order, a);
}

void TCustomActionList::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation != TOperation::opRemove) return;
  if (component == images_) images_ = nullptr;
  if (auto* a = dynamic_cast<TContainedAction*>(component)) RemoveAction(a);
}

CL_CLASS(TActionList) {}

}  // namespace classlib
