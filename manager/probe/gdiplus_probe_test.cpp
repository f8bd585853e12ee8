// Kelm draws through GDI+ bound by name at start-up. This checks, under Wine,
// that a window can be created and that GDI+ found by name fills a rectangle
// into a 32-bit DIB section with exactly the pixels asked for.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>

namespace {

struct GdiplusStartupInput {
  UINT32 GdiplusVersion;
  void* DebugEventCallback;
  BOOL SuppressBackgroundThread;
  BOOL SuppressExternalCodecs;
};

using StartupFn = int(WINAPI*)(ULONG_PTR*, const GdiplusStartupInput*, void*);
using ShutdownFn = void(WINAPI*)(ULONG_PTR);
using CreateFromHdcFn = int(WINAPI*)(HDC, void**);
using CreateSolidFillFn = int(WINAPI*)(uint32_t, void**);
using FillRectangleIFn = int(WINAPI*)(void*, void*, INT, INT, INT, INT);
using DeleteFn = int(WINAPI*)(void*);

template <typename Fn>
Fn Bind(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

TEST(Win32Platform, CreatesAWindow) {
  HWND wnd = CreateWindowExW(0, L"STATIC", L"probe", WS_OVERLAPPEDWINDOW, 10, 10, 200, 100, nullptr,
                             nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(nullptr, wnd);
  RECT rc{};
  ASSERT_TRUE(GetWindowRect(wnd, &rc));
  EXPECT_EQ(200, rc.right - rc.left);
  EXPECT_TRUE(DestroyWindow(wnd));
}

TEST(Win32Platform, GdiplusBoundByNameFillsExactPixels) {
  HMODULE gdiplus = LoadLibraryW(L"gdiplus.dll");
  ASSERT_NE(nullptr, gdiplus);
  auto startup = Bind<StartupFn>(gdiplus, "GdiplusStartup");
  auto shutdown = Bind<ShutdownFn>(gdiplus, "GdiplusShutdown");
  auto createFromHdc = Bind<CreateFromHdcFn>(gdiplus, "GdipCreateFromHDC");
  auto createSolidFill = Bind<CreateSolidFillFn>(gdiplus, "GdipCreateSolidFill");
  auto fillRect = Bind<FillRectangleIFn>(gdiplus, "GdipFillRectangleI");
  auto deleteBrush = Bind<DeleteFn>(gdiplus, "GdipDeleteBrush");
  auto deleteGraphics = Bind<DeleteFn>(gdiplus, "GdipDeleteGraphics");
  ASSERT_TRUE(startup && shutdown && createFromHdc && createSolidFill && fillRect && deleteBrush &&
              deleteGraphics);

  GdiplusStartupInput input{1, nullptr, FALSE, FALSE};
  ULONG_PTR token = 0;
  ASSERT_EQ(0, startup(&token, &input, nullptr));

  const int w = 16, h = 8;
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;  // top row first
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP dib = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  ASSERT_NE(nullptr, dib);
  HGDIOBJ old = SelectObject(dc, dib);
  auto* pixels = static_cast<uint32_t*>(bits);
  for (int i = 0; i < w * h; ++i) pixels[i] = 0x00102030;

  void* graphics = nullptr;
  void* brush = nullptr;
  ASSERT_EQ(0, createFromHdc(dc, &graphics));
  ASSERT_EQ(0, createSolidFill(0xFFC08040, &brush));
  ASSERT_EQ(0, fillRect(graphics, brush, 4, 2, 6, 3));
  deleteBrush(brush);
  deleteGraphics(graphics);
  GdiFlush();

  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const bool inside = x >= 4 && x < 10 && y >= 2 && y < 5;
      const uint32_t rgb = pixels[y * w + x] & 0x00FFFFFF;
      EXPECT_EQ(inside ? 0x00C08040u : 0x00102030u, rgb) << "at " << x << "," << y;
    }
  }

  SelectObject(dc, old);
  DeleteObject(dib);
  DeleteDC(dc);
  shutdown(token);
}

}  // namespace
