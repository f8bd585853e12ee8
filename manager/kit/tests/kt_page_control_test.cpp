// The page control loaded from a stored form: the manager's single page
// without a tab, three pages with a default page, the event order of a
// switch, Ctrl+Tab past a page without a tab, page order, errors, handles
// given up under SaveResources, and a page's handler errors.
#include "kit/kt_page_control.h"
#include "kit/kt_tab_buttons.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "classlib/classdef.h"
#include "classlib/dialogs.h"
#include "classlib/forms.h"
#include "classlib/lists.h"
#include "message_pump.h"

namespace kelm::test {

using namespace classlib;
using namespace kit;

// A windowed child that can hold the focus and keeps a caption.
class TTestFocusBox : public TCustomControl {
  CL_DECLARE_CLASS(TTestFocusBox, TCustomControl)
 public:
  explicit TTestFocusBox(TComponent* AOwner) : TCustomControl(AOwner) { SetTabStop(true); }
};
CL_CLASS(TTestFocusBox) {}

class TPageTestForm : public TForm {
  CL_DECLARE_CLASS(TPageTestForm, TForm)
 public:
  explicit TPageTestForm(TComponent* AOwner) : TForm(AOwner) {}
  void LogChange(TObject*) { Log.push_back("Change"); }
  void LogChanging(TObject*, int i, bool& allow) {
    Log.push_back("Changing " + std::to_string(i));
    allow = Allow;
  }
  void LogPageChange(TObject*) { Log.push_back("PageChange"); }
  void LogTabOrderChange(TObject*, int from, int to) {
    Log.push_back("TabOrder " + std::to_string(from) + " " + std::to_string(to));
  }
  void LogHide(TObject*) { Log.push_back("Hide"); }
  void AskClose(TObject*, bool& allow) {
    Log.push_back("Close");
    allow = AllowClose;
  }
  bool AllowClose = false;
  void LogShow(TObject*) {
    Log.push_back("Show");
    if (FailShow) throw Exception(u"show failed");
  }
  template <class T>
  T* Find(const char* name) {
    return static_cast<T*>(FindComponent(name));
  }
  std::vector<std::string> Log;
  bool Allow = true;
  bool FailShow = false;
};

CL_CLASS(TPageTestForm) {
  c.Method<&TPageTestForm::LogChange>("LogChange");
  c.Method<&TPageTestForm::LogChanging>("LogChanging");
  c.Method<&TPageTestForm::LogPageChange>("LogPageChange");
  c.Method<&TPageTestForm::LogTabOrderChange>("LogTabOrderChange");
  c.Method<&TPageTestForm::LogHide>("LogHide");
  c.Method<&TPageTestForm::LogShow>("LogShow");
}

namespace {

std::vector<std::u16string> boxes;
int RecordBox(HWND, const std::u16string& text, const std::u16string&, UINT) {
  boxes.push_back(text);
  return IDOK;
}

struct PageControlTest : ::testing::Test {
  PageControlTest() {
    // The page class is registered by the page control itself.
    RegisterClasses({TKtPageControl::StaticClass(), TPageTestForm::StaticClass(),
                     TTestFocusBox::StaticClass()});
    form = New<TPageTestForm>(nullptr);
    main = form->Find<TKtPageControl>("PageMain");
    pages = form->Find<TKtPageControl>("Pages");
    one = form->Find<TKtTabSheet>("PageOne");
    two = form->Find<TKtTabSheet>("PageTwo");
    three = form->Find<TKtTabSheet>("PageThree");
  }
  ~PageControlTest() override { Free(form); }
  void ShowForm() {
    form->Show();
    ASSERT_TRUE(PumpUntil([&] { return form->Showing() && IsWindowVisible(form->Handle()); }));
    UpdateWindow(form->Handle());
    PumpFor(50);
  }
  void CtrlTab(bool shift) {
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_CONTROL] = 0x80;
    keys[VK_SHIFT] = shift ? 0x80 : 0;
    SetKeyboardState(keys);
    pages->Perform(CM_DIALOGKEY, VK_TAB, 0);
    keys[VK_CONTROL] = 0;
    keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
  }
  TPageTestForm* form = nullptr;
  TKtPageControl* main = nullptr;
  TKtPageControl* pages = nullptr;
  TKtTabSheet *one = nullptr, *two = nullptr, *three = nullptr;
};

TEST_F(PageControlTest, ManagersPageWithoutTabLoadsQuietlyAndDrawsOneTopLine) {
  ASSERT_NE(nullptr, main);
  TKtTabSheet* page = form->Find<TKtTabSheet>("TabSnapshot");
  ASSERT_NE(nullptr, page);
  EXPECT_TRUE(form->Log.empty()) << ::testing::PrintToString(form->Log);
  EXPECT_EQ(page, main->ActivePage());
  EXPECT_EQ(0, main->Tabs().Count());
  EXPECT_EQ(-1, main->TabIndex());
  EXPECT_TRUE(page->Visible());
  EXPECT_EQ(150, TKtPageControl(nullptr).Height());

  ShowForm();
  // The page fills the control less the top line.
  EXPECT_EQ(0, page->Left());
  EXPECT_EQ(1, page->Top());
  EXPECT_EQ(main->Width(), page->Width());
  EXPECT_EQ(main->Height() - 1, page->Height());
  const int w = main->Width();
  const int h = main->Height();
  const TPoint origin = main->ClientToScreen(TPoint{0, 0});
  HDC screen = GetDC(nullptr);
  const COLORREF line = GetSysColor(COLOR_BTNSHADOW);
  for (int x : {0, w / 2, w - 1}) EXPECT_EQ(line, GetPixel(screen, origin.x + x, origin.y)) << x;
  const struct {
    int x, y;
  } white[] = {{0, 1}, {w - 1, 1}, {w / 2, h / 2}, {0, h - 1}, {w - 1, h - 1}};
  for (const auto& p : white)
    EXPECT_EQ(RGB(255, 255, 255), GetPixel(screen, origin.x + p.x, origin.y + p.y))
        << p.x << "," << p.y;
  // Just outside the control the form shows.
  EXPECT_EQ(RGB(0, 255, 0), GetPixel(screen, origin.x + w / 2, origin.y + h));
  ReleaseDC(nullptr, screen);

  form->Log.clear();
  main->SetActivePageIndex(0);
  EXPECT_EQ(std::vector<std::string>{"PageChange"}, form->Log);
  EXPECT_EQ(page, main->ActivePage());
  EXPECT_EQ(-1, main->TabIndex());
}

TEST(PageControlInCode, TheActiveSheetLiesBelowTheTabsOnceTheyArePainted) {
  // No stored row thickness: the tab strip is measured at the first paint,
  // after the sheets were first placed.
  TForm* form = New<TForm>(nullptr);
  form->SetBounds(100, 100, 320, 220);
  auto* pages = New<TKtPageControl>(form);
  pages->SetParent(form);
  pages->SetBounds(10, 10, 300, 200);
  TKtTabSheet* sheets[2] = {New<TKtTabSheet>(form), New<TKtTabSheet>(form)};
  for (TKtTabSheet* sheet : sheets) {
    sheet->SetPageControl(pages);
    sheet->SetCaption(u"Sheet");
  }
  pages->SetActivePageIndex(0);
  form->Show();
  ASSERT_TRUE(PumpUntil([&] { return IsWindowVisible(form->Handle()); }));
  UpdateWindow(form->Handle());
  PumpFor(50);
  const kit::TKtRect display = pages->DisplayRect();
  const kit::TKtRect strip = pages->TabStripRect();
  EXPECT_GT(strip.bottom - strip.top, 0);
  EXPECT_GE(display.top, strip.bottom - 1);
  TKtTabSheet* active = pages->ActivePage();
  ASSERT_EQ(sheets[0], active);
  EXPECT_EQ(display.left, active->Left());
  EXPECT_EQ(display.top, active->Top());
  EXPECT_EQ(display.right - display.left, active->Width());
  EXPECT_EQ(display.bottom - display.top, active->Height());
  // The tab's text stays visible: the sheet's window does not cover the strip.
  RECT sheetOnScreen{};
  GetWindowRect(active->Handle(), &sheetOnScreen);
  const TPoint stripMiddle = pages->ClientToScreen(TPoint{10, (strip.top + strip.bottom) / 2});
  EXPECT_LT(stripMiddle.y, sheetOnScreen.top);
  Free(form);
}

TEST_F(PageControlTest, DefaultPageWinsAfterLoadingAndSwitchesKeepTheEventOrder) {
  ASSERT_NE(nullptr, pages);
  EXPECT_TRUE(form->Log.empty()) << ::testing::PrintToString(form->Log);
  EXPECT_EQ(three, pages->ActivePage());
  EXPECT_EQ(three, pages->ActivePageDefault());
  EXPECT_FALSE(one->Visible());
  EXPECT_TRUE(three->Visible());
  EXPECT_EQ(2, pages->Tabs().Count());
  EXPECT_EQ(1, pages->TabIndex());
  EXPECT_EQ((std::vector<int>{0, -1, 1}),
            (std::vector<int>{one->TabIndex(), two->TabIndex(), three->TabIndex()}));
  EXPECT_EQ(u"Three", pages->Tabs().Item(1).Caption);
  ShowForm();

  // A click on the first tab: asked, switched (the old page hides), then told.
  form->Log.clear();
  const TKtRect r = pages->TabRectInControl(0);
  const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  PostMessageW(pages->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, at);
  PostMessageW(pages->Handle(), WM_LBUTTONUP, 0, at);
  ASSERT_TRUE(PumpUntil([&] { return form->Log.size() >= 4; }));
  EXPECT_EQ((std::vector<std::string>{"Changing 0", "Hide", "Change", "PageChange"}), form->Log);
  EXPECT_EQ(one, pages->ActivePage());
  EXPECT_EQ(0, pages->TabIndex());
  EXPECT_TRUE(one->Visible());
  EXPECT_FALSE(three->Visible());

  // Refused: asked, nothing else.
  form->Log.clear();
  form->Allow = false;
  pages->SetTabIndex(1);
  EXPECT_EQ(std::vector<std::string>{"Changing 1"}, form->Log);
  EXPECT_EQ(one, pages->ActivePage());
  EXPECT_EQ(0, pages->TabIndex());
  EXPECT_TRUE(one->Visible());
  // Refused through ActivePage, the page given is not left shown beside the
  // active one.
  form->Log.clear();
  pages->SetActivePage(three);
  EXPECT_EQ((std::vector<std::string>{"Show", "Changing 1", "Hide"}), form->Log);
  EXPECT_EQ(one, pages->ActivePage());
  EXPECT_TRUE(one->Visible());
  EXPECT_FALSE(three->Visible());
}

TEST_F(PageControlTest, CtrlTabSkipsThePageWithoutATabAndHandsTheFocusOn) {
  ShowForm();
  auto* editOne = form->Find<TTestFocusBox>("EditOne");
  auto* editThree = form->Find<TTestFocusBox>("EditThree");
  editThree->SetFocus();
  ASSERT_TRUE(PumpUntil([&] { return form->ActiveControl() == editThree; }));
  const struct {
    bool shift;
    TKtTabSheet* expected;
  } steps[] = {{false, one}, {false, three}, {true, one}, {true, three}};
  for (const auto& step : steps) {
    CtrlTab(step.shift);
    EXPECT_EQ(step.expected, pages->ActivePage()) << step.shift;
    EXPECT_FALSE(two->Visible());
    // The focus moves to the new page's first control.
    EXPECT_EQ(step.expected == one ? editOne : editThree, form->ActiveControl());
  }
  // Without the focus inside, the key is not taken.
  main->SetFocus();
  ASSERT_TRUE(PumpUntil([&] { return form->ActiveControl() == main; }));
  CtrlTab(false);
  EXPECT_EQ(three, pages->ActivePage());
}

TEST_F(PageControlTest, PageOrderMovesTabsAndTellsEvenAnUnchangedPlace) {
  form->Log.clear();
  three->SetPageIndex(2);
  EXPECT_EQ(std::vector<std::string>{"TabOrder 2 2"}, form->Log);
  // The active page's tab follows it without asking or telling (refusing
  // would leave the tab on another page).
  form->Allow = false;
  three->SetPageIndex(0);
  EXPECT_EQ((std::vector<std::string>{"TabOrder 2 2", "TabOrder 2 0"}), form->Log);
  EXPECT_EQ((std::vector<TKtTabSheet*>{three, one, two}),
            (std::vector<TKtTabSheet*>{pages->Pages(0), pages->Pages(1), pages->Pages(2)}));
  EXPECT_EQ(u"Three", pages->Tabs().Item(0).Caption);
  // The active page keeps its tab selected.
  EXPECT_EQ(0, pages->TabIndex());
}

TEST_F(PageControlTest, BadInputRaisesAndMovesNothing) {
  const struct {
    int value;
    const char16_t* text;
  } cases[] = {
      {-1, u"-1 is an invalid PageIndex value. PageIndex must be between 0 and 2"},
      {3, u"3 is an invalid PageIndex value. PageIndex must be between 0 and 2"},
  };
  for (const auto& c : cases) {
    try {
      one->SetPageIndex(c.value);
      ADD_FAILURE() << c.value;
    } catch (const EKtTabControlError& e) {
      EXPECT_EQ(std::u16string(c.text), e.Message());
    }
    EXPECT_EQ(0, one->PageIndex());
  }
  for (bool v : {true, false}) {
    try {
      three->SetVisible(v);
      ADD_FAILURE();
    } catch (const EKtTabControlError& e) {
      EXPECT_EQ(u"You cannot change the Visible property of a page", e.Message());
    }
  }
  EXPECT_TRUE(three->Visible());
  EXPECT_THROW(pages->Pages(3), EListError);
  EXPECT_THROW(pages->Pages(-1), EListError);
  // Another control's page is ignored.
  main->SetActivePage(one);
  EXPECT_EQ(form->Find<TKtTabSheet>("TabSnapshot"), main->ActivePage());
  EXPECT_FALSE(one->Visible());
  // Out of range indexes clear the tab and leave the page shown.
  for (int i : {-1, 3}) {
    pages->SetActivePageIndex(i);
    EXPECT_EQ(three, pages->ActivePage());
    EXPECT_EQ(-1, pages->TabIndex());
    EXPECT_TRUE(three->Visible());
  }
}

TEST_F(PageControlTest, SaveResourcesGivesUpHiddenHandlesAndChildrenKeepTheirState) {
  ShowForm();
  auto* editOne = form->Find<TTestFocusBox>("EditOne");
  editOne->SetCaption(u"kept");
  const HWND before = one->Handle();
  pages->SetSaveResources(true);
  EXPECT_FALSE(one->HandleAllocated());
  EXPECT_TRUE(three->HandleAllocated());
  pages->SetActivePage(one);
  ASSERT_TRUE(one->HandleAllocated());
  EXPECT_NE(before, one->Handle());
  EXPECT_FALSE(three->HandleAllocated());
  EXPECT_EQ(u"kept", editOne->Caption());
  wchar_t text[16] = {};
  GetWindowTextW(editOne->Handle(), text, 16);
  EXPECT_STREQ(L"kept", text);
}

TEST_F(PageControlTest, ShowingAControlInAHiddenPageActivatesThePage) {
  auto* editOne = form->Find<TTestFocusBox>("EditOne");
  ASSERT_FALSE(one->Visible());
  form->Log.clear();
  editOne->Show();
  EXPECT_EQ(one, pages->ActivePage());
  EXPECT_EQ(0, pages->TabIndex());
  EXPECT_FALSE(three->Visible());
  EXPECT_EQ((std::vector<std::string>{"Changing 0", "Change", "PageChange"}), form->Log);
  // A page shown itself is activated the same way.
  three->Show();
  EXPECT_EQ(three, pages->ActivePage());
}

TEST_F(PageControlTest, FreeingTheActivePageLeavesNoneAndNoTab) {
  Free(three);
  EXPECT_EQ(nullptr, pages->ActivePage());
  EXPECT_EQ(-1, pages->TabIndex());
  EXPECT_EQ(2, pages->PageCount());
  EXPECT_EQ(nullptr, pages->ActivePageDefault());
  EXPECT_EQ(1, pages->Tabs().Count());
}

TEST_F(PageControlTest, TabHiddenOnTheActivePageKeepsItShown) {
  three->SetTabVisible(false);
  EXPECT_EQ(three, pages->ActivePage());
  EXPECT_TRUE(three->Visible());
  EXPECT_EQ(-1, pages->TabIndex());
  EXPECT_EQ(1, pages->Tabs().Count());
  three->SetTabVisible(true);
  EXPECT_EQ(1, pages->TabIndex());
}

TEST_F(PageControlTest, ShowHandlerErrorGoesToTheApplication) {
  boxes.clear();
  const TMessageBoxFunc previous = SetMessageBoxFunc(&RecordBox);
  ShowForm();
  pages->SetActivePage(one);
  form->Log.clear();
  form->FailShow = true;
  EXPECT_NO_THROW(pages->SetActivePage(three));
  SetMessageBoxFunc(previous);
  EXPECT_EQ(three, pages->ActivePage());
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ(u"show failed.", boxes[0]);
  // The page given is made visible before the switch is asked for.
  EXPECT_EQ((std::vector<std::string>{"Show", "Changing 1", "Change", "PageChange"}), form->Log);
}

TEST_F(PageControlTest, ColoursFollowTheControlUnlessTabsAreColoured) {
  EXPECT_FALSE(pages->UseColoredTabs());
  one->SetColor(clRed);
  EXPECT_TRUE(pages->UseColoredTabs());
  EXPECT_EQ(clRed, pages->Tabs().Item(0).Color);
  pages->SetUseColoredTabs(false);
  for (TKtTabSheet* page : {one, two, three}) EXPECT_EQ(pages->Color(), page->Color());
}

TEST_F(PageControlTest, AFormDocksIntoANewPageAndADoubleClickOnItsTabFloatsIt) {
  ShowForm();
  auto* tool = New<TForm>(nullptr, 0);
  tool->SetCaption(u"Tools");
  tool->SetBounds(600, 100, 120, 80);
  tool->Show();
  const TRect drop = Bounds(300, 300, 50, 50);
  // Not a dock site: nothing happens.
  EXPECT_FALSE(tool->ManualDock(pages, drop));
  EXPECT_EQ(3, pages->PageCount());
  EXPECT_EQ(nullptr, tool->Parent());

  pages->SetDockSite(true);
  ASSERT_TRUE(tool->ManualDock(pages, drop));
  ASSERT_EQ(4, pages->PageCount());
  TKtTabSheet* page = pages->Pages(3);
  EXPECT_EQ(u"Tools", page->Caption());
  EXPECT_EQ(page, pages->ActivePage());
  EXPECT_EQ(page, tool->Parent());
  EXPECT_EQ(pages, tool->HostDockSite());
  EXPECT_EQ(TAlign::alClient, tool->Align());
  EXPECT_EQ(page->Handle(), GetParent(tool->Handle()));
  EXPECT_NE(0, GetWindowLongW(tool->Handle(), GWL_STYLE) & WS_CHILD);

  // The tab follows the docked form's text (first line) and visibility.
  tool->SetCaption(u"Palette\r\nsecond line");
  EXPECT_EQ(u"Palette", page->Caption());
  tool->Hide();
  EXPECT_FALSE(page->TabVisible());
  tool->Show();
  EXPECT_TRUE(page->TabVisible());
  EXPECT_EQ(page, pages->ActivePage());

  pages->UpdateLayout();
  const int tab = page->TabIndex();
  ASSERT_GE(tab, 0);
  const TKtRect r = pages->TabRectInControl(tab);
  const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  PostMessageW(pages->Handle(), WM_LBUTTONDBLCLK, MK_LBUTTON, at);
  PostMessageW(pages->Handle(), WM_LBUTTONUP, 0, at);
  ASSERT_TRUE(PumpUntil([&] { return tool->Parent() == nullptr; }));
  EXPECT_EQ(nullptr, tool->HostDockSite());
  EXPECT_EQ(3, pages->PageCount());
  EXPECT_EQ(one, pages->ActivePage());
  EXPECT_EQ(TAlign::alNone, tool->Align());
  EXPECT_TRUE(tool->Showing());
  EXPECT_EQ(0, GetWindowLongW(tool->Handle(), GWL_STYLE) & WS_CHILD);
  EXPECT_TRUE(IsWindowVisible(tool->Handle()));
  Free(tool);
}

// The close button frees the active page only when OnClose allows it; the
// tab before it is selected then.
TEST_F(PageControlTest, CloseButtonActsOnlyWhenOnCloseAllows) {
  pages->SetShowCloseButton(true);
  pages->PlaceButtons();
  TKtTabControlCloseButton* button = pages->CloseButton();
  ASSERT_NE(nullptr, button);
  EXPECT_GT(button->Width(), 0);
  auto press = [&] {
    button->Perform(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    button->Perform(WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
  };
  press();  // no handler: not allowed
  EXPECT_EQ(3, pages->PageCount());
  pages->OnClose = EventOf<&TPageTestForm::AskClose>(form);
  press();
  EXPECT_EQ(std::vector<std::string>{"Close"}, form->Log);
  EXPECT_EQ(3, pages->PageCount());
  EXPECT_EQ(three, pages->ActivePage());
  form->AllowClose = true;
  press();
  EXPECT_EQ(2, pages->PageCount());
  EXPECT_EQ(0, pages->TabIndex());
  EXPECT_EQ(one, pages->ActivePage());
}

// The close glyph on the selected tab sits in the tab's last 20 pixels and
// closes the page only when OnClose allows, and only for the left button.
TEST_F(PageControlTest, ActiveTabCloseGlyphClosesThePage) {
  ShowForm();
  pages->SetTabStyle(TKtTabStyle::tsSquareCorners);
  pages->SetShowCloseButtonOnActiveTab(true);
  pages->PlaceButtons();
  TKtActiveTabCloseButton* glyph = pages->ActiveTabCloseButton();
  ASSERT_NE(nullptr, glyph);
  EXPECT_TRUE(glyph->Visible());
  const TKtRect tab = pages->TabRectInControl(pages->TabIndex());
  EXPECT_EQ(13, glyph->Width());
  EXPECT_EQ(13, glyph->Height());
  EXPECT_GE(glyph->Left(), tab.right - 20);
  EXPECT_LE(glyph->Left() + glyph->Width(), tab.right);
  EXPECT_GE(glyph->Top(), tab.top);
  EXPECT_LE(glyph->Top() + glyph->Height(), tab.bottom);
  pages->OnClose = EventOf<&TPageTestForm::AskClose>(form);
  form->AllowClose = true;
  form->Log.clear();
  glyph->Perform(WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(3, 3));
  glyph->Perform(WM_RBUTTONUP, 0, MAKELPARAM(3, 3));
  EXPECT_TRUE(form->Log.empty());
  form->AllowClose = false;
  glyph->Perform(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
  glyph->Perform(WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
  EXPECT_EQ(std::vector<std::string>{"Close"}, form->Log);
  EXPECT_EQ(3, pages->PageCount());
  form->AllowClose = true;
  glyph->Perform(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
  glyph->Perform(WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
  EXPECT_EQ(2, pages->PageCount());
  EXPECT_EQ(one, pages->ActivePage());
  // With no tab selected the glyph is gone.
  pages->SetTabIndex(-1);
  EXPECT_FALSE(glyph->Visible());
}

// A tab dropped on the selected tab changes nothing; dropped on another it
// moves the active page there (counted in pages, past one without a tab).
TEST_F(PageControlTest, DroppedTabMovesTheActivePage) {
  ShowForm();
  pages->SetAllowTabDragging(true);
  pages->SetActivePage(one);
  pages->UpdateLayout();
  auto centre = [&](int tab) {
    const TKtRect r = pages->TabRectInControl(tab);
    return TPoint{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  };
  bool accept = true;
  const TPoint selected = centre(0);
  pages->DragOver(pages, selected.x, selected.y, TDragState::dsDragMove, accept);
  EXPECT_FALSE(accept);
  EXPECT_FALSE(pages->DropIndicatorShown());
  form->Log.clear();
  pages->DragDrop(pages, selected.x, selected.y);
  EXPECT_TRUE(form->Log.empty());
  EXPECT_EQ(0, one->PageIndex());

  const TPoint other = centre(1);
  pages->DragOver(pages, other.x, other.y, TDragState::dsDragMove, accept);
  EXPECT_TRUE(accept);
  EXPECT_TRUE(pages->DropIndicatorShown());
  pages->DragDrop(pages, other.x, other.y);
  EXPECT_FALSE(pages->DropIndicatorShown());
  EXPECT_EQ(std::vector<std::string>{"TabOrder 0 2"}, form->Log);
  EXPECT_EQ((std::vector<TKtTabSheet*>{two, three, one}),
            (std::vector<TKtTabSheet*>{pages->Pages(0), pages->Pages(1), pages->Pages(2)}));
  EXPECT_EQ(1, pages->TabIndex());
  EXPECT_EQ(one, pages->ActivePage());
}

TEST_F(PageControlTest, FocusGoesIntoAPageWithoutATab) {
  ShowForm();
  auto* box = New<TTestFocusBox>(form);
  box->SetParent(two);
  box->SetBounds(5, 5, 30, 20);
  pages->SetActivePage(two);
  EXPECT_EQ(-1, pages->TabIndex());
  pages->SetFocus();
  ASSERT_TRUE(PumpUntil([&] { return GetFocus() == box->Handle(); }));
}

// A dock drag: dropped over the page control a form docks into a new page
// (offered the control's whole window); dragged from its page and dropped
// there again it may not dock, so it floats under the mouse.
// Hands the drag its dock object, kept after the drag to be read.
struct TDockObjectKeeper : TObject {
  void StartDrag(TObject*, TDragObject*& object) {
    dock = New<TDragDockObject>();
    dock->Control = control;
    object = dock;
  }
  ~TDockObjectKeeper() override { Free(dock); }
  TControl* control = nullptr;
  TDragDockObject* dock = nullptr;
};

TEST_F(PageControlTest, ADockDragDocksAFormAndFloatsItAgain) {
  ShowForm();
  pages->SetDockSite(true);
  auto* tool = New<TForm>(nullptr, 0);
  tool->SetCaption(u"Tools");
  tool->SetBounds(600, 100, 120, 80);
  tool->SetDragKind(TDragKind::dkDock);
  tool->Show();
  const TPoint centre = pages->ClientToScreen(TPoint{pages->Width() / 2, pages->Height() / 2});
  ASSERT_TRUE(SetCursorPos(centre.x, centre.y));

  TDockObjectKeeper keeper;
  keeper.control = tool;
  tool->OnStartDrag = EventOf<&TDockObjectKeeper::StartDrag>(&keeper);
  tool->BeginDrag(true);
  ASSERT_TRUE(tool->Dragging());
  // The dock rectangle offered is the page control's whole window.
  ASSERT_NE(nullptr, keeper.dock);
  RECT window{};
  GetWindowRect(pages->Handle(), &window);
  const TRect offered = keeper.dock->DockRect;
  EXPECT_EQ(window.left, offered.left);
  EXPECT_EQ(window.top, offered.top);
  EXPECT_EQ(window.right, offered.right);
  EXPECT_EQ(window.bottom, offered.bottom);
  EXPECT_FALSE(keeper.dock->Floating);
  tool->EndDrag(true);
  tool->OnStartDrag = nullptr;
  ASSERT_EQ(pages, tool->HostDockSite());
  ASSERT_EQ(4, pages->PageCount());
  EXPECT_EQ(pages->Pages(3), tool->Parent());
  EXPECT_EQ(pages->Pages(3), pages->ActivePage());

  // Docked in a page, the page control is no site for it: it floats at
  // its own size where the mouse is.
  ASSERT_TRUE(SetCursorPos(centre.x, centre.y));
  tool->BeginDrag(true);
  tool->EndDrag(true);
  EXPECT_EQ(nullptr, tool->HostDockSite());
  EXPECT_EQ(3, pages->PageCount());
  RECT r{};
  GetWindowRect(tool->Handle(), &r);
  EXPECT_EQ(centre.x, r.left);
  EXPECT_EQ(centre.y, r.top);
  EXPECT_EQ(0, GetWindowLongW(tool->Handle(), GWL_STYLE) & WS_CHILD);
  Free(tool);
}

}  // namespace
}  // namespace kelm::test
