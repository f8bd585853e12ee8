#include "link/engine_client.h"

// The second needs <windows.h> first.
// clang-format off
#include <windows.h>
#include <objbase.h>
// clang-format on

#include <cstring>
#include <memory>
#include <vector>

#include "classlib/resources.h"
#include "classlib/sysutils.h"
#include "link/engine_records.h"
#include "link/system_helpers.h"
#include "texts/unit_language.h"

namespace kelm::link {

namespace {

[[noreturn]] void RaiseWithError(std::u16string_view format, uint32_t error) {
  throw classlib::Exception::CreateFmt(format, {SystemMessageText(error)});
}

std::u16string DriveRoot(char16_t drive) {
  // "\\.\%s:\" with the drive letter.
  return classlib::Format(u"\\\\.\\%s:\\", {std::u16string(1, drive)});
}

}  // namespace

EngineHandle OpenEngineDevice() {
  uint32_t error = 0;
  EngineHandle handle = EngineDevice().Open(kEngineDevicePath, &error);
  if (handle == InvalidEngineHandle()) {
    throw classlib::Exception(u"Connect Error:" + SystemMessageText(error) + u"\r\n" +
                              texts::LangText(texts::ltNotInstalled));
  }
  return handle;
}

void CloseEngineDevice(EngineHandle handle) {
  if (handle != InvalidEngineHandle() && handle != nullptr) EngineDevice().Close(handle);
}

void SendEngineRequest(EngineHandle handle, uint32_t code, void* in, uint32_t inLen, void* out,
                       uint32_t outLen, std::u16string_view failureFormat) {
  uint32_t returned = 0;
  uint32_t error = 0;
  if (!EngineDevice().Control(handle, code, in, inLen, out, outLen, &returned, &error)) {
    RaiseWithError(failureFormat, error);
  }
}

bool QueryEngineStatus(EngineHandle handle, char16_t drive, EngineStatus& status) {
  VolumeRequest request = MakeVolumeRequest(drive);
  std::memset(&status, 0, sizeof status);
  SendEngineRequest(handle, IOCTL_ENGINE_QUERY_STATUS, &request, sizeof request, &status,
                    sizeof status, u"Fail to get the version :%s");
  return true;
}

bool CreateSnapshot(EngineHandle handle, char16_t drive, std::u16string_view name,
                    std::u16string_view remark) {
  FlushVolume(drive);  // best effort: the engine flushes again itself
  VolumeRequest request =
      MakeCreateRequest(drive, name, remark, LocalRecordTime(), NewRecordGuid());
  SendEngineRequest(handle, IOCTL_ENGINE_CREATE_SNAPSHOT, &request, sizeof request, &request,
                    sizeof request, u"Create Error:%s");
  return true;
}

bool DeleteSnapshot(EngineHandle handle, char16_t drive, uint32_t number) {
  VolumeRequest request = MakeDeleteRequest(drive, number);
  SendEngineRequest(handle, IOCTL_ENGINE_DELETE_SNAPSHOT, &request, sizeof request, &request,
                    sizeof request, u"Delete Error:%s");
  return true;
}

bool SetRollbackTarget(EngineHandle handle, char16_t drive, const SnapshotSlot& target,
                       bool cancel) {
  RollbackRequest request = MakeRollbackRequest(drive, target, cancel);
  SendEngineRequest(handle, IOCTL_ENGINE_SET_ROLLBACK, &request, sizeof request, &request,
                    sizeof request, u"Control Error:%s");
  return true;
}

bool ReadEngineHeader(EngineHandle handle, char16_t drive, EngineHeader& header) {
  VolumeRequest request = MakeVolumeRequest(drive);
  std::memset(&header, 0, sizeof header);
  SendEngineRequest(handle, IOCTL_ENGINE_READ_HEADER, &request, sizeof request, &header,
                    sizeof header, u"Read Error:%s");
  return true;
}

bool WriteEngineHeader(EngineHandle handle, char16_t drive, const EngineHeader& header) {
  // One buffer for the call, freed after it.
  std::vector<uint8_t> buffer = MakeHeaderWrite(drive, header);
  SendEngineRequest(handle, IOCTL_ENGINE_WRITE_HEADER, buffer.data(),
                    static_cast<uint32_t>(buffer.size()), nullptr, 0, u"Write Error:%s");
  return true;
}

bool FlushVolume(char16_t drive) {
  // Every failure here is dropped: the flush only narrows what the engine
  // must copy, and the create request goes ahead either way.
  try {
    const std::u16string root = DriveRoot(drive);
    HANDLE volume = CreateFileW(reinterpret_cast<LPCWSTR>(root.c_str()),
                                GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (volume == INVALID_HANDLE_VALUE) RaiseWithError(u"CreateFile %s", GetLastError());
    const BOOL flushed = FlushFileBuffers(volume);
    const DWORD error = GetLastError();
    CloseHandle(volume);
    if (!flushed) RaiseWithError(u"FlushFileBuffers %s", error);
    return true;
  } catch (const classlib::Exception&) {
    return false;
  }
}

RecordTime LocalRecordTime() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  RecordTime time;
  static_assert(sizeof time == sizeof now, "SYSTEMTIME is the record's time");
  std::memcpy(&time, &now, sizeof time);
  return time;
}

RecordGuid NewRecordGuid() {
  GUID guid{};
  CoCreateGuid(&guid);
  RecordGuid out;
  static_assert(sizeof out == sizeof guid, "GUID is the record's GUID");
  std::memcpy(&out, &guid, sizeof out);
  return out;
}

}  // namespace kelm::link
