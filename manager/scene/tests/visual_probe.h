// A visual object that notes its paint steps into the recording canvas it
// paints on, so one list shows both the steps and the canvas calls; and
// small helpers the visual tests share.
#pragma once

#include <string>
#include <vector>

#include "recording_canvas.h"
#include "scene/sg_visual.h"

namespace kelm::test {

class TProbe : public scene::TsgVisualObject {
  CL_DECLARE_CLASS(TProbe, TsgVisualObject)
 public:
  explicit TProbe(classlib::TComponent* AOwner) : TsgVisualObject(AOwner) {}
  bool Control = false;
  // Realign answers by taking this size (a child that sizes itself);
  // negative: no size of its own.
  float OwnWidth = -1, OwnHeight = -1;
  int Realigns = 0;
  bool IsControlObject() const override { return Control; }
  void BeforePaint() override { Note("BeforePaint"); }
  void Paint() override { Note("Paint"); }
  void AfterPaint() override { Note("AfterPaint"); }
  void Realign() override;

 private:
  void Note(const std::string& step);
};

// Registers the probe and the visual object class once.
void RegisterVisualTestClasses();

// A probe placed in parent at (x, y) with the given size.
TProbe* Probe(const std::string& name, scene::TsgObject* parent, float x, float y, float w,
              float h);

// "(l,t,r,b)" of a rectangle, for readable expectations.
std::string RectText(const scene::TsgRect& r);

}  // namespace kelm::test
