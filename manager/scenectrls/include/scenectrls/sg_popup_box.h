// TsgPopupBox: a button that offers its strings in a pop-up menu centred
// on itself and shows the chosen one as its caption.
#pragma once

#include "scene/sg_wide_strings.h"
#include "scenectrls/sg_buttons.h"
#include "scenectrls/sg_menu.h"

namespace kelm::scenectrls {

class TsgPopupBox : public TsgCustomButton {
  CL_DECLARE_CLASS(TsgPopupBox, TsgCustomButton)
 public:
  // Menu items are laid out this high: the menu is centred on the box.
  static constexpr int MenuItemHeight = 20;

  explicit TsgPopupBox(classlib::TComponent* AOwner);
  ~TsgPopupBox() override;
  void Loaded() override;

  scene::TsgWideStringList* Items() const { return items_; }
  void SetItems(scene::TsgWideStrings* v) { items_->Assign(v); }
  int32_t ItemIndex() const { return itemIndex_; }
  // An index outside the list (negative, or at or past Count) acts as -1:
  // an empty caption.
  void SetItemIndex(int32_t v);
  classlib::TNotifyEvent OnChange;
  // The menu of the last click, rebuilt on every click.
  const TsgMenu& Menu() const { return menu_; }
  // Where the menu opens, in the box's local coordinates.
  scene::TsgPoint MenuPoint();

  // The text selects the item that carries it (-1 and an empty caption
  // when none does).
  void ChangeText(const std::u16string& value) override;
  void Click() override;
  classlib::TVariant GetData() override;
  void SetData(const classlib::TVariant& value) override;

 private:
  void ItemsChanged(classlib::TObject* sender);
  void ShowItemCaption();

  scene::TsgWideStringList* items_;
  int32_t itemIndex_ = -1;
  TsgMenu menu_;
};

}  // namespace kelm::scenectrls
