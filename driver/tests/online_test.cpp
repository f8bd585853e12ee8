// The volume-online request over a scripted volume that completes it in
// every way a driver may, at DISPATCH_LEVEL included: the arrival work that
// follows (it blocks on requests of its own) runs at PASSIVE_LEVEL after
// the completion, never inside it.
#include <cstring>
#include <string>
#include <vector>

#include "engine.h"
#include "kernel_test.h"
#include "scripted_device.h"
#include "vh/enginehost/engine_boot.h"

namespace vh::test {
namespace {

using hk::testing::Completion;
using hk::testing::ScriptedDevice;

const char16_t kServiceKey[] =
    u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\VarnholtOnline";

struct OnlineCase {
  Completion completion;
  bool hotplug;
  const char16_t* dosName;
};

class OnlineTest : public hk::testing::KernelTest,
                   public ::testing::WithParamInterface<OnlineCase> {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    EngineParameters parameters{};
    parameters.Magic = kEngineMagic;
    parameters.Word004 = 1;
    parameters.Word008 = 1;
    parameters.ProtectedDrive = u'C';
    parameters.Signature = kRecordSignature;
    hk::SetRegistryValue(kServiceKey, u"Parameter", REG_BINARY, &parameters, sizeof parameters);
    ASSERT_EQ(boot_.Load(kServiceKey), STATUS_SUCCESS);
    volume_ = std::make_unique<ScriptedDevice>(u"\\Device\\HarddiskVolume9", FILE_DEVICE_DISK,
                                               DO_DIRECT_IO);
  }

  void TearDown() override {
    boot_.TearDown({volume_->device()});
    volume_.reset();
    KernelTest::TearDown();
  }

  enginehost::EngineBoot boot_;
  std::unique_ptr<ScriptedDevice> volume_;
};

TEST_P(OnlineTest, ArrivalRunsAfterTheLowerDriverCompleted) {
  const OnlineCase& c = GetParam();
  const bool hotplug = c.hotplug;
  volume_->SetHandler([hotplug](PIO_STACK_LOCATION stack, PIRP irp) {
    irp->IoStatus.Status = STATUS_SUCCESS;
    irp->IoStatus.Information = 0;
    if (stack->MajorFunction != IRP_MJ_DEVICE_CONTROL) return;
    if (stack->Parameters.DeviceIoControl.IoControlCode == IOCTL_STORAGE_GET_HOTPLUG_INFO) {
      STORAGE_HOTPLUG_INFO info{};
      info.Size = sizeof info;
      info.DeviceHotplug = hotplug ? TRUE : FALSE;
      std::memcpy(ScriptedDevice::Buffer(irp), &info, sizeof info);
      irp->IoStatus.Information = sizeof info;
    }
  });
  if (c.dosName) hk::SetVolumeDosName(volume_->device(), c.dosName);
  ASSERT_EQ(boot_.Attach(volume_->device()), STATUS_SUCCESS);  // AddDevice, START_DEVICE
  PDEVICE_OBJECT filter = IoGetAttachedDevice(volume_->device());
  ASSERT_NE(filter, volume_->device());

  volume_->SetCompletion(c.completion);
  EXPECT_EQ(enginehost::EngineBoot::Online(volume_->device()), STATUS_SUCCESS);
  auto* volume = static_cast<PVolumeFilterExtension>(filter->DeviceExtension);
  // The arrival's own requests followed the online request.
  const std::vector<hk::testing::SeenRequest> seen = volume_->Seen();
  size_t online = seen.size();
  for (size_t i = 0; i < seen.size(); ++i) {
    if (seen[i].code == IOCTL_VOLUME_ONLINE) online = i;
  }
  ASSERT_LT(online + 1, seen.size());
  EXPECT_EQ(seen[online + 1].code, IOCTL_STORAGE_GET_HOTPLUG_INFO);
  EXPECT_EQ(volume->Hotplug, hotplug ? 1 : 0);
  if (!hotplug && c.dosName != nullptr && std::u16string(c.dosName).size() == 2) {
    EXPECT_EQ(volume->DriveLetter, u'C');
    EXPECT_EQ(hk::Narrow(&volume->DosName), "\\??\\C:");
  } else {
    // A hot-pluggable volume, or one mounted on a folder, has no letter.
    EXPECT_EQ(volume->DriveLetter, 0);
    EXPECT_EQ(volume->DosName.Length, 0);
  }
  EXPECT_EQ(volume->Kind, KindVolumeUnset);  // the scripted volume has no file system
}

std::vector<OnlineCase> OnlineCases() {
  std::vector<OnlineCase> cases;
  for (Completion mode : hk::testing::kAllCompletions) cases.push_back({mode, true, u"C:"});
  cases.push_back({Completion::kOtherThreadAtDispatch, false, u"c:"});
  cases.push_back({Completion::kInline, false, u"C:\\mnt\\data"});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Completions, OnlineTest, ::testing::ValuesIn(OnlineCases()),
                         [](const ::testing::TestParamInfo<OnlineCase>& param) {
                           std::string name = hk::testing::CompletionName(param.param.completion);
                           name += param.param.hotplug ? "Hotplug" : "Fixed";
                           name += std::u16string(param.param.dosName).size() == 2 ? "Letter"
                                                                                   : "Folder";
                           for (char& ch : name) ch = ch == '-' ? '_' : ch;
                           return name;
                         });

}  // namespace
}  // namespace vh::test
