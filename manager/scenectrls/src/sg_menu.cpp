// Pop-up menus through the replaceable entry.
#include "scenectrls/sg_menu.h"

namespace kelm::scenectrls {
namespace {
TsgMenuPopupEntry g_menuEntry = nullptr;
}  // namespace

void SetMenuPopupEntry(TsgMenuPopupEntry entry) { g_menuEntry = entry; }
TsgMenuPopupEntry MenuPopupEntry() { return g_menuEntry; }

bool PopupMenuAt(const TsgMenu& menu, int x, int y) {
  if (!g_menuEntry) return false;
  const TsgMenuItem* chosen = g_menuEntry(menu, x, y);
  if (!chosen) return false;
  const std::function<void()> click = chosen->OnClick;
  if (click) click();
  return true;
}

}  // namespace kelm::scenectrls
