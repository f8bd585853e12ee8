// GDI graphics: colours, fonts, brushes, pens, the canvas, graphics
// (bitmaps as DIB sections, icons), pictures and the picture-format registry.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "classlib/wintypes.h"

namespace classlib {

// ---- colours: 0x00BBGGRR, or clSystemColor plus a GetSysColor index
using TColor = int32_t;
constexpr TColor clSystemColor = static_cast<TColor>(0xFF000000);
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clDefault = 0x20000000;
constexpr TColor clScrollBar = clSystemColor | COLOR_SCROLLBAR;
constexpr TColor clBackground = clSystemColor | COLOR_BACKGROUND;
constexpr TColor clActiveCaption = clSystemColor | COLOR_ACTIVECAPTION;
constexpr TColor clInactiveCaption = clSystemColor | COLOR_INACTIVECAPTION;
constexpr TColor clMenu = clSystemColor | COLOR_MENU;
constexpr TColor clWindow = clSystemColor | COLOR_WINDOW;
constexpr TColor clWindowFrame = clSystemColor | COLOR_WINDOWFRAME;
constexpr TColor clMenuText = clSystemColor | COLOR_MENUTEXT;
constexpr TColor clWindowText = clSystemColor | COLOR_WINDOWTEXT;
constexpr TColor clCaptionText = clSystemColor | COLOR_CAPTIONTEXT;
constexpr TColor clHighlight = clSystemColor | COLOR_HIGHLIGHT;
constexpr TColor clHighlightText = clSystemColor | COLOR_HIGHLIGHTTEXT;
constexpr TColor clBtnFace = clSystemColor | COLOR_BTNFACE;
constexpr TColor clBtnShadow = clSystemColor | COLOR_BTNSHADOW;
constexpr TColor clGrayText = clSystemColor | COLOR_GRAYTEXT;
constexpr TColor clBtnText = clSystemColor | COLOR_BTNTEXT;
constexpr TColor clBtnHighlight = clSystemColor | COLOR_BTNHIGHLIGHT;
constexpr TColor cl3DDkShadow = clSystemColor | COLOR_3DDKSHADOW;
constexpr TColor cl3DLight = clSystemColor | COLOR_3DLIGHT;
constexpr TColor clInfoText = clSystemColor | COLOR_INFOTEXT;
constexpr TColor clInfoBk = clSystemColor | COLOR_INFOBK;
constexpr TColor clBlack = 0x000000, clMaroon = 0x000080, clGreen = 0x008000, clOlive = 0x008080,
                 clNavy = 0x800000, clPurple = 0x800080, clTeal = 0x808000, clGray = 0x808080,
                 clSilver = 0xC0C0C0, clRed = 0x0000FF, clLime = 0x00FF00, clYellow = 0x00FFFF,
                 clBlue = 0xFF0000, clFuchsia = 0xFF00FF, clAqua = 0xFFFF00, clWhite = 0xFFFFFF;

// System colours resolve through GetSysColor; clNone and clDefault give black.
COLORREF ColorToRGB(TColor color);
bool ColorToIdent(int64_t color, std::string& ident);
bool IdentToColor(std::string_view ident, int64_t& color);
// Streams by name ("clBtnFace") or number.
extern const TTypeInfo TypeInfo_TColor;

// ---- cursors: ids into the screen's cursor table
using TCursor = int32_t;
enum : TCursor {
  crDefault = 0,
  crNone = -1,
  crArrow = -2,
  crCross = -3,
  crIBeam = -4,
  crSizeNESW = -6,
  crSizeNS = -7,
  crSizeNWSE = -8,
  crSizeWE = -9,
  crUpArrow = -10,
  crHourGlass = -11,
  crDrag = -12,
  crNoDrop = -13,
  crHSplit = -14,
  crVSplit = -15,
  crMultiDrag = -16,
  crSQLWait = -17,
  crNo = -18,
  crAppStart = -19,
  crHelp = -20,
  crHandPoint = -21,
  crSizeAll = -22
};
extern const TTypeInfo TypeInfo_TCursor;

// ---- fonts, brushes, pens
class TGraphicsObject : public TPersistent {
  CL_DECLARE_CLASS(TGraphicsObject, TPersistent)
 public:
  ~TGraphicsObject() override;
  TNotifyEvent OnChange;

