// Finding, binding, starting and stopping GDI+.
#include "scene/sg_gdiplus_api.h"

#include <algorithm>
#include <string>
#include <vector>

#include "classlib/sysutils.h"

namespace kelm::scene::gdip {
namespace {

struct Binding {
  Api api;
  HMODULE library = nullptr;
  ULONG_PTR token = 0;
  GpFontFamily* sansSerif = nullptr;
  int starts = 0;
  unsigned session = 0;
  std::string testLibrary;
  std::string testExtraEntry;
} g;

// Only the system folder: a copy planted beside the program (or anywhere on
// the search path) must never be the one that draws.
std::string SystemLibraryPath(const std::string& name) {
  char folder[MAX_PATH];
  const UINT n = GetSystemDirectoryA(folder, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  return std::string(folder, n) + "\\" + name;
}

[[noreturn]] void Fail(const std::string& message) { throw classlib::Exception(message.c_str()); }

void Unbind() {
  if (g.library) FreeLibrary(g.library);
  g.library = nullptr;
  g.api = Api{};
  g.token = 0;
}

template <class F>
void BindOne(F& field, const char* name, const std::string& library) {
  FARPROC proc = GetProcAddress(g.library, name);
  if (!proc) {
    const std::string missing = name;
    Unbind();
    Fail(library + " lacks the entry point " + missing);
  }
  field = reinterpret_cast<F>(reinterpret_cast<void*>(proc));
}

void Bind(const std::string& library) {
  const std::string path = SystemLibraryPath(library);
  g.library = path.empty() ? nullptr : LoadLibraryA(path.c_str());
  if (!g.library) Fail("Can't load " + library);
#define VH_GDIP_BIND(name, params) BindOne(g.api.name, #name, library);
  VH_GDIP_ENTRIES(VH_GDIP_BIND)
#undef VH_GDIP_BIND
  BindOne(g.api.GdiplusShutdown, "GdiplusShutdown", library);
  if (!g.testExtraEntry.empty()) {
    void (*extra)() = nullptr;
    BindOne(extra, g.testExtraEntry.c_str(), library);
  }
}

}  // namespace

const Api& Gdip() { return g.api; }
bool Started() { return g.token != 0; }
unsigned Session() { return g.session; }
HMODULE LibraryHandle() { return g.library; }

void Startup() {
  if (g.starts++ > 0) return;
  try {
    const std::string library = g.testLibrary.empty() ? "gdiplus.dll" : g.testLibrary;
    Bind(library);
    const GpStartupInput input{1, nullptr, FALSE, FALSE};
    ULONG_PTR token = 0;
    const GpStatus status = g.api.GdiplusStartup(&token, &input, nullptr);
    if (status != Ok || token == 0) {
      Unbind();
      Fail("Can't start " + library + " (status " + std::to_string(status) + ")");
    }
    g.token = token;
    ++g.session;
  } catch (...) {
    g.starts = 0;
    throw;
  }
}

void Shutdown() {
  if (g.starts == 0 || --g.starts > 0) return;
  if (!g.library) return;
  if (g.sansSerif) g.api.GdipDeleteFontFamily(g.sansSerif);
  g.sansSerif = nullptr;
  if (g.token) g.api.GdiplusShutdown(g.token);
  Unbind();
}

GpFontFamily* GenericSansSerif() {
  if (!g.sansSerif && Started()) g.api.GdipGetGenericFontFamilySansSerif(&g.sansSerif);
  return g.sansSerif;
}

GpFontFamily* AnyInstalledFamily() {
  GpFontCollection* installed = nullptr;
  INT count = 0;
  if (!Started() || g.api.GdipNewInstalledFontCollection(&installed) != Ok || !installed ||
      g.api.GdipGetFontCollectionFamilyCount(installed, &count) != Ok || count <= 0)
    return nullptr;
  std::vector<GpFontFamily*> families(static_cast<size_t>(count));
  INT found = 0;
  if (g.api.GdipGetFontCollectionFamilyList(installed, count, families.data(), &found) != Ok)
    return nullptr;
  families.resize(static_cast<size_t>(std::clamp(found, INT(0), count)));
  for (GpFontFamily* family : families) {
    BOOL regular = FALSE;
    if (family && g.api.GdipIsStyleAvailable(family, 0, &regular) == Ok && regular) return family;
  }
  return families.empty() ? nullptr : families.front();
}

void SetTestLibraryName(const std::string& name) { g.testLibrary = name; }
void SetTestExtraEntry(const std::string& name) { g.testExtraEntry = name; }

}  // namespace kelm::scene::gdip
