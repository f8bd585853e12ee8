// The GDI+ canvas's text: the font family, private fonts, drawing,
// measuring and outlining.
#include <climits>
#include <cmath>

#include "scene/sg_canvas_gdiplus.h"

namespace kelm::scene {

using namespace gdip;

namespace {

constexpr int kStyleBits[] = {0, 1, 2, 3, 4, 8};  // TsgFontStyle in order

int MappedStyle(TsgFontStyle style) {
  const int i = int(style);
  return i >= 0 && i < 6 ? kStyleBits[i] : 0;
}

bool StyleAvailable(GpFontFamily* family, int style) {
  BOOL available = FALSE;
  return family && Gdip().GdipIsStyleAvailable(family, style, &available) == Ok && available;
}

int Alignment(TsgTextAlign a) {
  switch (a) {
    case sgTextAlignNear:
      return 0;
    case sgTextAlignFar:
      return 2;
    case sgTextAlignCenter:
      break;
  }
  return 1;
}

bool Fractional(float v) { return std::trunc(v) != v; }

std::wstring Widen(const std::string& s) {
  if (s.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), nullptr, 0);
  std::wstring w(size_t(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), w.data(), n);
  return w;
}

const WCHAR* Text(const std::u16string& s) { return reinterpret_cast<const WCHAR*>(s.c_str()); }

void MakeFormat(TGPStringFormat& format, int flags, TsgTextAlign align, TsgTextAlign vAlign) {
  format.Check(Gdip().GdipCreateStringFormat(flags, 0, format.Receive()));
  if (!format) return;
  format.Check(Gdip().GdipSetStringFormatAlign(format.Get(), Alignment(align)));
  format.Check(Gdip().GdipSetStringFormatLineAlign(format.Get(), Alignment(vAlign)));
}

GpRectF LayoutRect(const TsgRect& r) { return {r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top}; }

}  // namespace

int TsgCanvasGdiPlus::TextStyle() const {
  const int mapped = MappedStyle(Font()->Style());
  if (StyleAvailable(fontFamily_.Get(), mapped)) return mapped;
  for (int style : kStyleBits)
    if (StyleAvailable(fontFamily_.Get(), style)) return style;
  return mapped;
}

GpFont* TsgCanvasGdiPlus::CreateTextFont() {
  GpFont* font = nullptr;
  if (!fontFamily_) return nullptr;
  Gdip().GdipCreateFont(fontFamily_.Get(), Font()->Size() * 0.75f * dpiScale_, TextStyle(),
                        UnitPoint, &font);
  return font;
}

void TsgCanvasGdiPlus::SetTextHint() {
  if (graphics_)
    graphics_.Check(Gdip().GdipSetTextRenderingHint(
        graphics_.Get(),
        Font()->ClearType() ? TextRenderingHintClearTypeGridFit : TextRenderingHintAntiAlias));
}

void TsgCanvasGdiPlus::FontChanged(classlib::TObject* sender) {
  (void)sender;
  fontFamily_.Reset();
  const std::wstring name = Widen(Font()->Family());
  if (privateFonts_ && privateFonts_->Get())
    fontFamily_.Check(Gdip().GdipCreateFontFamilyFromName(name.c_str(), privateFonts_->Get(),
                                                          fontFamily_.Receive()));
  if (!fontFamily_)
    fontFamily_.Check(
        Gdip().GdipCreateFontFamilyFromName(name.c_str(), nullptr, fontFamily_.Receive()));
  if (!fontFamily_) {
    if (GpFontFamily* generic = GenericSansSerif())
      fontFamily_.Check(Gdip().GdipCloneFontFamily(generic, fontFamily_.Receive()));
  }
  // A machine without the generic family either (Wine's prefix) still draws
  // text, in whatever font is installed.
  if (!fontFamily_) {
    if (GpFontFamily* any = AnyInstalledFamily())
      fontFamily_.Check(Gdip().GdipCloneFontFamily(any, fontFamily_.Receive()));
  }
  SetTextHint();
}

void TsgCanvasGdiPlus::LoadFontFromStream(classlib::TStream& stream) {
  if (!privateFonts_) privateFonts_ = std::make_unique<TGPPrivateFontCollection>();
  // From the position to the end: the font may follow other data.
  const int64_t size = stream.Remaining();
  if (size <= 0 || size > INT_MAX || !privateFonts_->Get()) return;
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  if (stream.Read(bytes.data(), size) != size) return;
  // The collection may read the bytes later: they live as long as it does.
  if (privateFonts_->AddMemoryFont(bytes.data(), INT(size)) == Ok)
    fontMemory_.push_back(std::move(bytes));
}

void TsgCanvasGdiPlus::FillText(const TsgRect& r, const std::u16string& text, bool wordWrap,
                                float opacity, TsgTextAlign align, TsgTextAlign vAlign) {
  if (Fill()->Style() == sgBrushNone || text.empty() || !graphics_) return;
  TGPStringFormat format;
  MakeFormat(format, StringFormatFlagsNoClip | (wordWrap ? 0 : StringFormatFlagsNoWrap), align,
             vAlign);
  TGPFont font(CreateTextFont());
  // Fully opaque text is drawn at 0.99 of its alpha.
  ApplyFill(r, opacity == 1 ? 0.99f : opacity);
  const bool fractional = Fractional(Matrix().m11) || Fractional(Matrix().m22);
  if (fractional)
    graphics_.Check(Gdip().GdipSetTextRenderingHint(graphics_.Get(), TextRenderingHintAntiAlias));
  const GpRectF layout = LayoutRect(r);
  if (font && format && fillBrush_)
    graphics_.Check(Gdip().GdipDrawString(graphics_.Get(), Text(text), -1, font.Get(), &layout,
                                          format.Get(), fillBrush_.Get()));
  if (fractional) SetTextHint();
}

