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

}  // namespace kelm::lazytree
