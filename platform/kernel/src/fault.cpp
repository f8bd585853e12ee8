// Loud failures: where the kernel would stop the machine, the layer stops
// the test with a message.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "internal.h"

namespace hk {
namespace {
std::mutex g_faultLock;
FaultHandler g_handler;
std::vector<std::string> g_threadFaults;
}  // namespace

void SetFaultHandler(FaultHandler handler) {
  std::lock_guard<std::mutex> guard(g_faultLock);
  g_handler = std::move(handler);
}

void ThrowFaults() {
  SetFaultHandler([](const std::string& message) { throw KernelFault(message); });
}

void Fault(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  std::string message = std::string("KERNEL FAULT: ") + text;
  FaultHandler handler;
  {
    std::lock_guard<std::mutex> guard(g_faultLock);
    handler = g_handler;
  }
  if (handler) handler(message);
  std::fprintf(stderr, "%s\n", message.c_str());
  std::fflush(stderr);
  std::abort();
}

std::vector<std::string> TakeThreadFaults() {
  std::lock_guard<std::mutex> guard(g_faultLock);
  std::vector<std::string> out;
  out.swap(g_threadFaults);
  return out;
}

void ReportThreadFault(const std::string& message) { detail::RecordThreadFault(message); }

namespace detail {
void RecordThreadFault(const std::string& message) {
  std::lock_guard<std::mutex> guard(g_faultLock);
  g_threadFaults.push_back(message);
}

void RequireIrqlAtMost(KIRQL level, const char* what) {
  KIRQL irql = CurrentThreadState().irql;
  if (irql > level) Fault("%s called at IRQL %u (allowed up to %u)", what, irql, level);
}
}  // namespace detail

std::string LeakReport() {
  std::string report;
  for (const PoolBlockInfo& block : LivePoolBlocks()) {
    char line[256];
    char tag[5] = {static_cast<char>(block.tag & 0xFF), static_cast<char>((block.tag >> 8) & 0xFF),
                   static_cast<char>((block.tag >> 16) & 0xFF),
                   static_cast<char>((block.tag >> 24) & 0xFF), 0};
    std::snprintf(line, sizeof line, "pool block '%s' of %zu bytes from %s\n", tag, block.bytes,
                  block.site.c_str());
    report += line;
  }
  report += detail::LiveObjectsReport();
  if (std::size_t handles = detail::OpenHandleCount()) {
    report += "open handles: " + std::to_string(handles) + "\n";
  }
  report += detail::IoReport();
  report += detail::ThreadReport();
  {
    std::lock_guard<std::mutex> guard(g_faultLock);
    for (const std::string& f : g_threadFaults) report += "thread fault: " + f + "\n";
  }
  return report;
}

void ResetKernel() {
  detail::ResetZw();
  detail::ResetIo();
  detail::ForgetObjects();
  detail::ResetPool();
  detail::ResetKe();
  ClearDbgLog();
  ClearInjectedFailures();
  SetTimeScale(1.0);
  std::lock_guard<std::mutex> guard(g_faultLock);
  g_threadFaults.clear();
}

}  // namespace hk
