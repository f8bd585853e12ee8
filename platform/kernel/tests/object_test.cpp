// Names, links, file objects and reference counts, name queries, the
// registry and remove locks.
#include <thread>

#include "kernel_test.h"
#include "scripted_device.h"

namespace hk::testing {
namespace {

using ObjectTest = KernelTest;

UNICODE_STRING Text(const char16_t* s) {
  UNICODE_STRING u;
  RtlInitUnicodeString(&u, s);
  return u;
}

TEST_F(ObjectTest, DeviceByLinkOpensTheTopOfTheStackAndClosesWithTheLastReference) {
  ScriptedDevice volume(u"\\Device\\HarddiskVolume1", FILE_DEVICE_DISK, DO_DIRECT_IO);
  ScriptedDevice filter(u"", FILE_DEVICE_DISK, DO_DIRECT_IO);
  PDEVICE_OBJECT below = IoAttachDeviceToDeviceStack(filter.device(), volume.device());
  ASSERT_EQ(below, volume.device());
  UNICODE_STRING link = Text(u"\\DosDevices\\C:");
  UNICODE_STRING target = Text(u"\\Device\\HarddiskVolume1");
  ASSERT_EQ(IoCreateSymbolicLink(&link, &target), STATUS_SUCCESS);
  EXPECT_EQ(IoCreateSymbolicLink(&link, &target), STATUS_OBJECT_NAME_COLLISION);

  UNICODE_STRING byLink = Text(u"\\??\\c:");
  PFILE_OBJECT file;
  PDEVICE_OBJECT top;
  ASSERT_EQ(IoGetDeviceObjectPointer(&byLink, FILE_READ_ATTRIBUTES, &file, &top), STATUS_SUCCESS);
  EXPECT_EQ(top, filter.device());
  EXPECT_EQ(file->DeviceObject, volume.device());
  EXPECT_EQ(volume.device()->ReferenceCount, 1);
  ObDereferenceObject(file);
  EXPECT_EQ(volume.device()->ReferenceCount, 0);
  std::vector<UCHAR> majors;
  for (const SeenRequest& r : filter.Seen()) majors.push_back(r.major);
  EXPECT_EQ(majors, (std::vector<UCHAR>{IRP_MJ_CREATE, IRP_MJ_CLEANUP, IRP_MJ_CLOSE}));

  EXPECT_EQ(IoDeleteSymbolicLink(&link), STATUS_SUCCESS);
  EXPECT_EQ(IoGetDeviceObjectPointer(&byLink, FILE_READ_ATTRIBUTES, &file, &top),
            STATUS_OBJECT_NAME_NOT_FOUND);
  IoDetachDevice(volume.device());
}

TEST_F(ObjectTest, NewDevicesGoToTheHeadOfTheDriverListAndInitialisingDevicesRefuseOpens) {
  PDRIVER_OBJECT driver = CreateTestDriver(u"\\Driver\\Order");
  PDEVICE_OBJECT first, second;
  UNICODE_STRING name = Text(u"\\Device\\Second");
  ASSERT_EQ(IoCreateDevice(driver, 8, nullptr, FILE_DEVICE_DISK, 0, FALSE, &first), STATUS_SUCCESS);
  ASSERT_EQ(IoCreateDevice(driver, 8, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &second),
            STATUS_SUCCESS);
  EXPECT_EQ(driver->DeviceObject, second);
  EXPECT_EQ(second->NextDevice, first);
  EXPECT_NE(first->Vpb, nullptr) << "disk devices get a VPB";
  EXPECT_EQ(second->Vpb, nullptr);
  EXPECT_EQ(*static_cast<ULONG64*>(first->DeviceExtension), 0u) << "extensions come zeroed";
  PFILE_OBJECT file;
  PDEVICE_OBJECT top;
  EXPECT_EQ(IoGetDeviceObjectPointer(&name, 0, &file, &top), STATUS_NO_SUCH_DEVICE);
  IoDeleteDevice(second);
  EXPECT_EQ(driver->DeviceObject, first);
  IoDeleteDevice(first);
  EXPECT_EQ(driver->DeviceObject, nullptr);
}

TEST_F(ObjectTest, ForcedReferenceCountIsLoudAtDelete) {
  auto volume =
      std::make_unique<ScriptedDevice>(u"\\Device\\Drive", FILE_DEVICE_DISK, DO_DIRECT_IO);
  UNICODE_STRING name = Text(u"\\Device\\Drive");
  PFILE_OBJECT file;
  PDEVICE_OBJECT top;
  ASSERT_EQ(IoGetDeviceObjectPointer(&name, 0, &file, &top), STATUS_SUCCESS);
  volume->device()->ReferenceCount = 0;  // what a driver must never do
  EXPECT_TRUE(FaultOf([&] { IoDeleteDevice(volume->device()); }, "count forced"));
  volume->device()->ReferenceCount = 1;
  ObDereferenceObject(file);
}

TEST_F(ObjectTest, NameQueryAnswersTheNeededLengthFirst) {
  ScriptedDevice volume(u"\\Device\\HarddiskVolume7", FILE_DEVICE_DISK, 0);
  ULONG needed = 0;
  EXPECT_EQ(ObQueryNameString(volume.device(), nullptr, 0, &needed), STATUS_INFO_LENGTH_MISMATCH);
  EXPECT_EQ(needed, sizeof(OBJECT_NAME_INFORMATION) + 23 * 2 + 2);
  std::vector<unsigned char> buffer(needed);
  auto* info = reinterpret_cast<POBJECT_NAME_INFORMATION>(buffer.data());
  ASSERT_EQ(ObQueryNameString(volume.device(), info, needed, &needed), STATUS_SUCCESS);
  EXPECT_EQ(Narrow(&info->Name), "\\Device\\HarddiskVolume7");
  EXPECT_EQ(info->Name.Buffer[info->Name.Length / 2], 0);
}

TEST_F(ObjectTest, VolumeDosNameComesFromTheLetterTableInAPoolBuffer) {
  ScriptedDevice volume(u"\\Device\\HarddiskVolume2", FILE_DEVICE_DISK, 0);
  UNICODE_STRING dos{};
  EXPECT_EQ(IoVolumeDeviceToDosName(volume.device(), &dos), STATUS_UNSUCCESSFUL);
  SetVolumeDosName(volume.device(), u"D:");
  ASSERT_EQ(IoVolumeDeviceToDosName(volume.device(), &dos), STATUS_SUCCESS);
  EXPECT_EQ(Narrow(&dos), "D:");
  ExFreePool(dos.Buffer);
}

TEST_F(ObjectTest, RegistryPartialValueAnswersFollowTheBufferSize) {
  const std::u16string key = u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\Varnholt";
  unsigned char data[20];
  for (int i = 0; i < 20; ++i) data[i] = static_cast<unsigned char>(i);
  SetRegistryValue(key, u"Parameter", REG_BINARY, data, sizeof data);
  UNICODE_STRING path;
  std::u16string mixed = u"\\REGISTRY\\machine\\System\\CurrentControlSet\\Services\\VARNHOLT";
  path = {static_cast<USHORT>(mixed.size() * 2), static_cast<USHORT>(mixed.size() * 2), &mixed[0]};
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr,
                             nullptr);
  HANDLE handle;
  ASSERT_EQ(ZwOpenKey(&handle, KEY_READ, &attributes), STATUS_SUCCESS);
  UNICODE_STRING value = Text(u"Parameter");
  UNICODE_STRING missing = Text(u"Missing");
  alignas(8) unsigned char buffer[64];
  ULONG result = 0;
  EXPECT_EQ(
      ZwQueryValueKey(handle, &missing, KeyValuePartialInformation, buffer, sizeof buffer, &result),
      STATUS_OBJECT_NAME_NOT_FOUND);
  EXPECT_EQ(ZwQueryValueKey(handle, &value, KeyValuePartialInformation, buffer, 11, &result),
            STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(ZwQueryValueKey(handle, &value, KeyValuePartialInformation, buffer, 20, &result),
            STATUS_BUFFER_OVERFLOW);
  auto* partial = reinterpret_cast<PKEY_VALUE_PARTIAL_INFORMATION>(buffer);
  EXPECT_EQ(partial->DataLength, 20u);
  EXPECT_EQ(result, 32u);
  ASSERT_EQ(
      ZwQueryValueKey(handle, &value, KeyValuePartialInformation, buffer, sizeof buffer, &result),
      STATUS_SUCCESS);
  EXPECT_EQ(partial->Type, static_cast<ULONG>(REG_BINARY));
  EXPECT_EQ(buffer[12 + 19], 19);
  EXPECT_EQ(ZwClose(handle), STATUS_SUCCESS);

  UNICODE_STRING other = Text(u"\\Registry\\Machine\\Nothing");
  InitializeObjectAttributes(&attributes, &other, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
  EXPECT_EQ(ZwOpenKey(&handle, KEY_READ, &attributes), STATUS_OBJECT_NAME_NOT_FOUND);
}

TEST_F(ObjectTest, RemoveLockRefusesAfterRemovalAndWaitsForHolders) {
  IO_REMOVE_LOCK lock;
  IoInitializeRemoveLock(&lock, 0x6C727671, 1, 100);
  ASSERT_EQ(IoAcquireRemoveLock(&lock, nullptr), STATUS_SUCCESS);  // the remove path's own
  ASSERT_EQ(IoAcquireRemoveLock(&lock, &lock), STATUS_SUCCESS);    // an I/O still running
  std::atomic<bool> released{false};
  std::thread holder([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    released = true;
    IoReleaseRemoveLock(&lock, &lock);
  });
  IoReleaseRemoveLockAndWait(&lock, nullptr);
  EXPECT_TRUE(released.load()) << "the wait ended before the last holder released";
  holder.join();
  EXPECT_EQ(IoAcquireRemoveLock(&lock, nullptr), STATUS_DELETE_PENDING);
}

TEST_F(ObjectTest, HostFilesUnderAMappedPrefixReadShortAcrossTheEnd) {
  std::string dir = ::testing::TempDir();
  {
    std::FILE* f = std::fopen((dir + "/vh_kernel_file.bin").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("0123456789", f);
    std::fclose(f);
  }
  MapHostPath(u"\\SystemRoot", dir);
  UNICODE_STRING name = Text(u"\\SystemRoot\\vh_kernel_file.bin");
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr,
                             nullptr);
  HANDLE handle;
  IO_STATUS_BLOCK iosb{};
  ASSERT_EQ(ZwCreateFile(&handle, GENERIC_READ | SYNCHRONIZE, &attributes, &iosb, nullptr,
                         FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ, FILE_OPEN,
                         FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0),
            STATUS_SUCCESS);
  char buffer[16] = {};
  LARGE_INTEGER offset;
  offset.QuadPart = 4;
  EXPECT_EQ(
      ZwReadFile(handle, nullptr, nullptr, nullptr, &iosb, buffer, sizeof buffer, &offset, nullptr),
      STATUS_SUCCESS);
  EXPECT_EQ(iosb.Information, 6u);
  offset.QuadPart = 10;
  EXPECT_EQ(
      ZwReadFile(handle, nullptr, nullptr, nullptr, &iosb, buffer, sizeof buffer, &offset, nullptr),
      STATUS_END_OF_FILE);
  FILE_STANDARD_INFORMATION standard;
  EXPECT_EQ(ZwQueryInformationFile(handle, &iosb, &standard, 8, FileStandardInformation),
            STATUS_INFO_LENGTH_MISMATCH);
  ASSERT_EQ(
      ZwQueryInformationFile(handle, &iosb, &standard, sizeof standard, FileStandardInformation),
      STATUS_SUCCESS);
  EXPECT_EQ(standard.EndOfFile.QuadPart, 10);
  EXPECT_EQ(ZwClose(handle), STATUS_SUCCESS);
  std::remove((dir + "/vh_kernel_file.bin").c_str());
}

}  // namespace
}  // namespace hk::testing

namespace hk::testing {
namespace {

TEST_F(ObjectTest, ZwCallsOnADeviceFileBecomeIrpsWithTheFileObject) {
  ScriptedDevice fs(u"\\Device\\Fs", FILE_DEVICE_DISK, DO_DIRECT_IO);
  fs.SetHandler([](PIO_STACK_LOCATION stack, PIRP irp) {
    if (stack->MajorFunction == IRP_MJ_QUERY_INFORMATION &&
        stack->Parameters.QueryFile.FileInformationClass == FileStandardInformation) {
      auto* standard = static_cast<FILE_STANDARD_INFORMATION*>(irp->AssociatedIrp.SystemBuffer);
      std::memset(standard, 0, sizeof *standard);
      standard->EndOfFile.QuadPart = 65536;
      irp->IoStatus.Information = sizeof *standard;
    } else if (stack->MajorFunction == IRP_MJ_READ) {
      std::memset(ScriptedDevice::Buffer(irp), 0x42, stack->Parameters.Read.Length);
      irp->IoStatus.Information = stack->Parameters.Read.Length;
    }
  });
  UNICODE_STRING name = Text(u"\\Device\\Fs\\space.bin");
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr,
                             nullptr);
  HANDLE handle;
  IO_STATUS_BLOCK iosb{};
  ASSERT_EQ(ZwCreateFile(&handle, GENERIC_READ | SYNCHRONIZE, &attributes, &iosb, nullptr, 0,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN,
                         FILE_SYNCHRONOUS_IO_NONALERT | FILE_NO_INTERMEDIATE_BUFFERING, nullptr, 0),
            STATUS_SUCCESS);
  FILE_STANDARD_INFORMATION standard{};
  ASSERT_EQ(
      ZwQueryInformationFile(handle, &iosb, &standard, sizeof standard, FileStandardInformation),
      STATUS_SUCCESS);
  EXPECT_EQ(standard.EndOfFile.QuadPart, 65536);
  unsigned char data[512] = {};
  LARGE_INTEGER offset{};
  ASSERT_EQ(
      ZwReadFile(handle, nullptr, nullptr, nullptr, &iosb, data, sizeof data, &offset, nullptr),
      STATUS_SUCCESS);
  EXPECT_EQ(data[511], 0x42);
  EXPECT_EQ(ZwClose(handle), STATUS_SUCCESS);
  auto seen = fs.Seen();
  ASSERT_EQ(seen.size(), 5u);  // create, query, read, cleanup, close
  EXPECT_EQ(seen[0].major, IRP_MJ_CREATE);
  for (const SeenRequest& r : seen) EXPECT_EQ(r.file, seen[0].file);
  EXPECT_EQ(seen[4].major, IRP_MJ_CLOSE);
}

}  // namespace
}  // namespace hk::testing

