// The main window over the engine hosted in this process on a disk image:
// its stored form, creation with and without the engine, and the refresh
// that rebuilds the snapshot list, checked through the tree's node data and
// cell texts. Answers the engine never gives come from the hosted device's
// answer hook; boxes, the tray and the filter library go through their
// replaceable entries.
#include <windows.h>

#include <gtest/gtest.h>

#include "scene/sg_control_action.h"  // first: it undoes the Win32 FindResource macro

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/kelm_startup.h"
#include "app/unit_snapshot.h"
#include "classlib/actions.h"
#include "classlib/codepage.h"
#include "classlib/datetime.h"
#include "classlib/dialogs.h"
#include "classlib/forms.h"
#include "classlib/imglist.h"
#include "classlib/menus.h"
#include "classlib/timers.h"
#include "kit/kt_page_control.h"
#include "kit/tray_icon.h"
#include "kit/tray_icon_record.h"
#include "link/engine_records.h"
#include "link/fs_filter.h"
#include "link/hosted_engine_device.h"
#include "link/system_helpers.h"
#include "message_pump.h"
#include "scene/sg_canvas_gdiplus.h"
#include "scene/sg_objects.h"
#include "scene/sg_scene.h"
#include "scene/sg_style.h"
#include "scenectrls/sg_buttons.h"
#include "scenectrls/sg_check_boxes.h"
#include "hosted_engine_fixture.h"

