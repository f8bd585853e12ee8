// The flat GDI+ interface as this program calls it: the types from the
// public documentation, one table of entry points bound by name at
// start-up, and the start and stop of the library. Only the functions the
// scene calls are listed; a missing library or entry fails start-up.
#pragma once

#include <windows.h>
// IStream, for the image codecs.
#include <objidl.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace kelm::scene::gdip {

using GpStatus = int;
constexpr GpStatus Ok = 0;
constexpr GpStatus InvalidParameter = 2;
constexpr GpStatus OutOfMemory = 3;

using ARGB = uint32_t;
using REAL = float;
using GraphicsState = UINT;

// Opaque objects of the library.
struct GpGraphics;
struct GpPen;
struct GpBrush;
struct GpPath;
struct GpRegion;
struct GpMatrix;
struct GpImage;
struct GpImageAttributes;
struct GpStringFormat;
struct GpFontFamily;
struct GpFont;
struct GpFontCollection;
using GpBitmap = GpImage;

struct GpPointF {
  REAL X, Y;
};
struct GpRectF {
  REAL X, Y, Width, Height;
};
struct GpColorMatrix {
  REAL m[5][5];
};
struct GpCharacterRange {
  INT First, Length;
};
struct GpPathData {
  INT Count;
  GpPointF* Points;
  BYTE* Types;
};
struct GpStartupInput {
  UINT32 GdiplusVersion;
  void* DebugEventCallback;
  BOOL SuppressBackgroundThread;
  BOOL SuppressExternalCodecs;
};
// One installed codec as the library lists it.
struct GpImageCodecInfo {
  CLSID Clsid;
  GUID FormatID;
  const WCHAR* CodecName;
  const WCHAR* DllName;
  const WCHAR* FormatDescription;
  const WCHAR* FilenameExtension;
  const WCHAR* MimeType;
  DWORD Flags, Version, SigCount, SigSize;
  const BYTE* SigPattern;
  const BYTE* SigMask;
};
static_assert(sizeof(void*) != 4 ||
              (sizeof(GpImageCodecInfo) == 76 && offsetof(GpImageCodecInfo, MimeType) == 48));
static_assert(sizeof(void*) != 8 ||
              (sizeof(GpImageCodecInfo) == 104 && offsetof(GpImageCodecInfo, MimeType) == 64));
static_assert(sizeof(GpPointF) == 8 && sizeof(GpRectF) == 16 && sizeof(GpColorMatrix) == 100);
static_assert(sizeof(GpCharacterRange) == 8);

// Enumeration values used here (documented numbers).
enum : int { UnitWorld = 0, UnitPixel = 2, UnitPoint = 3 };
enum : int { FillModeAlternate = 0 };
enum : int { MatrixOrderPrepend = 0, MatrixOrderAppend = 1 };
enum : int {
  CombineModeReplace = 0,
  CombineModeIntersect = 1,
  CombineModeUnion = 2,
  CombineModeExclude = 4
};
enum : int {
  WrapModeTile = 0,
  WrapModeTileFlipX = 1,
  WrapModeTileFlipY = 2,
  WrapModeTileFlipXY = 3,
  WrapModeClamp = 4
};
enum : int { SmoothingModeHighQuality = 2 };
enum : int { InterpolationModeHighQuality = 2, InterpolationModeNearestNeighbor = 5 };
enum : int { PixelOffsetModeHalf = 4 };
enum : int { CompositingModeSourceOver = 0, CompositingModeSourceCopy = 1 };
enum : int { TextRenderingHintAntiAlias = 4, TextRenderingHintClearTypeGridFit = 5 };
enum : int { LineCapFlat = 0, LineCapRound = 2 };
enum : int { DashCapFlat = 0, DashCapRound = 2 };
enum : int { DashStyleSolid = 0 };
enum : int { LineJoinMiter = 0, LineJoinBevel = 1, LineJoinRound = 2 };
enum : int { ColorAdjustTypeBitmap = 1 };
enum : int { ColorMatrixFlagsDefault = 0 };
enum : int {
  StringFormatFlagsMeasureTrailingSpaces = 0x800,
  StringFormatFlagsNoWrap = 0x1000,
  StringFormatFlagsNoClip = 0x4000
};
enum : int { PathPointTypeStart = 0, PathPointTypeLine = 1, PathPointTypeBezier = 3 };
constexpr BYTE PathPointTypeCloseSubpath = 0x80;
constexpr BYTE PathPointTypeMask = 0x07;
// Image codecs, pixel locks and rotation.
struct GpRectI {
  INT X, Y, Width, Height;
};
struct GpBitmapData {
  UINT Width, Height;
  INT Stride;
  INT PixelFormat;
  void* Scan0;
  UINT_PTR Reserved;
};
struct GpEncoderParameter {
  GUID Guid;
  ULONG NumberOfValues;
  ULONG Type;
  void* Value;
};
// Count, then Count records (the documented declaration has one record).
struct GpEncoderParameters {
  UINT Count;
  GpEncoderParameter Parameter[1];
};
static_assert(sizeof(GpRectI) == 16);
static_assert(sizeof(void*) != 4 ||
              (sizeof(GpBitmapData) == 24 && sizeof(GpEncoderParameter) == 28 &&
               offsetof(GpEncoderParameters, Parameter) == 4));
