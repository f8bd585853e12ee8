#include "ctrl_window.h"

#include "classlib/classdef.h"
#include "scene/sg_canvas_gdiplus.h"
#include "message_pump.h"

namespace kelm::test {

namespace {
class SceneStart : public ::testing::Environment {
 public:
  void SetUp() override { scene::sgStartupScene(); }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new SceneStart);
}  // namespace

void MouseAt(int x, int y, DWORD flags, DWORD data) {
  const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
  INPUT in{};
  in.type = INPUT_MOUSE;
  in.mi.dx = (x * 65536 + w - 1) / w;
  in.mi.dy = (y * 65536 + h - 1) / h;
  in.mi.mouseData = data;
  in.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | flags;
  SendInput(1, &in, sizeof in);
  PumpPending();
}

void SceneWindow::MakeWindow(int left, int top, int width, int height) {
  form = classlib::New<classlib::TForm>(nullptr, 0);
  form->SetBorderStyle(classlib::TFormBorderStyle::bsNone);
  form->SetBounds(left, top, width, height);
  host = classlib::New<scene::TsgScene>(form);
  host->SetParent(form);
  host->SetBounds(0, 0, width, height);
  root = classlib::New<scene::TsgBackground>(form);
  root->Fill()->SetStyle(scene::sgBrushSolid);
  root->Fill()->SetSolidColor(0xFFFFFFFF);
  host->AddObject(root);
}

void SceneWindow::TearDown() {
  MouseAt(900, 900, MOUSEEVENTF_LEFTUP);
  classlib::Free(form);
}

void SceneWindow::Show() {
  form->Show();
  SetForegroundWindow(form->Handle());
  SetFocus(host->Handle());
  UpdateWindow(host->Handle());
  PumpFor(50);
}

COLORREF SceneWindow::Pixel(int x, int y) {
  UpdateWindow(host->Handle());
  HDC dc = GetDC(host->Handle());
  const COLORREF c = GetPixel(dc, x, y);
  ReleaseDC(host->Handle(), dc);
  return c;
}

}  // namespace kelm::test
