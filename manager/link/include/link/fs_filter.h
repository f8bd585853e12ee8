// Client of the file-system filter service's communication port: connect,
// one 8-byte command, disconnect. The service lies outside this system; the
// filter library (fltlib.dll) is bound when first needed, as mingw-w64 has
// no import library for it.
#pragma once

#include <windows.h>

#include <cstdint>

#include "vh/layout.h"

namespace kelm::link {

#pragma pack(push, 1)
struct FilterCommand {
  uint32_t Command;   // 1
  uint32_t Argument;  // not used by the sender; sent as zero
};
#pragma pack(pop)
VH_CHECK_SIZE(FilterCommand, 8);
VH_CHECK_OFFSET(FilterCommand, Argument, 4);

inline constexpr wchar_t kFsFilterPortName[] = L"\\KRAVENHOLM2011";
inline constexpr DWORD kFsFilterReplyBytes = 100;

// The two entries of the filter library the client calls.
struct TFltLib {
  HRESULT(WINAPI* FilterConnectCommunicationPort)
  (LPCWSTR portName, DWORD options, LPCVOID context, WORD contextBytes,
   LPSECURITY_ATTRIBUTES security, HANDLE* port);
  HRESULT(WINAPI* FilterSendMessage)
  (HANDLE port, LPVOID in, DWORD inBytes, LPVOID out, DWORD outBytes, LPDWORD bytesReturned);
};
// The library in use: the one given to SetFltLib, else fltlib.dll's entries
// (entries it lacks answer a failure as if the port were missing).
const TFltLib& FltLib();
// Replaces the filter library (tests stand in for the service); none goes
// back to fltlib.dll. Answers the previous replacement or none.
const TFltLib* SetFltLib(const TFltLib* lib);

// Raise ltServiceConnectFailed ("vexgard") when connected already;
// ltServiceConnectFailedWith ("vexgard#", or
// "vexgard@" when the completion port fails) when the connection fails.
// A failed connection leaves no handle behind.
bool ConnectFsFilter();
// Sends FilterCommand with a 100-byte reply buffer. Without a connection
// raises ltServiceConnectFailed; a failed send raises ltServiceControlFailed
// ("fs Error 2025", the error
// number and its text). Either is first shown with ShowWarning("Set Engine
// 1 FS:" + message).
bool SendFsFilterCommand(void* reply);
// Closes the port and the completion port when present.
bool DisconnectFsFilter();
// Whether a port connection is held now.
bool FsFilterConnected();

// The one use: after the first snapshot, connect, send the command with a
// reply buffer starting with the u16 values 0 and 1, and disconnect on
// every path; failures go to the debugger output, never to the user.
void NotifyFsFilterOfFirstSnapshot();

}  // namespace kelm::link
