// The control protocol: every control code of the control device.
#pragma once

#include "engine.h"

NTSTATUS EngineControlIoctl(PDEVICE_OBJECT device, PIRP irp);
