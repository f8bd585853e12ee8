#include "hosted_engine_fixture.h"

#include <memory>

#include "link/hosted_engine_device.h"
#include "vh/enginehost/engine_host.h"

namespace kelm::test {
namespace {
std::unique_ptr<vh::enginehost::EngineHost> g_host;
}  // namespace

bool StartHostedEngine() {
  DropHostedEngine();
  if (vh::enginehost::EngineHost::Start(&g_host) != STATUS_SUCCESS) return false;
  link::SetHostedEngine(g_host.get());
  return true;
}

std::string StopHostedEngine() { return g_host ? g_host->Stop() : std::string(); }

void DropHostedEngine() {
  link::SetHostedEngine(nullptr);
  g_host.reset();
}

bool ReadHeaderOnImage(vh::EngineHeader* header) {
  return g_host && g_host->ReadHeaderOnImage(header) == STATUS_SUCCESS;
}

}  // namespace kelm::test
