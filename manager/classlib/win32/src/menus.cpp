#include "classlib/menus.h"

#include <algorithm>

#include "classlib/forms.h"
#include "classlib/imglist.h"

namespace classlib {

namespace {
// Command ids are unique in the process; 0 means "no choice" to the system.
UINT NextCommand() {
  static UINT next = 0;
  next = next >= 0x7FFF ? 1 : next + 1;
  return next;
}
}  // namespace

std::u16string StripHotkey(const std::u16string& caption) {
  std::u16string out;
  for (size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == u'&') {
      if (i + 1 < caption.size() && caption[i + 1] == u'&') {
        out += u'&';
        ++i;
      }
      continue;
    }
    out += caption[i];
  }
  return out;
}

// ---- TMenuActionLink
CL_CLASS(TMenuActionLink) {}

bool TMenuActionLink::IsCaptionLinked() {
  return CustomAction() && client_->Caption() == CustomAction()->Caption();
}
bool TMenuActionLink::IsCheckedLinked() {
  return CustomAction() && client_->Checked() == CustomAction()->Checked();
}
bool TMenuActionLink::IsEnabledLinked() {
  return CustomAction() && client_->Enabled() == CustomAction()->Enabled();
}
bool TMenuActionLink::IsHelpContextLinked() {
  return CustomAction() && client_->HelpContext() == CustomAction()->HelpContext();
}
bool TMenuActionLink::IsHintLinked() {
  return CustomAction() && client_->Hint() == CustomAction()->Hint();
}
bool TMenuActionLink::IsImageIndexLinked() {
  return CustomAction() && client_->ImageIndex() == CustomAction()->ImageIndex();
}
bool TMenuActionLink::IsVisibleLinked() {
  return CustomAction() && client_->Visible() == CustomAction()->Visible();
}
bool TMenuActionLink::IsOnExecuteLinked() {
  return Action() && client_->OnClick == Action()->OnExecute;
}
void TMenuActionLink::SetCaption(const std::u16string& v) {
  if (IsCaptionLinked()) client_->SetCaption(v);
}
void TMenuActionLink::SetChecked(bool v) {
  if (IsCheckedLinked()) client_->SetChecked(v);
}
void TMenuActionLink::SetEnabled(bool v) {
  if (IsEnabledLinked()) client_->SetEnabled(v);
}
void TMenuActionLink::SetHelpContext(int v) {
  if (IsHelpContextLinked()) client_->SetHelpContext(v);
}
void TMenuActionLink::SetHint(const std::u16string& v) {
  if (IsHintLinked()) client_->SetHint(v);
}
void TMenuActionLink::SetImageIndex(int v) {
  if (IsImageIndexLinked()) client_->SetImageIndex(v);
}
void TMenuActionLink::SetVisible(bool v) {
  if (IsVisibleLinked()) client_->SetVisible(v);
}
void TMenuActionLink::SetOnExecute(const TNotifyEvent& v) {
  if (IsOnExecuteLinked()) client_->OnClick = v;
}

// ---- TMenuItem
CL_CLASS(TMenuItem) {
  c.Object("Action", &TMenuItem::Action, &TMenuItem::SetAction);
  c.Bool("AutoCheck", &TMenuItem::AutoCheck, &TMenuItem::SetAutoCheck).Default(false);
  c.WStr("Caption", &TMenuItem::Caption, &TMenuItem::SetCaption);
  c.Bool("Checked", &TMenuItem::Checked, &TMenuItem::SetChecked).Default(false);
  c.Bool("Default", &TMenuItem::Default, &TMenuItem::SetDefault).Default(false);
  c.Bool("Enabled", &TMenuItem::Enabled, &TMenuItem::SetEnabled).Default(true);
  c.Int("GroupIndex", &TMenuItem::GroupIndex, &TMenuItem::SetGroupIndex).Default(0);
  c.Int("HelpContext", &TMenuItem::HelpContext, &TMenuItem::SetHelpContext).Default(0);
  c.WStr("Hint", &TMenuItem::Hint, &TMenuItem::SetHint);
  c.Int("ImageIndex", &TMenuItem::ImageIndex, &TMenuItem::SetImageIndex).Default(-1);
  c.Bool("RadioItem", &TMenuItem::RadioItem, &TMenuItem::SetRadioItem).Default(false);
  c.Bool("Visible", &TMenuItem::Visible, &TMenuItem::SetVisible).Default(true);
  c.Event("OnClick", &TMenuItem::OnClick, &TMenuItem::OnClick);
}

