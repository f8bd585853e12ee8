#include "kit/kt_common_win.h"

#include <uxtheme.h>

#include <vector>

namespace kelm::kit {

using classlib::TColor;

namespace {

int initCount = 0;
bool fullColorDisplay = false;
uint8_t themeColorScheme = 0;

uint32_t ResolveThroughLibrary(TColor c) { return static_cast<uint32_t>(classlib::ColorToRGB(c)); }

// Keeps the canvas's pen style and brush colour across a glyph: the pen
// is cleared while the glyph fills.
class GlyphPenGuard {
 public:
  explicit GlyphPenGuard(classlib::TCanvas* canvas)
      : canvas_(canvas), brushColor_(canvas->Brush()->Color()) {
    canvas_->Pen()->SetStyle(classlib::TPenStyle::psClear);
  }
  ~GlyphPenGuard() {
    canvas_->Pen()->SetStyle(classlib::TPenStyle::psSolid);
    canvas_->Brush()->SetColor(brushColor_);
  }
  GlyphPenGuard(const GlyphPenGuard&) = delete;
  GlyphPenGuard& operator=(const GlyphPenGuard&) = delete;

 private:
  classlib::TCanvas* canvas_;
  TColor brushColor_;
};

struct Centre {
  int x, y;
};

Centre CentreOf(const classlib::TRect& r) {
  const int height = r.bottom - r.top;
  return {r.left + (r.right - r.left) / 2, r.top + height / 2 - (height % 2 == 0 ? 1 : 0)};
}

// The arrow in classic form: rows (or columns) of 1, 3, 5 and 7 pixels
// around the classic centre.
void ClassicArrow(classlib::TCanvas* canvas, Centre c, int direction) {
  HDC dc = canvas->Handle();
  HBRUSH brush = CreateSolidBrush(classlib::ColorToRGB(canvas->Brush()->Color()));
  auto pixels = [&](int left, int top, int right, int bottom) {
    const RECT r{left, top, right, bottom};
    FillRect(dc, &r, brush);
  };
  for (int k = 0; k < 4; ++k) {
    // k = 0 is the apex: 1 pixel; k = 3 the base: 7 pixels.
    switch (direction) {
      case 0:
        pixels(c.x - k, c.y - 3 + k, c.x + k + 1, c.y - 3 + k + 1);
        break;
      case 1:
        pixels(c.x - k, c.y - k, c.x + k + 1, c.y - k + 1);
        break;
      case 2:
        pixels(c.x + k, c.y - k, c.x + k + 1, c.y + k + 1);
        break;
      default:
        pixels(c.x + 3 - k, c.y - k, c.x + 3 - k + 1, c.y + k + 1);
        break;
    }
  }
  DeleteObject(brush);
}

void ThemedArrow(classlib::TCanvas* canvas, Centre c, int direction) {
  std::vector<classlib::TPoint> p;
  switch (direction) {
    case 0:
      c.y += 4;
      p = {{c.x, c.y - 5}, {c.x + 4, c.y}, {c.x + 1, c.y},
           {c.x, c.y - 2}, {c.x - 1, c.y}, {c.x - 4, c.y}};
      break;
    case 1:
      c.y += 2;
      p = {{c.x, c.y},     {c.x - 3, c.y - 4}, {c.x, c.y - 4},
           {c.x, c.y - 3}, {c.x + 1, c.y - 4}, {c.x + 4, c.y - 4}};
      break;
    case 2:
      c.x -= 1;
      p = {{c.x, c.y},     {c.x + 4, c.y - 4}, {c.x + 4, c.y - 1},
           {c.x + 3, c.y}, {c.x + 4, c.y + 1}, {c.x + 4, c.y + 4}};
      break;
    default:
      c.x -= 3;
      p = {{c.x + 4, c.y}, {c.x, c.y + 4}, {c.x, c.y + 1},
           {c.x + 1, c.y}, {c.x, c.y - 1}, {c.x, c.y - 4}};
      break;
  }
  canvas->Polygon(p);
}

}  // namespace

void InitializeKtCommon() {
  if (initCount++ != 0) return;
  SetColorResolver(ResolveThroughLibrary);
  fullColorDisplay = DisplayHasFullColor();
  themeColorScheme = ReadThemeColorScheme();
}

bool FullColorDisplay() {
  InitializeKtCommon();
  return fullColorDisplay;
}

uint8_t ThemeColorScheme() {
  InitializeKtCommon();
  return themeColorScheme;
}

bool DisplayHasFullColor() {
  HDC dc = GetDC(nullptr);
  const bool full = GetDeviceCaps(dc, NUMCOLORS) == -1;
  ReleaseDC(nullptr, dc);
  return full;
}

uint8_t ReadThemeColorScheme() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER,
                    L"Software\\Microsoft\\Windows\\CurrentVersion\\ThemeManager", 0, KEY_READ,
                    &key) != ERROR_SUCCESS) {
    return 0;
  }
  wchar_t name[64] = {};
  DWORD size = sizeof(name) - sizeof(wchar_t);
  DWORD type = 0;
  const LONG rc =
      RegQueryValueExW(key, L"ColorName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || type != REG_SZ) return 0;
  return ThemeColorSchemeOf(reinterpret_cast<const char16_t*>(name));
}

