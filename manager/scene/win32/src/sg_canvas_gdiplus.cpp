// The GDI+ canvas: buffers, state, clip, transform, fills, strokes, paths
// and bitmaps. Text is in sg_canvas_gdiplus_text.cpp.
#include "scene/sg_canvas_gdiplus.h"
#include "scene/sg_scene.h"

#include <algorithm>
#include <cmath>

#include "classlib/classdef.h"
#include "classlib/sysutils.h"
#include "scene/sg_filter_gdiplus.h"
#include "scene/sg_visual.h"

namespace kelm::scene {

using namespace gdip;

CL_CLASS(TsgCanvasGdiPlus) {}

namespace {

GpRectF GpRect(const TsgRect& r) { return {r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top}; }

// The scene matrix as GDI+ takes it: the affine part, then the two
// perspective terms as a shear.
void MakeMatrix(const TsgMatrix& m, TGPMatrix& out) {
  out.Check(Gdip().GdipCreateMatrix2(m.m11, m.m12, m.m21, m.m22, m.m31, m.m32, out.Receive()));
  if (out) out.Check(Gdip().GdipShearMatrix(out.Get(), m.m13, m.m23, MatrixOrderPrepend));
}

// The GDI+ bitmap over a scene bitmap's pixels, with what it was made over.
struct NativeBitmap {
  GpImage* Image = nullptr;
  const uint32_t* Bits = nullptr;
  int Width = 0, Height = 0;
  unsigned Session = 0;
  bool Live() const { return Started() && Session == gdip::Session(); }
};

void ReleaseNativeBitmap(void* handle) {
  auto* nb = static_cast<NativeBitmap*>(handle);
  if (nb->Image && nb->Live()) Gdip().GdipDisposeImage(nb->Image);
  delete nb;
}

GpImage* CreateScan0(int width, int height, uint32_t* bits) {
  GpImage* image = nullptr;
  if (Gdip().GdipCreateBitmapFromScan0(width, height, width * 4, PixelFormat32bppPARGB,
                                       reinterpret_cast<BYTE*>(bits), &image) != Ok)
    return nullptr;
  return image;
}

// Gradient stops sized for each call: an end stop is added at 0 and at 1
// when the points do not reach them.
void GradientStops(TsgGradientPoints* points, float opacity, bool addEnds,
                   std::vector<ARGB>& colors, std::vector<REAL>& positions) {
  const int n = points->Count();
  colors.clear();
  positions.clear();
  colors.reserve(size_t(n) + 2);
  positions.reserve(size_t(n) + 2);
  auto add = [&](TsgColor c, float pos) {
    colors.push_back(sgOpacityColor(c, opacity));
    positions.push_back(pos);
  };
  if (addEnds && points->Points(0)->Offset() > 0) add(points->Points(0)->IntColor(), 0);
  for (int i = 0; i < n; ++i) add(points->Points(i)->IntColor(), points->Points(i)->Offset());
  if (addEnds && points->Points(n - 1)->Offset() < 1) add(points->Points(n - 1)->IntColor(), 1);
}

TsgBrush* Resolved(TsgBrush* brush) {
  if (brush->Style() == sgBrushResource) {
    if (TsgBrush* b = brush->Resource()->GetBrush(); b && b != brush) brush->Assign(b);
  }
  return brush;
}

// A texture brush over a bitmap's GDI+ image. Tiles start at the world
// origin; a stretch lays the whole picture exactly over the box (a side of
// the box without extent keeps the bitmap's own scale). Opacity below 1
// scales alpha through image attributes; none is applied when opacity is
// negative.
void MakeTexture(TGPBrush& out, GpImage* image, int bw, int bh, TsgWrapMode mode,
                 const TsgRect& box, float opacity) {
  const int wrap = mode == sgWrapTileStretch    ? WrapModeClamp
                   : mode == sgWrapTileOriginal ? WrapModeTileFlipX
                                                : WrapModeTile;
  if (opacity < 0) {
    out.Check(Gdip().GdipCreateTexture(image, wrap, out.Receive()));
  } else {
    TGPImageAttributes attributes;
    if (opacity < 1) {
      attributes.Check(Gdip().GdipCreateImageAttributes(attributes.Receive()));
      const GpColorMatrix cm = OpacityColorMatrix(opacity);
      if (attributes)
        attributes.Check(Gdip().GdipSetImageAttributesColorMatrix(
            attributes.Get(), ColorAdjustTypeBitmap, TRUE, &cm, nullptr, ColorMatrixFlagsDefault));
    }
    out.Check(Gdip().GdipCreateTextureIA(image, attributes.Get(), 0, 0, REAL(bw), REAL(bh),
                                         out.Receive()));
    if (out) out.Check(Gdip().GdipSetTextureWrapMode(out.Get(), wrap));
  }
  if (!out || mode != sgWrapTileStretch) return;
  const float w = box.Right - box.Left, h = box.Bottom - box.Top;
  const float sx = std::fabs(w) > 0 ? w / float(bw) : 1;
  const float sy = std::fabs(h) > 0 ? h / float(bh) : 1;
  out.Check(Gdip().GdipScaleTextureTransform(out.Get(), sx, sy, MatrixOrderAppend));
  out.Check(Gdip().GdipTranslateTextureTransform(out.Get(), box.Left, box.Top, MatrixOrderAppend));
}

// The bitmap a bitmap brush paints: its shared resource bitmap when it
// names one, else its own.
TsgBitmap* BrushBitmap(TsgBrush* brush) {
  TsgBitmap* bitmap = brush->Bitmap()->Bitmap();
  if (TsgBitmap* shared = bitmap ? bitmap->GetResourceBitmap() : nullptr) bitmap = shared;
  return bitmap;
}

// Visual objects whose picture is being made for a brush right now; an
// object painted through a brush showing itself gets a transparent brush
// there instead of recursing for ever.
std::vector<TsgVisualObject*> g_rendering;

// Every call goes through the bound table: without it nothing can draw.
void RequireStarted() {
  if (!Started()) throw classlib::Exception("GDI+ is not started");
}

}  // namespace

// ---------------------------------------------------------------- lifecycle

TsgCanvasGdiPlus::TsgCanvasGdiPlus(int width, int height) : TsgCanvas(0, 0) {
  RequireStarted();
  buffered_ = true;
  ResizeBuffer(width, height);
  MakeTools();
  dpiScale_ = 1;
}

TsgCanvasGdiPlus::TsgCanvasGdiPlus(TsgBitmap* bitmap) : TsgCanvas(bitmap) {
  RequireStarted();
  if (bitmap_ && !bitmap_->IsEmpty()) {
    canvasImage_.Reset(CreateScan0(bitmap_->Width(), bitmap_->Height(), bitmap_->Bits()));
    if (canvasImage_)
      graphics_.Check(Gdip().GdipGetImageGraphicsContext(canvasImage_.Get(), graphics_.Receive()));
    SetupGraphics(false);
  }
  MakeTools();
  REAL dpi = 96;
  if (graphics_ && Gdip().GdipGetDpiX(graphics_.Get(), &dpi) == Ok && dpi > 0) dpiScale_ = 96 / dpi;
}

TsgCanvasGdiPlus::~TsgCanvasGdiPlus() {
  // Graphics before the fonts and the image it draws into.
  graphics_.Reset();
  fontFamily_.Reset();
  privateFonts_.reset();
  fontMemory_.clear();
  fillBrush_.Reset();
  strokeBrush_.Reset();
  pen_.Reset();
  FreeVisualPicture();
  radialImage_.Reset();
  canvasImage_.Reset();
}

void TsgCanvasGdiPlus::MakeTools() {
  pen_.Check(Gdip().GdipCreatePen1(0xFF000000u, 1.0f, UnitWorld, pen_.Receive()));
  strokeBrush_.Check(Gdip().GdipCreateSolidFill(0xFF000000u, strokeBrush_.Receive()));
  fillBrush_.Check(Gdip().GdipCreateSolidFill(0xFFFFFFFFu, fillBrush_.Receive()));
  FontChanged(nullptr);
}

void TsgCanvasGdiPlus::SetupGraphics(bool window) {
  if (!graphics_) return;
  GpGraphics* g = graphics_.Get();
  graphics_.Check(Gdip().GdipSetSmoothingMode(g, SmoothingModeHighQuality));
  if (window) graphics_.Check(Gdip().GdipSetInterpolationMode(g, InterpolationModeHighQuality));
  graphics_.Check(Gdip().GdipSetPixelOffsetMode(g, PixelOffsetModeHalf));
  if (window) graphics_.Check(Gdip().GdipSetCompositingMode(g, CompositingModeSourceOver));
  graphics_.Check(Gdip().GdipSetTextContrast(g, 2));
}

void TsgCanvasGdiPlus::FreeBuffer() {
  graphics_.Reset();
  if (buffered_) {
    if (bufferDC_) DeleteDC(bufferDC_);
    if (bufferBitmap_) DeleteObject(bufferBitmap_);
    bufferDC_ = nullptr;
    bufferBitmap_ = nullptr;
    bits_ = nullptr;
  } else {
    canvasImage_.Reset();
  }
}

void TsgCanvasGdiPlus::ResizeBuffer(int width, int height) {
  width = std::max(width, 1);
  height = std::max(height, 1);
  if (width == width_ && height == height_ && graphics_) return;
  FreeBuffer();
  width_ = width;
  height_ = height;
  if (buffered_) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* pixels = nullptr;
    bufferBitmap_ = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    if (!bufferBitmap_ || !pixels) {
      if (bufferBitmap_) DeleteObject(bufferBitmap_);
      bufferBitmap_ = nullptr;
      throw classlib::Exception("Can't allocate the DIB handle");
    }
    bufferDC_ = CreateCompatibleDC(nullptr);
    if (!bufferDC_) {
      DeleteObject(bufferBitmap_);
      bufferBitmap_ = nullptr;
      throw classlib::Exception("Can't create compatible DC");
    }
    if (!SelectObject(bufferDC_, bufferBitmap_)) {
      DeleteDC(bufferDC_);
      DeleteObject(bufferBitmap_);
      bufferDC_ = nullptr;
      bufferBitmap_ = nullptr;
      throw classlib::Exception("Can't select an object into DC");
    }
    bits_ = static_cast<uint32_t*>(pixels);
    graphics_.Check(Gdip().GdipCreateFromHDC(bufferDC_, graphics_.Receive()));
  } else if (bitmap_ && !bitmap_->IsEmpty()) {
    // A bitmap canvas re-binds to the bitmap's current pixels.
    width_ = bitmap_->Width();
    height_ = bitmap_->Height();
    canvasImage_.Reset(CreateScan0(width_, height_, bitmap_->Bits()));
    if (canvasImage_)
      graphics_.Check(Gdip().GdipGetImageGraphicsContext(canvasImage_.Get(), graphics_.Receive()));
  }
  SetupGraphics(buffered_);
  REAL dpi = 96;
  if (graphics_ && Gdip().GdipGetDpiX(graphics_.Get(), &dpi) == Ok && dpi > 0) dpiScale_ = 96 / dpi;
}

