// The engine link's request records, built exactly as the engine reads them
// (vh/records.h). Portable: no system calls; the caller supplies the time,
// the GUID and the code page (classlib's active one).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "vh/records.h"

namespace kelm::link {

// The records and constants shared with the engine, under their own names.
using namespace vh;

// The name a snapshot gets when the user leaves it empty.
inline constexpr char16_t kDefaultSnapshotName[] = u"New Snapshot";

// Text for a fixed 8-bit field of `fieldBytes`: converted to the active code
// page and cut after the last whole character that still leaves room for the
// terminating zero, so a double-byte character is never split. The answer
// holds at most fieldBytes - 1 bytes.
std::string FieldText(std::u16string_view text, std::size_t fieldBytes);

// A zero-filled VolumeRequest naming the volume by its drive letter:
// VolumeNameKind 1, VolumeName the letter and a terminating zero.
VolumeRequest MakeVolumeRequest(char16_t driveLetter);
// The same, with CreateTime set (the start of temporary mode sends this).
VolumeRequest MakeVolumeRequest(char16_t driveLetter, const RecordTime& now);

// The create request: CreateTime, SnapshotName (kDefaultSnapshotName when
// `name` is empty), SnapshotGuid and SnapshotRemark; name and remark are cut
// to their fields by FieldText.
VolumeRequest MakeCreateRequest(char16_t driveLetter, std::u16string_view name,
                                std::u16string_view remark, const RecordTime& now,
                                const RecordGuid& guid);

VolumeRequest MakeDeleteRequest(char16_t driveLetter, uint32_t number);

// Schedules a rollback to `target` (its descriptor as listed), or cancels
// the scheduled one when `cancel` is set; the target's number then, its
// identity (GUID and creation time) and the reclaim flag are sent either way.
RollbackRequest MakeRollbackRequest(char16_t driveLetter, const SnapshotSlot& target, bool cancel);

// The header write: one kHeaderWriteBytes buffer, the VolumeRequest in
// bytes 0-1,023 and the header after it.
std::vector<uint8_t> MakeHeaderWrite(char16_t driveLetter, const EngineHeader& header);

}  // namespace kelm::link
