// The popup box: its items, the selected index and the menu it pops.
#include "scenectrls/sg_popup_box.h"

#include <cmath>

#include "classlib/classdef.h"
#include "scene/sg_classes.h"

namespace kelm::scenectrls {

using classlib::TComponent;
using classlib::TVariant;

CL_CLASS(TsgPopupBox) {
  // The caption follows ItemIndex: not stored itself.
  c.WStr("Text", &TsgPopupBox::Text, &TsgPopupBox::SetTextProp).Stored(false);
  c.Object("BindingSource", &TsgPopupBox::BindingSource, &TsgPopupBox::SetBindingSource);
  c.Object("Items", &TsgPopupBox::Items, &TsgPopupBox::SetItems);
  c.Int("ItemIndex", &TsgPopupBox::ItemIndex, &TsgPopupBox::SetItemIndex).Default(-1);
  c.Event("OnChange", &TsgPopupBox::OnChange, &TsgPopupBox::OnChange);
}

TsgPopupBox::TsgPopupBox(TComponent* AOwner)
    : TsgCustomButton(AOwner), items_(classlib::New<scene::TsgWideStringList>()) {
  SetHeight(21);
  items_->OnChange = classlib::EventOf<&TsgPopupBox::ItemsChanged>(this);
}

TsgPopupBox::~TsgPopupBox() { classlib::Free(items_); }

void TsgPopupBox::ItemsChanged(classlib::TObject* sender) {
  (void)sender;
  Repaint();
}

void TsgPopupBox::ShowItemCaption() {
  TsgCustomButton::ChangeText(itemIndex_ >= 0 ? items_->Get(itemIndex_) : std::u16string());
}

void TsgPopupBox::SetItemIndex(int32_t v) {
  // A stream may name its index before its items are read: kept as read
  // until Loaded checks it.
  if (IsLoading()) {
    itemIndex_ = v;
    return;
  }
  if (v < 0 || v >= items_->Count()) v = -1;
  if (v == itemIndex_) return;
  itemIndex_ = v;
  ShowItemCaption();
  if (OnChange) OnChange(this);
}

void TsgPopupBox::Loaded() {
  inherited::Loaded();
  if (itemIndex_ >= items_->Count()) itemIndex_ = -1;
  if (itemIndex_ < 0) itemIndex_ = -1;
  ShowItemCaption();
}

void TsgPopupBox::ChangeText(const std::u16string& value) {
  if (IsLoading()) return;
  SetItemIndex(items_->Count() == 0 ? -1 : items_->IndexOf(value));
  ShowItemCaption();
}

scene::TsgPoint TsgPopupBox::MenuPoint() {
  // Half the list's height in whole units, as the menu lays items out.
  const int halfList = items_->Count() * MenuItemHeight / 2;
  return {0, static_cast<float>(classlib::Trunc(Height() / 2.0 - halfList))};
}

void TsgPopupBox::Click() {
  inherited::Click();
  menu_.Items.clear();
  for (int i = 0; i < items_->Count(); ++i) {
    TsgMenuItem item;
    item.Caption = items_->Get(i);
    item.Checked = i == itemIndex_;
    item.OnClick = [this, i] { SetItemIndex(i); };
    menu_.Items.push_back(std::move(item));
  }
  scene::IsgScene* sc = Scene();
  if (!sc) return;
  const scene::TsgPoint p = sc->LocalToScreen(LocalToAbsolute(MenuPoint()));
  PopupMenuAt(menu_, static_cast<int>(classlib::Round(p.X)),
              static_cast<int>(classlib::Round(p.Y)));
}

TVariant TsgPopupBox::GetData() { return TVariant(Text()); }

void TsgPopupBox::SetData(const TVariant& value) {
  if (value.IsNull()) {
    SetItemIndex(-1);
  } else if (scene::IsVariantMethodRef(value)) {
    OnChange = classlib::TNotifyEvent::FromMethod(scene::VariantToMethodRef(value));
  } else if (value.VarType() == classlib::TVarType::varInteger ||
             value.VarType() == classlib::TVarType::varDouble) {
    const double d = value.ToDouble();
    // Far outside any list: the same as no item.
    SetItemIndex(std::isfinite(d) && std::fabs(d) < 1e9 ? static_cast<int32_t>(classlib::Round(d))
                                                        : -1);
  } else {
    ChangeText(value.ToString());
  }
}

}  // namespace kelm::scenectrls