void TsgCanvasGdiPlus::FlushBuffer(int x, int y, TsgDeviceContext dc) {
  if (!bufferBitmap_ || !dc) return;
  BitBlt(static_cast<HDC>(dc), x, y, width_, height_, bufferDC_, 0, 0, SRCCOPY);
}

void TsgCanvasGdiPlus::FlushBufferRect(int x, int y, TsgDeviceContext dc, const TsgRect& r) {
  if (!bufferBitmap_ || !dc) return;
  const int left = int(std::trunc(r.Left)), top = int(std::trunc(r.Top));
  const int right = int(std::trunc(r.Right)) + 1, bottom = int(std::trunc(r.Bottom)) + 1;
  BitBlt(static_cast<HDC>(dc), x + left, y + top, right - left, bottom - top, bufferDC_, left, top,
         SRCCOPY);
}

gdip::GpImage* TsgCanvasGdiPlus::UpdateBitmapHandle(TsgBitmap* bitmap) {
  if (!bitmap || bitmap->IsEmpty() || !Started()) return nullptr;
  auto* nb = static_cast<NativeBitmap*>(bitmap->NativeHandle());
  if (nb && nb->Live() && nb->Width == bitmap->Width() && nb->Height == bitmap->Height() &&
      nb->Bits == bitmap->Bits())
    return nb->Image;
  GpImage* image = CreateScan0(bitmap->Width(), bitmap->Height(), bitmap->Bits());
  if (!image) {
    bitmap->FreeNativeHandle();
    return nullptr;
  }
  bitmap->SetNativeHandle(
      new NativeBitmap{image, bitmap->Bits(), bitmap->Width(), bitmap->Height()},
      &ReleaseNativeBitmap);
  return image;
}