bool RunningOnOsLevel(int level) {
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof(info);
  if (!GetVersionExW(&info)) return false;
  return OsLevelMet(level, info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion);
}

bool FontIsTrueType(classlib::TFont* font) {
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font->Handle());
  TEXTMETRICW tm{};
  const bool ok = GetTextMetricsW(dc, &tm) != 0;
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  return ok && (tm.tmPitchAndFamily & TMPF_TRUETYPE) != 0;
}

bool ThemedGlyphColor(TColor& color) {
  HTHEME theme = OpenThemeData(nullptr, L"COMBOBOX");
  if (theme == nullptr) return false;
  classlib::TBitmap bitmap;
  bitmap.SetSize(17, 21);
  const RECT element{0, 0, 16, 20};
  HDC dc = bitmap.Canvas()->Handle();
  DrawThemeBackground(theme, dc, 1, 1, &element, nullptr);  // drop-down button, normal
  const TColor pixel = static_cast<TColor>(GetPixel(dc, 8, 10));
  CloseThemeData(theme);
  color = ColorsAreClose(pixel, classlib::clWindow) ? classlib::cl3DDkShadow : pixel;
  return true;
}

void DrawArrowGlyph(classlib::TCanvas* canvas, const classlib::TRect& rect, bool themed,
                    bool enabled, int direction) {
  TColor color = classlib::clBtnShadow;
  bool themeOpen = false;
  if (enabled && themed) themeOpen = ThemedGlyphColor(color);
  if (enabled && !themeOpen) {
    color = ColorsAreClose(canvas->Brush()->Color(), classlib::clBlack) ? classlib::cl3DDkShadow
                                                                        : classlib::clBlack;
  }
  GlyphPenGuard guard(canvas);
  canvas->Brush()->SetColor(color);
  Centre c = CentreOf(rect);
  if (themeOpen) {
    ThemedArrow(canvas, c, direction);
  } else {
    if (direction <= 1) {
      c.y += 1;
    } else {
      c.x -= 2;
    }
    ClassicArrow(canvas, c, direction);
  }
}

void DrawCrossGlyph(classlib::TCanvas* canvas, const classlib::TRect& rect, TColor color) {
  GlyphPenGuard guard(canvas);
  canvas->Brush()->SetColor(color);
  const Centre c = CentreOf(rect);
  const int x = c.x, y = c.y;
  const bool small = rect.bottom - rect.top <= 10 || rect.right - rect.left < 9;
  if (small) {
    canvas->Polygon({{x, y - 1},
                     {x + 1, y - 2},
                     {x + 3, y - 2},
                     {x + 1, y},
                     {x + 3, y + 3},
                     {x + 1, y + 2},
                     {x, y + 1},
                     {x - 3, y + 3},
                     {x - 3, y + 2},
                     {x - 1, y},
                     {x - 3, y - 2},
                     {x - 1, y - 2},
                     {x - 1, y - 1}});
  } else {
    canvas->Polygon({{x, y - 1},
                     {x + 2, y - 3},
                     {x + 5, y - 3},
                     {x + 2, y},
                     {x + 5, y + 4},
                     {x + 2, y + 3},
                     {x, y + 1},
                     {x - 2, y + 4},
                     {x - 4, y + 3},
                     {x - 1, y},
                     {x - 4, y - 3},
                     {x - 1, y - 3}});
  }
}

void DrawCloseGlyph(classlib::TCanvas* canvas, const classlib::TRect& rect, bool themed,
                    bool enabled) {
  TColor color = classlib::clBtnShadow;
  if (enabled && !(themed && ThemedGlyphColor(color))) color = classlib::clBlack;
  DrawCrossGlyph(canvas, rect, color);
}

}  // namespace kelm::kit
