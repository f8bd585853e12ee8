// TsgControl: the base of every interactive scene control. A control draws
// nothing itself: its look is a style (a tree of shapes, texts and
// animations) found by name in a style book, cloned and inserted as its
// first child. Also here: bindings between controls, the link to an action
// of the class library, help fields, tab order, and the two plain visual
// classes beside it, TsgBackground (root of every style stream) and
// TsgContent (host of a styled control's own children).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "classlib/component.h"
#include "scene/sg_brush.h"
#include "scene/sg_visual.h"

namespace kelm::scene {

class TsgControl;

// An action's state as a control copies it; filled by the action bridge.
struct TsgActionState {
  std::u16string Caption;
  std::u16string Hint;
  bool Enabled = true;
  bool Visible = true;
  classlib::TNotifyEvent OnExecute;
};

// The class library's actions and action links live in its Win32 part;
// the Win32 part of this library installs the bridge at start-up. Without
// a bridge controls take no action.
class IsgActionBridge {
 public:
  // A new link whose client is the control; owned by the control.
  virtual classlib::TObject* CreateLink(TsgControl* control) = 0;
  // Gives the link the action; every later change of the action calls the
  // control's ActionChange (action, false).
  virtual void SetLinkAction(classlib::TObject* link, classlib::TComponent* action) = 0;
  virtual classlib::TComponent* LinkAction(classlib::TObject* link) = 0;
  virtual void UpdateLink(classlib::TObject* link) = 0;
  // False for an action that is not of the custom-action kind.
  virtual bool ReadCustomAction(classlib::TComponent* action, TsgActionState& state) = 0;
  // The linked action supplies HelpContext, HelpKeyword and HelpType.
  virtual bool IsHelpLinked(classlib::TObject* link) = 0;

 protected:
  ~IsgActionBridge() = default;
};
void SetActionBridge(IsgActionBridge* bridge);
IsgActionBridge* ActionBridge();

class TsgControl : public TsgVisualObject {
  CL_DECLARE_CLASS(TsgControl, TsgVisualObject)
 public:
  explicit TsgControl(classlib::TComponent* AOwner);
  ~TsgControl() override;
  // Frees the action link and releases every binding target, then the
  // visual object's detach steps.
  void BeforeDestruction() override;
  void Loaded() override;
  void Notification(classlib::TComponent* component, classlib::TOperation operation) override;

  // ---- fields
  TsgVisualObject* StyleObject() const { return styleObject_; }
  bool NeedStyle() const { return needStyle_; }
  TsgControl* BindingSource() const { return bindingSource_; }
  void SetBindingSource(TsgControl* source);
  // Empty until the first target joins.
  const std::vector<TsgControl*>& BindingTargets() const;
  bool AutoTranslate = false;
  classlib::TObject* ActionLink() const { return actionLink_; }
  classlib::THelpType HelpType() const { return helpType_; }
  void SetHelpType(classlib::THelpType v) { helpType_ = v; }
  const std::string& HelpKeyword() const { return helpKeyword_; }
  void SetHelpKeyword(const std::string& v);
  int32_t HelpContext() const { return helpContext_; }
  void SetHelpContext(int32_t v);
  const std::string& Resource() const { return resource_; }
  void SetResource(const std::string& v);
  int GetTabOrder() const;
  void SetTabOrder(int value);
  // Appends this object's tab list in order; recursive: each entry's own
  // tab list right after the entry.
  void GetTabList(std::vector<TsgVisualObject*>& list, bool recursive) const;

  // ---- virtual operations, in slot order after TsgVisualObject's
  virtual classlib::TComponent* GetAction();
  virtual void ActionChange(classlib::TComponent* action, bool checkDefaults);
  virtual void UpdateAction();
  // After a style was inserted: controls find and wire its parts here.
  virtual void ApplyStyle();
  // Before the applied style is freed: drop references into it.
  virtual void FreeStyle() {}

  // The text of a text control; the text control class overrides all
  // three. Captions of linked actions go through them.
  virtual bool IsTextControl() const { return false; }
  virtual std::u16string GetText() const { return {}; }
  virtual void SetText(const std::u16string& text) { (void)text; }

  // ---- further operations
  void SetAction(classlib::TComponent* action);
  void AddBindingTarget(TsgControl* target);
  void RemoveBindingTarget(TsgControl* target);
  void NotifyBindingTargets();
  // A new clone of this control's style, owned by the control, or none.
  TsgVisualObject* FindStyleResource();
  // The name a class's style is found under: "Tsg" dropped, "style" added.
  static std::string StyleNameOf(classlib::TClass cls);

  // ---- overrides
  TsgObject* FindResource(const std::string& name) override;
  void UpdateStyle() override;
  void ApplyResource() override;
  void EnterFocus() override;
  void BeforePaint() override;
  bool IsControlObject() const override { return true; }

  // Stream predicate: help fields a linked action supplies are not stored.
  bool HelpStored() const;

 private:
  TsgVisualObject* CloneStyle(TsgObject* found);
  TsgObject* FindInStyleRoot(TsgObject* root, bool parentClass) const;
  void ReleaseBindingTargets();

  TsgVisualObject* styleObject_ = nullptr;
  bool needStyle_ = true;
  std::unique_ptr<std::vector<TsgControl*>> bindingTargets_;
  TsgControl* bindingSource_ = nullptr;
  classlib::TObject* actionLink_ = nullptr;
  // The action given to the link: the link may already have let go of it
  // when the action's free is announced.
  classlib::TComponent* action_ = nullptr;
  classlib::THelpType helpType_ = classlib::THelpType::htContext;
  std::string helpKeyword_;
  int32_t helpContext_ = 0;
  std::string resource_;
};

class TsgBackground : public TsgControl {
  CL_DECLARE_CLASS(TsgBackground, TsgControl)
 public:
  explicit TsgBackground(classlib::TComponent* AOwner);
  ~TsgBackground() override;
  TsgBrush* Fill() const { return fill_; }
  void SetFill(TsgBrush* v) { fill_->Assign(v); }
  virtual void FillChanged(classlib::TObject* sender);

  void Paint() override;
  void PaintChildren() override;

 private:
  void FillChangedEvent(classlib::TObject* sender) { FillChanged(sender); }
  TsgBrush* fill_;
};

class TsgContent : public TsgVisualObject {
  CL_DECLARE_CLASS(TsgContent, TsgVisualObject)
 public:
  explicit TsgContent(classlib::TComponent* AOwner) : TsgVisualObject(AOwner) {}
  void Realign() override;
  bool IsContentObject() const override { return true; }
  // Its children are written as the control's around it.
  TsgObject* ChildWritingParent() override { return Parent() ? Parent() : this; }

 private:
  bool inParentRealign_ = false;
};

// Registers TsgControl, TsgBackground, TsgContent, and TsgVisualObject,
// which groups the parts of a style.
void RegisterControlClasses();

}  // namespace kelm::scene