// ---------------------------------------------------------------- pixels

void TsgCanvasGdiPlus::Clear(TsgColor color) {
  if (graphics_) graphics_.Check(Gdip().GdipGraphicsClear(graphics_.Get(), color));
}

void TsgCanvasGdiPlus::ClearRect(const TsgRect& r, TsgColor color) {
  // A bitmap canvas writes the bitmap's own pixels.
  uint32_t* pixels = buffered_ ? bits_ : (bitmap_ ? bitmap_->Bits() : nullptr);
  const int w = buffered_ ? width_ : (bitmap_ ? bitmap_->Width() : 0);
  const int h = buffered_ ? height_ : (bitmap_ ? bitmap_->Height() : 0);
  if (!pixels) return;
  auto toInt = [](double v) {
    if (!(v > -1e9)) return -1000000000;
    if (v > 1e9) return 1000000000;
    return int(v);
  };
  int left = std::max(toInt(std::trunc(r.Left)), 0);
  int top = std::max(toInt(std::trunc(r.Top)), 0);
  int right = std::min(toInt(std::nearbyint(r.Right)), w);
  int bottom = std::min(toInt(std::nearbyint(r.Bottom)), h);
  bottom = std::max(bottom, top);
  right = std::max(right, left);
  if (right < 0 || left > w || top > h) return;
  for (int y = top; y < bottom; ++y)
    std::fill(pixels + size_t(y) * size_t(w) + size_t(left),
              pixels + size_t(y) * size_t(w) + size_t(right), color);
}

uint32_t* TsgCanvasGdiPlus::GetBitmapScanline(TsgBitmap* bitmap, int row) {
  if (!bitmap || row < 0 || row >= bitmap->Height() || bitmap->IsEmpty()) return nullptr;
  return bitmap->Bits() + size_t(row) * size_t(bitmap->Width());
}

// ---------------------------------------------------------------- state

void TsgCanvasGdiPlus::SetMatrix(const TsgMatrix& m) {
  TsgCanvas::SetMatrix(m);
  if (!graphics_) return;
  TGPMatrix gm;
  MakeMatrix(m, gm);
  if (gm) graphics_.Check(Gdip().GdipSetWorldTransform(graphics_.Get(), gm.Get()));
}

void TsgCanvasGdiPlus::MultiplyMatrix(const TsgMatrix& m) {
  matrix_ = sgMatrixMultiply(m, matrix_);
  if (!graphics_) return;
  TGPMatrix gm;
  MakeMatrix(m, gm);
  if (gm)
    graphics_.Check(
        Gdip().GdipMultiplyWorldTransform(graphics_.Get(), gm.Get(), MatrixOrderPrepend));
}

int TsgCanvasGdiPlus::SaveState() {
  if (!graphics_) return -1;
  GraphicsState token = 0;
  if (graphics_.Check(Gdip().GdipSaveGraphics(graphics_.Get(), &token)) != Ok) return -1;
  return StoreState(static_cast<int>(token));
}

void TsgCanvasGdiPlus::RestoreState(int index) {
  if (!graphics_ || index < 0 || index >= static_cast<int>(states_.size())) return;
  const int token = states_[size_t(index)].Handle;
  if (token == -1) return;
  graphics_.Check(Gdip().GdipRestoreGraphics(graphics_.Get(), static_cast<GraphicsState>(token)));
  if (LoadState(index)) SetMatrix(matrix_);
}

void TsgCanvasGdiPlus::SetClipRects(const std::vector<TsgRect>& rects) {
  if (!graphics_) return;
  TGPRegion region;
  region.Check(Gdip().GdipCreateRegion(region.Receive()));
  if (!region) return;
  region.Check(Gdip().GdipSetEmpty(region.Get()));
  for (const TsgRect& r : rects) {
    const GpRectF gr = GpRect(r);
    region.Check(Gdip().GdipCombineRegionRect(region.Get(), &gr, CombineModeUnion));
  }
  graphics_.Check(Gdip().GdipSetClipRegion(graphics_.Get(), region.Get(), CombineModeReplace));
}

