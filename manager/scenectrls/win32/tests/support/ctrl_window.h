// Shared by the scene controls' Win32 tests: the scene's Win32 start-up
// once per program, real mouse input, and a shown borderless form whose
// scene fills it over a white root.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include "scene/sg_control_action.h"  // first: it undoes the Win32 FindResource macro

#include "classlib/forms.h"
#include "scene/sg_scene.h"

namespace kelm::test {

// Moves the cursor to a screen point by real input (with flags: buttons,
// the wheel and its data), then handles what is queued.
void MouseAt(int x, int y, DWORD flags = 0, DWORD data = 0);

class SceneWindow : public ::testing::Test {
 protected:
  // Borderless, so the bounds are the client's; the scene over all of it.
  void MakeWindow(int left, int top, int width, int height);
  // Lets go of the mouse far away and frees the form.
  void TearDown() override;
  // Shows and activates the form, focuses the scene and paints.
  void Show();
  // A pixel of the scene's window, painted first.
  COLORREF Pixel(int x, int y);

  classlib::TForm* form = nullptr;
  scene::TsgScene* host = nullptr;
  scene::TsgBackground* root = nullptr;
};

}  // namespace kelm::test
