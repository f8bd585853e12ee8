// Image files and streams through GDI+. Every exchange of pixels is 32-bit
// premultiplied ARGB at a stride of four bytes a pixel, right over the
// TsgBitmap's own block. Objects are freed in reverse order of making:
// GDI+ images first, then the adapters they read through, then the files.
#include "scene/sg_filter_gdiplus.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>

#include "classlib/classdef.h"
#include "classlib/streams.h"
#include "classlib/sysutils.h"
#include "scene/sg_gdiplus.h"
#include "scene/sg_stream_adapter.h"

namespace kelm::scene {

using namespace gdip;
using classlib::TFileStream;

CL_CLASS(TsgFilterGdiPlus) {}

namespace {

void RequireStarted() {
  if (!Started()) throw classlib::Exception("GDI+ is not started");
}

struct TEncoderName {
  const char* name;
  const char16_t* mime;
};
// Format names; a file extension is one of them behind a dot.
constexpr TEncoderName encoders[] = {
    {"jpg", u"image/jpeg"}, {"jpeg", u"image/jpeg"}, {"png", u"image/png"}, {"bmp", u"image/bmp"},
    {"tif", u"image/tiff"}, {"tiff", u"image/tiff"}, {"gif", u"image/gif"},
};

const char16_t* FindEncoder(const std::string& name) {
  const std::string lower = classlib::LowerCase(name);
  for (const TEncoderName& e : encoders)
    if (lower == e.name) return e.mime;
  return nullptr;
}

// One image decoded from a file, with the file and the adapter GDI+ reads
// it through; declared so that they go in the order above.
class TDecodedFile {
 public:
  // Raises the file stream's error when the file cannot be opened.
  TDecodedFile(const std::u16string& fileName, bool asBitmap)
      : file_(fileName, classlib::fmOpenRead | classlib::fmShareDenyNone),
        adapter_(new TMyStreamAdapter(&file_, soReference)) {
    if (asBitmap)
      image_.Check(Gdip().GdipCreateBitmapFromStream(adapter_.Get(), image_.Receive()));
    else
      image_.Check(Gdip().GdipLoadImageFromStream(adapter_.Get(), image_.Receive()));
  }
  GpImage* Image() const { return image_.Get(); }

