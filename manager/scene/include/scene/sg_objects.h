// The primitive shapes styles and windows are built from (line, rectangles,
// round rectangles, ellipses, circle, pie, arc, paths), the text and image
// leaves, and the paint box. All are visual objects that paint through their scene's canvas
// inside GetShapeRect: the local rectangle, inset by half the stroke when
// the stroke shows.
#pragma once

#include <cstdint>
#include <string>

#include "scene/sg_bitmap.h"
#include "scene/sg_bounds.h"
#include "scene/sg_brush.h"
#include "scene/sg_canvas.h"
#include "scene/sg_path.h"
#include "scene/sg_visual.h"

namespace kelm::scene {

enum TsgLineType { sgLineNormal, sgLineHorizontal, sgLineVertical };
enum TsgCalloutPosition { sgCalloutTop, sgCalloutLeft, sgCalloutBottom, sgCalloutRight };

class TsgShape : public TsgVisualObject {
  CL_DECLARE_CLASS(TsgShape, TsgVisualObject)
 public:
  explicit TsgShape(classlib::TComponent* AOwner);
  ~TsgShape() override;

  TsgBrush* Fill() const { return fill_; }
  void SetFill(TsgBrush* v) { fill_->Assign(v); }
  float StrokeThickness() const { return strokeThickness_; }
  void SetStrokeThickness(float v) { ChangeWithEffects(strokeThickness_, v); }
  TsgBrush* Stroke() const { return stroke_; }
  void SetStroke(TsgBrush* v) { stroke_->Assign(v); }
  TsgStrokeCap StrokeCap() const { return strokeCap_; }
  void SetStrokeCap(TsgStrokeCap v) { ChangeWithEffects(strokeCap_, v); }
  TsgStrokeJoin StrokeJoin() const { return strokeJoin_; }
  void SetStrokeJoin(TsgStrokeJoin v) { ChangeWithEffects(strokeJoin_, v); }
  TsgStrokeDash StrokeDash() const { return strokeDash_; }
  void SetStrokeDash(TsgStrokeDash v) { ChangeWithEffects(strokeDash_, v); }
  classlib::TNotifyEvent OnDesignClick;

  // The local rectangle, shrunk by half the stroke thickness on every side
  // when the stroke is not sgBrushNone.
  TsgRect GetShapeRect();
  bool StrokeThicknessStored() const { return strokeThickness_ != 1; }

  void DesignClick() override;
  void BeforePaint() override;
  void AfterPaint() override;
  // ---- hooks added, in order
  virtual void FillChanged(classlib::TObject* sender);
  virtual void StrokeChanged(classlib::TObject* sender);

 protected:
  // Replaces a brush before anyone has seen it, with other defaults (also
  // its defaults for streaming); constructors of descendants only.
  void SetFillDefaults(TsgBrushStyle style, TsgColor color);
  void SetStrokeDefaults(TsgBrushStyle style, TsgColor color);
  // A changed value: stored, effects refreshed, repainted.
  template <typename T>
  void ChangeWithEffects(T& field, T value) {
    if (field == value) return;
    field = value;
    UpdateEffects();
    Repaint();
  }
  // A changed value: stored and repainted.
  template <typename T>
  void ChangePlain(T& field, T value) {
    if (field == value) return;
    field = value;
    Repaint();
  }
  // The object's update count is above 0 (inside BeginUpdate).
  bool InUpdate() const { return UpdateCount() > 0; }

 private:
  void FillChangedEvent(classlib::TObject* sender) { FillChanged(sender); }
  void StrokeChangedEvent(classlib::TObject* sender) { StrokeChanged(sender); }
  TsgBrush* fill_;
  float strokeThickness_ = 1;
  TsgBrush* stroke_;
  TsgStrokeCap strokeCap_ = sgCapFlat;
  TsgStrokeJoin strokeJoin_ = sgJoinMiter;
  TsgStrokeDash strokeDash_ = sgDashSolid;
};

class TsgLine : public TsgShape {
  CL_DECLARE_CLASS(TsgLine, TsgShape)
 public:
  explicit TsgLine(classlib::TComponent* AOwner) : TsgShape(AOwner) {}
  TsgLineType LineType() const { return lineType_; }
  void SetLineType(TsgLineType v) { ChangePlain(lineType_, v); }
  void Paint() override;

