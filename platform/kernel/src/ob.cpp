// Object headers, reference counts and the handle table.
#include <map>
#include <new>
#include <set>
#include <thread>
#include <vector>

#include "internal.h"

struct OBJECT_TYPE {
  hk::detail::ObKind kind;
};

namespace {
OBJECT_TYPE g_fileType{hk::detail::ObKind::File};
OBJECT_TYPE g_threadType{hk::detail::ObKind::Thread};
OBJECT_TYPE g_deviceType{hk::detail::ObKind::Device};
OBJECT_TYPE g_eventType{hk::detail::ObKind::Key};  // never handed out as a handle here
POBJECT_TYPE g_filePtr = &g_fileType;
POBJECT_TYPE g_threadPtr = &g_threadType;
POBJECT_TYPE g_devicePtr = &g_deviceType;
POBJECT_TYPE g_eventPtr = &g_eventType;
}  // namespace

POBJECT_TYPE* IoFileObjectType = &g_filePtr;
POBJECT_TYPE* PsThreadType = &g_threadPtr;
POBJECT_TYPE* IoDeviceObjectType = &g_devicePtr;
POBJECT_TYPE* ExEventObjectType = &g_eventPtr;

namespace hk::detail {
namespace {
constexpr std::uint32_t kObjectMagic = 0x4A424F48;
constexpr std::size_t kHeaderBytes = (sizeof(ObjectHeader) + 15) & ~std::size_t{15};

std::mutex g_obLock;
std::atomic<int> g_deferredDeletes{0};  // file objects closing on a worker thread
// Never destroyed, so what it holds stays reachable to the leak checker
// after static destruction.
std::set<ObjectHeader*>& g_objects = *new std::set<ObjectHeader*>;

struct HandleEntry {
  void* object;
  ObKind kind;
  bool kernel;
};
std::map<ULONG_PTR, HandleEntry> g_handles;
ULONG_PTR g_nextHandle = 4;

const char* KindName(ObKind kind) {
  switch (kind) {
    case ObKind::Device:
      return "device";
    case ObKind::Driver:
      return "driver";
    case ObKind::File:
      return "file";
    case ObKind::Thread:
      return "thread";
    case ObKind::Key:
      return "key";
  }
  return "object";
}
}  // namespace

void* ObAllocate(ObKind kind, std::size_t bodyBytes, void (*destroy)(void* body)) {
  auto* raw =
      static_cast<unsigned char*>(::operator new(kHeaderBytes + bodyBytes, std::align_val_t(16)));
  auto* header = new (raw) ObjectHeader{kObjectMagic, kind, {1}, destroy, false};
  std::memset(raw + kHeaderBytes, 0, bodyBytes);
  std::lock_guard<std::mutex> guard(g_obLock);
  g_objects.insert(header);
  return raw + kHeaderBytes;
}

ObjectHeader* HeaderOf(const void* body) {
  if (body == nullptr) hk::Fault("object reference through a NULL pointer");
  auto* header = reinterpret_cast<ObjectHeader*>(
      const_cast<unsigned char*>(static_cast<const unsigned char*>(body)) - kHeaderBytes);
  if (header->magic != kObjectMagic) hk::Fault("%p is not a live object", body);
  return header;
}

void ObFree(void* body) {
  ObjectHeader* header = HeaderOf(body);
  {
    std::lock_guard<std::mutex> guard(g_obLock);
    g_objects.erase(header);
  }
  header->magic = 0;
  header->~ObjectHeader();
  ::operator delete(header, std::align_val_t(16));
}

std::string LiveObjectsReport() {
  std::lock_guard<std::mutex> guard(g_obLock);
  std::map<std::string, int> counts;
  for (ObjectHeader* h : g_objects) {
    if (!h->ignoreAtTeardown) ++counts[KindName(h->kind)];
  }
  std::string report;
  if (int deferred = g_deferredDeletes.load()) {
    report += "deferred object deletions still running: " + std::to_string(deferred) + "\n";
  }
  for (const auto& entry : counts) {
    report += entry.first + " objects still referenced: " + std::to_string(entry.second) + "\n";
  }
  return report;
}

// Objects left over are kept reachable (not freed: stale pointers to them
// may remain) but no longer reported.
// Never destroyed, so what it holds stays reachable to the leak checker
// after static destruction.
std::vector<ObjectHeader*>& g_abandoned = *new std::vector<ObjectHeader*>;
void ForgetObjects() {
  std::lock_guard<std::mutex> guard(g_obLock);
  for (auto it = g_objects.begin(); it != g_objects.end();) {
    if ((*it)->ignoreAtTeardown) {
      ++it;
    } else {
      g_abandoned.push_back(*it);
      it = g_objects.erase(it);
    }
  }
  g_handles.clear();
}

HANDLE CreateHandle(void* object, ObKind kind, bool kernel) {
  std::lock_guard<std::mutex> guard(g_obLock);
  ULONG_PTR value = g_nextHandle;
  g_nextHandle += 4;
  g_handles[value] = {object, kind, kernel};
  return reinterpret_cast<HANDLE>(value);
}

void* LookupHandle(HANDLE handle, ObKind* kind) {
  std::lock_guard<std::mutex> guard(g_obLock);
  auto it = g_handles.find(reinterpret_cast<ULONG_PTR>(handle));
  if (it == g_handles.end()) return nullptr;
  if (kind) *kind = it->second.kind;
  return it->second.object;
}

bool RemoveHandle(HANDLE handle, void** object, ObKind* kind) {
  std::lock_guard<std::mutex> guard(g_obLock);
  auto it = g_handles.find(reinterpret_cast<ULONG_PTR>(handle));
  if (it == g_handles.end()) return false;
  *object = it->second.object;
  *kind = it->second.kind;
  g_handles.erase(it);
  return true;
}

std::size_t OpenHandleCount() {
  std::lock_guard<std::mutex> guard(g_obLock);
  return g_handles.size();
}

}  // namespace hk::detail

using namespace hk::detail;

LONG_PTR ObfReferenceObject(PVOID object) {
  ObjectHeader* header = HeaderOf(object);
  long refs = ++header->refs;
  if (refs <= 1) hk::Fault("reference taken on %p, whose count had reached zero", object);
  return refs;
}

LONG_PTR ObfDereferenceObject(PVOID object) {
  ObjectHeader* header = HeaderOf(object);
  long refs = --header->refs;
  if (refs < 0) hk::Fault("reference count of %p dropped below zero", object);
  if (refs == 0) {
    if (header->kind == ObKind::File && KeGetCurrentIrql() > PASSIVE_LEVEL) {
      // Closing a file sends IRP_MJ_CLOSE and may wait; above PASSIVE_LEVEL
      // the kernel hands that to a worker thread, and so does the layer.
      ++g_deferredDeletes;
      std::thread([object, header] {
        header->destroy(object);
        ObFree(object);
        --g_deferredDeletes;
      }).detach();
      return refs;
    }
    if (header->destroy) header->destroy(object);
    ObFree(object);
  }
  return refs;
}

NTSTATUS ObReferenceObjectByHandle(HANDLE handle, ACCESS_MASK, POBJECT_TYPE type, KPROCESSOR_MODE,
                                   PVOID* object, OBJECT_HANDLE_INFORMATION*) {
  ObKind kind;
  void* body = LookupHandle(handle, &kind);
  if (body == nullptr) return STATUS_INVALID_HANDLE;
  if (type != nullptr && type->kind != kind) return STATUS_OBJECT_TYPE_MISMATCH;
  ObfReferenceObject(body);
  *object = body;
  return STATUS_SUCCESS;
}