void TsgCanvasGdiPlus::MeasureText(TsgRect& r, const std::u16string& text, bool wordWrap,
                                   TsgTextAlign align, TsgTextAlign vAlign) {
  if (!wordWrap) r.Right = r.Left;
  if (text.empty()) return;
  // Without a drawing context, measure through a temporary one.
  TGPImage tempImage;
  const bool temporary = !graphics_;
  if (temporary) {
    tempImage.Check(Gdip().GdipCreateBitmapFromScan0(1, 1, 0, PixelFormat32bppARGB, nullptr,
                                                     tempImage.Receive()));
    if (!tempImage) return;
    graphics_.Check(Gdip().GdipGetImageGraphicsContext(tempImage.Get(), graphics_.Receive()));
    if (!graphics_) return;
    SetupGraphics(true);
    SetTextHint();
  }
  if (Fractional(Matrix().m11) || Fractional(Matrix().m22))
    graphics_.Check(Gdip().GdipSetTextRenderingHint(graphics_.Get(), TextRenderingHintAntiAlias));

  TGPStringFormat format;
  MakeFormat(format,
             StringFormatFlagsNoClip | StringFormatFlagsMeasureTrailingSpaces |
                 (wordWrap ? 0 : StringFormatFlagsNoWrap),
             align, vAlign);
  TGPFont font(CreateTextFont());
  if (font && format) {
    const GpCharacterRange range{0, INT(text.size())};
    format.Check(Gdip().GdipSetStringFormatMeasurableCharacterRanges(format.Get(), 1, &range));
    INT count = 0;
    format.Check(Gdip().GdipGetStringFormatMeasurableCharacterRangeCount(format.Get(), &count));
    std::vector<TGPRegion> regions(size_t(count > 0 ? count : 0));
    std::vector<GpRegion*> handles;
    for (TGPRegion& region : regions) {
      region.Check(Gdip().GdipCreateRegion(region.Receive()));
      handles.push_back(region.Get());
    }
    const GpRectF layout = LayoutRect(r);
    if (count > 0 && graphics_.Check(Gdip().GdipMeasureCharacterRanges(
                         graphics_.Get(), Text(text), -1, font.Get(), &layout, format.Get(), count,
                         handles.data())) == Ok) {
      for (size_t i = 0; i < handles.size(); ++i) {
        GpRectF b{};
        if (Gdip().GdipGetRegionBounds(handles[i], graphics_.Get(), &b) != Ok) continue;
        const TsgRect br{b.X, b.Y, b.X + b.Width, b.Y + b.Height};
        r = i == 0 ? br : sgUnionRect(r, br);
      }
    }
  }
  font.Reset();
  if (temporary) {
    graphics_.Reset();
  } else {
    SetTextHint();
  }
}

bool TsgCanvasGdiPlus::TextToPath(TsgPathData* path, const TsgRect& r, const std::u16string& text,
                                  bool wordWrap, TsgTextAlign align, TsgTextAlign vAlign) {
  if (!path || text.empty()) return false;
  const int style = MappedStyle(Font()->Style());
  if (!StyleAvailable(fontFamily_.Get(), style)) return false;
  path->Clear();
  TGPStringFormat format;
  MakeFormat(format,
             wordWrap ? 0 : (StringFormatFlagsNoWrap | StringFormatFlagsMeasureTrailingSpaces),
             align, vAlign);
  TGPGraphicsPath gp;
  gp.Check(Gdip().GdipCreatePath(FillModeAlternate, gp.Receive()));
  if (!gp || !format) return true;
  const GpRectF layout = LayoutRect(r);
  gp.Check(Gdip().GdipAddPathString(gp.Get(), Text(text), -1, fontFamily_.Get(), style,
                                    Font()->Size(), &layout, format.Get()));
  TPathData data;
  if (ReadPathData(gp.Get(), data) != Ok) return true;
  const size_t n = data.Points.size();
  for (size_t i = 0; i < n; ++i) {
    const BYTE type = data.Types[i];
    const GpPointF& p = data.Points[i];
    size_t reached = i;
    if ((type & PathPointTypeMask) == PathPointTypeStart) {
      path->MoveTo({p.X, p.Y});
    } else if ((type & PathPointTypeMask) == PathPointTypeBezier) {
      if (i + 2 >= n) break;
      const GpPointF& c2 = data.Points[i + 1];
      const GpPointF& e = data.Points[i + 2];
      path->CurveTo({p.X, p.Y}, {c2.X, c2.Y}, {e.X, e.Y});
      reached = i + 2;
      i += 2;
    } else if ((type & PathPointTypeMask) == PathPointTypeLine) {
      path->LineTo({p.X, p.Y});
    }
    if (data.Types[reached] & PathPointTypeCloseSubpath) path->ClosePath();
  }
  return true;
}

}  // namespace kelm::scene
