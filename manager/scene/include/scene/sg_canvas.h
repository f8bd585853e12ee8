// TsgCanvas: the abstract drawing surface every visual object paints on.
// It keeps the drawing state (size, matrix, fill and stroke brushes, stroke
// geometry, font, saved states); back ends implement the drawing. Polygon,
// arc and side-of-rectangle drawing are built here once, over paths.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "classlib/component.h"
#include "scene/sg_brush.h"
#include "scene/sg_path.h"
#include "scene/sg_types.h"

namespace kelm::scene {

class TsgBitmap;

enum TsgStrokeCap { sgCapFlat, sgCapRound };
enum TsgStrokeJoin { sgJoinMiter, sgJoinRound, sgJoinBevel };
enum TsgStrokeDash {
  sgDashSolid,
  sgDashDash,
  sgDashDot,
  sgDashDashDot,
  sgDashDashDotDot,
  sgDashCustom
};
enum TsgTextAlign { sgTextAlignCenter, sgTextAlignNear, sgTextAlignFar };
enum TsgCorner : uint8_t {
  sgCornerTopLeft = 1,
  sgCornerTopRight = 2,
  sgCornerBottomLeft = 4,
  sgCornerBottomRight = 8
};
using TsgCorners = uint8_t;
constexpr TsgCorners sgAllCorners = 15;
enum TsgCornerType { sgCornerRound, sgCornerBevel, sgCornerInnerRound, sgCornerInnerLine };
enum TsgSide : uint8_t { sgSideTop = 1, sgSideLeft = 2, sgSideBottom = 4, sgSideRight = 8 };
using TsgSides = uint8_t;
constexpr TsgSides sgAllSides = 15;

// Opaque handle of a back end's target device.
using TsgDeviceContext = void*;

// One saved drawing state; Handle -1 marks a free slot.
struct TsgCanvasSaveState {
  int Handle = -1;
  TsgMatrix Matrix{};
  TsgBrush* Stroke = nullptr;
  TsgBrush* Fill = nullptr;
  float StrokeThickness = 1;
  TsgStrokeCap StrokeCap = sgCapFlat;
  TsgStrokeJoin StrokeJoin = sgJoinMiter;
  TsgStrokeDash StrokeDash = sgDashSolid;
  std::vector<float> DashArray;
  float DashOffset = 0;
  TsgFont* Font = nullptr;
};

class TsgCanvas : public classlib::TPersistent {
  CL_DECLARE_CLASS(TsgCanvas, TPersistent)
 public:
  // The brushes and font are made here; the buffer is sized by
  // sgCreateCanvas once the back end is complete.
  TsgCanvas(int width, int height);
  // A canvas that draws into the bitmap: its size, no buffer of its own.
  explicit TsgCanvas(TsgBitmap* bitmap);
  ~TsgCanvas() override;
  // Frees the saved copies, then the back end's buffer.
  void BeforeDestruction() override;

  int Width() const { return width_; }
  int Height() const { return height_; }
  const TsgMatrix& Matrix() const { return matrix_; }
  TsgBrush* Fill() const { return fill_; }
  TsgBrush* Stroke() const { return stroke_; }
  TsgFont* Font() const { return font_; }
  float StrokeThickness = 1;
  TsgStrokeCap StrokeCap = sgCapFlat;
  TsgStrokeJoin StrokeJoin = sgJoinMiter;
  TsgStrokeDash StrokeDash() const { return strokeDash_; }
  std::vector<float> DashArray;
  float DashOffset = 0;
  bool Buffered() const { return buffered_; }
  uint32_t* Bits() const { return bits_; }
  // The bitmap drawn into, for a canvas made over one (not owned).
  TsgBitmap* Bitmap() const { return bitmap_; }
  const std::vector<TsgCanvasSaveState>& States() const { return states_; }

  // A TsgBitmap destination takes the canvas's size and, when the canvas
  // is buffered, a copy of every row of Bits.
  void AssignTo(classlib::TPersistent* dest) override;