static_assert(sizeof(void*) != 8 ||
              (sizeof(GpBitmapData) == 32 && sizeof(GpEncoderParameter) == 32 &&
               offsetof(GpEncoderParameters, Parameter) == 8));
// {1D5BE4B5-FA4A-452D-9CDD-5DB35105E7EB}
constexpr GUID EncoderQuality = {
    0x1d5be4b5, 0xfa4a, 0x452d, {0x9c, 0xdd, 0x5d, 0xb3, 0x51, 0x05, 0xe7, 0xeb}};
enum : ULONG { EncoderParameterValueTypeLong = 4 };
enum : UINT { ImageLockModeRead = 1, ImageLockModeWrite = 2 };
enum : int { Rotate90FlipNone = 1, Rotate180FlipNone = 2, Rotate270FlipNone = 3 };
constexpr INT PixelFormat32bppARGB = 0x26200A;
constexpr INT PixelFormat32bppPARGB = 0xE200B;

// X(name, parameters): every entry point the program calls. GdiplusShutdown
// returns nothing; all others return a status.
#define VH_GDIP_ENTRIES(X)                                                                         \
  X(GdiplusStartup, (ULONG_PTR * token, const GpStartupInput* input, void* output))                \
  X(GdipCreateFromHDC, (HDC dc, GpGraphics * *graphics))                                           \
  X(GdipGetImageGraphicsContext, (GpImage * image, GpGraphics * *graphics))                        \
  X(GdipDeleteGraphics, (GpGraphics * graphics))                                                   \
  X(GdipSetCompositingMode, (GpGraphics * graphics, int mode))                                     \
  X(GdipSetTextRenderingHint, (GpGraphics * graphics, int hint))                                   \
  X(GdipSetTextContrast, (GpGraphics * graphics, UINT contrast))                                   \
  X(GdipSetInterpolationMode, (GpGraphics * graphics, int mode))                                   \
  X(GdipSetSmoothingMode, (GpGraphics * graphics, int mode))                                       \
  X(GdipSetPixelOffsetMode, (GpGraphics * graphics, int mode))                                     \
  X(GdipSetWorldTransform, (GpGraphics * graphics, GpMatrix * matrix))                             \
  X(GdipMultiplyWorldTransform, (GpGraphics * graphics, const GpMatrix* matrix, int order))        \
  X(GdipScaleWorldTransform, (GpGraphics * graphics, REAL sx, REAL sy, int order))                 \
  X(GdipGetDpiX, (GpGraphics * graphics, REAL * dpi))                                              \
  X(GdipDrawLine, (GpGraphics * graphics, GpPen * pen, REAL x1, REAL y1, REAL x2, REAL y2))        \
  X(GdipDrawBezier, (GpGraphics * graphics, GpPen * pen, REAL x1, REAL y1, REAL x2, REAL y2,       \
                     REAL x3, REAL y3, REAL x4, REAL y4))                                          \
  X(GdipDrawRectangle, (GpGraphics * graphics, GpPen * pen, REAL x, REAL y, REAL w, REAL h))       \
  X(GdipDrawEllipse, (GpGraphics * graphics, GpPen * pen, REAL x, REAL y, REAL w, REAL h))         \
  X(GdipDrawPath, (GpGraphics * graphics, GpPen * pen, GpPath * path))                             \
  X(GdipFlattenPath, (GpPath * path, GpMatrix * matrix, REAL flatness))                            \
  X(GdipDrawLines, (GpGraphics * graphics, GpPen * pen, const GpPointF* points, INT count))        \
  X(GdipGraphicsClear, (GpGraphics * graphics, ARGB color))                                        \
  X(GdipFillRectangle, (GpGraphics * graphics, GpBrush * brush, REAL x, REAL y, REAL w, REAL h))   \
  X(GdipFillPath, (GpGraphics * graphics, GpBrush * brush, GpPath * path))                         \
  X(GdipDrawString, (GpGraphics * graphics, const WCHAR* text, INT length, const GpFont* font,     \
                     const GpRectF* layout, const GpStringFormat* format, const GpBrush* brush))   \
  X(GdipMeasureCharacterRanges,                                                                    \
    (GpGraphics * graphics, const WCHAR* text, INT length, const GpFont* font,                     \
     const GpRectF* layout, const GpStringFormat* format, INT regionCount, GpRegion** regions))    \
  X(GdipDrawImageRectI, (GpGraphics * graphics, GpImage * image, INT x, INT y, INT w, INT h))      \
  X(GdipDrawImageRectRect, (GpGraphics * graphics, GpImage * image, REAL dx, REAL dy, REAL dw,     \
                            REAL dh, REAL sx, REAL sy, REAL sw, REAL sh, int srcUnit,              \
                            const GpImageAttributes* attributes, void* abort, void* abortData))    \
  X(GdipSetClipRegion, (GpGraphics * graphics, GpRegion * region, int mode))                       \
  X(GdipSetClipRect, (GpGraphics * graphics, REAL x, REAL y, REAL w, REAL h, int mode))            \
  X(GdipResetClip, (GpGraphics * graphics))                                                        \
  X(GdipSaveGraphics, (GpGraphics * graphics, GraphicsState * state))                              \
  X(GdipRestoreGraphics, (GpGraphics * graphics, GraphicsState state))                             \
  X(GdipCreatePen1, (ARGB color, REAL width, int unit, GpPen** pen))                               \
  X(GdipCreatePen2, (GpBrush * brush, REAL width, int unit, GpPen** pen))                          \
  X(GdipDeletePen, (GpPen * pen))                                                                  \
  X(GdipSetPenWidth, (GpPen * pen, REAL width))                                                    \
  X(GdipSetPenLineCap197819, (GpPen * pen, int startCap, int endCap, int dashCap))                 \
  X(GdipSetPenLineJoin, (GpPen * pen, int join))                                                   \
  X(GdipSetPenDashStyle, (GpPen * pen, int style))                                                 \
  X(GdipSetPenDashOffset, (GpPen * pen, REAL offset))                                              \
  X(GdipSetPenDashArray, (GpPen * pen, const REAL* dashes, INT count))                             \
  X(GdipDeleteBrush, (GpBrush * brush))                                                            \
  X(GdipCreateSolidFill, (ARGB color, GpBrush * *brush))                                           \
  X(GdipCreateTexture, (GpImage * image, int wrapMode, GpBrush** brush))                           \
  X(GdipCreateTextureIA, (GpImage * image, const GpImageAttributes* attributes, REAL x, REAL y,    \
                          REAL w, REAL h, GpBrush** brush))                                        \
  X(GdipScaleTextureTransform, (GpBrush * brush, REAL sx, REAL sy, int order))                     \
  X(GdipTranslateTextureTransform, (GpBrush * brush, REAL dx, REAL dy, int order))                 \
  X(GdipSetTextureWrapMode, (GpBrush * brush, int wrapMode))                                       \
  X(GdipCreateLineBrush,                                                                           \
    (const GpPointF* p1, const GpPointF* p2, ARGB c1, ARGB c2, int wrapMode, GpBrush** brush))     \
  X(GdipSetLinePresetBlend,                                                                        \
    (GpBrush * brush, const ARGB* colors, const REAL* positions, INT count))                       \
  X(GdipSetLineWrapMode, (GpBrush * brush, int wrapMode))                                          \
  X(GdipCreateImageAttributes, (GpImageAttributes * *attributes))                                  \
  X(GdipDisposeImageAttributes, (GpImageAttributes * attributes))                                  \
  X(GdipSetImageAttributesColorMatrix,                                                             \
    (GpImageAttributes * attributes, int adjustType, BOOL enable, const GpColorMatrix* matrix,     \
     const GpColorMatrix* grayMatrix, int flags))                                                  \
  X(GdipCreateMatrix2,                                                                             \
    (REAL m11, REAL m12, REAL m21, REAL m22, REAL dx, REAL dy, GpMatrix * *matrix))                \
  X(GdipDeleteMatrix, (GpMatrix * matrix))                                                         \
  X(GdipShearMatrix, (GpMatrix * matrix, REAL shearX, REAL shearY, int order))                     \
  X(GdipCreateRegion, (GpRegion * *region))                                                        \
  X(GdipCreateRegionPath, (GpPath * path, GpRegion * *region))                                     \
  X(GdipDeleteRegion, (GpRegion * region))                                                         \
  X(GdipSetEmpty, (GpRegion * region))                                                             \
  X(GdipCombineRegionRect, (GpRegion * region, const GpRectF* rect, int mode))                     \
  X(GdipGetRegionBounds, (GpRegion * region, GpGraphics * graphics, GpRectF * rect))               \
  X(GdipCreatePath, (int fillMode, GpPath** path))                                                 \
  X(GdipDeletePath, (GpPath * path))                                                               \
  X(GdipStartPathFigure, (GpPath * path))                                                          \
  X(GdipClosePathFigure, (GpPath * path))                                                          \
  X(GdipAddPathLine, (GpPath * path, REAL x1, REAL y1, REAL x2, REAL y2))                          \
  X(GdipAddPathBezier,                                                                             \
    (GpPath * path, REAL x1, REAL y1, REAL x2, REAL y2, REAL x3, REAL y3, REAL x4, REAL y4))       \
  X(GdipAddPathEllipse, (GpPath * path, REAL x, REAL y, REAL w, REAL h))                           \
  X(GdipAddPathString,                                                                             \
    (GpPath * path, const WCHAR* text, INT length, const GpFontFamily* family, INT style,          \
     REAL emSize, const GpRectF* layout, const GpStringFormat* format))                            \
  X(GdipGetPointCount, (GpPath * path, INT * count))                                               \
  X(GdipGetPathData, (GpPath * path, GpPathData * data))                                           \
  X(GdipIsVisiblePathPoint, (GpPath * path, REAL x, REAL y, GpGraphics * graphics, BOOL * result)) \
  X(GdipCreateBitmapFromScan0,                                                                     \
    (INT width, INT height, INT stride, INT format, BYTE * scan0, GpBitmap * *bitmap))             \
  X(GdipDisposeImage, (GpImage * image))                                                           \
  X(GdipGetImageWidth, (GpImage * image, UINT * width))                                            \
  X(GdipGetImageHeight, (GpImage * image, UINT * height))                                          \
  X(GdipCreateStringFormat, (INT flags, LANGID language, GpStringFormat * *format))                \
  X(GdipDeleteStringFormat, (GpStringFormat * format))                                             \
  X(GdipSetStringFormatAlign, (GpStringFormat * format, int align))                                \
  X(GdipSetStringFormatLineAlign, (GpStringFormat * format, int align))                            \
  X(GdipSetStringFormatMeasurableCharacterRanges,                                                  \
    (GpStringFormat * format, INT count, const GpCharacterRange* ranges))                          \
  X(GdipGetStringFormatMeasurableCharacterRangeCount, (GpStringFormat * format, INT * count))      \
  X(GdipCreateFontFamilyFromName,                                                                  \
    (const WCHAR* name, GpFontCollection* collection, GpFontFamily** family))                      \
  X(GdipDeleteFontFamily, (GpFontFamily * family))                                                 \
  X(GdipGetGenericFontFamilySansSerif, (GpFontFamily * *family))                                   \
  X(GdipCloneFontFamily, (GpFontFamily * family, GpFontFamily * *clone))                           \
  X(GdipIsStyleAvailable, (const GpFontFamily* family, INT style, BOOL* available))                \
  X(GdipCreateFont, (const GpFontFamily* family, REAL emSize, INT style, int unit, GpFont** font)) \
  X(GdipDeleteFont, (GpFont * font))                                                               \
  X(GdipNewPrivateFontCollection, (GpFontCollection * *collection))                                \
  X(GdipNewInstalledFontCollection, (GpFontCollection * *collection))                              \
  X(GdipGetFontCollectionFamilyCount, (GpFontCollection * collection, INT * count))                \
  X(GdipGetFontCollectionFamilyList,                                                               \
    (GpFontCollection * collection, INT sought, GpFontFamily * *families, INT * found))            \
  X(GdipDeletePrivateFontCollection, (GpFontCollection * *collection))                             \
  X(GdipGetImageEncodersSize, (UINT * count, UINT * size))                                         \
  X(GdipGetImageEncoders, (UINT count, UINT size, GpImageCodecInfo * encoders))                    \
  X(GdipPrivateAddMemoryFont, (GpFontCollection * collection, const void* memory, INT length))     \
  X(GdipLoadImageFromStream, (IStream * stream, GpImage * *image))                                 \
  X(GdipCreateBitmapFromStream, (IStream * stream, GpBitmap * *bitmap))                            \
  X(GdipImageRotateFlip, (GpImage * image, int rotateFlip))                                        \
  X(GdipBitmapLockBits,                                                                            \
    (GpBitmap * bitmap, const GpRectI* rect, UINT flags, INT format, GpBitmapData* data))          \
  X(GdipBitmapUnlockBits, (GpBitmap * bitmap, GpBitmapData * data))                                \
  X(GdipGetImageThumbnail, (GpImage * image, UINT width, UINT height, GpImage * *thumbnail,        \
                            void* abort, void* abortData))                                         \
  X(GdipGetImageHorizontalResolution, (GpImage * image, REAL * dpi))                               \
  X(GdipGetImageVerticalResolution, (GpImage * image, REAL * dpi))                                 \
  X(GdipBitmapSetResolution, (GpBitmap * bitmap, REAL dpiX, REAL dpiY))                            \
  X(GdipDrawImage, (GpGraphics * graphics, GpImage * image, REAL x, REAL y))                       \
  X(GdipSaveImageToStream, (GpImage * image, IStream * stream, const CLSID* encoder,               \
                            const GpEncoderParameters* parameters))                                \
  X(GdipSaveImageToFile, (GpImage * image, const WCHAR* fileName, const CLSID* encoder,            \
                          const GpEncoderParameters* parameters))

