// The dispatch routines, one per major function, each routing by the kind of
// device.
#pragma once

#include "engine.h"

NTSTATUS EngineDispatchCreateClose(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS EngineDispatchRead(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS EngineDispatchWrite(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS EngineDispatchDeviceControl(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS EngineDispatchShutdown(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS EngineDispatchPower(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS EngineDispatchPnp(PDEVICE_OBJECT device, PIRP irp);
// Detaches a volume filter and frees what it holds, once its worker ended.
void ReleaseVolumeFilter(PDEVICE_OBJECT device);