namespace kelm::app {
namespace {

using classlib::New;

// ---- boxes, balloons and the filter service, recorded
struct Box {
  HWND owner;
  std::u16string text, caption;
  UINT flags;
};
std::vector<Box> boxes;
int RecordBox(HWND owner, const std::u16string& text, const std::u16string& caption, UINT flags) {
  boxes.push_back({owner, text, caption, flags});
  return IDOK;
}

struct Balloon {
  std::string title, text;
  DWORD flags;
};
std::vector<Balloon> balloons;
BOOL RecordTray(DWORD, kit::TNotifyIconDataA* data) {
  if ((data->uFlags & kit::kNifInfo) && data->szInfo[0])
    balloons.push_back({data->szInfoTitle, data->szInfo, data->dwInfoFlags});
  return TRUE;
}

struct FilterService {
  int connects = 0, sends = 0;
  HRESULT sendAnswer = S_OK;
} service;
// The port is a file opened for overlapped use, so the client can attach
// its completion port as it does to the service's.
HRESULT WINAPI FakeConnect(LPCWSTR, DWORD, LPCVOID, WORD, LPSECURITY_ATTRIBUTES, HANDLE* port) {
  ++service.connects;
  wchar_t dir[MAX_PATH], file[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  GetTempFileNameW(dir, L"prt", 0, file);
  *port = CreateFileW(file, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                      FILE_FLAG_OVERLAPPED | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  return S_OK;
}
HRESULT WINAPI FakeSend(HANDLE, LPVOID, DWORD, LPVOID, DWORD, LPDWORD) {
  ++service.sends;
  if (FAILED(service.sendAnswer)) SetLastError(ERROR_GEN_FAILURE);
  return service.sendAnswer;
}
const link::TFltLib kFakeFltLib{FakeConnect, FakeSend};

// ---- the answer hook: one alteration at a time, and a count of writes
struct Alteration {
  bool mode = false;
  uint32_t engineMode = 0;
  bool space = false;
  uint32_t freeSectors = 0, totalSectors = 0;
  bool count = false;
  uint8_t snapshotCount = 0;
  int headerWrites = 0;
} alter;
void AlterAnswer(uint32_t code, void* out, uint32_t) {
  if (code == link::IOCTL_ENGINE_QUERY_STATUS) {
    auto* status = static_cast<link::EngineStatus*>(out);
    if (alter.mode) status->EngineMode = alter.engineMode;
    if (alter.space) {
      status->FreeSectors = alter.freeSectors;
      status->TotalSectors = alter.totalSectors;
    }
  } else if (code == link::IOCTL_ENGINE_READ_HEADER && alter.count) {
    static_cast<link::EngineHeader*>(out)->SnapshotCount = alter.snapshotCount;
  } else if (code == link::IOCTL_ENGINE_WRITE_HEADER) {
    ++alter.headerWrites;
  }
}

class Environment : public ::testing::Environment {
 public:
  void SetUp() override {
    RegisterManagerClasses();
    scene::sgStartupScene();
    classlib::Application->Initialize();
    classlib::SetMessageBoxFunc(RecordBox);
    kit::SetShellNotifyIconFunc(RecordTray);
    link::SetFltLib(&kFakeFltLib);
    link::SetHostedAnswerHook(AlterAnswer);
  }
};
[[maybe_unused]] const auto* const g_env = ::testing::AddGlobalTestEnvironment(new Environment);

// One row of the list as the tree holds it.
struct Row {
  uint32_t number;
  uint32_t image;
  bool current, target;
  std::u16string texts[4];
};

class ManagerWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    boxes.clear();
    balloons.clear();
    service = {};
    alter = {};
  }
  void TearDown() override {
    if (form) classlib::Free(form);
    EXPECT_EQ(LiveNodeStrings(), 0) << "node strings outlived the form";
    if (hosted) {
      EXPECT_EQ(test::StopHostedEngine(), "");
    }
    test::DropHostedEngine();
  }
  void Boot() {
    ASSERT_TRUE(test::StartHostedEngine());
    hosted = true;
    handle = link::OpenEngineDevice();
  }
  void Open() { form = New<TfrmManager>(classlib::Application); }
  std::vector<Row> Rows() {
    std::vector<Row> rows;
    TLazyStringTree* tree = form->SnapshotTree;
    for (PLazyNode n = tree->GetFirst(); n; n = tree->GetNext(n)) {
      const auto* d = static_cast<const SnapshotNode*>(tree->GetNodeData(n));
      Row r{d->Number, d->ImageIndex, d->IsCurrent != 0, d->IsRollbackTarget != 0, {}};
      for (int c = 0; c < 4; ++c) {
        r.texts[c] = tree->GetText(n, c);
      }
      rows.push_back(r);
    }
    return rows;
  }
  std::vector<PLazyNode> Nodes() {
    std::vector<PLazyNode> nodes;
    for (PLazyNode n = form->SnapshotTree->GetFirst(); n; n = form->SnapshotTree->GetNext(n))
      nodes.push_back(n);
    return nodes;
  }
  void Create(const std::u16string& name, const std::u16string& remark) {
    ASSERT_TRUE(link::CreateSnapshot(handle, u'C', name, remark));
  }
  link::EngineHeader ImageHeader() {
    auto header = std::make_unique<link::EngineHeader>();
    EXPECT_TRUE(test::ReadHeaderOnImage(header.get()));
    return *header;
  }
  static std::u16string DateOf(const link::RecordTime& t) {
    const classlib::TSystemTime st{t.Year, t.Month,  t.DayOfWeek, t.Day,
                                   t.Hour, t.Minute, t.Second,    t.Milliseconds};
    return classlib::DateTimeToStr(classlib::SystemTimeToDateTime(st));
  }

  bool hosted = false;
  link::EngineHandle handle = link::InvalidEngineHandle();
  TfrmManager* form = nullptr;
};

TEST_F(ManagerWindow, TheStoredFormHoldsEveryComponentOfTheWindow) {
  Open();
  struct Part {
    const char* name;
    classlib::TClass cls;
  } const parts[] = {
      {"sgSceneTop", scene::TsgScene::StaticClass()},
      {"rgtTop", scene::TsgRectangle::StaticClass()},
      {"btnMin", scene::TsgImage::StaticClass()},
      {"btnClose", scene::TsgImage::StaticClass()},
      {"PageMain", kit::TKtPageControl::StaticClass()},
      {"TabSnapshot", kit::TKtTabSheet::StaticClass()},
      {"sgSceneSnapshotTop", scene::TsgScene::StaticClass()},
      {"lblProtectOnOff", scene::TsgText::StaticClass()},
      {"lblResource", scene::TsgText::StaticClass()},
      {"btnFastProtect", scenectrls::TsgButton::StaticClass()},
      {"SnapshotTree", TLazyStringTree::StaticClass()},
      {"sgSceneSnapshotBottom", scene::TsgScene::StaticClass()},
      {"chkSchedule", scenectrls::TsgCheckBox::StaticClass()},
      {"btnCreateSnapshot", scenectrls::TsgButton::StaticClass()},
      {"btn", scenectrls::TsgButton::StaticClass()},
      {"Button3", scenectrls::TsgButton::StaticClass()},
      {"sgSceneBottom", scene::TsgScene::StaticClass()},
      {"txtInfo", scene::TsgText::StaticClass()},
      {"Text4", scene::TsgText::StaticClass()},
      {"ActionListMain", classlib::TActionList::StaticClass()},
      {"ImageList32", classlib::TImageList::StaticClass()},
      {"ImageListTray", classlib::TImageList::StaticClass()},
      {"TrayIcon", kit::TTrayIcon::StaticClass()},
      {"PopupTop", classlib::TPopupMenu::StaticClass()},
      {"PopSnapshot", classlib::TPopupMenu::StaticClass()},
      {"tmrRefresh", classlib::TTimer::StaticClass()},
      {"sgResources1", scene::TsgResources::StaticClass()},
  };
  for (const Part& p : parts) {
    classlib::TComponent* c = form->FindComponent(p.name);
    ASSERT_NE(c, nullptr) << p.name;
    EXPECT_TRUE(c->InheritsFrom(p.cls)) << p.name;
  }
  EXPECT_EQ(form->ClientWidth(), 785);
  EXPECT_EQ(form->ClientHeight(), 520);
  EXPECT_EQ(form->Color(), static_cast<classlib::TColor>(0x418C00));
  EXPECT_EQ(form->Caption(), u"Quorvel Varnholt");
  EXPECT_EQ(classlib::Application->Title(), u"Quorvel Varnholt");
  // The page control as the manager has it: one page, its tab hidden.
  EXPECT_EQ(form->PageMain->PageCount(), 1);
  EXPECT_EQ(form->PageMain->ActivePageIndex(), 0);
  EXPECT_FALSE(form->PageMain->ShowFullFrame());
  EXPECT_FALSE(form->PageMain->Pages(0)->TabVisible());
  // The tray and the timer.
  EXPECT_TRUE(form->TrayIcon->IconVisible());
  EXPECT_EQ(form->TrayIcon->Hint(), u"Quorvel Varnholt");
  EXPECT_TRUE(form->TrayIcon->MinimizeToTray());
  EXPECT_EQ(form->tmrRefresh->Interval(), 10000u);
  // The texts ApplyLanguage sets.
  EXPECT_EQ(form->chkSchedule->Text(), u"Take a snapshot every hour");
  const char16_t* columns[] = {u"Node", u"Create Time", u"Name", u"remarks"};
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(form->SnapshotTree->HeaderObject()->Columns()->Items(i)->Text(), columns[i]);
  EXPECT_EQ(static_cast<scene::TsgText*>(form->FindComponent("txtInfo"))->Text(), u"Feedback");
  struct Caption {
    const char* action;
    const char16_t* text;
  } const captions[] = {{"ActCreateSnapshot", u"Create New snapshot"},
                        {"ActDeleteSnapshot", u"Remove Selected"},
                        {"ActRollbackSnapshot", u"Revert my system to selected"},
                        {"actFastProtect", u"Start Glaswint"},
                        {"ActShow", u"Show Program"},
                        {"ActExit", u"Exit"}};
  for (const Caption& c : captions)
    EXPECT_EQ(static_cast<classlib::TAction*>(form->FindComponent(c.action))->Caption(), c.text);
  EXPECT_EQ(static_cast<scenectrls::TsgButton*>(form->FindComponent("btn"))->Text(),
            u"Remove Selected");
  EXPECT_EQ(static_cast<classlib::TMenuItem*>(form->FindComponent("Quit1"))->Caption(), u"Exit");
}

TEST_F(ManagerWindow, WithoutTheEngineCreationWarnsWithoutOwnerAndGoesOn) {
  Open();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].owner, nullptr) << "the window is hidden at creation";
  EXPECT_EQ(boxes[0].text.rfind(u"Connect Error:", 0), 0u);
  EXPECT_NE(boxes[0].text.find(u"\r\nIf you did not install the product"), std::u16string::npos);
  EXPECT_EQ(boxes[0].caption, u"Warning");
  EXPECT_EQ(boxes[0].flags, static_cast<UINT>(MB_TOPMOST | MB_SYSTEMMODAL | MB_ICONWARNING));
  EXPECT_EQ(form->State.EngineHandle, link::InvalidEngineHandle());
  EXPECT_EQ(form->lblProtectOnOff->Text(), u"Snapshot Engine is not working");
  // Every later refresh answers with a balloon.
  form->RefreshSnapshots();
  ASSERT_EQ(balloons.size(), 1u);
  EXPECT_EQ(balloons[0].title, "Warning");
  EXPECT_EQ(balloons[0].text, "The engine does not work right now");
  EXPECT_EQ(balloons[0].flags, 1u) << "the information icon";
}

