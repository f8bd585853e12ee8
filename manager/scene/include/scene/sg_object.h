// TsgObject: the node of the retained scene. A component of the class
// library (name, tag, owner, "TPF0" streaming) that also keeps its own
// ordered child list, a parent and the IsgScene of its host window. The
// tree, not component ownership, decides what is painted, laid out,
// hit-tested and streamed as children.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "classlib/component.h"
#include "classlib/lists.h"
#include "classlib/variant.h"
#include "scene/sg_scene_intf.h"

namespace kelm::scene {

class TsgObject;

// Implemented by objects that hold a reference to a scene object and must
// drop it when the object is freed (visual brushes, brush, path and bitmap
// resource references). Other registered clients that are components hear
// of the free through the component removal notification.
class IsgFreeNotifyClient {
 public:
  virtual void ObjectFreed(TsgObject* obj) = 0;

 protected:
  ~IsgFreeNotifyClient() = default;
};

class TsgObject : public classlib::TComponent {
  CL_DECLARE_CLASS(TsgObject, TComponent)
 public:
  explicit TsgObject(classlib::TComponent* AOwner);
  ~TsgObject() override;
  // The detach sequence: scene notice, notify clients, global list, parent
  // or scene, children last.
  void BeforeDestruction() override;

  // ---- fields
  bool Stored() const { return stored_; }
  // Applied to the subtree; a subtree whose root already has the value is
  // left as it is.
  void SetStored(bool flag);
  const std::string& ResourceName() const { return resourceName_; }
  void SetResourceName(const std::string& v);
  const std::string& BindingName() const { return bindingName_; }
  void SetBindingName(const std::string& v);
  // A free text beside the component's Tag, for the controls' own marks
  // (a scroll box keeps a child whose text is "self"); not streamed.
  const std::u16string& TagText() const { return tagText_; }
  void SetTagText(const std::u16string& v) { tagText_ = v; }
  bool IsVisual() const { return isVisual_; }
  TsgVisualObject* Visual() const { return visual_; }
  TsgObject* Parent() const { return parent_; }
  IsgScene* Scene() const { return scene_; }
  // Position in the global object list (never reused).
  int GlobalIndex() const { return globalIndex_; }

  void AddNotifyClient(classlib::TObject* client);
  void RemoveNotifyClient(classlib::TObject* client);
  int NotifyClientCount() const { return static_cast<int>(notifyClients_.size()); }

  // ---- virtual operations, in slot order
  virtual void SetScene(IsgScene* scene);
  virtual void ParentChanged() {}
  virtual void SetParent(TsgObject* parent);
  virtual classlib::TVariant GetBinding(const std::string& name);
  virtual void SetBinding(const std::string& name, const classlib::TVariant& value);
  virtual classlib::TVariant GetData();
  virtual void SetData(const classlib::TVariant& value) { (void)value; }
  virtual std::string GetDesignItemClasses() { return {}; }
  virtual void AddObject(TsgObject* child);
  virtual void RemoveObject(TsgObject* child);
  virtual void Exchange(TsgObject* child1, TsgObject* child2);
  virtual void DeleteChildren();
  virtual TsgObject* FindResource(const std::string& name);
  virtual void UpdateStyle();
  virtual void StartAnimation(const std::u16string& name);
  virtual void StopAnimation(const std::u16string& name);
  virtual void StartTriggerAnimation(classlib::TObject* instance, const std::string& trigger);
  virtual void StartTriggerAnimationWait(classlib::TObject* instance, const std::string& trigger);
  virtual void StopTriggerAnimation(classlib::TObject* instance);
  virtual void ApplyTriggerEffect(classlib::TObject* instance, const std::string& trigger);

  // ---- tree
  TsgObject* GetChild(int index) const;
  int GetChildrenCount() const { return children_ ? children_->Count() : 0; }
  int GetIndex() const;
  // Outside the parent's list: the class library's list error.
  void SetIndex(int value);
  void BringToFront();
  void SendToBack();
  void SortChildren(const std::function<int(TsgObject*, TsgObject*)>& compare);
  void CollectTree(std::vector<TsgObject*>& list);
  void CollectControls(std::vector<TsgObject*>& list);
  TsgObject* FindBindingObject(const std::string& name);

