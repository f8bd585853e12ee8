// Mouse buttons and the shift state of input events, shared by the window
// controls and the scene's objects so both speak of the same types.
#pragma once

#include "classlib/object.h"

namespace classlib {

enum class TMouseButton { mbLeft, mbRight, mbMiddle };
enum TShiftStateFlag { ssShift, ssAlt, ssCtrl, ssLeft, ssRight, ssMiddle, ssDouble };
using TShiftState = TSet<TShiftStateFlag>;

}  // namespace classlib
