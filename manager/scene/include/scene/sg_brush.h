// Brushes, gradients and fonts: streamable value objects that report every
// real change to their one owner through OnChange. Only what differs from
// the defaults (and what the brush's style uses) is written to a stream.
#pragma once

#include <string>

#include "classlib/collection.h"
#include "classlib/component.h"
#include "scene/sg_bounds.h"
#include "scene/sg_bitmap.h"
#include "scene/sg_object.h"
#include "scene/sg_types.h"

namespace kelm::scene {

enum TsgGradientStyle { sgLinearGradient, sgRadialGradient };
enum TsgBrushStyle {
  sgBrushNone,
  sgBrushSolid,
  sgBrushGradient,
  sgBrushBitmap,
  sgBrushResource,
  sgBrushVisual
};
enum TsgWrapMode { sgWrapTile, sgWrapTileOriginal, sgWrapTileStretch };
enum TsgFontStyle {
  sgFontRegular,
  sgFontBold,
  sgFontItalic,
  sgFontBoldItalic,
  sgFontUnderline,
  sgFontStrikeout
};

// One colour stop; changing it fires nothing.
class TsgGradientPoint : public classlib::TCollectionItem {
  CL_DECLARE_CLASS(TsgGradientPoint, TCollectionItem)
 public:
  explicit TsgGradientPoint(classlib::TCollection* collection);
  TsgColor IntColor() const { return color_; }
  void SetIntColor(TsgColor c) { color_ = c; }
  std::string GetColor() const { return sgColorToStr(color_); }
  void SetColor(const std::string& text) { color_ = sgStrToColor(text); }
  float Offset() const { return offset_; }
  void SetOffset(float v) { offset_ = v; }
  void Assign(classlib::TPersistent* source) override;

 private:
  TsgColor color_ = 0;
  float offset_ = 0;
};

class TsgGradientPoints : public classlib::TCollection {
  CL_DECLARE_CLASS(TsgGradientPoints, TCollection)
 public:
  TsgGradientPoints();
  TsgGradientPoint* Points(int index) const;
  TsgGradientPoint* AddPoint(TsgColor color, float offset);
};

class TsgGradient : public classlib::TPersistent {
  CL_DECLARE_CLASS(TsgGradient, TPersistent)
 public:
  TsgGradient();
  ~TsgGradient() override;

  TsgGradientPoints* Points() const { return points_; }
  void SetPoints(TsgGradientPoints* v) { points_->Assign(v); }
  TsgGradientStyle Style() const { return style_; }
  void SetStyle(TsgGradientStyle v);
  TsgPosition* StartPosition() const { return startPosition_; }
  void SetStartPosition(TsgPosition* v) { startPosition_->Assign(v); }
  TsgPosition* StopPosition() const { return stopPosition_; }
  void SetStopPosition(TsgPosition* v) { stopPosition_->Assign(v); }
  TsgTransform* RadialTransform() const { return radialTransform_; }
  void SetRadialTransform(TsgTransform* v) { radialTransform_->Assign(v); }

  // Sets the first stop's colour, when there is a stop.
  void SetColor(TsgColor c);
  TsgColor InterpolateColor(float t) const;
  void Assign(classlib::TPersistent* source) override;

  bool IsLinear() const { return style_ == sgLinearGradient; }
  bool IsRadial() const { return style_ == sgRadialGradient; }

  classlib::TNotifyEvent OnChange;
  // Tells the owner that the stops changed (their setters fire nothing).
  void Changed();

 private:
  void PartChanged(classlib::TObject* sender);

  TsgGradientPoints* points_;
  TsgGradientStyle style_ = sgLinearGradient;
  TsgPosition* startPosition_;
  TsgPosition* stopPosition_;
  TsgTransform* radialTransform_;
  int suspended_ = 0;
};

class TsgBrushObject;

// A named link to a shared brush (a TsgBrushObject). The link is weak: the
// object clears it when freed, and the name then finds a newer one.
class TsgBrushResource : public classlib::TPersistent, public IsgFreeNotifyClient {
  CL_DECLARE_CLASS(TsgBrushResource, TPersistent)
 public:
  TsgBrushResource() = default;
  ~TsgBrushResource() override;
  TsgBrushObject* Resource() const { return resource_; }
  void SetResource(TsgBrushObject* obj);
  const std::string& ResourceName() const { return resourceName_; }
  void SetResourceName(const std::string& v) { resourceName_ = v; }
  // The linked object's brush; without a link, the latest object of the
  // name, which is then linked.
  class TsgBrush* GetBrush();
  void Assign(classlib::TPersistent* source) override;
  void ObjectFreed(TsgObject* obj) override;

  // Declared for owners; the link itself never fires it.
  classlib::TNotifyEvent OnChange;

 private:
  TsgBrushObject* resource_ = nullptr;
  std::string resourceName_;
};

// A bitmap to paint with and how it is laid over the area.
class TsgBrushBitmap : public classlib::TPersistent {
  CL_DECLARE_CLASS(TsgBrushBitmap, TPersistent)
 public:
  TsgBrushBitmap();
  ~TsgBrushBitmap() override;
  TsgBitmap* Bitmap() const { return bitmap_; }
  // Copies the pixels into the owned bitmap (none is ignored); fires
  // nothing.
  void SetBitmap(TsgBitmap* bitmap);
  TsgWrapMode WrapMode() const { return wrapMode_; }
  void SetWrapMode(TsgWrapMode v);
  void Assign(classlib::TPersistent* source) override;

  classlib::TNotifyEvent OnChange;

