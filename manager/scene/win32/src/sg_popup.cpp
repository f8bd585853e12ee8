// TsgPopupForm, TsgPopup and TsgMessagePopup, and the list of open popups
// that do not stay open.
#include "scene/sg_popup.h"

#include <algorithm>
#include <cmath>

#include "classlib/classdef.h"
#include "scene/sg_canvas.h"
#include "scene/sg_classes.h"
#include "scene/sg_scene.h"

namespace kelm::scene {

using classlib::TComponent;
using classlib::TMessage;

namespace {

// Made on first use, freed when the library ends.
std::vector<TsgPopup*>* g_openPopups = nullptr;

constexpr int kPopupFormTag = 65535;
constexpr unsigned kFollowIntervalMs = 10;
constexpr int kModalCancel = classlib::mrCancel;
// Shown and hidden in place: no move, size, z-order change or activation.
constexpr UINT kShowInPlace = SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE;

void JoinOpenList(TsgPopup* popup) {
  if (!g_openPopups) g_openPopups = new std::vector<TsgPopup*>;
  if (std::find(g_openPopups->begin(), g_openPopups->end(), popup) == g_openPopups->end())
    g_openPopups->push_back(popup);
}

void LeaveOpenList(TsgPopup* popup) {
  if (!g_openPopups) return;
  g_openPopups->erase(std::remove(g_openPopups->begin(), g_openPopups->end(), popup),
                      g_openPopups->end());
}

// Position in the open list; -1 when absent.
int OpenIndex(const TsgPopup* popup) {
  if (!g_openPopups) return -1;
  const auto it = std::find(g_openPopups->begin(), g_openPopups->end(), popup);
  return it == g_openPopups->end() ? -1 : static_cast<int>(it - g_openPopups->begin());
}

// A scale of 0 (or a broken matrix) would leave the popup's scene dividing
// its size by it: such a popup keeps scale 1.
float UsableScale(float s) { return std::isfinite(s) && std::fabs(s) > 1e-6f ? s : 1.0f; }

}  // namespace

std::vector<TsgPopup*> OpenPopups() {
  return g_openPopups ? *g_openPopups : std::vector<TsgPopup*>{};
}

void CloseAllPopups() {
  // A copy: closing handles messages and runs handlers, which may open,
  // close or free other popups. One that has left the list meanwhile (freed
  // or closed) is skipped.
  const std::vector<TsgPopup*> copy = OpenPopups();
  for (auto it = copy.rbegin(); it != copy.rend(); ++it)
    if (OpenIndex(*it) >= 0) (*it)->ClosePopup();
}

void FreePopupGlobals() {
  delete g_openPopups;
  g_openPopups = nullptr;
}

void RegisterPopupClasses() {
  RegisterSceneClasses("Popup", {TsgPopup::StaticClass(), TsgMessagePopup::StaticClass()});
}

// ---- TsgPopupForm

CL_CLASS(TsgPopupForm) {}

TsgPopupForm::TsgPopupForm(TComponent* AOwner) : TCustomForm(AOwner, 0) {
  SetTag(kPopupFormTag);
  SetBorderStyle(classlib::TFormBorderStyle::bsNone);
  SetFormStyle(classlib::TFormStyle::fsStayOnTop);
  SetPosition(classlib::TPosition::poDesigned);
}

TsgPopupForm::~TsgPopupForm() = default;

void TsgPopupForm::BeforeDestruction() {
  // Being freed already: the popup's close must not release the form again.
  closedByForm_ = true;
  if (TsgPopup* popup = popup_) popup->ClosePopup();
  // Still attached (a modal run turned the close into its result, or a
  // close waits for its animations): the popup leaves now.
  if (TsgPopup* popup = popup_) popup->FormGone(this);
  popup_ = nullptr;
  SetOwnerForm(nullptr);
  TCustomForm::BeforeDestruction();
}

void TsgPopupForm::SetOwnerForm(classlib::TCustomForm* form) {
  if (form == ownerForm_) return;
  if (ownerForm_) ownerForm_->RemoveFreeNotification(this);
  ownerForm_ = form;
  if (form) form->FreeNotification(this);
}

void TsgPopupForm::Notification(TComponent* component, classlib::TOperation operation) {
  TCustomForm::Notification(component, operation);
  if (operation == classlib::TOperation::opRemove && component && component == ownerForm_)
    ownerForm_ = nullptr;
}

void TsgPopupForm::CreateParams(classlib::TCreateParams& params) {
  TCustomForm::CreateParams(params);
  params.WindowClass.style |= CS_SAVEBITS;
}

void TsgPopupForm::DoClose(classlib::TCloseAction& action) {
  TCustomForm::DoClose(action);
  action = classlib::TCloseAction::caFree;
  closedByForm_ = true;
  if (popup_) popup_->ClosePopup();
}

void TsgPopupForm::ShowingChanged(TMessage&) {
  SetWindowPos(Handle(), nullptr, 0, 0, 0, 0,
               kShowInPlace | (Showing() ? SWP_SHOWWINDOW : SWP_HIDEWINDOW));
}

void TsgPopupForm::WndProc(TMessage& m) {
  switch (m.Msg) {
    case WM_ACTIVATE:
      WMActivate(m);
      return;
    case WM_MOUSEACTIVATE:
      WMMouseActivate(m);
      return;
    default:
      TCustomForm::WndProc(m);
  }
}

void TsgPopupForm::WMActivate(TMessage& m) {
  TCustomForm::WndProc(m);
  // The owner's caption stays drawn as active.
  if (ownerForm_ && ownerForm_->HandleAllocated())
    SendMessageW(ownerForm_->Handle(), WM_NCACTIVATE, TRUE, 0);
  if (LOWORD(m.WParam) != WA_INACTIVE || !popup_ || popup_->StaysOpen()) return;
  auto* other = dynamic_cast<TsgPopupForm*>(
      classlib::TWinControl::FindControl(reinterpret_cast<HWND>(m.LParam)));
  TsgPopup* otherPopup = other ? other->Popup() : nullptr;
  if (otherPopup && !otherPopup->StaysOpen()) {
    // A popup opened from this one keeps it open; going back to an
    // earlier one closes this one.
    const int mine = OpenIndex(popup_), theirs = OpenIndex(otherPopup);
    if (theirs >= 0 && mine >= 0 && theirs < mine) popup_->ClosePopup();
    return;
  }
  // Last step: closing handles messages, and this form may be freed by it.
  CloseAllPopups();
}

void TsgPopupForm::WMMouseActivate(TMessage& m) { m.Result = ownerForm_ ? MA_NOACTIVATE : 0; }

// ---- TsgPopup

CL_CLASS(TsgPopup) {
  c.Bool("IsOpen", &TsgPopup::IsOpen, &TsgPopup::SetIsOpen).Default(false);
  c.Float("HorizontalOffset", &TsgPopup::HorizontalOffset, &TsgPopup::SetHorizontalOffset,
          &classlib::TypeInfo_Single)
      .FloatDefault(0);
  c.Float("VerticalOffset", &TsgPopup::VerticalOffset, &TsgPopup::SetVerticalOffset,
          &classlib::TypeInfo_Single)
      .FloatDefault(0);
  c.Enum("Placement", &TsgPopup::Placement, &TsgPopup::SetPlacement, &TypeInfo_TsgPlacement)
      .Default(sgPlacementBottom);
  c.Object("PlacementTarget", &TsgPopup::PlacementTarget, &TsgPopup::SetPlacementTarget);
  c.Object("PlacementRectangle", &TsgPopup::PlacementRectangle, &TsgPopup::SetPlacementRectangle);
  c.Bool("StaysOpen", &TsgPopup::StaysOpen, &TsgPopup::SetStaysOpen).Default(false);
  c.Object("Style", &TsgPopup::Style, &TsgPopup::SetStyle);
  c.Bool("DragWithParent", &TsgPopup::DragWithParent, &TsgPopup::SetDragWithParent).Default(false);
  c.Event("OnClosePopup", &TsgPopup::OnClosePopup, &TsgPopup::OnClosePopup);
  c.Bool("Visible", &TsgPopup::Visible, &TsgPopup::SetVisible).Default(false);
}

TsgPopup::TsgPopup(TComponent* AOwner)
    : TsgControl(AOwner),
      placementRectangle_(classlib::New<TsgBounds>(TsgRect{0, 0, 0, 0})),
      alive_(std::make_shared<bool>(true)) {
  SetVisible(false);
  CanFocused = true;
}

TsgPopup::~TsgPopup() { classlib::Free(placementRectangle_); }

void TsgPopup::BeforeDestruction() {
  Destroying();
  if (form_) {
    if (closing_)
      FinishClose(false);  // a close waiting for its animations ends here
    else
      ClosePopup();
  }
  classlib::Free(followTimer_);
  followTimer_ = nullptr;
  LeaveOpenList(this);
  *alive_ = false;
  SetPlacementTarget(nullptr);
  SetStyle(nullptr);
  TsgControl::BeforeDestruction();
}

void TsgPopup::SetIsOpen(bool v) {
  if (v == isOpen_) return;
  if (IsDesignTime()) {
    isOpen_ = false;
    return;
  }
  isOpen_ = v;
  if (v)
    Popup();
  else
    ClosePopup();
}

void TsgPopup::SetPlacementTarget(TsgVisualObject* v) {
  if (v == placementTarget_) return;
  if (placementTarget_) placementTarget_->RemoveFreeNotification(this);
  placementTarget_ = v;
  if (v) v->FreeNotification(this);
}

void TsgPopup::SetStyle(TsgResources* v) {
  if (v == style_) return;
  if (style_) style_->RemoveFreeNotification(this);
  style_ = v;
  if (v) v->FreeNotification(this);
}

void TsgPopup::SetModalResult(int v) {
  modalResult_ = v;
  if (form_) form_->SetModalResult(v);
}

void TsgPopup::Notification(TComponent* component, classlib::TOperation operation) {
  TsgControl::Notification(component, operation);
  if (operation != classlib::TOperation::opRemove || !component) return;
  if (component == placementTarget_) placementTarget_ = nullptr;
  if (component == savedParent_) savedParent_ = nullptr;
  if (component == style_) style_ = nullptr;
}

void TsgPopup::FormGone(TsgPopupForm* form) {
  // Leaves the form's scene while it still exists: the scene frees its
  // roots. A close waiting for its animations is finished here.
  if (form == form_) FinishClose(true);
}

TsgVisualObject* TsgPopup::Target() const {
  if (placementTarget_) return placementTarget_;
  TsgObject* parent = Parent() ? Parent() : savedParent_;
  return parent ? parent->Visual() : nullptr;
}

void TsgPopup::MoveForm(int left, int top, bool keepInMonitor) {
  if (!form_) return;
  const int w = form_->Width(), h = form_->Height();
  if (keepInMonitor) {
    const classlib::TRect mon = form_->MonitorRect();
    sgKeepInMonitor(left, top, w, h, mon.left, mon.top, mon.right - mon.left, mon.bottom - mon.top);
  }
  form_->SetBounds(left, top, w, h);
}

void TsgPopup::ApplyPlacement() {
  if (!form_) return;
  TsgPlacementInput in;
  in.Placement = placement_;
  in.Width = Width();
  in.Height = Height();
  in.HorizontalOffset = horizontalOffset_;
  in.VerticalOffset = verticalOffset_;
  in.Rectangle = placementRectangle_->GetRect();
  in.RectangleSet = !placementRectangle_->IsEmpty();
  TsgVisualObject* target = Target();
  if (sgPlacementUsesPoint(placement_)) {
    TsgPoint p;
    if (target) {
      p = target->LocalToAbsolute(sgPlacementPointOnTarget(in, target->Width(), target->Height()));
      p = {static_cast<float>(sgTruncCoord(p.X)), static_cast<float>(sgTruncCoord(p.Y))};
      if (IsgScene* sc = target->Scene() ? target->Scene() : Scene()) p = sc->LocalToScreen(p);
      MoveForm(sgRoundCoord(p.X), sgRoundCoord(p.Y), true);
    } else {
      p = sgPlacementPointOnRect(in);
      MoveForm(sgTruncCoord(p.X), sgTruncCoord(p.Y), true);
    }
    return;
  }
  if (placement_ == sgPlacementAbsolute) {
    MoveForm(sgRoundCoord(in.Rectangle.Left), sgRoundCoord(in.Rectangle.Top), false);
    return;
  }
  // The mouse kinds place once, while the popup opens: IsOpen is stored
  // before the opening starts, so the form not yet shown tells it.
  if (form_->Showing()) return;
  POINT cursor{};
  GetCursorPos(&cursor);
  const int left =
      placement_ == sgPlacementMouseCenter ? sgMouseCenterLeft(cursor.x, in.Width) : cursor.x;
  MoveForm(left, cursor.y, target != nullptr);
}

void TsgPopup::Popup() {
  if (closing_) {
    isOpen_ = false;
    return;
  }
  if (form_) {
    ClosePopup();
    return;
  }
  const TsgMatrix m = GetAbsoluteMatrix();
  savedScale_ = Scale()->GetPoint();
  savedParent_ = Parent();
  if (savedParent_) savedParent_->FreeNotification(this);

  auto* form = classlib::New<TsgPopupForm>(classlib::Application);
  auto* owner = dynamic_cast<classlib::TCustomForm*>(Owner());
  if (IsgScene* sc = Scene())
    if (auto* sceneForm = dynamic_cast<classlib::TCustomForm*>(sc->GetOwner())) owner = sceneForm;
  form->SetOwnerForm(owner);
  form_ = form;

  // The popup keeps its size on the screen.
  const float sx = UsableScale(m.m11), sy = UsableScale(m.m22);
  form->SetBounds(form->Left(), form->Top(), sgRoundCoord(sx * Width()),
                  sgRoundCoord(sy * Height()));
  Scale()->SetPoint({sx, sy});
  ApplyPlacement();
  form->SetPopup(this);
  form->SetClosedByForm(false);

  auto* scene = classlib::New<TsgScene>(form);
  popupScene_ = scene;
  scene->SetTransparency(true);
  scene->SetParent(form);
  scene->SetAlign(classlib::TAlign::alClient);
  TsgResources* book = style_;
  if (!book && Scene()) book = Scene()->GetStyle();
  scene->SetStyle(book);
  scene->SetBounds(0, 0, sgRoundCoord(Width()), sgRoundCoord(Height()));

  SetVisible(true);
  scene->AddObject(this);
  scene->SetActiveControl(this);
  SetResource(Resource());  // the style is looked up again, in the new scene
  ApplyResource();
  form->Show();
  if (scene->CanFocus()) scene->SetFocus();
  SetFocus();

  if (!staysOpen_) JoinOpenList(this);
  isOpen_ = true;
  ApplyTriggerEffect(this, "IsOpen");
  StartTriggerAnimation(this, "IsOpen");
  if (dragWithParent_ && staysOpen_) {
    followTimer_ = classlib::New<classlib::TTimer>(nullptr);
    followTimer_->SetInterval(kFollowIntervalMs);
    followTimer_->SetOnTimer(classlib::EventOf<&TsgPopup::FollowTick>(this));
    followTimer_->SetEnabled(true);
  }
}

void TsgPopup::FollowTick(classlib::TObject*) { ApplyPlacement(); }

void TsgPopup::ClosePopup() {
  if (closing_ || !form_) return;
  if (modalRun_ && modalResult_ == 0) {
    // The modal loop closes the popup once it sees the result.
    SetModalResult(kModalCancel);
    return;
  }
  classlib::Free(followTimer_);
  followTimer_ = nullptr;
  closing_ = true;
  isOpen_ = false;
  if (!IsDestroying()) {
    ApplyTriggerEffect(this, "IsOpen");
    // The wait handles messages: this popup or its form may be freed
    // meanwhile, and their destruction then finishes the close.
    const std::shared_ptr<bool> alive = alive_;
    StartTriggerAnimationWait(this, "IsOpen");
    if (!*alive || !closing_) return;
  }
  FinishClose(true);
}

void TsgPopup::FinishClose(bool tell) {
  SetVisible(false);
  TsgPopupForm* form = form_;
  TsgScene* scene = popupScene_;
  form_ = nullptr;
  popupScene_ = nullptr;
  if (scene) scene->RemoveObject(this);
  SetScene(nullptr);
  if (form) {
    // Always forgotten: a form closing by itself outlives the call, and a
    // popup freed before it must not be reached through it.
    form->SetPopup(nullptr);
    if (!form->ClosedByForm()) form->Release();
  }
  Scale()->SetPoint(savedScale_);
  TsgObject* parent = savedParent_;
  savedParent_ = nullptr;
  if (parent) {
    parent->RemoveFreeNotification(this);
    if (!IsDestroying()) parent->AddObject(this);
  }
  closing_ = false;
  LeaveOpenList(this);
  if (tell && OnClosePopup) OnClosePopup(this);
}

int TsgPopup::PopupModal() {
  if (closing_) {
    isOpen_ = false;
    return 0;
  }
  if (form_) {
    if (modalRun_) {
      SetModalResult(kModalCancel);
      modalRun_ = false;
    } else {
      ClosePopup();
    }
    return 0;
  }
  Popup();
  modalResult_ = 0;
  modalRun_ = true;
  const std::shared_ptr<bool> alive = alive_;
  classlib::TApplication* app = classlib::Application;
  do {
    app->HandleMessage();
    // Freed by a handler: nothing of it may be touched any more.
    if (!*alive) return kModalCancel;
    if (app->Terminated()) SetModalResult(kModalCancel);
    if (form_) {
      ApplyPlacement();
      modalResult_ = form_->ModalResult();
    } else if (modalResult_ == 0) {
      // The form went without a result: nothing is left to wait for.
      modalResult_ = kModalCancel;
    }
  } while (modalResult_ == 0 && modalRun_);
  // Cleared before the close, so that it closes instead of answering 2.
  modalRun_ = false;
  const int result = modalResult_;
  ClosePopup();
  return result;
}

void TsgPopup::PopupOpenTransient() {
  staysOpen_ = false;
  SetIsOpen(true);
}

void TsgPopup::DialogKey(uint16_t& key, TShiftState shift) {
  TsgControl::DialogKey(key, shift);
  if (key == VK_ESCAPE && isOpen_ && !staysOpen_) {
    SetIsOpen(false);
    key = 0;
  }
}

void TsgPopup::Paint() {
  TsgControl::Paint();
  if (!IsDesignTime()) return;
  TsgCanvas* canvas = Canvas();
  if (!canvas) return;
  const int state = canvas->SaveState();
  canvas->Stroke()->SetStyle(sgBrushSolid);
  canvas->Stroke()->SetSolidColor(0xA0909090);
  canvas->StrokeThickness = 1.0f;
  canvas->SetStrokeDash(sgDashDash);
  TsgRect r = GetLocalRect();
  sgInflateRect(r, -0.5f, -0.5f);
  canvas->DrawRect(r, 0, 0, sgAllCorners, GetAbsoluteOpacity(), sgCornerRound);
  canvas->RestoreState(state);
}

// ---- TsgMessagePopup

CL_CLASS(TsgMessagePopup) {
  c.Bool("DisableScene", &TsgMessagePopup::DisableScene, &TsgMessagePopup::SetDisableScene)
      .Default(true);
}

TsgMessagePopup::TsgMessagePopup(TComponent* AOwner) : TsgPopup(AOwner) {
  SetStaysOpen(true);
  SetDragWithParent(true);
  disableScene_ = true;
}

void TsgMessagePopup::ApplyPlacement() {
  const float w = Width();
  if (TsgVisualObject* target = PlacementTarget()) {
    SetHorizontalOffset(sgCenteringOffset(target->Width(), w));
  } else if (auto* form = dynamic_cast<classlib::TCustomForm*>(Owner())) {
    POINT origin{0, 0};
    if (form->HandleAllocated()) ClientToScreen(form->Handle(), &origin);
    const auto x = static_cast<float>(origin.x), y = static_cast<float>(origin.y);
    PlacementRectangle()->SetRect({x, y, x + w, y});
    SetHorizontalOffset(sgCenteringOffset(static_cast<float>(form->Width()), w));
  }
  TsgPopup::ApplyPlacement();
}

int TsgMessagePopup::PopupModal() {
  IsgScene* sc = Scene();
  TsgObject* rootObj = sc ? sc->GetRoot() : nullptr;
  TsgVisualObject* root = rootObj ? rootObj->Visual() : nullptr;
  if (!root || !disableScene_) return TsgPopup::PopupModal();
  const bool wasEnabled = root->Enabled();
  disabledRoot_ = root;
  root->FreeNotification(this);
  root->SetEnabled(false);
  const std::shared_ptr<bool> alive = Alive();
  const int result = TsgPopup::PopupModal();
  if (!*alive) return result;
  if (disabledRoot_) {
    disabledRoot_->RemoveFreeNotification(this);
    disabledRoot_->SetEnabled(wasEnabled);
  }
  disabledRoot_ = nullptr;
  return result;
}

void TsgMessagePopup::Notification(TComponent* component, classlib::TOperation operation) {
  TsgPopup::Notification(component, operation);
  if (operation == classlib::TOperation::opRemove && component && component == disabledRoot_)
    disabledRoot_ = nullptr;
}

}  // namespace kelm::scene