 private:
  TFileStream file_;
  TComRef<IStream> adapter_;
  TGPImage image_;
};

// The decoded size; (0, 0) for nothing decoded.
void ImageSize(GpImage* image, UINT& width, UINT& height) {
  width = height = 0;
  if (!image || Gdip().GdipGetImageWidth(image, &width) != Ok ||
      Gdip().GdipGetImageHeight(image, &height) != Ok)
    width = height = 0;
}

// Sizes the bitmap for a decoded image; false (the bitmap as it was) when
// the block does not fit or cannot be allocated.
bool SizeBitmap(TsgBitmap& bitmap, int64_t width, int64_t height) {
  return sgPixelBlockFits(width, height) && bitmap.TrySetSize(int(width), int(height));
}

// Clears the bitmap's pixels and lets draw paint them through a graphics
// over them; dpi, when given, is the resolution of that surface.
bool DrawIntoBitmap(TsgBitmap& bitmap, const std::function<GpStatus(GpGraphics*)>& draw,
                    REAL dpiX = 0, REAL dpiY = 0) {
  TGPImage surface;
  surface.Check(Gdip().GdipCreateBitmapFromScan0(
      bitmap.Width(), bitmap.Height(), bitmap.Width() * 4, PixelFormat32bppPARGB,
      reinterpret_cast<BYTE*>(bitmap.Bits()), surface.Receive()));
  if (!surface) return false;
  if (dpiX > 0 && dpiY > 0 && Gdip().GdipBitmapSetResolution(surface.Get(), dpiX, dpiY) != Ok)
    return false;
  TGPGraphics graphics;
  graphics.Check(Gdip().GdipGetImageGraphicsContext(surface.Get(), graphics.Receive()));
  if (!graphics) return false;
  // Same-sized pixels from before must not show through transparent parts.
  if (Gdip().GdipGraphicsClear(graphics.Get(), 0) != Ok) return false;
  const bool drawn = draw(graphics.Get()) == Ok;
  bitmap.NeedUpdate = true;
  return drawn;
}

GpStatus DrawWhole(GpGraphics* graphics, GpImage* image, UINT width, UINT height) {
  return Gdip().GdipDrawImageRectI(graphics, image, 0, 0, INT(width), INT(height));
}

TsgMatrix Translation(float dx, float dy) { return {1, 0, 0, 0, 1, 0, dx, dy, 1}; }

// Whole quarter turns copy the rotated bitmap's locked pixels.
bool LoadQuarterTurned(const std::u16string& fileName, TsgBitmap& bitmap, int quarters) {
  static constexpr int turns[] = {0, Rotate90FlipNone, Rotate180FlipNone, Rotate270FlipNone};
  TDecodedFile decoded(fileName, true);
  GpImage* image = decoded.Image();
  if (quarters != 0 && Gdip().GdipImageRotateFlip(image, turns[quarters]) != Ok) return false;
  UINT width = 0, height = 0;
  ImageSize(image, width, height);
  if (!sgPixelBlockFits(width, height)) return false;
  const GpRectI whole{0, 0, INT(width), INT(height)};
  GpBitmapData data{};
  if (Gdip().GdipBitmapLockBits(image, &whole, ImageLockModeRead, PixelFormat32bppPARGB, &data) !=
      Ok)
    return false;
  const bool sized = SizeBitmap(bitmap, width, height);
  if (sized) {
    const auto* from = static_cast<const uint8_t*>(data.Scan0);
    auto* to = reinterpret_cast<uint8_t*>(bitmap.Bits());
    const size_t row = size_t(width) * 4;
    for (UINT y = 0; y < height; ++y)
      std::memcpy(to + y * row, from + ptrdiff_t(y) * data.Stride, row);
    bitmap.NeedUpdate = true;
  }
  Gdip().GdipBitmapUnlockBits(image, &data);
  return sized;
}

// Any other angle: the image turned about its centre, in its bounding size.
bool LoadTurned(GpImage* image, UINT width, UINT height, TsgBitmap& bitmap, float degrees) {
  const float w = float(width), h = float(height);
  TsgMatrix m =
      sgMatrixMultiply(Translation(-w / 2, -h / 2), sgCreateRotationMatrix(sgDegToRad(degrees)));
  TsgPoint corners[4] = {{0, 0}, {w, 0}, {w, h}, {0, h}};
  for (TsgPoint& p : corners) p = sgPointFromVector(sgVectorTransform(sgVectorFromPoint(p, 1), m));
  const TsgRect bounds = sgBoundsOfPoints(corners, 3);
  const float bw = sgRectWidth(bounds), bh = sgRectHeight(bounds);
  m = sgMatrixMultiply(m, Translation(bw / 2, bh / 2));
  if (!SizeBitmap(bitmap, int64_t(bw), int64_t(bh))) return false;
  TGPMatrix transform;
  transform.Check(
      Gdip().GdipCreateMatrix2(m.m11, m.m12, m.m21, m.m22, m.m31, m.m32, transform.Receive()));
  if (!transform) return false;
  return DrawIntoBitmap(bitmap, [&](GpGraphics* g) {
    const GpStatus s = Gdip().GdipSetWorldTransform(g, transform.Get());
    return s != Ok ? s : DrawWhole(g, image, width, height);
  });
}

}  // namespace

// ------------------------------------------------------------------ helpers

std::u16string sgEncoderForFileName(const std::u16string& fileName) {
  const size_t dot = fileName.find_last_of(u".\\/:");
  if (dot == std::u16string::npos || fileName[dot] != u'.') return {};
  const char16_t* mime = FindEncoder(classlib::WideToUtf8(fileName.substr(dot + 1)));
  return mime ? mime : u"";
}

std::u16string sgEncoderForFormat(const std::string& format) {
  const char16_t* mime = FindEncoder(format);
  return mime ? mime : u"image/png";
}

TsgEncoderParameters::TsgEncoderParameters(const std::string& text) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    const std::string pair = text.substr(start, end - start);
    start = end + 1;
    const size_t eq = pair.find('=');
    if (eq == std::string::npos || !classlib::SameText(pair.substr(0, eq), "quality")) continue;
    values_.push_back(
        ULONG(classlib::StrToInt(classlib::Utf8ToWide(std::string_view(pair).substr(eq + 1)))));
  }
  if (values_.empty()) return;
  // The count sits before the first record; one spare record makes room.
  block_.resize(values_.size() + 1);
  auto* params = reinterpret_cast<GpEncoderParameters*>(block_.data());
  params->Count = UINT(values_.size());
  for (size_t i = 0; i < values_.size(); ++i)
    params->Parameter[i] = {EncoderQuality, 1, EncoderParameterValueTypeLong, &values_[i]};
}

