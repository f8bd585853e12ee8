// The scene host window: lifetime, the host interface, dirty rectangles and
// the draw pass with its two roads to the screen.
#include "scene/sg_scene.h"

#include <algorithm>
#include <functional>
#include <cmath>
#include <vector>

#include "classlib/classdef.h"
#include "classlib/filer.h"
#include "classlib/timers.h"
#include "scene/sg_animation.h"
#include "scene/sg_canvas_gdiplus.h"
#include "scene/sg_popup.h"
#include "scene/sg_classes.h"
#include "scene/sg_control.h"
#include "scene/sg_resources.h"
#include "scene/sg_style.h"

namespace kelm::scene {

using classlib::TComponent;
using classlib::TMessage;

CL_CLASS(TsgCustomScene) {}
CL_CLASS(TsgScene) {
  c.Bool("AnimatedCaret", &TsgScene::AnimatedCaret, &TsgScene::AnimatedCaret).Default(true);
  c.Object("Fill", &TsgScene::Fill, &TsgScene::SetFill);
  c.Bool("Transparency", &TsgScene::Transparency, &TsgScene::SetTransparency).Default(false);
  c.Object("Style", &TsgScene::Style, &TsgScene::SetStyle);
  c.Object("ActiveControl", &TsgScene::ActiveControl, &TsgScene::SetActiveControl);
}

namespace {

int g_liveScenes = 0;
TUpdateLayeredWindowFn g_updateLayered = nullptr;

// Coordinates beyond this are no client pixels: such a rectangle is dropped
// before it is turned into integers.
constexpr float kMaxCoordinate = 1.0e7f;

}  // namespace

namespace {
HMODULE g_user32 = nullptr;
bool g_oleStarted = false;
}  // namespace

void StartSceneHost() {
  RegisterSceneCoreClasses();
  classlib::RegisterClasses({TsgCustomScene::StaticClass(), TsgScene::StaticClass()});
  RegisterSceneClasses("Resources", {TsgBrushObject::StaticClass(), TsgPathObject::StaticClass(),
                                     TsgBitmapObject::StaticClass()});
  RegisterSceneClasses("Layout", {TsgFrame::StaticClass()});
  RegisterPopupClasses();
  g_user32 = LoadLibraryW(L"user32.dll");
  if (g_user32) {
    g_updateLayered = reinterpret_cast<TUpdateLayeredWindowFn>(
        reinterpret_cast<void*>(GetProcAddress(g_user32, "UpdateLayeredWindow")));
    // Looked up as the platform offers them; not kept.
    (void)GetProcAddress(g_user32, "SetLayeredWindowAttributes");
    (void)GetProcAddress(g_user32, "PrintWindow");
  }
  g_oleStarted = SUCCEEDED(OleInitialize(nullptr));
}

void StopSceneHost() {
  FreePopupGlobals();
  if (g_oleStarted) OleUninitialize();
  g_oleStarted = false;
  g_updateLayered = nullptr;
  if (g_user32) FreeLibrary(g_user32);
  g_user32 = nullptr;
}

TUpdateLayeredWindowFn UpdateLayeredWindowBinding() { return g_updateLayered; }
void SetUpdateLayeredWindowBinding(TUpdateLayeredWindowFn fn) { g_updateLayered = fn; }
int LiveSceneCount() { return g_liveScenes; }

bool SnapUpdateRect(const TsgRect& r, int width, int height, RECT& out) {
  for (float v : {r.Left, r.Top, r.Right, r.Bottom})
    if (!std::isfinite(v) || std::fabs(v) > kMaxCoordinate) return false;
  if (r.Right - r.Left == 0 || r.Bottom - r.Top == 0) return false;
  out.left = static_cast<LONG>(std::trunc(r.Left));
  out.top = static_cast<LONG>(std::trunc(r.Top));
  out.right = static_cast<LONG>(std::trunc(r.Right)) + 1;
  out.bottom = static_cast<LONG>(std::trunc(r.Bottom)) + 1;
  // Touching the client area's edge counts as meeting it.
  return !(out.left > width || out.right < 0 || out.top > height || out.bottom < 0);
}

// ---- lifetime

TsgCustomScene::TsgCustomScene(TComponent* AOwner) : TCustomControl(AOwner) {
  AddScene(this);
  SetShowHint(true);
  design_ = IsDesigning() || (AOwner && AOwner->IsDesigning());
  auto style = ControlStyle();
  style.Exclude(classlib::csAcceptsControls);
  for (auto f : {classlib::csActionClient, classlib::csCaptureMouse, classlib::csOpaque,
                 classlib::csDoubleClicks})
    style.Include(f);
  SetControlStyle(style);
  OnDragOver = classlib::EventOf<&TsgCustomScene::SceneDragOver>(this);
  OnDragDrop = classlib::EventOf<&TsgCustomScene::SceneDragDrop>(this);
  canvas_ = sgCreateCanvas(Width(), Height());
  fill_ = new TsgBrush(sgBrushNone, 0xFF000000);
  fill_->OnChange = classlib::EventOf<&TsgCustomScene::FillChanged>(this);
  TCustomControl::SetBounds(Left(), Top(), 100, 100);
  ++g_liveScenes;
}

void TsgCustomScene::BeforeDestruction() {
  Destroying();
  if (hovered_) hovered_->RemoveFreeNotification(this);
  if (focused_) focused_->RemoveFreeNotification(this);
  hovered_ = focused_ = nullptr;
  // Leaving the book without a restyle: the tree goes next.
  if (style_) {
    style_->RemoveScene(this);
    style_->RemoveFreeNotification(this);
    style_ = nullptr;
  }
  if (--g_liveScenes == 0) FreeAniThread();
  if (frame_) frame_->SetSceneObject(nullptr);
  frame_ = nullptr;
  selected_ = captured_ = designPlaceObject_ = nullptr;
  snapLines_.clear();
  multiSelection_.clear();
  while (!roots_.empty()) {
    TsgObject* obj = roots_.back();
    roots_.pop_back();
    obj->SetScene(nullptr);
    classlib::Free(obj);
  }
  // The window goes while the canvas still exists, through our DestroyWnd.
  if (HandleAllocated()) DestroyHandle();
  TCustomControl::BeforeDestruction();
}

TsgCustomScene::~TsgCustomScene() {
  FreeDropTarget();
  delete fill_;
  classlib::Free(canvas_);
  RemoveScene(this);
}

bool TsgCustomScene::GetInterface(const classlib::TGUID& iid, void** obj) {
  if (iid == IsgScene::IID) {
    *obj = static_cast<IsgScene*>(this);
    return true;
  }
  return TCustomControl::GetInterface(iid, obj);
}

// ---- roots

void TsgCustomScene::AddObject(TsgObject* obj) {
  if (!obj) return;
  if (obj->Parent()) obj->Parent()->RemoveObject(obj);
  roots_.push_back(obj);
  obj->SetScene(this);
  if (TsgVisualObject* v = obj->Visual(); v && !IsDestroying()) {
    v->MarkUpdateRectDirty();
    v->MarkMatrixDirty();
    v->Repaint();
    RealignRoot();
  }
}

void TsgCustomScene::RemoveObject(TsgObject* obj) {
  Invalidate();
  if (!obj) return;
  obj->SetScene(nullptr);
  Notification(obj, classlib::TOperation::opRemove);
  roots_.erase(std::remove(roots_.begin(), roots_.end(), obj), roots_.end());
}

void TsgCustomScene::RealignRoot() {
  TsgVisualObject* root = roots_.empty() ? nullptr : roots_.front()->Visual();
  if (!root) return;
  const float w = static_cast<float>(Width()), h = static_cast<float>(Height());
  const TsgPoint scale{root->Scale()->X(), root->Scale()->Y()};
  const float a = root->RotateAngle();
  if (a == 90 || a == -90 || a == -270 || a == 270)
    root->SetBounds((w - h) / 2, (h - w) / 2, h / scale.Y, w / scale.X);
  else
    root->SetBounds(0, 0, w / scale.X, h / scale.Y);
}

void TsgCustomScene::DefineProperties(classlib::TFiler& filer) {
  TCustomControl::DefineProperties(filer);
  filer.DefineProperty(
      // The grid shows only while designing.
      "DesignSnapGridShow",
      [this](classlib::TReader& r) { DesignSnapGridShow = r.ReadBoolean() && design_; },
      [this](classlib::TWriter& w) { w.WriteBoolean(DesignSnapGridShow); }, true);
  filer.DefineProperty(
      "DesignSnapToGrid", [this](classlib::TReader& r) { DesignSnapToGrid = r.ReadBoolean(); },
      [this](classlib::TWriter& w) { w.WriteBoolean(DesignSnapToGrid); }, true);
  filer.DefineProperty(
      "DesignSnapToLines", [this](classlib::TReader& r) { DesignSnapToLines = r.ReadBoolean(); },
      [this](classlib::TWriter& w) { w.WriteBoolean(DesignSnapToLines); }, true);
}

void TsgCustomScene::GetChildren(const classlib::TGetChildProc& proc, TComponent* root) {
  TCustomControl::GetChildren(proc, root);
  for (TsgObject* obj : roots_)
    if (obj->Stored()) proc(obj);
}

namespace {

// Controls under an invisible object take no action updates.
void UpdateVisibleActions(TsgObject* obj) {
  TsgVisualObject* v = obj->Visual();
  if (!v || !v->Visible()) return;
  if (auto* control = dynamic_cast<TsgControl*>(v); control && control->GetAction())
    control->UpdateAction();
  for (int i = 0; i < obj->GetChildrenCount(); ++i)
    if (TsgObject* child = obj->GetChild(i)) UpdateVisibleActions(child);
}

}  // namespace

void TsgCustomScene::InitiateAction() {
  TCustomControl::InitiateAction();
  if (TsgObject* root = GetRoot()) UpdateVisibleActions(root);
}

// ---- properties

void TsgCustomScene::SetTransparency(bool v) {
  if (v == transparency_) return;
  transparency_ = v;
  AddUpdateRect({0, 0, 10000, 10000});
}

void TsgCustomScene::FillChanged(classlib::TObject*) {
  updateRects_.clear();
  AddUpdateRect({0, 0, static_cast<float>(Width()), static_cast<float>(Height())});
}

void TsgCustomScene::SetStyle(TsgResources* style) {
  if (style == style_) return;
  if (style_) {
    style_->RemoveScene(this);
    style_->RemoveFreeNotification(this);
  }
  style_ = style;
  if (style_) {
    // A refill of the book restyles this scene.
    style_->AddScene(this);
    style_->FreeNotification(this);
  }
  UpdateStyle();
}

void TsgCustomScene::UpdateStyle() {
  if (TsgObject* root = GetRoot()) root->UpdateStyle();
}

void TsgCustomScene::SetActiveControl(TsgControl* v) {
  if (v == activeControl_) return;
  TsgControl* old = activeControl_;
  activeControl_ = v;
  Unwatch(old);
  if (!v) return;
  v->FreeNotification(this);
  // A loading control takes the focus itself once it has loaded.
  if (!IsLoading()) v->SetFocus();
}

void TsgCustomScene::Unwatch(TComponent* obj) {
  if (!obj) return;
  // One registration serves every field that refers to the object.
  auto refers = [obj](const TComponent* field) { return field == obj; };
  if (refers(hovered_) || refers(focused_) || refers(captured_) || refers(selected_) ||
      refers(activeControl_) || refers(designPlaceObject_))
    return;
  obj->RemoveFreeNotification(this);
}

void TsgCustomScene::Notification(TComponent* component, classlib::TOperation operation) {
  TCustomControl::Notification(component, operation);
  if (operation != classlib::TOperation::opRemove || !component) return;
  if (activeControl_ && static_cast<TComponent*>(activeControl_) == component)
    activeControl_ = nullptr;
  auto same = [&](TsgVisualObject* v) { return v && static_cast<TComponent*>(v) == component; };
  if (same(captured_)) captured_ = nullptr;
  if (same(selected_)) selected_ = nullptr;
  if (same(hovered_)) hovered_ = nullptr;
  if (same(focused_)) focused_ = nullptr;
  if (same(designPlaceObject_)) designPlaceObject_ = nullptr;
  if (frame_ && static_cast<TComponent*>(frame_) == component) frame_ = nullptr;
  snapLines_.erase(std::remove_if(snapLines_.begin(), snapLines_.end(), same), snapLines_.end());
  multiSelection_.erase(std::remove_if(multiSelection_.begin(), multiSelection_.end(), same),
                        multiSelection_.end());
  if (carrierObject_ && static_cast<TComponent*>(carrierObject_) == component)
    carrierObject_ = nullptr;
  if (designPlaceHolder_ && static_cast<TComponent*>(designPlaceHolder_) == component)
    designPlaceHolder_ = nullptr;
  if (style_ && static_cast<TComponent*>(style_) == component) SetStyle(nullptr);
}

TsgRect TsgCustomScene::GetUpdateRectItem(int index) {
  if (index < 0 || index >= static_cast<int>(updateRects_.size())) return {};
  return updateRects_[static_cast<size_t>(index)];
}

void TsgCustomScene::SetCaptured(TsgVisualObject* obj) {
  captured_ = obj;
  if (obj) {
    if (captured_) captured_->FreeNotification(this);
    if (HandleAllocated()) SetCapture(Handle());
  } else if (HandleAllocated() && GetCapture() == Handle()) {
    ReleaseCapture();
  }
}

void TsgCustomScene::SetFocused(TsgVisualObject* obj) {
  if (obj == focused_) return;
  if (TsgVisualObject* old = focused_) {
    focused_ = nullptr;
    old->KillFocus();
    Unwatch(old);
  }
  focused_ = obj;
  if (obj) {
    obj->EnterFocus();
    obj->FreeNotification(this);
  }
}

void TsgCustomScene::SetSelected(TsgVisualObject* obj) {
  if (!obj || obj->Scene() != static_cast<IsgScene*>(this)) return;
  selected_ = obj;
  obj->FreeNotification(this);
  obj->DesignInsert();
  AddUpdateRect({0, 0, 10000, 10000});
  Draw();
}

TsgPoint TsgCustomScene::LocalToScreen(const TsgPoint& p) {
  POINT pt{static_cast<LONG>(p.X), static_cast<LONG>(p.Y)};
  if (HandleAllocated()) ::ClientToScreen(handle_, &pt);
  return {static_cast<float>(pt.x), static_cast<float>(pt.y)};
}

// ---- window

classlib::TCustomForm* TsgCustomScene::ParentForm() const {
  return dynamic_cast<classlib::TCustomForm*>(Parent());
}

bool TsgCustomScene::LayeredRoad() const { return layered_ && !design_; }

HDC TsgCustomScene::CanvasDC() const {
  auto* gp = dynamic_cast<TsgCanvasGdiPlus*>(canvas_);
  return gp ? gp->BufferDC() : nullptr;
}

void TsgCustomScene::CreateHandle() {
  TCustomControl::CreateHandle();
  // Character messages arrive as UTF-16 code units: the window is Unicode
  // already (the class library makes every window with the wide API).
  canvas_->ResizeBuffer(Width(), Height());
  RealignRoot();
  AddUpdateRect({0, 0, static_cast<float>(Width()), static_cast<float>(Height())});
  classlib::TCustomForm* form = ParentForm();
  // Without the layered-window entry no form is made layered: the normal
  // road serves.
  if (transparency_ && !design_ && form && g_updateLayered) {
    HWND wnd = form->Handle();
    SetWindowLongW(wnd, GWL_EXSTYLE, GetWindowLongW(wnd, GWL_EXSTYLE) | WS_EX_LAYERED);
    layered_ = true;
    UpdateLayered();
    AddUpdateRect({0, 0, 65535, 65535});
  }
}

void TsgCustomScene::DestroyWnd() {
  // The canvas draws into its own buffer; nothing of the window is kept.
  if (HandleAllocated() && dropRegistered_) {
    RevokeDragDrop(handle_);
    dropRegistered_ = false;
  }
  TCustomControl::DestroyWnd();
}

void TsgCustomScene::SetBounds(int left, int top, int width, int height) {
  TCustomControl::SetBounds(left, top, width, height);
  if (canvas_ && HandleAllocated()) {
    canvas_->ResizeBuffer(Width(), Height());
    RealignRoot();
  }
}

void TsgCustomScene::Loaded() {
  TCustomControl::Loaded();
  savedCursor_ = Cursor();
  if (DesignSnapToLines) DesignSnapToGrid = false;
  auto* timer = classlib::New<classlib::TTimer>(this);
  timer->SetInterval(1);
  timer->SetOnTimer(classlib::EventOf<&TsgCustomScene::LoadedTimerFired>(this));
  loadedTimer_ = timer;
}

void TsgCustomScene::LoadedTimerFired(classlib::TObject* sender) {
  auto* timer = static_cast<classlib::TTimer*>(sender);
  timer->SetEnabled(false);
  AddUpdateRect({0, 0, 65535, 65535});
  loadedTimer_ = nullptr;
  // A timer may free itself in its own event.
  classlib::Free(timer);
}

// ---- dirty rectangles

void TsgCustomScene::AddUpdateRect(const TsgRect& r) {
  if (DisableUpdate || IsLoading() || !HandleAllocated() || IsDestroying()) return;
  if (canvas_->Buffered() && !canvas_->Bits()) return;
  RECT snapped{};
  if (!SnapUpdateRect(r, Width(), Height(), snapped)) return;
  if (LayeredRoad()) {
    updateRects_.push_back({static_cast<float>(snapped.left), static_cast<float>(snapped.top),
                            static_cast<float>(snapped.right), static_cast<float>(snapped.bottom)});
    PostMessageW(handle_, WM_SG_UPDATE, 0, 0);
    return;
  }
  // Inside WM_PAINT the window is validated after the pass: a rectangle
  // queued by the pass itself is invalidated once that is done.
  if (drawing_ && paintDC_)
    lateRects_.push_back(snapped);
  else
    InvalidateRect(handle_, &snapped, FALSE);
}

void TsgCustomScene::WMSgUpdate(TMessage&) {
  MSG msg;
  while (PeekMessageW(&msg, handle_, WM_SG_UPDATE, WM_SG_UPDATE, PM_REMOVE)) {
    // The filter lets a quit through: put it back for the loop above us.
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
  }
  Draw();
}

void TsgCustomScene::WMPaint(TMessage& m) {
  if (drawing_) return;
  if (!m.WParam) {
    HRGN rgn = CreateRectRgn(0, 0, 0, 0);
    const int kind = GetUpdateRgn(handle_, rgn, FALSE);
    if (kind == SIMPLEREGION || kind == COMPLEXREGION) {
      updateRects_.clear();
      const DWORD size = GetRegionData(rgn, 0, nullptr);
      std::vector<uint8_t> data(size);
      auto* rd = reinterpret_cast<RGNDATA*>(data.data());
      if (size >= sizeof(RGNDATAHEADER) && GetRegionData(rgn, size, rd) == size) {
        const auto* rects = reinterpret_cast<const RECT*>(rd->Buffer);
        for (DWORD i = 0; i < rd->rdh.nCount; ++i)
          updateRects_.push_back(
              {static_cast<float>(rects[i].left), static_cast<float>(rects[i].top),
               static_cast<float>(rects[i].right), static_cast<float>(rects[i].bottom)});
      }
      HDC dc = GetDC(handle_);
      paintDC_ = dc;
      try {
        Draw();
      } catch (...) {
        paintDC_ = nullptr;
        ReleaseDC(handle_, dc);
        DeleteObject(rgn);
        ValidateRect(handle_, nullptr);
        throw;
      }
      paintDC_ = nullptr;
      ReleaseDC(handle_, dc);
    }
    DeleteObject(rgn);
  }
  // Validates the window; Paint draws nothing.
  TCustomControl::WMPaint(m);
  std::vector<RECT> late;
  late.swap(lateRects_);
  for (const RECT& r : late) InvalidateRect(handle_, &r, FALSE);
}

void TsgCustomScene::WMEraseBkgnd(TMessage& m) {
  HDC dc = reinterpret_cast<HDC>(m.WParam);
  if (dc && canvas_ && HandleAllocated()) {
    RECT r{};
    if (!GetUpdateRect(handle_, &r, FALSE)) canvas_->FlushBuffer(0, 0, dc);
  }
  m.Result = 1;
}

void TsgCustomScene::CMShowingChanged(TMessage& m) {
  TCustomControl::CMShowingChanged(m);
  AddUpdateRect({0, 0, static_cast<float>(Width()), static_cast<float>(Height())});
}

// ---- the draw pass

void TsgCustomScene::Draw() {
  if (!(design_ || !frame_) || drawing_ || updateRects_.empty()) return;
  drawing_ = true;
  ++drawCount_;
  // The pass empties the rectangles it drew, whatever happens; those an
  // object queues while the pass runs stay for the next one (their message
  // is already posted), or a repaint asked for during painting would be lost.
  struct Done {
    TsgCustomScene* s;
    size_t drawn;
    ~Done() {
      auto& list = s->updateRects_;
      list.erase(list.begin(), list.begin() + static_cast<ptrdiff_t>(std::min(drawn, list.size())));
      s->drawing_ = false;
    }
  } done{this, updateRects_.size()};
  if (updateRects_.size() > kMaxUpdateRects) {
    TsgRect u = updateRects_.front();
    for (const TsgRect& r : updateRects_) u = sgUnionRect(u, r);
    updateRects_.assign(1, u);
  }
  done.drawn = updateRects_.size();
  const float w = static_cast<float>(Width()), h = static_cast<float>(Height());
  classlib::TCustomForm* form = ParentForm();
  if (canvas_->BeginScene()) {
    canvas_->ResetClipRect();
    canvas_->SetMatrix(IdentityMatrix);
    canvas_->SetClipRects(updateRects_);
    const bool fillNone = fill_->Style() == sgBrushNone;
    if (transparency_ && !form) {
      if (!fillNone) {
        canvas_->Fill()->Assign(fill_);
        canvas_->FillRect({-1, -1, w + 1, h + 1}, 0, 0, sgAllCorners, 1, sgCornerRound);
      } else {
        PaintParent(CanvasDC());
      }
    } else if (fillNone || (fill_->Style() == sgBrushSolid && (fill_->SolidColor() >> 24) == 0)) {
      const TsgColor clear = transparency_ ? 0 : (fill_->SolidColor() & 0x00FFFFFFu);
      for (const TsgRect& r : updateRects_) canvas_->ClearRect(r, clear);
    } else {
      canvas_->Fill()->Assign(fill_);
      canvas_->FillRect({-1, -1, w + 1, h + 1}, 0, 0, sgAllCorners, 1, sgCornerRound);
    }
    canvas_->StrokeThickness = 1;
    canvas_->StrokeCap = sgCapFlat;
    canvas_->StrokeJoin = sgJoinMiter;
    canvas_->SetStrokeDash(sgDashSolid);
    canvas_->Stroke()->SetStyle(sgBrushSolid);
    canvas_->Fill()->SetStyle(sgBrushSolid);
    for (TsgObject* obj : std::vector<TsgObject*>(roots_)) {
      TsgVisualObject* v = obj->Visual();
      if (!v || !v->Visible()) continue;
      const TsgRect ur = v->GetUpdateRect();
      const bool meets = std::any_of(updateRects_.begin(), updateRects_.end(),
                                     [&](const TsgRect& r) { return sgRectsIntersect(r, ur); });
      if (!meets) continue;
      canvas_->SetMatrix(v->GetAbsoluteMatrix());
      v->BeforePaint();
      v->Paint();
      v->AfterPaint();
      v->PaintChildren();
      if (v->OnPaint) {
        canvas_->SetMatrix(v->GetAbsoluteMatrix());
        v->OnPaint(v, canvas_, v->GetLocalRect());
      }
    }
    if (selected_ && !selected_->NoDesignGrips) DrawDesignOverlay();
    canvas_->EndScene();
  }
  // The road was chosen when the window was made: a form that was not made
  // layered then shows the scene through its window like any other.
  if (!LayeredRoad()) {
    HDC dc = paintDC_;
    HDC own = nullptr;
    if (!dc && HandleAllocated()) dc = own = GetDC(handle_);
    if (dc)
      for (const TsgRect& r : updateRects_) canvas_->FlushBufferRect(0, 0, dc, r);
    if (own) ReleaseDC(handle_, own);
  }
  if (LayeredRoad()) UpdateLayered();
}

void TsgCustomScene::UpdateLayered() {
  classlib::TCustomForm* form = ParentForm();
  if (design_ || !form || !form->HandleAllocated() || !g_updateLayered) return;
  HDC src = CanvasDC();
  if (!src) return;
  RECT fr{};
  GetWindowRect(form->Handle(), &fr);
  POINT dst{fr.left + Left(), fr.top + Top()};
  SIZE size{Width(), Height()};
  POINT origin{0, 0};
  BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  // Child window controls paint opaque colours over the buffer; their
  // pixels keep the buffer's alpha.
  std::vector<classlib::TWinControl*> children;
  for (int i = 0; i < ControlCount(); ++i)
    if (auto* wc = dynamic_cast<classlib::TWinControl*>(Controls(i)); wc && wc->Visible())
      children.push_back(wc);
  uint32_t* bits = canvas_->Bits();
  std::vector<uint32_t> saved;
  if (!children.empty() && bits) {
    saved.assign(bits, bits + static_cast<size_t>(Width()) * static_cast<size_t>(Height()));
    GdiFlush();
    for (classlib::TWinControl* wc : children) wc->PaintTo(src, wc->Left(), wc->Top());
    GdiFlush();
    for (size_t i = 0; i < saved.size(); ++i)
      bits[i] = (bits[i] & 0x00FFFFFFu) | (saved[i] & 0xFF000000u);
  }
  g_updateLayered(form->Handle(), nullptr, &dst, &size, src, &origin, 0, &blend, ULW_ALPHA);
}

namespace {

// Paints into dc (origin at the container's client origin) the graphic and
// custom controls (only the custom ones when customOnly) of the container
// that come before stop and meet area (in the container's coordinates); a
// custom control's own custom controls follow it the same way.
void PaintSiblingsBefore(HDC dc, classlib::TWinControl* container, classlib::TControl* stop,
                         const RECT& area, bool customOnly) {
  const auto dcArg = reinterpret_cast<WPARAM>(dc);
  for (int i = 0; i < container->ControlCount(); ++i) {
    classlib::TControl* c = container->Controls(i);
    if (c == stop) break;
    const bool graphic = dynamic_cast<classlib::TGraphicControl*>(c) != nullptr;
    auto* custom = dynamic_cast<classlib::TCustomControl*>(c);
    if ((!custom && (customOnly || !graphic)) || !c->Visible()) continue;
    const RECT bounds{c->Left(), c->Top(), c->Left() + c->Width(), c->Top() + c->Height()};
    RECT meet{};
    if (!IntersectRect(&meet, &bounds, &area)) continue;
    const int s = SaveDC(dc);
    POINT o{};
    GetViewportOrgEx(dc, &o);
    SetViewportOrgEx(dc, o.x + c->Left(), o.y + c->Top(), nullptr);
    IntersectClipRect(dc, 0, 0, c->Width(), c->Height());
    c->Perform(WM_PAINT, dcArg, 0);
    if (custom) {
      OffsetRect(&meet, -c->Left(), -c->Top());
      PaintSiblingsBefore(dc, custom, nullptr, meet, true);
    }
    RestoreDC(dc, s);
  }
}

}  // namespace

void TsgCustomScene::PaintParent(HDC dc) {
  classlib::TWinControl* parent = Parent();
  if (!dc || !parent) return;
  const int saved = SaveDC(dc);
  // Only the dirty area.
  HRGN clip = nullptr;
  for (const TsgRect& r : updateRects_) {
    HRGN part = CreateRectRgn(static_cast<int>(r.Left), static_cast<int>(r.Top),
                              static_cast<int>(r.Right), static_cast<int>(r.Bottom));
    if (!clip) {
      clip = part;
    } else {
      CombineRgn(clip, clip, part, RGN_OR);
      DeleteObject(part);
    }
  }
  if (clip) {
    SelectClipRgn(dc, clip);
    DeleteObject(clip);
  }
  POINT org{};
  GetViewportOrgEx(dc, &org);
  SetViewportOrgEx(dc, org.x - Left(), org.y - Top(), nullptr);
  const auto dcArg = reinterpret_cast<WPARAM>(dc);
  if (auto* form = dynamic_cast<classlib::TCustomForm*>(parent)) {
    // An MDI frame's visible background is its client window's.
    HWND target = form->Handle();
    if (form->FormStyle() == classlib::TFormStyle::fsMDIForm)
      if (HWND client = FindWindowExW(target, nullptr, L"MDICLIENT", nullptr)) target = client;
    SendMessageW(target, WM_ERASEBKGND, dcArg, 0);
  } else {
    parent->Perform(WM_ERASEBKGND, dcArg, dcArg);
    parent->Perform(WM_PAINT, dcArg, 0);
  }
  PaintSiblingsBefore(dc, parent, this, RECT{Left(), Top(), Left() + Width(), Top() + Height()},
                      false);
  RestoreDC(dc, saved);
}

void TsgCustomScene::DrawDesignOverlay() {
  TsgVisualObject* s = selected_;
  TsgCanvas* cv = canvas_;
  cv->SetMatrix(s->GetAbsoluteMatrix());
  TsgRect r = s->GetBoundsRect();
  sgInflateRect(r, -0.5f, -0.5f);
  cv->Stroke()->SetStyle(sgBrushSolid);
  cv->Stroke()->SetSolidColor(0xFF1072C5);
  cv->StrokeThickness = 1;
  cv->SetStrokeDash(sgDashDash);
  cv->DrawRect(r, 0, 0, sgAllCorners, 1, sgCornerRound);
  cv->SetStrokeDash(sgDashSolid);
  const float midX = (r.Left + r.Right) / 2, midY = (r.Top + r.Bottom) / 2;
  cv->DrawLine({midX, r.Top}, {midX, r.Top - 10}, 1);
  auto grip = [&](Grip g, const TsgRect& area, bool circle) {
    cv->Fill()->SetStyle(sgBrushSolid);
    cv->Fill()->SetSolidColor(gripHot_[g] ? 0xFFFF0000 : 0xFFFFFFFF);
    if (circle) {
      cv->FillEllipse(area, 2);
      cv->DrawEllipse(area, 2);
    } else {
      cv->FillRect(area, 0, 0, sgAllCorners, 2, sgCornerRound);
      cv->DrawRect(area, 0, 0, sgAllCorners, 2, sgCornerRound);
    }
  };
  auto around = [](float x, float y) { return TsgRect{x - 3, y - 3, x + 3, y + 3}; };
  grip(gRotate, around(midX, r.Top - 10), true);
  grip(gTopLeft, around(r.Left, r.Top), true);
  grip(gTopRight, around(r.Right, r.Top), true);
  grip(gBottomLeft, around(r.Left, r.Bottom), true);
  grip(gBottomRight, around(r.Right, r.Bottom), true);
  if (s->Width() > 12) {
    grip(gTop, around(midX, r.Top), false);
    grip(gBottom, around(midX, r.Bottom), false);
  }
  if (s->Height() > 12) {
    grip(gLeft, around(r.Left, midY), false);
    grip(gRight, around(r.Right, midY), false);
  }
  TsgVisualObject* parent = s->VisualParent();
  if (!DesignDragging() || snapLines_.empty() || !parent) return;
  cv->SetMatrix(parent->GetAbsoluteMatrix());
  cv->SetStrokeDash(sgDashDash);
  const float x = s->Position()->X(), y = s->Position()->Y(), w = s->Width(), h = s->Height();
  for (TsgVisualObject* o : snapLines_) {
    const float sx = o->Position()->X(), sy = o->Position()->Y(), sw = o->Width(), sh = o->Height();
    auto vline = [&](float lx) {
      cv->DrawLine({lx + 0.5f, std::min(y, sy) + 0.5f},
                   {lx + 0.5f, std::max(y + h, sy + sh) + 0.5f}, 1);
    };
    auto hline = [&](float ly) {
      cv->DrawLine({std::min(x, sx) + 0.5f, ly + 0.5f},
                   {std::max(x + w, sx + sw) + 0.5f, ly + 0.5f}, 1);
    };
    if (y + std::round(h / 2) == sy + std::round(sh / 2)) hline(y + std::round(h / 2));
    if (x + std::round(w / 2) == sx + std::round(sw / 2)) vline(x + std::round(w / 2));
    if (x == sx) vline(x);
    if (y == sy) hline(y);
    if (x + w == sx) vline(sx);
    if (y + h == sy) hline(sy);
    if (sx + sw == x) vline(x);
    if (sy + sh == y) hline(y);
    if (sx + sw == x + w) vline(x + w);
    if (sy + sh == y + h) hline(y + h);
  }
  cv->SetStrokeDash(sgDashSolid);
}

}  // namespace kelm::scene
