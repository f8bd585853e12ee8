// The in-process engine device: the tests' and the simulation build's
// stand-in for the real control device. Requests go, byte for byte, to the
// engine hosted over a disk image (vh/enginehost) as user mode would send
// them; statuses come back as the system's error codes.
#pragma once

#include <cstdint>

namespace vh::enginehost {
class EngineHost;
}

namespace kelm::link {

// The engine that answers; with none, opening the device fails as it does
// on a PC without the engine installed. The host stays the caller's.
void SetHostedEngine(vh::enginehost::EngineHost* host);
vh::enginehost::EngineHost* HostedEngine();

// Sees every answer the hosted engine gave (control code, answer bytes)
// before the caller does, and may alter it: tests reach answers the engine
// never gives (an unknown mode, free space above the total) this way. None
// removes it.
using THostedAnswerHook = void (*)(uint32_t code, void* out, uint32_t returned);
void SetHostedAnswerHook(THostedAnswerHook hook);

}  // namespace kelm::link