 private:
  TsgLineType lineType_ = sgLineNormal;
};

class TsgRectangle : public TsgShape {
  CL_DECLARE_CLASS(TsgRectangle, TsgShape)
 public:
  explicit TsgRectangle(classlib::TComponent* AOwner) : TsgShape(AOwner) {}
  float yRadius() const { return yRadius_; }
  float xRadius() const { return xRadius_; }
  TsgCorners Corners() const { return corners_; }
  TsgCornerType CornerType() const { return cornerType_; }
  TsgSides Sides() const { return sides_; }
  bool CornersStored() const { return corners_ != sgAllCorners; }
  bool SidesStored() const { return sides_ != sgAllSides; }
  void Paint() override;
  // ---- setters added, in order
  virtual void SetxRadius(float v) { ChangeWithEffects(xRadius_, v); }
  virtual void SetyRadius(float v) { ChangeWithEffects(yRadius_, v); }
  virtual void SetCorners(TsgCorners v) { ChangePlain(corners_, v); }
  virtual void SetCornerType(TsgCornerType v) { ChangeWithEffects(cornerType_, v); }
  virtual void SetSides(TsgSides v) { ChangeWithEffects(sides_, v); }

 private:
  float yRadius_ = 0, xRadius_ = 0;
  TsgCorners corners_ = sgAllCorners;
  TsgCornerType cornerType_ = sgCornerRound;
  TsgSides sides_ = sgAllSides;
};

class TsgSidesRectangle : public TsgRectangle {
  CL_DECLARE_CLASS(TsgSidesRectangle, TsgRectangle)
 public:
  explicit TsgSidesRectangle(classlib::TComponent* AOwner) : TsgRectangle(AOwner) {}
};

// The off-screen image of a blurred shape: drawn at full opacity, blurred,
// kept until the shape changes; the object's opacity applies when it is
// drawn, so a fade neither blurs again nor multiplies the opacity twice.
class TsgBlurCache {
 public:
  TsgBlurCache() = default;
  TsgBlurCache(const TsgBlurCache&) = delete;
  TsgBlurCache& operator=(const TsgBlurCache&) = delete;
  ~TsgBlurCache();
  TsgBitmap* Bitmap() const { return bitmap_; }
  // Marked, or the shape's size differs from the one drawn.
  bool Dirty(const TsgShape* shape) const;
  void MarkDirty() { dirty_ = true; }
  // Stores a changed value of the shape's and marks the image; true when
  // it changed.
  bool Change(float& field, float v);
  // Brings the image up to date (outline draws fill and stroke into the
  // image's canvas on R) and draws it over the shape's local rectangle.
  void Paint(TsgShape* shape, float softness,
             void (*outline)(TsgShape* shape, TsgCanvas* canvas, const TsgRect& r));

 private:
  TsgBitmap* bitmap_ = nullptr;
  bool dirty_ = true;
  float width_ = 0, height_ = 0;
};

class TsgBlurRectangle : public TsgRectangle {
  CL_DECLARE_CLASS(TsgBlurRectangle, TsgRectangle)
 public:
  explicit TsgBlurRectangle(classlib::TComponent* AOwner);
  float Softness() const { return softness_; }
  void SetSoftness(float v);
  const TsgBlurCache& Cache() const { return cache_; }
  void Paint() override;
  void FillChanged(classlib::TObject* sender) override;
  void SetxRadius(float v) override;
  void SetyRadius(float v) override;
  void SetCorners(TsgCorners v) override;
  void SetCornerType(TsgCornerType v) override;