TMenuItem::TMenuItem(TComponent* AOwner) : TComponent(AOwner), command_(NextCommand()) {}

TMenuItem::~TMenuItem() { Free(actionLink_); }

void TMenuItem::BeforeDestruction() {
  TComponent::BeforeDestruction();
  if (parent_) parent_->Remove(this);
  Clear();
}

TMenuItem* TMenuItem::Items(int index) const {
  if (index < 0 || index >= Count())
    throw EMenuError(Format(u"Menu index out of range (%d)", {index}));
  return items_[static_cast<size_t>(index)];
}

void TMenuItem::InsertItem(int index, TMenuItem* item) {
  if (item->parent_) throw EMenuError(u"Menu inserted twice");
  index = std::clamp(index, 0, Count());
  items_.insert(items_.begin() + index, item);
  item->parent_ = this;
  Changed();
}

void TMenuItem::Add(TMenuItem* item) { InsertItem(Count(), item); }
void TMenuItem::Insert(int index, TMenuItem* item) { InsertItem(index, item); }

void TMenuItem::Delete(int index) {
  TMenuItem* item = Items(index);
  items_.erase(items_.begin() + index);
  item->parent_ = nullptr;
  Changed();
}

void TMenuItem::Remove(TMenuItem* item) {
  int i = IndexOf(item);
  if (i >= 0) Delete(i);
}

void TMenuItem::Clear() {
  while (!items_.empty()) Free(items_.back());
}

