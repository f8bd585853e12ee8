// The snapshot list's refresh of 31 snapshots plus a full repaint of the
// shown main window, against the scene's 33 ms animation tick and against
// the system's list view (report view, the same four columns and 31 rows)
// emptied, refilled and repainted the same way. One run, side by side; the
// engine is hosted in this process and its header answer carries 31
// snapshots.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/unit_snapshot.h"
#include "classlib/forms.h"
#include "kit/tray_icon_record.h"
#include "link/hosted_engine_device.h"
#include "scene/sg_canvas_gdiplus.h"
#include "../tests/hosted_engine_fixture.h"

namespace {

using kelm::app::TfrmManager;
constexpr int kSnapshots = 31;
constexpr int kRounds = 50;
constexpr double kTickMs = 33.0;

// The header answer with 31 snapshots: slots 1-30 and the newest.
void ThirtyOneSnapshots(uint32_t code, void* out, uint32_t) {
  if (code != vh::IOCTL_ENGINE_READ_HEADER) return;
  auto* h = static_cast<vh::EngineHeader*>(out);
  h->MaxSnapshots = kSnapshots;
  h->SnapshotCount = kSnapshots;
  for (int i = 0; i < kSnapshots - 1; ++i) {
    vh::SnapshotSlot& s = h->Slots[i];
    s.Number = static_cast<uint8_t>(i + 1);
    s.Used = 1;
    s.Signature = 0xAA55;
    s.CreateTime = {2026, 12, 5, 11, 10, 0, 0, 0};
    std::snprintf(s.Name, sizeof s.Name, "Snapshot %d", i + 1);
    std::snprintf(s.Remark, sizeof s.Remark, "Remark of snapshot %d", i + 1);
  }
  h->NewestSnapshot = h->Slots[0];
}

BOOL QuietTray(DWORD, kelm::kit::TNotifyIconDataA*) { return TRUE; }

double Now() {
  LARGE_INTEGER c, f;
  QueryPerformanceCounter(&c);
  QueryPerformanceFrequency(&f);
  return 1000.0 * static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

void PumpPending() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

// Per round: refresh the list, then repaint the whole window now.
double OursMs(TfrmManager* form) {
  form->RefreshSnapshots();
  RedrawWindow(form->Handle(), nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  PumpPending();
  const double t0 = Now();
  for (int i = 0; i < kRounds; ++i) {
    form->RefreshSnapshots();
    RedrawWindow(form->Handle(), nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  }
  PumpPending();
  return (Now() - t0) / kRounds;
}

// Per round: the refresh alone (status, header, 31 nodes, no paint waiting).
double RefreshOnlyMs(TfrmManager* form) {
  const double t0 = Now();
  for (int i = 0; i < kRounds; ++i) form->RefreshSnapshots();
  const double ms = (Now() - t0) / kRounds;
  PumpPending();
  return ms;
}

// Per round: empty the report view, add the same 31 rows, repaint now.
double ListViewMs() {
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&icc);
  HWND host = CreateWindowExW(0, L"STATIC", L"list", WS_POPUP | WS_VISIBLE, 100, 100, 785, 520,
                              nullptr, nullptr, nullptr, nullptr);
  HWND list = CreateWindowExW(0, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT, 17, 165,
                              752, 232, host, nullptr, nullptr, nullptr);
  const wchar_t* heads[] = {L"Node", L"Create Time", L"Name", L"remarks"};
  const int widths[] = {100, 200, 200, 250};
  for (int c = 0; c < 4; ++c) {
    LVCOLUMNW col{};
    col.mask = LVCF_TEXT | LVCF_WIDTH;
    col.pszText = const_cast<wchar_t*>(heads[c]);
    col.cx = widths[c];
    SendMessageW(list, LVM_INSERTCOLUMNW, c, reinterpret_cast<LPARAM>(&col));
  }
  auto round = [&] {
    SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
    for (int r = 0; r < kSnapshots; ++r) {
      std::wstring texts[4] = {std::to_wstring(r + 1), L"2026-12-11 10:00:00",
                               L"Snapshot " + std::to_wstring(r + 1),
                               L"Remark of snapshot " + std::to_wstring(r + 1)};
      LVITEMW item{};
      item.mask = LVIF_TEXT;
      item.iItem = r;
      item.pszText = texts[0].data();
      SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
      for (int c = 1; c < 4; ++c) {
        item.iSubItem = c;
        item.pszText = texts[c].data();
        SendMessageW(list, LVM_SETITEMTEXTW, r, reinterpret_cast<LPARAM>(&item));
      }
    }
    RedrawWindow(host, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  };
  round();
  PumpPending();
  const double t0 = Now();
  for (int i = 0; i < kRounds; ++i) round();
  PumpPending();
  const double ms = (Now() - t0) / kRounds;
  DestroyWindow(host);
  return ms;
}

}  // namespace

int main() {
  kelm::app::RegisterManagerClasses();
  kelm::scene::sgStartupScene();
  classlib::Application->Initialize();
  kelm::kit::SetShellNotifyIconFunc(QuietTray);
  if (!kelm::test::StartHostedEngine()) {
    std::printf("the engine did not boot\n");
    return 1;
  }
  kelm::link::SetHostedAnswerHook(ThirtyOneSnapshots);
  auto* form = classlib::New<TfrmManager>(classlib::Application);
  form->Show();
  PumpPending();
  const double ours = OursMs(form);
  const double refreshOnly = RefreshOnlyMs(form);
  const double listView = ListViewMs();
  std::printf("rows in the list: %u\n", form->SnapshotTree->RootNodeCount());
  std::printf("refresh of %d snapshots + full repaint: %.2f ms per round (%d rounds)\n", kSnapshots,
              ours, kRounds);
  std::printf("  of which the refresh alone: %.2f ms\n", refreshOnly);
  std::printf("  against the %.0f ms animation tick: %.2f of a tick\n", kTickMs, ours / kTickMs);
  std::printf("  against the list view doing the same (%.2f ms): %.2fx\n", listView,
              ours / listView);
  classlib::Free(form);
  kelm::link::SetHostedAnswerHook(nullptr);
  kelm::test::DropHostedEngine();
  return 0;
}
