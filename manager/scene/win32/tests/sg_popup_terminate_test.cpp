// A modal popup run ends with 2 when the application terminates (a program
// of its own: a terminated application stays terminated).
#include <windows.h>

#include <gtest/gtest.h>

#include "scene/sg_control_action.h"  // first: it undoes the Win32 FindResource macro

#include "classlib/classdef.h"
#include "classlib/forms.h"
#include "classlib/timers.h"
#include "scene/sg_canvas_gdiplus.h"
#include "scene/sg_popup.h"

namespace kelm::scene {
namespace {

class Terminator : public classlib::TObject {
 public:
  void Fire(classlib::TObject* sender) {
    static_cast<classlib::TTimer*>(sender)->SetEnabled(false);
    classlib::Application->Terminate();
  }
};

TEST(PopupTerminate, APostedTerminateEndsTheModalRunWithTwo) {
  sgStartupScene();
  auto* form = classlib::New<classlib::TForm>(nullptr, 0);
  form->SetBounds(100, 100, 300, 200);
  form->Show();
  auto* p = classlib::New<TsgPopup>(form);
  p->SetBounds(0, 0, 80, 40);
  Terminator t;
  auto* timer = classlib::New<classlib::TTimer>(nullptr);
  timer->SetInterval(1);
  timer->SetOnTimer(classlib::EventOf<&Terminator::Fire>(&t));
  EXPECT_EQ(p->PopupModal(), 2);
  EXPECT_TRUE(classlib::Application->Terminated());
  EXPECT_FALSE(p->IsOpen());
  EXPECT_EQ(p->PopupForm(), nullptr);
  classlib::Free(timer);
  classlib::Free(p);
  classlib::Free(form);
}

}  // namespace
}  // namespace kelm::scene