  // ---- streaming hooks
  void GetChildren(const classlib::TGetChildProc& proc, classlib::TComponent* root) override;
  bool HasParent() const override { return true; }
  classlib::TComponent* GetParentComponent() const override;
  void SetParentComponent(classlib::TComponent* parent) override;

  // ---- roads for the classes the tree treats specially: each overrides
  // its own; the base answers as a plain object.
  // TsgControl: its subtree is not searched for resources; it is collected.
  virtual bool IsControlObject() const { return false; }
  // TsgContent: its children are stored as the control's around it.
  virtual bool IsContentObject() const { return false; }
  // A visual part of a style (Locked, HitTest off): triggers pass into it.
  virtual bool IsLockedPart() const { return false; }
  // The parent reported for writing a child of this object (a popup or a
  // content host names its own parent, a combo list its parent).
  virtual TsgObject* ChildWritingParent() { return this; }
  // Visual steps around tree changes (flags, tab list, repaint, realign).
  virtual void ChildAdded(TsgObject* child) { (void)child; }
  // A non-visual child (an effect) joined a visual object.
  virtual void EffectChildAdded(TsgObject* child) { (void)child; }
  virtual void ChildRemoving(TsgObject* child) { (void)child; }
  virtual void ChildRemoved(TsgObject* child) { (void)child; }
  virtual void RealignChildren() {}
  virtual void RepaintObject() {}
  // TsgAnimation.
  virtual bool IsAnimationObject() const { return false; }
  virtual void AnimationStart() {}
  virtual void AnimationStop() {}
  virtual void AnimationStartTrigger(classlib::TObject* instance, const std::string& trigger) {
    (void)instance, (void)trigger;
  }
  virtual bool AnimationRunning() const { return false; }
  virtual bool AnimationLooping() const { return false; }
  virtual std::string AnimationTrigger() const { return {}; }
  // TsgEffect.
  virtual bool IsEffectObject() const { return false; }
  virtual void EffectApplyTrigger(classlib::TObject* instance, const std::string& trigger) {
    (void)instance, (void)trigger;
  }
  virtual bool EffectEnabled() const { return false; }
  // The area the effect image needs for an object rectangle.
  virtual TsgRect EffectRect(const TsgRect& r) const { return r; }
  // The effect image is drawn instead of the object / after it.
  virtual bool EffectDisablesPaint() const { return false; }
  virtual bool EffectPaintsOver() const { return false; }
  // TsgPopup: opens as a transient popup (StaysOpen off).
  virtual void PopupOpenTransient() {}

 protected:
  // Set once by the visual object's constructor.
  void MarkVisual(TsgVisualObject* self) {
    isVisual_ = true;
    visual_ = self;
  }
  void ResetSiblingIndexes();
  // Swaps the parent reference alone, without the tree steps: painting
  // into another canvas borrows a parent for the matrices only.
  TsgObject* ExchangeParentField(TsgObject* parent) {
    TsgObject* old = parent_;
    parent_ = parent;
    return old;
  }

 private:
  bool IsAncestorOrSelf(const TsgObject* obj) const;

  bool stored_ = true;
  std::string resourceName_;
  std::vector<classlib::TObject*> notifyClients_;
  std::string bindingName_;
  std::u16string tagText_;
  mutable int cachedIndex_ = -1;
  bool isVisual_ = false;
  TsgVisualObject* visual_ = nullptr;
  std::unique_ptr<classlib::TList> children_;
  TsgObject* parent_ = nullptr;
  IsgScene* scene_ = nullptr;
  int globalIndex_ = -1;
  friend void RegisterObject(TsgObject* obj);
};

// The waits of StartTriggerAnimationWait pump the message loop through this
// hook (set at Win32 start-up). Without a hook nothing can advance an
// animation, so the waits return at once.
using TsgProcessMessages = void (*)();
void SetProcessMessagesHook(TsgProcessMessages hook);
TsgProcessMessages ProcessMessagesHook();

}  // namespace kelm::scene