 protected:
  virtual void Changed();
  // The GDI object is made on first use and dropped on every change.
  void DropHandle();
  HGDIOBJ handle_ = nullptr;
};

enum TFontStyle { fsBold, fsItalic, fsUnderline, fsStrikeOut };
using TFontStyles = TSet<TFontStyle>;
enum class TFontPitch { fpDefault, fpVariable, fpFixed };
extern const TTypeInfo TypeInfo_TFontStyles;
extern const TTypeInfo TypeInfo_TFontPitch;

class TFont : public TGraphicsObject {
  CL_DECLARE_CLASS(TFont, TGraphicsObject)
 public:
  TFont();
  void Assign(TPersistent* source) override;

  HFONT Handle();
  // Replaces the description with the given font's.
  void SetHandle(HFONT font);
  const std::string& Name() const { return name_; }
  void SetName(const std::string& v);
  // Negative heights are character heights, as LOGFONT has them.
  int Height() const { return height_; }
  void SetHeight(int v);
  // Points at the font's pixels per inch (96).
  int Size() const;
  void SetSize(int points);
  TFontStyles Style() const { return style_; }
  void SetStyle(TFontStyles v);
  TColor Color() const { return color_; }
  void SetColor(TColor v);
  int Charset() const { return charset_; }
  void SetCharset(int v);
  TFontPitch Pitch() const { return pitch_; }
  void SetPitch(TFontPitch v);
  int PixelsPerInch() const { return 96; }

 private:
  std::string name_ = "Tahoma";
  int height_ = -11;
  TFontStyles style_;
  TColor color_ = clWindowText;
  int charset_ = DEFAULT_CHARSET;
  TFontPitch pitch_ = TFontPitch::fpDefault;
};

enum class TBrushStyle {
  bsSolid,
  bsClear,
  bsHorizontal,
  bsVertical,
  bsFDiagonal,
  bsBDiagonal,
  bsCross,
  bsDiagCross
};
extern const TTypeInfo TypeInfo_TBrushStyle;
class TBitmap;

class TBrush : public TGraphicsObject {
  CL_DECLARE_CLASS(TBrush, TGraphicsObject)
 public:
  TBrush() = default;
  ~TBrush() override;
  void Assign(TPersistent* source) override;
  HBRUSH Handle();
  TColor Color() const { return color_; }
  void SetColor(TColor v);
  TBrushStyle Style() const { return style_; }
  void SetStyle(TBrushStyle v);
  // A pattern brush from this bitmap (copied); none returns to the style.
  TBitmap* Bitmap() const { return bitmap_; }
  void SetBitmap(TBitmap* v);

 private:
  TColor color_ = clWhite;
  TBrushStyle style_ = TBrushStyle::bsSolid;
  TBitmap* bitmap_ = nullptr;
};

enum class TPenStyle { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame };
enum class TPenMode {
  pmBlack,
  pmWhite,
  pmNop,
  pmNot,
  pmCopy,
  pmNotCopy,
  pmMergePenNot,
  pmMaskPenNot,
  pmMergeNotPen,
  pmMaskNotPen,
  pmMerge,
  pmNotMerge,
  pmMask,
  pmNotMask,
  pmXor,
  pmNotXor
};
extern const TTypeInfo TypeInfo_TPenStyle;
extern const TTypeInfo TypeInfo_TPenMode;

class TPen : public TGraphicsObject {
  CL_DECLARE_CLASS(TPen, TGraphicsObject)
 public:
  void Assign(TPersistent* source) override;
  HPEN Handle();
  TColor Color() const { return color_; }
  void SetColor(TColor v);
  TPenStyle Style() const { return style_; }
  void SetStyle(TPenStyle v);
  int Width() const { return width_; }
  void SetWidth(int v);
  TPenMode Mode() const { return mode_; }
  void SetMode(TPenMode v);

