// The base layout of visual objects: children placed by their Align kind,
// their Padding and the parent's Margins.
#include <cmath>

#include "scene/sg_visual.h"

namespace kelm::scene {

namespace {
// The order in which the kinds are placed; vaNone and vaTopLeft stay put.
constexpr TsgAlign kOrder[] = {vaMostTop,    vaMostBottom, vaMostLeft, vaMostRight,  vaTop,
                               vaBottom,     vaLeft,       vaRight,    vaClient,     vaHorizontal,
                               vaVertical,   vaContents,   vaCenter,   vaHorzCenter, vaVertCenter,
                               vaScale,      vaFit,        vaFitLeft,  vaFitRight,   vaTopRight,
                               vaBottomLeft, vaBottomRight};

bool In(TsgAlign a, std::initializer_list<TsgAlign> kinds) {
  for (TsgAlign k : kinds)
    if (a == k) return true;
  return false;
}
}  // namespace

void TsgVisualObject::Realign() {
  if (IsDestroying()) return;
  if ((width_ > -2 && width_ < 2) || (height_ > -2 && height_ < 2)) return;
  if (AlignDisabled || inRealign_ || updateCount_ >= 1) return;
  if (IsLoading()) {
    lastWidth_ = width_;
    lastHeight_ = height_;
    return;
  }
  if ((width_ != lastWidth_ || height_ != lastHeight_) && hasEffects_) UpdateEffects();
  if (!hasAlignedChildren_ || GetChildrenCount() == 0) {
    // The size is still taken as laid out: a corner or scale child added
    // later moves by what changes from now on, not by every earlier resize.
    lastWidth_ = width_;
    lastHeight_ = height_;
    return;
  }
  inRealign_ = true;
  struct Leave {
    bool& flag;
    ~Leave() { flag = false; }
  } leave{inRealign_};
  AlignChildren();
  lastWidth_ = width_;
  lastHeight_ = height_;
  inRealign_ = false;
  Repaint();
}

void TsgVisualObject::AlignChildren() {
  const TsgRect m = margins_->GetRect();
  TsgRect R{m.Left, m.Top, width_ - m.Right, height_ - m.Bottom};
  std::vector<TsgVisualObject*> kind;
  for (TsgAlign a : kOrder) {
    kind.clear();
    // Sorted by insertion: a child goes before the first one it sorts
    // before, so equal keys keep the child order ascending and reverse it
    // descending.
    auto key = [a](TsgVisualObject* c) -> float {
      const TsgPoint p = c->position_->GetPoint();
      if (a == vaTop || a == vaMostTop) return p.Y;
      if (a == vaLeft || a == vaMostLeft) return p.X;
      if (a == vaRight || a == vaMostRight) return p.X + c->width_;
      return p.Y + c->height_;
    };
    const bool ascending = In(a, {vaTop, vaMostTop, vaLeft, vaMostLeft});
    const bool sorted = ascending || In(a, {vaRight, vaMostRight, vaBottom, vaMostBottom});
    for (int i = 0; i < GetChildrenCount(); ++i) {
      TsgVisualObject* c = GetChild(i)->Visual();
      if (!c || !c->visible_ || c->align_ != a) continue;
      auto at = kind.end();
      if (sorted)
        for (auto it = kind.begin(); it != kind.end(); ++it)
          if (ascending ? key(c) < key(*it) : key(c) >= key(*it)) {
            at = it;
            break;
          }
      kind.insert(at, c);
    }
    for (TsgVisualObject* c : kind) {
      // A child's own realignment may have removed it meanwhile.
      if (c->Parent() != this) continue;
      const TsgRect pad = c->padding_->GetRect();
      const TsgPoint pos = c->position_->GetPoint();
      const float outerW = c->width_ + pad.Left + pad.Right;
      const float outerH = c->height_ + pad.Top + pad.Bottom;
      const float rw = R.Right - R.Left, rh = R.Bottom - R.Top;

      if (a == vaContents) {
        SetPointQuiet(c->position_, {pad.Left, pad.Top});
        c->width_ = width_ - pad.Left - pad.Right;
        c->height_ = height_ - pad.Top - pad.Bottom;
        c->MatrixChanged(this);
        c->Realign();
        continue;
      }
      if (In(a, {vaTopRight, vaBottomLeft, vaBottomRight})) {
        TsgPoint p = pos;
        if (a != vaBottomLeft) p.X += width_ - lastWidth_;
        if (a != vaTopRight) p.Y += height_ - lastHeight_;
        SetPointQuiet(c->position_, p);
        c->MatrixChanged(this);
        continue;
      }
      if (a == vaScale) {
        if (lastWidth_ > 0 && lastHeight_ > 0 && width_ > 0 && height_ > 0) {
          const float fx = width_ / lastWidth_, fy = height_ / lastHeight_;
          SetPointQuiet(c->position_, {pos.X * fx, pos.Y * fy});
          c->width_ *= fx;
          c->height_ *= fy;
          c->MatrixChanged(this);
          c->Realign();
        }
        continue;
      }
      if (In(a, {vaFit, vaFitLeft, vaFitRight})) {
        const TsgRect target{m.Left, m.Top, width_ - m.Right, height_ - m.Bottom};
        TsgRect outer{pos.X - pad.Left, pos.Y - pad.Top, pos.X + c->width_ + pad.Right,
                      pos.Y + c->height_ + pad.Bottom};
        const float ratio = sgFitRect(outer, target);
        // A smaller rectangle is enlarged to fit. A child of size 0 has
        // nothing to enlarge: it stays centred at size 0.
        if (ratio < 1 && ratio > 0) {
          outer = {outer.Left / ratio, outer.Top / ratio, outer.Right / ratio,
                   outer.Bottom / ratio};
          sgCenterRect(outer, target);
        }
        if (a == vaFitLeft) sgOffsetRect(outer, target.Left - outer.Left, 0);
        if (a == vaFitRight) sgOffsetRect(outer, target.Right - outer.Right, 0);
        SetPointQuiet(c->position_, {outer.Left + pad.Left, outer.Top + pad.Top});
        c->width_ = sgRectWidth(outer) - pad.Left - pad.Right;
        c->height_ = sgRectHeight(outer) - pad.Top - pad.Bottom;
        c->MatrixChanged(this);
        c->Realign();
        continue;
      }

      // The slot kinds.
      const float slotW =
          (In(a, {vaLeft, vaRight, vaMostLeft, vaMostRight, vaVertical}) || rw < 0) ? outerW : rw;
      const float slotH =
          (In(a, {vaTop, vaBottom, vaMostTop, vaMostBottom, vaHorizontal}) || rh < 0) ? outerH : rh;
      TsgRect slot{R.Left, R.Top, 0, 0};  // left, top; Right/Bottom hold width/height
      float sw = slotW, sh = slotH;
      switch (a) {
        case vaTop:
        case vaMostTop:
          R.Top += sh;
          break;
        case vaBottom:
        case vaMostBottom:
          slot.Top = R.Bottom - sh;
          R.Bottom = slot.Top;
          break;
        case vaLeft:
        case vaMostLeft:
          R.Left += sw;
          break;
        case vaRight:
        case vaMostRight:
          slot.Left = R.Right - sw;
          R.Right = slot.Left;
          break;
        case vaCenter:
          sw = outerW;
          sh = outerH;
          slot.Left += std::trunc((rw - outerW) / 2);
          slot.Top += std::trunc((rh - outerH) / 2);
          break;
        case vaHorzCenter:
          sw = outerW;
          slot.Left += std::trunc((rw - outerW) / 2);
          break;
        case vaVertCenter:
          sh = outerH;
          slot.Top += std::trunc((rh - outerH) / 2);
          break;
        case vaHorizontal:
          slot.Top = pos.Y - pad.Top;
          sh = outerH;
          break;
        case vaVertical:
          slot.Left = pos.X - pad.Left;
          sw = outerW;
          break;
        default:  // vaClient: the whole of R
          break;
      }
      SetPointQuiet(c->position_, {slot.Left + pad.Left, slot.Top + pad.Top});
      const float w = sw - pad.Left - pad.Right, h = sh - pad.Top - pad.Bottom;
      const bool resized = w != c->width_ || h != c->height_;
      c->width_ = w;
      c->height_ = h;
      if (resized) c->Realign();
      c->MatrixChanged(this);
      // A child that sizes itself gives back (or takes) the difference on
      // the edge this kind moved.
      const float dw = sw - (c->width_ + pad.Left + pad.Right);
      const float dh = sh - (c->height_ + pad.Top + pad.Bottom);
      if (In(a, {vaTop, vaMostTop}))
        R.Top -= dh;
      else if (In(a, {vaLeft, vaMostLeft}))
        R.Left -= dw;
      else if (In(a, {vaRight, vaMostRight}))
        R.Right += dw;
      else if (In(a, {vaBottom, vaMostBottom}))
        R.Bottom += dh;
      else if (a == vaClient) {
        R.Right += dw;
        R.Bottom += dh;
      }
    }
  }
}

}  // namespace kelm::scene