TEST_F(ManagerWindow, BoxesAreOwnedByTheShownWindowAndTopmostWithoutItWhileHidden) {
  Open();
  boxes.clear();
  form->InfoBox(u"i");
  form->Show();
  form->WarningBox(u"w");
  EXPECT_TRUE(form->ConfirmBox(u"c"));
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].owner, nullptr);
  EXPECT_EQ(boxes[0].caption, u"Tips");
  EXPECT_EQ(boxes[0].flags, static_cast<UINT>(MB_TOPMOST | MB_SYSTEMMODAL | MB_ICONINFORMATION));
  EXPECT_EQ(boxes[1].owner, form->Handle());
  EXPECT_EQ(boxes[1].flags, static_cast<UINT>(MB_ICONWARNING));
  EXPECT_EQ(boxes[2].owner, form->Handle());
  EXPECT_EQ(boxes[2].caption, u"Tips");
  EXPECT_EQ(boxes[2].flags, static_cast<UINT>(MB_OKCANCEL | MB_ICONQUESTION));
  form->Hide();
}

TEST_F(ManagerWindow, RefreshBuildsTheListFromTheEngine) {
  Boot();
  Open();
  EXPECT_TRUE(boxes.empty());
  EXPECT_TRUE(Rows().empty()) << "no snapshot: no row";
  EXPECT_EQ(form->lblProtectOnOff->Text(), u"Snapshot Engine is not working");

  // One: the current state only.
  Create(u"", u"first");
  form->RefreshSnapshots();
  link::EngineHeader h = ImageHeader();
  std::vector<Row> rows = Rows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].number, 1u);
  EXPECT_EQ(rows[0].image, 2u);
  EXPECT_TRUE(rows[0].current);
  EXPECT_EQ(rows[0].texts[0], u"1");
  EXPECT_EQ(rows[0].texts[1], DateOf(h.NewestSnapshot.CreateTime));
  EXPECT_EQ(rows[0].texts[2], u"New Snapshot");
  EXPECT_EQ(rows[0].texts[3], u"first");
  EXPECT_EQ(form->lblProtectOnOff->Text(), u"Snapshot Engine is working now");
  EXPECT_EQ(form->State.KnownSnapshotCount, 1u);

  // Three, with a rollback to 2 pending.
  Create(u"second", u"");
  Create(u"third", u"r3");
  link::SnapshotSlot second{};
  for (const link::SnapshotSlot& slot : ImageHeader().Slots) {
    if (slot.Used == 1 && slot.Number == 2) second = slot;
  }
  ASSERT_EQ(second.Number, 2);
  ASSERT_TRUE(link::SetRollbackTarget(handle, u'C', second, false));
  form->RefreshSnapshots();
  h = ImageHeader();
  rows = Rows();
  ASSERT_EQ(rows.size(), 3u);
  const uint32_t images[] = {1, 1, 2};
  const char16_t* names[] = {u"New Snapshot", u"second", u"third"};
  for (uint32_t i = 0; i < 3; ++i) {
    EXPECT_EQ(rows[i].number, i + 1);
    EXPECT_EQ(rows[i].image, images[i]);
    EXPECT_EQ(rows[i].target, i == 1) << i;
    EXPECT_EQ(rows[i].current, i == 2) << i;
    EXPECT_EQ(rows[i].texts[0], classlib::IntToStr(static_cast<int64_t>(i + 1)));
    EXPECT_EQ(rows[i].texts[2], names[i]);
  }
  EXPECT_EQ(rows[2].texts[3], u"r3");
  EXPECT_EQ(rows[2].texts[1], DateOf(h.NewestSnapshot.CreateTime));
  EXPECT_TRUE(form->State.RollbackPendingFlag);
  // Static text is empty; the image only in column 0 or without a column.
  EXPECT_EQ(form->SnapshotTree->GetText(Nodes()[0], 0), u"1");
  std::u16string staticText = u"x";
  form->SnapshotTreeGetText(form->SnapshotTree, Nodes()[0], 0, lazytree::ttStatic, staticText);
  EXPECT_EQ(staticText, u"");
  struct ImageCase {
    lazytree::TLTImageKind kind;
    TColumnIndex column;
    int expected;
  } const imageCases[] = {{lazytree::ikNormal, 0, 2},
                          {lazytree::ikSelected, -1, 2},
                          {lazytree::ikNormal, 1, -7},
                          {lazytree::ikState, 0, -7},
                          {lazytree::ikOverlay, 0, -7}};
  for (const ImageCase& c : imageCases) {
    int index = -7;
    bool ghosted = false;
    classlib::TCustomImageList* list = nullptr;
    form->SnapshotTreeGetImageIndexEx(form->SnapshotTree, Nodes()[2], c.kind, c.column, ghosted,
                                      index, list);
    EXPECT_EQ(index, c.expected) << static_cast<int>(c.kind) << " " << c.column;
  }

  // A deleted snapshot's row goes. The engine numbers the rest 1 to
  // count again; each number keeps its row, and the row of the number no
  // longer there goes.
  ASSERT_TRUE(link::SetRollbackTarget(handle, u'C', second, true));
  const std::vector<PLazyNode> before = Nodes();
  ASSERT_TRUE(link::DeleteSnapshot(handle, u'C', 1));
  form->RefreshSnapshots();
  rows = Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].number, 1u);
  EXPECT_EQ(rows[0].texts[2], u"second");
  EXPECT_EQ(rows[0].image, 1u);
  EXPECT_EQ(rows[1].number, 2u);
  EXPECT_EQ(rows[1].texts[2], u"third");
  EXPECT_TRUE(rows[1].current);
  EXPECT_EQ(rows[1].image, 2u);
  EXPECT_EQ(Nodes(), (std::vector<PLazyNode>{before[0], before[1]}));
  EXPECT_FALSE(rows[0].target) << "the rollback was cancelled";
  EXPECT_FALSE(form->State.RollbackPendingFlag);
  EXPECT_EQ(LiveNodeStrings(), 4);
}