namespace hk::testing {
namespace {

TEST_F(ObjectTest, AttachByNameFollowsLinksToTheTopOfTheTargetStack) {
  ScriptedDevice disk(u"\\Device\\Harddisk0\\DR0", FILE_DEVICE_DISK, DO_DIRECT_IO);
  UNICODE_STRING link = Text(u"\\Device\\Harddisk0\\Partition0");
  UNICODE_STRING target = Text(u"\\Device\\Harddisk0\\DR0");
  ASSERT_EQ(IoCreateSymbolicLink(&link, &target), STATUS_SUCCESS);
  ScriptedDevice filter(u"", FILE_DEVICE_DISK, 0);
  PDEVICE_OBJECT below = nullptr;
  ASSERT_EQ(IoAttachDevice(filter.device(), &link, &below), STATUS_SUCCESS);
  EXPECT_EQ(below, disk.device());
  EXPECT_EQ(disk.device()->AttachedDevice, filter.device());
  EXPECT_EQ(filter.device()->StackSize, 2);
  EXPECT_EQ(disk.device()->ReferenceCount, 0) << "the open made for the attachment is closed again";
  UNICODE_STRING missing = Text(u"\\Device\\Harddisk9\\Partition0");
  PDEVICE_OBJECT none;
  EXPECT_EQ(IoAttachDevice(filter.device(), &missing, &none), STATUS_OBJECT_NAME_NOT_FOUND);
  IoDetachDevice(disk.device());
  IoDeleteSymbolicLink(&link);
}

struct ReinitLog {
  std::vector<ULONG> counts;
  int failuresLeft = 2;
};

void Reinit(PDRIVER_OBJECT driver, PVOID context, ULONG count) {
  auto* log = static_cast<ReinitLog*>(context);
  log->counts.push_back(count);
  if (log->failuresLeft-- > 0) IoRegisterDriverReinitialization(driver, Reinit, context);
}

TEST_F(ObjectTest, ReinitialisationRunsAgainOnlyWhenItRegistersAgain) {
  PDRIVER_OBJECT driver = CreateTestDriver(u"\\Driver\\Boot");
  ReinitLog log;
  IoRegisterBootDriverReinitialization(driver, Reinit, &log);
  for (int round = 0; round < 5; ++round) RunReinitialization();
  EXPECT_EQ(log.counts, (std::vector<ULONG>{1, 2, 3}));
}

}  // namespace
}  // namespace hk::testing
