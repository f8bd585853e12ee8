// The scene's page control: its TsgTabItem children are the tab headers,
// laid out in one row along its top edge; each tab may name a page
// (Layout) that shows only while its tab is selected, below the row. The
// selected tab is painted above its neighbours.
#pragma once

#include "scene/sg_control.h"
#include "scenectrls/sg_text_control.h"

namespace kelm::scenectrls {

class TsgTabControl;

class TsgTabItem : public TsgTextControl {
  CL_DECLARE_CLASS(TsgTabItem, TsgTextControl)
 public:
  explicit TsgTabItem(classlib::TComponent* AOwner);
  void BeforeDestruction() override;

  // The tab's place among the visible tabs, renumbered by every layout of
  // the control. Setting it moves the tab to that place among its
  // parent's children (clamped to the list).
  int Index() const { return index_; }
  void SetIndex(int v);
  // The page; not owned, forgotten when freed.
  scene::TsgVisualObject* Layout() const { return layout_; }
  void SetLayout(scene::TsgVisualObject* v);
  bool IsSelected() const { return isSelected_; }
  // Stores the state and raises the "IsSelected" trigger.
  void SetSelectedState(bool selected);
  // The field alone, for the control's renumbering.
  void StoreIndex(int v) { index_ = v; }

  void ApplyStyle() override;
  void MouseUp(scene::TMouseButton button, scene::TShiftState shift, float x, float y) override;
  // Keeps the selection on the same tab, or moves it off a hidden one.
  void SetVisible(bool v) override;
  // Places the page below the row.
  void Realign() override;
  void DesignInsert() override;
  void DesignSelect() override;
  void Notification(classlib::TComponent* component, classlib::TOperation operation) override;

 private:
  TsgTabControl* TabControl() const;
  int index_ = 0;
  scene::TsgVisualObject* layout_ = nullptr;
  bool isSelected_ = false;
  bool tabRealigning_ = false;
};

class TsgTabControl : public scene::TsgControl {
  CL_DECLARE_CLASS(TsgTabControl, TsgControl)
 public:
  explicit TsgTabControl(classlib::TComponent* AOwner);

  int ItemIndex() const { return itemIndex_; }
  void SetItemIndex(int v);
  // Forgets the selection without events or layout.
  void ResetItemIndex() { itemIndex_ = -1; }
  classlib::TNotifyEvent OnChange;
  float ItemHeight() const { return itemHeight_; }
  void SetItemHeight(float v);
  bool FullSize() const { return fullSize_; }
  void SetFullSize(bool v);
  scene::TsgVisualObject* BackgroundPart() const { return backgroundPart_; }

  int VisibleTabCount() const;
  // The first visible tab whose Index is n, else none.
  TsgTabItem* TabByIndex(int n) const;

  std::string GetDesignItemClasses() override { return "TsgTabItem"; }
  void AddObject(scene::TsgObject* child) override;
  void MouseDown(scene::TMouseButton button, scene::TShiftState shift, float x, float y) override;
  void ApplyStyle() override;
  void FreeStyle() override;
  void Realign() override;
  void PaintChildren() override;

 private:
  void PlaceTabs();
  int itemIndex_ = -1;
  float itemHeight_ = 0;
  bool fullSize_ = false;
  scene::TsgVisualObject* backgroundPart_ = nullptr;
  bool tabsRealigning_ = false;
};

class TsgHudTabControl : public TsgTabControl {
  CL_DECLARE_CLASS(TsgHudTabControl, TsgTabControl)
 public:
  explicit TsgHudTabControl(classlib::TComponent* AOwner) : TsgTabControl(AOwner) {}
  std::string GetDesignItemClasses() override { return "TsgHudTabItem"; }
};

class TsgHudTabItem : public TsgTabItem {
  CL_DECLARE_CLASS(TsgHudTabItem, TsgTabItem)
 public:
  explicit TsgHudTabItem(classlib::TComponent* AOwner) : TsgTabItem(AOwner) {}
};

}  // namespace kelm::scenectrls
