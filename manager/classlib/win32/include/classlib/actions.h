// Actions, action lists and action links: one command shared by buttons and
// menu items, whose Caption, Enabled, Hint, Visible and the rest reach
// every linked client, and whose OnUpdate runs in the action-update pass.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "classlib/controls.h"

namespace classlib {

class TBasicActionLink;
class TCustomActionList;
class TCustomImageList;

class TBasicAction : public TComponent {
  CL_DECLARE_CLASS(TBasicAction, TComponent)
 public:
  explicit TBasicAction(TComponent* AOwner) : TComponent(AOwner) {}
  void BeforeDestruction() override;

  // Runs OnExecute; answers whether there was one.
  virtual bool Execute();
  // Runs OnUpdate; answers whether there was one.
  virtual bool Update();
  // The component that executed the action (a button, a menu item).
  TComponent* ActionComponent() const { return actionComponent_; }
  void SetActionComponent(TComponent* c) { actionComponent_ = c; }
  // In the action-update pass each action updates once: true the first
  // time it is asked in the current pass (always outside a pass).
  bool TakeUpdatePass();

  void RegisterChanges(TBasicActionLink* link);
  void UnRegisterChanges(TBasicActionLink* link);
  int ClientCount() const { return static_cast<int>(clients_.size()); }

  TNotifyEvent OnExecute, OnUpdate, OnChange;

 protected:
  virtual void Change();
  std::vector<TBasicActionLink*> clients_;

 private:
  TComponent* actionComponent_ = nullptr;
  unsigned lastPass_ = 0;
};

class TBasicActionLink : public TObject {
  CL_DECLARE_CLASS(TBasicActionLink, TObject)
 public:
  TBasicActionLink() = default;
  ~TBasicActionLink() override;
  TBasicAction* Action() const { return action_; }
  virtual void SetAction(TBasicAction* a);
  virtual bool Execute(TComponent* component = nullptr);
  virtual bool Update();
  // Called by the action after any property changed.
  std::function<void(TObject*)> OnChange;

 protected:
  friend class TBasicAction;
  virtual void Change();
  TBasicAction* action_ = nullptr;
};

class TCustomAction;

// Per-property setters run when the action changes; a client property
// follows the action only while it still shows the action's value.
class TActionLink : public TBasicActionLink {
  CL_DECLARE_CLASS(TActionLink, TBasicActionLink)
 public:
  virtual bool IsCaptionLinked() { return Action() != nullptr; }
  virtual bool IsCheckedLinked() { return Action() != nullptr; }
  virtual bool IsEnabledLinked() { return Action() != nullptr; }
  virtual bool IsHelpContextLinked() { return Action() != nullptr; }
  virtual bool IsHintLinked() { return Action() != nullptr; }
  virtual bool IsImageIndexLinked() { return Action() != nullptr; }
  virtual bool IsVisibleLinked() { return Action() != nullptr; }
  virtual bool IsOnExecuteLinked() { return Action() != nullptr; }
  virtual void SetCaption(const std::u16string&) {}
  virtual void SetChecked(bool) {}
  virtual void SetEnabled(bool) {}
  virtual void SetHelpContext(int) {}
  virtual void SetHint(const std::u16string&) {}
  virtual void SetImageIndex(int) {}
  virtual void SetVisible(bool) {}
  virtual void SetOnExecute(const TNotifyEvent&) {}
  // Help travels as one: context, keyword and type are linked together.
  virtual bool IsHelpLinked() { return IsHelpContextLinked(); }
  virtual void SetHelpKeyword(const std::string&) {}
  virtual void SetHelpType(THelpType) {}
  // Before the client's hint shows: a custom action may rewrite it
  // (its OnHint). Answers whether the hint may show.
  virtual bool DoShowHint(std::u16string& hint);

 protected:
  TCustomAction* CustomAction() const;
};

class TControlActionLink : public TActionLink {
  CL_DECLARE_CLASS(TControlActionLink, TActionLink)
 public:
  explicit TControlActionLink(TControl* client) : client_(client) {}
  TControl* Client() const { return client_; }
  bool IsCaptionLinked() override;
  bool IsEnabledLinked() override;
  bool IsHelpContextLinked() override;
  bool IsHintLinked() override;
  bool IsVisibleLinked() override;
  bool IsOnExecuteLinked() override;
  void SetCaption(const std::u16string& v) override;
  void SetEnabled(bool v) override;
  void SetHelpContext(int v) override;
  void SetHint(const std::u16string& v) override;
  void SetVisible(bool v) override;
  void SetOnExecute(const TNotifyEvent& v) override;

