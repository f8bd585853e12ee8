// The Win32 share of the layouts: a layout that keeps a window control of
// the host form glued over its area, and the image-list helpers of the
// bitmap button.
#pragma once

#include "classlib/controls.h"
#include "classlib/imglist.h"
// windows.h renames FindResource, a virtual of the scene objects.
#undef FindResource
#include "scene/sg_bitmap.h"
#include "scenectrls/sg_layouts.h"
#include "scenectrls/sg_timer.h"

namespace kelm::scenectrls {

// Keeps NonSGControl (a window control placed in the scene's client
// coordinates) over the layout's absolute rectangle, rounded to pixels,
// and shown exactly while the layout and its parents are. While the
// control shows, a 100 ms poll notices a parent hidden.
class TsgNonSGLayout : public TsgLayout {
  CL_DECLARE_CLASS(TsgNonSGLayout, TsgLayout)
 public:
  explicit TsgNonSGLayout(classlib::TComponent* AOwner);
  void BeforeDestruction() override;

  classlib::TWinControl* NonSGControl() const { return control_; }
  // The scene's own window is refused: it would be glued over itself.
  void SetNonSGControl(classlib::TWinControl* v);
  TsgTimer* Timer() const { return timer_; }

  bool IsVisibleWithParents() override;
  void Realign() override;
  void MatrixChanged(classlib::TObject* sender) override;
  // Painted again after a parent came back: shows the control again.
  void Paint() override;
  void Notification(classlib::TComponent* component, classlib::TOperation operation) override;

 private:
  void Poll(classlib::TObject* sender);
  void PlaceControl();
  bool IsSceneWindow(classlib::TWinControl* c) const;
  classlib::TWinControl* control_ = nullptr;
  TsgTimer* timer_;
};

// The number of images in an image list (0 for none).
int sgImageListCount(classlib::TCustomImageList* list);
// A new bitmap (the caller's) holding the image at index, premultiplied;
// none for no list or an index outside it.
scene::TsgBitmap* sgImageListItem(classlib::TCustomImageList* list, int index);

}  // namespace kelm::scenectrls