 private:
  TColor color_ = clBlack;
  TPenStyle style_ = TPenStyle::psSolid;
  int width_ = 1;
  TPenMode mode_ = TPenMode::pmCopy;
};

// ---- canvas
class TGraphic;

// Raster operations for CopyRect and Draw (BitBlt codes).
using TCopyMode = DWORD;
constexpr TCopyMode cmSrcCopy = SRCCOPY, cmSrcAnd = SRCAND, cmSrcPaint = SRCPAINT,
                    cmSrcInvert = SRCINVERT, cmBlackness = BLACKNESS, cmWhiteness = WHITENESS,
                    cmMergeCopy = MERGECOPY;

class TCanvas : public TPersistent {
  CL_DECLARE_CLASS(TCanvas, TPersistent)
 public:
  TCanvas();
  ~TCanvas() override;

  // The device context: made by CreateHandle on first use, or set from
  // outside (a foreign DC, which the canvas never frees).
  HDC Handle();
  void SetHandle(HDC dc);
  bool HandleAllocated() const { return dc_ != nullptr; }
  // Forgets the selected objects so they are selected again on next use.
  void Refresh();
  void Lock();
  void Unlock();
  bool TryLock();

  TFont* Font() const { return font_; }
  TBrush* Brush() const { return brush_; }
  TPen* Pen() const { return pen_; }
  void SetFont(TFont* v) { font_->Assign(v); }
  void SetBrush(TBrush* v) { brush_->Assign(v); }
  void SetPen(TPen* v) { pen_->Assign(v); }
  TCopyMode CopyMode() const { return copyMode_; }
  void SetCopyMode(TCopyMode v) { copyMode_ = v; }
  TPoint PenPos();
  void SetPenPos(TPoint p) { MoveTo(p.x, p.y); }
  TRect ClipRect();

  void FillRect(const TRect& r);
  void FrameRect(const TRect& r);
  void Rectangle(int x1, int y1, int x2, int y2);
  void Rectangle(const TRect& r) { Rectangle(r.left, r.top, r.right, r.bottom); }
  void RoundRect(int x1, int y1, int x2, int y2, int w, int h);
  void Ellipse(int x1, int y1, int x2, int y2);
  void Polygon(const std::vector<TPoint>& points);
  void Polyline(const std::vector<TPoint>& points);
  void MoveTo(int x, int y);
  void LineTo(int x, int y);
  void TextOut(int x, int y, const std::u16string& text);
  // Text clipped to r, drawn at (x, y).
  void TextRect(const TRect& r, int x, int y, const std::u16string& text);
  SIZE TextExtent(const std::u16string& text);
  int TextWidth(const std::u16string& text) { return TextExtent(text).cx; }
  int TextHeight(const std::u16string& text) { return TextExtent(text).cy; }
  void Draw(int x, int y, TGraphic* graphic);
  void StretchDraw(const TRect& r, TGraphic* graphic);
  void CopyRect(const TRect& dest, TCanvas* source, const TRect& src);
  void DrawFocusRect(const TRect& r);
  TColor Pixel(int x, int y);
  void SetPixel(int x, int y, TColor c);

  TNotifyEvent OnChange;
  TNotifyEvent OnChanging;

 protected:
  virtual void CreateHandle() {}
  // Deselects the canvas's objects and forgets the DC.
  void FreeHandle();
  enum StateFlag { csHandleValid, csFontValid, csPenValid, csBrushValid };
  void RequiredState(TSet<StateFlag> req);
  virtual void Changing();
  virtual void Changed();

 private:
  void ObjectChanged(TObject* sender);
  void DeselectHandles();