TEST_F(ManagerWindow, StatusLabelsAndTheSpaceLineFollowTheStatusAnswer) {
  Boot();
  Open();
  Create(u"", u"");
  alter.mode = true;
  struct Case {
    uint32_t mode;
    const char16_t* label;  // after the labels of modes 1 then this
  } const modes[] = {{0, u"Snapshot Engine is not working"},
                     {1, u"Snapshot Engine is working now"},
                     {2, u"Glaswint is working now"},
                     {3, u"Glaswint is working now"},  // unknown: the last text stays
                     {7, u"Glaswint is working now"}};
  for (const Case& c : modes) {
    alter.engineMode = c.mode;
    form->RefreshSnapshots();
    EXPECT_EQ(form->lblProtectOnOff->Text(), c.label) << c.mode;
  }
  EXPECT_TRUE(form->State.TemporaryModeFlag);
  alter.engineMode = 1;
  form->RefreshSnapshots();
  EXPECT_TRUE(form->State.TemporaryModeFlag) << "never cleared";
  alter.mode = false;

  alter.space = true;
  struct Space {
    uint32_t freeSectors, totalSectors;
    const char16_t* line;
  } const spaces[] = {
      {2048 * 10, 2048 * 30, u"Cache used: 20 MB - Total Cache: 30 MB"},
      {2048 * 10 + 2047, 2048 * 30 + 2047, u"Cache used: 20 MB - Total Cache: 30 MB"},
      {0, 0xFFFFFFFFu, u"Cache used: 2097151 MB - Total Cache: 2097151 MB"},
      {2048 * 40, 2048 * 30, u"Cache used: 0 MB - Total Cache: 30 MB"},  // free above total
      {5, 0, u""},
  };
  for (const Space& s : spaces) {
    alter.freeSectors = s.freeSectors;
    alter.totalSectors = s.totalSectors;
    form->RefreshSnapshots();
    EXPECT_EQ(form->lblResource->Text(), s.line) << s.freeSectors << "/" << s.totalSectors;
  }
  alter.space = false;
  // The engine's own answer with no snapshot space used yet still shows.
  form->RefreshSnapshots();
  EXPECT_EQ(form->lblResource->Text().rfind(u"Cache used: ", 0), 0u);
}