int TMenuItem::IndexOf(const TMenuItem* item) const {
  auto it = std::find(items_.begin(), items_.end(), item);
  return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

TMenuItem* TMenuItem::Find(const std::u16string& caption) const {
  for (TMenuItem* i : items_)
    if (WideCompareText(StripHotkey(i->caption_), StripHotkey(caption)) == 0) return i;
  return nullptr;
}

TMenuItem* TMenuItem::DefaultItem() const {
  for (TMenuItem* i : items_)
    if (i->default_) return i;
  return nullptr;
}

TMenu* TMenuItem::GetParentMenu() const {
  const TMenuItem* i = this;
  while (i->parent_) i = i->parent_;
  return i->menu_;
}

TMenuItem* TMenuItem::FindCommand(UINT command) {
  if (command_ == command) return this;
  for (TMenuItem* i : items_)
    if (TMenuItem* f = i->FindCommand(command)) return f;
  return nullptr;
}

void TMenuItem::Changed() {
  if (TMenu* m = GetParentMenu()) m->MenuChanged();
}

void TMenuItem::SetCaption(const std::u16string& v) {
  if (v == caption_) return;
  caption_ = v;
  Changed();
}

void TMenuItem::SetChecked(bool v) {
  if (v == checked_) return;
  checked_ = v;
  // A checked radio item clears the others of its group.
  if (v && radioItem_ && parent_)
    for (TMenuItem* i : parent_->items_)
      if (i != this && i->radioItem_ && i->groupIndex_ == groupIndex_) i->checked_ = false;
  Changed();
}

void TMenuItem::SetEnabled(bool v) {
  if (v == enabled_) return;
  enabled_ = v;
  Changed();
}

void TMenuItem::SetDefault(bool v) {
  if (v == default_) return;
  if (v && parent_)
    for (TMenuItem* i : parent_->items_) i->default_ = false;
  default_ = v;
  Changed();
}

void TMenuItem::SetRadioItem(bool v) {
  radioItem_ = v;
  Changed();
}

void TMenuItem::SetImageIndex(int v) {
  imageIndex_ = v;
  Changed();
}

void TMenuItem::SetVisible(bool v) {
  if (v == visible_) return;
  visible_ = v;
  Changed();
}

TBasicAction* TMenuItem::Action() const { return actionLink_ ? actionLink_->Action() : nullptr; }

void TMenuItem::SetAction(TBasicAction* v) {
  if (!v) {
    FreeAndNil(actionLink_);
    return;
  }
  if (!actionLink_) actionLink_ = New<TMenuActionLink>(this);
  actionLink_->SetAction(v);
  v->FreeNotification(this);
  if (auto* a = dynamic_cast<TCustomAction*>(v)) {
    const bool loading = IsLoading();
    if (!loading || caption_.empty()) SetCaption(a->Caption());
    if (!loading || !checked_) SetChecked(a->Checked());
    if (!loading || enabled_) SetEnabled(a->Enabled());
    if (!loading || hint_.empty()) SetHint(a->Hint());
    if (!loading || imageIndex_ < 0) SetImageIndex(a->ImageIndex());
    if (!loading || visible_) SetVisible(a->Visible());
  }
}

void TMenuItem::Click() {
  if (!enabled_) return;
  TBasicAction* action = Action();
  // An action that checks itself leaves the toggle to the action.
  auto* custom = dynamic_cast<TCustomAction*>(action);
  if (autoCheck_ && !(custom && custom->AutoCheck())) SetChecked(!checked_);
  if (action && (!OnClick || OnClick == action->OnExecute))
    actionLink_->Execute(this);
  else if (OnClick)
    OnClick(this);
}

void TMenuItem::InitiateAction() {
  if (actionLink_) actionLink_->Update();
  for (TMenuItem* i : std::vector<TMenuItem*>(items_)) i->InitiateAction();
}

TComponent* TMenuItem::GetParentComponent() const {
  if (parent_ && parent_->menu_) return parent_->menu_;
  return parent_;
}

void TMenuItem::SetParentComponent(TComponent* parent) {
  if (parent_) parent_->Remove(this);
  if (auto* m = dynamic_cast<TMenu*>(parent))
    m->Items()->Add(this);
  else if (auto* i = dynamic_cast<TMenuItem*>(parent))
    i->Add(this);
}

void TMenuItem::GetChildren(const TGetChildProc& proc, TComponent* root) {
  for (TMenuItem* i : items_)
    if (i->Owner() == root) proc(i);
}

void TMenuItem::SetChildOrder(TComponent* child, int order) {
  auto* item = dynamic_cast<TMenuItem*>(child);
  if (!item || item->parent_ != this) return;
  items_.erase(std::find(items_.begin(), items_.end(), item));
  order = std::clamp(order, 0, Count());
  items_.insert(items_.begin() + order, item);
  Changed();
}

void TMenuItem::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == TOperation::opRemove && actionLink_ && component == actionLink_->Action())
    SetAction(nullptr);
}

void TMenuItem::AppendTo(HMENU menu) const {
  for (TMenuItem* i : items_) {
    if (!i->visible_) continue;
    MENUITEMINFOW mii{};
    mii.cbSize = sizeof mii;
    if (i->IsLine()) {
      mii.fMask = MIIM_FTYPE;
      mii.fType = MFT_SEPARATOR;
    } else {
      mii.fMask = MIIM_FTYPE | MIIM_STRING | MIIM_ID | MIIM_STATE;
      mii.fType = i->radioItem_ ? MFT_RADIOCHECK : MFT_STRING;
      mii.fState = (i->checked_ ? MFS_CHECKED : 0) | (i->enabled_ ? 0 : MFS_GRAYED) |
                   (i->default_ ? MFS_DEFAULT : 0);
      mii.wID = i->command_;
      mii.dwTypeData = const_cast<wchar_t*>(WStr(i->caption_));
      if (!i->items_.empty()) {
        mii.fMask |= MIIM_SUBMENU;
        mii.hSubMenu = CreatePopupMenu();
        i->AppendTo(mii.hSubMenu);
      }
    }
    InsertMenuItemW(menu, GetMenuItemCount(menu), TRUE, &mii);
  }
}

