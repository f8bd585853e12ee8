// TsgFrame: borrows the root object of another scene and shows it here. A
// scene is shown by one frame at a time; a second frame makes its own copy
// of the scene's form at its first paint.
#include "scene/sg_scene.h"

#include <cmath>

#include "classlib/classdef.h"
#include "classlib/forms.h"
#include "scene/sg_bitmap.h"
#include "scene/sg_canvas.h"

namespace kelm::scene {

CL_CLASS(TsgFrame) {}

TsgFrame::TsgFrame(classlib::TComponent* AOwner) : TsgVisualObject(AOwner) {}

TsgFrame::~TsgFrame() { delete snapshot_; }

void TsgFrame::BeforeDestruction() {
  // The borrowed root belongs to the other scene's form: it goes back
  // before this frame frees its children.
  if (!IsDesignTime()) Detach();
  if (sceneObject_) sceneObject_->RemoveFreeNotification(this);
  sceneObject_ = nullptr;
  TsgVisualObject::BeforeDestruction();
}

void TsgFrame::Detach() {
  TsgCustomScene* scene = sceneObject_;
  if (!scene || scene->Frame() != this) return;
  scene->SetFrame(nullptr);
  if (GetChildrenCount() > 0) {
    TsgObject* root = GetChild(0);
    RemoveObject(root);
    scene->AddObject(root);
  }
}

void TsgFrame::Attach() {
  TsgCustomScene* scene = sceneObject_;
  scene->SetFrame(this);
  TsgObject* root = scene->GetRoot();
  if (!root) return;
  scene->RemoveObject(root);
  AddObject(root);
  if (TsgVisualObject* v = root->Visual()) {
    v->SetAlign(vaClient);
    Realign();
  }
}

void TsgFrame::SetSceneObject(TsgCustomScene* scene) {
  if (scene == sceneObject_) return;
  if (scene && Scene() && Scene()->GetComponent() == scene) return;
  const bool design = IsDesignTime();
  if (!design) Detach();
  if (sceneObject_) sceneObject_->RemoveFreeNotification(this);
  sceneObject_ = scene;
  pending_ = false;
  if (scene) scene->FreeNotification(this);
  if (design || !scene) {
    Repaint();
    return;
  }
  if (scene->Frame() && scene->Frame() != this) {
    pending_ = true;
    return;
  }
  Attach();
}

void TsgFrame::Paint() {
  if (pending_) {
    pending_ = false;
    TsgCustomScene* shown = sceneObject_;
    if (!IsDesignTime() && shown && shown->Frame() && shown->Frame() != this && shown->Owner()) {
      classlib::TClass cls = shown->Owner()->ClassType();
      classlib::TComponent* appOwner = classlib::Application;
      auto* form = dynamic_cast<classlib::TCustomForm*>(cls->Create(appOwner));
      auto* copy =
          form ? dynamic_cast<TsgCustomScene*>(form->FindComponent(shown->Name())) : nullptr;
      if (copy) {
        instanceForm_ = form;
        shown->RemoveFreeNotification(this);
        sceneObject_ = copy;
        copy->FreeNotification(this);
        Attach();
      }
    }
  }
  if (!IsDesignTime() || !sceneObject_) return;
  TsgObject* rootObj = sceneObject_->GetRoot();
  TsgVisualObject* root = rootObj ? rootObj->Visual() : nullptr;
  TsgCanvas* canvas = Canvas();
  if (!root || !canvas) return;
  const int w = static_cast<int>(std::lround(Width())), h = static_cast<int>(std::lround(Height()));
  if (!snapshot_)
    snapshot_ = new TsgBitmap(w, h);
  else
    snapshot_->SetSize(w, h);
  snapshot_->Clear(0);
  const TsgPoint oldPos = root->Position()->GetPoint();
  const float oldW = root->Width(), oldH = root->Height();
  root->SetBounds(0, 0, Width(), Height());
  if (TsgCanvas* into = sgCreateCanvasFromBitmap(snapshot_)) {
    root->PaintTo(into, {0, 0, Width(), Height()}, nullptr);
    classlib::Free(into);
  }
  root->SetBounds(oldPos.X, oldPos.Y, oldW, oldH);
  canvas->DrawBitmap(snapshot_, {0, 0, static_cast<float>(w), static_cast<float>(h)},
                     GetLocalRect(), 1, false);
}

void TsgFrame::Notification(classlib::TComponent* component, classlib::TOperation operation) {
  TsgVisualObject::Notification(component, operation);
  if (operation == classlib::TOperation::opRemove && component && component == sceneObject_) {
    // The scene hands its root back itself (it detaches its frame first).
    sceneObject_ = nullptr;
    pending_ = false;
  }
  if (operation == classlib::TOperation::opRemove && component == instanceForm_)
    instanceForm_ = nullptr;
}

void TsgFrame::GetChildren(const classlib::TGetChildProc&, classlib::TComponent*) {}

}  // namespace kelm::scene
