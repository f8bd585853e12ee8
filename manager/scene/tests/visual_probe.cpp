#include "visual_probe.h"

#include "classlib/classdef.h"
#include "scene/sg_classes.h"
#include "scene/sg_types.h"

namespace kelm::test {

CL_CLASS(TProbe) {}

void TProbe::Note(const std::string& step) {
  if (auto* rc = dynamic_cast<TRecordingCanvas*>(Canvas()))
    rc->Calls.push_back(step + " " + Name());
}

void TProbe::Realign() {
  ++Realigns;
  if (OwnWidth >= 0 && Width() != OwnWidth) SetWidth(OwnWidth);
  if (OwnHeight >= 0 && Height() != OwnHeight) SetHeight(OwnHeight);
  TsgVisualObject::Realign();
}

void RegisterVisualTestClasses() {
  scene::RegisterSceneCoreClasses();
  classlib::RegisterClasses({scene::TsgVisualObject::StaticClass(), TProbe::StaticClass()});
}

TProbe* Probe(const std::string& name, scene::TsgObject* parent, float x, float y, float w,
              float h) {
  auto* p = classlib::New<TProbe>(nullptr);
  p->SetName(name);
  p->SetBounds(x, y, w, h);
  if (parent) parent->AddObject(p);
  return p;
}

std::string RectText(const scene::TsgRect& r) {
  return "(" + scene::sgFloatToStr(r.Left) + "," + scene::sgFloatToStr(r.Top) + "," +
         scene::sgFloatToStr(r.Right) + "," + scene::sgFloatToStr(r.Bottom) + ")";
}

}  // namespace kelm::test
