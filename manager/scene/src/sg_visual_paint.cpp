// Painting of visual objects: the children pass that skips what misses the
// scene's dirty rectangles, painting into another canvas, and the effect
// images drawn around an object.
#include <cmath>
#include <functional>
#include <utility>
#include <vector>

#include "scene/sg_bitmap.h"
#include "scene/sg_canvas.h"
#include "scene/sg_effects.h"
#include "scene/sg_visual.h"

namespace kelm::scene {

namespace {
// Puts a saved canvas state back when the scope ends, also by an exception.
class StateGuard {
 public:
  StateGuard() = default;
  StateGuard(const StateGuard&) = delete;
  StateGuard& operator=(const StateGuard&) = delete;
  ~StateGuard() { Restore(); }
  void Save(TsgCanvas* canvas) {
    canvas_ = canvas;
    index_ = canvas->SaveState();
  }
  bool Saved() const { return canvas_ != nullptr; }
  void Restore() {
    if (!canvas_) return;
    TsgCanvas* c = canvas_;
    canvas_ = nullptr;
    c->RestoreState(index_);
  }

 private:
  TsgCanvas* canvas_ = nullptr;
  int index_ = -1;
};

// Runs a step when the scope ends, also by an exception.
class ScopeExit {
 public:
  explicit ScopeExit(std::function<void()> f) : f_(std::move(f)) {}
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;
  ~ScopeExit() {
    if (f_) f_();
  }

