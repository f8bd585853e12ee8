// The published values whose setters refresh the view, the focused column
// and the view's top and bottom node.
#include <algorithm>

#include "lazytree/base_lazy_tree.h"

namespace kelm::lazytree {

void TBaseLazyTree::SetAutoScrollInterval(uint32_t value) {
  AutoScrollInterval = std::min<uint32_t>(std::max<uint32_t>(value, 1), 1000);
}

void TBaseLazyTree::SetAnimationDuration(uint32_t value) {
  animationDuration_ = value;
  // The set is changed directly: no option reactions run for it.
  TLTAnimationOptions options = treeOptions_->AnimationOptions();
  if (value != 0) {
    options.Include(toAnimatedToggle);
  } else {
    options.Exclude(toAnimatedToggle);
  }
  treeOptions_->SetAnimationOptions(options);
}

void TBaseLazyTree::SetBackgroundOffset(int index, int value) {
  int& slot = backgroundOffset_[index & 1];
  if (slot == value) return;
  slot = value;
  InvalidateAll();
}

// Button and line images are drawn anew by the next paint.
void TBaseLazyTree::SetButtonFillMode(TLTButtonFillMode value) {
  if (value == buttonFillMode_) return;
  buttonFillMode_ = value;
  if (!IsLoading() && HandleAllocated()) InvalidateAll();
}

void TBaseLazyTree::SetButtonStyle(TLTButtonStyle value) {
  if (value == buttonStyle_) return;
  buttonStyle_ = value;
  if (!IsLoading() && HandleAllocated()) InvalidateAll();
}

void TBaseLazyTree::SetLineMode(TLTLineMode value) {
  if (value == lineMode_) return;
  lineMode_ = value;
  if (!IsLoading() && HandleAllocated()) InvalidateAll();
}

void TBaseLazyTree::SetLineStyle(TLTLineStyle value) {
  if (value == lineStyle_) return;
  lineStyle_ = value;
  if (!IsLoading() && HandleAllocated()) InvalidateAll();
}

void TBaseLazyTree::SetSelectionCurveRadius(uint32_t value) {
  if (value == selectionCurveRadius_) return;
  selectionCurveRadius_ = value;
  if (!IsLoading() && HandleAllocated()) InvalidateAll();
}

void TBaseLazyTree::SetIncrementalSearch(TLTIncrementalSearch value) {
  if (value == incrementalSearch_) return;
  incrementalSearch_ = value;
  if (value == isNone) {
    StopTimer(SearchTimer);
    searchText_.clear();
    searchStart_ = nullptr;
  }
}

void TBaseLazyTree::SetCheckImageKind(TCheckImageKind value) {
  if (value == checkImageKind_) return;
  checkImageKind_ = value;
  TCustomImageList* list = CheckImageListFor(value);
  CheckImages = list ? list : customCheckImages_;
  if (HandleAllocated() && UpdateCount() == 0 && !IsLoading())
    InvalidateRect(Handle(), nullptr, FALSE);
}

void TBaseLazyTree::SetCustomCheckImages(TCustomImageList* value) {
  if (value == customCheckImages_) return;
  if (customCheckImages_) {
    customCheckImages_->RemoveFreeNotification(this);
    if (CheckImages == customCheckImages_) CheckImages = nullptr;
  }
  customCheckImages_ = value;
  if (value) value->FreeNotification(this);
  if (checkImageKind_ == ckCustom) CheckImages = value;
  if (!IsLoading()) InvalidateAll();
}

void TBaseLazyTree::SetFocusedColumn(TColumnIndex value) {
  if (value == focusedColumn_) return;
  const THeaderLayout& layout = header_->Layout();
  bool allowed = layout.ColumnCanTakeFocus(value);
  PLazyNode node = FocusedNode();
  if (OnFocusChanging) OnFocusChanging(this, node, node, focusedColumn_, value, allowed);
  if (!allowed) return;
  CancelEditing();
  if (node) InvalidateNode(node);
  focusedColumn_ = value;
  if (node && !DisableAutoscrollOnFocus) BringNodeIntoView(node, false, true);
  if (DropTargetNode()) InvalidateNode(DropTargetNode());
  DoFocusChanged(node, focusedColumn_);
}

void TBaseLazyTree::SetTopNode(PLazyNode node) {
  if (!node || node == RootNode()) return;
  for (PLazyNode run = node->Parent; run && run != RootNode(); run = run->Parent) {
    if (!run->Has(nsExpanded)) ToggleNode(run);
  }
  const TColumnIndex main =
      header_->Layout().ColumnIndexValid(HeaderMainColumn()) ? HeaderMainColumn() : NoColumn;
  const TRect r = GetDisplayRect(node, main, false);
  SetOffsetY(offsetY_ - r.top);
}

void TBaseLazyTree::SetBottomNode(PLazyNode node) {
  if (!node || node == RootNode()) return;
  for (PLazyNode run = node->Parent; run && run != RootNode(); run = run->Parent) {
    if (!run->Has(nsExpanded)) ToggleNode(run);
  }
  const TColumnIndex main =
      header_->Layout().ColumnIndexValid(HeaderMainColumn()) ? HeaderMainColumn() : NoColumn;
  const TRect r = GetDisplayRect(node, main, false);
  // The header and the frame follow; the rows are painted anew rather than
  // scrolled.
  if (SetOffsetXY(
          TPoint{offsetX_, ClientHeight() + offsetY_ - r.top - static_cast<int>(NodeHeight(node))},
          DefaultScrollUpdateFlags & ~suoScrollClientArea))
    InvalidateAll();
}

}  // namespace kelm::lazytree
