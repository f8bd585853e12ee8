// The scene bitmap and the default image filter class.
#include "scene/sg_bitmap.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <utility>

#include "classlib/classdef.h"
#include "classlib/sysutils.h"
#include "scene/sg_bridges.h"
#include "scene/sg_canvas.h"
#include "scene/sg_classes.h"
#include "scene/sg_resources.h"

namespace kelm::scene {

using classlib::TPersistent;
using classlib::TStream;

CL_CLASS(TsgFilter) {}

CL_CLASS(TsgBitmap) {
  c.Str("ResourceName", &TsgBitmap::ResourceName, &TsgBitmap::SetResourceName);
}

namespace {
TsgFilterClass& DefaultFilter() {
  static TsgFilterClass maker;
  return maker;
}

struct FilterFree {
  void operator()(TsgFilter* f) const { classlib::Free(f); }
};
using FilterPtr = std::unique_ptr<TsgFilter, FilterFree>;
// Zeroed pixels for width x height; std::bad_alloc when the byte count does
// not fit the address space (a 32-bit size_t would otherwise wrap and give
// a block smaller than the bitmap).
std::vector<uint32_t> NewPixelBlock(int width, int height) {
  if (width <= 0 || height <= 0) return {};
  const uint64_t count = uint64_t(width) * uint64_t(height);
  if (count > std::vector<uint32_t>().max_size()) throw std::bad_alloc();
  return std::vector<uint32_t>(size_t(count), 0u);
}
}  // namespace

void SetDefaultFilterClass(TsgFilterClass maker) { DefaultFilter() = std::move(maker); }
bool DefaultFilterClassSet() { return static_cast<bool>(DefaultFilter()); }
TsgFilter* sgCreateFilter() { return DefaultFilter() ? DefaultFilter()() : nullptr; }

TsgBitmap::TsgBitmap(int width, int height)
    : height_(std::max(height, 0)), width_(std::max(width, 0)) {
  Recreate();
}

// A bitmap that is not freed through Free still frees its canvas.
TsgBitmap::~TsgBitmap() { FreeCanvas(); }

void TsgBitmap::BeforeDestruction() {
  if (OnDestroy) OnDestroy(this);
  FreeNativeHandle();
  Link(nullptr);
  FreeCanvas();
}

void TsgBitmap::FreeCanvas() {
  TsgCanvas* c = canvas_;
  canvas_ = nullptr;
  classlib::Free(c);
}

TsgCanvas* TsgBitmap::GetCanvas() {
  if (!canvas_) {
    canvas_ = sgCreateCanvasFromBitmap(this);
    if (canvas_) canvas_->SetMatrix(IdentityMatrix);
  }
  return canvas_;
}

uint32_t* TsgBitmap::GetScanline(int row) {
  if (row < 0 || row >= height_ || bits_.empty()) return nullptr;
  return sgCanvasBitmapScanline(this, row);
}

void TsgBitmap::SetNativeHandle(void* handle, TNativeRelease release) {
  if (handle == nativeHandle_) {
    nativeRelease_ = release;
    return;
  }
  FreeNativeHandle();
  nativeHandle_ = handle;
  nativeRelease_ = release;
}

void TsgBitmap::FreeNativeHandle() {
  void* handle = nativeHandle_;
  TNativeRelease release = nativeRelease_;
  nativeHandle_ = nullptr;
  nativeRelease_ = nullptr;
  if (handle && release) release(handle);
}

void TsgBitmap::Link(TsgBitmapObject* obj) {
  if (obj == resource_) return;
  if (resource_) resource_->RemoveNotifyClient(this);
  resource_ = obj;
  if (obj) {
    resourceName_ = obj->ResourceName();
    obj->AddNotifyClient(this);
  } else {
    resourceName_.clear();
  }
}

void TsgBitmap::SetResource(TsgBitmapObject* obj) {
  if (obj == resource_) return;
  Link(obj);
  Changed();
}

TsgBitmap* TsgBitmap::GetResourceBitmap() {
  if (!resource_ && !resourceName_.empty()) {
    if (auto* obj = dynamic_cast<TsgBitmapObject*>(FindGlobalResource(resourceName_)))
      SetResource(obj);
  }
  return resource_ ? resource_->Bitmap() : nullptr;
}

void TsgBitmap::ObjectFreed(TsgObject* obj) {
  if (obj == resource_) resource_ = nullptr;
}

void TsgBitmap::Changed() {
  if (OnChange) OnChange(this);
}

void TsgBitmap::BitmapChanged() { Changed(); }

void TsgBitmap::SetSize(int width, int height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  if (width == width_ && height == height_) return;
  bits_.clear();
  width_ = width;
  height_ = height;
  Recreate();
  Changed();
}

bool TsgBitmap::TrySetSize(int width, int height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  if (width == width_ && height == height_) return true;
  std::vector<uint32_t> fresh;
  try {
    fresh = NewPixelBlock(width, height);
  } catch (const std::bad_alloc&) {
    return false;
  }
  width_ = width;
  height_ = height;
  ReleasePixels();
  bits_.swap(fresh);
  PixelsReplaced();
  Changed();
  return true;
}

void TsgBitmap::Recreate() {
  // The old block goes first, so that the peak stays at one block.
  ReleasePixels();
  try {
    bits_ = NewPixelBlock(width_, height_);
  } catch (...) {
    width_ = height_ = 0;
    PixelsReplaced();
    throw;
  }
  PixelsReplaced();
}

void TsgBitmap::ReleasePixels() {
  if (OnBeforeRealloc) OnBeforeRealloc(this);
  if (OnDestroy) OnDestroy(this);
  FreeCanvas();
  FreeNativeHandle();
  bits_.clear();
  bits_.shrink_to_fit();
}

void TsgBitmap::PixelsReplaced() {
  NeedUpdate = true;
  if (OnAfterRealloc) OnAfterRealloc(this);
}

void TsgBitmap::Clear(TsgColor color) {
  std::fill(bits_.begin(), bits_.end(), sgPremultiplyAlpha(color));
  NeedUpdate = true;
  Changed();
}

void TsgBitmap::ClearRect(const TsgRect& r, TsgColor color) {
  if (bits_.empty()) return;
  auto clampTo = [](double v, int hi) {
    if (!(v > 0)) return 0;
    return v > hi ? hi : static_cast<int>(v);
  };
  const int left = clampTo(std::trunc(r.Left), width_);
  const int top = clampTo(std::trunc(r.Top), height_);
  const int right = std::max(left, clampTo(std::round(r.Right), width_));
  const int bottom = std::max(top, clampTo(std::round(r.Bottom), height_));
  const TsgColor c = sgPremultiplyAlpha(color);
  for (int y = top; y < bottom; ++y)
    std::fill(bits_.begin() + long(y) * width_ + left, bits_.begin() + long(y) * width_ + right, c);
  NeedUpdate = true;
}

void TsgBitmap::FlipVertical() {
  for (int y = 0; y < height_ / 2; ++y)
    std::swap_ranges(bits_.begin() + long(y) * width_, bits_.begin() + long(y + 1) * width_,
                     bits_.begin() + long(height_ - 1 - y) * width_);
  NeedUpdate = true;
  Changed();
}

void TsgBitmap::InvertAlpha() {
  for (uint32_t& p : bits_) {
    const uint32_t s = sgUnpremultiplyAlpha(p);
    p = sgPremultiplyAlpha((s & 0x00FFFFFFu) | ((255u - (s >> 24)) << 24));
  }
  NeedUpdate = true;
  Changed();
}

void TsgBitmap::FillColorByAlpha(TsgColor color) {
  for (uint32_t& p : bits_) {
    const uint32_t a = p >> 24;
    if (a != 0) p = sgPremultiplyAlpha(sgOpacityColor(color, float(a) / 255));
  }
  NeedUpdate = true;
  Changed();
}

std::vector<uint8_t> TsgBitmap::CreateAlphaMask() const {
  std::vector<uint8_t> mask(bits_.size());
  for (size_t i = 0; i < bits_.size(); ++i) mask[i] = uint8_t(bits_[i] >> 24);
  return mask;
}

void TsgBitmap::ApplyAlphaMask(const std::vector<uint8_t>& mask, int dx, int dy) {
  for (int y = 0; y < height_; ++y) {
    for (int x = 0; x < width_; ++x) {
      const int mx = x - dx, my = y - dy;
      if (mx < 0 || mx >= width_ || my < 0 || my >= height_) continue;
      const size_t at = size_t(mx) + size_t(my) * size_t(width_);
      // A mask shorter than the bitmap covers what it holds.
      if (at >= mask.size()) continue;
      const uint8_t m = mask[at];
      if (m == 0) continue;
      uint32_t& p = bits_[size_t(x) + size_t(y) * size_t(width_)];
      p = sgPremultiplyAlpha(sgOpacityColor(sgUnpremultiplyAlpha(p), float(255 - m) / 255));
    }
  }
  NeedUpdate = true;
  Changed();
}

void TsgBitmap::SetResourceName(const std::string& v) {
  if (v == resourceName_) return;
  resourceName_ = v;
  Changed();
}

TsgBitmap* TsgBitmap::CreateFromStream(TStream& stream) {
  auto* bitmap = classlib::New<TsgBitmap>(0, 0);
  try {
    bitmap->LoadFromStream(stream);
  } catch (...) {
    classlib::Free(bitmap);
    throw;
  }
  return bitmap;
}

bool TsgBitmap::LoadFromStream(TStream& stream) {
  FilterPtr filter(sgCreateFilter());
  if (!filter) return false;
  // The filter decodes into a scratch bitmap, so undecodable data leaves
  // this one untouched.
  auto* scratch = classlib::New<TsgBitmap>();
  bool ok = false;
  try {
    if (stream.Position() > 0) {
      classlib::TMemoryStream rest;
      const int64_t n = stream.Remaining();
      if (n > 0) rest.CopyFrom(stream, n);
      rest.SetPosition(0);
      ok = filter->LoadFromStream(rest, *scratch);
    } else {
      ok = filter->LoadFromStream(stream, *scratch);
    }
  } catch (...) {
    classlib::Free(scratch);
    throw;
  }
  if (ok) {
    SetSize(scratch->width_, scratch->height_);
    bits_ = scratch->bits_;
    NeedUpdate = true;
    Changed();
  }
  classlib::Free(scratch);
  return ok;
}

bool TsgBitmap::LoadFromFile(const std::u16string& fileName, float rotation) {
  if (!classlib::FileExists(fileName)) return false;
  FilterPtr filter(sgCreateFilter());
  if (!filter || !filter->LoadFromFile(fileName, *this, rotation)) return false;
  Changed();
  return true;
}

bool TsgBitmap::SaveToFile(const std::u16string& fileName, const std::string& params) {
  FilterPtr filter(sgCreateFilter());
  return filter && filter->SaveToFile(fileName, *this, params);
}

bool TsgBitmap::SaveToStream(TStream& stream) {
  FilterPtr filter(sgCreateFilter());
  if (!filter) return false;
  const bool translucent =
      std::any_of(bits_.begin(), bits_.end(), [](uint32_t p) { return (p >> 24) < 255; });
  return translucent ? filter->SaveToStream(stream, *this, "png", "")
                     : filter->SaveToStream(stream, *this, "jpeg", "quality=100");
}

void TsgBitmap::Assign(TPersistent* source) {
  if (auto* src = dynamic_cast<TsgBitmap*>(source)) {
    if (src == this) return;
    if (src->GetResourceBitmap()) {
      Link(src->resource_);
      resourceName_ = src->resourceName_;
      Changed();
      return;
    }
    Link(nullptr);
    resourceName_.clear();
    SetSize(src->width_, src->height_);
    bits_ = src->bits_;
    NeedUpdate = true;
    Changed();
    return;
  }
  if (sgAssignThroughBridges(this, source)) return;
  TPersistent::Assign(source);
}

void TsgBitmap::AssignTo(TPersistent* dest) {
  if (sgAssignThroughBridges(dest, this)) return;
  TPersistent::AssignTo(dest);
}

void TsgBitmap::DefineProperties(classlib::TFiler& filer) {
  TPersistent::DefineProperties(filer);
  filer.DefineBinaryProperty(
      "PNG", [this](TStream& s) { LoadFromStream(s); }, [this](TStream& s) { SaveToStream(s); },
      !bits_.empty());
}

}  // namespace kelm::scene
