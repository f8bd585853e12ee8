// Layouts and the scroll box.
#include "scenectrls/sg_layouts.h"

#include "classlib/classdef.h"
#include "scene/sg_canvas.h"
#include "scene/sg_effects.h"
#include "scene/sg_objects.h"
#include "scenectrls/sg_panels.h"
#include "sg_flag_guard.h"

namespace kelm::scenectrls {

using classlib::TComponent;
using scene::TsgObject;
using scene::TsgPoint;
using scene::TsgRect;
using scene::TsgVisualObject;

namespace {
// A style name given by a constructor: only stored, the style is applied
// once the control is in a scene.
void StartResource(scene::TsgControl* c, const char* name) {
  c->BeginUpdate();
  c->SetResource(name);
  c->EndUpdate();
}

void PaintDesignFrame(TsgVisualObject* v) {
  if (!v->IsDesignTime() || v->Locked() || v->DesignHide()) return;
  if (scene::TsgCanvas* canvas = v->Canvas())
    scene::DrawDesignOutline(canvas, v->GetLocalRect(), v->GetAbsoluteOpacity());
}
}  // namespace

// ---- TsgLayout
CL_CLASS(TsgLayout) {
  c.Bool("HitTest", &TsgLayout::HitTest, &TsgLayout::SetHitTest).Default(false);
}

TsgLayout::TsgLayout(TComponent* AOwner) : TsgVisualObject(AOwner) { SetHitTest(false); }

void TsgLayout::Paint() { PaintDesignFrame(this); }

// ---- TsgScaledLayout
CL_CLASS(TsgScaledLayout) {
  c.Float("OriginalWidth", &TsgScaledLayout::OriginalWidth, &TsgScaledLayout::SetOriginalWidth,
          &classlib::TypeInfo_Single);
  c.Float("OriginalHeight", &TsgScaledLayout::OriginalHeight, &TsgScaledLayout::SetOriginalHeight,
          &classlib::TypeInfo_Single);
}

TsgScaledLayout::TsgScaledLayout(TComponent* AOwner)
    : TsgVisualObject(AOwner), originalWidth_(Width()), originalHeight_(Height()) {}

void TsgScaledLayout::SetOriginalWidth(float v) {
  if (v == originalWidth_) return;
  // A scale by a width of 0 would divide by it.
  originalWidth_ = v < 1 ? 1 : v;
  MarkMatrixDirty();
}

void TsgScaledLayout::SetOriginalHeight(float v) {
  if (v == originalHeight_) return;
  originalHeight_ = v < 1 ? 1 : v;
  MarkMatrixDirty();
}

scene::TsgMatrix TsgScaledLayout::GetChildrenMatrix() {
  // The designer resizes the layout instead of scaling its children.
  if (IsDesignTime()) {
    originalHeight_ = Height();
    originalWidth_ = Width();
  }
  scene::TsgMatrix m = scene::IdentityMatrix;
  m.m11 = Width() / originalWidth_;
  m.m22 = Height() / originalHeight_;
  return m;
}

void TsgScaledLayout::SetWidth(float v) {
  inherited::SetWidth(v);
  if (IsDesignTime())
    SetOriginalWidth(Width());
  else
    MarkMatrixDirty();
}

void TsgScaledLayout::SetHeight(float v) {
  inherited::SetHeight(v);
  if (IsDesignTime())
    SetOriginalHeight(Height());
  else
    MarkMatrixDirty();
}

void TsgScaledLayout::Realign() {
  if (auto* box = dynamic_cast<TsgScrollBox*>(Parent()); box && box->UpdateCount() > 0) return;
  inherited::Realign();
  if (IsDesignTime()) return;
  MarkMatrixDirty();
  MarkUpdateRectDirty();
}

void TsgScaledLayout::Paint() { PaintDesignFrame(this); }

// ---- TsgGridLayout
CL_CLASS(TsgGridLayout) {
  c.Float("ItemHeight", &TsgGridLayout::ItemHeight, &TsgGridLayout::SetItemHeight,
          &classlib::TypeInfo_Single);
  c.Float("ItemWidth", &TsgGridLayout::ItemWidth, &TsgGridLayout::SetItemWidth,
          &classlib::TypeInfo_Single);
  c.Enum("Orientation", &TsgGridLayout::Orientation, &TsgGridLayout::SetOrientation,
         &TypeInfo_TsgOrientation)
      .Default(sgHorizontal);
}

TsgGridLayout::TsgGridLayout(TComponent* AOwner) : TsgVisualObject(AOwner) {}

void TsgGridLayout::SetItemWidth(float v) {
  if (v == itemWidth_) return;
  itemWidth_ = v;
  Realign();
}

void TsgGridLayout::SetItemHeight(float v) {
  if (v == itemHeight_) return;
  itemHeight_ = v;
  Realign();
}

void TsgGridLayout::SetOrientation(TsgOrientation v) {
  if (v == orientation_) return;
  orientation_ = v;
  Realign();
}

void TsgGridLayout::Realign() {
  // Placing a child realigns its parent again.
  if (gridRealigning_) return;
  FlagGuard guard(gridRealigning_);
  const TsgRect m = Margins()->GetRect();
  TsgPoint p{m.Left, m.Top};
  for (int i = 0; i < GetChildrenCount(); ++i) {
    TsgVisualObject* c = GetChild(i)->Visual();
    if (!c) continue;
    const TsgRect pad = c->Padding()->GetRect();
    c->SetBounds(p.X + pad.Left, p.Y + pad.Top, itemWidth_ - pad.Left - pad.Right,
                 itemHeight_ - pad.Top - pad.Bottom);
    if (orientation_ == sgHorizontal) {
      p.X += itemWidth_;
      if (Width() - m.Left - m.Right < p.X + itemWidth_) {
        p.X = m.Left;
        p.Y += itemHeight_;
      }
    } else {
      p.Y += itemHeight_;
      if (Height() - m.Top - m.Bottom < p.Y + itemHeight_) {
        p.Y = m.Top;
        p.X += itemWidth_;
      }
    }
  }
}

// ---- TsgSplitLayout
CL_CLASS(TsgSplitLayout) {
  c.Bool("HitTest", &TsgSplitLayout::HitTest, &TsgSplitLayout::SetHitTest).Default(false);
}

TsgSplitLayout::TsgSplitLayout(TComponent* AOwner) : TsgVisualObject(AOwner) { SetHitTest(false); }

// ---- TsgScrollContent
CL_CLASS(TsgScrollContent) {}

TsgScrollContent::TsgScrollContent(TComponent* AOwner) : TsgContent(AOwner) {
  SetClipChildren(true);
}

TsgScrollBox* TsgScrollContent::Box() const { return dynamic_cast<TsgScrollBox*>(Parent()); }

void TsgScrollContent::AddObject(TsgObject* child) {
  inherited::AddObject(child);
  if (TsgScrollBox* box = Box()) box->ContentAddObject(child);
}

void TsgScrollContent::RemoveObject(TsgObject* child) {
  TsgScrollBox* box = Box();
  if (box) box->ContentBeforeRemoveObject(child);
  inherited::RemoveObject(child);
  if (box) box->ContentRemoveObject(child);
}

TsgRect TsgScrollContent::GetClipRect() {
  TsgScrollBox* box = Box();
  if (!box || !box->ContentLayout()) return inherited::GetClipRect();
  TsgRect r = box->ContentLayout()->GetLocalRect();
  if (TsgScrollBar* v = box->VScrollBar(); v && v->Enabled()) scene::sgOffsetRect(r, 0, v->Value());
  if (TsgScrollBar* h = box->HScrollBar(); h && h->Enabled()) scene::sgOffsetRect(r, h->Value(), 0);
  return r;
}

TsgRect TsgScrollContent::GetUpdateRect() {
  TsgScrollBox* box = Box();
  if (!box) return inherited::GetUpdateRect();
  if (UpdateRectDirty()) {
    // The base computation clears the stale mark; a scrolled child never
    // invalidates more than the viewport.
    inherited::GetUpdateRect();
    viewportUpdate_ =
        box->ContentLayout() ? box->ContentLayout()->GetUpdateRect() : box->GetUpdateRect();
  }
  return viewportUpdate_;
}

TsgVisualObject* TsgScrollContent::ObjectAtPoint(const TsgPoint& p) {
  TsgVisualObject* hit = inherited::ObjectAtPoint(p);
  if (!hit) return nullptr;
  // Children scrolled out of view cannot be hit.
  return scene::sgPtInRect(AbsoluteToLocal(p), GetClipRect()) ? hit : nullptr;
}

void TsgScrollContent::Paint() {
  inherited::Paint();
  scene::TsgCanvas* canvas = Canvas();
  TsgScrollBox* box = Box();
  if (!canvas || !box || !box->ContentLayout()) return;
  const int state = canvas->SaveState();
  try {
    canvas->SetMatrix(GetAbsoluteMatrix());
    canvas->IntersectClipRect(GetClipRect());
    box->PaintContent(canvas, GetLocalRect());
  } catch (...) {
    canvas->RestoreState(state);
    throw;
  }
  canvas->RestoreState(state);
}

// ---- TsgScrollBox
CL_CLASS(TsgScrollBox) {
  c.Bool("AutoHide", &TsgScrollBox::AutoHide, &TsgScrollBox::AutoHide).Default(true);
  c.Bool("Animated", &TsgScrollBox::Animated, &TsgScrollBox::Animated).Default(true);
  c.Bool("DisableMouseWheel", &TsgScrollBox::DisableMouseWheel, &TsgScrollBox::DisableMouseWheel)
      .Default(false);
  c.Bool("MouseTracking", &TsgScrollBox::MouseTracking, &TsgScrollBox::MouseTracking)
      .Default(false);
  c.Bool("ShowScrollBars", &TsgScrollBox::ShowScrollBars, &TsgScrollBox::SetShowScrollBars)
      .Default(true);
  c.Bool("ShowSizeGrip", &TsgScrollBox::ShowSizeGrip, &TsgScrollBox::SetShowSizeGrip)
      .Default(false);
  c.Bool("UseSmallScrollBars", &TsgScrollBox::UseSmallScrollBars,
         &TsgScrollBox::SetUseSmallScrollBars)
      .Default(false);
}

TsgScrollBox::TsgScrollBox(TComponent* AOwner) : TsgControl(AOwner) {
  AutoCapture = true;
  content_ = classlib::New<TsgScrollContent>(this);
  AddObject(content_);
  content_->SetStored(false);
  content_->SetLocked(true);
  content_->SetHitTest(false);
}

TsgScrollBox::~TsgScrollBox() {
  // The owned content is freed with the box's other components.
  content_ = nullptr;
}

void TsgScrollBox::Notification(TComponent* component, classlib::TOperation operation) {
  inherited::Notification(component, operation);
  if (operation != classlib::TOperation::opRemove) return;
  // The animations live under the style's bars and go with an old style.
  if (component == hScrollAnimation_) hScrollAnimation_ = nullptr;
  if (component == vScrollAnimation_) vScrollAnimation_ = nullptr;
  if (component == content_) content_ = nullptr;
}

void TsgScrollBox::SetShowScrollBars(bool v) {
  if (v == showScrollBars_) return;
  showScrollBars_ = v;
  Realign();
}

void TsgScrollBox::SetShowSizeGrip(bool v) {
  if (v == showSizeGrip_) return;
  showSizeGrip_ = v;
  ApplyStyle();
}

void TsgScrollBox::SetUseSmallScrollBars(bool v) {
  if (v == useSmallScrollBars_) return;
  useSmallScrollBars_ = v;
  ApplyStyle();
}

void TsgScrollBox::AddObject(TsgObject* child) {
  const bool own = !content_ || child == content_ || child == StyleObject() ||
                   child->TagText() == u"self" || dynamic_cast<scene::TsgEffect*>(child) ||
                   dynamic_cast<scene::TsgAnimation*>(child);
  if (own)
    inherited::AddObject(child);
  else
    content_->AddObject(child);
}

// ---- style
void TsgScrollBox::HideBar(const char* name) {
  if (auto* part = dynamic_cast<TsgVisualObject*>(FindResource(name))) part->SetVisible(false);
}

void TsgScrollBox::TakeBars(const char* vertical, const char* horizontal) {
  vScrollBar_ = dynamic_cast<TsgScrollBar*>(FindResource(vertical));
  hScrollBar_ = dynamic_cast<TsgScrollBar*>(FindResource(horizontal));
}

void TsgScrollBox::ApplyStyle() {
  inherited::ApplyStyle();
  if (auto* grip = dynamic_cast<TsgVisualObject*>(FindResource("sizegrip")))
    grip->SetVisible(showSizeGrip_);
  bool small = false;
  if (useSmallScrollBars_) {
    TakeBars("vsmallscrollbar", "hsmallscrollbar");
    small = vScrollBar_ && hScrollBar_;
    // The full bars are hidden only when the slim pair takes their place:
    // a style without it keeps them showing.
    if (small) {
      HideBar("vscrollbar");
      HideBar("hscrollbar");
    }
  }
  if (!small) {
    TakeBars("vscrollbar", "hscrollbar");
    HideBar("vsmallscrollbar");
    HideBar("hsmallscrollbar");
  }
  for (TsgScrollBar* bar : {vScrollBar_, hScrollBar_}) {
    if (!bar) continue;
    bar->OnChange = bar == vScrollBar_ ? classlib::EventOf<&TsgScrollBox::VScrollChangeEvent>(this)
                                       : classlib::EventOf<&TsgScrollBox::HScrollChangeEvent>(this);
    bar->SetLocked(true);
    // Tag keeps the alignment the style gave, to put back after hiding.
    if (bar->Tag() == 0) bar->SetTag(bar->Align());
  }
  contentLayout_ = dynamic_cast<TsgVisualObject*>(FindResource("content"));
  Realign();
  hScrollAnimation_ = nullptr;
  vScrollAnimation_ = nullptr;
}

void TsgScrollBox::FreeStyle() {
  inherited::FreeStyle();
  contentLayout_ = nullptr;
  hScrollBar_ = nullptr;
  vScrollBar_ = nullptr;
}

// ---- content and bars
void TsgScrollBox::GetContentBounds(TsgRect& r) {
  r = {0, 0, Width(), Height()};
  if (!content_ || !contentLayout_) return;
  r = contentLayout_->GetLocalRect();
  for (int i = 0; i < content_->GetChildrenCount(); ++i) {
    TsgVisualObject* c = content_->GetChild(i)->Visual();
    if (c && c->Visible()) r = scene::sgUnionRect(r, c->GetParentedRect());
  }
}

void TsgScrollBox::RealignContent(const TsgRect& r) {
  if (!content_ || !contentLayout_) return;
  content_->SetBounds(r.Left, r.Top, scene::sgRectWidth(r), scene::sgRectHeight(r));
  content_->MarkUpdateRectDirty();
}

void TsgScrollBox::Realign() {
  if (IsDestroying()) return;
  inherited::Realign();
  if (IsLoading() || !contentLayout_ || boxRealigning_ || UpdateCount() >= 1) return;
  FlagGuard guard(boxRealigning_);
  const TsgRect before = contentLayout_->GetLocalRect();
  UpdateScrollBars();
  const TsgRect after = contentLayout_->GetLocalRect();
  // The bars' coming or going changed the viewport: once more.
  if (scene::sgRectWidth(after) != scene::sgRectWidth(before) ||
      scene::sgRectHeight(after) != scene::sgRectHeight(before))
    UpdateScrollBars();
}

void TsgScrollBox::ShowBar(TsgScrollBar* bar, bool vertical) {
  if (showScrollBars_) {
    bar->SetOpacity(1);
    if (vertical) bar->SetHitTest(true);
    bar->SetAlign(static_cast<scene::TsgAlign>(bar->Tag()));
  } else {
    bar->SetOpacity(0);
    bar->SetAlign(scene::vaNone);
    // Out of the box, where it neither shows nor takes the mouse.
    if (vertical)
      bar->Position()->SetX(Width() + 100);
    else
      bar->Position()->SetY(Height() + 100);
  }
}

void TsgScrollBox::UpdateScrollBars() {
  TsgRect r;
  GetContentBounds(r);
  if (scene::sgRectWidth(r) * scene::sgRectHeight(r) == 0) return;
  scene::sgOffsetRect(r, contentLayout_->Position()->X(), contentLayout_->Position()->Y());
  if (hScrollBar_ && hScrollBar_->Enabled()) scene::sgOffsetRect(r, -hScrollOffset_, 0);
  if (vScrollBar_ && vScrollBar_->Enabled()) scene::sgOffsetRect(r, 0, -vScrollOffset_);
  RealignContent(r);
  const float height = scene::sgRectHeight(r), width = scene::sgRectWidth(r);
  TsgVisualObject* frame = contentLayout_->VisualParent();
  if (frame) frame->BeginUpdate();
  if (vScrollBar_) {
    vScrollBar_->SetEnabled(height > contentLayout_->Height());
    if (AutoHide) vScrollBar_->SetVisible(vScrollBar_->Enabled());
    vScrollBar_->SetOpacity(showScrollBars_ ? 1 : 0);
    vScrollBar_->SetAlign(showScrollBars_ ? static_cast<scene::TsgAlign>(vScrollBar_->Tag())
                                          : scene::vaNone);
  }
  if (hScrollBar_) {
    hScrollBar_->SetEnabled(width > contentLayout_->Width());
    if (AutoHide) hScrollBar_->SetVisible(hScrollBar_->Enabled());
    hScrollBar_->SetOpacity(showScrollBars_ ? 1 : 0);
    hScrollBar_->SetAlign(showScrollBars_ ? static_cast<scene::TsgAlign>(hScrollBar_->Tag())
                                          : scene::vaNone);
    // The two bars do not overlap in the corner.
    if (showScrollBars_ && vScrollBar_ && vScrollBar_->Enabled())
      hScrollBar_->Padding()->SetRight(vScrollBar_->Width());
  }
  if (frame) {
    frame->EndUpdate();
    frame->Realign();
  }
  if (vScrollBar_) {
    vScrollBar_->SetEnabled(height > contentLayout_->Height());
    if (AutoHide) vScrollBar_->SetVisible(vScrollBar_->Enabled());
    ShowBar(vScrollBar_, true);
    vScrollBar_->BringToFront();
    if (vScrollBar_->Visible()) {
      vScrollBar_->SetMax(height);
      vScrollBar_->SetViewportSize(contentLayout_->Height());
      vScrollBar_->SmallChange = vScrollBar_->ViewportSize() / 5;
      vScrollBar_->SetValue(vScrollOffset_);
    } else {
      vScrollBar_->SetValue(0);
    }
  }
  if (hScrollBar_) {
    hScrollBar_->SetEnabled(width > contentLayout_->Width());
    hScrollBar_->Padding()->SetRight(0);
    if (AutoHide) hScrollBar_->SetVisible(hScrollBar_->Enabled());
    ShowBar(hScrollBar_, false);
    if (showScrollBars_ && vScrollBar_ && vScrollBar_->Enabled())
      hScrollBar_->Padding()->SetRight(vScrollBar_->Width());
    hScrollBar_->BringToFront();
    if (hScrollBar_->Visible()) {
      hScrollBar_->SetMax(width);
      hScrollBar_->SetViewportSize(contentLayout_->Width());
      hScrollBar_->SmallChange = hScrollBar_->ViewportSize() / 5;
      hScrollBar_->SetValue(contentLayout_->Position()->X() - content_->Position()->X());
    } else {
      hScrollBar_->SetValue(0);
    }
  }
}

void TsgScrollBox::HScrollChange(classlib::TObject* sender) {
  (void)sender;
  if (!contentLayout_ || !hScrollBar_ || !content_) return;
  const float x = contentLayout_->Position()->X();
  content_->Position()->SetX(hScrollBar_->Visible() ? x - hScrollBar_->Value() : x);
  hScrollOffset_ = hScrollBar_->Value();
}

void TsgScrollBox::VScrollChange(classlib::TObject* sender) {
  (void)sender;
  if (!contentLayout_ || !vScrollBar_ || !content_) return;
  const float y = contentLayout_->Position()->Y();
  content_->Position()->SetY(vScrollBar_->Visible() ? y - vScrollBar_->Value() : y);
  vScrollOffset_ = vScrollBar_->Value();
}

// ---- queries
void TsgScrollBox::ContentRect(TsgRect& r) {
  r = contentLayout_ ? contentLayout_->GetParentedRect() : GetLocalRect();
}

float TsgScrollBox::VScrollBarValue() {
  return vScrollBar_ && vScrollBar_->Visible() ? vScrollBar_->Value() : 0;
}

float TsgScrollBox::HScrollBarValue() {
  return hScrollBar_ && hScrollBar_->Visible() ? hScrollBar_->Value() : 0;
}

float TsgScrollBox::ViewportHeight() {
  return contentLayout_ ? contentLayout_->Height() : Height();
}

float TsgScrollBox::ViewportWidth() { return contentLayout_ ? contentLayout_->Width() : Width(); }

void TsgScrollBox::CenterContent() {
  for (TsgScrollBar* bar : {vScrollBar_, hScrollBar_})
    if (bar && bar->Visible()) bar->SetValue((bar->Max() - bar->ViewportSize()) / 2);
}

// ---- animated scrolling
scene::TsgFloatAnimation* TsgScrollBox::ScrollAnimation(TsgScrollBar* bar,
                                                        scene::TsgFloatAnimation*& anim) {
  if (anim) return anim;
  anim = classlib::New<scene::TsgFloatAnimation>(this);
  anim->SetAnimationType(scene::TsgAnimationType::sgAnimationOut);
  anim->SetInterpolation(scene::TsgInterpolationType::sgInterpolationQuadratic);
  anim->SetDuration(0.7f);
  anim->SetPropertyName("Value");
  anim->SetStartFromCurrent(true);
  bar->AddObject(anim);
  return anim;
}

void TsgScrollBox::ScrollTo(TsgScrollBar* bar, scene::TsgFloatAnimation*& anim, float target) {
  scene::TsgFloatAnimation* a = ScrollAnimation(bar, anim);
  if (a->Running()) a->StopAtCurrent();
  a->SetStopValue(target);
  a->Start();
}

void TsgScrollBox::StopScrollAnimations() {
  for (scene::TsgFloatAnimation* a : {hScrollAnimation_, vScrollAnimation_})
    if (a && a->Running()) a->StopAtCurrent();
}

// ---- input
void TsgScrollBox::MouseWheel(scene::TShiftState shift, int delta, bool& handled) {
  inherited::MouseWheel(shift, delta, handled);
  // Without a viewport nothing scrolls.
  if (handled || DisableMouseWheel || !contentLayout_) return;
  const float steps = static_cast<float>(delta) / 120;
  // Only one bar moves, the vertical one when both show.
  const bool vertical = vScrollBar_ && vScrollBar_->Visible();
  TsgScrollBar* bar = vertical ? vScrollBar_ : hScrollBar_;
  if (!bar || !bar->Visible()) return;
  // Counted from where the bar stands now, so quick notches add up.
  const float target = bar->Value() - bar->SmallChange * 3 * steps;
  if (Animated)
    ScrollTo(bar, vertical ? vScrollAnimation_ : hScrollAnimation_, target);
  else
    bar->SetValue(target);
  handled = true;
}

void TsgScrollBox::MouseDown(scene::TMouseButton button, scene::TShiftState shift, float x,
                             float y) {
  inherited::MouseDown(button, shift, x, y);
  if (!MouseTracking || !contentLayout_ || button != scene::TMouseButton::mbLeft) return;
  mouseVelocity_ = {0, 0};
  lastMousePos_ = {x, y};
  tracking_ = true;
  StopScrollAnimations();
}

void TsgScrollBox::MouseMove(scene::TShiftState shift, float x, float y, float dx, float dy) {
  inherited::MouseMove(shift, x, y, dx, dy);
  if (!MouseTracking || !tracking_) return;
  // The content follows the pointer.
  if (vScrollBar_ && vScrollBar_->Visible()) {
    vScrollBar_->SetValue(vScrollBar_->Value() - (y - lastMousePos_.Y));
    mouseVelocity_.Y = y - lastMousePos_.Y;
  }
  if (hScrollBar_ && hScrollBar_->Visible()) {
    hScrollBar_->SetValue(hScrollBar_->Value() - (x - lastMousePos_.X));
    mouseVelocity_.X = x - lastMousePos_.X;
  }
  lastMousePos_ = {x, y};
}

void TsgScrollBox::MouseUp(scene::TMouseButton button, scene::TShiftState shift, float x, float y) {
  inherited::MouseUp(button, shift, x, y);
  if (!MouseTracking || !tracking_) return;
  tracking_ = false;
  if (!Animated || (mouseVelocity_.X == 0 && mouseVelocity_.Y == 0)) return;
  // A flick keeps moving and slows down.
  if (vScrollBar_ && vScrollBar_->Visible())
    ScrollTo(vScrollBar_, vScrollAnimation_, vScrollBar_->Value() - mouseVelocity_.Y * 7);
  if (hScrollBar_ && hScrollBar_->Visible())
    ScrollTo(hScrollBar_, hScrollAnimation_, hScrollBar_->Value() - mouseVelocity_.X * 7);
}

// ---- variants
CL_CLASS(TsgVertScrollBox) {}

TsgVertScrollBox::TsgVertScrollBox(TComponent* AOwner) : TsgScrollBox(AOwner) {
  StartResource(this, "scrollboxstyle");
}

void TsgVertScrollBox::GetContentBounds(TsgRect& r) {
  // The content never scrolls sideways.
  if (Content() && ContentLayout()) Content()->SetWidth(ContentLayout()->Width());
  inherited::GetContentBounds(r);
}

CL_CLASS(TsgFramedScrollBox) {}

CL_CLASS(TsgFramedVertScrollBox) {}

TsgFramedVertScrollBox::TsgFramedVertScrollBox(TComponent* AOwner) : TsgVertScrollBox(AOwner) {
  StartResource(this, "framedscrollboxstyle");
}

}  // namespace kelm::scenectrls
