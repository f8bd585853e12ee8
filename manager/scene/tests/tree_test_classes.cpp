#include "tree_test_classes.h"

#include "classlib/classdef.h"
#include "classlib/filer.h"
#include "scene/sg_classes.h"

namespace kelm::test {

using scene::TsgObject;

std::vector<std::string>& Calls() {
  static std::vector<std::string> calls;
  return calls;
}

std::string NameOf(const TsgObject* obj) {
  if (!obj) return "nil";
  return obj->Name().empty() ? obj->ClassName() : obj->Name();
}

CL_CLASS(TTestObject) {
  c.Str("Caption", &TTestObject::Caption, &TTestObject::SetCaption);
  c.Int("Value", &TTestObject::Value, &TTestObject::SetValue).Default(0);
  c.Object("Margins", &TTestObject::Margins, &TTestObject::SetMargins);
  c.Object("Position", &TTestObject::Position, &TTestObject::SetPosition);
  c.Object("Lines", &TTestObject::Lines, &TTestObject::SetLines);
}

TTestObject::TTestObject(classlib::TComponent* AOwner)
    : TsgObject(AOwner),
      margins_(classlib::New<scene::TsgBounds>(scene::TsgRect{0, 0, 0, 0})),
      position_(classlib::New<scene::TsgPosition>(scene::TsgPoint{1, 1})),
      lines_(classlib::New<scene::TsgWideStringList>()) {}

TTestObject::~TTestObject() {
  classlib::Free(margins_);
  classlib::Free(position_);
  classlib::Free(lines_);
}

void TTestObject::SetCaption(const std::string& v) {
  caption_ = v;
  designedWhileRead_ = IsDesigning();
}

void TTestObject::DefineProperties(classlib::TFiler& filer) {
  inherited::DefineProperties(filer);
  filer.DefineProperty(
      "Broken", [](classlib::TReader& r) { r.SkipValue(); },
      [](classlib::TWriter&) { throw classlib::EWriteError(u"cannot write"); }, FailWrite);
}

void TTestObject::Loaded() {
  inherited::Loaded();
  loaded_ = true;
}

void TTestObject::SetData(const classlib::TVariant& value) {
  if (value.ToString() == u"raise") throw classlib::EConvertError(u"cannot take it");
  data_ = value.ToString();
}

CL_CLASS(TTestFailing) {}
TTestFailing::TTestFailing(classlib::TComponent* AOwner) : TsgObject(AOwner) {
  throw classlib::EComponentError(u"refused");
}

CL_CLASS(TTestVisual) {}
TTestVisual::TTestVisual(classlib::TComponent* AOwner) : TTestObject(AOwner) {
  MarkVisual(nullptr);
}
void TTestVisual::ChildAdded(TsgObject* child) {
  Calls().push_back("ChildAdded " + NameOf(this) + " " + NameOf(child));
}
void TTestVisual::ChildRemoving(TsgObject* child) {
  Calls().push_back("ChildRemoving " + NameOf(this) + " " + NameOf(child));
}
void TTestVisual::ChildRemoved(TsgObject* child) {
  Calls().push_back("ChildRemoved " + NameOf(this) + " " + NameOf(child));
}
void TTestVisual::RealignChildren() { Calls().push_back("Realign " + NameOf(this)); }
void TTestVisual::RepaintObject() { Calls().push_back("Repaint " + NameOf(this)); }
void TTestVisual::UpdateStyle() {
  Calls().push_back("UpdateStyle " + NameOf(this));
  TTestObject::UpdateStyle();
}

CL_CLASS(TTestControl) {}
CL_CLASS(TTestContent) {}
CL_CLASS(TTestPopup) {}

CL_CLASS(TTestAnimation) {
  c.Str("Trigger", &TTestAnimation::Trigger, &TTestAnimation::Trigger);
  c.Bool("Loop", &TTestAnimation::Loop, &TTestAnimation::Loop).Default(false);
}
void TTestAnimation::AnimationStart() {
  Running = true;
  Calls().push_back("Start " + NameOf(this));
}
void TTestAnimation::AnimationStop() {
  Running = false;
  Calls().push_back("Stop " + NameOf(this));
}
void TTestAnimation::AnimationStartTrigger(classlib::TObject* instance,
                                           const std::string& trigger) {
  (void)instance;
  Calls().push_back("StartTrigger " + NameOf(this) + " " + trigger);
  if (!Trigger.empty() && classlib::SameText(Trigger.substr(0, Trigger.find('=')), trigger))
    Running = true;
}

CL_CLASS(TTestEffect) {}
void TTestEffect::EffectApplyTrigger(classlib::TObject* instance, const std::string& trigger) {
  (void)instance;
  Calls().push_back("ApplyTrigger " + NameOf(this) + " " + trigger);
}

CL_CLASS(TTestRefHolder) {}
void TTestRefHolder::ObjectFreed(TsgObject* obj) {
  Calls().push_back("ObjectFreed " + NameOf(obj));
  if (Ref == obj) Ref = nullptr;
}

CL_CLASS(TTestWatcher) {}
void TTestWatcher::Notification(classlib::TComponent* component, classlib::TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == classlib::TOperation::opRemove)
    Calls().push_back("Notification " +
                      (component->Name().empty() ? component->ClassName() : component->Name()));
}

void RegisterTestClasses() {
  scene::RegisterSceneCoreClasses();
  classlib::RegisterClasses(
      {TTestObject::StaticClass(), TTestFailing::StaticClass(), TTestVisual::StaticClass(),
       TTestControl::StaticClass(), TTestContent::StaticClass(), TTestPopup::StaticClass(),
       TTestAnimation::StaticClass(), TTestEffect::StaticClass(), TTestWatcher::StaticClass()});
}

}  // namespace kelm::test