void TsgCanvasGdiPlus::IntersectClipRect(const TsgRect& r) {
  if (!graphics_) return;
  const GpRectF g = GpRect(r);
  graphics_.Check(
      Gdip().GdipSetClipRect(graphics_.Get(), g.X, g.Y, g.Width, g.Height, CombineModeIntersect));
}

void TsgCanvasGdiPlus::ExcludeClipRect(const TsgRect& r) {
  if (!graphics_) return;
  const GpRectF g = GpRect(r);
  graphics_.Check(
      Gdip().GdipSetClipRect(graphics_.Get(), g.X, g.Y, g.Width, g.Height, CombineModeExclude));
}

void TsgCanvasGdiPlus::ResetClipRect() {
  if (graphics_) graphics_.Check(Gdip().GdipResetClip(graphics_.Get()));
}

// ---------------------------------------------------------------- brushes

void TsgCanvasGdiPlus::ApplyFill(const TsgRect& box, float opacity) {
  fillBrush_.Reset();
  TsgBrush* fill = Resolved(Fill());
  TsgGradient* grad = fill->Gradient();
  if (fill->Style() == sgBrushGradient && grad->Points()->Count() >= 2) {
    if (grad->IsRadial()) {
      RadialBrush(box, opacity);
      return;
    }
    // Positions are in units of the box, from its top-left corner.
    const float w = box.Right - box.Left, h = box.Bottom - box.Top;
    const GpPointF start{box.Left + grad->StartPosition()->X() * w,
                         box.Top + grad->StartPosition()->Y() * h};
    const GpPointF stop{box.Left + grad->StopPosition()->X() * w,
                        box.Top + grad->StopPosition()->Y() * h};
    std::vector<ARGB> colors;
    std::vector<REAL> positions;
    GradientStops(grad->Points(), opacity, true, colors, positions);
    fillBrush_.Check(Gdip().GdipCreateLineBrush(
        &start, &stop, fill->SolidColor(), fill->SolidColor(), WrapModeTile, fillBrush_.Receive()));
    if (!fillBrush_) return;
    fillBrush_.Check(Gdip().GdipSetLineWrapMode(fillBrush_.Get(), WrapModeTileFlipX));
    fillBrush_.Check(Gdip().GdipSetLinePresetBlend(fillBrush_.Get(), colors.data(),
                                                   positions.data(), INT(colors.size())));
    return;
  }
  if (fill->Style() == sgBrushBitmap) {
    TsgBitmap* bitmap = BrushBitmap(fill);
    if (GpImage* image = UpdateBitmapHandle(bitmap)) {
      MakeTexture(fillBrush_, image, bitmap->Width(), bitmap->Height(), fill->Bitmap()->WrapMode(),
                  box, std::max(opacity, 0.0f));
      if (fillBrush_) return;
    }
  } else if (fill->Style() == sgBrushVisual) {
    VisualFill(fill->Visual()->VisualObject(), box, opacity);
    if (fillBrush_) return;
  }
  TsgColor color = 0;
  if (fill->Style() == sgBrushSolid || fill->Style() == sgBrushGradient)
    color = sgOpacityColor(fill->SolidColor(), opacity);
  fillBrush_.Check(Gdip().GdipCreateSolidFill(color, fillBrush_.Receive()));
}

// The visual's picture, made by the object painting itself into a bitmap
// of its own size, then stretched over the box like a bitmap brush. Painted
// this way the picture follows the canvas's current transform and clip.
void TsgCanvasGdiPlus::VisualFill(TsgVisualObject* object, const TsgRect& box, float opacity) {
  if (!object || std::find(g_rendering.begin(), g_rendering.end(), object) != g_rendering.end())
    return;
  g_rendering.push_back(object);
  TsgBitmap* picture = nullptr;
  try {
    picture = object->RenderToBitmap();
  } catch (...) {
    g_rendering.pop_back();
    throw;
  }
  g_rendering.pop_back();
  FreeVisualPicture();
  visualPicture_ = picture;
  if (GpImage* image = UpdateBitmapHandle(picture))
    MakeTexture(fillBrush_, image, picture->Width(), picture->Height(), sgWrapTileStretch, box,
                std::max(opacity, 0.0f));
}

void TsgCanvasGdiPlus::FreeVisualPicture() {
  if (visualPicture_) classlib::Free(visualPicture_);
  visualPicture_ = nullptr;
}

