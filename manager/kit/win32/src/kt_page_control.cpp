#include "kit/kt_page_control.h"

#include "classlib/filer.h"
#include "classlib/forms.h"
#include "texts/unit_language.h"

namespace kelm::kit {

using namespace classlib;

void RaisePageIndexError(int value, int last) {
  throw EKtTabControlError(
      Format(texts::LangText(texts::ltPageIndexInvalid), {TVarRec(value), TVarRec(last)}));
}

void RaisePageVisibleError() {
  throw EKtTabControlError(texts::LangText(texts::ltPageVisibleFixed));
}

// ---- TKtTabSheet

CL_CLASS(TKtTabSheet) {
  c.Int("Color", &TKtTabSheet::Color, &TKtTabSheet::SetColor, &TypeInfo_TColor).Default(clBtnFace);
  c.Int("DisabledIndex", &TKtTabSheet::DisabledIndex, &TKtTabSheet::SetDisabledIndex).Default(-1);
  c.Int("ImageIndex", &TKtTabSheet::ImageIndex, &TKtTabSheet::SetImageIndex).Default(-1);
  c.Int("PageIndex", &TKtTabSheet::PageIndex, &TKtTabSheet::SetPageIndex).Stored(false);
  c.Bool("TabEnabled", &TKtTabSheet::TabEnabled, &TKtTabSheet::SetTabEnabled).Default(true);
  c.Bool("TabVisible", &TKtTabSheet::TabVisible, &TKtTabSheet::SetTabVisible).Default(true);
  c.Event("OnPaintBackground", &TKtTabSheet::OnPaintBackground, &TKtTabSheet::OnPaintBackground);
  c.Event("OnHide", &TKtTabSheet::OnHide, &TKtTabSheet::OnHide);
  c.Event("OnShow", &TKtTabSheet::OnShow, &TKtTabSheet::OnShow);
}

TKtTabSheet::TKtTabSheet(TComponent* AOwner) : TCustomControl(AOwner) {
  SetControlStyle({csAcceptsControls, csOpaque, csNoDesignVisible});
  SetAlign(TAlign::alClient);
  TCustomControl::SetVisible(false);
  TCustomControl::SetColor(clBtnFace);
}

TKtTabSheet::~TKtTabSheet() = default;

void TKtTabSheet::BeforeDestruction() {
  // The page leaves its control while it is still whole.
  if (pageControl_ != nullptr) pageControl_->RemovePage(this);
  TCustomControl::BeforeDestruction();
}

void TKtTabSheet::SetPageControl(TKtPageControl* v) {
  if (v == pageControl_) return;
  if (pageControl_ != nullptr) pageControl_->RemovePage(this);
  SetParent(v);
  if (v != nullptr) v->InsertPage(this);
}

int TKtTabSheet::PageIndex() const {
  return pageControl_ != nullptr ? pageControl_->IndexOfPage(this) : -1;
}

void TKtTabSheet::SetPageIndex(int v) {
  if (pageControl_ == nullptr) return;
  const int last = pageControl_->PageCount() - 1;
  if (v < 0 || v > last) RaisePageIndexError(v, last);
  const int old = PageIndex();
  pageControl_->pages_.Move(old, v);
  pageControl_->TabsChanged();
  pageControl_->DoTabOrderChange(old, v);
}

int TKtTabSheet::TabIndex() const {
  if (!tabVisible_ || pageControl_ == nullptr) return -1;
  int n = 0;
  for (int i = 0; i < pageControl_->PageCount(); ++i) {
    TKtTabSheet* page = pageControl_->Pages(i);
    if (page == this) return n;
    if (page->tabVisible_) ++n;
  }
  return -1;
}

void TKtTabSheet::Changed() {
  if (pageControl_ != nullptr) pageControl_->TabsChanged();
}

void TKtTabSheet::SetImageIndex(int v) {
  if (v == imageIndex_) return;
  imageIndex_ = v;
  Changed();
}

void TKtTabSheet::SetDisabledIndex(int v) {
  if (v == disabledIndex_) return;
  disabledIndex_ = v;
  Changed();
}

void TKtTabSheet::SetTabEnabled(bool v) {
  if (v == tabEnabled_) return;
  tabEnabled_ = v;
  Changed();
}

void TKtTabSheet::SetTabVisible(bool v) {
  if (v == tabVisible_) return;
  tabVisible_ = v;
  Changed();
}

void TKtTabSheet::SetColor(TColor v) {
  if (v == Color()) return;
  if (pageControl_ != nullptr && !pageControl_->UseColoredTabs() && v != pageControl_->Color())
    pageControl_->SetUseColoredTabs(true);
  TCustomControl::SetColor(v);
  Changed();
}

void TKtTabSheet::SetVisible(bool) { RaisePageVisibleError(); }

void TKtTabSheet::CreateParams(TCreateParams& params) {
  TCustomControl::CreateParams(params);
  // No full repaint on resize.
  params.WindowClass.style &= ~static_cast<UINT>(CS_HREDRAW | CS_VREDRAW);
}

void TKtTabSheet::Paint() {
  const TRect rect = Rect(0, 0, Width(), Height());
  bool handled = false;
  if (OnPaintBackground) OnPaintBackground(this, Canvas(), rect, handled);
  if (handled) return;
  Canvas()->Brush()->SetColor(Color());
  Canvas()->FillRect(rect);
}

void TKtTabSheet::ReadState(TReader& reader) {
  TCustomControl::ReadState(reader);
  if (auto* control = dynamic_cast<TKtPageControl*>(reader.Parent())) SetPageControl(control);
}

void TKtTabSheet::CMTextChanged(TMessage& m) {
  TCustomControl::CMTextChanged(m);
  Changed();
}

// The page paints all of itself: the default erase would only flicker.
void TKtTabSheet::WMEraseBkgnd(TMessage& m) { m.Result = 1; }

void TKtTabSheet::CMShowingChanged(TMessage& m) {
  TCustomControl::CMShowingChanged(m);
  // A handler's error goes to the application and stops here.
  try {
    if (Showing()) {
      if (OnShow) OnShow(this);
    } else {
      if (OnHide) OnHide(this);
    }
  } catch (...) {
    Application->HandleException(this);
  }
}

// ---- TKtPageControl

CL_CLASS(TKtPageControl) {
  c.WStr("About", &TKtPageControl::About, &TKtPageControl::SetAbout).Stored(false);
  c.Object("ActivePage", &TKtPageControl::ActivePage, &TKtPageControl::SetActivePage);
  c.Object("ActivePageDefault", &TKtPageControl::ActivePageDefault,
           &TKtPageControl::SetActivePageDefault);
  c.Bool("SaveResources", &TKtPageControl::SaveResources, &TKtPageControl::SetSaveResources)
      .Default(false);
  c.Bool("DblClickUndocks", &TKtPageControl::DblClickUndocks, &TKtPageControl::SetDblClickUndocks)
      .Default(true);
  PublishTabControlProperties(c);
}

TKtPageControl::TKtPageControl(TComponent* AOwner) : TKtCustomTabControl(AOwner) {
  // Pages are read from stored forms by their class name.
  static const bool registered = [] {
    RegisterClasses({TKtTabSheet::StaticClass()});
    return true;
  }();
  (void)registered;
  SetControlStyle({csCaptureMouse, csClickEvents, csDoubleClicks, csOpaque});
  SetHeight(150);
  SetUseColoredTabs(false);
}

TKtPageControl::~TKtPageControl() {
  // The pages live on with their owner.
  for (int i = 0; i < pages_.Count(); ++i) pages_.Item<TKtTabSheet>(i)->pageControl_ = nullptr;
  pages_.Clear();
}

TKtTabSheet* TKtPageControl::Pages(int index) const { return pages_.Item<TKtTabSheet>(index); }

int TKtPageControl::PageCount() const { return pages_.Count(); }

void TKtPageControl::CreateParams(TCreateParams& params) {
  TKtCustomTabControl::CreateParams(params);
  // The pages are not painted over by the tab strip.
  params.Style |= WS_CLIPCHILDREN;
}

void TKtPageControl::InsertPage(TKtTabSheet* page) {
  HandleNeeded();
  pages_.Add(page);
  page->pageControl_ = this;
  TabsChanged();
}

void TKtPageControl::RemovePage(TKtTabSheet* page) {
  if (page == activePage_) SetActivePage(nullptr);
  pages_.Remove(page);
  TabsChanged();
  page->pageControl_ = nullptr;
}

void TKtPageControl::TabsChanged() {
  Tabs().Clear();
  for (int i = 0; i < pages_.Count(); ++i) {
    TKtTabSheet* page = Pages(i);
    if (!page->TabVisible()) continue;
    TKtTabData& tab = Tabs().Add();
    tab.Caption = page->Caption();
    tab.Color = page->Color();
    tab.Enabled = page->TabEnabled();
    tab.Visible = page->TabVisible();
    tab.Hint = page->Hint();
    tab.ImageIndex = page->ImageIndex();
    tab.DisabledImageIndex = page->DisabledIndex();
  }
  if (activePage_ != nullptr) {
    // The tab follows the page that is already active: nothing to ask or
    // tell (a refusal would leave the tab on another page).
    const bool quiet = inLoaded_;
    inLoaded_ = true;
    struct Restore {
      bool& flag;
      bool value;
      ~Restore() { flag = value; }
    } restore{inLoaded_, quiet};
    if (activePage_->TabVisible()) {
      if (activePage_->TabIndex() != TabIndex()) SetTabIndex(activePage_->TabIndex());
    } else {
      SetTabIndex(-1);
    }
  }
  TKtCustomTabControl::TabsChanged();
}

TKtTabSheet* TKtPageControl::PageForTabIndex(int i) const {
  if (i < 0) return nullptr;
  for (int k = 0; k < pages_.Count(); ++k) {
    if (Pages(k)->TabIndex() == i) return Pages(k);
  }
  return nullptr;
}

void TKtPageControl::SetActivePage(TKtTabSheet* page) {
  if (page != nullptr && page->PageControl() != this) return;
  const bool wasVisible = page != nullptr && page->Visible();
  if (page != nullptr) page->TControl::SetVisible(true);
  if (Loading()) {
    activePage_ = page;
    return;
  }
  const int i = page != nullptr ? page->TabIndex() : -1;
  if (i < 0) {
    ChangeActivePage(page);
    DoPageChange();
  }
  SetTabIndex(i);
  // A refused switch leaves one page shown: the one that stays active.
  if (page != nullptr && page != activePage_ && !wasVisible) page->TControl::SetVisible(false);
}

int TKtPageControl::ActivePageIndex() const {
  return activePage_ != nullptr ? activePage_->PageIndex() : -1;
}

void TKtPageControl::SetActivePageIndex(int i) {
  if (i >= 0 && i < PageCount()) {
    SetActivePage(Pages(i));
  } else {
    SetTabIndex(-1);
  }
}

void TKtPageControl::SetActivePageDefault(TKtTabSheet* page) {
  if (page == activePageDefault_) return;
  if (activePageDefault_ != nullptr) activePageDefault_->RemoveFreeNotification(this);
  activePageDefault_ = page;
  if (page != nullptr) page->FreeNotification(this);
}

void TKtPageControl::Notification(TComponent* component, TOperation operation) {
  TKtCustomTabControl::Notification(component, operation);
  if (operation == TOperation::opRemove && component == activePageDefault_)
    activePageDefault_ = nullptr;
}

namespace {
bool Inside(TControl* control, TWinControl* container) {
  for (TControl* c = control; c != nullptr; c = c->Parent()) {
    if (c == container) return true;
  }
  return false;
}
}  // namespace

void TKtPageControl::ChangeActivePage(TKtTabSheet* page) {
  if (page == activePage_) return;
  TCustomForm* form = GetParentForm(this);
  // The focus must not stay in a control that is about to be hidden.
  if (form != nullptr && activePage_ != nullptr && form->ActiveControl() != nullptr &&
      Inside(form->ActiveControl(), activePage_))
    form->SetActiveControl(activePage_);
  if (page != nullptr) {
    page->BringToFront();
    page->TControl::SetVisible(true);
    if (form != nullptr && activePage_ != nullptr && form->ActiveControl() == activePage_) {
      if (page->CanFocus()) {
        form->SetActiveControl(page);
      } else {
        form->SetActiveControl(this);
      }
    }
  }
  if (activePage_ != nullptr) {
    activePage_->TControl::SetVisible(false);
    if (saveResources_ && !IsDesigning()) activePage_->DestroyHandle();
  }
  activePage_ = page;
  if (form != nullptr && page != nullptr && form->ActiveControl() == page) {
    if (TWinControl* first = page->FindNextControl(nullptr, true, true, false)) first->SetFocus();
  }
}

bool TKtPageControl::DoChanging(int newIndex) {
  bool allow = true;
  if (!inLoaded_ && OnChanging) OnChanging(this, newIndex, allow);
  if (allow) ChangeActivePage(PageForTabIndex(newIndex));
  return allow;
}

void TKtPageControl::DoChange() {
  if (!inLoaded_) TKtCustomTabControl::DoChange();
}

void TKtPageControl::DoPageChange() {
  if (!inLoaded_) TKtCustomTabControl::DoPageChange();
}

void TKtPageControl::Loaded() {
  // Silenced from the start: the tab control's own step may already select
  // the stored page's tab, and loading raises no event.
  inLoaded_ = true;
  struct Clear {
    bool& flag;
    ~Clear() { flag = false; }
  } clear{inLoaded_};
  TKtCustomTabControl::Loaded();
  UpdateLayout();
  SetTabIndex(-1);
  TKtTabSheet* page = activePage_;
  if (activePageDefault_ != nullptr && activePageDefault_ != page) {
    if (page != nullptr) page->TControl::SetVisible(false);
    page = activePageDefault_;
  }
  activePage_ = nullptr;
  TabsChanged();
  SetActivePage(page);
}

void TKtPageControl::HideAllTabs() {
  for (int i = 0; i < PageCount(); ++i) Pages(i)->SetTabVisible(false);
}

void TKtPageControl::ShowAllTabs() {
  for (int i = 0; i < PageCount(); ++i) Pages(i)->SetTabVisible(true);
}

TKtTabSheet* TKtPageControl::FindNextPage(TKtTabSheet* current, bool goForward,
                                          bool checkTabVisible) const {
  const int count = pages_.Count();
  if (count == 0) return nullptr;
  int start = IndexOfPage(current);
  if (start < 0) start = goForward ? count - 1 : 0;
  int i = start;
  // The start place is tested last, so a lone visible page finds itself.
  for (int n = 0; n < count; ++n) {
    i = goForward ? (i + 1) % count : (i + count - 1) % count;
    TKtTabSheet* page = Pages(i);
    if (!checkTabVisible || page->TabVisible()) return page;
  }
  return nullptr;
}

void TKtPageControl::SelectNextPage(bool goForward) {
  if (TKtTabSheet* page = FindNextPage(activePage_, goForward, true)) SetActivePage(page);
}

void TKtPageControl::CloseActiveTab() {
  if (activePage_ == nullptr) return;
  const int old = TabIndex();
  Free(activePage_);
  SetTabIndex(old > 0 ? old - 1 : old);
}

void TKtPageControl::MoveActiveTab(int i) {
  // i counts tabs; pages without a tab do not: the page of tab i gives the
  // place in the page list.
  TKtTabSheet* target = PageForTabIndex(i);
  if (activePage_ != nullptr && target != nullptr) activePage_->SetPageIndex(target->PageIndex());
}

bool TKtPageControl::DoPaintCardBackground(TCanvas* canvas, int row, const TRect& rect) {
  if (TKtCustomTabControl::DoPaintCardBackground(canvas, row, rect)) return true;
  if (row != 0 || TabIndex() < 0 || activePage_ == nullptr) return false;
  canvas->Brush()->SetColor(activePage_->Color());
  canvas->FillRect(rect);
  return true;
}

void TKtPageControl::SetUseColoredTabs(bool v) {
  TKtCustomTabControl::SetUseColoredTabs(v);
  if (Parent() != nullptr && !UseColoredTabs()) Perform(CM_COLORCHANGED);
}

void TKtPageControl::CMColorChanged(TMessage& m) {
  if (!UseColoredTabs()) {
    for (int i = 0; i < PageCount(); ++i) Pages(i)->SetColor(Color());
  }
  TKtCustomTabControl::CMColorChanged(m);
}

void TKtPageControl::CMDialogKey(TMessage& m) {
  TKtCustomTabControl::CMDialogKey(m);
  if (m.Result != 0) return;
  TCustomForm* form = GetParentForm(this);
  if (form == nullptr || form->ActiveControl() == nullptr || !Inside(form->ActiveControl(), this))
    return;
  if (m.WParam == VK_TAB && GetKeyState(VK_CONTROL) < 0) {
    SelectNextPage(GetKeyState(VK_SHIFT) >= 0);
    m.Result = 1;
  }
}

void TKtPageControl::WMSetFocus(TMessage& m) {
  TKtCustomTabControl::WMSetFocus(m);
  // Without a tab to focus, the page's contents take the focus.
  if (activePage_ == nullptr || activePage_->TabVisible()) return;
  for (int i = 0; i < activePage_->ControlCount(); ++i) {
    auto* child = dynamic_cast<TWinControl*>(activePage_->Controls(i));
    if (child != nullptr && child->CanFocus()) {
      child->SetFocus();
      return;
    }
  }
}

void TKtPageControl::SetSaveResources(bool v) {
  if (v == saveResources_) return;
  saveResources_ = v;
  if (v && !IsDesigning()) {
    for (int i = 0; i < PageCount(); ++i) {
      if (Pages(i) != activePage_) Pages(i)->DestroyHandle();
    }
  }
}

void TKtPageControl::GetChildren(const TGetChildProc& proc, TComponent*) {
  for (int i = 0; i < PageCount(); ++i) proc(Pages(i));
}

void TKtPageControl::ShowControl(TControl* control) {
  auto* page = dynamic_cast<TKtTabSheet*>(control);
  if (page != nullptr && page->PageControl() == this) SetActivePage(page);
  TKtCustomTabControl::ShowControl(control);
}

TKtTabSheet* TKtPageControl::DockedPage(TControl* client) const {
  if (client == nullptr || client->HostDockSite() != this) return nullptr;
  for (int i = 0; i < PageCount(); ++i) {
    if (client->Parent() == Pages(i)) return Pages(i);
  }
  return nullptr;
}

void TKtPageControl::CMDockClient(TMessage& m) {
  auto* rec = reinterpret_cast<TDockClientRec*>(m.LParam);
  m.Result = 0;
  TControl* client = rec->Control;
  struct Forget {
    TKtTabSheet*& page;
    ~Forget() { page = nullptr; }
  } forget{newDockPage_};
  newDockPage_ = New<TKtTabSheet>(this);
  try {
    if (auto* form = dynamic_cast<TCustomForm*>(client)) newDockPage_->SetCaption(form->Caption());
    newDockPage_->SetPageControl(this);
    client->Dock(this, rec->DropRect);
  } catch (...) {
    Free(newDockPage_);
    throw;
  }
  newDockPage_->SetTabVisible(client->Visible());
  if (client->Visible()) SetActivePage(newDockPage_);
  client->SetAlign(TAlign::alClient);
}

void TKtPageControl::DoAddDockClient(TControl* client, const TRect&) {
  if (newDockPage_ != nullptr) client->SetParent(newDockPage_);
}

void TKtPageControl::CMUnDockClient(TMessage& m) {
  m.Result = 0;
  auto* client = reinterpret_cast<TControl*>(m.LParam);
  if (TKtTabSheet* page = DockedPage(client)) {
    undockingPage_ = page;
    client->SetAlign(TAlign::alNone);
  }
}

void TKtPageControl::DoRemoveDockClient(TControl*) {
  if (IsDestroying() || undockingPage_ == nullptr) return;
  TKtTabSheet* page = undockingPage_;
  undockingPage_ = nullptr;
  SelectNextPage(true);
  Free(page);
}

void TKtPageControl::CMDockNotification(TMessage& m) {
  auto* client = reinterpret_cast<TControl*>(m.WParam);
  const auto* rec = reinterpret_cast<const TDockNotifyRec*>(m.LParam);
  if (TKtTabSheet* page = DockedPage(client)) {
    if (rec->ClientMsg == WM_SETTEXT) {
      // The tab shows the first line of the text.
      std::u16string text = client->Text();
      text = text.substr(0, text.find_first_of(u"\r\n"));
      page->SetCaption(text);
    } else if (rec->ClientMsg == CM_VISIBLECHANGED) {
      page->SetTabVisible(rec->WParam != 0);
    }
  }
  TKtCustomTabControl::CMDockNotification(m);
}

TControl* TKtPageControl::DockedControlAt(int x, int y) {
  TKtTabSheet* page = PageForTabIndex(TabAtPoint({x, y}));
  if (page == nullptr || page->ControlCount() == 0) return nullptr;
  TControl* client = page->Controls(0);
  return client->HostDockSite() == this ? client : nullptr;
}

void TKtPageControl::WMMouse(TMessage& m) {
  TKtCustomTabControl::WMMouse(m);
  if (m.Msg != WM_LBUTTONDOWN && m.Msg != WM_LBUTTONDBLCLK) return;
  const int x = static_cast<short>(LOWORD(m.LParam));
  const int y = static_cast<short>(HIWORD(m.LParam));
  TControl* client = DockedControlAt(x, y);
  if (client == nullptr) return;
  // The docked control is dragged off once the mouse moves far enough.
  client->BeginDrag(false);
  if (m.Msg == WM_LBUTTONDBLCLK) {
    if (dblClickUndocks_) {
      client->EndDrag(false);
      const TPoint at = client->ClientToScreen(TPoint{0, 0});
      client->ManualFloat(Bounds(at.x, at.y, client->Width(), client->Height()));
    }
  }
}

void TKtPageControl::DockOver(TDragDockObject* source, int x, int y, TDragState state,
                              bool& accept) {
  RECT r{};
  GetWindowRect(Handle(), &r);
  source->DockRect = Rect(r.left, r.top, r.right, r.bottom);
  TKtCustomTabControl::DockOver(source, x, y, state, accept);
}

void TKtPageControl::GetSiteInfo(TControl* client, TRect& influenceRect, TPoint mousePos,
                                 bool& canDock) {
  canDock = DockedPage(client) == nullptr;
  TKtCustomTabControl::GetSiteInfo(client, influenceRect, mousePos, canDock);
}

void TKtPageControl::SetChildOrder(TComponent* child, int order) {
  if (auto* page = dynamic_cast<TKtTabSheet*>(child)) page->SetPageIndex(order);
}

}  // namespace kelm::kit