  HDC dc_ = nullptr;
  TSet<StateFlag> state_;
  TFont* font_;
  TBrush* brush_;
  TPen* pen_;
  TCopyMode copyMode_ = cmSrcCopy;
  HGDIOBJ oldFont_ = nullptr, oldBrush_ = nullptr, oldPen_ = nullptr;
  std::recursive_mutex lock_;
};

// ---- graphics
class TGraphic : public TPersistent {
  CL_DECLARE_CLASS(TGraphic, TPersistent)
 public:
  virtual bool Empty() const = 0;
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  virtual void SetWidth(int v) = 0;
  virtual void SetHeight(int v) = 0;
  virtual bool Transparent() const { return transparent_; }
  virtual void SetTransparent(bool v);
  virtual HPALETTE Palette() const { return nullptr; }
  virtual void LoadFromStream(TStream& stream) = 0;
  virtual void SaveToStream(TStream& stream) = 0;
  void LoadFromFile(const std::u16string& fileName);
  void SaveToFile(const std::u16string& fileName);
  // The clipboard pair; the default raises: the graphic has no such format.
  virtual void LoadFromClipboardFormat(UINT format, HANDLE data);
  virtual void SaveToClipboardFormat(UINT& format, HANDLE& data);
  bool Modified() const { return modified_; }
  void SetModified(bool v) { modified_ = v; }

  TNotifyEvent OnChange;

 protected:
  friend class TCanvas;
  // Paints into the canvas, stretched to r.
  virtual void Draw(TCanvas* canvas, const TRect& r) = 0;
  virtual void Changed();
  // Stored with a form as the binary "Data": the graphic's own stream.
  void DefineProperties(TFiler& filer) override;

 private:
  bool transparent_ = false;
  bool modified_ = false;
};

using TGraphicClass = TClass;

enum class TPixelFormat {
  pfDevice,
  pf1bit,
  pf4bit,
  pf8bit,
  pf15bit,
  pf16bit,
  pf24bit,
  pf32bit,
  pfCustom
};
enum class TTransparentMode { tmAuto, tmFixed };

// A bitmap held as a 24- or 32-bit DIB section (32-bit by default); rows
// are bottom-up in memory, so ScanLine(0) is the highest address.
class TBitmap : public TGraphic {
  CL_DECLARE_CLASS(TBitmap, TGraphic)
 public:
  TBitmap();
  ~TBitmap() override;  // NOLINT(bugprone-exception-escape): see the definition
  void Assign(TPersistent* source) override;

  bool Empty() const override { return bitmap_ == nullptr; }
  int Width() const override { return width_; }
  int Height() const override { return height_; }
  void SetWidth(int v) override { SetSize(v, height_); }
  void SetHeight(int v) override { SetSize(width_, v); }
  // A zero width or height frees the pixels; other sizes keep the overlap.
  void SetSize(int w, int h);
  TPixelFormat PixelFormat() const { return format_; }
  // pf24bit or pf32bit; others are taken as pf32bit.
  void SetPixelFormat(TPixelFormat f);
  // Address of a row (0 = top).
  void* ScanLine(int row);
  // The DIB section; 0 when empty.
  HBITMAP Handle() const { return bitmap_; }
  // Takes over a bitmap handle; its pixels are copied into a DIB section.
  void SetHandle(HBITMAP bmp);
  HBITMAP ReleaseHandle();
  TCanvas* Canvas();
  // The colour that Draw leaves out when Transparent; with tmAuto the
  // bottom-left pixel.
  TColor TransparentColor();
  void SetTransparentColor(TColor c);
  TTransparentMode TransparentMode() const { return transparentMode_; }
  void SetTransparentMode(TTransparentMode m) { transparentMode_ = m; }

  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) override;
  void LoadFromClipboardFormat(UINT format, HANDLE data) override;
  void SaveToClipboardFormat(UINT& format, HANDLE& data) override;
  void LoadFromResourceName(HINSTANCE instance, const std::u16string& name);

