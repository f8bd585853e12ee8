// engine_report: boots the engine on a freshly installed disk image and
// drives it through its control device the way the manager would (plus a
// program's file writes on C: and reads of a snapshot drive), printing what
// the engine answered and what it left on the image. Exits non-zero when any
// step fails, so the main job can rely on it.
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "vh/enginehost/engine_host.h"

namespace {

using vh::EngineHeader;
using vh::SnapshotSlot;
using vh::VolumeRequest;
using vh::enginehost::EngineHost;

constexpr char16_t kLetter = u'C';
constexpr uint32_t kMountIndex = 6;  // drive "G"
constexpr char16_t kFileDir1[] = u"\\Users";
constexpr char16_t kFileDir2[] = u"\\Users\\Demo";
constexpr char16_t kFilePath[] = u"\\Users\\Demo\\notes.txt";
constexpr uint32_t kFileBytes = 3 * vh::kBlockBytes;

int g_failures = 0;

void Line(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Line(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::fputs("  ", stdout);
  std::vprintf(format, args);
  std::fputc('\n', stdout);
  va_end(args);
}

// One checked fact: printed with its verdict, counted when false.
bool Check(bool ok, const std::string& what) {
  std::printf("  [%s] %s\n", ok ? "OK" : "FAILED", what.c_str());
  if (!ok) ++g_failures;
  return ok;
}

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

std::string Answer(const hk::UserIoResult& r) {
  return "status " + Hex(static_cast<uint32_t>(r.status)) + ", " + std::to_string(r.bytesReturned) +
         " bytes back";
}

void Title(int step, const char* text) { std::printf("\n== Step %d: %s\n", step, text); }

VolumeRequest DriveRequest() {
  VolumeRequest request;
  std::memset(&request, 0, sizeof request);
  request.VolumeNameKind = vh::kVolumeNameIsDriveLetter;
  request.VolumeName[0] = kLetter;
  return request;
}

vh::RecordTime LocalNow() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  vh::RecordTime t{};
  t.Year = static_cast<uint16_t>(local.tm_year + 1900);
  t.Month = static_cast<uint16_t>(local.tm_mon + 1);
  t.DayOfWeek = static_cast<uint16_t>(local.tm_wday);
  t.Day = static_cast<uint16_t>(local.tm_mday);
  t.Hour = static_cast<uint16_t>(local.tm_hour);
  t.Minute = static_cast<uint16_t>(local.tm_min);
  t.Second = static_cast<uint16_t>(local.tm_sec);
  return t;
}

vh::RecordGuid NewGuid() {
  std::random_device seed;
  vh::RecordGuid g{};
  g.Data1 = seed();
  g.Data2 = static_cast<uint16_t>(seed());
  g.Data3 = static_cast<uint16_t>((seed() & 0x0FFF) | 0x4000);
  for (uint8_t& b : g.Data4) b = static_cast<uint8_t>(seed());
  g.Data4[0] = static_cast<uint8_t>((g.Data4[0] & 0x3F) | 0x80);
  return g;
}

std::string Text(const char* field, size_t width) {
  return std::string(field, strnlen(field, width));
}

// ---- Requests --------------------------------------------------------------------

hk::UserIoResult Status(EngineHost& host, vh::EngineStatus* status) {
  VolumeRequest request = DriveRequest();
  std::memset(status, 0, sizeof *status);
  return host.Control(vh::IOCTL_ENGINE_QUERY_STATUS, &request, sizeof request, status,
                      sizeof *status);
}

hk::UserIoResult ReadHeader(EngineHost& host, EngineHeader* header) {
  VolumeRequest request = DriveRequest();
  std::memset(header, 0, sizeof *header);
  return host.Control(vh::IOCTL_ENGINE_READ_HEADER, &request, sizeof request, header,
                      sizeof *header);
}

hk::UserIoResult CreateSnapshot(EngineHost& host, const char* name, const char* remark) {
  VolumeRequest request = DriveRequest();
  request.CreateTime = LocalNow();
  std::snprintf(request.SnapshotName, sizeof request.SnapshotName, "%s", name);
  std::snprintf(request.SnapshotRemark, sizeof request.SnapshotRemark, "%s", remark);
  request.SnapshotGuid = NewGuid();
  return host.Control(vh::IOCTL_ENGINE_CREATE_SNAPSHOT, &request, sizeof request, &request,
                      sizeof request);
}

hk::UserIoResult Rollback(EngineHost& host, bool schedule, uint8_t target) {
  vh::RollbackRequest request;
  std::memset(&request, 0, sizeof request);
  request.Schedule = schedule ? 1 : 0;
  request.TargetNumber = target;
  request.VolumeNameKind = vh::kVolumeNameIsDriveLetter;
  request.VolumeName[0] = kLetter;
  return host.Control(vh::IOCTL_ENGINE_SET_ROLLBACK, &request, sizeof request, &request,
                      sizeof request);
}

hk::UserIoResult NumberedRequest(EngineHost& host, uint32_t code, uint32_t number) {
  VolumeRequest request = DriveRequest();
  request.SnapshotNumber = number;
  request.MountDriveIndex = kMountIndex;
  return host.Control(code, &request, sizeof request, &request, sizeof request);
}

// ---- The header's snapshot list ------------------------------------------------------

// Snapshot k's descriptor: the newest lives apart from the slots.
const SnapshotSlot* Descriptor(const EngineHeader& h, uint32_t number) {
  if (number != 0 && number == h.SnapshotCount) return &h.NewestSnapshot;
  for (const SnapshotSlot& slot : h.Slots) {
    if (slot.Used == 1 && slot.Signature == vh::kRecordSignature && slot.Number == number)
      return &slot;
  }
  return nullptr;
}

SnapshotSlot* Descriptor(EngineHeader& h, uint32_t number) {
  return const_cast<SnapshotSlot*>(Descriptor(static_cast<const EngineHeader&>(h), number));
}

void PrintTable(const EngineHeader& h) {
  Line("%u snapshot(s), oldest number %u, rollback pending %u (target %u)", h.SnapshotCount,
       h.OldestNumber, h.RollbackPending, h.RollbackTarget);
  Line("%-3s  %-24s  %-19s  %s", "no", "name", "time", "remark");
  for (uint32_t n = 1; n <= h.SnapshotCount; ++n) {
    const SnapshotSlot* s = Descriptor(h, n);
    if (s == nullptr) {
      Line("%-3u  (no descriptor in the header)", n);
      continue;
    }
    const vh::RecordTime& t = s->CreateTime;
    Line("%-3u  %-24s  %04u-%02u-%02u %02u:%02u:%02u  %s", n, Text(s->Name, sizeof s->Name).c_str(),
         t.Year, t.Month, t.Day, t.Hour, t.Minute, t.Second,
         Text(s->Remark, sizeof s->Remark).c_str());
  }
}

bool HasName(const EngineHeader& h, const std::string& name) {
  for (uint32_t n = 1; n <= h.SnapshotCount; ++n) {
    const SnapshotSlot* s = Descriptor(h, n);
    if (s != nullptr && Text(s->Name, sizeof s->Name) == name) return true;
  }
  return false;
}

// ---- Files and drives, as a program reaches them ----------------------------------------

class Handle {
 public:
  Handle() = default;
  ~Handle() { Close(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  NTSTATUS Open(const std::u16string& ntName, bool write) {
    std::u16string name = ntName;
    UNICODE_STRING unicode;
    unicode.Buffer = &name[0];
    unicode.Length = static_cast<USHORT>(name.size() * sizeof(char16_t));
    unicode.MaximumLength = unicode.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &unicode, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                               nullptr, nullptr);
    IO_STATUS_BLOCK io{};
    const ACCESS_MASK access = GENERIC_READ | SYNCHRONIZE | (write ? GENERIC_WRITE : 0);
    return ZwCreateFile(&handle_, access, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN,
                        FILE_SYNCHRONOUS_IO_NONALERT | FILE_NO_INTERMEDIATE_BUFFERING, nullptr, 0);
  }
  NTSTATUS Transfer(bool write, uint64_t offset, std::vector<uint8_t>* data) {
    IO_STATUS_BLOCK io{};
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    const ULONG length = static_cast<ULONG>(data->size());
    NTSTATUS status = write ? ZwWriteFile(handle_, nullptr, nullptr, nullptr, &io, data->data(),
                                          length, &at, nullptr)
                            : ZwReadFile(handle_, nullptr, nullptr, nullptr, &io, data->data(),
                                         length, &at, nullptr);
    if (NT_SUCCESS(status) && io.Information != length) status = STATUS_UNSUCCESSFUL;
    return status;
  }
  void Close() {
    if (handle_ != nullptr) ZwClose(handle_);
    handle_ = nullptr;
  }

 private:
  HANDLE handle_ = nullptr;
};

// Version n of the demo file: text lines that say which version they are.
std::vector<uint8_t> FileVersion(int version) {
  std::vector<uint8_t> data;
  data.reserve(kFileBytes);
  for (int line = 1; data.size() < kFileBytes; ++line) {
    char text[80];
    std::snprintf(text, sizeof text, "notes.txt version %d, line %05d: the quick brown fox.\n",
                  version, line);
    data.insert(data.end(), text, text + std::strlen(text));
  }
  data.resize(kFileBytes);
  return data;
}

std::string FirstLine(const std::vector<uint8_t>& data) {
  std::string out;
  for (uint8_t c : data) {
    if (c == '\n' || out.size() >= 60) break;
    out += (c >= 32 && c < 127) ? static_cast<char>(c) : '.';
  }
  return "\"" + out + "\"";
}

NTSTATUS WriteFile(int version) {
  Handle file;
  std::u16string name = std::u16string(u"\\??\\C:") + kFilePath;
  NTSTATUS status = file.Open(name, true);
  std::vector<uint8_t> data = FileVersion(version);
  if (NT_SUCCESS(status)) status = file.Transfer(true, 0, &data);
  return status;
}

NTSTATUS ReadFile(std::vector<uint8_t>* data) {
  Handle file;
  std::u16string name = std::u16string(u"\\??\\C:") + kFilePath;
  data->assign(kFileBytes, 0);
  NTSTATUS status = file.Open(name, false);
  if (NT_SUCCESS(status)) status = file.Transfer(false, 0, data);
  return status;
}

// The file's bytes as a volume (or a snapshot drive of it) holds them, by
// its sector runs on the volume.
NTSTATUS ReadFileFromDrive(EngineHost& host, const std::u16string& drive,
                           std::vector<uint8_t>* out) {
  const vh::storage::FileSystemModel& fs = *host.Installed().fs;
  const vh::storage::FileRecord* record = fs.Find(kFilePath);
  if (record == nullptr) return STATUS_OBJECT_NAME_NOT_FOUND;
  std::vector<vh::storage::SectorRun> runs;
  if (fs.MapFileRange(*record, 0, kFileBytes, &runs) != vh::storage::kStatusSuccess)
    return STATUS_UNSUCCESSFUL;
  Handle volume;
  NTSTATUS status = volume.Open(drive, false);
  out->clear();
  for (const vh::storage::SectorRun& run : runs) {
    if (!NT_SUCCESS(status)) break;
    std::vector<uint8_t> piece(run.sectors * vh::kSectorBytes);
    status = volume.Transfer(false, run.volumeSector * vh::kSectorBytes, &piece);
    out->insert(out->end(), piece.begin(), piece.end());
  }
  return status;
}

// Engine blocks that the demo file's sectors touch.
uint64_t FileBlocks(EngineHost& host) {
  const vh::storage::FileSystemModel& fs = *host.Installed().fs;
  const vh::storage::FileRecord* record = fs.Find(kFilePath);
  std::vector<vh::storage::SectorRun> runs;
  if (record == nullptr ||
      fs.MapFileRange(*record, 0, kFileBytes, &runs) != vh::storage::kStatusSuccess)
    return 0;
  uint64_t blocks = 0;
  uint64_t lastBlock = UINT64_MAX;
  for (const vh::storage::SectorRun& run : runs) {
    for (uint64_t b = run.volumeSector / vh::kBlockSectors;
         b <= (run.volumeSector + run.sectors - 1) / vh::kBlockSectors; ++b) {
      if (b != lastBlock) ++blocks;
      lastBlock = b;
    }
  }
  return blocks;
}

std::vector<uint8_t> BootSectors(EngineHost& host) {
  std::vector<uint8_t> bytes(vh::kBootImageBytes, 0);
  vh::storage::IoAnswer a = host.Installed().disk->Read(0, vh::kBootImageBytes, bytes.data());
  if (a.status != vh::storage::kStatusSuccess) bytes.clear();
  return bytes;
}

// Differing byte ranges of two equal-length buffers, as "a-b" text.
std::string Differences(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b,
                        size_t* count) {
  std::string out;
  *count = 0;
  for (size_t i = 0; i < a.size() && i < b.size();) {
    if (a[i] == b[i]) {
      ++i;
      continue;
    }
    size_t j = i;
    while (j < a.size() && a[j] != b[j]) ++j;
    *count += j - i;
    char text[32];
    std::snprintf(text, sizeof text, "%s%zu-%zu", out.empty() ? "" : ", ", i, j - 1);
    out += text;
    i = j;
  }
  return out.empty() ? "none" : out;
}

// ---- The walk ----------------------------------------------------------------------------

int Run() {
  std::printf("Engine report: the snapshot engine on an installed disk image\n");

  Title(1, "boot an installed machine and ask the engine's status");
  std::unique_ptr<EngineHost> host;
  NTSTATUS booted = EngineHost::Start(&host);
  if (!Check(booted == STATUS_SUCCESS,
             "machine installed and engine booted: status " + Hex(static_cast<uint32_t>(booted))))
    return 1;
  Line("disk image: %s", host->Installed().disk->Path().c_str());
  vh::EngineStatus status;
  hk::UserIoResult r = Status(*host, &status);
  const char* modes[] = {"off", "tracking", "temporary"};
  Line("status request: %s", Answer(r).c_str());
  Line("interface version %s, mode %u (%s), PnP state %u, drive %c:",
       Hex(status.InterfaceVersion).c_str(), status.EngineMode,
       status.EngineMode < 3 ? modes[status.EngineMode] : "?", status.PnpState,
       static_cast<char>(status.DriveLetter));
  Line("space area: %u of %u sectors free (%.1f of %.1f MiB)", status.FreeSectors,
       status.TotalSectors, status.FreeSectors / 2048.0, status.TotalSectors / 2048.0);
  if (status.TotalSectors == 0) Line("(no snapshot yet: the engine has no space area loaded)");
  Check(r.status == STATUS_SUCCESS && r.bytesReturned == vh::kStatusBytes &&
            status.InterfaceVersion == vh::kStatusInterfaceVersion && status.PnpState == 1 &&
            status.DriveLetter == kLetter,
        "status answer: 512 bytes, version 0x831, started, drive C:");

  Title(2, "write, snapshot, overwrite, snapshot, overwrite; list the header");
  vh::storage::FileSystemModel& fs = *host->Installed().fs;
  uint64_t firstLcn = 0;
  bool made =
      fs.CreateDirectory(kFileDir1) == vh::storage::kStatusSuccess &&
      fs.CreateDirectory(kFileDir2) == vh::storage::kStatusSuccess &&
      fs.CreateContiguousFile(kFilePath, kFileBytes, &firstLcn) == vh::storage::kStatusSuccess;
  Check(made,
        "file C:\\Users\\Demo\\notes.txt (96 KB) created at cluster " + std::to_string(firstLcn));
  NTSTATUS w = WriteFile(1);
  Check(w == STATUS_SUCCESS,
        "version 1 written through C:'s stack: status " + Hex(static_cast<uint32_t>(w)));
  std::vector<uint8_t> onDisk;
  r = CreateSnapshot(*host, "Before update", "notes.txt at version 1");
  Check(r.status == STATUS_SUCCESS, "create \"Before update\": " + Answer(r));
  w = WriteFile(2);
  Check(w == STATUS_SUCCESS, "version 2 written over it: status " + Hex(static_cast<uint32_t>(w)));
  r = CreateSnapshot(*host, "After first edit", "notes.txt at version 2");
  Check(r.status == STATUS_SUCCESS, "create \"After first edit\": " + Answer(r));
  w = WriteFile(3);
  Check(w == STATUS_SUCCESS, "version 3 written over it: status " + Hex(static_cast<uint32_t>(w)));
  NTSTATUS rd = ReadFile(&onDisk);
  Check(rd == STATUS_SUCCESS && onDisk == FileVersion(3),
        "C: now reads version 3: " + FirstLine(onDisk));
  r = Status(*host, &status);
  const uint32_t taken = status.TotalSectors - status.FreeSectors;
  // Each of the two overwrites saves every block the file touches once.
  const uint64_t expected = 2 * FileBlocks(*host) * vh::kBlockSectors;
  Line("status: mode %u (%s), space %u of %u sectors free (%u taken by saved blocks, %" PRIu64
       " expected)",
       status.EngineMode, status.EngineMode < 3 ? modes[status.EngineMode] : "?",
       status.FreeSectors, status.TotalSectors, taken, expected);
  Check(r.status == STATUS_SUCCESS && status.EngineMode == vh::kEngineTracking &&
            status.TotalSectors != 0 && taken == expected,
        "engine tracking; the earlier contents of the overwritten blocks are in the space area");
  auto header = std::make_unique<EngineHeader>();
  r = ReadHeader(*host, header.get());
  Check(r.status == STATUS_SUCCESS && r.bytesReturned == vh::kEngineHeaderBytes &&
            header->Magic == vh::kEngineMagic,
        "header read: " + Answer(r));
  PrintTable(*header);
  Check(header->SnapshotCount == 2 && HasName(*header, "Before update") &&
            HasName(*header, "After first edit"),
        "the header lists both snapshots");

  Title(3, "rename through the header write; read snapshot 1 through a drive");
  SnapshotSlot* first = Descriptor(*header, 1);
  const char* newName = "Before update (v1)";
  if (Check(first != nullptr, "snapshot 1 has a descriptor")) {
    std::memset(first->Name, 0, sizeof first->Name);
    std::snprintf(first->Name, sizeof first->Name, "%s", newName);
  }
  std::vector<uint8_t> write(vh::kHeaderWriteBytes, 0);
  VolumeRequest request = DriveRequest();
  std::memcpy(write.data(), &request, sizeof request);
  std::memcpy(write.data() + vh::kRequestBytes, header.get(), sizeof *header);
  r = host->Control(vh::IOCTL_ENGINE_WRITE_HEADER, write.data(), vh::kHeaderWriteBytes, nullptr, 0);
  Check(r.status == STATUS_SUCCESS, "header write (66,560 bytes): " + Answer(r));
  r = ReadHeader(*host, header.get());
  auto imageHeader = std::make_unique<EngineHeader>();
  NTSTATUS img = host->ReadHeaderOnImage(imageHeader.get());
  Check(r.status == STATUS_SUCCESS && HasName(*header, newName) && img == STATUS_SUCCESS &&
            HasName(*imageHeader, newName),
        std::string("snapshot 1 is now \"") + newName + "\" in the engine and on the image");
  PrintTable(*header);

  r = NumberedRequest(*host, vh::IOCTL_ENGINE_MOUNT_SNAPSHOT, 1);
  Check(r.status == STATUS_SUCCESS, "mount snapshot 1 as drive G: " + Answer(r));
  auto table = std::make_unique<vh::MountTable>();
  VolumeRequest tableRequest = DriveRequest();
  hk::UserIoResult t = host->Control(vh::IOCTL_ENGINE_GET_MOUNT_TABLE, &tableRequest,
                                     sizeof tableRequest, table.get(), sizeof *table);
  const vh::MountEntry& entry = table->Entries[0];
  std::string device;
  for (size_t i = 0; i < 47 && entry.DeviceName[i] != 0; ++i)
    device += static_cast<char>(entry.DeviceName[i] < 128 ? entry.DeviceName[i] : '?');
  Check(t.status == STATUS_SUCCESS && entry.InUse == 1,
        "mount table: " + Answer(t) + "; entry 1 in use as " + device);
  std::vector<uint8_t> fromSnapshot;
  rd = ReadFileFromDrive(*host, u"\\DosDevices\\G:", &fromSnapshot);
  Line("G: read status %s, file's sectors read: %s", Hex(static_cast<uint32_t>(rd)).c_str(),
       FirstLine(fromSnapshot).c_str());
  Check(rd == STATUS_SUCCESS && fromSnapshot == FileVersion(1),
        "G: holds the file byte for byte as written before snapshot 1 (version 1)");
  rd = ReadFile(&onDisk);
  Check(rd == STATUS_SUCCESS && onDisk == FileVersion(3), "C: still reads version 3");
  r = NumberedRequest(*host, vh::IOCTL_ENGINE_UNMOUNT_SNAPSHOT, 1);
  t = host->Control(vh::IOCTL_ENGINE_GET_MOUNT_TABLE, &tableRequest, sizeof tableRequest,
                    table.get(), sizeof *table);
  Check(r.status == STATUS_SUCCESS && t.status == STATUS_SUCCESS && table->Entries[0].InUse == 0,
        "unmount drive G: " + Answer(r) + "; entry 1 free again");

  Title(4, "schedule a rollback to snapshot 1, then cancel it");
  const std::vector<uint8_t> before = BootSectors(*host);
  r = Rollback(*host, true, 1);
  Check(r.status == STATUS_SUCCESS, "rollback request (schedule, target 1): " + Answer(r));
  const std::vector<uint8_t> scheduled = BootSectors(*host);
  size_t changed = 0;
  std::string ranges = Differences(before, scheduled, &changed);
  Line("disk 0 sectors 0-4: %zu of %u bytes changed (bytes %s)", changed, vh::kBootImageBytes,
       ranges.c_str());
  const bool tableKept = before.size() == scheduled.size() && !before.empty() &&
                         std::memcmp(before.data() + 440, scheduled.data() + 440, 72) == 0;
  Check(tableKept, "disk signature, partition table and 0x55AA (bytes 440-511) kept");
  std::vector<uint8_t> program = host->Installed().bootImage;
  program.resize(vh::kBootImageBytes);
  size_t patched = 0;
  std::string patchedAt = Differences(program, scheduled, &patched);
  size_t outsideTable = 0;
  for (size_t i = 0; i < scheduled.size() && i < program.size(); ++i)
    if (program[i] != scheduled[i] && (i < 440 || i > 511)) ++outsideTable;
  Line("against the pre-boot image in the engine area: differs at bytes %s", patchedAt.c_str());
  Check(!scheduled.empty() && changed > 0 && outsideTable <= 16,
        "pre-boot program in place (" + std::to_string(outsideTable) +
            " bytes outside the partition table are its patched parameters)");
  r = ReadHeader(*host, header.get());
  img = host->ReadHeaderOnImage(imageHeader.get());
  std::vector<uint8_t> backup(vh::kBootImageBytes, 0);
  bool backupRead =
      img == STATUS_SUCCESS &&
      host->Installed().ReadEngineSectors(imageHeader->BootBackupSector, vh::kBootImageSectors,
                                          backup.data()) == vh::storage::kStatusSuccess;
  Check(r.status == STATUS_SUCCESS && header->RollbackPending == 1 && header->RollbackTarget == 1 &&
            imageHeader->RollbackPending == 1,
        "header (engine and image): rollback pending, target 1");
  Check(backupRead && backup == before, "the earlier boot sectors are saved in the engine area");
  r = Rollback(*host, false, 1);
  Check(r.status == STATUS_SUCCESS, "rollback request (cancel): " + Answer(r));
  const std::vector<uint8_t> after = BootSectors(*host);
  size_t left = 0;
  std::string leftAt = Differences(before, after, &left);
  Check(!after.empty() && after == before,
        "boot sectors back byte for byte (differences: " + leftAt + ")");
  r = ReadHeader(*host, header.get());
  Check(r.status == STATUS_SUCCESS && header->RollbackPending == 0, "header: no rollback pending");

  Title(5, "delete snapshot 2, list again, stop the engine");
  r = NumberedRequest(*host, vh::IOCTL_ENGINE_DELETE_SNAPSHOT, 2);
  Check(r.status == STATUS_INVALID_PARAMETER,
        "delete 2 while it is the newest is refused by the engine's rule: " + Answer(r));
  r = CreateSnapshot(*host, "Before cleanup", "a newer snapshot, so 2 may go");
  Check(r.status == STATUS_SUCCESS, "create \"Before cleanup\": " + Answer(r));
  r = NumberedRequest(*host, vh::IOCTL_ENGINE_DELETE_SNAPSHOT, 2);
  Check(r.status == STATUS_SUCCESS, "delete snapshot 2: " + Answer(r));
  r = ReadHeader(*host, header.get());
  PrintTable(*header);
  Check(r.status == STATUS_SUCCESS && header->SnapshotCount == 2 && HasName(*header, newName) &&
            HasName(*header, "Before cleanup") && !HasName(*header, "After first edit"),
        "\"After first edit\" is gone; the other two remain");
  r = NumberedRequest(*host, vh::IOCTL_ENGINE_MOUNT_SNAPSHOT, 1);
  rd = ReadFileFromDrive(*host, u"\\DosDevices\\G:", &fromSnapshot);
  hk::UserIoResult u = NumberedRequest(*host, vh::IOCTL_ENGINE_UNMOUNT_SNAPSHOT, 1);
  Check(r.status == STATUS_SUCCESS && rd == STATUS_SUCCESS && u.status == STATUS_SUCCESS &&
            fromSnapshot == FileVersion(1),
        "snapshot 1 still reads version 1 after the delete (mount, read, unmount)");

  std::string leaks = host->Stop();
  host.reset();
  Check(leaks.empty(),
        leaks.empty() ? "engine stopped: no leaks" : "engine stopped; leak report:\n" + leaks);

  std::printf("\n%s: %d failed check(s)\n", g_failures == 0 ? "ALL STEPS OK" : "FAILED",
              g_failures);
  return g_failures == 0 ? 0 : 1;
}

}  // namespace

int main() { return Run(); }
