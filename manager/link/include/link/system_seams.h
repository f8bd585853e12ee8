// The system calls behind the restart and the shell, replaceable so that
// tests neither restart the machine nor start programs. Everything else the
// helpers call is the system's own.
#pragma once

// The second needs <windows.h> first.
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

namespace kelm::link {

struct TSystemSeams {
  BOOL(WINAPI* ExitWindowsEx)(UINT flags, DWORD reason);
  BOOL(WINAPI* ShellExecuteExW)(SHELLEXECUTEINFOW* info);
  UINT(WINAPI* WinExec)(LPCSTR commandLine, UINT show);
};

// The calls in use; tests assign their own and put back the previous ones.
TSystemSeams& SystemSeams();
// The system's own calls.
TSystemSeams SystemCalls();

}  // namespace kelm::link