 protected:
  void Draw(TCanvas* canvas, const TRect& r) override;

 private:
  friend class TBitmapCanvas;
  void NewImage(int w, int h, TPixelFormat f, const void* copyFromBits, int copyW, int copyH,
                TPixelFormat copyFormat);
  void FreeBitmap();
  int BitsPerPixel() const { return format_ == TPixelFormat::pf24bit ? 24 : 32; }
  int RowBytes() const { return ((width_ * BitsPerPixel() + 31) / 32) * 4; }
  // Loads a packed DIB (BITMAPINFOHEADER, colours, bits) of any depth.
  void LoadDIB(const uint8_t* dib, size_t size);

  HBITMAP bitmap_ = nullptr;
  uint8_t* bits_ = nullptr;
  int width_ = 0, height_ = 0;
  TPixelFormat format_ = TPixelFormat::pf32bit;
  TColor transparentColor_ = clDefault;
  TTransparentMode transparentMode_ = TTransparentMode::tmAuto;
  TCanvas* canvas_ = nullptr;
};

class TIcon : public TGraphic {
  CL_DECLARE_CLASS(TIcon, TGraphic)
 public:
  TIcon() = default;
  ~TIcon() override;
  void Assign(TPersistent* source) override;
  bool Empty() const override { return icon_ == nullptr; }
  int Width() const override;
  int Height() const override;
  void SetWidth(int v) override { width_ = v; }
  void SetHeight(int v) override { height_ = v; }
  HICON Handle() const { return icon_; }
  // Takes ownership of the icon.
  void SetHandle(HICON icon);
  HICON ReleaseHandle();
  // An .ico file; the image nearest the requested size (or 32) is taken.
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) override;
  void LoadFromResourceName(HINSTANCE instance, const std::u16string& name);

 protected:
  void Draw(TCanvas* canvas, const TRect& r) override;

 private:
  HICON icon_ = nullptr;
  int width_ = 0, height_ = 0;
  std::vector<uint8_t> data_;  // the .ico file the icon came from, for saving
};

class TPicture : public TPersistent {
  CL_DECLARE_CLASS(TPicture, TPersistent)
 public:
  TPicture() = default;
  ~TPicture() override;
  void Assign(TPersistent* source) override;

  TGraphic* Graphic() const { return graphic_; }
  // Keeps a copy of the given graphic (of its exact class); none empties.
  void SetGraphic(TGraphic* g);
  // The graphic as a bitmap or icon; a graphic of another class is
  // replaced by an empty one of the asked class.
  TBitmap* Bitmap();
  TIcon* Icon();
  int Width() const { return graphic_ ? graphic_->Width() : 0; }
  int Height() const { return graphic_ ? graphic_->Height() : 0; }
  // The format comes from the file's extension (RegisterFileFormat);
  // unknown extensions raise EInvalidGraphic.
  void LoadFromFile(const std::u16string& fileName);
  void SaveToFile(const std::u16string& fileName);

  static void RegisterFileFormat(const std::string& extension, const std::u16string& description,
                                 TGraphicClass cls);
  static void UnregisterGraphicClass(TGraphicClass cls);
  static TGraphicClass FindFormat(const std::string& extension);
  // "Description (*.ext)|*.ext|..." for the file dialogs.
  static std::u16string GraphicFilter(TGraphicClass cls);

  TNotifyEvent OnChange;

 protected:
  void DefineProperties(TFiler& filer) override;
  void Changed(TObject* sender);

 private:
  void Replace(TGraphic* g);
  TGraphic* graphic_ = nullptr;
};

CLASSLIB_EXCEPTION(EInvalidGraphic, Exception)
CLASSLIB_EXCEPTION(EInvalidGraphicOperation, Exception)
CLASSLIB_EXCEPTION(EOutOfResources, Exception)

}  // namespace classlib
