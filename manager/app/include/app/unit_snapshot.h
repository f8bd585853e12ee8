// TfrmManager, the manager's main window: a borderless window whose title
// bar, header, buttons and check box are scene controls, a page control
// holding the snapshot list (an owner-data tree), the notification-area
// icon, and the refresh that rebuilds the list from the engine.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "classlib/forms.h"
#include "lazytree/lazy_string_tree.h"
#include "link/engine_client.h"
#include "vh/layout.h"

namespace classlib {
class TAction;
class TImageList;
class TTimer;
}  // namespace classlib
namespace kelm::kit {
class TKtPageControl;
class TTrayIcon;
}  // namespace kelm::kit
namespace kelm::scene {
class TsgScene;
class TsgText;
}  // namespace kelm::scene
namespace kelm::scenectrls {
class TsgCheckBox;
}  // namespace kelm::scenectrls

namespace kelm::app {

using lazytree::PLazyNode;
using lazytree::TBaseLazyTree;
using lazytree::TColumnIndex;
using lazytree::TLazyStringTree;

// A node's wide string, owned by the node's data and freed when the tree
// frees the node.
using TNodeString = std::u16string*;
TNodeString NewNodeString(std::u16string text);
void FreeNodeString(TNodeString& s);
// Node strings alive in this process (tests check that none leak).
int LiveNodeStrings();

// The user data of each tree node: 152 bytes on i686.
struct SnapshotNode {
  TNodeString NumberText;   // column 0: the number in decimal
  TNodeString DateText;     // column 1: creation time in the user's locale, or "Unknown"
  link::SnapshotSlot Slot;  // the header slot (the current state: the newest descriptor)
  uint32_t Number;
  uint8_t IsRollbackTarget;
  uint8_t IsCurrent;
  uint32_t ImageIndex;    // 1 an earlier snapshot, 2 the current state
  uint32_t RefreshStamp;  // the tick count of the last refresh that saw it
};
#if defined(__i386__)
VH_CHECK_SIZE(SnapshotNode, 152);
VH_CHECK_OFFSET(SnapshotNode, DateText, 4);
VH_CHECK_OFFSET(SnapshotNode, Slot, 8);
VH_CHECK_OFFSET(SnapshotNode, Number, 136);
VH_CHECK_OFFSET(SnapshotNode, IsRollbackTarget, 140);
VH_CHECK_OFFSET(SnapshotNode, IsCurrent, 141);
VH_CHECK_OFFSET(SnapshotNode, ImageIndex, 144);
VH_CHECK_OFFSET(SnapshotNode, RefreshStamp, 148);
#endif

// The manager state shared by the main window and its actions.
struct TManagerState {
  link::EngineHandle EngineHandle = link::InvalidEngineHandle();
  char16_t SystemDrive = u'C';
  uint32_t KnownSnapshotCount = 0;
  bool RollbackPendingFlag = false;
  bool BusyFlag = false;
  bool TemporaryModeFlag = false;
};

class TfrmManager : public classlib::TForm {
  CL_DECLARE_CLASS(TfrmManager, TForm)
 public:
  explicit TfrmManager(classlib::TComponent* AOwner);
  ~TfrmManager() override;
  void BeforeDestruction() override;

  // ---- form events
  void FormCreate(classlib::TObject* sender);
  void FormShow(classlib::TObject* sender);
  void FormMouseMove(classlib::TObject* sender, classlib::TShiftState shift, int x, int y);
  void rgtTopMouseMove(classlib::TObject* sender, classlib::TShiftState shift, float x, float y,
                       float dx, float dy);

  void ApplyLanguage();
  void RefreshSnapshots();

  // ---- message boxes: owned by the window while it shows, topmost and
  // system-modal without owner while it is hidden.
  void WarningBox(const std::u16string& text);
  void InfoBox(const std::u16string& text);
  bool ConfirmBox(const std::u16string& text);

  // ---- tree events
  void SnapshotTreeGetNodeDataSize(classlib::TObject* sender, int32_t& size);
  void SnapshotTreeGetText(TBaseLazyTree* sender, PLazyNode node, TColumnIndex column,
                           lazytree::TLTTextType textType, std::u16string& cellText);
  void SnapshotTreeGetImageIndexEx(TBaseLazyTree* sender, PLazyNode node,
                                   lazytree::TLTImageKind kind, TColumnIndex column, bool& ghosted,
                                   int& imageIndex, classlib::TCustomImageList*& imageList);
  void SnapshotTreeFreeNode(classlib::TObject* sender, PLazyNode node);
  void SnapshotTreeColumnDblClick(TBaseLazyTree* sender, TColumnIndex column,
                                  classlib::TShiftState shift);

  // ---- helpers of the refresh (over the header the last refresh read)
  int FindSlotIndex(uint32_t number) const;
  PLazyNode FindNodeByNumber(uint32_t number);
  void RemoveStaleNodes();
  void MarkNodeFlags();

  // ---- handlers of the actions, the schedule, the timer and the tray
  // (what they do beyond their binding comes with the actions)
  void chkScheduleChange(classlib::TObject* sender);
  void tmrRefreshTimer(classlib::TObject* sender);
  void TrayIconDblClick(classlib::TObject* sender);
  void btnMinClick(classlib::TObject* sender);
  void btnCloseClick(classlib::TObject* sender);
  void txtInfoMouseUp(classlib::TObject* sender, classlib::TMouseButton button,
                      classlib::TShiftState shift, float x, float y);
  void ActShowExecute(classlib::TObject* sender);
  void ActExitExecute(classlib::TObject* sender);

  TManagerState State;
  // The header buffer of the last refresh (64 KB).
  const link::EngineHeader& Header() const { return *header_; }

  // ---- components of the stored form
  TLazyStringTree* SnapshotTree = nullptr;
  kit::TKtPageControl* PageMain = nullptr;
  kit::TTrayIcon* TrayIcon = nullptr;
  scene::TsgScene* sgSceneTop = nullptr;
  scene::TsgScene* sgSceneBottom = nullptr;
  scene::TsgText* lblProtectOnOff = nullptr;
  scene::TsgText* lblResource = nullptr;
  scenectrls::TsgCheckBox* chkSchedule = nullptr;
  classlib::TTimer* tmrRefresh = nullptr;

 private:
  void FindComponents();
  // The box with the owner and flags the window's visibility gives.
  int Box(const std::u16string& text, const std::u16string& caption, UINT flags);
  void FillNode(SnapshotNode& data, uint32_t number, const link::SnapshotSlot& slot,
                uint32_t imageIndex);

  std::unique_ptr<link::EngineHeader> header_;
};

// Makes every class the stored form names known to the stream reader.
void RegisterManagerClasses();

}  // namespace kelm::app
