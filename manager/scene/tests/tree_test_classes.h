// Small scene classes that stand for the later classes the tree treats
// specially (visual objects, controls, content hosts, animations, effects,
// popups), each recording what the tree asks of it.
#pragma once

#include <string>
#include <vector>

#include "classlib/variant.h"
#include "scene/sg_bounds.h"
#include "scene/sg_object.h"
#include "scene/sg_wide_strings.h"

namespace kelm::test {

// Shared record of calls, in order.
std::vector<std::string>& Calls();

// A plain object with a few published values. Its Caption setter notes
// whether the object was in design state; "raise" as data raises.
class TTestObject : public scene::TsgObject {
  CL_DECLARE_CLASS(TTestObject, TsgObject)
 public:
  explicit TTestObject(classlib::TComponent* AOwner);
  ~TTestObject() override;
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& v);
  int32_t Value() const { return value_; }
  void SetValue(int32_t v) { value_ = v; }
  scene::TsgBounds* Margins() const { return margins_; }
  void SetMargins(scene::TsgBounds* v) { margins_->Assign(v); }
  scene::TsgPosition* Position() const { return position_; }
  void SetPosition(scene::TsgPosition* v) { position_->Assign(v); }
  scene::TsgWideStringList* Lines() const { return lines_; }
  void SetLines(scene::TsgWideStringList* v) { lines_->Assign(v); }
  bool DesignedWhileRead() const { return designedWhileRead_; }
  // Makes the next write of this object fail halfway.
  bool FailWrite = false;
  void DefineProperties(classlib::TFiler& filer) override;
  void Loaded() override;
  bool WasLoaded() const { return loaded_; }

  classlib::TVariant GetData() override { return classlib::TVariant(data_); }
  void SetData(const classlib::TVariant& value) override;

 private:
  std::string caption_;
  int32_t value_ = 0;
  std::u16string data_;
  scene::TsgBounds* margins_;
  scene::TsgPosition* position_;
  scene::TsgWideStringList* lines_;
  bool designedWhileRead_ = false;
  bool loaded_ = false;
};

// Its constructor fails: a stream naming it must not leave anything behind.
class TTestFailing : public scene::TsgObject {
  CL_DECLARE_CLASS(TTestFailing, TsgObject)
 public:
  explicit TTestFailing(classlib::TComponent* AOwner);
};

class TTestVisual : public TTestObject {
  CL_DECLARE_CLASS(TTestVisual, TTestObject)
 public:
  explicit TTestVisual(classlib::TComponent* AOwner);
  bool Locked = false;
  bool HitTest = true;
  bool IsLockedPart() const override { return Locked && !HitTest; }
  void ChildAdded(scene::TsgObject* child) override;
  void ChildRemoving(scene::TsgObject* child) override;
  void ChildRemoved(scene::TsgObject* child) override;
  void RealignChildren() override;
  void RepaintObject() override;
  void UpdateStyle() override;
};

class TTestControl : public TTestVisual {
  CL_DECLARE_CLASS(TTestControl, TTestVisual)
 public:
  explicit TTestControl(classlib::TComponent* AOwner) : TTestVisual(AOwner) {}
  bool IsControlObject() const override { return true; }
};

class TTestContent : public TTestVisual {
  CL_DECLARE_CLASS(TTestContent, TTestVisual)
 public:
  explicit TTestContent(classlib::TComponent* AOwner) : TTestVisual(AOwner) {}
  bool IsContentObject() const override { return true; }
  TsgObject* ChildWritingParent() override { return Parent() ? Parent() : this; }
};

class TTestPopup : public TTestVisual {
  CL_DECLARE_CLASS(TTestPopup, TTestVisual)
 public:
  explicit TTestPopup(classlib::TComponent* AOwner) : TTestVisual(AOwner) {}
  TsgObject* ChildWritingParent() override { return Parent() ? Parent() : this; }
};

// Runs while Running; a trigger "Name=..." starts it when its Trigger
// text begins with the property name.
class TTestAnimation : public scene::TsgObject {
  CL_DECLARE_CLASS(TTestAnimation, TsgObject)
 public:
  explicit TTestAnimation(classlib::TComponent* AOwner) : TsgObject(AOwner) {}
  std::string Trigger;
  bool Loop = false;
  bool Running = false;
  bool IsAnimationObject() const override { return true; }
  void AnimationStart() override;
  void AnimationStop() override;
  void AnimationStartTrigger(classlib::TObject* instance, const std::string& trigger) override;
  bool AnimationRunning() const override { return Running; }
  bool AnimationLooping() const override { return Loop; }
  std::string AnimationTrigger() const override { return Trigger; }
};

class TTestEffect : public scene::TsgObject {
  CL_DECLARE_CLASS(TTestEffect, TsgObject)
 public:
  explicit TTestEffect(classlib::TComponent* AOwner) : TsgObject(AOwner) {}
  bool IsEffectObject() const override { return true; }
  void EffectApplyTrigger(classlib::TObject* instance, const std::string& trigger) override;
};

// A reference holder told of frees through the scene's client interface.
class TTestRefHolder : public classlib::TPersistent, public scene::IsgFreeNotifyClient {
  CL_DECLARE_CLASS(TTestRefHolder, TPersistent)
 public:
  TTestRefHolder() = default;
  scene::TsgObject* Ref = nullptr;
  void ObjectFreed(scene::TsgObject* obj) override;
};

// A component told of frees through the component notification.
class TTestWatcher : public classlib::TComponent {
  CL_DECLARE_CLASS(TTestWatcher, TComponent)
 public:
  explicit TTestWatcher(classlib::TComponent* AOwner) : TComponent(AOwner) {}
  void Notification(classlib::TComponent* component, classlib::TOperation operation) override;
};

// Registers the scene's and these classes once.
void RegisterTestClasses();
std::string NameOf(const scene::TsgObject* obj);

}  // namespace kelm::test
