// The space-file guard thread.
#pragma once

#include "engine.h"

void SpaceFileGuardThread(PVOID context);