// The radial gradient is computed here rather than through a path-gradient
// brush, whose preset blends and transform some GDI+ builds ignore: the
// box's ellipse seen through the gradient's transform, position 0 on the
// ellipse and 1 at its centre, nothing outside; painted as a clamped
// texture over the box.
void TsgCanvasGdiPlus::RadialBrush(const TsgRect& box, float opacity) {
  fillBrush_.Reset();
  radialImage_.Reset();
  const float bw = box.Right - box.Left, bh = box.Bottom - box.Top;
  if (!(bw > 0) || !(bh > 0)) return;
  constexpr float kMaxSide = 1024;
  const int tw = int(std::ceil(std::min(bw, kMaxSide)));
  const int th = int(std::ceil(std::min(bh, kMaxSide)));
  const float sx = bw / float(tw), sy = bh / float(th);

  TsgGradient* grad = Fill()->Gradient();
  std::vector<ARGB> colors;
  std::vector<REAL> positions;
  GradientStops(grad->Points(), opacity, true, colors, positions);

  TsgMatrix inverse = grad->RadialTransform()->Matrix();
  inverse.m13 = inverse.m23 = 0;
  inverse.m33 = 1;
  if (std::fabs(sgMatrixDeterminant(inverse)) < 1e-12f) return;
  sgInvertMatrix(inverse);

  const float cx = (box.Left + box.Right) / 2, cy = (box.Top + box.Bottom) / 2;
  const float rx = bw / 2, ry = bh / 2;
  radialPixels_.assign(size_t(tw) * size_t(th), 0u);
  for (int j = 0; j < th; ++j) {
    for (int i = 0; i < tw; ++i) {
      const float qx = box.Left + (float(i) + 0.5f) * sx, qy = box.Top + (float(j) + 0.5f) * sy;
      const float px = qx * inverse.m11 + qy * inverse.m21 + inverse.m31;
      const float py = qx * inverse.m12 + qy * inverse.m22 + inverse.m32;
      const float dx = (px - cx) / rx, dy = (py - cy) / ry;
      const float d = std::sqrt(dx * dx + dy * dy);
      if (d > 1) continue;
      const float t = 1 - d;
      size_t k = 1;
      while (k < positions.size() - 1 && positions[k] < t) ++k;
      const float span = positions[k] - positions[k - 1];
      const float f = span > 0 ? std::clamp((t - positions[k - 1]) / span, 0.0f, 1.0f) : 1.0f;
      radialPixels_[size_t(j) * size_t(tw) + size_t(i)] =
          sgPremultiplyAlpha(sgInterpolateColor(colors[k - 1], colors[k], f));
    }
  }
  radialImage_.Reset(CreateScan0(tw, th, radialPixels_.data()));
  if (!radialImage_) return;
  fillBrush_.Check(
      Gdip().GdipCreateTexture(radialImage_.Get(), WrapModeClamp, fillBrush_.Receive()));
  if (!fillBrush_) return;
  fillBrush_.Check(Gdip().GdipScaleTextureTransform(fillBrush_.Get(), sx, sy, MatrixOrderAppend));
  fillBrush_.Check(
      Gdip().GdipTranslateTextureTransform(fillBrush_.Get(), box.Left, box.Top, MatrixOrderAppend));
}

void TsgCanvasGdiPlus::ApplyStroke(const TsgRect& box, float opacity) {
  pen_.Reset();
  strokeBrush_.Reset();
  TsgBrush* stroke = Resolved(Stroke());
  TsgGradient* grad = stroke->Gradient();
  if (stroke->Style() == sgBrushGradient && grad->Points()->Count() >= 2) {
    // Always linear, over exactly the points; the end points lie in the box
    // already, so the gradient needs no further scaling.
    const float w = box.Right - box.Left, h = box.Bottom - box.Top;
    const GpPointF start{box.Left + grad->StartPosition()->X() * w,
                         box.Top + grad->StartPosition()->Y() * h};
    const GpPointF stop{box.Left + grad->StopPosition()->X() * w,
                        box.Top + grad->StopPosition()->Y() * h};
    std::vector<ARGB> colors;
    std::vector<REAL> positions;
    GradientStops(grad->Points(), opacity, false, colors, positions);
    strokeBrush_.Check(Gdip().GdipCreateLineBrush(&start, &stop, stroke->SolidColor(),
                                                  stroke->SolidColor(), WrapModeTile,
                                                  strokeBrush_.Receive()));
    if (strokeBrush_)
      strokeBrush_.Check(Gdip().GdipSetLinePresetBlend(strokeBrush_.Get(), colors.data(),
                                                       positions.data(), INT(colors.size())));
  }
  if (stroke->Style() == sgBrushBitmap) {
    TsgBitmap* bitmap = stroke->Bitmap()->Bitmap();
    if (GpImage* image = UpdateBitmapHandle(bitmap))
      MakeTexture(strokeBrush_, image, bitmap->Width(), bitmap->Height(),
                  stroke->Bitmap()->WrapMode(), box, -1);
  }
  if (!strokeBrush_) {
    TsgColor color = 0;
    if (stroke->Style() == sgBrushSolid || stroke->Style() == sgBrushGradient)
      color = sgOpacityColor(stroke->SolidColor(), opacity);
    strokeBrush_.Check(Gdip().GdipCreateSolidFill(color, strokeBrush_.Receive()));
  }
  pen_.Check(Gdip().GdipCreatePen2(strokeBrush_.Get(), 1.0f, UnitWorld, pen_.Receive()));
  if (!pen_) return;
  GpPen* p = pen_.Get();
  if (StrokeCap == sgCapRound)
    pen_.Check(Gdip().GdipSetPenLineCap197819(p, LineCapRound, LineCapRound, DashCapRound));
  else
    pen_.Check(Gdip().GdipSetPenLineCap197819(p, LineCapFlat, LineCapFlat, DashCapFlat));
  if (DashArray.empty()) {
    pen_.Check(Gdip().GdipSetPenDashStyle(p, DashStyleSolid));
  } else {
    pen_.Check(Gdip().GdipSetPenDashOffset(p, DashOffset));
    pen_.Check(Gdip().GdipSetPenDashArray(p, DashArray.data(), INT(DashArray.size())));
  }
  const int join = StrokeJoin == sgJoinRound   ? LineJoinRound
                   : StrokeJoin == sgJoinBevel ? LineJoinBevel
                                               : LineJoinMiter;
  pen_.Check(Gdip().GdipSetPenLineJoin(p, join));
  pen_.Check(Gdip().GdipSetPenWidth(p, StrokeThickness));
}

// ---------------------------------------------------------------- shapes

void TsgCanvasGdiPlus::FillRectArea(const TsgRect& r, float opacity) {
  if (Fill()->Style() == sgBrushNone || !graphics_) return;
  ApplyFill(r, opacity);
  if (!fillBrush_) return;
  const GpRectF g = GpRect(r);
  graphics_.Check(
      Gdip().GdipFillRectangle(graphics_.Get(), fillBrush_.Get(), g.X, g.Y, g.Width, g.Height));
}