 private:
  float softness_ = 0.3f;
  TsgBlurCache cache_;
};

class TsgCalloutRectangle : public TsgRectangle {
  CL_DECLARE_CLASS(TsgCalloutRectangle, TsgRectangle)
 public:
  explicit TsgCalloutRectangle(classlib::TComponent* AOwner);
  ~TsgCalloutRectangle() override;
  float CalloutWidth() const { return calloutWidth_; }
  void SetCalloutWidth(float v) { ChangeCallout(calloutWidth_, v); }
  float CalloutLength() const { return calloutLength_; }
  void SetCalloutLength(float v) { ChangeCallout(calloutLength_, v); }
  TsgCalloutPosition CalloutPosition() const { return calloutPosition_; }
  void SetCalloutPosition(TsgCalloutPosition v) { ChangeCallout(calloutPosition_, v); }
  float CalloutOffset() const { return calloutOffset_; }
  void SetCalloutOffset(float v) { ChangeCallout(calloutOffset_, v); }
  // The outline as last built.
  TsgPathData* Outline() const { return path_; }
  void RebuildOutline();
  void Paint() override;

 private:
  template <typename T>
  void ChangeCallout(T& field, T value) {
    if (field == value) return;
    field = value;
    RebuildOutline();
    Repaint();
  }
  TsgPathData* path_;
  float calloutWidth_ = 23, calloutLength_ = 11;
  TsgCalloutPosition calloutPosition_ = sgCalloutTop;
  float calloutOffset_ = 0;
};

class TsgRoundRect : public TsgShape {
  CL_DECLARE_CLASS(TsgRoundRect, TsgShape)
 public:
  explicit TsgRoundRect(classlib::TComponent* AOwner) : TsgShape(AOwner) {}
  TsgCorners Corners() const { return corners_; }
  bool CornersStored() const { return corners_ != sgAllCorners; }
  void Paint() override;
  virtual void SetCorners(TsgCorners v) { ChangePlain(corners_, v); }

 protected:
  // Half the shorter side of the shape rectangle.
  float Radius(const TsgRect& s) const;

 private:
  TsgCorners corners_ = sgAllCorners;
};

class TsgBlurRoundRect : public TsgRoundRect {
  CL_DECLARE_CLASS(TsgBlurRoundRect, TsgRoundRect)
 public:
  explicit TsgBlurRoundRect(classlib::TComponent* AOwner);
  float Softness() const { return softness_; }
  void SetSoftness(float v);
  const TsgBlurCache& Cache() const { return cache_; }
  void Paint() override;
  void FillChanged(classlib::TObject* sender) override;
  void SetCorners(TsgCorners v) override;

 private:
  float softness_ = 0.3f;
  TsgBlurCache cache_;
};

class TsgEllipse : public TsgShape {
  CL_DECLARE_CLASS(TsgEllipse, TsgShape)
 public:
  explicit TsgEllipse(classlib::TComponent* AOwner) : TsgShape(AOwner) {}
  void Paint() override;
  bool PointInObject(const TsgPoint& p) override;
};

class TsgCircle : public TsgEllipse {
  CL_DECLARE_CLASS(TsgCircle, TsgEllipse)
 public:
  explicit TsgCircle(classlib::TComponent* AOwner) : TsgEllipse(AOwner) {}
  void Paint() override;
};

class TsgPie : public TsgEllipse {
  CL_DECLARE_CLASS(TsgPie, TsgEllipse)
 public:
  explicit TsgPie(classlib::TComponent* AOwner) : TsgEllipse(AOwner) {}
  float StartAngle() const { return startAngle_; }
  void SetStartAngle(float v) { ChangePlain(startAngle_, v); }
  float EndAngle() const { return endAngle_; }
  void SetEndAngle(float v) { ChangePlain(endAngle_, v); }
  // Centre, arc from StartAngle sweeping EndAngle - StartAngle, centre.
  void BuildOutline(TsgPathData& path);
  void Paint() override;
  bool PointInObject(const TsgPoint& p) override;

 private:
  float startAngle_ = 0, endAngle_ = -90;
};

class TsgArc : public TsgEllipse {
  CL_DECLARE_CLASS(TsgArc, TsgEllipse)
 public:
  explicit TsgArc(classlib::TComponent* AOwner);
  float StartAngle() const { return startAngle_; }
  void SetStartAngle(float v) { ChangePlain(startAngle_, v); }
  float EndAngle() const { return endAngle_; }
  void SetEndAngle(float v) { ChangePlain(endAngle_, v); }
  void Paint() override;

