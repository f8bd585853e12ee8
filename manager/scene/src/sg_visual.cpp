// The visual object: geometry, caches, setters, focus and input, hit tests.
// Painting is in sg_visual_paint.cpp, the layout in sg_align.cpp.
#include "scene/sg_visual.h"

#include <algorithm>
#include <cmath>
#include <functional>

#include "classlib/classdef.h"
#include "scene/sg_bitmap.h"
#include "scene/sg_canvas.h"

namespace kelm::scene {

using classlib::TComponent;
using classlib::TObject;
using classlib::TOperation;

IsgSceneDesigner* SceneDesigner = nullptr;

namespace {
TsgPopupMenuHook g_popupMenuHook = nullptr;

const classlib::TTypeInfo TypeInfo_TsgAlign = classlib::EnumTypeInfo(
    "TsgAlign",
    {"vaNone",       "vaTopLeft",  "vaTopRight", "vaBottomLeft", "vaBottomRight", "vaTop",
     "vaLeft",       "vaRight",    "vaBottom",   "vaMostTop",    "vaMostBottom",  "vaMostLeft",
     "vaMostRight",  "vaClient",   "vaContents", "vaCenter",     "vaVertCenter",  "vaHorzCenter",
     "vaHorizontal", "vaVertical", "vaScale",    "vaFit",        "vaFitLeft",     "vaFitRight"});
const classlib::TTypeInfo TypeInfo_TsgDragMode =
    classlib::EnumTypeInfo("TsgDragMode", {"sgDragManual", "sgDragAutomatic"});

TsgMatrix Translation(float dx, float dy) {
  TsgMatrix m = IdentityMatrix;
  m.m31 = dx;
  m.m32 = dy;
  return m;
}
}  // namespace

void SetPopupMenuHook(TsgPopupMenuHook hook) { g_popupMenuHook = hook; }
TsgPopupMenuHook PopupMenuHook() { return g_popupMenuHook; }

void TsgVisualObject::SetPointQuiet(TsgPosition* p, const TsgPoint& v) {
  classlib::TNotifyEvent saved = p->OnChange;
  p->OnChange = nullptr;
  p->SetPoint(v);
  p->OnChange = saved;
}

CL_CLASS(TsgVisualObject) {
  c.Bool("IsMouseOver", &TsgVisualObject::IsMouseOver, nullptr).Stored(false);
  c.Bool("IsDragOver", &TsgVisualObject::IsDragOver, nullptr).Stored(false);
  c.Bool("IsFocused", &TsgVisualObject::IsFocused, nullptr).Stored(false);
  c.Bool("IsVisible", &TsgVisualObject::Visible, nullptr).Stored(false);
  c.Enum("Align", &TsgVisualObject::Align, &TsgVisualObject::SetAlign, &TypeInfo_TsgAlign)
      .Default(vaNone);
  c.Int("Cursor", &TsgVisualObject::Cursor, &TsgVisualObject::SetCursor).Default(0);
  c.Enum("DragMode", &TsgVisualObject::DragMode, &TsgVisualObject::DragMode, &TypeInfo_TsgDragMode)
      .Default(sgDragManual);
  c.Bool("DragDisableHighlight", &TsgVisualObject::DragDisableHighlight,
         &TsgVisualObject::DragDisableHighlight)
      .Default(false);
  c.Bool("Enabled", &TsgVisualObject::Enabled, &TsgVisualObject::SetEnabled).Default(true);
  c.Object("Position", &TsgVisualObject::Position, &TsgVisualObject::SetPosition);
  c.Float("RotateAngle", &TsgVisualObject::RotateAngle, &TsgVisualObject::SetRotateAngle,
          &classlib::TypeInfo_Single);
  c.Object("RotateCenter", &TsgVisualObject::RotateCenter, &TsgVisualObject::SetRotateCenter);
  c.Bool("Locked", &TsgVisualObject::Locked, &TsgVisualObject::SetLocked).Default(false);
  c.Float("Width", &TsgVisualObject::Width, &TsgVisualObject::SetWidth, &classlib::TypeInfo_Single);
  c.Float("Height", &TsgVisualObject::Height, &TsgVisualObject::SetHeight,
          &classlib::TypeInfo_Single);
  c.Object("Margins", &TsgVisualObject::Margins, &TsgVisualObject::SetMargins);
  c.Object("Padding", &TsgVisualObject::Padding, &TsgVisualObject::SetPadding);
  c.Float("Opacity", &TsgVisualObject::Opacity, &TsgVisualObject::SetOpacity,
          &classlib::TypeInfo_Single)
      .Stored(&TsgVisualObject::OpacityStored);
  c.Bool("ClipChildren", &TsgVisualObject::ClipChildren, &TsgVisualObject::SetClipChildren)
      .Default(false);
  c.Bool("ClipParent", &TsgVisualObject::ClipParent, &TsgVisualObject::SetClipParent)
      .Default(false);
  c.Bool("HitTest", &TsgVisualObject::HitTest, &TsgVisualObject::SetHitTest).Default(true);
  c.WStr("Hint", &TsgVisualObject::Hint, &TsgVisualObject::SetHint);
  c.Bool("ShowHint", &TsgVisualObject::ShowHint, &TsgVisualObject::ShowHint).Default(false);
  c.Bool("CanClipped", &TsgVisualObject::CanClipped, &TsgVisualObject::SetCanClipped).Default(true);
  c.Object("PopupMenu", &TsgVisualObject::PopupMenu, &TsgVisualObject::SetPopupMenu);
  c.Object("Popup", &TsgVisualObject::Popup, &TsgVisualObject::SetPopup);
  c.Object("Scale", &TsgVisualObject::Scale, &TsgVisualObject::SetScale);
  c.Bool("Visible", &TsgVisualObject::Visible, &TsgVisualObject::SetVisible).Default(true);
  c.Bool("DesignHide", &TsgVisualObject::DesignHide, &TsgVisualObject::SetDesignHide)
      .Default(false);
  c.Event("OnDragEnter", &TsgVisualObject::OnDragEnter, &TsgVisualObject::OnDragEnter);
  c.Event("OnDragLeave", &TsgVisualObject::OnDragLeave, &TsgVisualObject::OnDragLeave);
  c.Event("OnDragOver", &TsgVisualObject::OnDragOver, &TsgVisualObject::OnDragOver);
  c.Event("OnDragDrop", &TsgVisualObject::OnDragDrop, &TsgVisualObject::OnDragDrop);
  c.Event("OnDragEnd", &TsgVisualObject::OnDragEnd, &TsgVisualObject::OnDragEnd);
  c.Event("OnKeyDown", &TsgVisualObject::OnKeyDown, &TsgVisualObject::OnKeyDown);
  c.Event("OnKeyUp", &TsgVisualObject::OnKeyUp, &TsgVisualObject::OnKeyUp);
  c.Event("OnClick", &TsgVisualObject::OnClick, &TsgVisualObject::OnClick);
  c.Event("OnDblClick", &TsgVisualObject::OnDblClick, &TsgVisualObject::OnDblClick);
  c.Event("OnCanFocused", &TsgVisualObject::OnCanFocused, &TsgVisualObject::OnCanFocused);
  c.Event("OnEnterFocus", &TsgVisualObject::OnEnterFocus, &TsgVisualObject::OnEnterFocus);
  c.Event("OnKillFocus", &TsgVisualObject::OnKillFocus, &TsgVisualObject::OnKillFocus);
  c.Event("OnMouseDown", &TsgVisualObject::OnMouseDown, &TsgVisualObject::OnMouseDown);
  c.Event("OnMouseMove", &TsgVisualObject::OnMouseMove, &TsgVisualObject::OnMouseMove);
  c.Event("OnMouseUp", &TsgVisualObject::OnMouseUp, &TsgVisualObject::OnMouseUp);
  c.Event("OnMouseWheel", &TsgVisualObject::OnMouseWheel, &TsgVisualObject::OnMouseWheel);
  c.Event("OnMouseEnter", &TsgVisualObject::OnMouseEnter, &TsgVisualObject::OnMouseEnter);
  c.Event("OnMouseLeave", &TsgVisualObject::OnMouseLeave, &TsgVisualObject::OnMouseLeave);
  c.Event("OnBeforePaint", &TsgVisualObject::OnBeforePaint, &TsgVisualObject::OnBeforePaint);
  c.Event("OnPaint", &TsgVisualObject::OnPaint, &TsgVisualObject::OnPaint);
  c.Event("OnApplyResource", &TsgVisualObject::OnApplyResource, &TsgVisualObject::OnApplyResource);
}

TsgVisualObject::TsgVisualObject(TComponent* AOwner)
    : TsgObject(AOwner),
      margins_(classlib::New<TsgBounds>(TsgRect{0, 0, 0, 0})),
      padding_(classlib::New<TsgBounds>(TsgRect{0, 0, 0, 0})),
      position_(classlib::New<TsgPosition>(TsgPoint{0, 0})),
      scale_(classlib::New<TsgPosition>(TsgPoint{1, 1})),
      rotateCenter_(classlib::New<TsgPosition>(TsgPoint{0.5f, 0.5f})) {
  MarkVisual(this);
  auto moved = classlib::EventOf<&TsgVisualObject::PositionChangedEvent>(this);
  position_->OnChange = moved;
  scale_->OnChange = moved;
  rotateCenter_->OnChange = moved;
  margins_->OnChange = classlib::EventOf<&TsgVisualObject::MarginsChangedEvent>(this);
  padding_->OnChange = classlib::EventOf<&TsgVisualObject::PaddingChangedEvent>(this);
}

TsgVisualObject::~TsgVisualObject() {
  tabList_.clear();
  classlib::Free(margins_);
  classlib::Free(padding_);
  classlib::Free(rotateCenter_);
  classlib::Free(scale_);
  classlib::Free(position_);
}

void TsgVisualObject::Loaded() {
  inherited::Loaded();
  lastWidth_ = width_;
  lastHeight_ = height_;
  MatrixChanged(this);
  if (GetChildrenCount() > 0) Realign();
  if (Scene() && !tabList_.empty()) ApplyPendingTabOrders();
}

int TsgVisualObject::TabIndexOf(const TsgVisualObject* child) const {
  auto it = std::find(tabList_.begin(), tabList_.end(), child);
  return it == tabList_.end() ? -1 : static_cast<int>(it - tabList_.begin());
}

void TsgVisualObject::MoveTabEntry(TsgVisualObject* child, int index) {
  const int from = TabIndexOf(child);
  if (from < 0 || index < 0 || index >= static_cast<int>(tabList_.size())) return;
  tabList_.erase(tabList_.begin() + from);
  tabList_.insert(tabList_.begin() + index, child);
}

void TsgVisualObject::ApplyPendingTabOrders() {
  const int count = static_cast<int>(tabList_.size());
  std::vector<TsgVisualObject*> table(tabList_.size(), nullptr);
  for (TsgVisualObject* entry : tabList_)
    if (entry->PendingTabOrder >= 0 && entry->PendingTabOrder < count)
      table[static_cast<size_t>(entry->PendingTabOrder)] = entry;
  for (int i = 0; i < count; ++i)
    if (TsgVisualObject* entry = table[static_cast<size_t>(i)]) MoveTabEntry(entry, i);
}

void TsgVisualObject::Notification(TComponent* component, TOperation operation) {
  inherited::Notification(component, operation);
  if (operation != TOperation::opRemove) return;
  if (component == popupMenu_) popupMenu_ = nullptr;
  if (component == popup_) popup_ = nullptr;
  if (component == caret_) caret_ = nullptr;
}

bool TsgVisualObject::IsDesignTime() const { return Scene() && Scene()->GetDesignTime(); }

TsgVisualObject* TsgVisualObject::VisualParent() const {
  return Parent() ? Parent()->Visual() : nullptr;
}

TsgCanvas* TsgVisualObject::Canvas() {
  if (paintCanvas_) return paintCanvas_;
  return Scene() ? Scene()->GetCanvas() : nullptr;
}

void TsgVisualObject::TriggerState(const std::string& property) {
  StartTriggerAnimation(this, property);
  ApplyTriggerEffect(this, property);
}

// ---- caches
void TsgVisualObject::MarkMatrixDirty() {
  matrixDirty_ = true;
  for (int i = 0; i < GetChildrenCount(); ++i)
    if (TsgVisualObject* c = GetChild(i)->Visual()) c->MarkMatrixDirty();
}

void TsgVisualObject::MarkOpacityDirty() {
  opacityDirty_ = true;
  for (int i = 0; i < GetChildrenCount(); ++i)
    if (TsgVisualObject* c = GetChild(i)->Visual()) c->MarkOpacityDirty();
}

void TsgVisualObject::MarkEnabledDirty() {
  enabledDirty_ = true;
  for (int i = 0; i < GetChildrenCount(); ++i)
    if (TsgVisualObject* c = GetChild(i)->Visual()) c->MarkEnabledDirty();
}

void TsgVisualObject::MarkUpdateRectDirty() {
  // The subtree first; then every ancestor that does not clip a child
  // reaching beyond it, since its cached rectangle holds the child's.
  struct Down {
    static void Mark(TsgVisualObject* v) {
      v->updateRectDirty_ = true;
      for (int i = 0; i < v->GetChildrenCount(); ++i)
        if (TsgVisualObject* c = v->GetChild(i)->Visual()) Mark(c);
    }
  };
  Down::Mark(this);
  for (TsgVisualObject* v = this; TsgVisualObject* p = v->VisualParent(); v = p) {
    const TsgPoint pos = v->position_->GetPoint();
    const bool overflows =
        pos.X < 0 || pos.Y < 0 || pos.X + v->width_ > p->width_ || pos.Y + v->height_ > p->height_;
    if (p->clipChildren_ || !overflows) break;
    p->updateRectDirty_ = true;
  }
}

void TsgVisualObject::UpdateEffects() {
  for (TsgVisualObject* v = this; v; v = v->VisualParent())
    if (v->hasEffects_) v->effectsDirty_ = true;
}

bool TsgVisualObject::ReplacedByEffect() const {
  if (!hasEffects_ || EffectsDisabled) return false;
  for (int i = 0; i < GetChildrenCount(); ++i) {
    const TsgObject* c = GetChild(i);
    if (c->IsEffectObject() && c->EffectEnabled() && c->EffectDisablesPaint()) return true;
  }
  return false;
}

void TsgVisualObject::FirstAlignedChild() {
  // Nothing was laid out so far, so the present size counts as laid out:
  // corner and scale children move by what changes from now on.
  if (!hasAlignedChildren_) {
    lastWidth_ = width_;
    lastHeight_ = height_;
  }
  hasAlignedChildren_ = true;
}

void TsgVisualObject::RecomputeFlags() {
  bool effects = false, aligned = false;
  for (int i = 0; i < GetChildrenCount(); ++i) {
    TsgObject* c = GetChild(i);
    if (c->IsEffectObject() && c->EffectEnabled() && !EffectsDisabled) effects = true;
    if (TsgVisualObject* v = c->Visual(); v && v->align_ != vaNone) aligned = true;
  }
  const bool turnedOn = effects && !hasEffects_;
  hasEffects_ = effects;
  hasAlignedChildren_ = aligned;
  if (turnedOn) {
    UpdateEffects();
    Repaint();
  }
}

// ---- matrices and coordinates
void TsgVisualObject::MatrixChanged(TObject* sender) {
  (void)sender;
  Repaint();
  const TsgPoint s = scale_->GetPoint(), p = position_->GetPoint();
  TsgMatrix st = IdentityMatrix;
  st.m11 = s.X;
  st.m22 = s.Y;
  st.m31 = p.X;
  st.m32 = p.Y;
  if (rotateAngle_ != 0) {
    const float cx = rotateCenter_->X() * width_, cy = rotateCenter_->Y() * height_;
    TsgMatrix m =
        sgMatrixMultiply(Translation(-cx, -cy), sgCreateRotationMatrix(sgDegToRad(rotateAngle_)));
    m = sgMatrixMultiply(m, Translation(cx, cy));
    localMatrix_ = sgMatrixMultiply(m, st);
  } else {
    localMatrix_ = st;
  }
  MarkMatrixDirty();
  MarkUpdateRectDirty();
  UpdateEffects();
  Repaint();
}

TsgMatrix TsgVisualObject::GetAbsoluteMatrix() {
  if (matrixDirty_) {
    if (TsgVisualObject* p = VisualParent())
      absoluteMatrix_ = sgMatrixMultiply(sgMatrixMultiply(localMatrix_, p->GetChildrenMatrix()),
                                         p->GetAbsoluteMatrix());
    else
      absoluteMatrix_ = localMatrix_;
    // Cleared before the repaint: the repaint asks for this matrix again.
    matrixDirty_ = false;
    const bool updateOff = Scene() && Scene()->GetDisableUpdate();
    if (!updateOff && !paintingToBitmap_ && updateCount_ <= 0) Repaint();
  }
  return absoluteMatrix_;
}

TsgPoint TsgVisualObject::LocalToAbsolute(const TsgPoint& p) {
  return sgPointFromVector(sgVectorTransform(sgVector(p.X, p.Y, 1), GetAbsoluteMatrix()));
}

TsgPoint TsgVisualObject::AbsoluteToLocal(const TsgPoint& p) {
  TsgMatrix m = GetAbsoluteMatrix();
  sgInvertMatrix(m);
  return sgPointFromVector(sgVectorTransform(sgVector(p.X, p.Y, 1), m));
}

TsgPoint TsgVisualObject::LocalToAbsoluteVector(const TsgPoint& v) {
  return sgPointFromVector(sgVectorTransform(sgVector(v.X, v.Y, 0), GetAbsoluteMatrix()));
}

TsgPoint TsgVisualObject::AbsoluteToLocalVector(const TsgPoint& v) {
  TsgMatrix m = GetAbsoluteMatrix();
  sgInvertMatrix(m);
  return sgPointFromVector(sgVectorTransform(sgVector(v.X, v.Y, 0), m));
}

TsgRect TsgVisualObject::GetAbsoluteRect() {
  const TsgPoint corners[4] = {LocalToAbsolute({0, 0}), LocalToAbsolute({width_, 0}),
                               LocalToAbsolute({width_, height_}), LocalToAbsolute({0, height_})};
  return sgBoundsOfPoints(corners, 3);
}

TsgPoint TsgVisualObject::GetAbsoluteScale() {
  TsgPoint s = scale_->GetPoint();
  for (TsgVisualObject* p = VisualParent(); p; p = p->VisualParent()) {
    s.X *= p->scale_->X();
    s.Y *= p->scale_->Y();
  }
  return s;
}

TsgRect TsgVisualObject::GetParentedRect() {
  TsgRect r = GetLocalRect();
  sgOffsetRect(r, position_->X(), position_->Y());
  return r;
}

TsgRect TsgVisualObject::GetEffectsRect() {
  TsgRect r = GetLocalRect();
  for (int i = 0; i < GetChildrenCount(); ++i) {
    const TsgObject* c = GetChild(i);
    if (c->IsEffectObject() && c->EffectEnabled())
      r = sgUnionRect(r, c->EffectRect(GetLocalRect()));
  }
  return r;
}

bool TsgVisualObject::GetAbsoluteEnabled() {
  if (enabledDirty_) {
    TsgVisualObject* p = VisualParent();
    absoluteEnabled_ = (p && !p->GetAbsoluteEnabled()) ? false : enabled_;
    enabledDirty_ = false;
    if (!absoluteEnabled_ && CanFocused && Scene() && Scene()->GetFocused() == this)
      Scene()->SetFocused(nullptr);
  }
  return absoluteEnabled_;
}

float TsgVisualObject::GetAbsoluteOpacity() {
  if (opacityDirty_) {
    TsgVisualObject* p = VisualParent();
    float a = p ? opacity_ * p->GetAbsoluteOpacity() : opacity_;
    if (!GetAbsoluteEnabled()) {
      TsgObject* root = Scene() ? Scene()->GetRoot() : nullptr;
      if (this != root && Parent() != root) a *= 0.8f;
    }
    absoluteOpacity_ = a;
    opacityDirty_ = false;
  }
  return absoluteOpacity_;
}

TsgRect TsgVisualObject::GetUpdateRect() {
  if (!updateRectDirty_) return updateRect_;
  updateRectDirty_ = false;
  ++updateCount_;
  struct Lower {
    int& n;
    ~Lower() { --n; }
  } lower{updateCount_};
  TsgRect r = GetAbsoluteRect();
  IsgScene* sc = Scene();
  if (sc && !sc->GetDisableUpdate() && !IsLoading()) {
    // A child that ignores its parent's clip is not cut by it either (it
    // is still painted inside the clips further up).
    for (TsgVisualObject* p = VisualParent(); p; p = p->VisualParent())
      if (p->clipChildren_ && (canClipped_ || p != VisualParent())) {
        TsgRect clipped;
        sgIntersectRect(clipped, r, p->GetUpdateRect());
        r = clipped;
      }
    if (CanFocused && isFocused_) sgInflateRect(r, 5, 5);
    if (sc->GetSelected() == this) {
      sgInflateRect(r, 4, 4);
      r.Top -= 13;
    }
    if (sc->GetDesignPlaceObject() == this) {
      sgInflateRect(r, 1, 1);
      r.Top -= 20;
      if (sgRectWidth(r) < 160) r.Right = r.Left + 160;
    }
    if (hasEffects_ && !clipChildren_) {
      const TsgRect e = GetEffectsRect();
      const TsgPoint corners[4] = {
          LocalToAbsolute({e.Left, e.Top}), LocalToAbsolute({e.Right, e.Top}),
          LocalToAbsolute({e.Right, e.Bottom}), LocalToAbsolute({e.Left, e.Bottom})};
      r = sgUnionRect(r, sgBoundsOfPoints(corners, 3));
    }
    if (!clipChildren_)
      for (int i = 0; i < GetChildrenCount(); ++i) {
        TsgVisualObject* c = GetChild(i)->Visual();
        if (!c || !c->visible_) continue;
        // A child clipped away entirely answers an empty rectangle, which
        // must not stretch this one to the origin.
        const TsgRect cr = c->GetUpdateRect();
        if (sgRectWidth(cr) != 0 && sgRectHeight(cr) != 0) r = sgUnionRect(r, cr);
      }
  }
  updateRect_ = r;
  return updateRect_;
}

// ---- repainting and update nesting
void TsgVisualObject::Repaint() {
  IsgScene* sc = Scene();
  if (!sc || IsLoading()) return;
  const bool design = sc->GetDesignTime();
  if (!visible_ && !design) return;
  if (design && designHide_) return;
  if (sc->GetDisableUpdate()) return;
  if (!design && !IsVisibleWithParents()) return;
  if (updateCount_ > 0) return;
  if (ReplacedByEffect()) effectsDirty_ = true;
  sc->AddUpdateRect(GetUpdateRect());
}

bool TsgVisualObject::IsVisibleWithParents() {
  for (TsgVisualObject* v = this; v; v = v->VisualParent())
    if (!v->visible_) return false;
  return true;
}

void TsgVisualObject::AddUpdateCountTree(int delta) {
  updateCount_ += delta;
  if (updateCount_ < 0) updateCount_ = 0;
  for (int i = 0; i < GetChildrenCount(); ++i)
    if (TsgVisualObject* c = GetChild(i)->Visual()) c->AddUpdateCountTree(delta);
}

void TsgVisualObject::BeginUpdate() { AddUpdateCountTree(1); }

void TsgVisualObject::EndUpdate() {
  AddUpdateCountTree(-1);
  if (updateCount_ == 0) Realign();
}

// ---- setters
void TsgVisualObject::SetSizeField(float v, float& field, float TsgPoint::*scaleAxis) {
  if (v < 0 && IsDesignTime()) {
    field = -v;
    TsgPoint s = scale_->GetPoint();
    s.*scaleAxis = -(s.*scaleAxis);
    scale_->SetPoint(s);
  } else {
    field = v;
  }
}

void TsgVisualObject::SetWidth(float v) {
  if (v != width_) SetSide(v, width_, &TsgPoint::X);
}

void TsgVisualObject::SetHeight(float v) {
  if (v != height_) SetSide(v, height_, &TsgPoint::Y);
}

void TsgVisualObject::SetSide(float v, float& field, float TsgPoint::*scaleAxis) {
  Repaint();
  SetSizeField(v, field, scaleAxis);
  // The rotation centre moves with the size.
  if (rotateAngle_ != 0) MatrixChanged(this);
  if (IsLoading() || !Scene()) return;
  UpdateEffects();
  MarkUpdateRectDirty();
  if (TsgVisualObject* p = VisualParent(); p && (align_ != vaNone || p->IsScrollContent()))
    p->Realign();
  if (GetChildrenCount() > 0) Realign();
}

void TsgVisualObject::SetBounds(float x, float y, float width, float height) {
  Repaint();
  bool sized = false;
  if (height != height_) {
    SetSizeField(height, height_, &TsgPoint::Y);
    sized = true;
  }
  if (width != width_) {
    SetSizeField(width, width_, &TsgPoint::X);
    sized = true;
  }
  if (x != position_->X() || y != position_->Y() || (sized && rotateAngle_ != 0)) {
    SetPointQuiet(position_, {x, y});
    MatrixChanged(this);
  }
  if (sized && !IsLoading()) {
    if (TsgVisualObject* p = VisualParent(); p && align_ != vaNone) p->Realign();
    Realign();
  }
  MarkUpdateRectDirty();
  Repaint();
}

void TsgVisualObject::SetSizeFromLocalRect(const TsgRect& r) {
  Repaint();
  float w = r.Right - r.Left, h = r.Bottom - r.Top;
  TsgPoint c = LocalToAbsolute({rotateCenter_->X() * w + r.Left, rotateCenter_->Y() * h + r.Top});
  if (TsgVisualObject* p = VisualParent()) c = p->AbsoluteToLocal(c);
  TsgPoint s = scale_->GetPoint();
  const TsgPoint pos{c.X - s.X * rotateCenter_->X() * w, c.Y - s.Y * rotateCenter_->Y() * h};
  if (w < 0) {
    w = -w;
    s.X = -s.X;
  }
  if (h < 0) {
    h = -h;
    s.Y = -s.Y;
  }
  width_ = w;
  height_ = h;
  SetPointQuiet(scale_, s);
  SetPointQuiet(position_, pos);
  MatrixChanged(this);
  Realign();
}

void TsgVisualObject::SetVisible(bool v) {
  if (v == visible_) return;
  IsgScene* sc = Scene();
  if (visible_ && sc && !sc->GetDisableUpdate() && !IsLoading()) sc->AddUpdateRect(GetUpdateRect());
  visible_ = v;
  if (!IsLoading())
    if (TsgVisualObject* p = VisualParent(); p && align_ != vaNone) p->Realign();
  if (v) {
    MarkUpdateRectDirty();
    Repaint();
    StartTriggerAnimation(this, "IsVisible");
  } else if (CanFocused && sc && (isFocused_ || sc->GetFocused() == this)) {
    sc->SetFocused(nullptr);
  }
}

void TsgVisualObject::SetAlign(TsgAlign v) {
  if (v == align_) return;
  align_ = v;
  if (TsgVisualObject* p = VisualParent()) {
    if (v != vaNone) p->FirstAlignedChild();
    p->RecomputeFlags();
    if (!IsLoading()) p->Realign();
  }
}

void TsgVisualObject::SetRotateAngle(float v) {
  if (v == rotateAngle_) return;
  float a = v - 360 * std::trunc(v / 360);
  if (a < -180) a += 360;
  rotateAngle_ = a;
  MatrixChanged(this);
}

void TsgVisualObject::SetOpacity(float v) {
  if (v == opacity_) return;
  opacity_ = v < 0 ? 0 : (v > 1 ? 1 : v);
  MarkOpacityDirty();
  Repaint();
}

void TsgVisualObject::SetEnabled(bool v) {
  if (v == enabled_) return;
  enabled_ = v;
  MarkEnabledDirty();
  MarkOpacityDirty();
  Repaint();
}

void TsgVisualObject::SetClipChildren(bool v) {
  if (v == clipChildren_) return;
  // The cached area holds the children or not: drop it, so the area
  // painted now is the one the new setting covers.
  Repaint();
  clipChildren_ = v;
  MarkUpdateRectDirty();
  Repaint();
}

void TsgVisualObject::SetDesignHide(bool v) {
  if (v == designHide_) return;
  designHide_ = v;
  if (!IsDesignTime() || !Parent()) return;
  if (v && Scene()->GetSelected() == this && SceneDesigner)
    SceneDesigner->SelectionHidden(Owner(), Parent());
  if (TsgVisualObject* p = VisualParent()) p->Repaint();
}

void TsgVisualObject::SetPopupMenu(TComponent* menu) {
  if (menu == popupMenu_) return;
  if (popupMenu_) RemoveFreeNotification(popupMenu_);
  popupMenu_ = menu;
  if (menu) FreeNotification(menu);
}

void TsgVisualObject::SetPopup(TsgObject* popup) {
  if (popup == popup_) return;
  if (popup_) RemoveFreeNotification(popup_);
  popup_ = popup;
  if (popup) FreeNotification(popup);
}

void TsgVisualObject::MarginsChanged(TObject* sender) {
  (void)sender;
  Realign();
}

void TsgVisualObject::PaddingChanged(TObject* sender) {
  (void)sender;
  if (TsgVisualObject* p = VisualParent()) p->Realign();
}

// ---- tree
void TsgVisualObject::SetScene(IsgScene* scene) {
  if (!scene && isFocused_) KillFocus();
  TsgObject::SetScene(scene);
}

void TsgVisualObject::DeleteChildren() {
  tabList_.clear();
  TsgObject::DeleteChildren();
}

void TsgVisualObject::SetPaintCanvasTree(TsgCanvas* canvas) {
  paintCanvas_ = canvas;
  for (int i = 0; i < GetChildrenCount(); ++i)
    if (TsgVisualObject* c = GetChild(i)->Visual()) c->SetPaintCanvasTree(canvas);
}

void TsgVisualObject::ChildAdded(TsgObject* child) {
  TsgVisualObject* c = child->Visual();
  if (c->align_ != vaNone) FirstAlignedChild();
  if (paintCanvas_) c->SetPaintCanvasTree(paintCanvas_);
  c->AddUpdateCountTree(updateCount_ - c->updateCount_);
  c->MarkOpacityDirty();
  c->MarkEnabledDirty();
  c->MarkMatrixDirty();
  c->MarkUpdateRectDirty();
  if (hasEffects_) {
    UpdateEffects();
    Repaint();
  }
  if (c->align_ != vaNone)
    Realign();
  else
    Repaint();
  tabList_.push_back(c);
}

void TsgVisualObject::EffectChildAdded(TsgObject* child) {
  if (!child->EffectEnabled() || EffectsDisabled) return;
  hasEffects_ = true;
  UpdateEffects();
  MarkUpdateRectDirty();
  Repaint();
}

void TsgVisualObject::RemoveFromTabList(TsgVisualObject* child) {
  for (auto it = tabList_.begin(); it != tabList_.end(); ++it)
    if (*it == child) {
      tabList_.erase(it);
      return;
    }
}

void TsgVisualObject::ChildRemoving(TsgObject* child) {
  TsgVisualObject* c = child->Visual();
  RemoveFromTabList(c);
  c->updateCount_ = 0;
  c->Repaint();
}

void TsgVisualObject::ChildRemoved(TsgObject* child) {
  RecomputeFlags();
  if (TsgVisualObject* c = child->Visual(); c && c->paintCanvas_) c->SetPaintCanvasTree(nullptr);
  MarkUpdateRectDirty();
}

// ---- focus and input
void TsgVisualObject::SetFocus() {
  if (!CanFocused || !Scene()) return;
  bool can = true;
  if (OnCanFocused) OnCanFocused(this, can);
  if (!can) return;
  Scene()->SetFocused(this);
}

void TsgVisualObject::EnterFocus() {
  if (!CanFocused) return;
  for (TsgVisualObject* p = VisualParent(); p; p = p->VisualParent())
    if (p->ChildFocused(this)) break;
  isFocused_ = true;
  MarkUpdateRectDirty();
  Repaint();
  if (OnEnterFocus) OnEnterFocus(this);
  if (!DisableFocusEffect) TriggerState("IsFocused");
}

void TsgVisualObject::KillFocus() {
  if (!CanFocused) return;
  MarkUpdateRectDirty();
  Repaint();
  isFocused_ = false;
  // The focus frame's area is gone with the focus.
  MarkUpdateRectDirty();
  if (OnKillFocus) OnKillFocus(this);
  if (!DisableFocusEffect) TriggerState("IsFocused");
}

void TsgVisualObject::MouseDown(TMouseButton button, TShiftState shift, float x, float y) {
  IsgScene* sc = Scene();
  if (!IsDesignTime() && CanFocused && !isFocused_ && sc && sc->GetFocused() != this) SetFocus();
  if (OnMouseDown) OnMouseDown(this, button, shift, x, y);
  if (button == TMouseButton::mbRight) {
    if (!sc) return;
    ContextPopup(sc->LocalToScreen(LocalToAbsolute({x, y})));
    return;
  }
  if (AutoCapture && sc) sc->SetCaptured(this);
  if (shift.Contains(classlib::ssDouble)) {
    DblClick();
    doubleClicked_ = true;
  } else if (button == TMouseButton::mbLeft) {
    pressed_ = true;
  }
}

void TsgVisualObject::MouseUp(TMouseButton button, TShiftState shift, float x, float y) {
  if (IsgScene* sc = Scene(); sc && sc->GetCaptured() == this) sc->SetCaptured(nullptr);
  if (OnMouseUp) OnMouseUp(this, button, shift, x, y);
  const bool click = pressed_ && !doubleClicked_ && x >= 0 && x <= width_ && y >= 0 && y <= height_;
  // Cleared before the click: its handler may free this object.
  pressed_ = doubleClicked_ = false;
  if (click) Click();
}

void TsgVisualObject::MouseMove(TShiftState shift, float x, float y, float dx, float dy) {
  if (OnMouseMove) OnMouseMove(this, shift, x, y, dx, dy);
}

void TsgVisualObject::MouseWheel(TShiftState shift, int delta, bool& handled) {
  if (!OnMouseWheel) return;
  const TsgPoint pos = Scene() ? Scene()->GetMousePos() : TsgPoint{0, 0};
  OnMouseWheel(this, shift, delta, pos, handled);
}

void TsgVisualObject::MouseEnter() {
  isMouseOver_ = true;
  TriggerState("IsMouseOver");
  if (OnMouseEnter) OnMouseEnter(this);
}

void TsgVisualObject::MouseLeave() {
  isMouseOver_ = false;
  TriggerState("IsMouseOver");
  if (OnMouseLeave) OnMouseLeave(this);
}

void TsgVisualObject::Click() {
  if (OnClick) OnClick(this);
}

void TsgVisualObject::DblClick() {
  if (OnDblClick) OnDblClick(this);
}

void TsgVisualObject::KeyDown(uint16_t& key, char16_t& keyChar, TShiftState shift) {
  constexpr uint16_t VK_APPS = 93;
  if (key == VK_APPS) {
    if (IsgScene* sc = Scene())
      ContextPopup(sc->LocalToScreen(LocalToAbsolute({width_ / 2, height_ / 2})));
    return;
  }
  if (OnKeyDown) OnKeyDown(this, key, keyChar, shift);
}

void TsgVisualObject::KeyUp(uint16_t& key, char16_t& keyChar, TShiftState shift) {
  if (OnKeyUp) OnKeyUp(this, key, keyChar, shift);
}

void TsgVisualObject::DialogKey(uint16_t& key, TShiftState shift) {
  for (int i = 0; i < GetChildrenCount() && key != 0; ++i) {
    TsgVisualObject* c = GetChild(i)->Visual();
    if (c && c->visible_ && c->enabled_) c->DialogKey(key, shift);
  }
}

void TsgVisualObject::ContextPopup(const TsgPoint& screenPoint) {
  if (popupMenu_) {
    if (g_popupMenuHook)
      g_popupMenuHook(popupMenu_, static_cast<int>(std::lround(screenPoint.X)),
                      static_cast<int>(std::lround(screenPoint.Y)), this);
  } else if (popup_) {
    popup_->PopupOpenTransient();
  }
}

void TsgVisualObject::DragEnter(const TsgDragObject& data, const TsgPoint& point) {
  isDragOver_ = true;
  Repaint();
  TriggerState("IsDragOver");
  if (OnDragEnter) OnDragEnter(this, data, point);
}

void TsgVisualObject::DragOver(const TsgDragObject& data, const TsgPoint& point, bool& accept) {
  if (OnDragOver) OnDragOver(this, data, point, accept);
}

void TsgVisualObject::DragDrop(const TsgDragObject& data, const TsgPoint& point) {
  isDragOver_ = false;
  Repaint();
  TriggerState("IsDragOver");
  if (OnDragDrop) OnDragDrop(this, data, point);
}

void TsgVisualObject::DragLeave() {
  isDragOver_ = false;
  Repaint();
  TriggerState("IsDragOver");
  if (OnDragLeave) OnDragLeave(this);
}

void TsgVisualObject::DragEnd() {
  if (DragMode == sgDragAutomatic) {
    // Ends the press that started the drag; an object wider than the
    // far-away point must not take it for a click either.
    pressed_ = false;
    MouseUp(TMouseButton::mbLeft, {}, 65535, 65535);
  }
  if (OnDragEnd) OnDragEnd(this);
}

namespace {
// Draws into a canvas of the default class and copies its pixels into a
// new bitmap of that size (cleared when the canvas keeps no pixels).
TsgBitmap* DrawIntoBitmap(int w, int h, const std::function<void(TsgCanvas*)>& draw) {
  TsgCanvas* canvas = sgCreateCanvas(w, h);
  if (!canvas) return nullptr;
  TsgBitmap* bitmap = nullptr;
  try {
    bitmap = classlib::New<TsgBitmap>(w, h);
    if (canvas->BeginScene()) {
      canvas->Clear(0);
      draw(canvas);
      canvas->EndScene();
    }
    if (canvas->Buffered() && canvas->Bits() && bitmap->Bits() && canvas->Width() == w &&
        canvas->Height() == h)
      sgMoveLongs(canvas->Bits(), bitmap->Bits(), w * h);
  } catch (...) {
    classlib::Free(canvas);
    if (bitmap) classlib::Free(bitmap);
    throw;
  }
  classlib::Free(canvas);
  return bitmap;
}
}  // namespace

TsgBitmap* TsgVisualObject::RenderToBitmap() {
  const int w = static_cast<int>(std::lround(width_)), h = static_cast<int>(std::lround(height_));
  if (!Scene() || w <= 0 || h <= 0) return nullptr;
  return DrawIntoBitmap(w, h, [this, w, h](TsgCanvas* canvas) {
    PaintTo(canvas, {0, 0, float(w), float(h)}, nullptr);
  });
}

void TsgVisualObject::BeginAutoDrag() {
  IsgScene* sc = Scene();
  if (!sc) return;
  TsgBitmap* picture = RenderToBitmap();
  if (!picture) return;
  TsgBitmap* image = nullptr;
  try {
    const int w = picture->Width(), h = picture->Height();
    // Large objects are fitted into 512 x 512, keeping the aspect ratio.
    TsgRect fit{0, 0, float(w), float(h)};
    if (w > 512 || h > 512) sgFitRect(fit, {0, 0, 512, 512});
    const int fw = std::max(1, static_cast<int>(sgRectWidth(fit)));
    const int fh = std::max(1, static_cast<int>(sgRectHeight(fit)));
    image = DrawIntoBitmap(fw, fh, [picture, w, h, fw, fh](TsgCanvas* canvas) {
      canvas->DrawBitmap(picture, {0, 0, float(w), float(h)}, {0, 0, float(fw), float(fh)}, 0.7f,
                         false);
    });
    if (image) sc->BeginDragDrop(this, image);
  } catch (...) {
    classlib::Free(picture);
    if (image) classlib::Free(image);
    throw;
  }
  classlib::Free(picture);
  if (image) classlib::Free(image);
}

// ---- hit testing
bool TsgVisualObject::PointInObject(const TsgPoint& p) {
  const TsgPoint l = AbsoluteToLocal(p);
  return l.X > 0 && l.X < width_ && l.Y > 0 && l.Y < height_;
}

bool TsgVisualObject::EffectiveHitTest() {
  if (IsDesignTime()) return !locked_ && !designHide_;
  return hitTest_;
}

TsgVisualObject* TsgVisualObject::ObjectAtPoint(const TsgPoint& p) {
  const bool design = IsDesignTime();
  if (!visible_ && !design) return nullptr;
  if (IsControlObject() && !design && !GetAbsoluteEnabled()) return nullptr;
  if (clipChildren_ && !PointInObject(p)) return nullptr;
  for (int i = GetChildrenCount() - 1; i >= 0; --i) {
    TsgVisualObject* c = GetChild(i)->Visual();
    if (!c || !(c->visible_ || (design && !designHide_))) continue;
    if (TsgVisualObject* hit = c->ObjectAtPoint(p)) return hit;
  }
  if (PointInObject(p) && EffectiveHitTest()) return this;
  return nullptr;
}

TsgVisualObject* TsgVisualObject::FindDragTarget(const TsgPoint& p, const TsgDragObject& data) {
  const bool design = IsDesignTime();
  if (!visible_ && !design) return nullptr;
  if (IsControlObject() && !design && !GetAbsoluteEnabled()) return nullptr;
  const bool inside = PointInObject(p);
  if (!clipChildren_ || inside)
    for (int i = GetChildrenCount() - 1; i >= 0; --i) {
      TsgVisualObject* c = GetChild(i)->Visual();
      if (!c || !(c->visible_ || (design && !designHide_))) continue;
      if (TsgVisualObject* hit = c->FindDragTarget(p, data)) return hit;
    }
  if (inside && EffectiveHitTest()) {
    bool accept = false;
    DragOver(data, AbsoluteToLocal(p), accept);
    if (accept) return this;
  }
  return nullptr;
}

}  // namespace kelm::scene