TEST_F(ManagerWindow, AnInvalidCreationTimeShowsUnknown) {
  Boot();
  Open();
  Create(u"", u"");
  link::RecordTime bad = link::LocalRecordTime();
  bad.Month = 13;
  link::VolumeRequest request =
      link::MakeCreateRequest(u'C', u"raw", u"", bad, link::NewRecordGuid());
  link::SendEngineRequest(handle, link::IOCTL_ENGINE_CREATE_SNAPSHOT, &request, sizeof request,
                          nullptr, 0, u"Create Error:%s");
  ASSERT_EQ(ImageHeader().NewestSnapshot.CreateTime.Month, 13) << "the engine keeps the time";
  form->RefreshSnapshots();
  const std::vector<Row> rows = Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].texts[1], u"Unknown");
  EXPECT_EQ(rows[1].texts[2], u"raw");
  EXPECT_NE(rows[0].texts[1], u"Unknown");
}

TEST_F(ManagerWindow, TheScheduleBoxFollowsTheHeaderWithoutWritingIt) {
  Boot();
  Open();
  Create(u"", u"");
  for (const bool on : {true, false, true}) {
    link::EngineHeader h = ImageHeader();
    h.HourlySchedule = on ? 1 : 0;
    ASSERT_TRUE(link::WriteEngineHeader(handle, u'C', h));
    alter.headerWrites = 0;
    form->RefreshSnapshots();
    EXPECT_EQ(form->chkSchedule->IsChecked(), on);
    EXPECT_EQ(alter.headerWrites, 0) << "the box's handler fired";
    EXPECT_TRUE(form->chkSchedule->OnChange) << "the handler is attached again";
  }
  // The user's own toggle writes the header.
  form->chkSchedule->SetIsChecked(false);
  EXPECT_EQ(alter.headerWrites, 1);
  EXPECT_EQ(ImageHeader().HourlySchedule, 0);
}