void TsgCanvasGdiPlus::FillGPPath(GpPath* path, const TsgRect& box, float opacity) {
  if (Fill()->Style() == sgBrushNone || !graphics_ || !path) return;
  ApplyFill(box, opacity);
  if (fillBrush_) graphics_.Check(Gdip().GdipFillPath(graphics_.Get(), fillBrush_.Get(), path));
}

void TsgCanvasGdiPlus::DrawLine(const TsgPoint& p1, const TsgPoint& p2, float opacity) {
  if (Stroke()->Style() == sgBrushNone || !graphics_) return;
  ApplyStroke({p1.X, p1.Y, p2.X, p2.Y}, opacity);
  if (pen_)
    graphics_.Check(Gdip().GdipDrawLine(graphics_.Get(), pen_.Get(), p1.X, p1.Y, p2.X, p2.Y));
}

void TsgCanvasGdiPlus::RoundRectPath(const TsgRect& r, float xRadius, float yRadius,
                                     TsgCorners corners, TsgCornerType cornerType,
                                     TGPGraphicsPath& out) {
  float x = xRadius, y = yRadius;
  if (r.Right - r.Left - 2 * x < 0) x = (r.Right - r.Left) / 2;
  if (r.Bottom - r.Top - 2 * y < 0) y = (r.Bottom - r.Top) / 2;
  constexpr float k = 0.4477152502f;
  out.Check(Gdip().GdipCreatePath(FillModeAlternate, out.Receive()));
  if (!out) return;
  GpPath* path = out.Get();
  struct CornerPts {
    TsgCorner corner;
    TsgPoint a, c, b;
  };
  const CornerPts list[4] = {
      {sgCornerTopLeft, {r.Left, r.Top + y}, {r.Left, r.Top}, {r.Left + x, r.Top}},
      {sgCornerTopRight, {r.Right - x, r.Top}, {r.Right, r.Top}, {r.Right, r.Top + y}},
      {sgCornerBottomRight, {r.Right, r.Bottom - y}, {r.Right, r.Bottom}, {r.Right - x, r.Bottom}},
      {sgCornerBottomLeft, {r.Left + x, r.Bottom}, {r.Left, r.Bottom}, {r.Left, r.Bottom - y}}};
  // from + k (to - from): a quarter of the way along the corner's sides.
  auto toward = [&](const TsgPoint& from, const TsgPoint& to) {
    return TsgPoint{from.X + k * (to.X - from.X), from.Y + k * (to.Y - from.Y)};
  };
  bool first = true;
  TsgPoint last{};
  auto lineTo = [&](const TsgPoint& p) {
    if (!first) out.Check(Gdip().GdipAddPathLine(path, last.X, last.Y, p.X, p.Y));
    first = false;
    last = p;
  };
  auto bezierTo = [&](const TsgPoint& c1, const TsgPoint& c2, const TsgPoint& e) {
    out.Check(Gdip().GdipAddPathBezier(path, last.X, last.Y, c1.X, c1.Y, c2.X, c2.Y, e.X, e.Y));
    last = e;
  };
  for (const CornerPts& cp : list) {
    const TsgPoint d{cp.a.X + cp.b.X - cp.c.X, cp.a.Y + cp.b.Y - cp.c.Y};
    lineTo(cp.a);
    if (!(corners & cp.corner)) {
      lineTo(cp.c);
      lineTo(cp.b);
      continue;
    }
    switch (cornerType) {
      case sgCornerRound:
        bezierTo(toward(cp.c, cp.a), toward(cp.c, cp.b), cp.b);
        break;
      case sgCornerBevel:
        lineTo(cp.b);
        break;
      case sgCornerInnerRound:
        bezierTo(toward(cp.a, d), toward(cp.b, d), cp.b);
        break;
      case sgCornerInnerLine:
        lineTo(toward(cp.a, d));
        lineTo(toward(cp.b, d));
        lineTo(cp.b);
        break;
    }
  }
  lineTo(list[0].a);
  out.Check(Gdip().GdipClosePathFigure(path));
}

void TsgCanvasGdiPlus::FillRect(const TsgRect& r, float xRadius, float yRadius, TsgCorners corners,
                                float opacity, TsgCornerType cornerType) {
  if (Fill()->Style() == sgBrushNone) return;
  if ((xRadius == 0 && yRadius == 0) || corners == 0) {
    FillRectArea(r, opacity);
    return;
  }
  TGPGraphicsPath path;
  RoundRectPath(r, xRadius, yRadius, corners, cornerType, path);
  FillGPPath(path.Get(), r, opacity);
}

void TsgCanvasGdiPlus::DrawRect(const TsgRect& r, float xRadius, float yRadius, TsgCorners corners,
                                float opacity, TsgCornerType cornerType) {
  if (Stroke()->Style() == sgBrushNone || !graphics_) return;
  ApplyStroke(r, opacity);
  if (!pen_) return;
  if (xRadius < 1e-40f && yRadius < 1e-40f) {
    const GpRectF g = GpRect(r);
    graphics_.Check(
        Gdip().GdipDrawRectangle(graphics_.Get(), pen_.Get(), g.X, g.Y, g.Width, g.Height));
    return;
  }
  TGPGraphicsPath path;
  RoundRectPath(r, xRadius, yRadius, corners, cornerType, path);
  if (path) StrokeCurvedPath(path.Get());
}

