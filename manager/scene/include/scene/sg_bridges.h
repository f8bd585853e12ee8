// Copies between scene values (TsgBitmap, TsgFont) and a platform's own
// graphics objects: window bitmaps, pictures, window fonts. The platform
// part registers its copier at start-up; Assign and AssignTo of those
// values ask the copiers before their inherited behaviour.
#pragma once

#include "classlib/component.h"

namespace kelm::scene {

// True when it copied source into dest.
using TsgAssignBridge = bool (*)(classlib::TPersistent* dest, classlib::TPersistent* source);

void RegisterAssignBridge(TsgAssignBridge bridge);
void UnregisterAssignBridge(TsgAssignBridge bridge);
// Offers the pair to each registered copier in turn; false when none took it.
bool sgAssignThroughBridges(classlib::TPersistent* dest, classlib::TPersistent* source);

}  // namespace kelm::scene
