// Kelm.exe as real processes on the shared Wine desktop, over the system's
// device (no engine is installed here): the connect error in a topmost box
// without owner, a second start ending at once, a mutex held by a
// windowless helper, the refusal of Windows 2000 through Wine's
// per-program version, and the manifest in the file.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/kelm_startup.h"

namespace kelm::app {
namespace {

// The program beside this test's own build folder.
std::wstring KelmPath() {
  std::wstring path = L"Z:" KELM_EXE;
  for (auto& c : path)
    if (c == L'/') c = L'\\';
  return path;
}

struct Process {
  PROCESS_INFORMATION info{};
  bool Start(const std::wstring& exe) {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    std::wstring cmd = L"\"" + exe + L"\"";
    return CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &si, &info) != FALSE;
  }
  // The exit code once it ended within ms, else STILL_ACTIVE.
  DWORD WaitExit(DWORD ms) {
    if (WaitForSingleObject(info.hProcess, ms) != WAIT_OBJECT_0) return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(info.hProcess, &code);
    return code;
  }
  ~Process() {
    if (!info.hProcess) return;
    if (WaitForSingleObject(info.hProcess, 0) != WAIT_OBJECT_0) {
      TerminateProcess(info.hProcess, 9);
      WaitForSingleObject(info.hProcess, 5000);
    }
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
  }
};

struct Found {
  DWORD pid;
  const wchar_t* cls;
  const wchar_t* title;
  HWND wnd;
};
BOOL CALLBACK FindProc(HWND wnd, LPARAM lp) {
  auto* f = reinterpret_cast<Found*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(wnd, &pid);
  wchar_t cls[64] = {}, title[128] = {};
  GetClassNameW(wnd, cls, 64);
  GetWindowTextW(wnd, title, 128);
  if (pid == f->pid && (!f->cls || wcscmp(cls, f->cls) == 0) && wcscmp(title, f->title) == 0) {
    f->wnd = wnd;
    return FALSE;
  }
  return TRUE;
}
// A top-level window of the process, waited for up to ms.
HWND WaitWindow(DWORD pid, const wchar_t* cls, const wchar_t* title, DWORD ms) {
  const DWORD end = GetTickCount() + ms;
  do {
    Found f{pid, cls, title, nullptr};
    EnumWindows(FindProc, reinterpret_cast<LPARAM>(&f));
    if (f.wnd) return f.wnd;
    Sleep(20);
  } while (static_cast<int32_t>(end - GetTickCount()) > 0);
  return nullptr;
}

std::wstring BoxText(HWND box) {
  wchar_t text[1024] = {};
  GetDlgItemTextW(box, 0xFFFF, text, 1024);  // the message box's text control
  return text;
}

void Dismiss(HWND box) { PostMessageW(box, WM_COMMAND, IDOK, 0); }

TEST(KelmProcess, WithoutTheEngineItWarnsTopmostThenStaysAndASecondStartEndsAtOnce) {
  Process first;
  ASSERT_TRUE(first.Start(KelmPath()));
  HWND box = WaitWindow(first.info.dwProcessId, L"#32770", L"Warning", 20000);
  ASSERT_NE(box, nullptr) << "no connect error box";
  EXPECT_EQ(BoxText(box).rfind(L"Connect Error:", 0), 0u);
  EXPECT_EQ(GetWindow(box, GW_OWNER), nullptr);
  EXPECT_NE(GetWindowLongW(box, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
  Dismiss(box);
  // It lives on in the tray, its hidden windows titled for a second start.
  HWND main = WaitWindow(first.info.dwProcessId, nullptr, L"Quorvel Varnholt", 10000);
  ASSERT_NE(main, nullptr);
  EXPECT_FALSE(IsWindowVisible(main));
  EXPECT_EQ(first.WaitExit(300), static_cast<DWORD>(STILL_ACTIVE));

  Process second;
  ASSERT_TRUE(second.Start(KelmPath()));
  EXPECT_EQ(second.WaitExit(20000), 0u) << "the second start did not end";
  EXPECT_EQ(WaitWindow(second.info.dwProcessId, L"#32770", L"Warning", 0), nullptr);
  EXPECT_EQ(first.WaitExit(0), static_cast<DWORD>(STILL_ACTIVE)) << "the first one keeps running";
}

TEST(KelmProcess, AMutexHeldByAWindowlessHelperGivesTheSecondInstanceBox) {
  HANDLE held = CreateMutexA(nullptr, FALSE, kInstanceName);
  ASSERT_NE(held, nullptr);
  Process kelm;
  ASSERT_TRUE(kelm.Start(KelmPath()));
  HWND box = WaitWindow(kelm.info.dwProcessId, L"#32770", L"Warning", 20000);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(BoxText(box), L"You can not run the program for twince!");
  EXPECT_EQ(GetWindow(box, GW_OWNER), nullptr);
  Dismiss(box);
  EXPECT_EQ(kelm.WaitExit(10000), 1u);
  CloseHandle(held);
}

TEST(KelmProcess, ACopySetToWindows2000IsRefused) {
  wchar_t dir[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, dir);
  const std::wstring copy = std::wstring(dir) + L"KelmOld.exe";
  ASSERT_TRUE(CopyFileW(KelmPath().c_str(), copy.c_str(), FALSE));
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\KelmOld.exe", 0,
                            nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const wchar_t version[] = L"win2k";
  RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                 sizeof version);
  RegCloseKey(key);
  {
    Process old;
    ASSERT_TRUE(old.Start(copy));
    HWND box = WaitWindow(old.info.dwProcessId, L"#32770", L"Warning", 20000);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(BoxText(box), L"The product does not support Win9x/2000!");
    Dismiss(box);
    EXPECT_EQ(old.WaitExit(10000), 1u);
  }
  RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\KelmOld.exe");
  DeleteFileW(copy.c_str());
}

TEST(KelmProcess, TheManifestAsksForAdministratorRights) {
  HMODULE file = LoadLibraryExW(KelmPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(file, nullptr);
  HRSRC res = FindResourceW(file, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  ASSERT_NE(res, nullptr);
  const auto* bytes = static_cast<const char*>(LockResource(LoadResource(file, res)));
  const std::string manifest(bytes, SizeofResource(file, res));
  EXPECT_NE(manifest.find("requestedExecutionLevel level=\"requireAdministrator\""),
            std::string::npos);
  FreeLibrary(file);
}

}  // namespace
}  // namespace kelm::app
