// TsgCanvasGdiPlus: the scene's drawing surface over GDI+. A window canvas
// owns a 32-bit top-down DIB section in a memory DC that the host copies to
// its window; a bitmap canvas draws straight into a TsgBitmap's own
// premultiplied pixels.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "scene/sg_bitmap.h"
#include "scene/sg_canvas.h"
#include "scene/sg_gdiplus.h"

namespace kelm::scene {

class TsgCanvasGdiPlus final : public TsgCanvas {
  CL_DECLARE_CLASS(TsgCanvasGdiPlus, TsgCanvas)
 public:
  // Both forms raise classlib::Exception while GDI+ is not started.
  // Window canvas; a side of 0 or less gives 1, so there is always a buffer
  // and a drawing context.
  TsgCanvasGdiPlus(int width, int height);
  // Bitmap canvas over the bitmap's pixels (nothing is drawn while it has
  // none). Reallocating or freeing the bitmap while this canvas exists is
  // not allowed: it draws into the pixel block it was made over.
  explicit TsgCanvasGdiPlus(TsgBitmap* bitmap);
  ~TsgCanvasGdiPlus() override;

  HDC BufferDC() const { return bufferDC_; }
  gdip::GpGraphics* Graphics() const { return graphics_.Get(); }
  float DpiScale() const { return dpiScale_; }

  void FontChanged(classlib::TObject* sender) override;
  void FlushBuffer(int x, int y, TsgDeviceContext dc) override;
  void FlushBufferRect(int x, int y, TsgDeviceContext dc, const TsgRect& r) override;
  void FreeBuffer() override;
  void ResizeBuffer(int width, int height) override;
  void Clear(TsgColor color) override;
  void ClearRect(const TsgRect& r, TsgColor color) override;
  uint32_t* GetBitmapScanline(TsgBitmap* bitmap, int row) override;
  void SetMatrix(const TsgMatrix& m) override;
  void MultiplyMatrix(const TsgMatrix& m) override;
  int SaveState() override;
  void RestoreState(int index) override;
  void SetClipRects(const std::vector<TsgRect>& rects) override;
  void IntersectClipRect(const TsgRect& r) override;
  void ExcludeClipRect(const TsgRect& r) override;
  void ResetClipRect() override;
  void DrawLine(const TsgPoint& p1, const TsgPoint& p2, float opacity) override;
  void FillRect(const TsgRect& r, float xRadius, float yRadius, TsgCorners corners, float opacity,
                TsgCornerType cornerType) override;
  void DrawRect(const TsgRect& r, float xRadius, float yRadius, TsgCorners corners, float opacity,
                TsgCornerType cornerType) override;
  void FillEllipse(const TsgRect& r, float opacity) override;
  void DrawEllipse(const TsgRect& r, float opacity) override;
  bool PtInPath(const TsgPoint& p, const TsgRect& r, TsgPathData* path) override;
  void FillPath(TsgPathData* path, const TsgRect& r, float opacity) override;
  void DrawPath(TsgPathData* path, const TsgRect& r, float opacity) override;
  void DrawBitmap(TsgBitmap* bitmap, const TsgRect& source, const TsgRect& dest, float opacity,
                  bool highSpeed) override;
  void DrawThumbnail(TsgBitmap* bitmap, float width, float height) override;
  void LoadFontFromStream(classlib::TStream& stream) override;
  void FillText(const TsgRect& r, const std::u16string& text, bool wordWrap, float opacity,
                TsgTextAlign align, TsgTextAlign vAlign) override;
  void MeasureText(TsgRect& r, const std::u16string& text, bool wordWrap, TsgTextAlign align,
                   TsgTextAlign vAlign) override;
  bool TextToPath(TsgPathData* path, const TsgRect& r, const std::u16string& text, bool wordWrap,
                  TsgTextAlign align, TsgTextAlign vAlign) override;

  // The GDI+ font for the current Font (the caller frees it); public so
  // that its size can be checked.
  gdip::GpFont* CreateTextFont();
  gdip::GpFontFamily* FontFamily() const { return fontFamily_.Get(); }
  gdip::GpFontCollection* PrivateFonts() const {
    return privateFonts_ ? privateFonts_->Get() : nullptr;
  }

  // The GDI+ bitmap over a scene bitmap's pixels, made or re-made when its
  // size no longer matches; none for a bitmap without pixels.
  static gdip::GpImage* UpdateBitmapHandle(TsgBitmap* bitmap);

 private:
  void MakeTools();
  void SetupGraphics(bool window);
  void ApplyFill(const TsgRect& box, float opacity);
  void ApplyStroke(const TsgRect& box, float opacity);
  void FillRectArea(const TsgRect& r, float opacity);
  void FillGPPath(gdip::GpPath* path, const TsgRect& box, float opacity);
  bool BuildPath(TsgPathData* path, const TsgRect& r, gdip::TGPGraphicsPath& out);
  // Strokes a path of one-way curves through its flattened copy (the path
  // is flattened in place).
  void StrokeCurvedPath(gdip::GpPath* path);
  // Strokes one Bezier as the lines of our own flattening.
  void StrokeBezier(gdip::GpPointF p0, gdip::GpPointF p1, gdip::GpPointF p2, gdip::GpPointF p3);
  // A quarter of a device pixel under the current matrix.
  float Flatness() const;
  void RoundRectPath(const TsgRect& r, float xRadius, float yRadius, TsgCorners corners,
                     TsgCornerType cornerType, gdip::TGPGraphicsPath& out);
  void RadialBrush(const TsgRect& box, float opacity);
  void VisualFill(TsgVisualObject* object, const TsgRect& box, float opacity);
  void FreeVisualPicture();
  int TextStyle() const;
  void SetTextHint();

  HBITMAP bufferBitmap_ = nullptr;
  HDC bufferDC_ = nullptr;
  gdip::TGPImage canvasImage_;  // a bitmap canvas's GDI+ view of the pixels
  gdip::TGPGraphics graphics_;
  gdip::TGPPen pen_;
  gdip::TGPBrush strokeBrush_;
  gdip::TGPBrush fillBrush_;
  gdip::TGPFontFamily fontFamily_;
  std::unique_ptr<gdip::TGPPrivateFontCollection> privateFonts_;
  // Font bytes must live as long as the private collection that uses them.
  std::vector<std::vector<uint8_t>> fontMemory_;
  // The pixels of the last radial gradient and their GDI+ view, kept while
  // the brush made from them may still draw.
  std::vector<uint32_t> radialPixels_;
  gdip::TGPImage radialImage_;
  // The picture of the last visual brush, kept while its brush may draw.
  TsgBitmap* visualPicture_ = nullptr;
  float dpiScale_ = 1;
};

// The scene library's Win32 start-up and shut-down (counted): GDI+ is
// loaded, bound and started; the GDI+ canvas becomes the default canvas
// class and TsgFilterGdiPlus the default filter class, each when none is
// set. Start-up raises classlib::Exception naming a
// missing library or entry.
void sgStartupScene();
void sgShutdownScene();

}  // namespace kelm::scene
