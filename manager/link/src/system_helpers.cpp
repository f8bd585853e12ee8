#include "link/system_helpers.h"

// The second needs <windows.h> first.
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include "classlib/dialogs.h"
#include "classlib/resources.h"
#include "classlib/sysutils.h"
#include "link/system_seams.h"
#include "texts/unit_language.h"

namespace kelm::link {

namespace {

LPCWSTR W(const std::u16string& s) { return reinterpret_cast<LPCWSTR>(s.c_str()); }

bool wow64Switches = false;

}  // namespace

TSystemSeams SystemCalls() {
  return TSystemSeams{&::ExitWindowsEx, &::ShellExecuteExW, &::WinExec};
}

TSystemSeams& SystemSeams() {
  static TSystemSeams seams = SystemCalls();
  return seams;
}

void InitSystemHelpers() {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  wow64Switches = kernel != nullptr &&
                  GetProcAddress(kernel, "Wow64DisableWow64FsRedirection") != nullptr &&
                  GetProcAddress(kernel, "Wow64RevertWow64FsRedirection") != nullptr;
  // Stays loaded for ShellOpen; a missing file must not raise a system box.
  const UINT previous = SetErrorMode(SEM_NOOPENFILEERRORBOX);
  LoadLibraryW(L"shell32.dll");
  SetErrorMode(previous);
}

bool HasWow64RedirectionSwitches() { return wow64Switches; }

std::u16string SystemMessageText(uint32_t messageId) {
  wchar_t buffer[512] = {};  // 1,024 bytes
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ARGUMENT_ARRAY,
      nullptr, messageId, 0, buffer, sizeof buffer / sizeof buffer[0], nullptr);
  return CutMessageTail(std::u16string_view(reinterpret_cast<const char16_t*>(buffer), n));
}

int GetWindowsVersionCode() {
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExW(&info)) return 10;
#pragma GCC diagnostic pop
  if (info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) return 1;
  if (info.dwPlatformId != VER_PLATFORM_WIN32_NT) return 10;
  if (info.dwMajorVersion <= 4) return 4;
  struct Row {
    DWORD major, minor;
    int code;
  };
  static constexpr Row kCodes[] = {{5, 0, 5}, {5, 1, 6}, {5, 2, 7}, {6, 0, 8}, {6, 1, 9}};
  for (const Row& row : kCodes) {
    if (row.major == info.dwMajorVersion && row.minor == info.dwMinorVersion) return row.code;
  }
  return 10;
}

std::u16string GetSystemDir(bool withBackslash) {
  wchar_t buffer[512] = {};  // 1,024 bytes
  UINT n = GetSystemDirectoryW(buffer, sizeof buffer / sizeof buffer[0]);
  if (n >= sizeof buffer / sizeof buffer[0]) n = 0;
  return SystemDirWithFlag(std::u16string_view(reinterpret_cast<const char16_t*>(buffer), n),
                           withBackslash);
}

void ShellOpen(const std::u16string& path) {
  if (IsBlankPath(path)) return;
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_DDEWAIT | SEE_MASK_FLAG_NO_UI;
  info.lpVerb = L"Open";
  info.lpFile = W(path);  // untrimmed, as given
  info.nShow = SW_SHOWNORMAL;
  if (SystemSeams().ShellExecuteExW(&info)) {
    if (info.hProcess != nullptr) CloseHandle(info.hProcess);  // we never wait on it
    return;
  }
  // No program for a web page: let the user pick one.
  if (IsHtmlDocument(path))
    SystemSeams().WinExec("RunDLL32.exe Shell32.dll,OpenAs_RunDLL *.htm", SW_SHOWNORMAL);
}

void ShowWarning(const std::u16string& text) {
  classlib::ShowMessageBox(nullptr, text, texts::LangText(texts::ltWarning), MB_ICONWARNING);
}

void DebugPrint(const std::u16string& text) { OutputDebugStringW(W(text)); }

bool EnableShutdownPrivilege() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
    return false;
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  BOOL adjusted =
      LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &privileges.Privileges[0].Luid);
  if (adjusted) adjusted = AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
  CloseHandle(token);
  return adjusted != FALSE;
}

bool RebootSystem() {
  if (GetVersion() < 0x80000000u && !EnableShutdownPrivilege()) {  // NT platform
    throw classlib::Exception(u"Fail to adjust privileges!");
  }
  return SystemSeams().ExitWindowsEx(EWX_REBOOT, 0) != FALSE;
}

}  // namespace kelm::link
