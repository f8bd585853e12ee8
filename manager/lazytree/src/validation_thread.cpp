#include "lazytree/lazy_tree_view.h"

#include <algorithm>
#include <thread>

#include "lazytree/lazy_tree_error.h"

namespace kelm::lazytree {

// ---- the validation thread

namespace {
TWorkerThread* gValidationThread = nullptr;
uint32_t gStartCount = 0;
}  // namespace

struct TWorkerThread::TThreadHolder {
  std::thread thread;
};

TWorkerThread* TWorkerThread::Instance() { return gValidationThread; }
uint32_t TWorkerThread::StartCount() { return gStartCount; }

TWorkerThread::TWorkerThread() {
  thread_ = new TThreadHolder;
  thread_->thread = std::thread([this] { Execute(); });
}

TWorkerThread::~TWorkerThread() {
  terminated_.store(true);
  Wake();
  thread_->thread.join();
  delete thread_;
}

void TWorkerThread::AcquireValidationThread() {
  if (!gValidationThread) {
    gValidationThread = new TWorkerThread;
    ++gStartCount;
  }
  ++gValidationThread->refCount_;
}

void TWorkerThread::ReleaseValidationThread(TLazyTreeView* tree) {
  TWorkerThread* thread = gValidationThread;
  if (!thread) return;
  --thread->refCount_;
  tree->HaltCacheValidation();
  if (thread->refCount_ == 0) {
    gValidationThread = nullptr;
    delete thread;
  }
}

void TWorkerThread::QueueTree(TLazyTreeView* tree) {
  LT_ASSERT(tree, u"Tree must not be nil.");
  tree->DoStateChange({}, {tsStopValidation});
  std::lock_guard<std::mutex> lock(listLock_);
  if (std::find(waitingTrees_.begin(), waitingTrees_.end(), tree) == waitingTrees_.end())
    waitingTrees_.push_back(tree);
}

void TWorkerThread::UnqueueTree(TLazyTreeView* tree) {
  LT_ASSERT(tree, u"Tree must not be nil.");
  std::lock_guard<std::mutex> lock(listLock_);
  waitingTrees_.erase(std::remove(waitingTrees_.begin(), waitingTrees_.end(), tree),
                      waitingTrees_.end());
}

bool TWorkerThread::IsQueued(TLazyTreeView* tree) {
  std::lock_guard<std::mutex> lock(listLock_);
  return std::find(waitingTrees_.begin(), waitingTrees_.end(), tree) != waitingTrees_.end();
}

void TWorkerThread::Wake() {
  std::lock_guard<std::mutex> lock(wakeLock_);
  wakeSignalled_ = true;
  wakeCondition_.notify_one();
}

void TWorkerThread::Execute() {
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(wakeLock_);
      wakeCondition_.wait(lock, [this] { return wakeSignalled_; });
      wakeSignalled_ = false;
    }
    if (terminated_.load()) return;
    TLazyTreeView* tree = nullptr;
    {
      std::lock_guard<std::mutex> lock(listLock_);
      if (!waitingTrees_.empty()) {
        tree = waitingTrees_.front();
        waitingTrees_.erase(waitingTrees_.begin());
        currentTree_.store(tree, std::memory_order_release);
        if (!waitingTrees_.empty()) Wake();
      }
    }
    if (!tree) continue;
    uint32_t enter = 0;
    try {
      tree->SendChangeStates(csbValidating, csbUseCache);
      if (!tree->StopRequested() && tree->FillPositionCache()) {
        enter = csbUseCache;
        if (tree->Options.VariableNodeHeight) enter |= csbUpdateScrollBars;
      }
    } catch (...) {
      enter = 0;
    }
    uint32_t leave = csbStopValidation | csbValidating;
    if (enter & csbUseCache) leave |= csbValidationNeeded;
    tree->SendChangeStates(enter, leave);
    tree->ValidationLeft(currentTree_);
  }
}

}  // namespace kelm::lazytree
