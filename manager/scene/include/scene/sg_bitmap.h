// TsgBitmap: the scene's raster image, premultiplied 32-bit ARGB pixels row
// after row from the top, stored in component streams under "PNG" through
// the library-wide default image filter (TsgFilter).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "classlib/component.h"
#include "classlib/filer.h"
#include "classlib/streams.h"
#include "scene/sg_object.h"
#include "scene/sg_types.h"

namespace kelm::scene {

class TsgBitmap;

// The image codec interface; the bitmap uses a temporary instance of the
// default filter class for every load and save.
class TsgFilter : public classlib::TPersistent {
  CL_DECLARE_CLASS(TsgFilter, TPersistent)
 public:
  virtual std::string GetFileTypes() { return {}; }
  virtual TsgPoint GetImageSize(const std::u16string& fileName) {
    (void)fileName;
    return {0, 0};
  }
  virtual bool LoadFromFile(const std::u16string& fileName, TsgBitmap& bitmap, float rotation) = 0;
  virtual bool LoadThumbnailFromFile(const std::u16string& fileName, float fitWidth,
                                     float fitHeight, bool useEmbedded, TsgBitmap& bitmap) = 0;
  virtual bool SaveToFile(const std::u16string& fileName, TsgBitmap& bitmap,
                          const std::string& params) = 0;
  virtual bool LoadFromStream(classlib::TStream& stream, TsgBitmap& bitmap) = 0;
  virtual bool SaveToStream(classlib::TStream& stream, TsgBitmap& bitmap, const std::string& format,
                            const std::string& params) = 0;
};

using TsgFilterClass = std::function<TsgFilter*()>;
void SetDefaultFilterClass(TsgFilterClass maker);
bool DefaultFilterClassSet();
// A new instance of the default filter class (the caller frees it); none
// while no class is set.
TsgFilter* sgCreateFilter();

class TsgBitmapObject;
class TsgCanvas;

class TsgBitmap : public classlib::TPersistent, public IsgFreeNotifyClient {
  CL_DECLARE_CLASS(TsgBitmap, TPersistent)
 public:
  TsgBitmap(int width, int height);
  TsgBitmap() : TsgBitmap(0, 0) {}
  ~TsgBitmap() override;

  int Width() const { return width_; }
  int Height() const { return height_; }
  uint32_t* Bits() { return bits_.empty() ? nullptr : bits_.data(); }
  const uint32_t* Bits() const { return bits_.empty() ? nullptr : bits_.data(); }
  bool IsEmpty() const { return bits_.empty(); }
  bool NeedUpdate = false;

  // A negative side is taken as 0. A pixel block too large to address or
  // allocate raises std::bad_alloc and leaves the bitmap empty.
  void SetSize(int width, int height);
  // SetSize that allocates the new block before letting go of anything:
  // false, and the bitmap as it was, when it cannot be had.
  bool TrySetSize(int width, int height);
  void Recreate();

  virtual void Clear(TsgColor color);
  virtual void ClearRect(const TsgRect& r, TsgColor color);
  void FlipVertical();
  void InvertAlpha();
  void FillColorByAlpha(TsgColor color);
  std::vector<uint8_t> CreateAlphaMask() const;
  void ApplyAlphaMask(const std::vector<uint8_t>& mask, int dx, int dy);
  void BitmapChanged();
  // A row through the default canvas class; none outside the bitmap.
  uint32_t* GetScanline(int row);
  // The bitmap's own canvas, made on first use by the default canvas class
  // over it (identity matrix) and freed with the pixels; none without a
  // canvas class.
  TsgCanvas* GetCanvas();

  // ---- shared bitmaps: a weak link to a TsgBitmapObject
  TsgBitmapObject* Resource() const { return resource_; }
  // Links (copying the object's name) or unlinks (clearing the name); fires.
  void SetResource(TsgBitmapObject* obj);
  const std::string& ResourceName() const { return resourceName_; }
  void SetResourceName(const std::string& v);
  // The linked object's bitmap; without a link, the latest object of the
  // name, which is then linked.
  TsgBitmap* GetResourceBitmap();
  void ObjectFreed(TsgObject* obj) override;

  // When the file exists, through the default filter; fires on success.
  bool LoadFromFile(const std::u16string& fileName, float rotation);
  bool SaveToFile(const std::u16string& fileName, const std::string& params);
  // Through the default filter. Data the filter cannot decode leaves the
  // bitmap as it was and fires nothing.
  bool LoadFromStream(classlib::TStream& stream);
  // A new empty bitmap loaded from the stream's position (empty when the
  // data does not decode); the caller frees it.
  static TsgBitmap* CreateFromStream(classlib::TStream& stream);
  // "jpeg" with "quality=100" when every pixel is opaque, else "png".
  bool SaveToStream(classlib::TStream& stream);

  // Another TsgBitmap here; the platform's bitmaps, pictures and graphics
  // through the registered copiers (sg_bridges.h).
  void Assign(classlib::TPersistent* source) override;
  // The platform's bitmaps and pictures through the registered copiers.
  void AssignTo(classlib::TPersistent* dest) override;
  // "PNG", while there are pixels.
  void DefineProperties(classlib::TFiler& filer) override;

  classlib::TNotifyEvent OnChange;
  // Back-end hooks around every reallocation; destroy also at the end.
  classlib::TNotifyEvent OnBeforeRealloc, OnAfterRealloc, OnDestroy;

  // The canvas back end's image object over these pixels and the plain
  // function that frees it. The bitmap releases it before every
  // reallocation and when destroyed, without calling back into the canvas
  // that made it (which may be gone by then).
  using TNativeRelease = void (*)(void* handle);
  void* NativeHandle() const { return nativeHandle_; }
  // Releases the handle held before taking the new one.
  void SetNativeHandle(void* handle, TNativeRelease release);
  void FreeNativeHandle();

  void BeforeDestruction() override;

 private:
  void Changed();
  void Link(TsgBitmapObject* obj);
  void FreeCanvas();
  // The two halves of every reallocation, with the back-end hooks.
  void ReleasePixels();
  void PixelsReplaced();

  TsgBitmapObject* resource_ = nullptr;
  TsgCanvas* canvas_ = nullptr;
  void* nativeHandle_ = nullptr;
  TNativeRelease nativeRelease_ = nullptr;
  std::vector<uint32_t> bits_;
  int height_ = 0, width_ = 0;
  std::string resourceName_;
};

}  // namespace kelm::scene