const GpEncoderParameters* TsgEncoderParameters::Get() const {
  return block_.empty() ? nullptr : reinterpret_cast<const GpEncoderParameters*>(block_.data());
}

bool sgPixelBlockFits(int64_t width, int64_t height) {
  return width > 0 && height > 0 && width <= INT_MAX / 4 && height <= INT_MAX / (width * 4);
}

void sgRegisterFilterGdiPlus() {
  if (!DefaultFilterClassSet())
    SetDefaultFilterClass([]() -> TsgFilter* { return classlib::New<TsgFilterGdiPlus>(); });
}

// ------------------------------------------------------------------- filter

std::string TsgFilterGdiPlus::GetFileTypes() {
  return "*.bmp;*.jpg;*.jpeg;*.png;*.tif;*.tiff;*.gif;*.ico";
}

TsgPoint TsgFilterGdiPlus::GetImageSize(const std::u16string& fileName) {
  RequireStarted();
  const TDecodedFile decoded(fileName, false);
  UINT width = 0, height = 0;
  ImageSize(decoded.Image(), width, height);
  return {float(width), float(height)};
}

bool TsgFilterGdiPlus::LoadFromFile(const std::u16string& fileName, TsgBitmap& bitmap,
                                    float rotation) {
  RequireStarted();
  if (!std::isfinite(rotation)) return false;
  const float degrees = std::fmod(rotation, 360.0f);
  // An image without a size fails on either path before the bitmap is touched.
  if (std::trunc(degrees) == degrees && std::fmod(degrees, 90.0f) == 0)
    return LoadQuarterTurned(fileName, bitmap, (int(degrees) / 90 + 4) % 4);
  const TDecodedFile decoded(fileName, false);
  UINT width = 0, height = 0;
  ImageSize(decoded.Image(), width, height);
  if (width == 0 || height == 0) return false;
  return LoadTurned(decoded.Image(), width, height, bitmap, rotation);
}

bool TsgFilterGdiPlus::LoadThumbnailFromFile(const std::u16string& fileName, float fitWidth,
                                             float fitHeight, bool useEmbedded, TsgBitmap& bitmap) {
  RequireStarted();
  const TDecodedFile decoded(fileName, false);
  GpImage* image = decoded.Image();
  UINT width = 0, height = 0;
  ImageSize(image, width, height);
  if (width == 0 || height == 0) return false;
  TsgRect fitted = sgRect(0, 0, float(width), float(height));
  float scale = sgFitRect(fitted, sgRect(0, 0, fitWidth, fitHeight));
  if (scale == 0) scale = 0.001f;
  if (!(scale >= 1)) scale = 1;  // never enlarged (nor scaled by NaN)

  if (useEmbedded) {
    TGPImage thumbnail;
    thumbnail.Check(Gdip().GdipGetImageThumbnail(image, UINT(float(width) / scale),
                                                 UINT(float(height) / scale), thumbnail.Receive(),
                                                 nullptr, nullptr));
    UINT tw = 0, th = 0;
    ImageSize(thumbnail.Get(), tw, th);
    if (!SizeBitmap(bitmap, tw, th)) return false;
    return DrawIntoBitmap(bitmap,
                          [&](GpGraphics* g) { return DrawWhole(g, thumbnail.Get(), tw, th); });
  }

  REAL dpiX = 0, dpiY = 0;
  if (Gdip().GdipGetImageHorizontalResolution(image, &dpiX) != Ok ||
      Gdip().GdipGetImageVerticalResolution(image, &dpiY) != Ok || !(dpiX > 0) || !(dpiY > 0))
    return false;
  if (!SizeBitmap(bitmap, int64_t(sgRectWidth(fitted)), int64_t(sgRectHeight(fitted))))
    return false;
  // A surface of a lower resolution holds the image's inches in fewer
  // pixels: drawing at the origin does the scaling.
  return DrawIntoBitmap(
      bitmap,
      [&](GpGraphics* g) {
        const GpStatus s = Gdip().GdipSetInterpolationMode(g, InterpolationModeHighQuality);
        return s != Ok ? s : Gdip().GdipDrawImage(g, image, 0, 0);
      },
      dpiX / scale, dpiY / scale);
}