 private:
  float startAngle_ = 0, endAngle_ = -90;
};

// Published forms shared with the controls that pass these values on to
// their style parts.
extern const classlib::TTypeInfo TypeInfo_TsgTextAlign;
extern const classlib::TTypeInfo TypeInfo_TsgStrokeCap;
extern const classlib::TTypeInfo TypeInfo_TsgStrokeJoin;
extern const classlib::TTypeInfo TypeInfo_TsgStrokeDash;
extern const classlib::TTypeInfo TypeInfo_TsgCalloutPosition;

// A wide string drawn with a font and alignment, optionally sizing itself to
// the text (AutoSize) or scaled to fill the object (Stretch).
class TsgText : public TsgShape {
  CL_DECLARE_CLASS(TsgText, TsgShape)
 public:
  explicit TsgText(classlib::TComponent* AOwner);
  ~TsgText() override;

  const std::u16string& Text() const { return text_; }
  void SetText(const std::u16string& v);
  TsgFont* Font() const { return font_; }
  void SetFont(TsgFont* v);
  TsgTextAlign VertTextAlign() const { return vertTextAlign_; }
  void SetVertTextAlign(TsgTextAlign v);
  TsgTextAlign HorzTextAlign() const { return horzTextAlign_; }
  void SetHorzTextAlign(TsgTextAlign v);
  bool WordWrap() const { return wordWrap_; }
  void SetWordWrap(bool v) { ChangePlain(wordWrap_, v); }
  bool AutoSize() const { return autoSize_; }
  void SetAutoSize(bool v);
  bool Stretch() const { return stretch_; }
  void SetStretch(bool v);

  // Sizes the object to its text (AutoSize, a canvas and some text), then
  // realigns a visual parent; guarded against re-entry.
  void AutoFit();

  classlib::TVariant GetData() override;
  void SetData(const classlib::TVariant& value) override;
  void Paint() override;
  void Realign() override;
  // ---- hook added after TsgShape's
  virtual void FontChanged(classlib::TObject* sender);

 private:
  void FontChangedEvent(classlib::TObject* sender) { FontChanged(sender); }
  std::u16string text_;
  TsgFont* font_;
  TsgTextAlign vertTextAlign_ = sgTextAlignCenter;
  TsgTextAlign horzTextAlign_ = sgTextAlignCenter;
  bool wordWrap_ = true;
  bool autoSize_ = false;
  bool stretch_ = false;
  bool busy_ = false;
};

enum TsgImageWrap { sgImageOriginal, sgImageFit, sgImageStretch, sgImageTile };

using TsgBitmapLoadedEvent = classlib::TEvent<classlib::TObject*, int32_t>;

// A bitmap drawn in one of four wrap modes, or as a nine-part frame when
// any of BitmapMargins is set.
class TsgImage : public TsgVisualObject {
  CL_DECLARE_CLASS(TsgImage, TsgVisualObject)
 public:
  // Past this many tiles the image fills once with a tiled bitmap brush:
  // the same pixels in bounded time.
  static constexpr int64_t MaxTileDraws = 4096;

  explicit TsgImage(classlib::TComponent* AOwner);
  ~TsgImage() override;

  TsgBitmap* Bitmap() const { return bitmap_; }
  void SetBitmap(TsgBitmap* v);
  TsgBounds* BitmapMargins() const { return margins_; }
  void SetBitmapMargins(TsgBounds* v) { margins_->Assign(v); }
  TsgImageWrap WrapMode() const { return wrapMode_; }
  void SetWrapMode(TsgImageWrap v);
  bool DisableInterpolation() const { return disableInterpolation_; }
  void SetDisableInterpolation(bool v) { disableInterpolation_ = v; }
  TsgBitmapLoadedEvent OnBitmapLoaded;

