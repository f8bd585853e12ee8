// Actions, action lists, links to controls and menu items, the
// action-update pass, and menus.
#include <gtest/gtest.h>

#include "test_support.h"

namespace kelm::test {
namespace {

class ActionFixture : public ::testing::Test {
 protected:
  ActionFixture() : form(New<TTestMainForm>(Application)) {
    act = dynamic_cast<TAction*>(form->FindComponent("ActGo"));
    go = dynamic_cast<TTestBox*>(form->FindComponent("GoButton"));
    popup = dynamic_cast<TPopupMenu*>(form->FindComponent("Popup1"));
    itemGo = dynamic_cast<TMenuItem*>(form->FindComponent("ItemGo"));
  }
  ~ActionFixture() override { Free(form); }
  TTestMainForm* form;
  TAction* act;
  TTestBox* go;
  TPopupMenu* popup;
  TMenuItem* itemGo;
};

TEST_F(ActionFixture, StoredActionLinksItsClients) {
  ASSERT_NE(act, nullptr);
  ASSERT_NE(go, nullptr);
  ASSERT_NE(itemGo, nullptr);
  auto* list = dynamic_cast<TActionList*>(form->FindComponent("ActionList1"));
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(act->ActionList(), list);
  EXPECT_EQ(go->Action(), act);
  EXPECT_EQ(go->Caption(), u"Go");
  EXPECT_EQ(itemGo->Caption(), u"Go");
  EXPECT_EQ(itemGo->Parent(), popup->Items());
}

TEST_F(ActionFixture, SettingEnabledOnTheActionReachesEveryClient) {
  form->GoEnabled = false;  // the update rule agrees
  act->SetEnabled(false);
  EXPECT_FALSE(go->Enabled());
  EXPECT_FALSE(itemGo->Enabled());
  form->Show();
  PumpFor(30);
  EXPECT_FALSE(IsWindowEnabled(go->Handle()));
  act->SetEnabled(true);
  EXPECT_TRUE(IsWindowEnabled(go->Handle()));
}

TEST_F(ActionFixture, AClientWithItsOwnValueNoLongerFollows) {
  go->SetCaption(u"Mine");
  act->SetCaption(u"Run");
  EXPECT_EQ(go->Caption(), u"Mine");
  EXPECT_EQ(itemGo->Caption(), u"Run");
}

TEST_F(ActionFixture, ClickingTheClientExecutesTheAction) {
  form->Show();
  PumpFor(30);
  Click(go->Handle(), 3, 3);
  EXPECT_EQ(form->GoExecutes, 1);
  EXPECT_EQ(act->ActionComponent(), nullptr);  // only set while executing
  itemGo->Click();
  EXPECT_EQ(form->GoExecutes, 2);
  act->SetEnabled(false);
  itemGo->Click();
  EXPECT_EQ(form->GoExecutes, 2);
}

TEST_F(ActionFixture, ProcessMessagesRunsTheUpdatePassOnceForVisibleForms) {
  Application->ProcessMessages();
  EXPECT_EQ(form->GoUpdates, 0);  // hidden forms are not updated
  form->Show();
  form->GoUpdates = 0;
  Application->ProcessMessages();
  // Once per pass although both the list and the linked control ask.
  EXPECT_EQ(form->GoUpdates, 1);
  form->GoEnabled = false;
  Application->ProcessMessages();
  EXPECT_FALSE(act->Enabled());
  EXPECT_FALSE(go->Enabled());
}

TEST_F(ActionFixture, IdleStepUpdatesActionsWhenTheQueueRunsDry) {
  form->Show();
  PumpFor(30);
  Application->ProcessMessages();
  form->GoUpdates = 0;
  // Nothing queued: HandleMessage runs the idle step, then waits for the
  // timer's message.
  UINT_PTR t = SetTimer(nullptr, 0, 30, nullptr);
  Application->HandleMessage();
  KillTimer(nullptr, t);
  EXPECT_EQ(form->GoUpdates, 1);
}

TEST_F(ActionFixture, FreeingTheActionUnlinksItsClients) {
  Free(act);
  EXPECT_EQ(go->Action(), nullptr);
  EXPECT_EQ(itemGo->Action(), nullptr);
  Click(go->Handle(), 3, 3);  // nothing to run, nothing to crash
  EXPECT_EQ(form->GoExecutes, 0);
}

TEST_F(ActionFixture, PopupMenuFindsItsDefaultItem) {
  ASSERT_NE(popup, nullptr);
  EXPECT_TRUE(popup->AutoPopup());
  TMenuItem* def = popup->Items()->DefaultItem();
  ASSERT_NE(def, nullptr);
  EXPECT_EQ(def->Name(), "ItemDefault");
  EXPECT_EQ(popup->FindItem(itemGo->Command()), itemGo);
  EXPECT_TRUE(popup->DispatchCommand(itemGo->Command()));
  EXPECT_EQ(form->GoExecutes, 1);
  EXPECT_FALSE(popup->DispatchCommand(0x7FFF0));
}

TEST_F(ActionFixture, ContextPopupHandlerCanTakeTheRightClick) {
  form->Show();
  PumpFor(30);
  go->SetPopupMenu(popup);
  struct Taker : TObject {
    int calls = 0;
    TPoint at{};
    void Popup(TObject*, TPoint p, bool& handled) {
      ++calls;
      at = p;
      handled = true;
    }
  } taker;
  go->OnContextPopup = EventOf<&Taker::Popup>(&taker);
  POINT p{4, 6};
  ClientToScreen(go->Handle(), &p);
  SendMessageW(go->Handle(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(go->Handle()),
               MAKELPARAM(p.x, p.y));
  EXPECT_EQ(taker.calls, 1);
  EXPECT_EQ(taker.at.x, 4);
  EXPECT_EQ(taker.at.y, 6);
}

namespace {
int menuTicks = 0;
void CALLBACK DriveMenu(HWND, UINT, UINT_PTR id, DWORD) {
  ++menuTicks;
  HWND menu = FindWindowW(L"#32768", nullptr);
  if (menuTicks == 1 && menu) {
    // Second item, then Enter.
    PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);
  } else if (menuTicks > 20) {
    KillTimer(nullptr, id);
    EndMenu();  // never leave the test stuck in the menu loop
  }
}
}  // namespace

TEST_F(ActionFixture, PopupRunsTheChosenItem) {
  form->Show();
  PumpFor(30);
  struct Picked : TObject {
    int opens = 0, popups = 0;
    void Open(TObject*) { ++opens; }
    void Popup(TObject*) { ++popups; }
  } picked;
  TMenuItem* open = popup->Items()->Items(1);
  open->OnClick = EventOf<&Picked::Open>(&picked);
  popup->OnPopup = EventOf<&Picked::Popup>(&picked);
  menuTicks = 0;
  UINT_PTR t = SetTimer(nullptr, 0, 100, &DriveMenu);
  popup->Popup(150, 150);
  KillTimer(nullptr, t);
  EXPECT_EQ(picked.popups, 1);
  EXPECT_EQ(picked.opens, 1);
  EXPECT_EQ(form->GoExecutes, 0);
}

TEST(Menu, ItemsRadioGroupsAndHotkeys) {
  struct Case {
    const char16_t* in;
    const char16_t* out;
  } cases[] = {{u"&Open", u"Open"},
               {u"Save &As", u"Save As"},
               {u"A&&B", u"A&B"},
               {u"plain", u"plain"},
               {u"&", u""}};
  for (const Case& c : cases) EXPECT_EQ(StripHotkey(c.in), c.out);
  EXPECT_TRUE(IsAccel('o', u"&Open"));
  EXPECT_FALSE(IsAccel('b', u"A&&B"));

  TPopupMenu* menu = New<TPopupMenu>(nullptr);
  TMenuItem* a = New<TMenuItem>(nullptr);
  TMenuItem* b = New<TMenuItem>(nullptr);
  a->SetRadioItem(true);
  b->SetRadioItem(true);
  menu->Items()->Add(a);
  menu->Items()->Add(b);
  a->SetChecked(true);
  b->SetChecked(true);
  EXPECT_FALSE(a->Checked());
  b->SetAutoCheck(true);
  b->SetRadioItem(false);
  b->Click();
  EXPECT_FALSE(b->Checked());
  EXPECT_EQ(menu->Items()->Count(), 2);
  HMENU h = menu->Handle();
  EXPECT_EQ(GetMenuItemCount(h), 2);
  Free(b);  // leaves its parent
  EXPECT_EQ(menu->Items()->Count(), 1);
  menu->Items()->Clear();
  EXPECT_EQ(menu->Items()->Count(), 0);
  EXPECT_THROW(menu->Items()->Items(0), EMenuError);
  Free(menu);
}

}  // namespace
}  // namespace kelm::test
