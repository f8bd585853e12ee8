// The main window: creation, layout, texts, message boxes, the refresh that
// rebuilds the snapshot list from the engine, and the list's callbacks.
#include "app/unit_snapshot.h"

#include "scene/sg_control_action.h"  // first: it undoes the Win32 FindResource macro

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>

#include "classlib/actions.h"
#include "classlib/classdef.h"
#include "classlib/codepage.h"
#include "classlib/datetime.h"
#include "classlib/dialogs.h"
#include "classlib/imglist.h"
#include "classlib/menus.h"
#include "classlib/sysutils.h"
#include "classlib/timers.h"
#include "kit/kt_page_control.h"
#include "kit/tray_icon.h"
#include "link/fs_filter.h"
#include "link/system_helpers.h"
#include "scene/sg_objects.h"
#include "scene/sg_scene.h"
#include "scenectrls/sg_buttons.h"
#include "scenectrls/sg_check_boxes.h"
#include "scenectrls/sg_registration.h"
#include "texts/unit_language.h"

namespace kelm::app {
namespace {

using classlib::TObject;
using texts::LangText;

// Fixed in the code, not taken from the table.
constexpr char16_t kCaption[] = u"Quorvel Varnholt";
constexpr char16_t kUnknownTime[] = u"Unknown";
constexpr char16_t kBalloonTitle[] = u"Warning";
constexpr char16_t kMakerHomePage[] = u"http://www.quorvel.com/";
constexpr int32_t kSnapshotNodeBytes = 152;
constexpr uint16_t kSlotSignature = 0xAA55;
constexpr int kFrame = 1;  // the form colour shows as a frame this wide

int g_liveNodeStrings = 0;

// The date text of a slot's creation time; "Unknown" when the time is no
// valid date.
std::u16string DateText(const link::RecordTime& t) {
  classlib::TSystemTime st;
  st.wYear = t.Year;
  st.wMonth = t.Month;
  st.wDayOfWeek = t.DayOfWeek;
  st.wDay = t.Day;
  st.wHour = t.Hour;
  st.wMinute = t.Minute;
  st.wSecond = t.Second;
  st.wMilliseconds = t.Milliseconds;
  classlib::TDateTime dt = 0;
  if (!classlib::TrySystemTimeToDateTime(st, dt)) return kUnknownTime;
  return classlib::DateTimeToStr(dt);
}

// An ANSI field up to its first NUL, through a zeroed buffer so a field
// without its NUL still ends.
template <size_t N>
std::u16string FieldText(const char (&field)[N]) {
  char buffer[128] = {};
  static_assert(N < sizeof buffer, "the buffer keeps a NUL after the field");
  std::memcpy(buffer, field, N);
  return classlib::AnsiToWide(buffer);
}

template <class T>
T* Find(classlib::TComponent* owner, const char* name) {
  return dynamic_cast<T*>(owner->FindComponent(name));
}

}  // namespace

TNodeString NewNodeString(std::u16string text) {
  ++g_liveNodeStrings;
  return new std::u16string(std::move(text));
}

void FreeNodeString(TNodeString& s) {
  if (!s) return;
  delete s;
  s = nullptr;
  --g_liveNodeStrings;
}

int LiveNodeStrings() { return g_liveNodeStrings; }

CL_CLASS(TfrmManager) {
  c.Method<&TfrmManager::FormCreate>("FormCreate");
  c.Method<&TfrmManager::FormShow>("FormShow");
  c.Method<&TfrmManager::FormMouseMove>("FormMouseMove");
  c.Method<&TfrmManager::rgtTopMouseMove>("rgtTopMouseMove");
  c.Method<&TfrmManager::SnapshotTreeGetNodeDataSize>("SnapshotTreeGetNodeDataSize");
  c.Method<&TfrmManager::SnapshotTreeGetText>("SnapshotTreeGetText");
  c.Method<&TfrmManager::SnapshotTreeGetImageIndexEx>("SnapshotTreeGetImageIndexEx");
  c.Method<&TfrmManager::SnapshotTreeFreeNode>("SnapshotTreeFreeNode");
  c.Method<&TfrmManager::chkScheduleChange>("chkScheduleChange");
  c.Method<&TfrmManager::tmrRefreshTimer>("tmrRefreshTimer");
  c.Method<&TfrmManager::TrayIconDblClick>("TrayIconDblClick");
  c.Method<&TfrmManager::btnMinClick>("btnMinClick");
  c.Method<&TfrmManager::btnCloseClick>("btnCloseClick");
  c.Method<&TfrmManager::txtInfoMouseUp>("txtInfoMouseUp");
  c.Method<&TfrmManager::ActShowExecute>("ActShowExecute");
  c.Method<&TfrmManager::ActExitExecute>("ActExitExecute");
}

TfrmManager::TfrmManager(classlib::TComponent* AOwner)
    : TForm(AOwner), header_(std::make_unique<link::EngineHeader>()) {
  std::memset(header_.get(), 0, sizeof(link::EngineHeader));
  // The stored form was read by TForm's construction; OnCreate has run.
}

TfrmManager::~TfrmManager() = default;

void TfrmManager::BeforeDestruction() {
  // The tree frees its nodes without events when it is destroyed: empty it
  // while the form can still free the nodes' strings.
  if (SnapshotTree) SnapshotTree->Clear();
  if (State.EngineHandle != link::InvalidEngineHandle())
    link::CloseEngineDevice(State.EngineHandle);
  State.EngineHandle = link::InvalidEngineHandle();
  TForm::BeforeDestruction();
}

void TfrmManager::FindComponents() {
  SnapshotTree = Find<TLazyStringTree>(this, "SnapshotTree");
  PageMain = Find<kit::TKtPageControl>(this, "PageMain");
  TrayIcon = Find<kit::TTrayIcon>(this, "TrayIcon");
  sgSceneTop = Find<scene::TsgScene>(this, "sgSceneTop");
  sgSceneBottom = Find<scene::TsgScene>(this, "sgSceneBottom");
  lblProtectOnOff = Find<scene::TsgText>(this, "lblProtectOnOff");
  lblResource = Find<scene::TsgText>(this, "lblResource");
  chkSchedule = Find<scenectrls::TsgCheckBox>(this, "chkSchedule");
  tmrRefresh = Find<classlib::TTimer>(this, "tmrRefresh");
}

void TfrmManager::FormCreate(TObject*) {
  FindComponents();
  SetCaption(kCaption);
  classlib::Application->SetTitle(Caption());
  TrayIcon->SetIconVisible(true);
  TrayIcon->SetHint(kCaption);
  PageMain->SetActivePageIndex(0);
  State.KnownSnapshotCount = 0;
  State.RollbackPendingFlag = State.BusyFlag = State.TemporaryModeFlag = false;
  lblProtectOnOff->SetText(LangText(texts::ltEngineNotWorking));
  try {
    std::u16string dir = classlib::WideUpperCase(link::GetSystemDir(true));
    if (!dir.empty()) State.SystemDrive = dir[0];
    State.EngineHandle = link::OpenEngineDevice();
    RefreshSnapshots();
  } catch (const classlib::Exception& e) {
    WarningBox(e.Message());
  }
  ApplyLanguage();
}

void TfrmManager::ApplyLanguage() {
  try {
    chkSchedule->SetText(LangText(texts::ltHourlySchedule));
    const std::pair<const char*, texts::TLangText> actions[] = {
        {"ActCreateSnapshot", texts::ltCreateAction},
        {"ActDeleteSnapshot", texts::ltDeleteAction},
        {"ActRollbackSnapshot", texts::ltRollbackAction},
        {"actFastProtect", texts::ltGlaswintAction},
        {"ActShow", texts::ltShowProgram},
        {"ActExit", texts::ltExit}};
    for (const auto& [name, id] : actions)
      Find<classlib::TAction>(this, name)->SetCaption(LangText(id));
    lblResource->SetText(u"");
    const texts::TLangText columns[] = {texts::ltColumnNode, texts::ltColumnCreateTime,
                                        texts::ltColumnName, texts::ltColumnRemarks};
    auto* cols = SnapshotTree->HeaderObject()->Columns();
    for (int i = 0; i < 4 && i < cols->Count(); ++i) cols->Items(i)->SetText(LangText(columns[i]));
    Find<scene::TsgText>(this, "txtInfo")->SetText(LangText(texts::ltFeedback));
  } catch (...) {
    // A stored caption stays: the window works without its texts.
  }
}

void TfrmManager::FormShow(TObject*) {
  // The three areas stacked inside the one-pixel frame.
  const int width = Width() - 2 * kFrame;
  sgSceneTop->SetBounds(kFrame, kFrame, width, sgSceneTop->Height());
  PageMain->SetBounds(kFrame, sgSceneTop->Height() - kFrame, width, PageMain->Height());
  sgSceneBottom->SetBounds(kFrame, PageMain->Top() + PageMain->Height(), width,
                           sgSceneBottom->Height());
}

void TfrmManager::FormMouseMove(TObject*, classlib::TShiftState shift, int, int) {
  if (!shift.Contains(classlib::ssLeft)) return;
  ReleaseCapture();
  SendMessageW(Handle(), WM_SYSCOMMAND, SC_MOVE + 1, 0);
}

void TfrmManager::rgtTopMouseMove(TObject* sender, classlib::TShiftState shift, float, float, float,
                                  float) {
  FormMouseMove(sender, shift, 0, 0);
}

int TfrmManager::Box(const std::u16string& text, const std::u16string& caption, UINT flags) {
  if (HandleAllocated() && IsWindowVisible(Handle()))
    return classlib::ShowMessageBox(Handle(), text, caption, flags);
  return classlib::ShowMessageBox(nullptr, text, caption, flags | MB_TOPMOST | MB_SYSTEMMODAL);
}

void TfrmManager::WarningBox(const std::u16string& text) {
  Box(text, LangText(texts::ltWarning), MB_ICONWARNING);
}

void TfrmManager::InfoBox(const std::u16string& text) {
  Box(text, LangText(texts::ltTips), MB_ICONINFORMATION);
}

bool TfrmManager::ConfirmBox(const std::u16string& text) {
  return Box(text, LangText(texts::ltTips), MB_OKCANCEL | MB_ICONQUESTION) == IDOK;
}

void TfrmManager::RefreshSnapshots() {
  try {
    if (State.EngineHandle == link::InvalidEngineHandle())
      throw classlib::Exception(LangText(texts::ltEngineNotRunning));
    link::EngineStatus status{};
    link::QueryEngineStatus(State.EngineHandle, State.SystemDrive, status);
    switch (status.EngineMode) {
      case 0:
        lblProtectOnOff->SetText(LangText(texts::ltEngineNotWorking));
        break;
      case 1:
        lblProtectOnOff->SetText(LangText(texts::ltEngineWorking));
        break;
      case 2:
        lblProtectOnOff->SetText(LangText(texts::ltGlaswintWorking));
        State.TemporaryModeFlag = true;
        break;
      default:
        break;  // an unknown mode keeps the last text
    }
    lblResource->SetText(u"");
    if (status.TotalSectors != 0) {
      // Free space above the total would wrap to thousands of gigabytes
      // used: nothing is used then.
      const uint32_t used =
          status.FreeSectors > status.TotalSectors ? 0 : status.TotalSectors - status.FreeSectors;
      const uint32_t usedMb = used >> 11;
      const uint32_t totalMb = status.TotalSectors >> 11;
      lblResource->SetText(classlib::Format(LangText(texts::ltSpaceLine), {usedMb, totalMb}));
    }
    link::ReadEngineHeader(State.EngineHandle, State.SystemDrive, *header_);
    const link::EngineHeader& header = *header_;
    SnapshotTree->SetTag(static_cast<int32_t>(GetTickCount()));
    if (State.KnownSnapshotCount == 0 && header.SnapshotCount > 0)
      link::NotifyFsFilterOfFirstSnapshot();
    State.KnownSnapshotCount = header.SnapshotCount;

    for (uint32_t n = 1; n + 1 <= header.SnapshotCount; ++n) {
      const int slot = FindSlotIndex(n);
      if (slot < 0) continue;
      PLazyNode node = FindNodeByNumber(n);
      if (!node) node = SnapshotTree->AddChild(nullptr);
      auto* data = static_cast<SnapshotNode*>(SnapshotTree->GetNodeData(node));
      if (!data) return;
      FillNode(*data, n, header.Slots[slot], 1);
    }
    if (header.SnapshotCount >= 1) {
      PLazyNode node = FindNodeByNumber(header.SnapshotCount);
      if (!node) node = SnapshotTree->AddChild(nullptr);
      auto* data = static_cast<SnapshotNode*>(SnapshotTree->GetNodeData(node));
      if (!data) return;
      FillNode(*data, header.SnapshotCount, header.NewestSnapshot, 2);
      data->Slot.Number = header.SnapshotCount;
    }
    State.RollbackPendingFlag = header.RollbackPending != 0;
    SnapshotTree->Refresh();
    RemoveStaleNodes();
    MarkNodeFlags();
    chkSchedule->OnChange = nullptr;
    chkSchedule->SetIsChecked(header.HourlySchedule != 0);
    chkSchedule->OnChange = classlib::EventOf<&TfrmManager::chkScheduleChange>(this);
  } catch (const classlib::Exception& e) {
    TrayIcon->ShowBalloonHint(kBalloonTitle, e.Message(), kit::bitInfo, 10);
  }
}

void TfrmManager::FillNode(SnapshotNode& data, uint32_t number, const link::SnapshotSlot& slot,
                           uint32_t imageIndex) {
  data.ImageIndex = imageIndex;
  data.Number = number;
  data.Slot = slot;
  data.RefreshStamp = static_cast<uint32_t>(SnapshotTree->Tag());
  FreeNodeString(data.NumberText);
  data.NumberText = NewNodeString(classlib::IntToStr(static_cast<int64_t>(number)));
  FreeNodeString(data.DateText);
  data.DateText = NewNodeString(DateText(slot.CreateTime));
}

int TfrmManager::FindSlotIndex(uint32_t number) const {
  const link::EngineHeader& header = *header_;
  const int count = std::min<int>(header.MaxSnapshots, static_cast<int>(std::size(header.Slots)));
  for (int i = 0; i < count; ++i) {
    const link::SnapshotSlot& slot = header.Slots[i];
    if (slot.Number == number && slot.Used != 0 && slot.Signature == kSlotSignature) return i;
  }
  return -1;
}

PLazyNode TfrmManager::FindNodeByNumber(uint32_t number) {
  for (PLazyNode node = SnapshotTree->GetFirst(); node; node = SnapshotTree->GetNext(node)) {
    const auto* data = static_cast<const SnapshotNode*>(SnapshotTree->GetNodeData(node));
    if (data && data->Number == number) return node;
  }
  return nullptr;
}

void TfrmManager::RemoveStaleNodes() {
  const auto stamp = static_cast<uint32_t>(SnapshotTree->Tag());
  PLazyNode node = SnapshotTree->GetFirst();
  while (node) {
    PLazyNode next = SnapshotTree->GetNext(node);
    const auto* data = static_cast<const SnapshotNode*>(SnapshotTree->GetNodeData(node));
    if (data && data->RefreshStamp != stamp) SnapshotTree->DeleteNode(node, true);
    node = next;
  }
}

void TfrmManager::MarkNodeFlags() {
  const link::EngineHeader& header = *header_;
  for (PLazyNode node = SnapshotTree->GetFirst(); node; node = SnapshotTree->GetNext(node)) {
    auto* data = static_cast<SnapshotNode*>(SnapshotTree->GetNodeData(node));
    if (!data) continue;
    data->IsRollbackTarget = header.RollbackPending != 0 && header.RollbackTarget == data->Number;
    data->IsCurrent = data->Number == header.SnapshotCount;
  }
}

void TfrmManager::SnapshotTreeGetNodeDataSize(TObject*, int32_t& size) {
  // The record is 152 bytes on i686; wider pointers make it larger elsewhere.
  size = std::max<int32_t>(kSnapshotNodeBytes, static_cast<int32_t>(sizeof(SnapshotNode)));
}

void TfrmManager::SnapshotTreeGetText(TBaseLazyTree* sender, PLazyNode node, TColumnIndex column,
                                      lazytree::TLTTextType textType, std::u16string& cellText) {
  cellText.clear();
  if (textType != lazytree::ttNormal) return;
  const auto* data = static_cast<const SnapshotNode*>(sender->GetNodeData(node));
  if (!data) return;
  switch (column) {
    case 0:
      if (data->NumberText) cellText = *data->NumberText;
      break;
    case 1:
      if (data->DateText) cellText = *data->DateText;
      break;
    case 2:
      cellText = FieldText(data->Slot.Name);
      break;
    case 3:
      cellText = FieldText(data->Slot.Remark);
      break;
    default:
      break;
  }
}

void TfrmManager::SnapshotTreeGetImageIndexEx(TBaseLazyTree* sender, PLazyNode node,
                                              lazytree::TLTImageKind kind, TColumnIndex column,
                                              bool&, int& imageIndex,
                                              classlib::TCustomImageList*&) {
  if (kind != lazytree::ikNormal && kind != lazytree::ikSelected) return;
  if (column != 0 && column != lazytree::NoColumn) return;
  const auto* data = static_cast<const SnapshotNode*>(sender->GetNodeData(node));
  if (data) imageIndex = static_cast<int>(data->ImageIndex);
}

void TfrmManager::SnapshotTreeFreeNode(TObject*, PLazyNode node) {
  auto* data = static_cast<SnapshotNode*>(SnapshotTree->GetNodeData(node));
  if (!data) return;
  FreeNodeString(data->NumberText);
  FreeNodeString(data->DateText);
}

void TfrmManager::SnapshotTreeColumnDblClick(TBaseLazyTree*, TColumnIndex, classlib::TShiftState) {}

void TfrmManager::chkScheduleChange(TObject*) {
  try {
    if (State.EngineHandle == link::InvalidEngineHandle())
      throw classlib::Exception(LangText(texts::ltEngineNotRunning));
    auto header = std::make_unique<link::EngineHeader>();
    link::ReadEngineHeader(State.EngineHandle, State.SystemDrive, *header);
    const bool on = chkSchedule->IsChecked();
    header->HourlySchedule = on ? 1 : 0;
    link::DebugPrint(on ? u"Enabled" : u"Disabled");
    link::WriteEngineHeader(State.EngineHandle, State.SystemDrive, *header);
    RefreshSnapshots();
  } catch (const classlib::Exception& e) {
    TrayIcon->ShowBalloonHint(kBalloonTitle, e.Message(), kit::bitInfo, 10);
  }
}

void TfrmManager::tmrRefreshTimer(TObject*) {
  tmrRefresh->SetEnabled(false);
  RefreshSnapshots();
  tmrRefresh->SetEnabled(true);
}

void TfrmManager::TrayIconDblClick(TObject*) {
  Find<classlib::TAction>(this, "ActShow")->Execute();
}

void TfrmManager::ActShowExecute(TObject*) {
  if (!Visible()) Show();
  classlib::Application->Restore();
  classlib::Application->BringToFront();
}

void TfrmManager::btnMinClick(TObject*) {
  Hide();
  classlib::Application->Minimize();
}

void TfrmManager::btnCloseClick(TObject* sender) { btnMinClick(sender); }

void TfrmManager::ActExitExecute(TObject*) { Close(); }

void TfrmManager::txtInfoMouseUp(TObject*, classlib::TMouseButton, classlib::TShiftState, float,
                                 float) {
  link::ShellOpen(kMakerHomePage);
}

void RegisterManagerClasses() {
  scenectrls::RegisterSceneControlClasses();
  lazytree::RegisterLazyTreeClasses();
  classlib::RegisterClasses({TfrmManager::StaticClass(), kit::TKtPageControl::StaticClass(),
                             kit::TKtTabSheet::StaticClass(), kit::TTrayIcon::StaticClass(),
                             classlib::TActionList::StaticClass(), classlib::TAction::StaticClass(),
                             classlib::TImageList::StaticClass(),
                             classlib::TPopupMenu::StaticClass(),
                             classlib::TMenuItem::StaticClass(), classlib::TTimer::StaticClass(),
                             scene::TsgScene::StaticClass()});
}

}  // namespace kelm::app
