// Menus: items with captions, checks, radio groups, default items, actions
// and sub-items; pop-up menus shown at a screen point; the form's menu bar.
#pragma once

#include <string>
#include <vector>

#include "classlib/actions.h"

namespace classlib {

class TMenu;
class TMenuItem;
class TCustomImageList;

CLASSLIB_EXCEPTION(EMenuError, Exception)

// The caption without its "&" marks ("&&" stays one "&").
std::u16string StripHotkey(const std::u16string& caption);

class TMenuActionLink : public TActionLink {
  CL_DECLARE_CLASS(TMenuActionLink, TActionLink)
 public:
  explicit TMenuActionLink(TMenuItem* client) : client_(client) {}
  bool IsCaptionLinked() override;
  bool IsCheckedLinked() override;
  bool IsEnabledLinked() override;
  bool IsHelpContextLinked() override;
  bool IsHintLinked() override;
  bool IsImageIndexLinked() override;
  bool IsVisibleLinked() override;
  bool IsOnExecuteLinked() override;
  void SetCaption(const std::u16string& v) override;
  void SetChecked(bool v) override;
  void SetEnabled(bool v) override;
  void SetHelpContext(int v) override;
  void SetHint(const std::u16string& v) override;
  void SetImageIndex(int v) override;
  void SetVisible(bool v) override;
  void SetOnExecute(const TNotifyEvent& v) override;

 private:
  TMenuItem* client_;
};

class TMenuItem : public TComponent {
  CL_DECLARE_CLASS(TMenuItem, TComponent)
 public:
  explicit TMenuItem(TComponent* AOwner);
  ~TMenuItem() override;
  void BeforeDestruction() override;

  // ---- sub-items (owned by this item's list; freed with it)
  int Count() const { return static_cast<int>(items_.size()); }
  TMenuItem* Items(int index) const;
  void Add(TMenuItem* item);
  void Insert(int index, TMenuItem* item);
  void Delete(int index);
  void Remove(TMenuItem* item);
  // Frees every sub-item.
  void Clear();
  int IndexOf(const TMenuItem* item) const;
  TMenuItem* Find(const std::u16string& caption) const;
  TMenuItem* Parent() const { return parent_; }
  int MenuIndex() const { return parent_ ? parent_->IndexOf(this) : -1; }
  // The first sub-item marked Default, or none.
  TMenuItem* DefaultItem() const;
  TMenu* GetParentMenu() const;

  // ---- properties
  const std::u16string& Caption() const { return caption_; }
  void SetCaption(const std::u16string& v);
  bool Checked() const { return checked_; }
  void SetChecked(bool v);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool v);
  bool Default() const { return default_; }
  void SetDefault(bool v);
  bool AutoCheck() const { return autoCheck_; }
  void SetAutoCheck(bool v) { autoCheck_ = v; }
  bool RadioItem() const { return radioItem_; }
  void SetRadioItem(bool v);
  int GroupIndex() const { return groupIndex_; }
  void SetGroupIndex(int v) { groupIndex_ = v; }
  const std::u16string& Hint() const { return hint_; }
  void SetHint(const std::u16string& v) { hint_ = v; }
  int ImageIndex() const { return imageIndex_; }
  void SetImageIndex(int v);
  bool Visible() const { return visible_; }
  void SetVisible(bool v);
  int HelpContext() const { return helpContext_; }
  void SetHelpContext(int v) { helpContext_ = v; }
  TBasicAction* Action() const;
  void SetAction(TBasicAction* v);
  bool IsLine() const { return caption_ == u"-"; }
  // The command id in the system menu.
  UINT Command() const { return command_; }

  // Runs the action (when the click handler is the action's or none) or
  // OnClick; an auto-check item toggles first.
  virtual void Click();
  // The action-update pass for this item and its sub-items.
  void InitiateAction();

  TNotifyEvent OnClick;

  bool HasParent() const override { return true; }
  TComponent* GetParentComponent() const override;
  void SetParentComponent(TComponent* parent) override;
  void GetChildren(const TGetChildProc& proc, TComponent* root) override;
  void SetChildOrder(TComponent* child, int order) override;
  void Notification(TComponent* component, TOperation operation) override;

  // Builds the system menu of the sub-items.
  void AppendTo(HMENU menu) const;
  TMenuItem* FindCommand(UINT command);

 private:
  friend class TMenu;
  void Changed();
  void InsertItem(int index, TMenuItem* item);

  std::vector<TMenuItem*> items_;
  TMenuItem* parent_ = nullptr;
  TMenu* menu_ = nullptr;  // set on a menu's root item
  std::u16string caption_, hint_;
  bool checked_ = false, enabled_ = true, default_ = false, autoCheck_ = false, radioItem_ = false;
  bool visible_ = true;
  int groupIndex_ = 0, imageIndex_ = -1, helpContext_ = 0;
  UINT command_;
  TMenuActionLink* actionLink_ = nullptr;
};

class TMenu : public TComponent {
  CL_DECLARE_CLASS(TMenu, TComponent)
 public:
  explicit TMenu(TComponent* AOwner);
  ~TMenu() override;
  void BeforeDestruction() override;
  TMenuItem* Items() const { return items_; }
  TCustomImageList* Images() const { return images_; }
  void SetImages(TCustomImageList* v);
  virtual HMENU Handle();
  // Clicks the item with this command id; false when there is none.
  bool DispatchCommand(UINT command);
  TMenuItem* FindItem(UINT command);
  void GetChildren(const TGetChildProc& proc, TComponent* root) override;
  void SetChildOrder(TComponent* child, int order) override;
  void Notification(TComponent* component, TOperation operation) override;
  // An item changed: a built menu is made again on next use.
  virtual void MenuChanged();

 protected:
  HMENU handle_ = nullptr;

 private:
  TMenuItem* items_;
  TCustomImageList* images_ = nullptr;
};

class TMainMenu : public TMenu {
  CL_DECLARE_CLASS(TMainMenu, TMenu)
 public:
  explicit TMainMenu(TComponent* AOwner) : TMenu(AOwner) {}
  HMENU Handle() override;
  void MenuChanged() override;
};

enum class TPopupAlignment { paLeft, paRight, paCenter };

class TPopupMenu : public TMenu {
  CL_DECLARE_CLASS(TPopupMenu, TMenu)
 public:
  explicit TPopupMenu(TComponent* AOwner) : TMenu(AOwner) {}
  // Shows the menu at a screen point and runs the chosen item.
  virtual void Popup(int x, int y);
  bool AutoPopup() const { return autoPopup_; }
  void SetAutoPopup(bool v) { autoPopup_ = v; }
  TComponent* PopupComponent() const { return popupComponent_; }
  void SetPopupComponent(TComponent* c) { popupComponent_ = c; }
  TPopupAlignment Alignment() const { return alignment_; }
  void SetAlignment(TPopupAlignment v) { alignment_ = v; }
  TNotifyEvent OnPopup;

 private:
  bool autoPopup_ = true;
  TComponent* popupComponent_ = nullptr;
  TPopupAlignment alignment_ = TPopupAlignment::paLeft;
};

}  // namespace classlib
