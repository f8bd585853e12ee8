// A fake scene for control tests: a recording canvas, a root background, a
// style book of small fixture styles, the manual timers, the test form
// bridge and the recording menu entry, all made and freed together.
#pragma once

#include <string>

#include "scene/sg_control.h"
#include "scene/sg_style.h"
#include "ctrl_fakes.h"
#include "recording_canvas.h"
#include "scene_fakes.h"

namespace kelm::test {

// One fixture style named name. Its parts: "pressed" (a rectangle whose
// Opacity follows IsPressed through animations, with a shadow effect
// enabled by "IsPressed=true"), "checked" (the same for IsChecked), and a
// "text" part unless withText is false. Animations run at once (Duration 0).
std::string FixtureStyle(const std::string& name, bool withText = true);
// A book of styles; its root is a TsgBackground.
std::string FixtureBook(const std::string& styles);

class CtrlScene {
 public:
  // The scene is owned by owner (a test form, say); none: by nobody.
  explicit CtrlScene(classlib::TComponent* owner = nullptr);
  ~CtrlScene();
  CtrlScene(const CtrlScene&) = delete;
  CtrlScene& operator=(const CtrlScene&) = delete;

  // Replaces the book's styles.
  void SetBook(const std::string& text);
  template <class T>
  T* Add(float x, float y, float w, float h) {
    auto* c = classlib::New<T>(nullptr);
    c->SetBounds(x, y, w, h);
    Root->AddObject(c);
    c->ApplyResource();
    return c;
  }

  ManualTimers Timers;
  TestFormBridge Forms;
  RecordingMenu Menu;
  FakeScene* Scene;
  TRecordingCanvas* Canvas;
  scene::TsgResources* Book;
  scene::TsgBackground* Root;
};

// The opacity of a style part found by name, -1 when there is none.
float PartOpacity(scene::TsgControl* control, const std::string& part);
// Whether the first effect of a style part is enabled.
bool PartEffectEnabled(scene::TsgControl* control, const std::string& part);

// The shift states a left-button press and its release carry.
inline const scene::TShiftState kLeft{classlib::ssLeft};
inline const scene::TShiftState kNone{};

}  // namespace kelm::test
