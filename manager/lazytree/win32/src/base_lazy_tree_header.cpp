// The tree as its header's host: the geometry the header reads and the
// refreshes its changes ask for.
#include "lazytree/base_lazy_tree.h"

#include "lazytree/lazy_tree_error.h"

namespace kelm::lazytree {

void TBaseLazyTree::HeaderView(TTreeGeometry& view) {
  view.HasWindow = HandleAllocated();
  // Without a window the control's own size stands in.
  view.ClientWidth = view.HasWindow ? ClientWidth() : Width();
  view.ClientHeight = view.HasWindow ? ClientHeight() : Height();
  view.TreeHeight = Height();
  view.EffectiveOffsetX = EffectiveOffsetX();
  view.RangeX = RangeX;
  view.Mirrored = UseRightToLeftAlignment();
  view.Loading = IsLoading();
}

void TBaseLazyTree::HeaderRepaintTree() {
  if (HandleAllocated()) Invalidate();
}

void TBaseLazyTree::HeaderRepaint(int column) {
  (void)column;
  if (!HandleAllocated() || !header_->Options().Contains(hoVisible)) return;
  // The header band lies in the non-client area; until the tree lays that
  // band out, the whole window frame stands for the header and its cells.
  RedrawWindow(Handle(), nullptr, nullptr,
               RDW_INVALIDATE | RDW_VALIDATE | RDW_NOINTERNALPAINT | RDW_NOERASE | RDW_NOCHILDREN |
                   RDW_FRAME);
}

void TBaseLazyTree::HeaderRefreshFrame() {
  if (!HandleAllocated()) return;
  SetWindowPos(Handle(), nullptr, 0, 0, 0, 0,
               SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED |
                   SWP_NOOWNERZORDER | SWP_NOSENDCHANGING);
}

void TBaseLazyTree::HeaderHeightChanged() {
  if (!HandleAllocated()) return;
  Invalidate();
  UpdateWindow(Handle());
}

void TBaseLazyTree::HeaderUpdateHorizontalScrollBar() {
  if (HandleAllocated()) UpdateScrollBars(false);
}

bool TBaseLazyTree::HeaderCanSplitterResizeColumn(int column, int x, int y, bool allowed) {
  if (OnCanSplitterResizeColumn) OnCanSplitterResizeColumn(header_, TPoint{x, y}, column, allowed);
  return allowed;
}

void TBaseLazyTree::HeaderMainColumnChanged(int column) {
  // An edit and the accessible name belong to the old main column.
  CancelEditing();
  NotifyAccessible(EVENT_OBJECT_NAMECHANGE);
  if (treeOptions_ == nullptr || !treeOptions_->SelectionOptions().Contains(toExtendedFocus))
    focusedColumn_ = column;
  HeaderRepaintTree();
}

void TBaseLazyTree::HeaderSortChanged() {
  if (treeOptions_ == nullptr || !treeOptions_->AutoOptions().Contains(toAutoSort)) return;
  if (UpdateCount() > 0) return;
  SortTree(header_->SortColumn(), header_->SortDirection(), true);
}

bool TBaseLazyTree::HeaderTreeFont(THeaderFontValues& font) {
  const classlib::TFont* f = Font();
  if (f == nullptr) return false;
  font.Color = f->Color();
  font.Height = f->Height();
  font.Name = classlib::AnsiToWide(f->Name());
  font.Pitch = static_cast<uint8_t>(f->Pitch());
  font.Style = static_cast<uint8_t>(f->Style().ToInt());
  return true;
}

void TBaseLazyTree::BeginOperation() {
  if (operationCount_++ == 0) operationCanceled_ = false;
}

void TBaseLazyTree::EndOperation() {
  LT_ASSERT(operationCount_ > 0, u"EndOperation must not be called when no operation in progress.");
  --operationCount_;
}

void TBaseLazyTree::HeaderBeforeAutoFitColumns(TSmartAutoFitType& type) {
  if (OnBeforeAutoFitColumns) OnBeforeAutoFitColumns(header_, type);
}

bool TBaseLazyTree::HeaderBeforeAutoFitColumn(int column, TSmartAutoFitType& type) {
  if (OnBeforeAutoFitColumn) OnBeforeAutoFitColumn(header_, column, type);
  return true;
}

void TBaseLazyTree::HeaderAfterAutoFitColumn(int column) {
  if (OnAfterAutoFitColumn) OnAfterAutoFitColumn(header_, column);
}

void TBaseLazyTree::HeaderAfterAutoFitColumns() {
  if (OnAfterAutoFitColumns) OnAfterAutoFitColumns(header_);
}

TShiftState TBaseLazyTree::ReadShiftKeys() {
  TShiftState shift;
  if (GetKeyState(VK_SHIFT) < 0) shift.Include(classlib::ssShift);
  if (GetKeyState(VK_CONTROL) < 0) shift.Include(classlib::ssCtrl);
  if (GetKeyState(VK_MENU) < 0) shift.Include(classlib::ssAlt);
  return shift;
}

void TBaseLazyTree::HeaderClick(int column, uint8_t button, bool dblClick, int x, int y) {
  TShiftState shift = ReadShiftKeys();
  if (dblClick) shift.Include(classlib::ssDouble);
  DoHeaderClick(column, static_cast<TMouseButton>(button), shift, x, y);
}

void TBaseLazyTree::HeaderImageClick(int column, uint8_t button, bool dblClick, int x, int y) {
  TShiftState shift = ReadShiftKeys();
  if (dblClick) shift.Include(classlib::ssDouble);
  DoHeaderImageClick(column, static_cast<TMouseButton>(button), shift, x, y);
}

}  // namespace kelm::lazytree
