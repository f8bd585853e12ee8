// The page control: a tab control whose tabs come from a list of pages,
// each a windowed container that fills the display area. One page is the
// active page and shows; choosing a tab activates its page. Pages belong to
// their owner (the form), never to the page control.
#pragma once

#include <windows.h>

#include "classlib/controls.h"
#include "classlib/lists.h"
#include "kit/kt_tab_control.h"

namespace kelm::kit {

class TKtPageControl;

using TKtPaintBackgroundEvent =
    classlib::TEvent<classlib::TObject*, classlib::TCanvas*, classlib::TRect, bool&>;

class TKtTabSheet : public classlib::TCustomControl {
  CL_DECLARE_CLASS(TKtTabSheet, TCustomControl)
 public:
  explicit TKtTabSheet(classlib::TComponent* AOwner);
  ~TKtTabSheet() override;
  void BeforeDestruction() override;

  TKtPageControl* PageControl() const { return pageControl_; }
  virtual void SetPageControl(TKtPageControl* v);
  virtual int PageIndex() const;
  virtual void SetPageIndex(int v);
  // -1 without a visible tab; else the visible tabs before it.
  virtual int TabIndex() const;
  int ImageIndex() const { return imageIndex_; }
  virtual void SetImageIndex(int v);
  int DisabledIndex() const { return disabledIndex_; }
  virtual void SetDisabledIndex(int v);
  bool TabEnabled() const { return tabEnabled_; }
  virtual void SetTabEnabled(bool v);
  bool TabVisible() const { return tabVisible_; }
  virtual void SetTabVisible(bool v);
  classlib::TColor Color() const { return TCustomControl::Color(); }
  virtual void SetColor(classlib::TColor v);
  // Pages are shown and hidden by their control only: a write raises.
  bool Visible() const { return TCustomControl::Visible(); }
  virtual void SetVisible(bool v);

  TKtPaintBackgroundEvent OnPaintBackground;
  classlib::TNotifyEvent OnHide;
  classlib::TNotifyEvent OnShow;

 protected:
  void CreateParams(classlib::TCreateParams& params) override;
  void Paint() override;
  void ReadState(classlib::TReader& reader) override;
  void CMTextChanged(classlib::TMessage& m) override;
  void WMEraseBkgnd(classlib::TMessage& m) override;
  void CMShowingChanged(classlib::TMessage& m) override;

 private:
  friend class TKtPageControl;
  void Changed();

  TKtPageControl* pageControl_ = nullptr;
  int imageIndex_ = -1;
  int disabledIndex_ = -1;
  bool tabEnabled_ = true;
  bool tabVisible_ = true;
};

class TKtPageControl : public TKtCustomTabControl {
  CL_DECLARE_CLASS(TKtPageControl, TKtCustomTabControl)
 public:
  explicit TKtPageControl(classlib::TComponent* AOwner);
  ~TKtPageControl() override;

  // The list's own bounds check applies (EListError).
  virtual TKtTabSheet* Pages(int index) const;
  virtual int PageCount() const;
  TKtTabSheet* ActivePage() const { return activePage_; }
  virtual void SetActivePage(TKtTabSheet* page);
  virtual int ActivePageIndex() const;
  virtual void SetActivePageIndex(int i);
  TKtTabSheet* ActivePageDefault() const { return activePageDefault_; }
  void SetActivePageDefault(TKtTabSheet* page);
  bool SaveResources() const { return saveResources_; }
  virtual void SetSaveResources(bool v);
  bool DblClickUndocks() const { return dblClickUndocks_; }
  void SetDblClickUndocks(bool v) { dblClickUndocks_ = v; }
  std::u16string About() const { return u""; }
  void SetAbout(const std::u16string&) {}

  void HideAllTabs() override;
  void ShowAllTabs() override;
  void SelectNextPage(bool goForward);
  // The page of tab index i; none for i < 0 or when no page has it.
  TKtTabSheet* PageForTabIndex(int i) const;
  void TabsChanged() override;
  void SetUseColoredTabs(bool v) override;
  void Loaded() override;
  void GetChildren(const classlib::TGetChildProc& proc, classlib::TComponent* root) override;
  void SetChildOrder(classlib::TComponent* child, int order) override;
  // A page shown from outside becomes the active page.
  void ShowControl(classlib::TControl* control) override;
  void DoAddDockClient(classlib::TControl* client, const classlib::TRect& dropRect) override;
  void DoRemoveDockClient(classlib::TControl* client) override;

 protected:
  void CreateParams(classlib::TCreateParams& params) override;
  void Notification(classlib::TComponent* component, classlib::TOperation operation) override;
  bool DoChanging(int newIndex) override;
  void DoChange() override;
  void DoPageChange() override;
  bool DoPaintCardBackground(classlib::TCanvas* canvas, int row,
                             const classlib::TRect& rect) override;
  void CloseActiveTab() override;
  void MoveActiveTab(int i) override;
  void WMSetFocus(classlib::TMessage& m) override;
  void CMColorChanged(classlib::TMessage& m) override;
  void CMDialogKey(classlib::TMessage& m) override;
  void CMDockClient(classlib::TMessage& m) override;
  void CMUnDockClient(classlib::TMessage& m) override;
  void CMDockNotification(classlib::TMessage& m) override;
  void WMMouse(classlib::TMessage& m) override;
  // A dock drag lands on the whole page control (a new page); a control
  // already docked in one of the pages does not dock here again.
  void DockOver(classlib::TDragDockObject* source, int x, int y, classlib::TDragState state,
                bool& accept) override;
  void GetSiteInfo(classlib::TControl* client, classlib::TRect& influenceRect,
                   classlib::TPoint mousePos, bool& canDock) override;

 private:
  friend class TKtTabSheet;
  void InsertPage(TKtTabSheet* page);
  void RemovePage(TKtTabSheet* page);
  void ChangeActivePage(TKtTabSheet* page);
  TKtTabSheet* FindNextPage(TKtTabSheet* current, bool goForward, bool checkTabVisible) const;
  int IndexOfPage(const TKtTabSheet* page) const {
    return pages_.IndexOf(const_cast<TKtTabSheet*>(page));
  }

  // The page that holds a control docked here; none.
  TKtTabSheet* DockedPage(classlib::TControl* client) const;
  // The control docked in the page of the tab at (x, y); none.
  classlib::TControl* DockedControlAt(int x, int y);

  classlib::TList pages_;
  TKtTabSheet* newDockPage_ = nullptr;
  TKtTabSheet* undockingPage_ = nullptr;
  TKtTabSheet* activePage_ = nullptr;
  TKtTabSheet* activePageDefault_ = nullptr;
  bool saveResources_ = false;
  bool dblClickUndocks_ = true;
  // Set while loading and while the tab follows the active page: the
  // change events stay silent.
  bool inLoaded_ = false;
};

// Raised by the page control and its pages; the texts come from the
// program's string table.
void RaisePageIndexError(int value, int last);
void RaisePageVisibleError();

}  // namespace kelm::kit
