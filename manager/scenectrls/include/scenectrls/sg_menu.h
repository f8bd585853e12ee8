// A pop-up menu as plain data: items with captions, check marks and
// sub-items, popped at a screen point through one replaceable entry (the
// Win32 part shows a class-library pop-up menu). The controls build one per
// use and learn which item was chosen.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace kelm::scenectrls {

struct TsgMenuItem {
  std::u16string Caption;
  std::u16string Hint;
  bool Checked = false;
  bool Enabled = true;
  // Run when the item is chosen, after the menu has closed.
  std::function<void()> OnClick;
  std::vector<TsgMenuItem> Items;
};

struct TsgMenu {
  std::vector<TsgMenuItem> Items;
};

// Shows the menu at a screen point and answers the chosen item (a leaf of
// the menu), or none when the menu was dismissed.
using TsgMenuPopupEntry = const TsgMenuItem* (*)(const TsgMenu& menu, int x, int y);
// None: menus do not show.
void SetMenuPopupEntry(TsgMenuPopupEntry entry);
TsgMenuPopupEntry MenuPopupEntry();

// Pops the menu up and runs the chosen item's OnClick; false when nothing
// was chosen (or no entry is installed). The click runs on a copy of the
// handler: it may free whatever owns the menu.
bool PopupMenuAt(const TsgMenu& menu, int x, int y);

}  // namespace kelm::scenectrls
