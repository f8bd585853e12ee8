// The engine hosted in this process over an installer-made disk image, for
// the window's tests. Its own translation unit: the kernel layer's headers
// and <windows.h> do not mix.
#pragma once

#include <string>

#include "vh/records.h"

namespace kelm::test {

// Boots the engine on a fresh image and hands it to the in-process device;
// false when a boot step failed.
bool StartHostedEngine();
// Tears the engine down as at shutdown (the device then fails every
// request) and answers what the kernel layer still held (empty when clean).
std::string StopHostedEngine();
// Frees what is left of the host.
void DropHostedEngine();
// The engine header as it stands on the image.
bool ReadHeaderOnImage(vh::EngineHeader* header);

}  // namespace kelm::test
