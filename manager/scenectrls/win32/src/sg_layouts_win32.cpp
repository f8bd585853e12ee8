// The window-control layout and the image-list helpers.
#include "scenectrls/sg_layouts_win32.h"

#include <cmath>

#include "classlib/classdef.h"

namespace kelm::scenectrls {

using classlib::TComponent;

CL_CLASS(TsgNonSGLayout) {
  c.Object("NonSGControl", &TsgNonSGLayout::NonSGControl, &TsgNonSGLayout::SetNonSGControl);
}

TsgNonSGLayout::TsgNonSGLayout(TComponent* AOwner)
    : TsgLayout(AOwner), timer_(classlib::New<TsgTimer>(this)) {
  timer_->SetEnabled(false);
  timer_->SetInterval(100);
  timer_->SetOnTimer(classlib::EventOf<&TsgNonSGLayout::Poll>(this));
}

void TsgNonSGLayout::BeforeDestruction() {
  TsgTimer* timer = timer_;
  timer_ = nullptr;
  classlib::Free(timer);
  inherited::BeforeDestruction();
}

bool TsgNonSGLayout::IsSceneWindow(classlib::TWinControl* c) const {
  return c && Scene() && static_cast<TComponent*>(c) == Scene()->GetComponent();
}

void TsgNonSGLayout::SetNonSGControl(classlib::TWinControl* v) {
  if (v == control_ || IsSceneWindow(v)) return;
  if (control_) control_->RemoveFreeNotification(this);
  control_ = v;
  if (control_) control_->FreeNotification(this);
  if (timer_) timer_->SetEnabled(control_ && control_->Visible());
  Realign();
}

void TsgNonSGLayout::Notification(TComponent* component, classlib::TOperation operation) {
  inherited::Notification(component, operation);
  if (operation != classlib::TOperation::opRemove) return;
  if (component == control_) {
    control_ = nullptr;
    if (timer_) timer_->SetEnabled(false);
  }
  if (component == timer_) timer_ = nullptr;
}

bool TsgNonSGLayout::IsVisibleWithParents() {
  const bool visible = inherited::IsVisibleWithParents();
  if (!control_ || IsSceneWindow(control_)) return visible;
  if (control_->Visible() != visible) {
    control_->SetVisible(visible);
    if (visible) Realign();
  }
  // The poll runs exactly while the control shows.
  if (timer_) timer_->SetEnabled(control_ && control_->Visible());
  return visible;
}

void TsgNonSGLayout::Poll(classlib::TObject* sender) {
  (void)sender;
  IsVisibleWithParents();
}

void TsgNonSGLayout::PlaceControl() {
  if (!control_ || !control_->Visible() || IsSceneWindow(control_)) return;
  const scene::TsgRect r = GetAbsoluteRect();
  control_->SetBounds(static_cast<int>(std::lround(r.Left)), static_cast<int>(std::lround(r.Top)),
                      static_cast<int>(std::lround(r.Right - r.Left)),
                      static_cast<int>(std::lround(r.Bottom - r.Top)));
}

void TsgNonSGLayout::Realign() {
  inherited::Realign();
  PlaceControl();
}

void TsgNonSGLayout::MatrixChanged(classlib::TObject* sender) {
  inherited::MatrixChanged(sender);
  PlaceControl();
}

void TsgNonSGLayout::Paint() {
  inherited::Paint();
  if (control_ && !control_->Visible()) IsVisibleWithParents();
}

int sgImageListCount(classlib::TCustomImageList* list) { return list ? list->Count() : 0; }

scene::TsgBitmap* sgImageListItem(classlib::TCustomImageList* list, int index) {
  if (!list || index < 0 || index >= list->Count()) return nullptr;
  auto* bitmap = classlib::New<scene::TsgBitmap>(list->Width(), list->Height());
  uint32_t* bits = bitmap->Bits();
  for (int y = 0; y < list->Height(); ++y)
    for (int x = 0; x < list->Width(); ++x)
      bits[static_cast<size_t>(y) * static_cast<size_t>(list->Width()) + static_cast<size_t>(x)] =
          scene::sgPremultiplyAlpha(list->PixelOf(index, x, y));
  return bitmap;
}

}  // namespace kelm::scenectrls
