// Named resource objects: a brush, a path or a bitmap living in the scene
// tree under a name, so that values elsewhere refer to it instead of
// carrying a copy. Those values link with AddNotifyClient and lose the
// link when the object is freed.
#pragma once

#include <string>

#include "scene/sg_bitmap.h"
#include "scene/sg_brush.h"
#include "scene/sg_object.h"
#include "scene/sg_path.h"

namespace kelm::scene {

class TsgBrushObject : public TsgObject {
  CL_DECLARE_CLASS(TsgBrushObject, TsgObject)
 public:
  explicit TsgBrushObject(classlib::TComponent* AOwner);
  ~TsgBrushObject() override;
  TsgBrush* Brush() const { return brush_; }
  void SetBrush(TsgBrush* v) { brush_->Assign(v); }
  // Names the resource too while it has no resource name.
  void SetName(const std::string& newName) override;

 private:
  TsgBrush* brush_;
};

class TsgPathObject : public TsgObject {
  CL_DECLARE_CLASS(TsgPathObject, TsgObject)
 public:
  explicit TsgPathObject(classlib::TComponent* AOwner);
  ~TsgPathObject() override;
  TsgPathData* Path() const { return path_; }
  void SetPath(TsgPathData* v) { path_->Assign(v); }
  void SetName(const std::string& newName) override;

 private:
  TsgPathData* path_;
};

class TsgBitmapObject : public TsgObject {
  CL_DECLARE_CLASS(TsgBitmapObject, TsgObject)
 public:
  explicit TsgBitmapObject(classlib::TComponent* AOwner);
  ~TsgBitmapObject() override;
  TsgBitmap* Bitmap() const { return bitmap_; }
  void SetBitmap(TsgBitmap* v) { bitmap_->Assign(v); }
  void SetName(const std::string& newName) override;

 private:
  TsgBitmap* bitmap_;
};

}  // namespace kelm::scene
