#include "link/engine_records.h"

#include <cstring>

#include "classlib/codepage.h"

namespace kelm::link {

namespace {

template <typename Request>
void NameVolume(Request& request, char16_t driveLetter) {
  request.VolumeNameKind = kVolumeNameIsDriveLetter;
  request.VolumeName[0] = driveLetter;
  request.VolumeName[1] = 0;
}

template <std::size_t N>
void PutField(char (&field)[N], std::u16string_view text) {
  const std::string bytes = FieldText(text, N);
  std::memset(field, 0, N);
  std::memcpy(field, bytes.data(), bytes.size());
}

// Length of the UTF-16 character starting at text[i]: two for a surrogate
// pair, so a pair is converted (and kept or dropped) whole.
std::size_t CharLength(std::u16string_view text, std::size_t i) {
  const char16_t c = text[i];
  if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
      text[i + 1] <= 0xDFFF) {
    return 2;
  }
  return 1;
}

}  // namespace

std::string FieldText(std::u16string_view text, std::size_t fieldBytes) {
  std::string out;
  if (fieldBytes == 0) return out;
  const std::size_t room = fieldBytes - 1;  // the terminating zero stays
  // Character by character, since only the code page knows how many bytes
  // each character takes.
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = CharLength(text, i);
    const std::string bytes = classlib::WideToAnsi(text.substr(i, n));
    if (out.size() + bytes.size() > room) break;
    out += bytes;
    i += n;
  }
  // A zero byte would end the field early on the reading side; cut there.
  const std::size_t zero = out.find('\0');
  if (zero != std::string::npos) out.resize(zero);
  return out;
}

VolumeRequest MakeVolumeRequest(char16_t driveLetter) {
  VolumeRequest request;
  std::memset(&request, 0, sizeof request);
  NameVolume(request, driveLetter);
  return request;
}

VolumeRequest MakeVolumeRequest(char16_t driveLetter, const RecordTime& now) {
  VolumeRequest request = MakeVolumeRequest(driveLetter);
  request.CreateTime = now;
  return request;
}

VolumeRequest MakeCreateRequest(char16_t driveLetter, std::u16string_view name,
                                std::u16string_view remark, const RecordTime& now,
                                const RecordGuid& guid) {
  VolumeRequest request = MakeVolumeRequest(driveLetter, now);
  PutField(request.SnapshotName, name.empty() ? std::u16string_view(kDefaultSnapshotName) : name);
  request.SnapshotGuid = guid;
  PutField(request.SnapshotRemark, remark);
  return request;
}

VolumeRequest MakeDeleteRequest(char16_t driveLetter, uint32_t number) {
  VolumeRequest request = MakeVolumeRequest(driveLetter);
  request.SnapshotNumber = number;
  return request;
}

RollbackRequest MakeRollbackRequest(char16_t driveLetter, const SnapshotSlot& target, bool cancel) {
  RollbackRequest request;
  std::memset(&request, 0, sizeof request);
  request.Schedule = cancel ? 0 : 1;
  request.TargetNumber = static_cast<uint8_t>(target.Number);
  std::memcpy(&request.TargetGuid, &target.Guid, sizeof request.TargetGuid);
  std::memcpy(&request.TargetCreateTime, &target.CreateTime, sizeof request.TargetCreateTime);
  request.ReclaimFlag = 1;
  request.SpareFlag = 0;
  NameVolume(request, driveLetter);
  return request;
}

std::vector<uint8_t> MakeHeaderWrite(char16_t driveLetter, const EngineHeader& header) {
  std::vector<uint8_t> buffer(kHeaderWriteBytes);
  const VolumeRequest request = MakeVolumeRequest(driveLetter);
  std::memcpy(buffer.data(), &request, sizeof request);
  std::memcpy(buffer.data() + sizeof request, &header, sizeof header);
  return buffer;
}

}  // namespace kelm::link
