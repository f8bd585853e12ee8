#include "test_support.h"

#include <gtest/gtest.h>

#include "classlib/dialogs.h"

namespace kelm::test {

COLORREF WindowPixel(HWND wnd, int x, int y) {
  UpdateWindow(wnd);
  GdiFlush();
  HDC dc = GetDC(wnd);
  COLORREF c = GetPixel(dc, x, y);
  ReleaseDC(wnd, dc);
  return c;
}

namespace {
MessageBoxRecorder* activeRecorder = nullptr;
}

MessageBoxRecorder::MessageBoxRecorder(int answer) : answer_(answer) {
  previous_ = SetMessageBoxFunc(&MessageBoxRecorder::Record);
  activeRecorder = this;
}

MessageBoxRecorder::~MessageBoxRecorder() {
  SetMessageBoxFunc(previous_);
  activeRecorder = nullptr;
}

int MessageBoxRecorder::Record(HWND owner, const std::u16string& text,
                               const std::u16string& caption, UINT flags) {
  activeRecorder->boxes.push_back({owner, text, caption, flags});
  return activeRecorder->answer_;
}

// ---- controls
CL_CLASS(TTestBox) {}

TTestBox::TTestBox(TComponent* AOwner) : TCustomControl(AOwner) {
  SetBounds(0, 0, 50, 50);
  SetTabStop(true);
}

void TTestBox::Paint() {
  ++Paints;
  Canvas()->Brush()->SetColor(Color());
  Canvas()->FillRect(ClientRect());
}

void TTestBox::WndProc(TMessage& m) {
  if (m.Msg >= CM_BASE && m.Msg < CM_BASE + 0x100) Notices.push_back(m.Msg);
  switch (m.Msg) {
    case CM_ENTER:
      ++Enters;
      break;
    case CM_EXIT:
      ++Exits;
      break;
    case WM_GETDLGCODE:
      m.Result = WantTab ? DLGC_WANTTAB : 0;
      return;
    default:
      break;
  }
  TCustomControl::WndProc(m);
}

CL_CLASS(TTestPanel) {}

TTestPanel::TTestPanel(TComponent* AOwner) : TTestBox(AOwner) {
  SetControlStyle(ControlStyle() + TControlStyle{csAcceptsControls});
}

CL_CLASS(TTestMark) {}

void TTestMark::Paint() {
  Canvas()->Brush()->SetColor(clYellow);
  Canvas()->FillRect(Rect(0, 0, Width(), Height()));
}

// ---- forms
CL_CLASS(TTestMainForm) {
  c.Method<&TTestMainForm::FormCreate>("FormCreate");
  c.Method<&TTestMainForm::BoxClick>("BoxClick");
  c.Method<&TTestMainForm::BoxDblClick>("BoxDblClick");
  c.Method<&TTestMainForm::MarkClick>("MarkClick");
  c.Method<&TTestMainForm::PanelMouseDown>("PanelMouseDown");
  c.Method<&TTestMainForm::Timer1Timer>("Timer1Timer");
  c.Method<&TTestMainForm::ActGoExecute>("ActGoExecute");
  c.Method<&TTestMainForm::ActGoUpdate>("ActGoUpdate");
}

void TTestMainForm::FormCreate(TObject*) {
  auto* box = dynamic_cast<TTestBox*>(FindComponent("Box"));
  CreateSawLoadedChildren = box && box->Color() == clRed && !box->IsLoading() && !IsLoading();
  Log.push_back("create");
}
void TTestMainForm::BoxClick(TObject*) {
  ++BoxClicks;
  Log.push_back("click");
}
void TTestMainForm::BoxDblClick(TObject*) { ++BoxDblClicks; }
void TTestMainForm::MarkClick(TObject*) { ++MarkClicks; }
void TTestMainForm::PanelMouseDown(TObject*, TMouseButton button, TShiftState shift, int x, int y) {
  Log.push_back("down " + std::to_string(static_cast<int>(button)) + " " + std::to_string(x) + "," +
                std::to_string(y) + (shift.Contains(ssDouble) ? " double" : ""));
}
void TTestMainForm::Timer1Timer(TObject*) { ++Ticks; }
void TTestMainForm::ActGoExecute(TObject*) { ++GoExecutes; }
void TTestMainForm::ActGoUpdate(TObject* sender) {
  ++GoUpdates;
  static_cast<TAction*>(sender)->SetEnabled(GoEnabled);
}

CL_CLASS(TTestDialog) {
  c.Method<&TTestDialog::OkClick>("OkClick");
  c.Method<&TTestDialog::CancelClick>("CancelClick");
}
void TTestDialog::OkClick(TObject*) { SetModalResult(mrOk); }
void TTestDialog::CancelClick(TObject*) { SetModalResult(mrCancel); }

CL_CLASS(TFreeWatch) {}

TFreeWatch::TFreeWatch(TComponent* watched) : TComponent(nullptr), watched_(watched) {
  watched->FreeNotification(this);
}

void TFreeWatch::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (component == watched_ && operation == TOperation::opRemove) Freed = true;
}

void Click(HWND wnd, int x, int y) {
  SendMessageW(wnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
  SendMessageW(wnd, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}

std::u16string TestAppTitle() {
  std::u16string title = u"Win32 Tests ";
  for (char c : std::to_string(GetCurrentProcessId())) title += static_cast<char16_t>(c);
  return title;
}

namespace {
// The classes stored forms name, and the application window, for every test.
class Win32Environment : public ::testing::Environment {
 public:
  void SetUp() override {
    RegisterClasses({TTestBox::StaticClass(), TTestPanel::StaticClass(), TTestMark::StaticClass(),
                     TTestMainForm::StaticClass(), TTestDialog::StaticClass(),
                     TTimer::StaticClass(), TActionList::StaticClass(), TAction::StaticClass(),
                     TPopupMenu::StaticClass(), TMenuItem::StaticClass()});
    Application->Initialize();
    // Test programs run side by side on one Wine desktop: the title that
    // finds the application window must be this process's own.
    Application->SetTitle(TestAppTitle());
  }
};
[[maybe_unused]] const auto* environment =
    ::testing::AddGlobalTestEnvironment(new Win32Environment);
}  // namespace

}  // namespace kelm::test
