// Owners of GDI+ objects: each holds one native handle and the last failing
// status of the calls made through it. Failures are kept, never raised; a
// failed creation leaves the owner empty and drawing through it does
// nothing.
#pragma once

#include <string>
#include <vector>

#include "scene/sg_gdiplus_api.h"

namespace kelm::scene::gdip {

template <class H, auto Api::*Delete>
class TGPObject {
 public:
  TGPObject() = default;
  explicit TGPObject(H* handle) : handle_(handle) {}
  TGPObject(const TGPObject&) = delete;
  TGPObject& operator=(const TGPObject&) = delete;
  ~TGPObject() { Reset(); }

  H* Get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  GpStatus LastStatus() const { return lastStatus_; }

  // Records a failing status and hands it back.
  GpStatus Check(GpStatus status) {
    if (status != Ok) lastStatus_ = status;
    return status;
  }
  // Frees the object held (while the library runs) and takes the new one.
  void Reset(H* handle = nullptr) {
    if (handle_ && Started()) (Gdip().*Delete)(handle_);
    handle_ = handle;
  }
  // For creation calls: frees the old object and answers the slot to fill.
  H** Receive() {
    Reset();
    return &handle_;
  }
  H* Release() {
    H* h = handle_;
    handle_ = nullptr;
    return h;
  }

 private:
  H* handle_ = nullptr;
  GpStatus lastStatus_ = Ok;
};

using TGPGraphics = TGPObject<GpGraphics, &Api::GdipDeleteGraphics>;
using TGPPen = TGPObject<GpPen, &Api::GdipDeletePen>;
using TGPBrush = TGPObject<GpBrush, &Api::GdipDeleteBrush>;
using TGPGraphicsPath = TGPObject<GpPath, &Api::GdipDeletePath>;
using TGPRegion = TGPObject<GpRegion, &Api::GdipDeleteRegion>;
using TGPMatrix = TGPObject<GpMatrix, &Api::GdipDeleteMatrix>;
using TGPImage = TGPObject<GpImage, &Api::GdipDisposeImage>;
using TGPImageAttributes = TGPObject<GpImageAttributes, &Api::GdipDisposeImageAttributes>;
using TGPStringFormat = TGPObject<GpStringFormat, &Api::GdipDeleteStringFormat>;
using TGPFontFamily = TGPObject<GpFontFamily, &Api::GdipDeleteFontFamily>;
using TGPFont = TGPObject<GpFont, &Api::GdipDeleteFont>;

// The private collection frees through a pointer to its handle.
class TGPPrivateFontCollection {
 public:
  TGPPrivateFontCollection() { lastStatus_ = Gdip().GdipNewPrivateFontCollection(&handle_); }
  TGPPrivateFontCollection(const TGPPrivateFontCollection&) = delete;
  TGPPrivateFontCollection& operator=(const TGPPrivateFontCollection&) = delete;
  ~TGPPrivateFontCollection() {
    if (handle_ && Started()) Gdip().GdipDeletePrivateFontCollection(&handle_);
  }
  GpFontCollection* Get() const { return handle_; }
  GpStatus LastStatus() const { return lastStatus_; }
  GpStatus AddMemoryFont(const void* memory, INT length) {
    const GpStatus s = Gdip().GdipPrivateAddMemoryFont(handle_, memory, length);
    if (s != Ok) lastStatus_ = s;
    return s;
  }

 private:
  GpFontCollection* handle_ = nullptr;
  GpStatus lastStatus_ = Ok;
};

// The colour matrix that scales alpha by the opacity.
GpColorMatrix OpacityColorMatrix(float opacity);

// A GDI+ path read back into points and type bytes.
struct TPathData {
  std::vector<GpPointF> Points;
  std::vector<BYTE> Types;
};
GpStatus ReadPathData(GpPath* path, TPathData& data);

// The index of the installed encoder whose MIME type is exactly mimeType
// (the last of several), its CLSID copied out; -1 when there is none.
int GetEncoderClsid(const std::u16string& mimeType, CLSID& clsid);

}  // namespace kelm::scene::gdip
