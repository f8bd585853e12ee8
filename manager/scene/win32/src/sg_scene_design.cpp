// The scene host in design mode: selecting, moving, resizing and rotating
// objects with grips, snapping to the grid and to sibling edges, and
// inserting new objects.
#include <algorithm>
#include <cmath>

#include "classlib/menus.h"
#include "classlib/sysutils.h"
#include "classlib/typinfo.h"
#include "scene/sg_classes.h"
#include "scene/sg_scene.h"

namespace kelm::scene {

namespace {

constexpr float kGrip = 3;
constexpr float kSnapDistance = 2;
constexpr float kResizeSnapDistance = 4;

bool Inside(const TsgPoint& p, float l, float t, float r, float b) {
  return p.X >= l && p.X <= r && p.Y >= t && p.Y <= b;
}

// Siblings a design move or resize aligns to: the other visual children.
std::vector<TsgVisualObject*> Siblings(TsgVisualObject* s) {
  std::vector<TsgVisualObject*> out;
  TsgObject* parent = s->Parent();
  if (!parent) return out;
  for (int i = 0; i < parent->GetChildrenCount(); ++i)
    if (TsgVisualObject* v = parent->GetChild(i)->Visual(); v && v != s) out.push_back(v);
  return out;
}

}  // namespace

bool TsgCustomScene::DesignDragging() const {
  return designMoving_ ||
         std::any_of(std::begin(gripDrag_), std::end(gripDrag_), [](bool b) { return b; });
}

void TsgCustomScene::UpdateHotGrips() {
  TsgVisualObject* s = selected_;
  if (!s || s->NoDesignGrips) return;
  const TsgPoint p = s->AbsoluteToLocal(rawPoint_);
  const float w = s->Width(), h = s->Height();
  const TsgRect r = s->GetLocalRect();
  const TsgRect areas[gCount] = {
      {w / 2 - kGrip, -13, w / 2 + kGrip, -7},
      {-kGrip, -kGrip, kGrip, kGrip},
      {r.Right - kGrip, -kGrip, r.Right + kGrip, kGrip},
      {-kGrip, r.Bottom - kGrip, kGrip, r.Bottom + kGrip},
      {r.Right - kGrip, r.Bottom - kGrip, r.Right + kGrip, r.Bottom + kGrip},
      {w / 2 - kGrip, -kGrip, w / 2 + kGrip, kGrip},
      {w / 2 - kGrip, r.Bottom - kGrip, w / 2 + kGrip, r.Bottom + kGrip},
      {-kGrip, h / 2 - kGrip, kGrip, h / 2 + kGrip},
      {r.Right - kGrip, h / 2 - kGrip, r.Right + kGrip, h / 2 + kGrip}};
  for (int g = 0; g < gCount; ++g) {
    const TsgRect& a = areas[g];
    const bool hot = Inside(p, a.Left, a.Top, a.Right, a.Bottom);
    if (hot == gripHot_[g]) continue;
    gripHot_[g] = hot;
    TsgRect grown{a.Left - 1, a.Top - 1, a.Right + 1, a.Bottom + 1};
    const TsgPoint c1 = s->LocalToAbsolute({grown.Left, grown.Top});
    const TsgPoint c2 = s->LocalToAbsolute({grown.Right, grown.Bottom});
    AddUpdateRect(sgNormalizeRect({c1.X, c1.Y, c2.X, c2.Y}));
  }
}

void TsgCustomScene::DesignMouseDown(TMouseButton button, TShiftState shift) {
  std::fill(std::begin(gripDrag_), std::end(gripDrag_), false);
  designMoving_ = false;
  if (selected_ && !selected_->NoDesignGrips) {
    UpdateHotGrips();
    for (int g = 0; g < gCount; ++g)
      if (gripHot_[g]) {
        gripDrag_[g] = true;
        return;
      }
  }
  if (roots_.empty()) {
    classlib::TClass cls = classlib::GetClass("TsgBackground");
    auto* root = cls && cls->InheritsFrom(TsgVisualObject::StaticClass())
                     ? static_cast<TsgVisualObject*>(cls->Create(Owner()))
                     : classlib::New<TsgVisualObject>(Owner());
    AddObject(root);
    RealignRoot();
  }
  if (button == classlib::TMouseButton::mbRight) {
    POINT p{};
    GetCursorPos(&p);
    insertPoint_ = p;
    BuildDesignMenu({p.x, p.y});
  }
  TsgVisualObject* v = ObjectAtScenePoint(lastPoint_);
  if (!v) return;
  if (v == selected_ && shift.Contains(classlib::ssDouble)) selected_->DesignClick();
  if (shift.Contains(classlib::ssCtrl) && v != selected_) {
    auto it = std::find(multiSelection_.begin(), multiSelection_.end(), v);
    if (it != multiSelection_.end()) {
      if (selected_)
        *it = selected_;
      else
        multiSelection_.erase(it);
    } else {
      multiSelection_.push_back(v);
      v->FreeNotification(this);
    }
    return;
  }
  multiSelection_.clear();
  if (selected_) selected_->Repaint();
  selected_ = v;
  v->FreeNotification(this);
  v->DesignInsert();
  v->Repaint();
  designMoving_ = true;
}

void TsgCustomScene::DesignMouseMove(TShiftState shift) {
  UpdateHotGrips();
  TsgVisualObject* s = selected_;
  if (!s || !DesignDragging()) {
    anchor_ = lastPoint_;
    return;
  }
  TsgVisualObject* parent = s->VisualParent();
  if (designMoving_ && shift.Contains(classlib::ssLeft)) {
    if (snapLines_.size()) RepaintSnapGuides();
    const TsgPoint step{rawPoint_.X - anchor_.X, rawPoint_.Y - anchor_.Y};
    const TsgPoint v =
        parent ? parent->AbsoluteToLocalVector(step) : s->AbsoluteToLocalVector(step);
    const TsgPoint to = Snapped(s->Position()->X() + v.X, s->Position()->Y() + v.Y);
    s->Position()->SetPoint(to);
    SnapToLines(true, nullptr);
    RepaintSnapGuides();
    const bool was = s->HitTest();
    s->SetHitTest(false);
    TsgVisualObject* place = ObjectAtScenePoint(rawPoint_);
    s->SetHitTest(was);
    if (place == s || place == parent) place = nullptr;
    if (place != designPlaceObject_) {
      if (designPlaceObject_) designPlaceObject_->Repaint();
      designPlaceObject_ = place;
      if (place) {
        place->FreeNotification(this);
        place->Repaint();
      }
    }
    if (shift.Contains(classlib::ssAlt) && place) {
      const TsgPoint abs = s->LocalToAbsolute({0, 0});
      s->SetParent(place);
      const TsgPoint local = place->AbsoluteToLocal(abs);
      s->Position()->SetPoint(local);
    }
  } else if (gripDrag_[gRotate]) {
    const TsgPoint c{s->Width() / 2, s->Height() / 2};
    const TsgPoint la = s->AbsoluteToLocal(anchor_), lc = s->AbsoluteToLocal(rawPoint_);
    const TsgPoint a{la.X - c.X, la.Y - c.Y}, b{lc.X - c.X, lc.Y - c.Y};
    const float na = std::hypot(a.X, a.Y), nb = std::hypot(b.X, b.Y);
    float angle = 0;
    if (na != 0 && nb != 0)
      angle = std::acos(std::min(1.0f, (a.X * b.X + a.Y * b.Y) / (na * nb))) * 180.0f /
              3.14159265358979f;
    if (b.X * a.Y - b.Y * a.X >= 0)
      s->SetRotateAngle(s->RotateAngle() - angle);
    else
      s->SetRotateAngle(s->RotateAngle() + angle);
  } else {
    if (snapLines_.size()) RepaintSnapGuides();
    TsgPoint p = s->AbsoluteToLocal(lastPoint_);
    SnapToLines(false, &p);
    RepaintSnapGuides();
    TsgRect r = s->GetLocalRect();
    if (gripDrag_[gTopLeft] || gripDrag_[gLeft] || gripDrag_[gBottomLeft]) r.Left = p.X;
    if (gripDrag_[gTopRight] || gripDrag_[gRight] || gripDrag_[gBottomRight]) r.Right = p.X;
    if (gripDrag_[gTopLeft] || gripDrag_[gTop] || gripDrag_[gTopRight]) r.Top = p.Y;
    if (gripDrag_[gBottomLeft] || gripDrag_[gBottom] || gripDrag_[gBottomRight]) r.Bottom = p.Y;
    s->SetSizeFromLocalRect(r);
  }
  anchor_ = lastPoint_;
}

void TsgCustomScene::SnapToLines(bool moving, TsgPoint* gripPoint) {
  TsgVisualObject* s = selected_;
  if (!DesignSnapToLines || !s || !s->Parent()) return;
  for (TsgVisualObject* o : Siblings(s)) {
    const float x = s->Position()->X(), y = s->Position()->Y(), w = s->Width(), h = s->Height();
    const float sx = o->Position()->X(), sy = o->Position()->Y(), sw = o->Width(), sh = o->Height();
    // Each test: the distance, and the move that lines the two up.
    struct Test {
      float mine, theirs;
      bool horizontal;  // moves x
    };
    const Test tests[] = {{y + std::round(h / 2), sy + std::round(sh / 2), false},
                          {x + std::round(w / 2), sx + std::round(sw / 2), true},
                          {x, sx, true},
                          {y, sy, false},
                          {x + w, sx, true},
                          {y + h, sy, false},
                          {x, sx + sw, true},
                          {y, sy + sh, false},
                          {x + w, sx + sw, true},
                          {y + h, sy + sh, false}};
    for (const Test& t : tests) {
      if (std::fabs(t.mine - t.theirs) >= kSnapDistance) continue;
      if (moving) {
        const float d = t.theirs - t.mine;
        if (t.horizontal) {
          s->Position()->SetX(x + d);
          anchor_.X += d;
        } else {
          s->Position()->SetY(y + d);
          anchor_.Y += d;
        }
      }
      if (std::find(snapLines_.begin(), snapLines_.end(), o) == snapLines_.end()) {
        snapLines_.push_back(o);
        o->FreeNotification(this);
      }
      break;
    }
  }
  if (moving || !gripPoint) return;
  // The grip point, in the selected object's local coordinates, is drawn to
  // the listed siblings' edges (mapped through the parent).
  TsgVisualObject* parent = s->VisualParent();
  TsgPoint p = parent ? parent->AbsoluteToLocal(s->LocalToAbsolute(*gripPoint))
                      : s->LocalToAbsolute(*gripPoint);
  for (TsgVisualObject* o : Siblings(s)) {
    const float sx = o->Position()->X(), sy = o->Position()->Y();
    for (float edge : {sx, sx + o->Width()})
      if (std::fabs(p.X - edge) < kResizeSnapDistance) p.X = edge;
    for (float edge : {sy, sy + o->Height()})
      if (std::fabs(p.Y - edge) < kResizeSnapDistance) p.Y = edge;
  }
  *gripPoint = s->AbsoluteToLocal(parent ? parent->LocalToAbsolute(p) : p);
}

void TsgCustomScene::RepaintSnapGuides() {
  TsgVisualObject* s = selected_;
  TsgVisualObject* parent = s ? s->VisualParent() : nullptr;
  if (!parent) return;
  auto add = [&](float l, float t, float r, float b) {
    const TsgPoint a = parent->LocalToAbsolute({l - 1, t - 1});
    const TsgPoint z = parent->LocalToAbsolute({r + 1, b + 1});
    const TsgRect rect = sgNormalizeRect({a.X, a.Y, z.X, z.Y});
    for (const TsgRect& q : updateRects_)
      if (q.Left == rect.Left && q.Top == rect.Top && q.Right == rect.Right &&
          q.Bottom == rect.Bottom)
        return;
    AddUpdateRect(rect);
  };
  const float x = s->Position()->X(), y = s->Position()->Y(), w = s->Width(), h = s->Height();
  for (TsgVisualObject* o : snapLines_) {
    const float sx = o->Position()->X(), sy = o->Position()->Y(), sw = o->Width(), sh = o->Height();
    const float top = std::min(y, sy), bottom = std::max(y + h, sy + sh);
    const float left = std::min(x, sx), right = std::max(x + w, sx + sw);
    for (float lx : {x, x + w, sx, sx + sw, x + std::round(w / 2)}) add(lx, top, lx + 1, bottom);
    for (float ly : {y, y + h, sy, sy + sh, y + std::round(h / 2)}) add(left, ly, right, ly + 1);
  }
}

void TsgCustomScene::DesignMouseUp() {
  if (designPlaceObject_) {
    designPlaceObject_->Repaint();
    designPlaceObject_ = nullptr;
  }
  RepaintSnapGuides();
  snapLines_.clear();
  const bool corner = gripDrag_[gTopLeft] || gripDrag_[gTopRight] || gripDrag_[gBottomLeft] ||
                      gripDrag_[gBottomRight];
  if (selected_ && (designMoving_ || corner)) {
    if (TsgVisualObject* parent = selected_->VisualParent()) parent->Realign();
    if (!selected_->Parent()) RealignRoot();
  }
  designMoving_ = false;
  std::fill(std::begin(gripDrag_), std::end(gripDrag_), false);
}

void TsgCustomScene::InsertObject(const std::string& className) {
  classlib::TClass cls = classlib::GetClass(className);
  if (!cls) {
    pendingInsertClass_.clear();
    return;
  }
  if (!cls->InheritsFrom(TsgObject::StaticClass())) {
    pendingInsertClass_ = className;
    return;
  }
  if (!selected_)
    if (TsgObject* root = GetRoot(); root && root->Visual()) selected_ = root->Visual();
  classlib::TComponent* owner = Owner();
  if (selected_) {
    auto* obj = static_cast<TsgObject*>(cls->Create(owner));
    selected_->AddObject(obj);
    TsgVisualObject* v = obj->Visual();
    if (v) {
      if (const classlib::TPropInfo* text = classlib::GetPropInfo(v, "Text");
          text && className.size() > 3) {
        if (text->SetWStr)
          text->SetWStr(v, classlib::Utf8ToWide(className.substr(3)));
        else if (text->SetStr)
          text->SetStr(v, className.substr(3));
      }
      if (insertPoint_.x > 0 && dynamic_cast<classlib::TWinControl*>(owner)) {
        POINT p = insertPoint_;
        ::ScreenToClient(handle_, &p);
        if (p.x >= 0 && p.y >= 0 && p.x <= Width() && p.y <= Height()) {
          const TsgPoint local =
              selected_->AbsoluteToLocal({static_cast<float>(p.x), static_cast<float>(p.y)});
          v->Position()->SetPoint(local);
        }
      }
    }
    insertPoint_ = {-1, -1};
    TsgVisualObject* previous = selected_;
    if (v) {
      selected_ = v;
      v->FreeNotification(this);
      v->DesignInsert();
      v->DesignSelect();
    }
    previous->Realign();
    return;
  }
  if (roots_.empty()) {
    auto* obj = static_cast<TsgObject*>(cls->Create(owner));
    AddObject(obj);
    if (TsgVisualObject* v = obj->Visual()) {
      POINT p = insertPoint_;
      if (auto* wc = dynamic_cast<classlib::TWinControl*>(owner); wc && wc->HandleAllocated())
        ::ScreenToClient(wc->Handle(), &p);
      v->Position()->SetPoint({static_cast<float>(p.x), static_cast<float>(p.y)});
      selected_ = v;
      v->FreeNotification(this);
      v->DesignInsert();
    }
    insertPoint_ = {-1, -1};
  }
}

void TsgCustomScene::AddObjectClick(classlib::TObject* sender) {
  auto* item = dynamic_cast<classlib::TMenuItem*>(sender);
  if (!item) return;
  if (!item->Hint().empty()) {
    if (selected_) InsertObject(classlib::WideToUtf8(item->Hint()));
    return;
  }
  InsertObject("Tsg" + classlib::WideToUtf8(classlib::StripHotkey(item->Caption())));
}

void TsgCustomScene::HideInDesignClick(classlib::TObject* sender) {
  (void)sender;
  TsgObject* root = GetRoot();
  if (!selected_ || selected_ == root) return;
  selected_->SetDesignHide(!selected_->DesignHide());
  if (selected_->DesignHide())
    if (TsgVisualObject* parent = selected_->VisualParent()) SetSelected(parent);
  AddUpdateRect({0, 0, static_cast<float>(Width()), static_cast<float>(Height())});
}

void TsgCustomScene::DeleteObjectClick(classlib::TObject* sender) {
  (void)sender;
  TsgObject* root = GetRoot();
  if (!selected_ || selected_ == root) return;
  TsgVisualObject* old = selected_;
  TsgVisualObject* replacement = old->VisualParent();
  if (!replacement && root) replacement = root->Visual();
  selected_ = replacement;
  if (replacement) {
    replacement->FreeNotification(this);
    replacement->DesignInsert();
  }
  classlib::Free(old);
}

}  // namespace kelm::scene
