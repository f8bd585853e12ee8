// Shared pieces of the Win32 class-library tests: message pumping, a
// recording message box, and the classes the stored test forms use.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "classlib/actions.h"
#include "classlib/dialogs.h"
#include "classlib/forms.h"
#include "classlib/menus.h"
#include "classlib/timers.h"
#include "message_pump.h"

namespace kelm::test {

using namespace classlib;

// The application title of this test process (unique among the test
// programs sharing a Wine desktop).
std::u16string TestAppTitle();

// The colour a window shows at a client point, read from its DC.
COLORREF WindowPixel(HWND wnd, int x, int y);

struct RecordedBox {
  HWND owner;
  std::u16string text, caption;
  UINT flags;
};
// Records every message box while alive and answers `answer`.
class MessageBoxRecorder {
 public:
  explicit MessageBoxRecorder(int answer = IDOK);
  ~MessageBoxRecorder();
  std::vector<RecordedBox> boxes;

 private:
  static int Record(HWND owner, const std::u16string& text, const std::u16string& caption,
                    UINT flags);
  TMessageBoxFunc previous_;
  int answer_;
};

// A windowed control that fills itself with Color and counts what it gets.
class TTestBox : public TCustomControl {
  CL_DECLARE_CLASS(TTestBox, TCustomControl)
 public:
  explicit TTestBox(TComponent* AOwner);
  int Paints = 0;
  int Enters = 0, Exits = 0;
  bool WantTab = false;
  std::vector<UINT> Notices;  // CM_ messages seen

 protected:
  void Paint() override;
  void WndProc(TMessage& m) override;
};

// A panel: a TTestBox that takes child controls.
class TTestPanel : public TTestBox {
  CL_DECLARE_CLASS(TTestPanel, TTestBox)
 public:
  explicit TTestPanel(TComponent* AOwner);
};

// A graphic control painting yellow.
class TTestMark : public TGraphicControl {
  CL_DECLARE_CLASS(TTestMark, TGraphicControl)
 public:
  explicit TTestMark(TComponent* AOwner) : TGraphicControl(AOwner) {}

 protected:
  void Paint() override;
};

// The stored main form of the tests (tests/forms/TTestMainForm.txt).
class TTestMainForm : public TForm {
  CL_DECLARE_CLASS(TTestMainForm, TForm)
 public:
  explicit TTestMainForm(TComponent* AOwner) : TForm(AOwner) {}
  void FormCreate(TObject* sender);
  void BoxClick(TObject* sender);
  void BoxDblClick(TObject* sender);
  void MarkClick(TObject* sender);
  void PanelMouseDown(TObject* sender, TMouseButton button, TShiftState shift, int x, int y);
  void Timer1Timer(TObject* sender);
  void ActGoExecute(TObject* sender);
  void ActGoUpdate(TObject* sender);

  // What the handlers saw.
  bool CreateSawLoadedChildren = false;
  int BoxClicks = 0, BoxDblClicks = 0, MarkClicks = 0, Ticks = 0, GoExecutes = 0, GoUpdates = 0;
  std::vector<std::string> Log;
  bool GoEnabled = true;
};

// The stored dialog (tests/forms/TTestDialog.txt).
class TTestDialog : public TForm {
  CL_DECLARE_CLASS(TTestDialog, TForm)
 public:
  explicit TTestDialog(TComponent* AOwner) : TForm(AOwner) {}
  void OkClick(TObject* sender);
  void CancelClick(TObject* sender);
};

// A component that reports when the watched one is freed.
class TFreeWatch : public TComponent {
  CL_DECLARE_CLASS(TFreeWatch, TComponent)
 public:
  explicit TFreeWatch(TComponent* watched);
  bool Freed = false;
  void Notification(TComponent* component, TOperation operation) override;

 private:
  TComponent* watched_;
};

// Presses and releases the left button at a client point of wnd.
void Click(HWND wnd, int x, int y);

}  // namespace kelm::test
