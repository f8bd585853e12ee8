#include "lazytree/lazy_tree_view.h"

#include <chrono>

namespace kelm::lazytree {

// ---- mailbox sink

void TMailboxSink::Send(uint32_t enter, uint32_t leave) {
  std::unique_lock<std::mutex> lock(lock_);
  enter_ = enter;
  leave_ = leave;
  pending_ = true;
  served_ = false;
  changed_.notify_all();
  changed_.wait(lock, [this] { return served_; });
}

void TMailboxSink::HandleLocked(std::unique_lock<std::mutex>& lock) {
  const uint32_t enter = enter_;
  const uint32_t leave = leave_;
  pending_ = false;
  lock.unlock();
  tree_.HandleChangeStates(enter, leave);
  lock.lock();
  served_ = true;
  changed_.notify_all();
}

void TMailboxSink::Serve() {
  std::unique_lock<std::mutex> lock(lock_);
  changed_.wait(lock, [this] { return pending_ || left_; });
  left_ = false;
  if (pending_) HandleLocked(lock);
}

void TMailboxSink::Left(std::atomic<TLazyTreeView*>& current) {
  std::lock_guard<std::mutex> lock(lock_);
  current.store(nullptr, std::memory_order_release);
  left_ = true;
  changed_.notify_all();
}

void TMailboxSink::Settle() { std::lock_guard<std::mutex> lock(lock_); }

bool TMailboxSink::ServeOne(uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(lock_);
  if (!changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return pending_; }))
    return false;
  HandleLocked(lock);
  return true;
}

// ---- life

TLazyTreeView::TLazyTreeView(classlib::TObject* sender) : TLazyTreeModel(sender) {
  treeNumber_ = RegisterLiveTree(this);
  TWorkerThread::AcquireValidationThread();
  threadAcquired_ = true;
}

TLazyTreeView::~TLazyTreeView() {
  destroying_ = true;
  UnregisterLiveTree(this);
  Options.ReadOnly = false;
  if (threadAcquired_) TWorkerThread::ReleaseValidationThread(this);
  threadAcquired_ = false;
  if (RootNode()) Clear();
}

void TLazyTreeView::DoStateChange(TLazyTreeStates enter, TLazyTreeStates leave) {
  TLazyTreeModel::DoStateChange(enter, leave);
  stopValidation_.store(States().Contains(tsStopValidation), std::memory_order_release);
}

}  // namespace kelm::lazytree