struct Api {
#define VH_GDIP_FIELD(name, params) GpStatus(WINAPI* name) params = nullptr;
  VH_GDIP_ENTRIES(VH_GDIP_FIELD)
#undef VH_GDIP_FIELD
  void(WINAPI* GdiplusShutdown)(ULONG_PTR token) = nullptr;
};

// The bound table; every field is set while the library is started.
const Api& Gdip();
bool Started();
// Counts the starts: objects made in an earlier run of the library are
// gone with it and must not be freed again.
unsigned Session();
// The loaded library (for tests: where it came from).
HMODULE LibraryHandle();

// Loads the library from the system folder by full path, binds every entry
// and starts it; raises classlib::Exception naming the library or the entry
// that is missing. Counted: only the first call does the work.
void Startup();
// The matching stop; the last one shuts the library down and unloads it.
void Shutdown();

// GDI+'s generic sans-serif family, made once and freed at shut-down; none
// while stopped. Callers clone it.
GpFontFamily* GenericSansSerif();

// The first installed family that has the regular style (else the first
// one at all), for when neither the named family nor the generic one exists
// (Wine's prefix lacks both); none when no font is installed. The family
// belongs to the installed collection: callers clone it.
GpFontFamily* AnyInstalledFamily();

// Test hooks: a library file name in place of "gdiplus.dll" (still looked
// for in the system folder only) and one more entry that must be present.
// Empty restores the defaults.
void SetTestLibraryName(const std::string& name);
void SetTestExtraEntry(const std::string& name);

}  // namespace kelm::scene::gdip
