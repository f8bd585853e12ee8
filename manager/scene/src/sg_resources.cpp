// Named resource objects.
#include "scene/sg_resources.h"

#include "classlib/classdef.h"

namespace kelm::scene {

CL_CLASS(TsgBrushObject) { c.Object("Brush", &TsgBrushObject::Brush, &TsgBrushObject::SetBrush); }
CL_CLASS(TsgPathObject) { c.Object("Path", &TsgPathObject::Path, &TsgPathObject::SetPath); }
CL_CLASS(TsgBitmapObject) {
  c.Object("Bitmap", &TsgBitmapObject::Bitmap, &TsgBitmapObject::SetBitmap);
}

TsgBrushObject::TsgBrushObject(classlib::TComponent* AOwner)
    : TsgObject(AOwner), brush_(classlib::New<TsgBrush>(sgBrushSolid, 0xFFFFFFFFu)) {}
TsgBrushObject::~TsgBrushObject() { classlib::Free(brush_); }
void TsgBrushObject::SetName(const std::string& newName) {
  TsgObject::SetName(newName);
  if (ResourceName().empty()) SetResourceName(newName);
}

TsgPathObject::TsgPathObject(classlib::TComponent* AOwner)
    : TsgObject(AOwner), path_(classlib::New<TsgPathData>()) {}
TsgPathObject::~TsgPathObject() { classlib::Free(path_); }
void TsgPathObject::SetName(const std::string& newName) {
  TsgObject::SetName(newName);
  if (ResourceName().empty()) SetResourceName(newName);
}

TsgBitmapObject::TsgBitmapObject(classlib::TComponent* AOwner)
    : TsgObject(AOwner), bitmap_(classlib::New<TsgBitmap>(1, 1)) {}
TsgBitmapObject::~TsgBitmapObject() { classlib::Free(bitmap_); }
void TsgBitmapObject::SetName(const std::string& newName) {
  TsgObject::SetName(newName);
  if (ResourceName().empty()) SetResourceName(newName);
}

}  // namespace kelm::scene
