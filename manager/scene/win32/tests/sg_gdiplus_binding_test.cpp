// Loading and binding GDI+ at the scene's start-up: only the system copy,
// and a missing library or entry stops start-up with its name.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "classlib/sysutils.h"
#include "scene/sg_canvas_gdiplus.h"

namespace kelm::scene {
namespace {

std::string ModulePath(HMODULE m) {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(m, path, MAX_PATH);
  return path;
}

std::string Lower(std::string s) {
  for (char& c : s) c = char(tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string SystemFolder() {
  char folder[MAX_PATH] = {};
  GetSystemDirectoryA(folder, MAX_PATH);
  return Lower(folder);
}

// The message start-up fails with, or "" when it succeeds.
std::string StartupError() {
  try {
    sgStartupScene();
    return {};
  } catch (const classlib::Exception& e) {
    return e.what();
  }
}

TEST(GdiPlusBinding, StartsFromTheSystemFolderDespiteAPlantedCopy) {
  // A file named like the library beside the program.
  const std::string exe = ModulePath(nullptr);
  const std::string planted = exe.substr(0, exe.find_last_of('\\') + 1) + "gdiplus.dll";
  FILE* f = std::fopen(planted.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("not a library", f);
  std::fclose(f);

  const std::string error = StartupError();
  std::remove(planted.c_str());
  ASSERT_EQ(error, "");
  EXPECT_TRUE(gdip::Started());
  EXPECT_EQ(Lower(ModulePath(gdip::LibraryHandle())), SystemFolder() + "\\gdiplus.dll");
  ASSERT_TRUE(DefaultCanvasClassSet());
  TsgCanvas* c = sgCreateCanvas(3, 2);
  ASSERT_NE(dynamic_cast<TsgCanvasGdiPlus*>(c), nullptr);
  EXPECT_EQ(c->Width(), 3);
  classlib::Free(c);

  sgStartupScene();  // counted: one more start, one more stop
  sgShutdownScene();
  EXPECT_TRUE(gdip::Started());
  sgShutdownScene();
  EXPECT_FALSE(gdip::Started());
  EXPECT_EQ(gdip::LibraryHandle(), nullptr);
  sgShutdownScene();  // without a start: nothing
  EXPECT_THROW(classlib::New<TsgCanvasGdiPlus>(2, 2), classlib::Exception);
}

TEST(GdiPlusBinding, MissingLibraryOrEntryIsNamed) {
  struct Case {
    const char* library;
    const char* entry;
    const char* named;
  };
  const Case cases[] = {
      {"vh_no_such_library.dll", "", "vh_no_such_library.dll"},
      {"", "GdipNoSuchEntryPoint", "GdipNoSuchEntryPoint"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.named);
    gdip::SetTestLibraryName(k.library);
    gdip::SetTestExtraEntry(k.entry);
    const std::string error = StartupError();
    gdip::SetTestLibraryName("");
    gdip::SetTestExtraEntry("");
    EXPECT_NE(error.find(k.named), std::string::npos) << error;
    EXPECT_FALSE(gdip::Started());
    EXPECT_EQ(gdip::LibraryHandle(), nullptr);
    // The failed start counts for nothing: the next one works.
    ASSERT_EQ(StartupError(), "");
    sgShutdownScene();
  }
}

// A bitmap's GDI+ image from an earlier run of the library is neither
// drawn nor freed again after a restart: a new one is made.
TEST(GdiPlusBinding, BitmapHandlesDoNotCrossARestart) {
  ASSERT_EQ(StartupError(), "");
  auto* src = classlib::New<TsgBitmap>(1, 1);
  src->Bits()[0] = 0xFF00FF00u;
  auto* first = TsgCanvasGdiPlus::UpdateBitmapHandle(src);
  ASSERT_NE(first, nullptr);
  const void* handle = src->NativeHandle();
  sgShutdownScene();
  ASSERT_EQ(StartupError(), "");
  auto* target = classlib::New<TsgBitmap>(2, 2);
  auto* canvas = classlib::New<TsgCanvasGdiPlus>(target);
  canvas->DrawBitmap(src, {0, 0, 1, 1}, {0, 0, 2, 2}, 1, true);
  EXPECT_NE(src->NativeHandle(), handle);
  EXPECT_EQ(target->Bits()[3], 0xFF00FF00u);
  classlib::Free(canvas);
  classlib::Free(target);
  classlib::Free(src);
  sgShutdownScene();
}

TEST(GdiPlusBinding, EncoderClsidByExactMimeType) {
  ASSERT_EQ(StartupError(), "");
  // The PNG encoder's published CLSID.
  const CLSID png = {0x557CF406, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
  CLSID clsid{};
  EXPECT_GE(gdip::GetEncoderClsid(u"image/png", clsid), 0);
  EXPECT_TRUE(IsEqualCLSID(clsid, png));
  CLSID untouched = png;
  EXPECT_EQ(gdip::GetEncoderClsid(u"image/PNG", untouched), -1);  // exact text only
  EXPECT_EQ(gdip::GetEncoderClsid(u"image/x-none", untouched), -1);
  EXPECT_TRUE(IsEqualCLSID(untouched, png));
  sgShutdownScene();
  EXPECT_EQ(gdip::GetEncoderClsid(u"image/png", untouched), -1);  // stopped
}

}  // namespace
}  // namespace kelm::scene
