#include "link/fs_filter.h"

#include <cstring>

#include "classlib/resources.h"
#include "classlib/sysutils.h"
#include "link/system_helpers.h"
#include "texts/unit_language.h"

namespace kelm::link {

namespace {

HANDLE port = nullptr;
HANDLE completionPort = nullptr;
const TFltLib* replacement = nullptr;

TFltLib BindFltLib() {
  TFltLib lib{};
  HMODULE module = LoadLibraryW(L"fltlib.dll");
  if (module == nullptr) return lib;
  lib.FilterConnectCommunicationPort =
      reinterpret_cast<decltype(lib.FilterConnectCommunicationPort)>(
          reinterpret_cast<void*>(GetProcAddress(module, "FilterConnectCommunicationPort")));
  lib.FilterSendMessage = reinterpret_cast<decltype(lib.FilterSendMessage)>(
      reinterpret_cast<void*>(GetProcAddress(module, "FilterSendMessage")));
  return lib;
}

HRESULT LastErrorResult() {
  const DWORD error = GetLastError();
  return HRESULT_FROM_WIN32(error != 0 ? error : ERROR_PROC_NOT_FOUND);
}

[[noreturn]] void RaiseNotConnected() {
  throw classlib::Exception::CreateFmt(texts::LangText(texts::ltServiceConnectFailed),
                                       {u"vexgard"});
}

void CloseIfOpen(HANDLE& handle) {
  if (handle != nullptr) CloseHandle(handle);
  handle = nullptr;
}

}  // namespace

const TFltLib& FltLib() {
  if (replacement != nullptr) return *replacement;
  static const TFltLib system = BindFltLib();
  return system;
}

const TFltLib* SetFltLib(const TFltLib* lib) {
  const TFltLib* previous = replacement;
  replacement = lib;
  return previous;
}

bool FsFilterConnected() { return port != nullptr; }

bool ConnectFsFilter() {
  if (port != nullptr) RaiseNotConnected();
  const TFltLib& lib = FltLib();
  HANDLE connected = nullptr;
  const HRESULT result = lib.FilterConnectCommunicationPort != nullptr
                             ? lib.FilterConnectCommunicationPort(kFsFilterPortName, 0, nullptr, 0,
                                                                  nullptr, &connected)
                             : LastErrorResult();
  if (FAILED(result)) {
    throw classlib::Exception::CreateFmt(texts::LangText(texts::ltServiceConnectFailedWith),
                                         {u"vexgard#", SystemMessageText(HRESULT_CODE(result))});
  }
  port = connected;
  // Nothing ever waits on this port; it is made because the service's
  // protocol expects the connection to have one.
  completionPort = CreateIoCompletionPort(port, nullptr, 0, 1);
  if (completionPort == nullptr) {
    const DWORD error = GetLastError();
    CloseIfOpen(port);  // else the next connect would find a stale port
    throw classlib::Exception::CreateFmt(texts::LangText(texts::ltServiceConnectFailedWith),
                                         {u"vexgard@", SystemMessageText(error)});
  }
  return true;
}

namespace {
// The send without the box: the first-snapshot notice runs inside the
// background refresh, where a box would bother the user and pump messages
// inside the refresh.
void SendQuietly(void* reply) {
  if (port == nullptr) RaiseNotConnected();
  FilterCommand command{1, 0};
  DWORD returned = 0;
  const TFltLib& lib = FltLib();
  const HRESULT result = lib.FilterSendMessage != nullptr
                             ? lib.FilterSendMessage(port, &command, sizeof command, reply,
                                                     kFsFilterReplyBytes, &returned)
                             : LastErrorResult();
  if (FAILED(result)) {
    const DWORD error = GetLastError();
    throw classlib::Exception::CreateFmt(
        texts::LangText(texts::ltServiceControlFailed),
        {u"fs Error 2025", static_cast<unsigned>(error), SystemMessageText(error)});
  }
}
}  // namespace

bool SendFsFilterCommand(void* reply) {
  try {
    SendQuietly(reply);
    return true;
  } catch (const classlib::Exception& e) {
    ShowWarning(u"Set Engine 1 FS:" + e.Message());
    throw;
  }
}

bool DisconnectFsFilter() {
  CloseIfOpen(port);
  CloseIfOpen(completionPort);
  return true;
}

void NotifyFsFilterOfFirstSnapshot() {
  try {
    ConnectFsFilter();
    uint16_t reply[kFsFilterReplyBytes / 2] = {0, 1};
    try {
      SendQuietly(reply);
    } catch (...) {
      DisconnectFsFilter();  // a failed send must not keep the port open
      throw;
    }
    DisconnectFsFilter();
  } catch (const std::exception& e) {
    DebugPrint(classlib::Utf8ToWide(e.what()));
  }
}

}  // namespace kelm::link