  // ---- virtual operations
  virtual void FontChanged(classlib::TObject* sender) { (void)sender; }
  virtual bool BeginScene() { return true; }
  virtual void EndScene() {}
  virtual void FlushBuffer(int x, int y, TsgDeviceContext dc) = 0;
  virtual void FlushBufferRect(int x, int y, TsgDeviceContext dc, const TsgRect& r) = 0;
  virtual void FreeBuffer() = 0;
  virtual void ResizeBuffer(int width, int height) = 0;
  virtual void Clear(TsgColor color) = 0;
  virtual void ClearRect(const TsgRect& r, TsgColor color) = 0;
  virtual uint32_t* GetBitmapScanline(TsgBitmap* bitmap, int row) {
    (void)bitmap, (void)row;
    return nullptr;
  }
  virtual void SetMatrix(const TsgMatrix& m) { matrix_ = m; }
  virtual void MultiplyMatrix(const TsgMatrix& m) { (void)m; }
  virtual int SaveState() = 0;
  virtual void RestoreState(int index) = 0;
  virtual void SetClipRects(const std::vector<TsgRect>& rects) = 0;
  virtual void IntersectClipRect(const TsgRect& r) = 0;
  virtual void ExcludeClipRect(const TsgRect& r) = 0;
  virtual void ResetClipRect() = 0;
  virtual void DrawLine(const TsgPoint& p1, const TsgPoint& p2, float opacity) = 0;
  virtual void FillRect(const TsgRect& r, float xRadius, float yRadius, TsgCorners corners,
                        float opacity, TsgCornerType cornerType) = 0;
  virtual void DrawRect(const TsgRect& r, float xRadius, float yRadius, TsgCorners corners,
                        float opacity, TsgCornerType cornerType) = 0;
  virtual void FillEllipse(const TsgRect& r, float opacity) = 0;
  virtual void DrawEllipse(const TsgRect& r, float opacity) = 0;
  virtual bool PtInPath(const TsgPoint& p, const TsgRect& r, TsgPathData* path) = 0;
  virtual void FillPath(TsgPathData* path, const TsgRect& r, float opacity) = 0;
  virtual void DrawPath(TsgPathData* path, const TsgRect& r, float opacity) = 0;
  virtual void DrawBitmap(TsgBitmap* bitmap, const TsgRect& source, const TsgRect& dest,
                          float opacity, bool highSpeed) = 0;
  virtual void DrawThumbnail(TsgBitmap* bitmap, float width, float height) = 0;
  virtual void FillPolygon(const TsgPolygon& polygon, float opacity);
  virtual void DrawPolygon(const TsgPolygon& polygon, float opacity);
  virtual void LoadFontFromStream(classlib::TStream& stream) { (void)stream; }
  virtual void FillText(const TsgRect& r, const std::u16string& text, bool wordWrap, float opacity,
                        TsgTextAlign align, TsgTextAlign vAlign) = 0;
  virtual void MeasureText(TsgRect& r, const std::u16string& text, bool wordWrap,
                           TsgTextAlign align, TsgTextAlign vAlign) = 0;
  virtual bool TextToPath(TsgPathData* path, const TsgRect& r, const std::u16string& text,
                          bool wordWrap, TsgTextAlign align, TsgTextAlign vAlign) = 0;

  // ---- built here
  void SetStrokeDash(TsgStrokeDash style);
  void FillArc(const TsgPoint& center, const TsgPoint& radius, float startAngle, float sweepAngle,
               float opacity);
  void DrawArc(const TsgPoint& center, const TsgPoint& radius, float startAngle, float sweepAngle,
               float opacity);
  void DrawRectSides(const TsgRect& r, float xRadius, float yRadius, TsgCorners corners,
                     float opacity, TsgSides sides, TsgCornerType cornerType);

 protected:
  // For back ends: the state slots (SaveState fills, RestoreState frees).
  std::vector<TsgCanvasSaveState> states_;
  int width_ = 0, height_ = 0;
  TsgMatrix matrix_ = IdentityMatrix;
  bool buffered_ = false;
  uint32_t* bits_ = nullptr;
  TsgBitmap* bitmap_ = nullptr;
  TsgStrokeDash strokeDash_ = sgDashSolid;
  // Copies the current state into a slot (the first free one, or a new
  // one) with the given back-end handle and returns its index.
  int StoreState(int handle);
  // Puts a slot's state back, frees its copies and marks it free; false
  // for an index outside the slots or a free slot.
  bool LoadState(int index);

 private:
  void FontChangedEvent(classlib::TObject* sender) { FontChanged(sender); }
  static void FreeSlot(TsgCanvasSaveState& s);
  TsgBrush* fill_;
  TsgBrush* stroke_;
  TsgFont* font_;
};

// The library-wide default canvas class: a maker of an unsized canvas.
using TsgCanvasClass = std::function<TsgCanvas*(int width, int height)>;
void SetDefaultCanvasClass(TsgCanvasClass maker);
bool DefaultCanvasClassSet();
// A canvas of the default class, its buffer sized; none without a class.
TsgCanvas* sgCreateCanvas(int width, int height);

// The default canvas class's other class-level entries: its constructor
// over a bitmap and GetBitmapScanline, which TsgBitmap asks without a
// canvas at hand. A back end sets them along with SetDefaultCanvasClass.
struct TsgCanvasBitmapClass {
  std::function<TsgCanvas*(TsgBitmap* bitmap)> CreateFromBitmap;
  std::function<uint32_t*(TsgBitmap* bitmap, int row)> GetBitmapScanline;
};
void SetDefaultCanvasBitmapClass(TsgCanvasBitmapClass cls);
// A canvas of the default class over the bitmap; none without the entry.
TsgCanvas* sgCreateCanvasFromBitmap(TsgBitmap* bitmap);
// The default class's answer for a row of the bitmap; none without it.
uint32_t* sgCanvasBitmapScanline(TsgBitmap* bitmap, int row);

// Width of the text measured near-aligned, centred, without wrap, in
// (0, 0, 10000, 20).
float sgTextWidth(TsgCanvas* canvas, const std::u16string& text);

}  // namespace kelm::scene
