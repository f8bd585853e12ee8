#include "classlib/threads.h"

namespace classlib {

CL_CLASS(TThread) {}

TThread::TThread(bool createSuspended) : suspended_(createSuspended) {}

TThread::~TThread() {
  if (thread_.joinable()) thread_.join();
}

void TThread::AfterConstruction() {
  TObject::AfterConstruction();
  // Started only now, so Execute sees the whole derived object.
  if (!suspended_) Start();
}

void TThread::BeforeDestruction() {
  TObject::BeforeDestruction();
  Terminate();
  WaitFor();
}

void TThread::Start() {
  if (thread_.joinable() || finished_) return;
  suspended_ = false;
  thread_ = std::thread([this] { Run(); });
}

void TThread::Run() {
  try {
    Execute();
  } catch (...) {
    fatal_ = std::current_exception();
  }
  finished_ = true;
}

int TThread::WaitFor() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
  return returnValue_;
}

}  // namespace classlib
