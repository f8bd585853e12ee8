// Volume arrival and the engine state it loads.
#pragma once

#include "engine.h"

void VolumeOnlineCompletion(PDEVICE_OBJECT device);
NTSTATUS VolumeLoadEngineState(PDEVICE_OBJECT device);
NTSTATUS FindVolumeByName(PCUNICODE_STRING name, ULONG kind, PDEVICE_OBJECT* device);
// Before a create or a rollback change: the current-state drive goes and a
// pending reclaim runs. The caller holds EngineLock with the worker paused.
NTSTATUS PrepareEngineChange(PDEVICE_OBJECT device);
BOOLEAN EngineParametersUsable(const vh::EngineParameters& parameters);