namespace {

// Appends the end points of the lines that follow a Bezier within
// flatness: halves until both control points lie that close to the chord.
void FlattenBezier(GpPointF p0, GpPointF p1, GpPointF p2, GpPointF p3, float flatness, int depth,
                   std::vector<GpPointF>& out) {
  const float dx = p3.X - p0.X, dy = p3.Y - p0.Y;
  const float chord = std::sqrt(dx * dx + dy * dy);
  auto off = [&](GpPointF p) {
    const float px = p.X - p0.X, py = p.Y - p0.Y;
    return chord > 1e-6f ? std::fabs(px * dy - py * dx) / chord : std::sqrt(px * px + py * py);
  };
  if (depth >= 16 || (off(p1) <= flatness && off(p2) <= flatness)) {
    out.push_back(p3);
    return;
  }
  auto mid = [](GpPointF a, GpPointF b) { return GpPointF{(a.X + b.X) / 2, (a.Y + b.Y) / 2}; };
  const GpPointF a = mid(p0, p1), b = mid(p1, p2), c = mid(p2, p3);
  const GpPointF ab = mid(a, b), bc = mid(b, c), m = mid(ab, bc);
  FlattenBezier(p0, a, ab, m, flatness, depth + 1, out);
  FlattenBezier(m, bc, c, p3, flatness, depth + 1, out);
}

}  // namespace

float TsgCanvasGdiPlus::Flatness() const {
  // A quarter of a device pixel, in world units.
  const TsgMatrix& m = Matrix();
  const float scale = std::sqrt(std::fabs(m.m11 * m.m22 - m.m12 * m.m21));
  return scale > 1e-6f ? 0.25f / scale : 0.25f;
}

void TsgCanvasGdiPlus::StrokeCurvedPath(GpPath* path) {
  graphics_.Check(Gdip().GdipFlattenPath(path, nullptr, Flatness()));
  graphics_.Check(Gdip().GdipDrawPath(graphics_.Get(), pen_.Get(), path));
}

void TsgCanvasGdiPlus::StrokeBezier(GpPointF p0, GpPointF p1, GpPointF p2, GpPointF p3) {
  // Wine's GDI+ strokes a Bezier that bends both ways as its chord, and its
  // own flattening judges such a curve flat by its middle point alone, which
  // lies on the chord. Lines within a quarter pixel of the curve are what
  // GDI+ strokes on Windows anyway, so the result looks the same there.
  std::vector<GpPointF> points{p0};
  FlattenBezier(p0, p1, p2, p3, Flatness(), 0, points);
  graphics_.Check(
      Gdip().GdipDrawLines(graphics_.Get(), pen_.Get(), points.data(), INT(points.size())));
}

void TsgCanvasGdiPlus::FillEllipse(const TsgRect& r, float opacity) {
  if (Fill()->Style() == sgBrushNone) return;
  TGPGraphicsPath path;
  path.Check(Gdip().GdipCreatePath(FillModeAlternate, path.Receive()));
  if (!path) return;
  const GpRectF g = GpRect(r);
  path.Check(Gdip().GdipAddPathEllipse(path.Get(), g.X, g.Y, g.Width, g.Height));
  FillGPPath(path.Get(), r, opacity);
}

void TsgCanvasGdiPlus::DrawEllipse(const TsgRect& r, float opacity) {
  if (Stroke()->Style() == sgBrushNone || !graphics_) return;
  ApplyStroke(r, opacity);
  const GpRectF g = GpRect(r);
  if (pen_)
    graphics_.Check(
        Gdip().GdipDrawEllipse(graphics_.Get(), pen_.Get(), g.X, g.Y, g.Width, g.Height));
}

// ---------------------------------------------------------------- paths

namespace {

// Maps path points onto r through the path's bounds; false when the path
// has no area to map from.
struct PathMapper {
  TsgRect Bounds, R;
  bool Valid(const TsgPathData* path) {
    Bounds = path->GetBounds();
    return sgRectWidth(Bounds) * sgRectHeight(Bounds) != 0;
  }
  TsgPoint Map(float x, float y) const {
    return {R.Left + sgRectWidth(R) * (x - Bounds.Left) / sgRectWidth(Bounds),
            R.Top + sgRectHeight(R) * (y - Bounds.Top) / sgRectHeight(Bounds)};
  }
};

}  // namespace

bool TsgCanvasGdiPlus::BuildPath(TsgPathData* path, const TsgRect& r, TGPGraphicsPath& out) {
  if (!path || path->IsEmpty()) return false;
  PathMapper m{{}, r};
  if (!m.Valid(path)) return false;
  out.Check(Gdip().GdipCreatePath(FillModeAlternate, out.Receive()));
  if (!out) return false;
  GpPath* gp = out.Get();
  const auto& pts = path->Points();
  TsgPoint current{}, start{};
  for (size_t i = 0; i < pts.size(); ++i) {
    const TsgPoint p = m.Map(pts[i].X, pts[i].Y);
    switch (pts[i].Kind) {
      case sgPathPointMoveTo:
        out.Check(Gdip().GdipStartPathFigure(gp));
        current = start = p;
        break;
      case sgPathPointLineTo:
        out.Check(Gdip().GdipAddPathLine(gp, current.X, current.Y, p.X, p.Y));
        current = p;
        break;
      case sgPathPointCurveTo: {
        if (i + 2 >= pts.size()) return true;
        const TsgPoint c2 = m.Map(pts[i + 1].X, pts[i + 1].Y);
        const TsgPoint e = m.Map(pts[i + 2].X, pts[i + 2].Y);
        out.Check(
            Gdip().GdipAddPathBezier(gp, current.X, current.Y, p.X, p.Y, c2.X, c2.Y, e.X, e.Y));
        current = e;
        i += 2;
        break;
      }
      case sgPathPointClose:
        out.Check(Gdip().GdipClosePathFigure(gp));
        current = start;
        break;
      default:
        break;
    }
  }
  return true;
}

