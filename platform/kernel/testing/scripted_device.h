// A lower device for tests: it records each request, lets a handler choose
// the answer, and completes it in one of the ways a real driver may.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "hostkernel/control.h"

namespace hk::testing {

enum class Completion {
  kInline,                 // completed in the dispatch routine, status returned
  kPendingInline,          // marked pending, completed inline, STATUS_PENDING returned
  kOtherThreadBefore,      // completed by another thread before IoCallDriver returns
  kOtherThreadAfter,       // completed by another thread after IoCallDriver returned
  kOtherThreadAtDispatch,  // as kOtherThreadBefore, at DISPATCH_LEVEL
};
const char* CompletionName(Completion mode);
inline const Completion kAllCompletions[] = {
    Completion::kInline, Completion::kPendingInline, Completion::kOtherThreadBefore,
    Completion::kOtherThreadAfter, Completion::kOtherThreadAtDispatch};

struct SeenRequest {
  UCHAR major;
  UCHAR minor;
  ULONG code;    // control code for device and file-system control
  ULONG length;  // transfer or output length
  ULONG inputLength;
  LONGLONG offset;
  PFILE_OBJECT file;
};

class ScriptedDevice {
 public:
  // The handler sets irp->IoStatus (and may fill the buffers); the default
  // answers every request with success and Information 0.
  using Handler = std::function<void(PIO_STACK_LOCATION stack, PIRP irp)>;

  ScriptedDevice(const std::u16string& name, DEVICE_TYPE type, ULONG flags);
  ~ScriptedDevice();  // waits for its completion threads, deletes the device
  ScriptedDevice(const ScriptedDevice&) = delete;
  ScriptedDevice& operator=(const ScriptedDevice&) = delete;

  PDEVICE_OBJECT device() const { return device_; }
  void SetCompletion(Completion mode) { mode_ = mode; }
  void SetHandler(Handler handler) { handler_ = std::move(handler); }
  std::vector<SeenRequest> Seen();

  // The data buffer of a read, write or control request, however it came.
  static void* Buffer(PIRP irp);

 private:
  static NTSTATUS Dispatch(PDEVICE_OBJECT device, PIRP irp);
  NTSTATUS Serve(PIRP irp);

  PDEVICE_OBJECT device_ = nullptr;
  Completion mode_ = Completion::kInline;
  Handler handler_;
  std::mutex lock_;
  std::vector<SeenRequest> seen_;
  std::vector<std::thread> threads_;
};

}  // namespace hk::testing