TEST_F(ManagerWindow, AStoppedEngineGivesAWarningBalloonAndLeavesTheList) {
  Boot();
  Open();
  Create(u"a", u"");
  Create(u"b", u"");
  form->RefreshSnapshots();
  const std::vector<PLazyNode> before = Nodes();
  const std::u16string label = form->lblProtectOnOff->Text();
  ASSERT_EQ(test::StopHostedEngine(), "");
  form->RefreshSnapshots();
  ASSERT_EQ(balloons.size(), 1u);
  EXPECT_EQ(balloons[0].title, "Warning");
  EXPECT_EQ(balloons[0].text.rfind("Fail to get the version :", 0), 0u) << balloons[0].text;
  EXPECT_EQ(Nodes(), before);
  EXPECT_EQ(form->lblProtectOnOff->Text(), label);
  EXPECT_TRUE(boxes.empty());
  hosted = false;
}

TEST_F(ManagerWindow, TheFilterNoticeGoesWhenTheCountLeavesZeroAndAgainAfterItReturns) {
  Boot();
  Open();
  form->RefreshSnapshots();
  EXPECT_EQ(service.sends, 0) << "no snapshot: no notice";
  Create(u"", u"");
  form->RefreshSnapshots();
  EXPECT_EQ(service.sends, 1);
  form->RefreshSnapshots();
  Create(u"", u"");
  form->RefreshSnapshots();
  EXPECT_EQ(service.sends, 1) << "once while snapshots exist";
  // The count back at 0: every row goes with its strings.
  alter.count = true;
  alter.snapshotCount = 0;
  form->RefreshSnapshots();
  EXPECT_TRUE(Rows().empty());
  EXPECT_EQ(LiveNodeStrings(), 0);
  alter.count = false;
  // A failed send: no box, and the next notice connects afresh.
  service.sendAnswer = E_FAIL;
  form->RefreshSnapshots();
  EXPECT_EQ(service.sends, 2);
  EXPECT_TRUE(boxes.empty());
  EXPECT_TRUE(balloons.empty()) << "the refresh went on";
  EXPECT_EQ(Rows().size(), 2u);
  EXPECT_FALSE(link::FsFilterConnected());
  service.sendAnswer = S_OK;
  alter.count = true;
  form->RefreshSnapshots();
  alter.count = false;
  form->RefreshSnapshots();
  EXPECT_EQ(service.sends, 3);
  EXPECT_EQ(service.connects, 3);
}

