// Brushes, gradients and fonts.
#include "scene/sg_brush.h"

#include <algorithm>
#include <cmath>

#include "classlib/classdef.h"
#include "classlib/sysutils.h"
#include "classlib/typinfo.h"
#include "scene/sg_bridges.h"
#include "scene/sg_classes.h"
#include "scene/sg_resources.h"
#include "scene/sg_visual.h"

namespace kelm::scene {

using classlib::TPersistent;

namespace {
const classlib::TTypeInfo TypeInfo_TsgGradientStyle =
    classlib::EnumTypeInfo("TsgGradientStyle", {"sgLinearGradient", "sgRadialGradient"});
const classlib::TTypeInfo TypeInfo_TsgBrushStyle =
    classlib::EnumTypeInfo("TsgBrushStyle", {"sgBrushNone", "sgBrushSolid", "sgBrushGradient",
                                             "sgBrushBitmap", "sgBrushResource", "sgBrushVisual"});
const classlib::TTypeInfo TypeInfo_TsgWrapMode = classlib::EnumTypeInfo(
    "TsgWrapMode", {"sgWrapTile", "sgWrapTileOriginal", "sgWrapTileStretch"});
const classlib::TTypeInfo TypeInfo_TsgFontStyle = classlib::EnumTypeInfo(
    "TsgFontStyle", {"sgFontRegular", "sgFontBold", "sgFontItalic", "sgFontBoldItalic",
                     "sgFontUnderline", "sgFontStrikeout"});
}  // namespace

// ---- TsgGradientPoint
CL_CLASS(TsgGradientPoint) {
  c.Str("Color", &TsgGradientPoint::GetColor, &TsgGradientPoint::SetColor);
  c.Float("Offset", &TsgGradientPoint::Offset, &TsgGradientPoint::SetOffset,
          &classlib::TypeInfo_Single);
}

TsgGradientPoint::TsgGradientPoint(classlib::TCollection* collection)
    : TCollectionItem(collection) {}

void TsgGradientPoint::Assign(TPersistent* source) {
  if (auto* src = dynamic_cast<TsgGradientPoint*>(source)) {
    color_ = src->color_;
    offset_ = src->offset_;
    return;
  }
  TCollectionItem::Assign(source);
}

// ---- TsgGradientPoints
CL_CLASS(TsgGradientPoints) {}

TsgGradientPoints::TsgGradientPoints() : TCollection(TsgGradientPoint::StaticClass()) {}

TsgGradientPoint* TsgGradientPoints::Points(int index) const {
  return static_cast<TsgGradientPoint*>(Items(index));
}

TsgGradientPoint* TsgGradientPoints::AddPoint(TsgColor color, float offset) {
  auto* p = static_cast<TsgGradientPoint*>(Add());
  p->SetIntColor(color);
  p->SetOffset(offset);
  return p;
}

// ---- TsgGradient
CL_CLASS(TsgGradient) {
  c.Object("Points", &TsgGradient::Points, &TsgGradient::SetPoints);
  c.Enum("Style", &TsgGradient::Style, &TsgGradient::SetStyle, &TypeInfo_TsgGradientStyle)
      .Stored(true)
      .NoDefault();
  c.Object("StartPosition", &TsgGradient::StartPosition, &TsgGradient::SetStartPosition)
      .Stored(&TsgGradient::IsLinear);
  c.Object("StopPosition", &TsgGradient::StopPosition, &TsgGradient::SetStopPosition)
      .Stored(&TsgGradient::IsLinear);
  c.Object("RadialTransform", &TsgGradient::RadialTransform, &TsgGradient::SetRadialTransform)
      .Stored(&TsgGradient::IsRadial);
}

TsgGradient::TsgGradient()
    : points_(classlib::New<TsgGradientPoints>()),
      startPosition_(classlib::New<TsgPosition>(TsgPoint{0, 0})),
      stopPosition_(classlib::New<TsgPosition>(TsgPoint{0, 1})),
      radialTransform_(classlib::New<TsgTransform>()) {
  points_->AddPoint(0xFF000000u, 0);
  points_->AddPoint(0xFFFFFFFFu, 1);
  auto changed = classlib::EventOf<&TsgGradient::PartChanged>(this);
  startPosition_->OnChange = changed;
  stopPosition_->OnChange = changed;
  radialTransform_->OnChange = changed;
}

TsgGradient::~TsgGradient() {
  classlib::Free(points_);
  classlib::Free(startPosition_);
  classlib::Free(stopPosition_);
  classlib::Free(radialTransform_);
}

void TsgGradient::PartChanged(classlib::TObject* sender) {
  (void)sender;
  Changed();
}

void TsgGradient::Changed() {
  if (suspended_ == 0 && OnChange) OnChange(this);
}

void TsgGradient::SetStyle(TsgGradientStyle v) {
  if (style_ == v) return;
  style_ = v;
  Changed();
}

void TsgGradient::SetColor(TsgColor c) {
  if (points_->Count() > 0) points_->Points(0)->SetIntColor(c);
}

TsgColor TsgGradient::InterpolateColor(float t) const {
  const int n = points_->Count();
  if (n < 2) return 0;
  t = std::clamp(t, 0.0f, 1.0f);
  if (t < points_->Points(0)->Offset()) return points_->Points(0)->IntColor();
  if (t > points_->Points(n - 1)->Offset()) return points_->Points(n - 1)->IntColor();
  int i = 0;
  for (int k = 0; k < n - 1; ++k)
    if (points_->Points(k)->Offset() <= t) i = k;
  const TsgGradientPoint* a = points_->Points(i);
  const TsgGradientPoint* b = points_->Points(i + 1);
  if (b->Offset() > a->Offset())
    return sgInterpolateColor(a->IntColor(), b->IntColor(),
                              (t - a->Offset()) / (b->Offset() - a->Offset()));
  return a->IntColor();
}

void TsgGradient::Assign(TPersistent* source) {
  auto* src = dynamic_cast<TsgGradient*>(source);
  if (!src) {
    TPersistent::Assign(source);
    return;
  }
  if (src == this) return;
  ++suspended_;
  points_->Assign(src->points_);
  style_ = src->style_;
  if (src->style_ == sgRadialGradient) {
    radialTransform_->Assign(src->radialTransform_);
  } else {
    stopPosition_->Assign(src->stopPosition_);
    startPosition_->Assign(src->startPosition_);
  }
  --suspended_;
  Changed();
}

// ---- TsgBrushResource
CL_CLASS(TsgBrushResource) {
  c.Str("ResourceName", &TsgBrushResource::ResourceName, &TsgBrushResource::SetResourceName);
}

TsgBrushResource::~TsgBrushResource() {
  if (resource_) resource_->RemoveNotifyClient(this);
}

void TsgBrushResource::SetResource(TsgBrushObject* obj) {
  if (obj == resource_) return;
  if (resource_) resource_->RemoveNotifyClient(this);
  resource_ = obj;
  if (obj) {
    resourceName_ = obj->ResourceName();
    obj->AddNotifyClient(this);
  }
}

TsgBrush* TsgBrushResource::GetBrush() {
  if (!resource_ && !resourceName_.empty()) {
    if (auto* obj = dynamic_cast<TsgBrushObject*>(FindGlobalResource(resourceName_))) {
      // Linking copies the object's name, which is the one looked up.
      SetResource(obj);
    }
  }
  return resource_ ? resource_->Brush() : nullptr;
}

void TsgBrushResource::ObjectFreed(TsgObject* obj) {
  if (obj == resource_) resource_ = nullptr;
}

void TsgBrushResource::Assign(TPersistent* source) {
  if (auto* src = dynamic_cast<TsgBrushResource*>(source)) {
    SetResource(src->resource_);
    resourceName_ = src->resourceName_;
    return;
  }
  TPersistent::Assign(source);
}

// ---- TsgBrushBitmap
CL_CLASS(TsgBrushBitmap) {
  c.Object("Bitmap", &TsgBrushBitmap::Bitmap, &TsgBrushBitmap::SetBitmap);
  c.Enum("WrapMode", &TsgBrushBitmap::WrapMode, &TsgBrushBitmap::SetWrapMode, &TypeInfo_TsgWrapMode)
      .Default(sgWrapTile);
}

TsgBrushBitmap::TsgBrushBitmap() : bitmap_(classlib::New<TsgBitmap>()) {
  bitmap_->OnChange = classlib::EventOf<&TsgBrushBitmap::BitmapChanged>(this);
}

TsgBrushBitmap::~TsgBrushBitmap() { classlib::Free(bitmap_); }

void TsgBrushBitmap::BitmapChanged(classlib::TObject* sender) {
  (void)sender;
  Changed();
}

void TsgBrushBitmap::Changed() {
  if (suspended_ == 0 && OnChange) OnChange(this);
}

void TsgBrushBitmap::SetBitmap(TsgBitmap* bitmap) {
  if (!bitmap || bitmap == bitmap_) return;
  ++suspended_;
  bitmap_->Assign(bitmap);
  --suspended_;
}

void TsgBrushBitmap::SetWrapMode(TsgWrapMode v) {
  if (wrapMode_ == v) return;
  wrapMode_ = v;
  Changed();
}

void TsgBrushBitmap::Assign(TPersistent* source) {
  auto* src = dynamic_cast<TsgBrushBitmap*>(source);
  if (!src) {
    TPersistent::Assign(source);
    return;
  }
  if (src == this) return;
  ++suspended_;
  wrapMode_ = src->wrapMode_;
  bitmap_->Assign(src->bitmap_);
  --suspended_;
  Changed();
}

// ---- TsgVisual
CL_CLASS(TsgVisual) {
  c.Object("VisualObject", &TsgVisual::VisualObject, &TsgVisual::SetVisualObject);
}

TsgVisual::~TsgVisual() {
  if (visualObject_) visualObject_->RemoveNotifyClient(this);
}

void TsgVisual::SetVisualObject(TsgVisualObject* obj) {
  if (obj == visualObject_) return;
  if (visualObject_) visualObject_->RemoveNotifyClient(this);
  visualObject_ = obj;
  if (OnChange) OnChange(this);
  if (obj) obj->AddNotifyClient(this);
}

void TsgVisual::ObjectFreed(TsgObject* obj) {
  if (obj == visualObject_) visualObject_ = nullptr;
}

void TsgVisual::Assign(TPersistent* source) {
  if (auto* src = dynamic_cast<TsgVisual*>(source)) {
    SetVisualObject(src->visualObject_);
    return;
  }
  TPersistent::Assign(source);
}

// ---- TsgBrush
CL_CLASS(TsgBrush) {
  c.Str("Color", &TsgBrush::GetColor, &TsgBrush::SetColor).Stored(&TsgBrush::ColorStored);
  c.Object("Bitmap", &TsgBrush::Bitmap, &TsgBrush::SetBitmap).Stored(&TsgBrush::BitmapStored);
  c.Enum("Style", &TsgBrush::Style, &TsgBrush::SetStyle, &TypeInfo_TsgBrushStyle)
      .NoDefault()
      .Stored(&TsgBrush::StyleStored);
  c.Object("Gradient", &TsgBrush::Gradient, &TsgBrush::SetGradient)
      .Stored(&TsgBrush::GradientStored);
  c.Object("Resource", &TsgBrush::Resource, &TsgBrush::SetResource)
      .Stored(&TsgBrush::ResourceStored);
  c.Object("Visual", &TsgBrush::Visual, &TsgBrush::SetVisual).Stored(&TsgBrush::VisualStored);
}

TsgBrush::TsgBrush(TsgBrushStyle defaultStyle, TsgColor defaultColor)
    : color_(defaultColor),
      style_(defaultStyle),
      gradient_(classlib::New<TsgGradient>()),
      visual_(classlib::New<TsgVisual>()),
      defaultStyle_(defaultStyle),
      defaultColor_(defaultColor),
      resource_(classlib::New<TsgBrushResource>()),
      bitmap_(classlib::New<TsgBrushBitmap>()) {
  auto changed = classlib::EventOf<&TsgBrush::PartChanged>(this);
  gradient_->OnChange = changed;
  visual_->OnChange = changed;
  resource_->OnChange = changed;
  bitmap_->OnChange = changed;
}

TsgBrush::~TsgBrush() {
  classlib::Free(gradient_);
  classlib::Free(visual_);
  classlib::Free(resource_);
  classlib::Free(bitmap_);
}

void TsgBrush::PartChanged(classlib::TObject* sender) {
  (void)sender;
  Changed();
}

void TsgBrush::Changed() {
  if (suspended_ == 0 && OnChange) OnChange(this);
}

void TsgBrush::SetStyle(TsgBrushStyle v) {
  if (style_ == v) return;
  style_ = v;
  Changed();
}

void TsgBrush::SetSolidColor(TsgColor c) {
  if (color_ == c) return;
  color_ = c;
  Changed();
}

TsgColor TsgBrush::GetSolidColor() const {
  // Resource brushes may name each other in a ring: follow the chain with
  // a step limit, and fall back to this brush's own colour.
  const TsgBrush* b = this;
  for (int steps = 0; steps < 64; ++steps) {
    if (b->style_ != sgBrushResource) return b->color_;
    const TsgBrush* next = b->resource_->GetBrush();
    if (!next) return b->color_;
    b = next;
  }
  return color_;
}

void TsgBrush::SetColor(const std::string& text) {
  SetSolidColor(sgStrToColor(text));
  if (style_ == sgBrushGradient) gradient_->SetColor(sgStrToColor(text));
}

void TsgBrush::Assign(TPersistent* source) {
  auto* src = dynamic_cast<TsgBrush*>(source);
  if (!src) {
    TPersistent::Assign(source);
    return;
  }
  if (src == this) return;
  ++suspended_;
  defaultStyle_ = src->defaultStyle_;
  defaultColor_ = src->defaultColor_;
  color_ = src->GetSolidColor();
  style_ = src->style_;
  if (style_ == sgBrushGradient) gradient_->Assign(src->gradient_);
  if (style_ == sgBrushResource) resource_->Assign(src->resource_);
  if (style_ == sgBrushBitmap) bitmap_->Assign(src->bitmap_);
  if (style_ == sgBrushVisual) visual_->Assign(src->visual_);
  --suspended_;
  Changed();
}

// ---- TsgFont
CL_CLASS(TsgFont) {
  c.Bool("ClearType", &TsgFont::ClearType, &TsgFont::SetClearType)
      .NoDefault()
      .Stored(&TsgFont::ClearTypeStored);
  c.Str("Family", &TsgFont::Family, &TsgFont::SetFamily).Stored(&TsgFont::FamilyStored);
  c.Float("Size", &TsgFont::Size, &TsgFont::SetSize, &classlib::TypeInfo_Single)
      .Stored(&TsgFont::SizeStored);
  c.Enum("Style", &TsgFont::Style, &TsgFont::SetStyle, &TypeInfo_TsgFontStyle)
      .NoDefault()
      .Stored(&TsgFont::StyleStored);
}

void TsgFont::Changed() {
  if (OnChange) OnChange(this);
}

void TsgFont::SetSize(float v) {
  if (size_ == v) return;
  size_ = v;
  Changed();
}

void TsgFont::SetFamily(const std::string& v) {
  if (family_ == v) return;
  family_ = v;
  Changed();
}

void TsgFont::SetStyle(TsgFontStyle v) {
  if (style_ == v) return;
  style_ = v;
  Changed();
}

void TsgFont::SetClearType(bool v) {
  if (clearType_ == v) return;
  clearType_ = v;
  Changed();
}

void TsgFont::Assign(TPersistent* source) {
  if (auto* src = dynamic_cast<TsgFont*>(source)) {
    size_ = src->size_;
    family_ = src->family_;
    style_ = src->style_;
    clearType_ = src->clearType_;
    Changed();
    return;
  }
  if (sgAssignThroughBridges(this, source)) return;
  TPersistent::Assign(source);
}

void TsgFont::AssignTo(TPersistent* dest) {
  if (sgAssignThroughBridges(dest, this)) return;
  TPersistent::AssignTo(dest);
}

TsgFontStyle sgFontStyleFromWindow(bool bold, bool italic, bool underline, bool strikeout,
                                   TsgFontStyle current) {
  if (underline || strikeout) return current;
  if (bold && italic) return sgFontBoldItalic;
  if (bold) return sgFontBold;
  if (italic) return sgFontItalic;
  return sgFontRegular;
}

bool sgFontStyleToWindow(TsgFontStyle style, bool& bold, bool& italic) {
  switch (style) {
    case sgFontRegular:
      bold = italic = false;
      return true;
    case sgFontBold:
      bold = true;
      italic = false;
      return true;
    case sgFontItalic:
      bold = false;
      italic = true;
      return true;
    case sgFontBoldItalic:
      bold = italic = true;
      return true;
    default:
      return false;
  }
}

int sgFontHeightFromSize(float size) {
  // A stored size can be anything: keep the height a valid int.
  const double limit = 2147483647.0;
  if (std::isnan(size)) return 0;
  if (std::fabs(size) > limit) return size > 0 ? -2147483647 : 2147483647;
  return -static_cast<int>(classlib::Round(size));
}

void TsgFont::AssignWindowFont(const TsgWindowFont& wf) {
  family_ = wf.Name;
  size_ = sgFontSizeFromHeight(wf.Height);
  style_ = sgFontStyleFromWindow(wf.Bold, wf.Italic, wf.Underline, wf.StrikeOut, style_);
  Changed();
}

void TsgFont::AssignToWindowFont(TsgWindowFont& wf) const {
  wf.Name = family_;
  wf.Height = sgFontHeightFromSize(size_);
  if (sgFontStyleToWindow(style_, wf.Bold, wf.Italic)) wf.Underline = wf.StrikeOut = false;
}

}  // namespace kelm::scene
