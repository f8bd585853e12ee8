// The tree's side of its option objects: the window styles they choose,
// the flags its layers read, and the refreshes they ask for.
#include "lazytree/base_lazy_tree.h"

namespace kelm::lazytree {

void TBaseLazyTree::CreateParams(classlib::TCreateParams& params) {
  TCustomControl::CreateParams(params);
  params.Style |= WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
  params.Style &= ~static_cast<DWORD>(WS_HSCROLL | WS_VSCROLL);
  switch (scrollBarOptions_ != nullptr ? scrollBarOptions_->ScrollBars() : TScrollStyle::ssBoth) {
    case TScrollStyle::ssNone:
      break;
    case TScrollStyle::ssHorizontal:
      params.Style |= WS_HSCROLL;
      break;
    case TScrollStyle::ssVertical:
      params.Style |= WS_VSCROLL;
      break;
    case TScrollStyle::ssBoth:
      params.Style |= WS_HSCROLL | WS_VSCROLL;
      break;
  }
  params.Style &= ~static_cast<DWORD>(WS_BORDER);
  params.ExStyle &= ~static_cast<DWORD>(WS_EX_CLIENTEDGE);
  if (borderStyle_ == classlib::TBorderStyle::bsSingle) {
    if (Ctl3D()) {
      params.ExStyle |= WS_EX_CLIENTEDGE;
    } else {
      params.Style |= WS_BORDER;
    }
  }
  const bool fullRepaint =
      treeOptions_ == nullptr || treeOptions_->MiscOptions().Contains(toFullRepaintOnResize);
  if (fullRepaint)
    params.WindowClass.style |= CS_HREDRAW | CS_VREDRAW;
  else
    params.WindowClass.style &= ~static_cast<UINT>(CS_HREDRAW | CS_VREDRAW);
}

void TBaseLazyTree::OptionsStored() {
  if (treeOptions_ == nullptr) return;
  const TLTPaintOptions paint = treeOptions_->PaintOptions();
  const TLTAutoOptions autoOptions = treeOptions_->AutoOptions();
  const TLTSelectionOptions selection = treeOptions_->SelectionOptions();
  const TLTMiscOptions misc = treeOptions_->MiscOptions();
  Options.ReadOnly = misc.Contains(toReadOnly);
  Options.VariableNodeHeight = misc.Contains(toVariableNodeHeight);
  Options.AutoSort = autoOptions.Contains(toAutoSort);
  Options.AutoExpand = autoOptions.Contains(toAutoExpand);
  SetChildrenAbove(paint.Contains(toChildrenAbove));
  ViewOptions.MultiSelect = selection.Contains(toMultiSelect);
  ViewOptions.SimpleDrawSelection = selection.Contains(toSimpleDrawSelection);
  ViewOptions.SiblingSelectConstraint = selection.Contains(toSiblingSelectConstraint);
  ViewOptions.LevelSelectConstraint = selection.Contains(toLevelSelectConstraint);
  ViewOptions.AutoTristateTracking = autoOptions.Contains(toAutoTristateTracking);
  ViewOptions.AutoFreeOnCollapse = autoOptions.Contains(toAutoFreeOnCollapse);
  ViewOptions.AutoScrollOnExpand = autoOptions.Contains(toAutoScrollOnExpand);
  ViewOptions.InitOnSave = misc.Contains(toInitOnSave);
  DisableAutoscrollOnFocus = autoOptions.Contains(toDisableAutoscrollOnFocus);
  CenterScrollIntoView = selection.Contains(toCenterScrollIntoView);
}

void TBaseLazyTree::OptionsFocusMainColumn(bool repaint) {
  focusedColumn_ = HeaderMainColumn();
  if (repaint && HandleAllocated()) Invalidate();
}

void TBaseLazyTree::OptionsPaintChanged(TLTPaintOptions old, TLTPaintOptions now) {
  (void)old, (void)now;
  // Theme handles come with painting; the new look needs a full repaint.
  if (!OptionsLoading()) Invalidate();
}

void TBaseLazyTree::OptionsRedrawFrame() {
  // wParam 1: the whole frame; the client area keeps its pixels.
  if (HandleAllocated()) SendMessageW(Handle(), WM_NCPAINT, 1, 0);
}

// ---- property setters

void TBaseLazyTree::SetAlignment(TAlignment value) {
  if (value == Alignment) return;
  Alignment = value;
  if (!IsLoading()) InvalidateAll();
}

void TBaseLazyTree::SetMargin(int32_t value) {
  if (value == Margin) return;
  Margin = value;
  if (!IsLoading() && HandleAllocated()) InvalidateAll();
}

void TBaseLazyTree::SetIndent(uint32_t value) {
  if (value == Indent) return;
  Indent = value;
  if (IsLoading() || UpdateCount() > 0 || !HandleAllocated()) return;
  UpdateScrollBars(true);
  Invalidate();
}

void TBaseLazyTree::SetTextMargin(int32_t value) {
  if (value == TextMargin) return;
  TextMargin = value;
  if (!IsLoading()) InvalidateAll();
}

void TBaseLazyTree::SetNodeAlignment(TLTNodeAlignment value) {
  if (value == NodeAlignment) return;
  NodeAlignment = value;
  if (HandleAllocated() && !IsLoading()) InvalidateAll();
}

void TBaseLazyTree::SetBorderStyle(classlib::TBorderStyle value) {
  if (value == borderStyle_) return;
  borderStyle_ = value;
  RecreateWnd();
}

void TBaseLazyTree::SetImages(TCustomImageList* value) {
  if (value == Images) return;
  if (Images) Images->RemoveFreeNotification(this);
  Images = value;
  if (Images) Images->FreeNotification(this);
  if (!IsLoading()) InvalidateAll();
}

void TBaseLazyTree::SetStateImages(TCustomImageList* value) {
  if (value == StateImages) return;
  if (StateImages) StateImages->RemoveFreeNotification(this);
  StateImages = value;
  if (StateImages) StateImages->FreeNotification(this);
  if (HandleAllocated() && !IsLoading()) InvalidateAll();
}

void TBaseLazyTree::Notification(classlib::TComponent* component, classlib::TOperation operation) {
  TCustomControl::Notification(component, operation);
  if (operation != classlib::TOperation::opRemove || component == nullptr) return;
  bool removed = false;
  if (component == Images) {
    Images = nullptr;
    removed = true;
  }
  if (component == StateImages) {
    StateImages = nullptr;
    removed = true;
  }
  if (component == customCheckImages_) {
    if (CheckImages == customCheckImages_) CheckImages = nullptr;
    customCheckImages_ = nullptr;
    SetCheckImageKind(ckSystemDefault);
    removed = true;
  }
  if (removed && !IsDestroying()) InvalidateAll();
}

void TBaseLazyTree::SetNodeHeight(PLazyNode node, uint32_t height) {
  // The store halts the cache fill before it touches the heights.
  TLazyTreeView::SetNodeHeight(node, height);
  UpdateEditBounds();
}

}  // namespace kelm::lazytree