TEST_F(ManagerWindow, ShowingStacksTheAreasInsideTheFrame) {
  Boot();
  Open();
  form->Show();
  test::PumpFor(50);
  EXPECT_EQ(form->sgSceneTop->Left(), 1);
  EXPECT_EQ(form->sgSceneTop->Top(), 1);
  EXPECT_EQ(form->sgSceneTop->Width(), form->Width() - 2);
  EXPECT_EQ(form->PageMain->Left(), 1);
  EXPECT_EQ(form->PageMain->Top(), form->sgSceneTop->Height() - 1);
  EXPECT_EQ(form->PageMain->Width(), form->Width() - 2);
  EXPECT_EQ(form->sgSceneBottom->Top(), form->PageMain->Top() + form->PageMain->Height());
  EXPECT_EQ(form->sgSceneBottom->Width(), form->Width() - 2);
  form->Hide();
}

// The screen's pixel at a client point of a window.
COLORREF ScreenPixel(HWND wnd, int x, int y) {
  POINT p{x, y};
  ClientToScreen(wnd, &p);
  HDC screen = GetDC(nullptr);
  const COLORREF c = GetPixel(screen, p.x, p.y);
  ReleaseDC(nullptr, screen);
  return c;
}

TEST_F(ManagerWindow, TheShownWindowDrawsItsFrameAndThePagesTopLine) {
  Boot();
  Open();
  form->Show();
  ASSERT_TRUE(test::PumpUntil([&] { return IsWindowVisible(form->Handle()) != FALSE; }));
  test::PumpFor(200);
  HWND wnd = form->Handle();
  const COLORREF frame = RGB(0x00, 0x8C, 0x41);  // the form colour 0x418C00
  // The one-pixel frame round the three areas: left, right and bottom edges.
  EXPECT_EQ(ScreenPixel(wnd, 0, 300), frame);
  EXPECT_EQ(ScreenPixel(wnd, form->ClientWidth() - 1, 300), frame);
  EXPECT_EQ(ScreenPixel(wnd, 400, form->ClientHeight() - 1), frame);
  // The page's top line, with white below it where no child covers the page.
  HWND page = form->PageMain->Handle();
  const COLORREF line = ScreenPixel(page, 5, 0);
  EXPECT_NE(line, RGB(255, 255, 255));
  EXPECT_EQ(ScreenPixel(page, 400, 0), line);
  EXPECT_EQ(ScreenPixel(page, 5, 70), RGB(255, 255, 255)) << "the white page beside the tree";
  form->Hide();
}

TEST_F(ManagerWindow, MovingWithTheLeftButtonOverTheFormOrTitleBarAsksTheSystemToMove) {
  Open();
  form->Show();
  // What reaches the window, held back from the system's move loop.
  std::vector<std::pair<WPARAM, LPARAM>> commands;
  auto previous = form->WindowProc;
  form->WindowProc = [&](classlib::TMessage& m) {
    if (m.Msg == WM_SYSCOMMAND) {
      commands.emplace_back(m.WParam, m.LParam);
      return;
    }
    previous(m);
  };
  const classlib::TShiftState left{classlib::ssLeft}, none{};
  form->FormMouseMove(form, none, 5, 5);
  form->rgtTopMouseMove(form, none, 5, 5, 1, 1);
  EXPECT_TRUE(commands.empty()) << "no button: no move";
  form->FormMouseMove(form, left, 5, 5);
  form->rgtTopMouseMove(form, left, 5, 5, 1, 1);
  ASSERT_EQ(commands.size(), 2u);
  for (const auto& [w, l] : commands) {
    EXPECT_EQ(w, 0xF011u);
    EXPECT_EQ(l, 0);
  }
  form->WindowProc = previous;
  form->Hide();
}

}  // namespace
}  // namespace kelm::app