 private:
  void BitmapChanged(classlib::TObject* sender);
  void Changed();
  TsgBitmap* bitmap_;
  TsgWrapMode wrapMode_ = sgWrapTile;
  int suspended_ = 0;
};

class TsgVisualObject;

// Paints the live picture of a visual object. The link is weak: the object
// clears it when freed.
class TsgVisual : public classlib::TPersistent, public IsgFreeNotifyClient {
  CL_DECLARE_CLASS(TsgVisual, TPersistent)
 public:
  TsgVisual() = default;
  ~TsgVisual() override;
  TsgVisualObject* VisualObject() const { return visualObject_; }
  void SetVisualObject(TsgVisualObject* obj);
  void Assign(classlib::TPersistent* source) override;
  void ObjectFreed(TsgObject* obj) override;

  classlib::TNotifyEvent OnChange;

 private:
  TsgVisualObject* visualObject_ = nullptr;
};

class TsgBrush : public classlib::TPersistent {
  CL_DECLARE_CLASS(TsgBrush, TPersistent)
 public:
  TsgBrush(TsgBrushStyle defaultStyle, TsgColor defaultColor);
  ~TsgBrush() override;

  TsgBrushStyle Style() const { return style_; }
  void SetStyle(TsgBrushStyle v);
  TsgColor SolidColor() const { return color_; }
  void SetSolidColor(TsgColor c);
  // Follows resource brushes; stops on a cycle with this brush's colour.
  TsgColor GetSolidColor() const;
  std::string GetColor() const { return sgColorToStr(color_); }
  void SetColor(const std::string& text);
  TsgBrushStyle DefaultStyle() const { return defaultStyle_; }
  TsgColor DefaultColor() const { return defaultColor_; }

  TsgGradient* Gradient() const { return gradient_; }
  void SetGradient(TsgGradient* v) { gradient_->Assign(v); }
  TsgBrushResource* Resource() const { return resource_; }
  void SetResource(TsgBrushResource* v) { resource_->Assign(v); }
  TsgBrushBitmap* Bitmap() const { return bitmap_; }
  void SetBitmap(TsgBrushBitmap* v) { bitmap_->Assign(v); }
  TsgVisual* Visual() const { return visual_; }
  void SetVisual(TsgVisual* v) { visual_->Assign(v); }

  void Assign(classlib::TPersistent* source) override;

  bool ColorStored() const { return style_ == sgBrushSolid && color_ != defaultColor_; }
  bool StyleStored() const { return style_ != defaultStyle_; }
  bool GradientStored() const { return style_ == sgBrushGradient; }
  bool ResourceStored() const { return style_ == sgBrushResource; }
  bool BitmapStored() const { return style_ == sgBrushBitmap; }
  bool VisualStored() const { return style_ == sgBrushVisual; }

  classlib::TNotifyEvent OnChange;

 private:
  void PartChanged(classlib::TObject* sender);
  void Changed();

  TsgColor color_;
  TsgBrushStyle style_;
  TsgGradient* gradient_;
  TsgVisual* visual_;
  TsgBrushStyle defaultStyle_;
  TsgColor defaultColor_;
  TsgBrushResource* resource_;
  TsgBrushBitmap* bitmap_;
  int suspended_ = 0;
};

// A window font as the platform's font bridge hands it over.
struct TsgWindowFont {
  std::string Name;
  int Height = 0;  // negative: a character height
  bool Bold = false, Italic = false, Underline = false, StrikeOut = false;
};

class TsgFont : public classlib::TPersistent {
  CL_DECLARE_CLASS(TsgFont, TPersistent)
 public:
  TsgFont() = default;
  float Size() const { return size_; }
  void SetSize(float v);
  const std::string& Family() const { return family_; }
  void SetFamily(const std::string& v);
  TsgFontStyle Style() const { return style_; }
  void SetStyle(TsgFontStyle v);
  bool ClearType() const { return clearType_; }
  void SetClearType(bool v);
  // Another TsgFont here; the platform's window font through the
  // registered copiers (sg_bridges.h).
  void Assign(classlib::TPersistent* source) override;
  void AssignTo(classlib::TPersistent* dest) override;
  // From a window font: Family its name, Size its absolute height, Style
  // by sgFontStyleFromWindow; fires once.
  void AssignWindowFont(const TsgWindowFont& wf);
  // To a window font: its name, a height of minus the rounded Size, and
  // the style for the four plain styles (others leave it alone).
  void AssignToWindowFont(TsgWindowFont& wf) const;

  bool SizeStored() const { return size_ != 11; }
  bool FamilyStored() const { return family_ != "Tahoma"; }
  bool StyleStored() const { return style_ != sgFontRegular; }
  bool ClearTypeStored() const { return !clearType_; }

  classlib::TNotifyEvent OnChange;

 private:
  void Changed();

  float size_ = 11;
  std::string family_ = "Tahoma";
  TsgFontStyle style_ = sgFontRegular;
  bool clearType_ = true;
};

// The mapping between TsgFont and the class library's window font, kept
// portable for the Win32 bridge: bold and italic give the four plain
// styles; underline or strike-out present leaves the current style.
TsgFontStyle sgFontStyleFromWindow(bool bold, bool italic, bool underline, bool strikeout,
                                   TsgFontStyle current);
// False for underline and strike-out: the window font keeps its style.
bool sgFontStyleToWindow(TsgFontStyle style, bool& bold, bool& italic);
inline float sgFontSizeFromHeight(int height) {
  return height < 0 ? -float(height) : float(height);
}
// Minus the size rounded half to even, kept within int; NaN gives 0.
int sgFontHeightFromSize(float size);

}  // namespace kelm::scene
