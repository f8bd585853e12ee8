// TThread: Execute runs on a thread of its own; freeing the object sets
// Terminated and waits for Execute to return.
#pragma once

#include <atomic>
#include <thread>

#include "classlib/wintypes.h"

namespace classlib {

class TThread : public TObject {
  CL_DECLARE_CLASS(TThread, TObject)
 public:
  explicit TThread(bool createSuspended);
  ~TThread() override;
  void AfterConstruction() override;
  void BeforeDestruction() override;

  // Starts a thread made suspended.
  void Start();
  void Terminate() { terminated_ = true; }
  bool Terminated() const { return terminated_; }
  // Waits for Execute to return; answers ReturnValue.
  int WaitFor();
  bool Finished() const { return finished_; }
  int ReturnValue() const { return returnValue_; }
  void SetReturnValue(int v) { returnValue_ = v; }
  // The error Execute let escape, if any.
  std::exception_ptr FatalException() const { return fatal_; }

 protected:
  virtual void Execute() = 0;

 private:
  void Run();
  std::thread thread_;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finished_{false};
  bool suspended_;
  int returnValue_ = 0;
  std::exception_ptr fatal_;
};

}  // namespace classlib