 private:
  std::function<void()> f_;
};

bool HasArea(const TsgRect& r) { return sgRectWidth(r) != 0 && sgRectHeight(r) != 0; }

void DrawFrame(TsgCanvas* canvas, const TsgRect& local, float thickness, TsgColor color) {
  StateGuard state;
  state.Save(canvas);
  canvas->Stroke()->SetStyle(sgBrushSolid);
  canvas->Stroke()->SetSolidColor(color);
  canvas->StrokeThickness = thickness;
  TsgRect r = local;
  sgInflateRect(r, -1, -1);
  canvas->DrawRect(r, 0, 0, sgAllCorners, 1, sgCornerRound);
}
}  // namespace

TsgRect TsgVisualObject::SubtreeRect() {
  // The update rectangle already holds the children unless this object
  // clips them; children that do not obey the clip still reach out.
  TsgRect r = GetUpdateRect();
  for (int i = 0; i < GetChildrenCount(); ++i) {
    TsgVisualObject* c = GetChild(i)->Visual();
    if (!c || !c->visible_) continue;
    if (clipChildren_ && c->canClipped_) continue;
    const TsgRect cr = c->SubtreeRect();
    if (HasArea(cr)) r = HasArea(r) ? sgUnionRect(r, cr) : cr;
  }
  return r;
}

bool TsgVisualObject::MeetsDirtyRects(TsgVisualObject* child) {
  IsgScene* sc = Scene();
  const TsgRect area = child->SubtreeRect();
  const int n = sc->GetUpdateRectsCount();
  for (int i = 0; i < n; ++i) {
    TsgRect common;
    if (sgIntersectRect(common, area, sc->GetUpdateRectItem(i))) return true;
  }
  return false;
}

void TsgVisualObject::PaintChildren() {
  if (!Scene()) return;
  // A handler may add or remove children while painting: the count is
  // read again on every step.
  for (int i = 0; i < GetChildrenCount(); ++i)
    if (TsgVisualObject* c = GetChild(i)->Visual()) PaintChild(c);
}

void TsgVisualObject::PaintChild(TsgVisualObject* c) {
  IsgScene* sc = Scene();
  TsgCanvas* canvas = Canvas();
  if (!canvas) return;
  const bool design = sc->GetDesignTime();
  if (!(c->visible_ || (design && !c->locked_))) return;
  if (design && c->designHide_) return;
  const TsgRect r = c->GetUpdateRect();
  if (!HasArea(r)) return;
  if (c->Scene() != sc) c->SetScene(sc);
  // A child that ignores this object's clip is painted wherever it lies.
  if (clipChildren_ && c->canClipped_) {
    TsgRect common;
    if (!sgIntersectRect(common, r, GetUpdateRect())) return;
  }
  if (!design && !paintingToBitmap_ && !MeetsDirtyRects(c)) return;

  StateGuard clip;
  if (clipChildren_ && c->canClipped_) {
    clip.Save(canvas);
    canvas->SetMatrix(GetAbsoluteMatrix());
    canvas->IntersectClipRect(GetClipRect());
  }
  canvas->SetMatrix(c->GetAbsoluteMatrix());
  c->BeforePaint();
  if (c->hasEffects_) c->ApplyEffect(canvas, TsgEffectPass::Under);
  if (!c->ReplacedByEffect()) {
    StateGuard excluded;
    for (int i = 0; i < c->GetChildrenCount(); ++i) {
      TsgVisualObject* g = c->GetChild(i)->Visual();
      if (!g || !g->clipParent_) continue;
      if (!excluded.Saved()) excluded.Save(canvas);
      canvas->SetMatrix(g->GetAbsoluteMatrix());
      canvas->ExcludeClipRect(g->GetLocalRect());
    }
    if (excluded.Saved()) canvas->SetMatrix(c->GetAbsoluteMatrix());
    {
      StateGuard own;
      if (c->clipChildren_) {
        own.Save(canvas);
        canvas->IntersectClipRect(c->GetClipRect());
      }
      if (c->OnBeforePaint) c->OnBeforePaint(c, canvas, c->GetLocalRect());
      c->Paint();
    }
    excluded.Restore();
    c->PaintChildren();
    if (c->OnPaint) {
      canvas->SetMatrix(c->GetAbsoluteMatrix());
      c->OnPaint(c, canvas, c->GetLocalRect());
    }
  } else {
    c->ApplyEffect(canvas, TsgEffectPass::Instead);
  }
  c->AfterPaint();
  const bool selectedFrame =
      design && SceneDesigner && c != sc->GetSelected() && SceneDesigner->IsSelected(c);
  const bool dragFrame = c->isDragOver_ && !c->DragDisableHighlight;
  if (selectedFrame || dragFrame) canvas->SetMatrix(c->GetAbsoluteMatrix());
  if (selectedFrame) DrawFrame(canvas, c->GetLocalRect(), 1, 0xB200CC5Au);
  if (dragFrame) DrawFrame(canvas, c->GetLocalRect(), 3, 0xB2005ACCu);
  clip.Restore();
  if (c->hasEffects_) c->ApplyEffect(canvas, TsgEffectPass::Over);
}

void TsgVisualObject::SetPaintingToBitmapTree(bool v) {
  paintingToBitmap_ = v;
  for (int i = 0; i < GetChildrenCount(); ++i)
    if (TsgVisualObject* c = GetChild(i)->Visual()) c->SetPaintingToBitmapTree(v);
}

void TsgVisualObject::RecomputeTree() {
  GetAbsoluteMatrix();
  for (int i = 0; i < GetChildrenCount(); ++i)
    if (TsgVisualObject* c = GetChild(i)->Visual()) c->RecomputeTree();
}

void TsgVisualObject::PaintTo(TsgCanvas* canvas, const TsgRect& r, TsgObject* parent) {
  IsgScene* sc = Scene();
  if (!sc || !canvas || width_ * height_ == 0) return;

  // Each step registers its undoing at once; the guards run in reverse,
  // also when a paint handler raises.
  const bool oldDisable = sc->GetDisableUpdate();
  sc->SetDisableUpdate(true);
  ScopeExit restoreUpdate([sc, oldDisable] { sc->SetDisableUpdate(oldDisable); });

  TsgCanvas* oldCanvas = paintCanvas_;
  SetPaintCanvasTree(canvas);
  ScopeExit restoreCanvas([this, oldCanvas] { SetPaintCanvasTree(oldCanvas); });
  StateGuard state;
  state.Save(canvas);

  const bool oldInRealign = inRealign_, oldPainting = paintingToBitmap_;
  inRealign_ = true;
  SetPaintingToBitmapTree(true);
  ScopeExit restoreFlags([this, oldInRealign, oldPainting] {
    inRealign_ = oldInRealign;
    SetPaintingToBitmapTree(oldPainting);
  });

  const TsgPoint oldPos = position_->GetPoint(), oldScale = scale_->GetPoint();
  const float oldAngle = rotateAngle_;
  // A borrowed parent inside this subtree would make the matrix walk
  // endless: taken as none.
  for (TsgObject* p = parent; p; p = p->Parent())
    if (p == this) {
      parent = nullptr;
      break;
    }
  TsgObject* oldParent = ExchangeParentField(parent);
  ScopeExit restoreGeometry([this, oldPos, oldScale, oldAngle, oldParent] {
    ExchangeParentField(oldParent);
    SetPointQuiet(position_, oldPos);
    SetPointQuiet(scale_, oldScale);
    rotateAngle_ = oldAngle;
    MatrixChanged(this);
    MarkUpdateRectDirty();
    RecomputeTree();
    MarkOpacityDirty();
    MarkEnabledDirty();
  });

  SetPointQuiet(position_, {r.Left, r.Top});
  SetPointQuiet(scale_, {sgRectWidth(r) / width_, sgRectHeight(r) / height_});
  rotateAngle_ = 0;
  MatrixChanged(this);
  MarkOpacityDirty();
  MarkEnabledDirty();
  canvas->SetMatrix(GetAbsoluteMatrix());
  BeforePaint();
  Paint();
  AfterPaint();
  PaintChildren();
}

// ---- effects
void TsgVisualObject::RenderEffects() {
  // Rendering moves this object for a moment, which marks the effect caches
  // up the tree: the ancestors' flags are put back afterwards.
  std::vector<std::pair<TsgVisualObject*, bool>> ancestors;
  for (TsgVisualObject* p = VisualParent(); p; p = p->VisualParent())
    ancestors.emplace_back(p, p->effectsDirty_);
  ScopeExit restoreAncestors([&ancestors] {
    for (auto& [p, dirty] : ancestors) p->effectsDirty_ = dirty;
  });
  const TsgPoint scale = GetAbsoluteScale();
  const TsgRect local{0, 0, width_, height_};
  for (int i = 0; i < GetChildrenCount(); ++i) {
    auto* e = dynamic_cast<TsgEffect*>(GetChild(i));
    if (!e || !e->Enabled()) continue;
    const TsgRect area = e->GetRect(local);
    const float fw = std::trunc(sgRectWidth(area) * scale.X);
    const float fh = std::trunc(sgRectHeight(area) * scale.Y);
    TsgBitmap* image = e->EnsureImage();
    // No image for no area, and none past MaxEffectSide (or not a number):
    // such a request would only exhaust memory.
    if (!(fw >= 1 && fh >= 1 && fw <= MaxEffectSide && fh <= MaxEffectSide)) {
      image->SetSize(0, 0);
      continue;
    }
    const int bw = static_cast<int>(fw), bh = static_cast<int>(fh);
    image->SetSize(bw, bh);
    image->Clear(0);
    TsgCanvas* bc = image->GetCanvas();
    if (bc && bc->BeginScene()) {
      ScopeExit endScene([bc] { bc->EndScene(); });
      // The image is kept at full opacity: the object's opacity applies when
      // it is drawn, so a fade needs no new image and is not applied twice.
      const float oldOpacity = opacity_;
      opacity_ = 1;
      MarkOpacityDirty();
      ScopeExit restoreOpacity([this, oldOpacity] {
        opacity_ = oldOpacity;
        MarkOpacityDirty();
      });
      const TsgPoint o = e->GetOffset();
      PaintTo(bc,
              {o.X * scale.X, o.Y * scale.Y, (o.X + width_) * scale.X, (o.Y + height_) * scale.Y},
              nullptr);
    }
    e->ProcessEffect(bc, *image, scale);
  }
  effectsDirty_ = false;
}

void TsgVisualObject::ApplyEffect(TsgCanvas* canvas, TsgEffectPass pass) {
  if (!canvas || !Scene() || GetChildrenCount() == 0 || !hasEffects_ || EffectsDisabled) return;
  // Replacing effects were drawn in the Under pass, in child order.
  if (pass == TsgEffectPass::Instead) return;
  StateGuard state;
  state.Save(canvas);
  if (effectsDirty_) RenderEffects();
  const TsgMatrix m = GetAbsoluteMatrix();
  canvas->SetMatrix(m);
  const bool rotated = m.m12 != 0 || m.m21 != 0;
  const bool over = pass == TsgEffectPass::Over;
  for (int i = 0; i < GetChildrenCount(); ++i) {
    auto* e = dynamic_cast<TsgEffect*>(GetChild(i));
    if (!e || !e->Enabled() || e->PaintOverObject() != over) continue;
    TsgBitmap* image = e->Image();
    if (!image || image->IsEmpty()) continue;
    canvas->DrawBitmap(image, {0, 0, float(image->Width()), float(image->Height())},
                       e->GetRect(GetLocalRect()), GetAbsoluteOpacity(), !rotated);
  }
}

}  // namespace kelm::scene
