// The tab control and its tabs.
#include "scenectrls/sg_tab_control.h"

#include <vector>

#include "classlib/classdef.h"
#include "scene/sg_canvas.h"
#include "scenectrls/sg_layouts.h"
#include "sg_flag_guard.h"

namespace kelm::scenectrls {

using classlib::TComponent;
using scene::TsgObject;
using scene::TsgVisualObject;

namespace {
TsgTabItem* AsTab(TsgObject* obj) { return dynamic_cast<TsgTabItem*>(obj); }
}  // namespace

// ---- TsgTabItem
CL_CLASS(TsgTabItem) {
  c.Int("Index", &TsgTabItem::Index, &TsgTabItem::SetIndex);
  c.Bool("IsSelected", &TsgTabItem::IsSelected, nullptr).Stored(false);
  c.Object("Layout", &TsgTabItem::Layout, &TsgTabItem::SetLayout);
}

TsgTabItem::TsgTabItem(TComponent* AOwner) : TsgTextControl(AOwner) {
  AutoTranslate = true;
  SetHeight(20);
  SetWidth(80);
  SetHitTest(true);
}

void TsgTabItem::BeforeDestruction() {
  if (layout_) layout_->RemoveNotifyClient(this);
  layout_ = nullptr;
  inherited::BeforeDestruction();
}

TsgTabControl* TsgTabItem::TabControl() const { return dynamic_cast<TsgTabControl*>(Parent()); }

void TsgTabItem::SetIndex(int v) {
  if (v == index_) return;
  index_ = v;
  if (IsLoading() || !Parent()) return;
  // Bad input is clamped to the parent's list.
  const int last = Parent()->GetChildrenCount() - 1;
  TsgObject::SetIndex(v < 0 ? 0 : v > last ? last : v);
  Realign();
}

void TsgTabItem::SetLayout(TsgVisualObject* v) {
  if (v == layout_) return;
  if (layout_) layout_->RemoveNotifyClient(this);
  layout_ = v;
  if (layout_) layout_->AddNotifyClient(this);
  if (TsgTabControl* tc = TabControl(); tc && !IsLoading()) tc->Realign();
}

void TsgTabItem::Notification(TComponent* component, classlib::TOperation operation) {
  inherited::Notification(component, operation);
  if (operation == classlib::TOperation::opRemove && component == layout_) layout_ = nullptr;
}

void TsgTabItem::SetSelectedState(bool selected) {
  isSelected_ = selected;
  StartTriggerAnimation(this, "IsSelected");
  ApplyTriggerEffect(this, "IsSelected");
}

void TsgTabItem::ApplyStyle() {
  inherited::ApplyStyle();
  TsgTabControl* tc = TabControl();
  SetSelectedState(tc && tc->ItemIndex() == index_);
}

void TsgTabItem::MouseUp(scene::TMouseButton button, scene::TShiftState shift, float x, float y) {
  inherited::MouseUp(button, shift, x, y);
  // Selecting happens on release.
  if (button != scene::TMouseButton::mbLeft) return;
  if (TsgTabControl* tc = TabControl()) tc->SetItemIndex(index_);
}

void TsgTabItem::SetVisible(bool v) {
  if (v == Visible()) return;
  TsgTabControl* tc = TabControl();
  TsgTabItem* selected = tc ? tc->TabByIndex(tc->ItemIndex()) : nullptr;
  inherited::SetVisible(v);
  if (!tc || IsLoading()) return;
  if (v || selected != this) {
    // The same tab stays selected under its new index.
    tc->Realign();
    if (selected) {
      tc->ResetItemIndex();
      tc->SetItemIndex(selected->Index());
    }
    return;
  }
  // The selected tab went: the one now in its place, or the last.
  SetSelectedState(false);
  tc->ResetItemIndex();
  const int count = tc->VisibleTabCount();
  tc->SetItemIndex(index_ < count ? index_ : count - 1);
}

void TsgTabItem::Realign() {
  if (tabRealigning_) return;
  FlagGuard guard(tabRealigning_);
  inherited::Realign();
  TsgTabControl* tc = TabControl();
  if (!layout_ || !tc) return;
  const scene::TsgRect m = tc->Margins()->GetRect();
  const scene::TsgRect p = layout_->Padding()->GetRect();
  layout_->Position()->SetPoint({m.Left + p.Left, Height() + m.Top + p.Top});
  layout_->SetWidth(tc->Width() - m.Left - m.Right - p.Left - p.Right);
  layout_->SetHeight(tc->Height() - Height() - m.Top - m.Bottom - p.Top - p.Bottom);
}

void TsgTabItem::DesignInsert() {
  if (TsgTabControl* tc = TabControl()) tc->SetItemIndex(index_);
}

void TsgTabItem::DesignSelect() {
  TsgTabControl* tc = TabControl();
  if (layout_ || !tc) return;
  auto* page = classlib::New<TsgLayout>(Owner());
  tc->AddObject(page);
  SetLayout(page);
}

// ---- TsgTabControl
CL_CLASS(TsgTabControl) {
  c.Bool("FullSize", &TsgTabControl::FullSize, &TsgTabControl::SetFullSize).Default(false);
  c.Int("ItemIndex", &TsgTabControl::ItemIndex, &TsgTabControl::SetItemIndex).Default(-1);
  c.Float("ItemHeight", &TsgTabControl::ItemHeight, &TsgTabControl::SetItemHeight,
          &classlib::TypeInfo_Single);
  c.Event("OnChange", &TsgTabControl::OnChange, &TsgTabControl::OnChange);
}

TsgTabControl::TsgTabControl(TComponent* AOwner) : TsgControl(AOwner) {
  SetWidth(200);
  SetHeight(200);
}

int TsgTabControl::VisibleTabCount() const {
  int n = 0;
  for (int i = 0; i < GetChildrenCount(); ++i)
    if (TsgTabItem* tab = AsTab(GetChild(i)); tab && tab->Visible()) ++n;
  return n;
}

TsgTabItem* TsgTabControl::TabByIndex(int n) const {
  for (int i = 0; i < GetChildrenCount(); ++i)
    if (TsgTabItem* tab = AsTab(GetChild(i)); tab && tab->Visible() && tab->Index() == n)
      return tab;
  return nullptr;
}

void TsgTabControl::SetItemIndex(int v) {
  if (v == itemIndex_) return;
  if (TsgTabItem* old = TabByIndex(itemIndex_)) old->SetSelectedState(false);
  itemIndex_ = v;
  Realign();
  if (TsgTabItem* now = TabByIndex(itemIndex_)) now->SetSelectedState(true);
  if (OnChange) OnChange(this);
}

void TsgTabControl::SetItemHeight(float v) {
  if (v == itemHeight_) return;
  itemHeight_ = v;
  Realign();
}

void TsgTabControl::SetFullSize(bool v) {
  if (v == fullSize_) return;
  fullSize_ = v;
  Realign();
}

void TsgTabControl::AddObject(TsgObject* child) {
  inherited::AddObject(child);
  if (AsTab(child)) Realign();
}

void TsgTabControl::MouseDown(scene::TMouseButton button, scene::TShiftState shift, float x,
                              float y) {
  inherited::MouseDown(button, shift, x, y);
  Realign();
}

void TsgTabControl::ApplyStyle() {
  inherited::ApplyStyle();
  backgroundPart_ = dynamic_cast<TsgVisualObject*>(FindResource("background"));
  Realign();
}

void TsgTabControl::FreeStyle() {
  inherited::FreeStyle();
  backgroundPart_ = nullptr;
}

void TsgTabControl::Realign() {
  if (tabsRealigning_ || IsLoading() || IsDestroying()) return;
  FlagGuard guard(tabsRealigning_);
  // Non-tabs (the style, the pages) go behind the tabs in their order;
  // when they already are, nothing moves and no repaint is requested.
  std::vector<TsgObject*> others;
  bool misplaced = false;
  for (int i = 0; i < GetChildrenCount(); ++i) {
    TsgObject* c = GetChild(i);
    if (!AsTab(c))
      others.push_back(c);
    else if (!others.empty())
      misplaced = true;
  }
  if (misplaced)
    for (TsgObject* c : others) c->BringToFront();
  PlaceTabs();
}

void TsgTabControl::PlaceTabs() {
  float h = 0;
  int count = 0;
  std::vector<TsgTabItem*> tabs;
  for (int i = 0; i < GetChildrenCount(); ++i) {
    TsgTabItem* tab = AsTab(GetChild(i));
    if (!tab) continue;
    if (!tab->Visible()) {
      // A hidden tab's page goes with it.
      if (TsgVisualObject* page = tab->Layout()) page->SetVisible(false);
      continue;
    }
    tab->StoreIndex(count++);
    tabs.push_back(tab);
    const scene::TsgRect p = tab->Padding()->GetRect();
    if (tab->Height() + p.Top + p.Bottom > h) h = tab->Height() + p.Top + p.Bottom;
  }
  if (count > 0 && itemHeight_ > 0) h = itemHeight_;
  if (count == 0) h = 0;
  // The style fills the area below the row.
  if (TsgVisualObject* style = StyleObject()) {
    const scene::TsgRect p = style->Padding()->GetRect();
    style->SetAlign(scene::vaNone);
    style->Position()->SetPoint({p.Left, h + p.Top});
    style->SetWidth(Width() - p.Left - p.Right);
    style->SetHeight(Height() - h - p.Top - p.Bottom);
    style->Realign();
  }
  float w = Width();
  if (backgroundPart_)
    w -= backgroundPart_->Margins()->Left() + backgroundPart_->Margins()->Right();
  if (fullSize_ && count > 0) w /= static_cast<float>(count);
  float x = 0;
  for (TsgTabItem* tab : tabs) {
    tab->SetAlign(scene::vaNone);
    if (TsgVisualObject* page = tab->Layout()) {
      const bool shown = tab->Index() == itemIndex_;
      page->SetAlign(scene::vaNone);
      page->SetVisible(shown);
      page->SetDesignHide(!shown);
      page->SetClipChildren(true);
      if (shown) page->Realign();
    }
    const scene::TsgRect p = tab->Padding()->GetRect();
    tab->SetBounds(x + p.Left, p.Top, fullSize_ ? w : tab->Width(), h - p.Top - p.Bottom);
    x += p.Left + tab->Width() + p.Right;
    tab->Realign();
  }
}

void TsgTabControl::PaintChildren() {
  TsgTabItem* selected = TabByIndex(itemIndex_);
  if (!selected || !selected->Visible()) {
    inherited::PaintChildren();
    return;
  }
  // Left out of the common pass by its field alone: a repaint request from
  // here would keep painting for ever.
  selected->SetVisibleField(false);
  try {
    inherited::PaintChildren();
  } catch (...) {
    selected->SetVisibleField(true);
    throw;
  }
  selected->SetVisibleField(true);
  scene::TsgCanvas* canvas = Canvas();
  if (!canvas) return;
  // Then over its neighbours.
  canvas->SetMatrix(selected->GetAbsoluteMatrix());
  selected->BeforePaint();
  selected->Paint();
  selected->PaintChildren();
}

CL_CLASS(TsgHudTabControl) {}
CL_CLASS(TsgHudTabItem) {}

}  // namespace kelm::scenectrls
