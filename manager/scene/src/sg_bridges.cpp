// The registry of platform copiers.
#include "scene/sg_bridges.h"

#include <algorithm>
#include <vector>

namespace kelm::scene {

namespace {
// Filled by start-up steps before main and read on the main thread.
std::vector<TsgAssignBridge>& Bridges() {
  static std::vector<TsgAssignBridge> bridges;
  return bridges;
}
}  // namespace

void RegisterAssignBridge(TsgAssignBridge bridge) {
  auto& b = Bridges();
  if (bridge && std::find(b.begin(), b.end(), bridge) == b.end()) b.push_back(bridge);
}

void UnregisterAssignBridge(TsgAssignBridge bridge) {
  auto& b = Bridges();
  b.erase(std::remove(b.begin(), b.end(), bridge), b.end());
}

bool sgAssignThroughBridges(classlib::TPersistent* dest, classlib::TPersistent* source) {
  if (!dest || !source) return false;
  for (TsgAssignBridge bridge : Bridges())
    if (bridge(dest, source)) return true;
  return false;
}

}  // namespace kelm::scene