// ---- TMenu
CL_CLASS(TMenu) { c.Object("Images", &TMenu::Images, &TMenu::SetImages); }

TMenu::TMenu(TComponent* AOwner) : TComponent(AOwner), items_(New<TMenuItem>(nullptr)) {
  items_->menu_ = this;
}

TMenu::~TMenu() {
  if (handle_) DestroyMenu(handle_);
}

void TMenu::BeforeDestruction() {
  TComponent::BeforeDestruction();
  FreeAndNil(items_);
}

void TMenu::SetImages(TCustomImageList* v) {
  if (images_) images_->RemoveFreeNotification(this);
  images_ = v;
  if (v) v->FreeNotification(this);
}

HMENU TMenu::Handle() {
  if (!handle_) {
    handle_ = CreatePopupMenu();
    items_->AppendTo(handle_);
  }
  return handle_;
}

void TMenu::MenuChanged() {
  if (handle_) DestroyMenu(handle_);
  handle_ = nullptr;
}

TMenuItem* TMenu::FindItem(UINT command) { return items_ ? items_->FindCommand(command) : nullptr; }

bool TMenu::DispatchCommand(UINT command) {
  TMenuItem* item = FindItem(command);
  if (!item || item == items_) return false;
  item->Click();
  return true;
}

void TMenu::GetChildren(const TGetChildProc& proc, TComponent* root) {
  items_->GetChildren(proc, root);
}
void TMenu::SetChildOrder(TComponent* child, int order) { items_->SetChildOrder(child, order); }

void TMenu::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == TOperation::opRemove && component == images_) images_ = nullptr;
}

// ---- TMainMenu
CL_CLASS(TMainMenu) {}

HMENU TMainMenu::Handle() {
  if (!handle_) {
    handle_ = CreateMenu();
    Items()->AppendTo(handle_);
  }
  return handle_;
}

void TMainMenu::MenuChanged() {
  // The form shows the menu bar: give it the new one at once.
  HWND form = nullptr;
  if (auto* f = dynamic_cast<TCustomForm*>(Owner()); f && f->Menu() == this && f->HandleAllocated())
    form = f->Handle();
  HMENU old = handle_;
  handle_ = nullptr;
  if (form) {
    ::SetMenu(form, Handle());
    DrawMenuBar(form);
  }
  if (old) DestroyMenu(old);
}

// ---- TPopupMenu
CL_CLASS(TPopupMenu) {
  c.Bool("AutoPopup", &TPopupMenu::AutoPopup, &TPopupMenu::SetAutoPopup).Default(true);
  c.Event("OnPopup", &TPopupMenu::OnPopup, &TPopupMenu::OnPopup);
}

void TPopupMenu::Popup(int x, int y) {
  if (OnPopup) OnPopup(this);
  Items()->InitiateAction();
  MenuChanged();
  HMENU menu = Handle();
  // The menu needs a window of this thread to report to.
  HWND owner = Application && Application->Handle() ? Application->Handle() : GetActiveWindow();
  UINT flags = TPM_RETURNCMD | TPM_RIGHTBUTTON |
               (alignment_ == TPopupAlignment::paRight    ? TPM_RIGHTALIGN
                : alignment_ == TPopupAlignment::paCenter ? TPM_CENTERALIGN
                                                          : TPM_LEFTALIGN);
  UINT command = static_cast<UINT>(TrackPopupMenuEx(menu, flags, x, y, owner, nullptr));
  if (command) DispatchCommand(command);
}

}  // namespace classlib