 protected:
  TControl* client_;
};

class TContainedAction : public TBasicAction {
  CL_DECLARE_CLASS(TContainedAction, TBasicAction)
 public:
  explicit TContainedAction(TComponent* AOwner) : TBasicAction(AOwner) {}
  void BeforeDestruction() override;
  // The list first (its OnExecute / OnUpdate may handle it), then the action.
  bool Execute() override;
  bool Update() override;
  TCustomActionList* ActionList() const { return actionList_; }
  void SetActionList(TCustomActionList* list);
  const std::string& Category() const { return category_; }
  void SetCategory(const std::string& v) { category_ = v; }
  int Index() const;
  bool HasParent() const override { return actionList_ != nullptr; }
  TComponent* GetParentComponent() const override;
  void SetParentComponent(TComponent* parent) override;

 private:
  friend class TCustomActionList;
  TCustomActionList* actionList_ = nullptr;
  std::string category_;
};

class TCustomAction : public TContainedAction {
  CL_DECLARE_CLASS(TCustomAction, TContainedAction)
 public:
  explicit TCustomAction(TComponent* AOwner) : TContainedAction(AOwner) {}
  bool Execute() override;

  const std::u16string& Caption() const { return caption_; }
  void SetCaption(const std::u16string& v);
  bool Checked() const { return checked_; }
  void SetChecked(bool v);
  // Setting Enabled reaches every linked button and menu item.
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool v);
  int HelpContext() const { return helpContext_; }
  void SetHelpContext(int v);
  const std::string& HelpKeyword() const { return helpKeyword_; }
  void SetHelpKeyword(const std::string& v);
  THelpType HelpType() const { return helpType_; }
  void SetHelpType(THelpType v);
  const std::u16string& Hint() const { return hint_; }
  void SetHint(const std::u16string& v);
  int ImageIndex() const { return imageIndex_; }
  void SetImageIndex(int v);
  bool Visible() const { return visible_; }
  void SetVisible(bool v);
  bool AutoCheck() const { return autoCheck_; }
  void SetAutoCheck(bool v) { autoCheck_ = v; }
  int GroupIndex() const { return groupIndex_; }
  void SetGroupIndex(int v) { groupIndex_ = v; }
  // Runs OnHint on a client's hint; answers whether it may show.
  virtual bool DoHint(std::u16string& hint);

  // (hint text, may show): both may be changed.
  TEvent<std::u16string&, bool&> OnHint;

 private:
  template <class F>
  void ForLinks(F f);

  std::u16string caption_;
  std::u16string hint_;
  std::string helpKeyword_;
  bool checked_ = false;
  bool enabled_ = true;
  bool visible_ = true;
  bool autoCheck_ = false;
  int helpContext_ = 0;
  THelpType helpType_ = THelpType::htKeyword;
  int imageIndex_ = -1;
  int groupIndex_ = 0;
};

class TAction : public TCustomAction {
  CL_DECLARE_CLASS(TAction, TCustomAction)
 public:
  explicit TAction(TComponent* AOwner) : TCustomAction(AOwner) {}
};

// Sender is the action; setting handled stops the action's own handler.
using TActionEvent = TEvent<TBasicAction*, bool&>;

class TCustomActionList : public TComponent {
  CL_DECLARE_CLASS(TCustomActionList, TComponent)
 public:
  explicit TCustomActionList(TComponent* AOwner) : TComponent(AOwner) {}
  void BeforeDestruction() override;

  int ActionCount() const { return static_cast<int>(actions_.size()); }
  TContainedAction* Actions(int index) const { return actions_.at(static_cast<size_t>(index)); }
  void AddAction(TContainedAction* a);
  void RemoveAction(TContainedAction* a);
  int IndexOfAction(const TContainedAction* a) const;
  // OnExecute / OnUpdate of the list; true when handled there.
  virtual bool ExecuteAction(TBasicAction* a);
  virtual bool UpdateAction(TBasicAction* a);
  // Updates every action once (the action-update pass).
  void UpdateActions();

  TCustomImageList* Images() const { return images_; }
  void SetImages(TCustomImageList* v);

  void GetChildren(const TGetChildProc& proc, TComponent* root) override;
  void SetChildOrder(TComponent* child, int order) override;
  void Notification(TComponent* component, TOperation operation) override;

  TActionEvent OnExecute, OnUpdate;
  TNotifyEvent OnChange;

 private:
  friend class TContainedAction;
  std::vector<TContainedAction*> actions_;
  TCustomImageList* images_ = nullptr;
};

class TActionList : public TCustomActionList {
  CL_DECLARE_CLASS(TActionList, TCustomActionList)
 public:
  explicit TActionList(TComponent* AOwner) : TCustomActionList(AOwner) {}
};

}  // namespace classlib
