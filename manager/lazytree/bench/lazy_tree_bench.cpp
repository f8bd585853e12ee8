// Node creation and clearing of the lazy tree against the system's tree view
// (hidden, redraw off), measured side by side in one run:
//   top:    N top-level inserts (AddChild inside an update / TVM_INSERTITEM)
//   nested: N inserts spread over 100 top-level parents
//   clear:  deleting everything (Clear / TVM_DELETEITEM of the root)
// The tree view is left out at a size where its previous run took too long.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <vector>

#include "classlib/forms.h"
#include "lazytree/base_lazy_tree.h"

namespace {

using kelm::lazytree::PLazyNode;
using kelm::lazytree::TBaseLazyTree;

double Now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER c;
  QueryPerformanceCounter(&c);
  return static_cast<double>(c.QuadPart) / static_cast<double>(frequency.QuadPart);
}

struct TTimes {
  double top = 0, nested = 0, clearTop = 0, clearNested = 0;
};

constexpr int kParents = 100;

TTimes RunTree(TBaseLazyTree* tree, int n) {
  TTimes t;
  double start = Now();
  tree->BeginUpdate();
  for (int i = 0; i < n; ++i) tree->AddChild(nullptr);
  tree->EndUpdate();
  t.top = Now() - start;
  start = Now();
  tree->Clear();
  t.clearTop = Now() - start;

  start = Now();
  tree->BeginUpdate();
  std::vector<PLazyNode> parents;
  for (int i = 0; i < kParents; ++i) parents.push_back(tree->AddChild(nullptr));
  for (int i = 0; i < n; ++i) tree->AddChild(parents[static_cast<size_t>(i % kParents)]);
  tree->EndUpdate();
  t.nested = Now() - start;
  start = Now();
  tree->Clear();
  t.clearNested = Now() - start;
  return t;
}

HTREEITEM Insert(HWND view, HTREEITEM parent) {
  TVINSERTSTRUCTW item{};
  item.hParent = parent;
  item.hInsertAfter = TVI_LAST;
  item.item.mask = TVIF_TEXT;
  item.item.pszText = const_cast<wchar_t*>(L"");
  return reinterpret_cast<HTREEITEM>(
      SendMessageW(view, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

TTimes RunView(HWND view, int n) {
  TTimes t;
  double start = Now();
  for (int i = 0; i < n; ++i) Insert(view, TVI_ROOT);
  t.top = Now() - start;
  start = Now();
  SendMessageW(view, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
  t.clearTop = Now() - start;

  start = Now();
  std::vector<HTREEITEM> parents;
  for (int i = 0; i < kParents; ++i) parents.push_back(Insert(view, TVI_ROOT));
  for (int i = 0; i < n; ++i) Insert(view, parents[static_cast<size_t>(i % kParents)]);
  t.nested = Now() - start;
  start = Now();
  SendMessageW(view, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
  t.clearNested = Now() - start;
  return t;
}

// Address space in use: the heap's growth shows here also under Wine,
// whose process counters stay still.
double UsedBytes() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  GlobalMemoryStatusEx(&status);
  return static_cast<double>(status.ullTotalVirtual - status.ullAvailVirtual);
}

void PrintRow(const char* what, int n, double ours, double view, bool viewRan) {
  if (viewRan) {
    std::printf("%-7s N=%-8d ours %9.2f ms  tree view %9.2f ms  tree view / ours %7.2f\n", what, n,
                ours * 1e3, view * 1e3, ours > 0 ? view / ours : 0.0);
  } else {
    std::printf("%-7s N=%-8d ours %9.2f ms  tree view (not run: too slow)\n", what, n, ours * 1e3);
  }
}

}  // namespace

int main() {
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_TREEVIEW_CLASSES};
  InitCommonControlsEx(&icc);
  classlib::TForm* form = classlib::New<classlib::TForm>(nullptr, 0);
  TBaseLazyTree* tree = classlib::New<TBaseLazyTree>(form);
  tree->SetParent(form);
  tree->Handle();
  tree->SetNodeDataSize(0);
  HWND host = form->Handle();
  HWND view = CreateWindowExW(0, WC_TREEVIEWW, L"", WS_CHILD | TVS_HASBUTTONS | TVS_HASLINES, 0, 0,
                              200, 100, host, nullptr, GetModuleHandleW(nullptr), nullptr);
  SendMessageW(view, WM_SETREDRAW, FALSE, 0);

  // First, while the heap holds no freed nodes to hand out again.
  for (int dataSize : {0, 152}) {
    tree->SetNodeDataSize(dataSize);
    const double before = UsedBytes();
    const double start = Now();
    tree->BeginUpdate();
    for (int i = 0; i < 1000000; ++i) tree->AddChild(nullptr);
    tree->EndUpdate();
    const double took = Now() - start;
    const double after = UsedBytes();
    std::printf(
        "1M nodes, data %3d bytes: %.3f s, allocation %zu bytes/node, process %.1f bytes/node\n",
        dataSize, took, tree->NodeAllocationSize(), (after - before) / 1e6);
    tree->Clear();
  }
  bool viewRuns = view != nullptr;
  for (int n : {10000, 100000, 1000000}) {
    TTimes ours = RunTree(tree, n);
    TTimes theirs;
    const bool ran = viewRuns;
    if (ran) {
      theirs = RunView(view, n);
      // A size ten times larger would take more than half a minute.
      viewRuns = theirs.top + theirs.nested + theirs.clearTop + theirs.clearNested < 3.0;
    }
    PrintRow("top", n, ours.top, theirs.top, ran);
    PrintRow("nested", n, ours.nested, theirs.nested, ran);
    PrintRow("clear", n, ours.clearTop, theirs.clearTop, ran);
    PrintRow("clear-n", n, ours.clearNested, theirs.clearNested, ran);
  }

  DestroyWindow(view);
  classlib::Free(form);
  return 0;
}
