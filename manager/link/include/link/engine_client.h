// The engine client: each engine operation as one control request on the
// engine's control device, synchronous, on the GUI thread. Failures raise
// classlib::Exception with the operation's text and the system's text for
// the error the request left.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "link/engine_device.h"
#include "vh/records.h"

namespace kelm::link {

// The records and codes shared with the engine, under their own names.
using namespace vh;

inline constexpr char16_t kEngineDevicePath[] = u"\\\\.\\QuorvelVH";

// The control codes the client holds (functions 0x800-0x809 and 0x812),
// computed as CTL_CODE(0x8000, function, METHOD_BUFFERED, FILE_ANY_ACCESS).
constexpr uint32_t CtlCode(uint32_t deviceType, uint32_t function, uint32_t method,
                           uint32_t access) {
  return (deviceType << 16) | (access << 14) | (function << 2) | method;
}
static_assert(CtlCode(0x8000, 0x800, 0, 0) == IOCTL_ENGINE_QUERY_STATUS, "client and engine agree");
static_assert(CtlCode(0x8000, 0x806, 0, 0) == IOCTL_ENGINE_WRITE_HEADER, "client and engine agree");

// Opens \\.\QuorvelVH. Failure raises "Connect Error:" + the system's text
// + CR LF + ltNotInstalled; the caller keeps InvalidEngineHandle() then.
EngineHandle OpenEngineDevice();
void CloseEngineDevice(EngineHandle handle);

// One request on `handle`; a failure raises `failureFormat` ("...%s") filled
// with the system's text for the error. The window's start of temporary
// mode sends through this too.
void SendEngineRequest(EngineHandle handle, uint32_t code, void* in, uint32_t inLen, void* out,
                       uint32_t outLen, std::u16string_view failureFormat);

bool QueryEngineStatus(EngineHandle handle, char16_t drive, EngineStatus& status);
// Flushes the volume first; name "New Snapshot" when empty; the name and
// remark are cut to their fields (23 and 47 bytes and a zero).
bool CreateSnapshot(EngineHandle handle, char16_t drive, std::u16string_view name,
                    std::u16string_view remark);
bool DeleteSnapshot(EngineHandle handle, char16_t drive, uint32_t number);
// Schedules the rollback to `target`, the snapshot's descriptor as the
// header listed it, or cancels it when `cancel` is set. The engine finds the
// target by its identity (GUID and creation time), so an oldest-drop the
// caller has not seen yet never turns it into the next newer snapshot.
bool SetRollbackTarget(EngineHandle handle, char16_t drive, const SnapshotSlot& target,
                       bool cancel);
bool ReadEngineHeader(EngineHandle handle, char16_t drive, EngineHeader& header);
bool WriteEngineHeader(EngineHandle handle, char16_t drive, const EngineHeader& header);
// Flushes \\.\X:\; every failure is swallowed, the result says whether it
// flushed.
bool FlushVolume(char16_t drive);

// The local time and a new GUID as the records carry them.
RecordTime LocalRecordTime();
RecordGuid NewRecordGuid();

}  // namespace kelm::link
