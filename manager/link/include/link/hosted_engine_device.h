// The in-process engine device: the tests' and the simulation build's
// stand-in for the real control device. Requests go, byte for byte, to the
// engine hosted over a disk image (vh/enginehost) as user mode would send
// them; statuses come back as the system's error codes.
#pragma once

namespace vh::enginehost {
class EngineHost;
}

namespace vh::link {

// The engine that answers; with none, opening the device fails as it does
// on a PC without the engine installed. The host stays the caller's.
void SetHostedEngine(enginehost::EngineHost* host);
enginehost::EngineHost* HostedEngine();

}  // namespace vh::link