  // Raises OnBitmapLoaded with the bitmap's argument, then repaints. For the
  // bitmap's loaded notification (the bitmap does not raise one yet).
  void DoBitmapLoaded(classlib::TObject* sender, int32_t argument);

  // A reference to this image, standing for its bitmap (scene references
  // name scene objects only); SetData takes such a reference (to an image
  // or a bitmap object) or a file name.
  classlib::TVariant GetData() override;
  void SetData(const classlib::TVariant& value) override;
  void Paint() override;
  // ---- hook added after TsgVisualObject's
  virtual void BitmapChanged(classlib::TObject* sender);

 private:
  void BitmapChangedEvent(classlib::TObject* sender) { BitmapChanged(sender); }
  void MarginsChangedEvent(classlib::TObject* sender);
  void PaintTiles(TsgCanvas* c, TsgBitmap* b, float opacity);
  TsgBitmap* bitmap_;
  TsgBitmap* scaled_ = nullptr;
  TsgBounds* margins_;
  TsgImageWrap wrapMode_ = sgImageFit;
  bool disableInterpolation_ = false;
};

enum TsgPathWrap { sgPathOriginal, sgPathFit, sgPathStretch, sgPathTile };

// A shape that fills and strokes a path (its own Data, or the shared path
// Data links to) in one of four wrap modes. An empty path draws nothing
// and is hit-tested by its rectangle.
class TsgCustomPath : public TsgShape {
  CL_DECLARE_CLASS(TsgCustomPath, TsgShape)
 public:
  explicit TsgCustomPath(classlib::TComponent* AOwner);
  ~TsgCustomPath() override;

  TsgPathData* Data() const { return data_; }
  // Takes the given path's points (or its link to a shared path).
  void AssignData(TsgPathData* v) { data_->Assign(v); }
  TsgPathWrap WrapMode() const { return wrapMode_; }
  void SetWrapMode(TsgPathWrap v) { ChangePlain(wrapMode_, v); }

  void Paint() override;
  bool PointInObject(const TsgPoint& p) override;

 private:
  void DataChangedEvent(classlib::TObject* sender);
  // The path drawn: the shared one Data links to, else Data itself.
  TsgPathData* DrawnPath();
  void PaintTiles(TsgCanvas* c, TsgPathData* path, const TsgRect& s, float opacity);
  TsgPathData* data_;
  TsgPathWrap wrapMode_ = sgPathStretch;
};

class TsgPath : public TsgCustomPath {
  CL_DECLARE_CLASS(TsgPath, TsgCustomPath)
 public:
  explicit TsgPath(classlib::TComponent* AOwner) : TsgCustomPath(AOwner) {}
};

// Ready-made triangles pointing left and right, fitted into the object.
class TsgScrollArrowLeft : public TsgCustomPath {
  CL_DECLARE_CLASS(TsgScrollArrowLeft, TsgCustomPath)
 public:
  explicit TsgScrollArrowLeft(classlib::TComponent* AOwner);
};

class TsgScrollArrowRight : public TsgCustomPath {
  CL_DECLARE_CLASS(TsgScrollArrowRight, TsgCustomPath)
 public:
  explicit TsgScrollArrowRight(classlib::TComponent* AOwner);
};

using TsgPaintEvent = classlib::TEvent<classlib::TObject*, TsgCanvas*>;

// Hands its canvas to OnPaint, with the matrix set to the box's own.
class TsgPaintBox : public TsgVisualObject {
  CL_DECLARE_CLASS(TsgPaintBox, TsgVisualObject)
 public:
  explicit TsgPaintBox(classlib::TComponent* AOwner) : TsgVisualObject(AOwner) {}
  // Replaces the visual object's event of the same name.
  TsgPaintEvent OnPaint;
  void Paint() override;
};

// Registers the shape classes under "Shapes" and the editing helpers under
// "Design" (once).
void RegisterShapeClasses();

// The dashed grey frame that shows an object at design time: the local
// rectangle shrunk by half a pixel. Leaves the canvas's dash solid again.
void DrawDesignOutline(TsgCanvas* c, const TsgRect& local, float opacity);

}  // namespace kelm::scene
