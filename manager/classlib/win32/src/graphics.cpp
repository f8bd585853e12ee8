#include "classlib/graphics.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "classlib/resources.h"

namespace classlib {

// ---- colours
namespace {

struct NamedInt {
  int64_t value;
  const char* name;
};

const NamedInt kColorNames[] = {
    {clBlack, "clBlack"},
    {clMaroon, "clMaroon"},
    {clGreen, "clGreen"},
    {clOlive, "clOlive"},
    {clNavy, "clNavy"},
    {clPurple, "clPurple"},
    {clTeal, "clTeal"},
    {clGray, "clGray"},
    {clSilver, "clSilver"},
    {clRed, "clRed"},
    {clLime, "clLime"},
    {clYellow, "clYellow"},
    {clBlue, "clBlue"},
    {clFuchsia, "clFuchsia"},
    {clAqua, "clAqua"},
    {clWhite, "clWhite"},
    {clScrollBar, "clScrollBar"},
    {clBackground, "clBackground"},
    {clActiveCaption, "clActiveCaption"},
    {clInactiveCaption, "clInactiveCaption"},
    {clMenu, "clMenu"},
    {clWindow, "clWindow"},
    {clWindowFrame, "clWindowFrame"},
    {clMenuText, "clMenuText"},
    {clWindowText, "clWindowText"},
    {clCaptionText, "clCaptionText"},
    {clHighlight, "clHighlight"},
    {clHighlightText, "clHighlightText"},
    {clBtnFace, "clBtnFace"},
    {clBtnShadow, "clBtnShadow"},
    {clGrayText, "clGrayText"},
    {clBtnText, "clBtnText"},
    {clBtnHighlight, "clBtnHighlight"},
    {cl3DDkShadow, "cl3DDkShadow"},
    {cl3DLight, "cl3DLight"},
    {clInfoText, "clInfoText"},
    {clInfoBk, "clInfoBk"},
    {clNone, "clNone"},
    {clDefault, "clDefault"},
};

const NamedInt kCursorNames[] = {
    {crDefault, "crDefault"},     {crNone, "crNone"},           {crArrow, "crArrow"},
    {crCross, "crCross"},         {crIBeam, "crIBeam"},         {crSizeNESW, "crSizeNESW"},
    {crSizeNS, "crSizeNS"},       {crSizeNWSE, "crSizeNWSE"},   {crSizeWE, "crSizeWE"},
    {crUpArrow, "crUpArrow"},     {crHourGlass, "crHourGlass"}, {crDrag, "crDrag"},
    {crNoDrop, "crNoDrop"},       {crHSplit, "crHSplit"},       {crVSplit, "crVSplit"},
    {crMultiDrag, "crMultiDrag"}, {crSQLWait, "crSQLWait"},     {crNo, "crNo"},
    {crAppStart, "crAppStart"},   {crHelp, "crHelp"},           {crHandPoint, "crHandPoint"},
    {crSizeAll, "crSizeAll"},
};

template <size_t N>
bool ToIdent(const NamedInt (&table)[N], int64_t v, std::string& ident) {
  for (const NamedInt& e : table)
    if (e.value == v) {
      ident = e.name;
      return true;
    }
  return false;
}

template <size_t N>
bool FromIdent(const NamedInt (&table)[N], std::string_view ident, int64_t& v) {
  for (const NamedInt& e : table)
    if (SameText(ident, e.name)) {
      v = e.value;
      return true;
    }
  return false;
}

bool CursorToIdent(int64_t v, std::string& ident) { return ToIdent(kCursorNames, v, ident); }
bool IdentToCursor(std::string_view ident, int64_t& v) { return FromIdent(kCursorNames, ident, v); }

TTypeInfo NamedIntType(const char* name, bool (*toInt)(std::string_view, int64_t&),
                       bool (*toIdent)(int64_t, std::string&)) {
  TTypeInfo t = IntTypeInfo(name);
  t.IdentToInt = toInt;
  t.IntToIdent = toIdent;
  return t;
}

}  // namespace

COLORREF ColorToRGB(TColor color) {
  if (color == clNone || color == clDefault) return 0;
  if (color < 0) return GetSysColor(color & 0xFF);
  return static_cast<COLORREF>(color) & 0xFFFFFF;
}

bool ColorToIdent(int64_t color, std::string& ident) { return ToIdent(kColorNames, color, ident); }
bool IdentToColor(std::string_view ident, int64_t& color) {
  return FromIdent(kColorNames, ident, color);
}

const TTypeInfo TypeInfo_TColor = NamedIntType("TColor", &IdentToColor, &ColorToIdent);
const TTypeInfo TypeInfo_TCursor = NamedIntType("TCursor", &IdentToCursor, &CursorToIdent);
const TTypeInfo TypeInfo_TFontStyle =
    EnumTypeInfo("TFontStyle", {"fsBold", "fsItalic", "fsUnderline", "fsStrikeOut"});
const TTypeInfo TypeInfo_TFontStyles = SetTypeInfo("TFontStyles", &TypeInfo_TFontStyle);
const TTypeInfo TypeInfo_TFontPitch =
    EnumTypeInfo("TFontPitch", {"fpDefault", "fpVariable", "fpFixed"});
const TTypeInfo TypeInfo_TBrushStyle =
    EnumTypeInfo("TBrushStyle", {"bsSolid", "bsClear", "bsHorizontal", "bsVertical", "bsFDiagonal",
                                 "bsBDiagonal", "bsCross", "bsDiagCross"});
const TTypeInfo TypeInfo_TPenStyle = EnumTypeInfo(
    "TPenStyle",
    {"psSolid", "psDash", "psDot", "psDashDot", "psDashDotDot", "psClear", "psInsideFrame"});
const TTypeInfo TypeInfo_TPenMode =
    EnumTypeInfo("TPenMode", {"pmBlack", "pmWhite", "pmNop", "pmNot", "pmCopy", "pmNotCopy",
                              "pmMergePenNot", "pmMaskPenNot", "pmMergeNotPen", "pmMaskNotPen",
                              "pmMerge", "pmNotMerge", "pmMask", "pmNotMask", "pmXor", "pmNotXor"});

// ---- TGraphicsObject
CL_CLASS(TGraphicsObject) {}

TGraphicsObject::~TGraphicsObject() { DropHandle(); }

void TGraphicsObject::DropHandle() {
  if (handle_) DeleteObject(handle_);
  handle_ = nullptr;
}

void TGraphicsObject::Changed() {
  DropHandle();
  if (OnChange) OnChange(this);
}

// ---- TFont
CL_CLASS(TFont) {
  c.Int("Charset", &TFont::Charset, &TFont::SetCharset).Default(DEFAULT_CHARSET);
  c.Int("Color", &TFont::Color, &TFont::SetColor, &TypeInfo_TColor).Default(clWindowText);
  c.Int("Height", &TFont::Height, &TFont::SetHeight).NoDefault();
  c.Str("Name", &TFont::Name, &TFont::SetName);
  c.Enum("Pitch", &TFont::Pitch, &TFont::SetPitch, &TypeInfo_TFontPitch)
      .Default(TFontPitch::fpDefault);
  // Size follows Height; only Height is stored.
  c.Int("Size", &TFont::Size, &TFont::SetSize).Stored(false);
  c.Set("Style", &TFont::Style, &TFont::SetStyle, &TypeInfo_TFontStyles).Default(TFontStyles{});
}

TFont::TFont() = default;

void TFont::Assign(TPersistent* source) {
  if (auto* f = dynamic_cast<TFont*>(source)) {
    name_ = f->name_;
    height_ = f->height_;
    style_ = f->style_;
    color_ = f->color_;
    charset_ = f->charset_;
    pitch_ = f->pitch_;
    Changed();
    return;
  }
  TGraphicsObject::Assign(source);
}

HFONT TFont::Handle() {
  if (!handle_) {
    LOGFONTW lf{};
    lf.lfHeight = height_;
    lf.lfWeight = style_.Contains(fsBold) ? FW_BOLD : FW_NORMAL;
    lf.lfItalic = style_.Contains(fsItalic);
    lf.lfUnderline = style_.Contains(fsUnderline);
    lf.lfStrikeOut = style_.Contains(fsStrikeOut);
    lf.lfCharSet = static_cast<BYTE>(charset_);
    lf.lfQuality = DEFAULT_QUALITY;
    lf.lfOutPrecision = OUT_DEFAULT_PRECIS;
    lf.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    lf.lfPitchAndFamily = pitch_ == TFontPitch::fpFixed      ? FIXED_PITCH
                          : pitch_ == TFontPitch::fpVariable ? VARIABLE_PITCH
                                                             : DEFAULT_PITCH;
    std::u16string face = AsciiToWide(name_);
    face.resize(std::min<size_t>(face.size(), LF_FACESIZE - 1));
    std::memcpy(lf.lfFaceName, face.c_str(), (face.size() + 1) * sizeof(char16_t));
    handle_ = CreateFontIndirectW(&lf);
  }
  return static_cast<HFONT>(handle_);
}

void TFont::SetHandle(HFONT font) {
  LOGFONTW lf{};
  if (!font || !GetObjectW(font, sizeof lf, &lf)) return;
  height_ = lf.lfHeight;
  style_ = {};
  if (lf.lfWeight >= FW_BOLD) style_.Include(fsBold);
  if (lf.lfItalic) style_.Include(fsItalic);
  if (lf.lfUnderline) style_.Include(fsUnderline);
  if (lf.lfStrikeOut) style_.Include(fsStrikeOut);
  charset_ = lf.lfCharSet;
  name_ = WideToUtf8(FromWStr(lf.lfFaceName));
  Changed();
}

void TFont::SetName(const std::string& v) {
  if (v.empty() || v == name_) return;
  name_ = v;
  Changed();
}
void TFont::SetHeight(int v) {
  if (v == height_) return;
  height_ = v;
  Changed();
}
int TFont::Size() const { return -MulDiv(height_, 72, PixelsPerInch()); }
void TFont::SetSize(int points) { SetHeight(-MulDiv(points, PixelsPerInch(), 72)); }
void TFont::SetStyle(TFontStyles v) {
  if (v == style_) return;
  style_ = v;
  Changed();
}
void TFont::SetColor(TColor v) {
  if (v == color_) return;
  color_ = v;
  Changed();
}
void TFont::SetCharset(int v) {
  if (v == charset_) return;
  charset_ = v;
  Changed();
}
void TFont::SetPitch(TFontPitch v) {
  if (v == pitch_) return;
  pitch_ = v;
  Changed();
}

// ---- TBrush
CL_CLASS(TBrush) {
  c.Int("Color", &TBrush::Color, &TBrush::SetColor, &TypeInfo_TColor).Default(clWhite);
  c.Enum("Style", &TBrush::Style, &TBrush::SetStyle, &TypeInfo_TBrushStyle)
      .Default(TBrushStyle::bsSolid);
}

TBrush::~TBrush() { FreeAndNil(bitmap_); }

void TBrush::Assign(TPersistent* source) {
  if (auto* b = dynamic_cast<TBrush*>(source)) {
    color_ = b->color_;
    style_ = b->style_;
    if (b->bitmap_) {
      if (!bitmap_) bitmap_ = New<TBitmap>();
      bitmap_->Assign(b->bitmap_);
    } else {
      FreeAndNil(bitmap_);
    }
    Changed();
    return;
  }
  TGraphicsObject::Assign(source);
}

HBRUSH TBrush::Handle() {
  if (!handle_) {
    if (bitmap_ && !bitmap_->Empty()) {
      handle_ = CreatePatternBrush(bitmap_->Handle());
    } else {
      LOGBRUSH lb{};
      lb.lbColor = ColorToRGB(color_);
      switch (style_) {
        case TBrushStyle::bsSolid:
          lb.lbStyle = BS_SOLID;
          break;
        case TBrushStyle::bsClear:
          lb.lbStyle = BS_HOLLOW;
          break;
        default:
          lb.lbStyle = BS_HATCHED;
          lb.lbHatch = static_cast<int>(style_) - static_cast<int>(TBrushStyle::bsHorizontal);
          break;
      }
      handle_ = CreateBrushIndirect(&lb);
    }
  }
  return static_cast<HBRUSH>(handle_);
}

void TBrush::SetColor(TColor v) {
  if (v == color_ && style_ != TBrushStyle::bsClear) return;
  color_ = v;
  if (style_ == TBrushStyle::bsClear) style_ = TBrushStyle::bsSolid;
  Changed();
}
void TBrush::SetStyle(TBrushStyle v) {
  if (v == style_) return;
  style_ = v;
  Changed();
}
void TBrush::SetBitmap(TBitmap* v) {
  if (v) {
    if (!bitmap_) bitmap_ = New<TBitmap>();
    bitmap_->Assign(v);
  } else {
    FreeAndNil(bitmap_);
  }
  Changed();
}

// ---- TPen
CL_CLASS(TPen) {
  c.Int("Color", &TPen::Color, &TPen::SetColor, &TypeInfo_TColor).Default(clBlack);
  c.Enum("Mode", &TPen::Mode, &TPen::SetMode, &TypeInfo_TPenMode).Default(TPenMode::pmCopy);
  c.Enum("Style", &TPen::Style, &TPen::SetStyle, &TypeInfo_TPenStyle).Default(TPenStyle::psSolid);
  c.Int("Width", &TPen::Width, &TPen::SetWidth).Default(1);
}

void TPen::Assign(TPersistent* source) {
  if (auto* p = dynamic_cast<TPen*>(source)) {
    color_ = p->color_;
    style_ = p->style_;
    width_ = p->width_;
    mode_ = p->mode_;
    Changed();
    return;
  }
  TGraphicsObject::Assign(source);
}

HPEN TPen::Handle() {
  if (!handle_) {
    static const int kStyles[] = {PS_SOLID,      PS_DASH, PS_DOT,        PS_DASHDOT,
                                  PS_DASHDOTDOT, PS_NULL, PS_INSIDEFRAME};
    handle_ = CreatePen(kStyles[static_cast<int>(style_)], width_, ColorToRGB(color_));
  }
  return static_cast<HPEN>(handle_);
}

void TPen::SetColor(TColor v) {
  if (v == color_) return;
  color_ = v;
  Changed();
}
void TPen::SetStyle(TPenStyle v) {
  if (v == style_) return;
  style_ = v;
  Changed();
}
void TPen::SetWidth(int v) {
  if (v < 0 || v == width_) return;
  width_ = v;
  Changed();
}
void TPen::SetMode(TPenMode v) {
  if (v == mode_) return;
  mode_ = v;
  Changed();
}

// ---- TCanvas
CL_CLASS(TCanvas) {}

TCanvas::TCanvas() : font_(New<TFont>()), brush_(New<TBrush>()), pen_(New<TPen>()) {
  font_->OnChange = EventOf<&TCanvas::ObjectChanged>(this);
  brush_->OnChange = EventOf<&TCanvas::ObjectChanged>(this);
  pen_->OnChange = EventOf<&TCanvas::ObjectChanged>(this);
}

TCanvas::~TCanvas() {
  FreeHandle();
  Free(font_);
  Free(brush_);
  Free(pen_);
}

HDC TCanvas::Handle() {
  RequiredState({csHandleValid});
  return dc_;
}

void TCanvas::SetHandle(HDC dc) {
  if (dc == dc_) return;
  FreeHandle();
  dc_ = dc;
  if (dc_) state_.Include(csHandleValid);
}

void TCanvas::DeselectHandles() {
  if (!dc_) return;
  // Put back what the DC held before, so our objects may be deleted.
  if (oldFont_) SelectObject(dc_, oldFont_);
  if (oldBrush_) SelectObject(dc_, oldBrush_);
  if (oldPen_) SelectObject(dc_, oldPen_);
  oldFont_ = oldBrush_ = oldPen_ = nullptr;
  state_ -= TSet<StateFlag>{csFontValid, csBrushValid, csPenValid};
}

void TCanvas::FreeHandle() {
  DeselectHandles();
  dc_ = nullptr;
  state_ = {};
}

void TCanvas::Refresh() { DeselectHandles(); }

void TCanvas::Lock() { lock_.lock(); }
void TCanvas::Unlock() { lock_.unlock(); }
bool TCanvas::TryLock() { return lock_.try_lock(); }

void TCanvas::RequiredState(TSet<StateFlag> req) {
  TSet<StateFlag> need = req - state_;
  if (need.Empty()) return;
  if (need.Contains(csHandleValid)) {
    CreateHandle();
    if (!dc_) throw EInvalidGraphicOperation(u"Canvas does not allow drawing");
    state_.Include(csHandleValid);
  }
  if (need.Contains(csFontValid)) {
    HGDIOBJ old = SelectObject(dc_, font_->Handle());
    if (!oldFont_) oldFont_ = old;
    SetTextColor(dc_, ColorToRGB(font_->Color()));
    state_.Include(csFontValid);
  }
  if (need.Contains(csPenValid)) {
    HGDIOBJ old = SelectObject(dc_, pen_->Handle());
    if (!oldPen_) oldPen_ = old;
    static const int kRop2[] = {R2_BLACK,       R2_WHITE,      R2_NOP,         R2_NOT,
                                R2_COPYPEN,     R2_NOTCOPYPEN, R2_MERGEPENNOT, R2_MASKPENNOT,
                                R2_MERGENOTPEN, R2_MASKNOTPEN, R2_MERGEPEN,    R2_NOTMERGEPEN,
                                R2_MASKPEN,     R2_NOTMASKPEN, R2_XORPEN,      R2_NOTXORPEN};
    SetROP2(dc_, kRop2[static_cast<int>(pen_->Mode())]);
    state_.Include(csPenValid);
  }
  if (need.Contains(csBrushValid)) {
    HGDIOBJ old = SelectObject(dc_, brush_->Handle());
    if (!oldBrush_) oldBrush_ = old;
    UnrealizeObject(brush_->Handle());
    SetBkColor(dc_, ColorToRGB(brush_->Color()));
    SetBkMode(dc_, brush_->Style() == TBrushStyle::bsSolid ? OPAQUE : TRANSPARENT);
    state_.Include(csBrushValid);
  }
}

void TCanvas::ObjectChanged(TObject* sender) {
  // The changed object's old GDI handle is deleted by its owner right
  // after this, so select the stock object in its place first.
  if (!dc_) return;
  if (sender == font_ && state_.Contains(csFontValid)) {
    SelectObject(dc_, GetStockObject(SYSTEM_FONT));
    state_.Exclude(csFontValid);
  } else if (sender == brush_ && state_.Contains(csBrushValid)) {
    SelectObject(dc_, GetStockObject(NULL_BRUSH));
    state_.Exclude(csBrushValid);
  } else if (sender == pen_ && state_.Contains(csPenValid)) {
    SelectObject(dc_, GetStockObject(BLACK_PEN));
    state_.Exclude(csPenValid);
  }
}

void TCanvas::Changing() {
  if (OnChanging) OnChanging(this);
}
void TCanvas::Changed() {
  if (OnChange) OnChange(this);
}

TPoint TCanvas::PenPos() {
  RequiredState({csHandleValid});
  POINT p{};
  GetCurrentPositionEx(dc_, &p);
  return p;
}

TRect TCanvas::ClipRect() {
  RequiredState({csHandleValid});
  RECT r{};
  GetClipBox(dc_, &r);
  return r;
}

void TCanvas::FillRect(const TRect& r) {
  Changing();
  RequiredState({csHandleValid, csBrushValid});
  ::FillRect(dc_, &r, brush_->Handle());
  Changed();
}

void TCanvas::FrameRect(const TRect& r) {
  Changing();
  RequiredState({csHandleValid, csBrushValid});
  ::FrameRect(dc_, &r, brush_->Handle());
  Changed();
}

void TCanvas::Rectangle(int x1, int y1, int x2, int y2) {
  Changing();
  RequiredState({csHandleValid, csBrushValid, csPenValid});
  ::Rectangle(dc_, x1, y1, x2, y2);
  Changed();
}

void TCanvas::RoundRect(int x1, int y1, int x2, int y2, int w, int h) {
  Changing();
  RequiredState({csHandleValid, csBrushValid, csPenValid});
  ::RoundRect(dc_, x1, y1, x2, y2, w, h);
  Changed();
}

void TCanvas::Ellipse(int x1, int y1, int x2, int y2) {
  Changing();
  RequiredState({csHandleValid, csBrushValid, csPenValid});
  ::Ellipse(dc_, x1, y1, x2, y2);
  Changed();
}

void TCanvas::Polygon(const std::vector<TPoint>& points) {
  if (points.empty()) return;
  Changing();
  RequiredState({csHandleValid, csBrushValid, csPenValid});
  ::Polygon(dc_, points.data(), static_cast<int>(points.size()));
  Changed();
}

void TCanvas::Polyline(const std::vector<TPoint>& points) {
  if (points.empty()) return;
  Changing();
  RequiredState({csHandleValid, csPenValid});
  ::Polyline(dc_, points.data(), static_cast<int>(points.size()));
  Changed();
}

void TCanvas::MoveTo(int x, int y) {
  RequiredState({csHandleValid});
  MoveToEx(dc_, x, y, nullptr);
}

void TCanvas::LineTo(int x, int y) {
  Changing();
  RequiredState({csHandleValid, csPenValid, csBrushValid});
  ::LineTo(dc_, x, y);
  Changed();
}

void TCanvas::TextOut(int x, int y, const std::u16string& text) {
  Changing();
  RequiredState({csHandleValid, csFontValid, csBrushValid});
  ExtTextOutW(dc_, x, y, 0, nullptr, WStr(text), static_cast<UINT>(text.size()), nullptr);
  MoveToEx(dc_, x + TextWidth(text), y, nullptr);
  Changed();
}

void TCanvas::TextRect(const TRect& r, int x, int y, const std::u16string& text) {
  Changing();
  RequiredState({csHandleValid, csFontValid, csBrushValid});
  UINT options = ETO_CLIPPED;
  if (brush_->Style() != TBrushStyle::bsClear) options |= ETO_OPAQUE;
  ExtTextOutW(dc_, x, y, options, &r, WStr(text), static_cast<UINT>(text.size()), nullptr);
  Changed();
}

SIZE TCanvas::TextExtent(const std::u16string& text) {
  RequiredState({csHandleValid, csFontValid});
  SIZE s{};
  GetTextExtentPoint32W(dc_, WStr(text), static_cast<int>(text.size()), &s);
  return s;
}

void TCanvas::Draw(int x, int y, TGraphic* graphic) {
  if (!graphic || graphic->Empty()) return;
  Changing();
  RequiredState({csHandleValid});
  graphic->Draw(this, Bounds(x, y, graphic->Width(), graphic->Height()));
  Changed();
}

void TCanvas::StretchDraw(const TRect& r, TGraphic* graphic) {
  if (!graphic || graphic->Empty()) return;
  Changing();
  RequiredState({csHandleValid});
  graphic->Draw(this, r);
  Changed();
}

void TCanvas::CopyRect(const TRect& dest, TCanvas* source, const TRect& src) {
  Changing();
  RequiredState({csHandleValid, csBrushValid});
  HDC from = source->Handle();
  SetStretchBltMode(dc_, COLORONCOLOR);
  StretchBlt(dc_, dest.left, dest.top, dest.right - dest.left, dest.bottom - dest.top, from,
             src.left, src.top, src.right - src.left, src.bottom - src.top, copyMode_);
  Changed();
}

void TCanvas::DrawFocusRect(const TRect& r) {
  Changing();
  RequiredState({csHandleValid, csBrushValid});
  ::DrawFocusRect(dc_, &r);
  Changed();
}

TColor TCanvas::Pixel(int x, int y) {
  RequiredState({csHandleValid});
  return static_cast<TColor>(GetPixel(dc_, x, y));
}

void TCanvas::SetPixel(int x, int y, TColor c) {
  Changing();
  RequiredState({csHandleValid, csPenValid});
  ::SetPixel(dc_, x, y, ColorToRGB(c));
  Changed();
}

// ---- TGraphic
CL_CLASS(TGraphic) {}

void TGraphic::SetTransparent(bool v) {
  if (v == transparent_) return;
  transparent_ = v;
  Changed();
}

void TGraphic::Changed() {
  modified_ = true;
  if (OnChange) OnChange(this);
}

void TGraphic::LoadFromFile(const std::u16string& fileName) {
  TFileStream s(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(s);
}

void TGraphic::SaveToFile(const std::u16string& fileName) {
  TFileStream s(fileName, fmCreate);
  SaveToStream(s);
}

void TGraphic::LoadFromClipboardFormat(UINT, HANDLE) {
  throw EInvalidGraphic(u"Unsupported clipboard format");
}
void TGraphic::SaveToClipboardFormat(UINT&, HANDLE&) {
  throw EInvalidGraphic(u"Unsupported clipboard format");
}

void TGraphic::DefineProperties(TFiler& filer) {
  filer.DefineBinaryProperty(
      "Data", [this](TStream& s) { LoadFromStream(s); }, [this](TStream& s) { SaveToStream(s); },
      !Empty());
}

// ---- TBitmap
class TBitmapCanvas : public TCanvas {
  CL_DECLARE_CLASS(TBitmapCanvas, TCanvas)
 public:
  explicit TBitmapCanvas(TBitmap* bitmap) : bitmap_(bitmap) {}
  // Release asks Handle() only for a DC that exists, which never raises.
  ~TBitmapCanvas() override { Release(); }  // NOLINT(bugprone-exception-escape)
  // Drops the memory DC so the bitmap can change.
  void Release() {
    if (!HandleAllocated()) return;
    HDC dc = Handle();
    FreeHandle();
    if (oldBitmap_) SelectObject(dc, oldBitmap_);
    oldBitmap_ = nullptr;
    DeleteDC(dc);
  }

 protected:
  void CreateHandle() override {
    if (!bitmap_->bitmap_)
      bitmap_->SetSize(std::max(bitmap_->width_, 0), std::max(bitmap_->height_, 0));
    HDC dc = CreateCompatibleDC(nullptr);
    if (!dc) throw EOutOfResources(u"Can't create compatible DC");
    if (bitmap_->bitmap_) oldBitmap_ = SelectObject(dc, bitmap_->bitmap_);
    SetHandle(dc);
  }
  void Changed() override {
    // GDI may batch drawing; the pixels must be readable at once.
    GdiFlush();
    bitmap_->Changed();
    TCanvas::Changed();
  }

 private:
  TBitmap* bitmap_;
  HGDIOBJ oldBitmap_ = nullptr;
};
CL_CLASS(TBitmapCanvas) {}

CL_CLASS(TBitmap) {}

TBitmap::TBitmap() = default;

// The canvas's release never raises (see TBitmapCanvas).
TBitmap::~TBitmap() {  // NOLINT(bugprone-exception-escape)
  Free(canvas_);
  FreeBitmap();
}

void TBitmap::FreeBitmap() {
  if (canvas_) static_cast<TBitmapCanvas*>(canvas_)->Release();
  if (bitmap_) DeleteObject(bitmap_);
  bitmap_ = nullptr;
  bits_ = nullptr;
}

void TBitmap::NewImage(int w, int h, TPixelFormat f, const void* copyFromBits, int copyW, int copyH,
                       TPixelFormat copyFormat) {
  if (f != TPixelFormat::pf24bit) f = TPixelFormat::pf32bit;
  HBITMAP bmp = nullptr;
  void* bits = nullptr;
  if (w > 0 && h > 0) {
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;  // bottom-up
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = f == TPixelFormat::pf24bit ? 24 : 32;
    bi.bmiHeader.biCompression = BI_RGB;
    bmp = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bmp) throw EOutOfResources(u"Can't allocate the DIB handle");
    const int bpp = bi.bmiHeader.biBitCount / 8;
    const size_t rowBytes = ((static_cast<size_t>(w) * bpp * 8 + 31) / 32) * 4;
    std::memset(bits, 0, rowBytes * h);
    if (copyFromBits) {
      // Keep the overlapping top-left part; rows are bottom-up in both.
      const int oldBpp = copyFormat == TPixelFormat::pf24bit ? 3 : 4;
      const size_t oldRow = ((static_cast<size_t>(copyW) * oldBpp * 8 + 31) / 32) * 4;
      const int rows = std::min(h, copyH), cols = std::min(w, copyW);
      for (int y = 0; y < rows; ++y) {
        const uint8_t* src = static_cast<const uint8_t*>(copyFromBits) + oldRow * (copyH - 1 - y);
        uint8_t* dst = static_cast<uint8_t*>(bits) + rowBytes * (h - 1 - y);
        for (int x = 0; x < cols; ++x) {
          std::memcpy(dst + x * bpp, src + x * oldBpp, 3);
          if (bpp == 4) dst[x * bpp + 3] = oldBpp == 4 ? src[x * oldBpp + 3] : 0;
        }
      }
    }
  }
  FreeBitmap();
  bitmap_ = bmp;
  bits_ = static_cast<uint8_t*>(bits);
  width_ = bmp ? w : std::max(w, 0);
  height_ = bmp ? h : std::max(h, 0);
  format_ = f;
}

void TBitmap::SetSize(int w, int h) {
  if (w == width_ && h == height_ && (bitmap_ || w <= 0 || h <= 0)) return;
  if (bitmap_) GdiFlush();
  NewImage(w, h, format_, bits_, width_, height_, format_);
  if (!bitmap_) width_ = w, height_ = h;
  Changed();
}

void TBitmap::SetPixelFormat(TPixelFormat f) {
  if (f != TPixelFormat::pf24bit) f = TPixelFormat::pf32bit;
  if (f == format_) return;
  if (bitmap_) {
    GdiFlush();
    NewImage(width_, height_, f, bits_, width_, height_, format_);
  } else {
    format_ = f;
  }
  Changed();
}

void* TBitmap::ScanLine(int row) {
  if (!bits_ || row < 0 || row >= height_)
    throw EInvalidGraphicOperation(u"Scan line index out of range");
  GdiFlush();
  return bits_ + static_cast<size_t>(RowBytes()) * (height_ - 1 - row);
}

TCanvas* TBitmap::Canvas() {
  if (!canvas_) canvas_ = New<TBitmapCanvas>(this);
  return canvas_;
}

void TBitmap::Assign(TPersistent* source) {
  if (!source) {
    NewImage(0, 0, format_, nullptr, 0, 0, format_);
    Changed();
    return;
  }
  if (auto* b = dynamic_cast<TBitmap*>(source)) {
    if (b == this) return;
    if (b->bitmap_) GdiFlush();
    NewImage(b->width_, b->height_, b->format_, b->bits_, b->width_, b->height_, b->format_);
    SetTransparent(b->Transparent());
    transparentColor_ = b->transparentColor_;
    transparentMode_ = b->transparentMode_;
    Changed();
    return;
  }
  if (auto* g = dynamic_cast<TGraphic*>(source)) {
    // Any other graphic is drawn onto a bitmap of its size.
    NewImage(g->Width(), g->Height(), format_, nullptr, 0, 0, format_);
    if (bitmap_) {
      Canvas()->Brush()->SetColor(clWhite);
      Canvas()->FillRect(Rect(0, 0, width_, height_));
      Canvas()->Draw(0, 0, g);
    }
    Changed();
    return;
  }
  TGraphic::Assign(source);
}

void TBitmap::SetHandle(HBITMAP bmp) {
  if (!bmp) {
    Assign(nullptr);
    return;
  }
  BITMAP info{};
  GetObjectW(bmp, sizeof info, &info);
  NewImage(info.bmWidth, std::abs(info.bmHeight), format_, nullptr, 0, 0, format_);
  if (bitmap_) {
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = width_;
    bi.bmiHeader.biHeight = height_;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = static_cast<WORD>(BitsPerPixel());
    bi.bmiHeader.biCompression = BI_RGB;
    HDC dc = GetDC(nullptr);
    GetDIBits(dc, bmp, 0, height_, bits_, &bi, DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
  }
  DeleteObject(bmp);
  Changed();
}

HBITMAP TBitmap::ReleaseHandle() {
  if (canvas_) static_cast<TBitmapCanvas*>(canvas_)->Release();
  HBITMAP h = bitmap_;
  bitmap_ = nullptr;
  bits_ = nullptr;
  width_ = height_ = 0;
  return h;
}

TColor TBitmap::TransparentColor() {
  if (transparentMode_ == TTransparentMode::tmFixed && transparentColor_ != clDefault)
    return transparentColor_;
  if (!bits_) return clDefault;
  // The bottom-left pixel: the first in memory.
  GdiFlush();
  return static_cast<TColor>(RGB(bits_[2], bits_[1], bits_[0]));
}

void TBitmap::SetTransparentColor(TColor c) {
  transparentColor_ = c;
  transparentMode_ = c == clDefault ? TTransparentMode::tmAuto : TTransparentMode::tmFixed;
  Changed();
}

void TBitmap::Draw(TCanvas* canvas, const TRect& r) {
  if (!bitmap_) return;
  HDC dst = canvas->Handle();
  HDC src = Canvas()->Handle();
  GdiFlush();
  const int w = r.right - r.left, h = r.bottom - r.top;
  if (Transparent()) {
    TransparentBlt(dst, r.left, r.top, w, h, src, 0, 0, width_, height_,
                   ColorToRGB(TransparentColor()));
  } else {
    SetStretchBltMode(dst, COLORONCOLOR);
    StretchBlt(dst, r.left, r.top, w, h, src, 0, 0, width_, height_, canvas->CopyMode());
  }
}

#pragma pack(push, 2)
struct BmpFileHeader {
  uint16_t type;
  uint32_t size;
  uint16_t reserved1, reserved2;
  uint32_t offBits;
};
#pragma pack(pop)
static_assert(sizeof(BmpFileHeader) == 14, "BITMAPFILEHEADER is 14 bytes");
static_assert(offsetof(BmpFileHeader, offBits) == 10, "bfOffBits at 10");

void TBitmap::LoadDIB(const uint8_t* dib, size_t size) {
  if (size < sizeof(BITMAPINFOHEADER)) throw EInvalidGraphic(u"Bitmap image is not valid");
  BITMAPINFOHEADER hdr;
  std::memcpy(&hdr, dib, sizeof hdr);
  if (hdr.biSize < sizeof(BITMAPINFOHEADER) || hdr.biSize > size || hdr.biWidth <= 0 ||
      hdr.biHeight == 0 || hdr.biWidth > 0x8000 || std::abs(hdr.biHeight) > 0x8000 ||
      hdr.biPlanes != 1)
    throw EInvalidGraphic(u"Bitmap image is not valid");
  const int bpp = hdr.biBitCount;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
    throw EInvalidGraphic(u"Bitmap image is not valid");
  if (hdr.biCompression != BI_RGB && hdr.biCompression != BI_BITFIELDS)
    throw EInvalidGraphic(u"Bitmap image is not valid");
  size_t colours = hdr.biClrUsed ? hdr.biClrUsed : (bpp <= 8 ? (size_t{1} << bpp) : 0);
  if (hdr.biCompression == BI_BITFIELDS && hdr.biSize == sizeof(BITMAPINFOHEADER)) colours = 3;
  const size_t rowBytes = ((static_cast<size_t>(hdr.biWidth) * bpp + 31) / 32) * 4;
  const size_t height = static_cast<size_t>(std::abs(hdr.biHeight));
  const size_t offset = hdr.biSize + colours * 4;
  if (colours > 256 || offset > size || rowBytes * height > size - offset)
    throw EInvalidGraphic(u"Bitmap image is not valid");
  NewImage(hdr.biWidth, static_cast<int>(height),
           bpp == 24 ? TPixelFormat::pf24bit : TPixelFormat::pf32bit, nullptr, 0, 0, format_);
  HDC dc = GetDC(nullptr);
  SetDIBits(dc, bitmap_, 0, static_cast<UINT>(height), dib + offset,
            reinterpret_cast<const BITMAPINFO*>(dib), DIB_RGB_COLORS);
  ReleaseDC(nullptr, dc);
  if (bpp == 32) {
    // SetDIBits drops alpha; keep the file's alpha bytes.
    for (size_t y = 0; y < height; ++y) {
      size_t srcRow = hdr.biHeight > 0 ? y : height - 1 - y;
      const uint8_t* src = dib + offset + rowBytes * srcRow;
      uint8_t* dst = bits_ + static_cast<size_t>(RowBytes()) * y;
      for (int x = 0; x < width_; ++x) dst[x * 4 + 3] = src[x * 4 + 3];
    }
  }
}

void TBitmap::LoadFromStream(TStream& stream) {
  int64_t size = stream.Remaining();
  if (size < static_cast<int64_t>(sizeof(BmpFileHeader)))
    throw EInvalidGraphic(u"Bitmap image is not valid");
  std::vector<uint8_t> data(static_cast<size_t>(size));
  stream.ReadBuffer(data.data(), size);
  BmpFileHeader fh;
  std::memcpy(&fh, data.data(), sizeof fh);
  if (fh.type != 0x4D42) throw EInvalidGraphic(u"Bitmap image is not valid");
  LoadDIB(data.data() + sizeof fh, data.size() - sizeof fh);
  Changed();
}

void TBitmap::SaveToStream(TStream& stream) {
  GdiFlush();
  BITMAPINFOHEADER hdr{};
  hdr.biSize = sizeof hdr;
  hdr.biWidth = width_;
  hdr.biHeight = height_;
  hdr.biPlanes = 1;
  hdr.biBitCount = static_cast<WORD>(BitsPerPixel());
  hdr.biCompression = BI_RGB;
  const uint32_t imageSize = bits_ ? static_cast<uint32_t>(RowBytes()) * height_ : 0;
  hdr.biSizeImage = imageSize;
  BmpFileHeader fh{0x4D42, static_cast<uint32_t>(sizeof fh + sizeof hdr + imageSize), 0, 0,
                   static_cast<uint32_t>(sizeof fh + sizeof hdr)};
  stream.WriteBuffer(&fh, sizeof fh);
  stream.WriteBuffer(&hdr, sizeof hdr);
  if (imageSize) stream.WriteBuffer(bits_, imageSize);
}

void TBitmap::LoadFromClipboardFormat(UINT format, HANDLE data) {
  if (format != CF_DIB || !data) throw EInvalidGraphic(u"Unsupported clipboard format");
  const void* p = GlobalLock(data);
  if (!p) throw EInvalidGraphic(u"Unsupported clipboard format");
  try {
    LoadDIB(static_cast<const uint8_t*>(p), GlobalSize(data));
  } catch (...) {
    GlobalUnlock(data);
    throw;
  }
  GlobalUnlock(data);
  Changed();
}

void TBitmap::SaveToClipboardFormat(UINT& format, HANDLE& data) {
  // Always a 32-bit DIB, whatever the bitmap's own depth.
  TBitmap copy;
  copy.Assign(this);
  copy.SetPixelFormat(TPixelFormat::pf32bit);
  const size_t imageSize = static_cast<size_t>(copy.RowBytes()) * copy.height_;
  HGLOBAL g = GlobalAlloc(GMEM_MOVEABLE, sizeof(BITMAPINFOHEADER) + imageSize);
  if (!g) throw EOutOfResources(u"Out of system resources");
  auto* p = static_cast<uint8_t*>(GlobalLock(g));
  BITMAPINFOHEADER hdr{};
  hdr.biSize = sizeof hdr;
  hdr.biWidth = copy.width_;
  hdr.biHeight = copy.height_;
  hdr.biPlanes = 1;
  hdr.biBitCount = 32;
  hdr.biCompression = BI_RGB;
  hdr.biSizeImage = static_cast<DWORD>(imageSize);
  std::memcpy(p, &hdr, sizeof hdr);
  if (imageSize) std::memcpy(p + sizeof hdr, copy.bits_, imageSize);
  GlobalUnlock(g);
  format = CF_DIB;
  data = g;
}

void TBitmap::LoadFromResourceName(HINSTANCE instance, const std::u16string& name) {
  HBITMAP bmp = static_cast<HBITMAP>(
      LoadImageW(instance, WStr(name), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  if (!bmp) throw EResNotFound(Format(u"Resource %s not found", {name}));
  SetHandle(bmp);
}

// ---- TIcon
CL_CLASS(TIcon) {}

TIcon::~TIcon() {
  if (icon_) DestroyIcon(icon_);
}

void TIcon::Assign(TPersistent* source) {
  if (!source) {
    SetHandle(nullptr);
    return;
  }
  if (auto* i = dynamic_cast<TIcon*>(source)) {
    if (i == this) return;
    data_ = i->data_;
    width_ = i->width_;
    height_ = i->height_;
    SetHandle(i->icon_ ? CopyIcon(i->icon_) : nullptr);
    data_ = i->data_;
    return;
  }
  TGraphic::Assign(source);
}

int TIcon::Width() const {
  if (!icon_) return width_;
  ICONINFO info{};
  if (!GetIconInfo(icon_, &info)) return width_;
  BITMAP b{};
  GetObjectW(info.hbmMask, sizeof b, &b);
  if (info.hbmColor) DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  return b.bmWidth;
}

int TIcon::Height() const {
  if (!icon_) return height_;
  ICONINFO info{};
  if (!GetIconInfo(icon_, &info)) return height_;
  BITMAP b{};
  GetObjectW(info.hbmMask, sizeof b, &b);
  const bool monochrome = info.hbmColor == nullptr;
  if (info.hbmColor) DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  return monochrome ? b.bmHeight / 2 : b.bmHeight;
}

void TIcon::SetHandle(HICON icon) {
  if (icon == icon_) return;
  if (icon_) DestroyIcon(icon_);
  icon_ = icon;
  data_.clear();
  Changed();
}

HICON TIcon::ReleaseHandle() {
  HICON h = icon_;
  icon_ = nullptr;
  data_.clear();
  return h;
}

#pragma pack(push, 1)
struct IcoDirEntry {
  uint8_t width, height, colours, reserved;
  uint16_t planes, bitCount;
  uint32_t bytes, offset;
};
#pragma pack(pop)
static_assert(sizeof(IcoDirEntry) == 16, "ICONDIRENTRY is 16 bytes");

void TIcon::LoadFromStream(TStream& stream) {
  int64_t size = stream.Remaining();
  if (size < 6 || size > (64 << 20)) throw EInvalidGraphic(u"Icon image is not valid");
  std::vector<uint8_t> data(static_cast<size_t>(size));
  stream.ReadBuffer(data.data(), size);
  uint16_t hdr[3];
  std::memcpy(hdr, data.data(), sizeof hdr);
  if (hdr[0] != 0 || hdr[1] != 1 || hdr[2] == 0 || 6 + size_t{hdr[2]} * 16 > data.size())
    throw EInvalidGraphic(u"Icon image is not valid");
  const int want = width_ ? width_ : 32;
  int best = -1, bestScore = 0;
  for (int i = 0; i < hdr[2]; ++i) {
    IcoDirEntry e;
    std::memcpy(&e, data.data() + 6 + i * 16, sizeof e);
    if (e.offset > data.size() || e.bytes > data.size() - e.offset || e.bytes < 40) continue;
    const int w = e.width ? e.width : 256;
    int score = std::abs(w - want) * 64 - e.bitCount;
    if (best < 0 || score < bestScore) best = i, bestScore = score;
  }
  if (best < 0) throw EInvalidGraphic(u"Icon image is not valid");
  IcoDirEntry e;
  std::memcpy(&e, data.data() + 6 + best * 16, sizeof e);
  HICON icon = CreateIconFromResourceEx(data.data() + e.offset, e.bytes, TRUE, 0x00030000, 0, 0,
                                        LR_DEFAULTCOLOR);
  if (!icon) throw EInvalidGraphic(u"Icon image is not valid");
  SetHandle(icon);
  data_ = std::move(data);
}

void TIcon::SaveToStream(TStream& stream) {
  if (!data_.empty()) {
    stream.WriteBuffer(data_.data(), static_cast<int64_t>(data_.size()));
    return;
  }
  if (!icon_) return;
  // Made from a handle: write one 32-bit image with its AND mask.
  const int w = Width(), h = Height();
  TBitmap colour;
  colour.SetSize(w, h);
  DrawIconEx(colour.Canvas()->Handle(), 0, 0, icon_, w, h, 0, nullptr, DI_NORMAL);
  GdiFlush();
  const uint32_t maskRow = ((w + 31) / 32) * 4;
  const uint32_t bytes = 40 + w * h * 4 + maskRow * h;
  uint16_t hdr[3] = {0, 1, 1};
  IcoDirEntry e{
      static_cast<uint8_t>(w & 0xFF), static_cast<uint8_t>(h & 0xFF), 0, 0, 1, 32, bytes, 22};
  BITMAPINFOHEADER bi{};
  bi.biSize = 40;
  bi.biWidth = w;
  bi.biHeight = h * 2;
  bi.biPlanes = 1;
  bi.biBitCount = 32;
  stream.WriteBuffer(hdr, sizeof hdr);
  stream.WriteBuffer(&e, sizeof e);
  stream.WriteBuffer(&bi, sizeof bi);
  for (int y = h - 1; y >= 0; --y) stream.WriteBuffer(colour.ScanLine(y), w * 4);
  std::vector<uint8_t> mask(maskRow * h, 0);
  stream.WriteBuffer(mask.data(), static_cast<int64_t>(mask.size()));
}

void TIcon::LoadFromResourceName(HINSTANCE instance, const std::u16string& name) {
  HICON icon = static_cast<HICON>(LoadImageW(instance, WStr(name), IMAGE_ICON, width_, height_, 0));
  if (!icon) throw EResNotFound(Format(u"Resource %s not found", {name}));
  SetHandle(icon);
}

void TIcon::Draw(TCanvas* canvas, const TRect& r) {
  if (icon_)
    DrawIconEx(canvas->Handle(), r.left, r.top, icon_, r.right - r.left, r.bottom - r.top, 0,
               nullptr, DI_NORMAL);
}

// ---- TPicture
namespace {
struct FileFormat {
  std::string extension;
  std::u16string description;
  TGraphicClass cls;
};
std::vector<FileFormat>& Formats() {
  static const bool registered =
      (RegisterClasses({TBitmap::StaticClass(), TIcon::StaticClass()}), true);
  (void)registered;
  static std::vector<FileFormat> formats = {
      {"bmp", u"Bitmaps", TBitmap::StaticClass()},
      {"ico", u"Icons", TIcon::StaticClass()},
  };
  return formats;
}
std::string ExtensionOf(const std::u16string& fileName) {
  size_t dot = fileName.find_last_of(u'.');
  size_t slash = fileName.find_last_of(u"\\/");
  if (dot == std::u16string::npos || (slash != std::u16string::npos && dot < slash)) return {};
  return LowerCase(WideToUtf8(fileName.substr(dot + 1)));
}
}  // namespace

CL_CLASS(TPicture) {}

TPicture::~TPicture() { Free(graphic_); }

void TPicture::Replace(TGraphic* g) {
  Free(graphic_);
  graphic_ = g;
  if (graphic_) graphic_->OnChange = EventOf<&TPicture::Changed>(this);
  Changed(this);
}

void TPicture::SetGraphic(TGraphic* g) {
  if (!g) {
    Replace(nullptr);
    return;
  }
  auto* copy = static_cast<TGraphic*>(g->ClassType()->Create());
  try {
    copy->Assign(g);
  } catch (...) {
    Free(copy);
    throw;
  }
  Replace(copy);
}

void TPicture::Assign(TPersistent* source) {
  if (!source) {
    Replace(nullptr);
  } else if (auto* p = dynamic_cast<TPicture*>(source)) {
    SetGraphic(p->graphic_);
  } else if (auto* g = dynamic_cast<TGraphic*>(source)) {
    SetGraphic(g);
  } else {
    TPersistent::Assign(source);
  }
}

TBitmap* TPicture::Bitmap() {
  if (auto* b = dynamic_cast<TBitmap*>(graphic_)) return b;
  Replace(New<TBitmap>());
  return static_cast<TBitmap*>(graphic_);
}

TIcon* TPicture::Icon() {
  if (auto* i = dynamic_cast<TIcon*>(graphic_)) return i;
  Replace(New<TIcon>());
  return static_cast<TIcon*>(graphic_);
}

void TPicture::Changed(TObject*) {
  if (OnChange) OnChange(this);
}

void TPicture::LoadFromFile(const std::u16string& fileName) {
  std::string ext = ExtensionOf(fileName);
  TGraphicClass cls = FindFormat(ext);
  if (!cls) throw EInvalidGraphic(Format(u"Unknown picture file extension (.%s)", {ext}));
  auto* g = static_cast<TGraphic*>(cls->Create());
  try {
    g->LoadFromFile(fileName);
  } catch (...) {
    Free(g);
    throw;
  }
  Replace(g);
}

void TPicture::SaveToFile(const std::u16string& fileName) {
  if (graphic_) graphic_->SaveToFile(fileName);
}

void TPicture::RegisterFileFormat(const std::string& extension, const std::u16string& description,
                                  TGraphicClass cls) {
  std::string ext = LowerCase(extension);
  if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
  auto& f = Formats();
  f.erase(
      std::remove_if(f.begin(), f.end(), [&](const FileFormat& x) { return x.extension == ext; }),
      f.end());
  f.push_back({ext, description, cls});
}

void TPicture::UnregisterGraphicClass(TGraphicClass cls) {
  auto& f = Formats();
  f.erase(std::remove_if(f.begin(), f.end(),
                         [&](const FileFormat& x) { return x.cls->InheritsFrom(cls); }),
          f.end());
}

TGraphicClass TPicture::FindFormat(const std::string& extension) {
  std::string ext = LowerCase(extension);
  if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
  for (const FileFormat& x : Formats())
    if (x.extension == ext) return x.cls;
  return nullptr;
}

std::u16string TPicture::GraphicFilter(TGraphicClass cls) {
  std::u16string filter;
  for (const FileFormat& x : Formats()) {
    if (cls && !x.cls->InheritsFrom(cls)) continue;
    std::u16string ext = AsciiToWide(x.extension);
    if (!filter.empty()) filter += u'|';
    filter.append(x.description).append(u" (*.").append(ext).append(u")|*.").append(ext);
  }
  return filter;
}

void TPicture::DefineProperties(TFiler& filer) {
  // The graphic's class name as a short string, then its own stream.
  filer.DefineBinaryProperty(
      "Data",
      [this](TStream& s) {
        uint8_t len = 0;
        s.ReadBuffer(&len, 1);
        std::string name(len, '\0');
        s.ReadBuffer(name.data(), len);
        TClass cls = GetClass(name);
        if (!cls || !cls->InheritsFrom(TGraphic::StaticClass()))
          throw EInvalidGraphic(Format(u"Unknown picture class %s", {name}));
        auto* g = static_cast<TGraphic*>(cls->Create());
        try {
          g->LoadFromStream(s);
        } catch (...) {
          Free(g);
          throw;
        }
        Replace(g);
      },
      [this](TStream& s) {
        const std::string& name = graphic_->ClassName();
        uint8_t len = static_cast<uint8_t>(name.size());
        s.WriteBuffer(&len, 1);
        s.WriteBuffer(name.data(), len);
        graphic_->SaveToStream(s);
      },
      graphic_ && !graphic_->Empty());
}

}  // namespace classlib