bool TsgFilterGdiPlus::LoadFromStream(classlib::TStream& stream, TsgBitmap& bitmap) {
  RequireStarted();
  // Some GDI+ decoders rewind to the stream's start to read the signature:
  // data further in is handed over as a stream of its own.
  classlib::TMemoryStream rest;
  classlib::TStream* source = &stream;
  if (stream.Position() > 0) {
    if (stream.Remaining() > 0) rest.CopyFrom(stream, stream.Remaining());
    rest.SetPosition(0);
    source = &rest;
  }
  TComRef<IStream> adapter(new TMyStreamAdapter(source, soReference));
  TGPImage image;
  image.Check(Gdip().GdipLoadImageFromStream(adapter.Get(), image.Receive()));
  UINT width = 0, height = 0;
  ImageSize(image.Get(), width, height);
  if (!SizeBitmap(bitmap, width, height)) return false;
  return DrawIntoBitmap(bitmap,
                        [&](GpGraphics* g) { return DrawWhole(g, image.Get(), width, height); });
}

namespace {

// The bitmap's pixels as a GDI+ bitmap, saved through the adapter.
bool Encode(TsgBitmap& bitmap, IStream* target, const std::u16string& mime,
            const TsgEncoderParameters& params) {
  CLSID encoder{};
  if (!sgPixelBlockFits(bitmap.Width(), bitmap.Height()) || bitmap.IsEmpty() ||
      GetEncoderClsid(mime, encoder) < 0)
    return false;
  TGPImage image;
  image.Check(Gdip().GdipCreateBitmapFromScan0(
      bitmap.Width(), bitmap.Height(), bitmap.Width() * 4, PixelFormat32bppPARGB,
      reinterpret_cast<BYTE*>(bitmap.Bits()), image.Receive()));
  return image && Gdip().GdipSaveImageToStream(image.Get(), target, &encoder, params.Get()) == Ok;
}

}  // namespace

bool TsgFilterGdiPlus::SaveToStream(classlib::TStream& stream, TsgBitmap& bitmap,
                                    const std::string& format, const std::string& params) {
  RequireStarted();
  const TsgEncoderParameters parameters(params);
  TComRef<IStream> adapter(new TMyStreamAdapter(&stream, soReference));
  return Encode(bitmap, adapter.Get(), sgEncoderForFormat(format), parameters);
}

bool TsgFilterGdiPlus::SaveToFile(const std::u16string& fileName, TsgBitmap& bitmap,
                                  const std::string& params) {
  RequireStarted();
  const std::u16string mime = sgEncoderForFileName(fileName);
  if (mime.empty()) return false;
  const TsgEncoderParameters parameters(params);
  // Our own file stream rather than GDI+'s save by name, so that the file
  // is shared like every other one the filter opens. A file that cannot be
  // made is an image not written, as with a save by name.
  std::unique_ptr<TFileStream> file;
  try {
    file = std::make_unique<TFileStream>(fileName, classlib::fmCreate | classlib::fmShareDenyNone);
  } catch (const classlib::EFCreateError&) {
    return false;
  }
  TComRef<IStream> adapter(new TMyStreamAdapter(file.get(), soReference));
  return Encode(bitmap, adapter.Get(), mime, parameters);
}

}  // namespace kelm::scene
