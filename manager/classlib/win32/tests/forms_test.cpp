// Forms loaded from their stored text form, shown, and driven with real
// window messages; modal runs, closing, releasing, timers.
#include <gtest/gtest.h>

#include "classlib/filer.h"
#include "classlib/resources.h"
#include "classlib/textform.h"
#include "test_support.h"

namespace kelm::test {

class TUnstoredForm : public TForm {
  CL_DECLARE_CLASS(TUnstoredForm, TForm)
 public:
  using TForm::TForm;
};
CL_CLASS(TUnstoredForm) {}

namespace {

class StoredForm : public ::testing::Test {
 protected:
  StoredForm() : form(New<TTestMainForm>(Application)) {
    box = dynamic_cast<TTestBox*>(form->FindComponent("Box"));
    box2 = dynamic_cast<TTestBox*>(form->FindComponent("Box2"));
    panel = dynamic_cast<TTestPanel*>(form->FindComponent("Panel"));
    footer = dynamic_cast<TTestPanel*>(form->FindComponent("Footer"));
    mark = dynamic_cast<TTestMark*>(form->FindComponent("Mark"));
  }
  ~StoredForm() override { Free(form); }
  void ShowAndSettle() {
    form->Show();
    PumpFor(100);
  }
  TTestMainForm* form;
  TTestBox *box, *box2;
  TTestPanel *panel, *footer;
  TTestMark* mark;
};

TEST_F(StoredForm, ReadsNestedControlsAndBindsHandlersByName) {
  ASSERT_NE(box, nullptr);
  ASSERT_NE(panel, nullptr);
  ASSERT_NE(mark, nullptr);
  EXPECT_EQ(form->Name(), "TestMainForm");
  EXPECT_EQ(box->Parent(), panel);
  EXPECT_EQ(mark->Parent(), panel);
  EXPECT_EQ(panel->Parent(), form);
  EXPECT_EQ(box->Owner(), form);
  EXPECT_EQ(GetOwnerForm(box), form);
  EXPECT_EQ(GetOwnerForm(form), nullptr);  // owned by the application
  EXPECT_EQ(box->Color(), clRed);
  EXPECT_EQ(box->OnClick.Data(), form);
  EXPECT_EQ(form->MethodName(box->OnClick.ToMethod().Code), "BoxClick");
  EXPECT_EQ(form->ClientWidth(), 300);
  EXPECT_EQ(form->ClientHeight(), 200);
  // OnCreate ran once, after the whole form was read.
  EXPECT_TRUE(form->CreateSawLoadedChildren);
  EXPECT_EQ(form->Log, std::vector<std::string>{"create"});
  // A form starts hidden and without windows.
  EXPECT_FALSE(form->Visible());
  EXPECT_FALSE(box->HandleAllocated());
}

TEST_F(StoredForm, AWrittenFormKeepsItsNonVisualComponentsOnce) {
  TMemoryStream binary, text;
  TWriter(binary).WriteRootComponent(form);
  binary.SetPosition(0);
  ObjectBinaryToText(binary, text);
  const std::string written(reinterpret_cast<const char*>(text.Memory()),
                            static_cast<size_t>(text.Size()));
  auto count = [&](const std::string& what) {
    size_t n = 0;
    for (size_t at = written.find(what); at != std::string::npos; at = written.find(what, at + 1))
      ++n;
    return n;
  };
  // Written directly under the form, before the controls, each once; the
  // action list's actions and the menu's items under their holders.
  for (const char* line : {"\n  object Timer1: TTimer", "\n  object ActionList1: TActionList",
                           "\n    object ActGo: TAction", "\n  object Popup1: TPopupMenu",
                           "\n    object ItemGo: TMenuItem", "\n  object Panel: TTestPanel"})
    EXPECT_EQ(count(line), 1u) << line;
  EXPECT_LT(written.find("object Popup1"), written.find("object Panel"));
}

TEST_F(StoredForm, AlignedControlsFollowTheClientArea) {
  EXPECT_EQ(footer->BoundsRect().left, 0);
  EXPECT_EQ(footer->Top(), 170);
  EXPECT_EQ(footer->Width(), 300);
  form->SetClientHeight(250);
  EXPECT_EQ(footer->Top(), 220);
}

TEST_F(StoredForm, ShownFormPaintsEveryLevelAtItsPlace) {
  ShowAndSettle();
  HWND wnd = form->Handle();
  ASSERT_TRUE(IsWindowVisible(wnd));
  ASSERT_TRUE(IsWindowVisible(box->Handle()));
  // Owned by the application window, so the task bar shows one button.
  EXPECT_EQ(GetWindow(wnd, GW_OWNER), Application->Handle());
  struct Case {
    const char* what;
    int x, y;
    TColor colour;
  } cases[] = {
      {"form", 5, 5, clLime},          {"panel", 15, 15, clBlue},
      {"box", 35, 45, clRed},          {"mark (painted by its parent)", 115, 25, clYellow},
      {"footer", 150, 185, clFuchsia},
  };
  for (const Case& c : cases)
    EXPECT_EQ(WindowPixel(wnd, c.x, c.y), static_cast<COLORREF>(c.colour)) << c.what;
}

TEST_F(StoredForm, ClicksReachWindowedAndGraphicControls) {
  ShowAndSettle();
  Click(box->Handle(), 5, 5);
  EXPECT_EQ(form->BoxClicks, 1);
  // The graphic control gets the click through its parent's window.
  Click(panel->Handle(), 105, 15);
  EXPECT_EQ(form->MarkClicks, 1);
  // Elsewhere on the panel: its own mouse-down with panel coordinates.
  SendMessageW(panel->Handle(), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(7, 9));
  EXPECT_EQ(form->Log.back(), "down 1 7,9");
}

TEST_F(StoredForm, ReleasingOutsideTheControlIsNoClick) {
  ShowAndSettle();
  SendMessageW(box->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  EXPECT_TRUE(box->MouseCapture());
  SendMessageW(box->Handle(), WM_LBUTTONUP, 0, MAKELPARAM(200, 5));
  EXPECT_EQ(form->BoxClicks, 0);
  EXPECT_FALSE(box->MouseCapture());
}

TEST_F(StoredForm, DoubleClickArrivesWithDoubleInTheShiftState) {
  ShowAndSettle();
  SendMessageW(panel->Handle(), WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(3, 4));
  EXPECT_EQ(form->Log.back(), "down 0 3,4 double");
  SendMessageW(box->Handle(), WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(3, 4));
  EXPECT_EQ(form->BoxDblClicks, 1);
}

TEST_F(StoredForm, TabMovesTheFocusInTabOrderWithEnterAndExit) {
  ShowAndSettle();
  // Box2 comes first in the panel's tab order (TabOrder 0).
  box2->SetFocus();
  PumpFor(20);
  ASSERT_TRUE(box2->Focused());
  EXPECT_EQ(form->ActiveControl(), box2);
  SendMessageW(box2->Handle(), WM_KEYDOWN, VK_TAB, 0);
  PumpFor(20);
  EXPECT_TRUE(box->Focused());
  EXPECT_EQ(form->ActiveControl(), box);
  EXPECT_EQ(box2->Exits, 1);
  EXPECT_EQ(box->Enters, 1);
  // A control that wants Tab keeps it.
  box->WantTab = true;
  SendMessageW(box->Handle(), WM_KEYDOWN, VK_TAB, 0);
  PumpFor(20);
  EXPECT_TRUE(box->Focused());
}

TEST_F(StoredForm, AltKeysGoToEveryControlAsDialogChars) {
  ShowAndSettle();
  box->Notices.clear();
  footer->Notices.clear();
  SendMessageW(box2->Handle(), WM_SYSCHAR, 'g', 0);
  auto saw = [](TTestBox* c) {
    return std::count(c->Notices.begin(), c->Notices.end(), static_cast<UINT>(CM_DIALOGCHAR));
  };
  EXPECT_EQ(saw(box), 1);
  EXPECT_EQ(saw(footer), 1);
}

TEST_F(StoredForm, NotificationsTellChildrenOfParentColourAndFont) {
  // Footer keeps its own colour; a new child without one follows its parent.
  auto* child = New<TTestBox>(form);
  child->SetParent(panel);
  EXPECT_EQ(child->Color(), clBlue);
  child->Notices.clear();
  panel->SetColor(clGray);
  EXPECT_EQ(child->Color(), clGray);
  EXPECT_EQ(box->Color(), clRed);
  panel->Font()->SetHeight(-20);
  EXPECT_EQ(child->Font()->Height(), -20);
  EXPECT_NE(std::find(child->Notices.begin(), child->Notices.end(), CM_PARENTCOLORCHANGED),
            child->Notices.end());
  EXPECT_NE(std::find(child->Notices.begin(), child->Notices.end(), CM_PARENTFONTCHANGED),
            child->Notices.end());
  child->Font()->SetHeight(-9);
  EXPECT_FALSE(child->ParentFont());
}

TEST_F(StoredForm, RecreatedWindowKeepsTheControlsState) {
  ShowAndSettle();
  HWND before = box->Handle();
  box->SetCaption(u"kept");
  box->RecreateWnd();
  PumpFor(50);
  EXPECT_NE(box->Handle(), before);
  EXPECT_FALSE(IsWindow(before));
  wchar_t text[16] = {};
  GetWindowTextW(box->Handle(), text, 16);
  EXPECT_EQ(FromWStr(text), u"kept");
  EXPECT_EQ(WindowPixel(box->Handle(), 5, 5), static_cast<COLORREF>(clRed));
  Click(box->Handle(), 5, 5);
  EXPECT_EQ(form->BoxClicks, 1);
}

TEST_F(StoredForm, ScreenCursorOverridesTheControlsCursor) {
  ShowAndSettle();
  box->SetCursor(crHandPoint);
  auto setCursor = [&] {
    return SendMessageW(box->Handle(), WM_SETCURSOR, reinterpret_cast<WPARAM>(box->Handle()),
                        MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  };
  EXPECT_EQ(setCursor(), 1);
  EXPECT_EQ(GetCursor(), Screen->Cursors(crHandPoint));
  Screen->SetCursor(crHourGlass);
  setCursor();
  EXPECT_EQ(GetCursor(), Screen->Cursors(crHourGlass));
  Screen->SetCursor(crDefault);
}

TEST_F(StoredForm, TimerTicksWhileMessagesAreHandled) {
  auto* timer = dynamic_cast<TTimer*>(form->FindComponent("Timer1"));
  ASSERT_NE(timer, nullptr);
  EXPECT_EQ(timer->Interval(), 20u);
  PumpFor(100);
  EXPECT_EQ(form->Ticks, 0);  // stored disabled
  timer->SetEnabled(true);
  EXPECT_TRUE(PumpUntil([&] { return form->Ticks >= 3; }));
}

TEST_F(StoredForm, WindowsMessagesReachAReplacedWindowProc) {
  // Others may put their own procedure in front and restore it later.
  ShowAndSettle();
  std::vector<UINT> seen;
  auto saved = box->WindowProc;
  box->WindowProc = [&](TMessage& m) {
    seen.push_back(m.Msg);
    saved(m);
  };
  Click(box->Handle(), 2, 2);
  box->WindowProc = saved;
  Click(box->Handle(), 2, 2);
  EXPECT_EQ(std::count(seen.begin(), seen.end(), static_cast<UINT>(WM_LBUTTONUP)), 1);
  EXPECT_EQ(form->BoxClicks, 2);
}

TEST_F(StoredForm, HintShowsTheShortPartAfterThePauseTheControlMayChange) {
  ShowAndSettle();
  box->SetHint(u"Short|Long text");
  box->SetShowHint(true);
  int pausesAsked = 0;
  std::u16string offered;
  auto saved = box->WindowProc;
  box->WindowProc = [&](TMessage& m) {
    if (m.Msg == CM_HINTSHOWPAUSE) {
      ++pausesAsked;
      *reinterpret_cast<int*>(m.LParam) = 20;  // instead of the usual half second
    }
    if (m.Msg == CM_HINTSHOW) {
      auto* info = reinterpret_cast<THintInfo*>(m.LParam);
      offered = info->HintStr;
      EXPECT_EQ(info->HintControl, box);
      info->HintStr += u"!";
    }
    saved(m);
  };
  POINT p{5, 5};
  ClientToScreen(box->Handle(), &p);
  SetCursorPos(p.x, p.y);
  SendMessageW(box->Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
  auto hintVisible = [] {
    return Application->HintWindow() && Application->HintWindow()->HandleAllocated() &&
           IsWindowVisible(Application->HintWindow()->Handle());
  };
  ASSERT_TRUE(PumpUntil(hintVisible, 2000));
  EXPECT_EQ(pausesAsked, 1);
  EXPECT_EQ(offered, u"Short");
  EXPECT_EQ(Application->HintWindow()->Caption(), u"Short!");
  // A press ends the hint.
  PostMessageW(box->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  PostMessageW(box->Handle(), WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
  EXPECT_TRUE(PumpUntil([&] { return !hintVisible(); }, 2000));
  box->WindowProc = saved;
  // Switching hints off and on makes a new window for the next hint.
  Application->SetShowHint(false);
  EXPECT_EQ(Application->HintWindow(), nullptr);
  Application->SetShowHint(true);
}

// A dock drag through real mouse messages: dropped on a dock site the
// control docks there at its own size under the mouse; dropped where no
// site takes it, the docked control floats (a control that is no form just
// loses its parent).
TEST_F(StoredForm, ADockDragDocksOnASiteAndFloatsElsewhere) {
  ShowAndSettle();
  footer->SetDockSite(true);
  box2->SetDragKind(TDragKind::dkDock);
  const int w = box2->Width();
  const int h = box2->Height();
  auto moveTo = [](TWinControl* c, int x, int y) {
    POINT p{x, y};
    ClientToScreen(c->Handle(), &p);
    SetCursorPos(p.x, p.y);
  };
  auto post = [&](UINT msg, WPARAM wp) {
    PostMessageW(box2->Handle(), msg, wp, 0);
    PumpFor(30);
  };
  moveTo(box2, 2, 2);
  box2->BeginDrag(false);
  moveTo(footer, 5, 5);
  post(WM_MOUSEMOVE, MK_LBUTTON);
  moveTo(footer, 6, 4);
  post(WM_MOUSEMOVE, MK_LBUTTON);
  post(WM_LBUTTONUP, 0);
  EXPECT_FALSE(box2->Dragging());
  ASSERT_EQ(footer, box2->HostDockSite());
  EXPECT_EQ(footer, box2->Parent());
  EXPECT_EQ(6, box2->Left());
  EXPECT_EQ(4, box2->Top());
  EXPECT_EQ(w, box2->Width());
  EXPECT_EQ(h, box2->Height());

  // Off every dock site the drop floats it.
  moveTo(box2, 2, 2);
  box2->BeginDrag(false);
  moveTo(box, 5, 5);
  post(WM_MOUSEMOVE, MK_LBUTTON);
  post(WM_LBUTTONUP, 0);
  EXPECT_EQ(nullptr, box2->HostDockSite());
  EXPECT_EQ(nullptr, box2->Parent());
  footer->SetDockSite(false);
}

struct DragProbe : TObject {
  // Moving the cursor brings moves of its own: repeats collapse to one.
  std::vector<std::string> Steps() const {
    std::vector<std::string> out;
    for (const auto& e : log)
      if (out.empty() || out.back() != e) out.push_back(e);
    return out;
  }
  std::vector<std::string> log;
  TObject* dropSource = nullptr;
  void Over(TObject*, TObject*, int, int, TDragState state, bool& accept) {
    log.push_back("over " + std::to_string(static_cast<int>(state)));
    accept = true;
  }
  void Drop(TObject*, TObject* source, int, int) {
    log.push_back("drop");
    dropSource = source;
  }
  void End(TObject*, TObject* target, int, int) {
    log.push_back(target ? "end on target" : "end on none");
  }
};

TEST_F(StoredForm, DraggingOntoAControlThatAcceptsDropsThere) {
  ShowAndSettle();
  DragProbe probe;
  box2->OnDragOver = EventOf<&DragProbe::Over>(&probe);
  box2->OnDragDrop = EventOf<&DragProbe::Drop>(&probe);
  box->OnEndDrag = EventOf<&DragProbe::End>(&probe);
  auto moveTo = [](TWinControl* c, int x, int y) {
    POINT p{x, y};
    ClientToScreen(c->Handle(), &p);
    SetCursorPos(p.x, p.y);
  };
  auto post = [&](UINT msg, WPARAM wp) {
    PostMessageW(box->Handle(), msg, wp, 0);
    PumpFor(30);
  };
  moveTo(box, 5, 5);
  box->BeginDrag(true);
  EXPECT_TRUE(box->Dragging());
  moveTo(box2, 5, 5);
  post(WM_MOUSEMOVE, MK_LBUTTON);
  moveTo(box2, 6, 5);
  post(WM_MOUSEMOVE, MK_LBUTTON);
  post(WM_LBUTTONUP, 0);
  EXPECT_EQ(probe.Steps(), (std::vector<std::string>{"over 0", "over 2", "drop", "end on target"}));
  EXPECT_EQ(probe.dropSource, box);
  EXPECT_FALSE(box->Dragging());

  // Escape cancels: the target hears the leave, the source ends on none.
  probe.log.clear();
  moveTo(box, 5, 5);
  box->BeginDrag(true);
  moveTo(box2, 5, 5);
  post(WM_MOUSEMOVE, MK_LBUTTON);
  post(WM_KEYDOWN, VK_ESCAPE);
  std::vector<std::string> steps = probe.Steps();
  if (steps.size() == 4 && steps[1] == "over 2") steps.erase(steps.begin() + 1);
  EXPECT_EQ(steps, (std::vector<std::string>{"over 0", "over 1", "end on none"}));

  // Below the threshold there is no drag, and the press stays a click.
  probe.log.clear();
  moveTo(box, 5, 5);
  SendMessageW(box->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  box->BeginDrag(false, 10);
  moveTo(box, 8, 5);
  post(WM_MOUSEMOVE, MK_LBUTTON);
  PostMessageW(box->Handle(), WM_LBUTTONUP, 0, MAKELPARAM(8, 5));
  PumpFor(30);
  EXPECT_TRUE(probe.log.empty());
  EXPECT_FALSE(box->Dragging());
  EXPECT_EQ(form->BoxClicks, 1);
}

TEST_F(StoredForm, WheelGoesUpTheParentsUntilOneTakesIt) {
  ShowAndSettle();
  struct Wheel : TObject {
    int calls = 0;
    int delta = 0;
    void OnWheel(TObject*, TShiftState, int d, TPoint, bool& handled) {
      ++calls;
      delta = d;
      handled = true;
    }
  } wheel;
  panel->OnMouseWheel = EventOf<&Wheel::OnWheel>(&wheel);
  LRESULT r = SendMessageW(box->Handle(), WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-120)),
                           MAKELPARAM(1, 1));
  (void)r;
  EXPECT_EQ(wheel.calls, 1);
  EXPECT_EQ(wheel.delta, -120);
  EXPECT_EQ(box->Perform(CM_MOUSEWHEEL, MAKEWPARAM(0, 120), 0), 1);
  EXPECT_EQ(wheel.calls, 2);
}

TEST_F(StoredForm, RightButtonReleaseAsksForTheContextMenu) {
  ShowAndSettle();
  struct Asked : TObject {
    TObject* sender = nullptr;
    void Popup(TObject* s, TPoint, bool& handled) {
      sender = s;
      handled = true;
    }
  } asked;
  box->OnContextPopup = EventOf<&Asked::Popup>(&asked);
  mark->OnContextPopup = EventOf<&Asked::Popup>(&asked);
  POINT p{3, 3};
  ClientToScreen(box->Handle(), &p);
  SendMessageW(box->Handle(), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(3, 3));
  SendMessageW(box->Handle(), WM_RBUTTONUP, 0, MAKELPARAM(3, 3));
  EXPECT_EQ(asked.sender, box);
  // On a graphic control, through its parent's window.
  asked.sender = nullptr;
  SendMessageW(panel->Handle(), WM_RBUTTONUP, 0, MAKELPARAM(105, 15));
  EXPECT_EQ(asked.sender, mark);
}

TEST_F(StoredForm, EditTakesTypedTextWithinItsLimit) {
  ShowAndSettle();
  auto* edit = New<TCustomEdit>(form);
  edit->SetParent(panel);
  edit->SetBounds(5, 75, 100, 20);
  struct Changes : TObject {
    int n = 0;
    void Changed(TObject*) { ++n; }
  } changes;
  edit->OnChange = EventOf<&Changes::Changed>(&changes);
  edit->SetMaxLength(3);
  edit->SetFocus();
  for (char16_t ch : std::u16string(u"abc")) SendMessageW(edit->Handle(), WM_CHAR, ch, 1);
  EXPECT_EQ(changes.n, 3);
  SendMessageW(edit->Handle(), WM_CHAR, u'd', 1);  // over the limit
  EXPECT_EQ(edit->GetText(), u"abc");
  EXPECT_EQ(edit->Text(), u"abc");
  edit->SetText(u"\uFF1Ax");
  wchar_t text[8] = {};
  GetWindowTextW(edit->Handle(), text, 8);
  EXPECT_EQ(FromWStr(text), u"\uFF1Ax");
  edit->RecreateWnd();
  EXPECT_EQ(edit->GetText(), u"\uFF1Ax");
  EXPECT_EQ(edit->MaxLength(), 3);
}

// ---- closing, releasing, modal runs
TEST_F(StoredForm, CloseActionsHideOrFreeTheForm) {
  ShowAndSettle();
  form->Close();
  EXPECT_FALSE(form->Visible());
  EXPECT_FALSE(IsWindowVisible(form->Handle()));

  struct Closer : TObject {
    void Close(TObject*, TCloseAction& a) { a = TCloseAction::caFree; }
    void Refuse(TObject*, bool& can) { can = false; }
  } closer;
  form->Show();
  form->OnCloseQuery = EventOf<&Closer::Refuse>(&closer);
  form->Close();
  EXPECT_TRUE(form->Visible());
  form->OnCloseQuery = nullptr;
  form->OnClose = EventOf<&Closer::Close>(&closer);
  TFreeWatch watch(form);
  form->Close();
  EXPECT_FALSE(watch.Freed);  // freed only after pending messages
  EXPECT_TRUE(PumpUntil([&] { return watch.Freed; }));
  form = nullptr;
}

TEST_F(StoredForm, ReleaseFromTheFormsOwnHandler) {
  ShowAndSettle();
  struct Releaser : TObject {
    TTestMainForm* f;
    void Click(TObject*) { f->Release(); }
  } releaser;
  releaser.f = form;
  box->OnClick = EventOf<&Releaser::Click>(&releaser);
  TFreeWatch watch(form);
  HWND wnd = box->Handle();
  Click(wnd, 3, 3);
  EXPECT_TRUE(PumpUntil([&] { return watch.Freed; }));
  EXPECT_FALSE(IsWindow(wnd));
  form = nullptr;
}

struct ModalDriver : TObject {
  TTestDialog* dialog = nullptr;
  TCustomForm* other = nullptr;
  bool otherWasDisabled = false;
  bool dialogWasModal = false;
  int action = 0;  // 0 click OK, 1 close, 2 click cancel
  void Tick(TObject* sender) {
    static_cast<TTimer*>(sender)->SetEnabled(false);
    otherWasDisabled = other && !IsWindowEnabled(other->Handle());
    dialogWasModal = dialog->IsShownModally();
    auto* ok = static_cast<TTestBox*>(dialog->FindComponent("OkBox"));
    auto* cancel = static_cast<TTestBox*>(dialog->FindComponent("CancelBox"));
    if (action == 0) Click(ok->Handle(), 4, 4);
    if (action == 1) dialog->Close();
    if (action == 2) Click(cancel->Handle(), 4, 4);
  }
};

TEST_F(StoredForm, ModalDialogReturnsItsModalResult) {
  ShowAndSettle();
  struct Case {
    int action;
    int result;
  } cases[] = {{0, mrOk}, {1, mrCancel}, {2, mrCancel}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.action);
    TTestDialog* dialog = New<TTestDialog>(nullptr);
    ModalDriver driver;
    driver.dialog = dialog;
    driver.other = form;
    driver.action = c.action;
    TTimer* timer = New<TTimer>(nullptr);
    timer->SetInterval(30);
    timer->SetOnTimer(EventOf<&ModalDriver::Tick>(&driver));
    EXPECT_EQ(dialog->ShowModal(), c.result);
    EXPECT_TRUE(driver.otherWasDisabled);
    EXPECT_TRUE(driver.dialogWasModal);
    EXPECT_FALSE(dialog->IsShownModally());
    EXPECT_FALSE(dialog->Visible());
    EXPECT_TRUE(IsWindowEnabled(form->Handle()));
    Free(timer);
    Free(dialog);
  }
}

TEST_F(StoredForm, ModalDialogIsCentredOnTheMainForm) {
  // The main form of this process is the first one made by CreateForm;
  // without one the dialog takes the screen centre.
  TTestDialog* dialog = New<TTestDialog>(nullptr);
  ModalDriver driver;
  driver.dialog = dialog;
  TTimer* timer = New<TTimer>(nullptr);
  timer->SetInterval(30);
  timer->SetOnTimer(EventOf<&ModalDriver::Tick>(&driver));
  dialog->ShowModal();
  TRect work = Screen->WorkAreaRect();
  TCustomForm* main = Application->MainForm();
  TRect around = main && main->HandleAllocated() ? main->BoundsRect() : work;
  EXPECT_EQ(dialog->Left(), around.left + (around.right - around.left - 200) / 2);
  EXPECT_EQ(dialog->Top(), around.top + (around.bottom - around.top - 120) / 2);
  Free(timer);
  Free(dialog);
}

TEST_F(StoredForm, AnExceptionInAHandlerGoesToTheErrorDisplay) {
  ShowAndSettle();
  struct Thrower : TObject {
    void Click(TObject*) { throw Exception(u"Boom"); }
  } thrower;
  box->OnClick = EventOf<&Thrower::Click>(&thrower);
  MessageBoxRecorder boxes;
  Click(box->Handle(), 3, 3);
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].text, u"Boom.");
  EXPECT_EQ(boxes.boxes[0].caption, Application->Title());
  EXPECT_TRUE(boxes.boxes[0].flags & MB_ICONSTOP);
}

// ---- timers
struct TimerProbe : TObject {
  int ticks = 0;
  TTimer* timer = nullptr;
  int mode = 0;  // 0 free itself, 1 disable, 2 lengthen
  void Tick(TObject* sender) {
    ++ticks;
    auto* t = static_cast<TTimer*>(sender);
    if (mode == 0) {
      Free(t);
      timer = nullptr;
    } else if (mode == 1) {
      t->SetEnabled(false);
    } else {
      t->SetInterval(10000);
    }
  }
};

TEST(Timer, ItsOwnEventMayFreeDisableOrSlowIt) {
  for (int mode = 0; mode < 3; ++mode) {
    SCOPED_TRACE(mode);
    TimerProbe probe;
    probe.mode = mode;
    probe.timer = New<TTimer>(nullptr);
    probe.timer->SetInterval(10);
    probe.timer->SetOnTimer(EventOf<&TimerProbe::Tick>(&probe));
    PumpFor(150);
    EXPECT_EQ(probe.ticks, 1);
    Free(probe.timer);
  }
}

TEST(Timer, WithoutHandlerOrIntervalItDoesNotRun) {
  TimerProbe probe;
  probe.mode = 1;
  TTimer* t = New<TTimer>(nullptr);
  t->SetInterval(0);
  t->SetOnTimer(EventOf<&TimerProbe::Tick>(&probe));
  PumpFor(50);
  EXPECT_EQ(probe.ticks, 0);
  t->SetInterval(10);
  EXPECT_TRUE(PumpUntil([&] { return probe.ticks == 1; }));
  Free(t);
}

// ---- forms without a stored form
TEST(Form, CreateNewNeedsNoResourceButAClassOfItsOwnDoes) {
  TForm* plain = New<TForm>(nullptr, 0);
  EXPECT_EQ(plain->ComponentCount(), 0);
  Free(plain);
  TForm* base = New<TForm>(nullptr);  // TForm itself needs none
  Free(base);
  const int before = Screen->FormCount();
  EXPECT_THROW(New<TUnstoredForm>(nullptr), EResNotFound);
  EXPECT_EQ(Screen->FormCount(), before);  // the half-made form is gone
  TUnstoredForm* made = New<TUnstoredForm>(nullptr, 0);
  Free(made);
}

TEST(Form, BorderStyleDecidesTheWindowFrame) {
  struct Case {
    TFormBorderStyle style;
    DWORD has, hasNot;
  } cases[] = {
      {TFormBorderStyle::bsNone, WS_POPUP, WS_CAPTION | WS_THICKFRAME},
      {TFormBorderStyle::bsSingle, WS_CAPTION, WS_THICKFRAME},
      {TFormBorderStyle::bsSizeable, WS_CAPTION | WS_THICKFRAME, 0},
      {TFormBorderStyle::bsDialog, WS_CAPTION, WS_THICKFRAME | WS_MINIMIZEBOX},
  };
  for (const Case& c : cases) {
    TForm* f = New<TForm>(nullptr, 0);
    f->SetBorderStyle(c.style);
    f->SetClientWidth(120);
    f->SetClientHeight(80);
    DWORD style = static_cast<DWORD>(GetWindowLongW(f->Handle(), GWL_STYLE));
    EXPECT_EQ(style & c.has, c.has) << static_cast<int>(c.style);
    EXPECT_EQ(style & c.hasNot, 0u) << static_cast<int>(c.style);
    RECT r;
    GetClientRect(f->Handle(), &r);
    EXPECT_EQ(r.right, 120);
    EXPECT_EQ(r.bottom, 80);
    Free(f);
  }
  TForm* top = New<TForm>(nullptr, 0);
  top->SetFormStyle(TFormStyle::fsStayOnTop);
  EXPECT_TRUE(GetWindowLongW(top->Handle(), GWL_EXSTYLE) & WS_EX_TOPMOST);
  Free(top);
}

TEST(Form, ConstraintsLimitTheSizeSetAndTheSizeTheUserDrags) {
  TForm* f = New<TForm>(nullptr, 0);
  f->SetBorderStyle(TFormBorderStyle::bsNone);
  f->Constraints()->SetMinWidth(200);
  f->Constraints()->SetMinHeight(150);
  f->SetBounds(0, 0, 100, 400);
  EXPECT_EQ(f->Width(), 200);
  EXPECT_EQ(f->Height(), 400);
  MINMAXINFO info{};
  SendMessageW(f->Handle(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
  EXPECT_EQ(info.ptMinTrackSize.x, 200);
  EXPECT_EQ(info.ptMinTrackSize.y, 150);
  Free(f);
}

TEST(Form, ShowingGoesThroughShowingChangedSoAFormCanOverrideIt) {
  struct TQuietForm : TForm {
    explicit TQuietForm(TComponent* o) : TForm(o, 0) {}
    int changes = 0;
    void ShowingChanged(TMessage& m) override {
      ++changes;
      if (Showing())
        ShowWindow(Handle(), SW_SHOWNOACTIVATE);
      else
        TForm::ShowingChanged(m);
    }
  };
  auto* f = New<TQuietForm>(nullptr);
  f->SetBorderStyle(TFormBorderStyle::bsNone);
  f->Show();
  EXPECT_EQ(f->changes, 1);
  EXPECT_TRUE(IsWindowVisible(f->Handle()));
  f->Hide();
  EXPECT_EQ(f->changes, 2);
  EXPECT_FALSE(IsWindowVisible(f->Handle()));
  Free(f);
}

TEST(Form, PrintClientPaintsTheFormColourForOthers) {
  TForm* f = New<TForm>(nullptr, 0);
  f->SetBorderStyle(TFormBorderStyle::bsNone);
  f->SetBounds(0, 0, 20, 20);
  f->SetColor(clPurple);
  TBitmap b;
  b.SetSize(20, 20);
  SendMessageW(f->Handle(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(b.Canvas()->Handle()),
               PRF_CLIENT | PRF_ERASEBKGND);
  EXPECT_EQ(b.Canvas()->Pixel(10, 10), clPurple);
  Free(f);
}

}  // namespace
}  // namespace kelm::test