void TsgCanvasGdiPlus::FillPath(TsgPathData* path, const TsgRect& r, float opacity) {
  if (Fill()->Style() == sgBrushNone) return;
  TGPGraphicsPath gp;
  if (BuildPath(path, r, gp)) FillGPPath(gp.Get(), r, opacity);
}

void TsgCanvasGdiPlus::DrawPath(TsgPathData* path, const TsgRect& r, float opacity) {
  if (!path || path->IsEmpty() || Stroke()->Style() == sgBrushNone || !graphics_) return;
  PathMapper m{{}, r};
  if (!m.Valid(path)) return;
  // The stroke's gradient spans the rectangle drawn into.
  ApplyStroke(r, opacity);
  if (!pen_) return;
  GpGraphics* g = graphics_.Get();
  GpPen* pen = pen_.Get();
  const auto& pts = path->Points();
  TsgPoint current{}, start{};
  for (size_t i = 0; i < pts.size(); ++i) {
    const TsgPoint p = m.Map(pts[i].X, pts[i].Y);
    switch (pts[i].Kind) {
      case sgPathPointMoveTo:
        current = start = p;
        break;
      case sgPathPointLineTo:
        graphics_.Check(Gdip().GdipDrawLine(g, pen, current.X, current.Y, p.X, p.Y));
        current = p;
        break;
      case sgPathPointCurveTo: {
        if (i + 2 >= pts.size()) return;
        const TsgPoint c2 = m.Map(pts[i + 1].X, pts[i + 1].Y);
        const TsgPoint e = m.Map(pts[i + 2].X, pts[i + 2].Y);
        StrokeBezier({current.X, current.Y}, {p.X, p.Y}, {c2.X, c2.Y}, {e.X, e.Y});
        current = e;
        i += 2;
        break;
      }
      case sgPathPointClose:
        graphics_.Check(Gdip().GdipDrawLine(g, pen, current.X, current.Y, start.X, start.Y));
        break;
      default:
        break;
    }
  }
}

bool TsgCanvasGdiPlus::PtInPath(const TsgPoint& p, const TsgRect& r, TsgPathData* path) {
  if (!sgPtInRect(p, r)) return false;
  TGPGraphicsPath gp;
  if (!BuildPath(path, r, gp)) return false;
  BOOL inside = FALSE;
  if (gp.Check(Gdip().GdipIsVisiblePathPoint(gp.Get(), p.X, p.Y, nullptr, &inside)) != Ok)
    return false;
  return inside != FALSE;
}

// ---------------------------------------------------------------- bitmaps

void TsgCanvasGdiPlus::DrawBitmap(TsgBitmap* bitmap, const TsgRect& source, const TsgRect& dest,
                                  float opacity, bool highSpeed) {
  if (!graphics_) return;
  graphics_.Check(
      Gdip().GdipSetInterpolationMode(graphics_.Get(), highSpeed ? InterpolationModeNearestNeighbor
                                                                 : InterpolationModeHighQuality));
  if (!(opacity > 0)) return;
  GpImage* image = UpdateBitmapHandle(bitmap);
  if (!image) return;
  TGPImageAttributes attributes;
  if (opacity < 1) {
    attributes.Check(Gdip().GdipCreateImageAttributes(attributes.Receive()));
    const GpColorMatrix cm = OpacityColorMatrix(opacity);
    if (attributes)
      attributes.Check(Gdip().GdipSetImageAttributesColorMatrix(
          attributes.Get(), ColorAdjustTypeBitmap, TRUE, &cm, nullptr, ColorMatrixFlagsDefault));
  }
  const GpRectF d = GpRect(dest), s = GpRect(source);
  graphics_.Check(Gdip().GdipDrawImageRectRect(graphics_.Get(), image, d.X, d.Y, d.Width, d.Height,
                                               s.X, s.Y, s.Width, s.Height, UnitPixel,
                                               attributes.Get(), nullptr, nullptr));
}

void TsgCanvasGdiPlus::DrawThumbnail(TsgBitmap* bitmap, float width, float height) {
  (void)height;  // the scale follows the width on both axes
  GpImage* image = UpdateBitmapHandle(bitmap);
  if (!image || buffered_ || !graphics_) return;
  const float s = width / float(bitmap->Width());
  graphics_.Check(Gdip().GdipScaleWorldTransform(graphics_.Get(), s, s, MatrixOrderPrepend));
  graphics_.Check(
      Gdip().GdipDrawImageRectI(graphics_.Get(), image, 0, 0, bitmap->Width(), bitmap->Height()));
}

// ---------------------------------------------------------------- start-up

namespace {
int g_sceneStarts = 0;
}

void sgStartupScene() {
  if (g_sceneStarts > 0) {
    ++g_sceneStarts;
    return;
  }
  gdip::Startup();
  ++g_sceneStarts;
  sgRegisterFilterGdiPlus();
  StartSceneHost();
  if (!DefaultCanvasClassSet()) {
    SetDefaultCanvasClass(
        [](int w, int h) -> TsgCanvas* { return classlib::New<TsgCanvasGdiPlus>(w, h); });
    // TsgBitmap's canvas and scan lines come from the same class.
    SetDefaultCanvasBitmapClass(
        {[](TsgBitmap* b) -> TsgCanvas* { return classlib::New<TsgCanvasGdiPlus>(b); },
         [](TsgBitmap* b, int row) -> uint32_t* {
           if (!b || row < 0 || row >= b->Height() || b->IsEmpty()) return nullptr;
           return b->Bits() + size_t(row) * size_t(b->Width());
         }});
  }
}

void sgShutdownScene() {
  if (g_sceneStarts == 0 || --g_sceneStarts > 0) return;
  StopSceneHost();
  gdip::Shutdown();
}

}  // namespace kelm::scene
