// The scene bitmap and font copied to and from the class library's window
// bitmaps, pictures, other graphics and window fonts. The copier is
// registered when the Win32 part starts (sg_bridges.h), so TsgBitmap and
// TsgFont Assign/AssignTo reach it.
#pragma once

#include "classlib/graphics.h"
#include "scene/sg_bitmap.h"

namespace kelm::scene {

// Draws the graphic stretched into r on a 32-bit window bitmap of the
// bitmap's size, prefilled with the key colour (red 255, green 0, blue
// 255), and copies every pixel that differs from the key colour into the
// bitmap as an opaque pixel; key-colour pixels leave the bitmap's own.
void DrawGraphic(TsgBitmap& bitmap, classlib::TGraphic* graphic, const classlib::TRect& r);

// Takes the pairs it knows: a TsgBitmap from a window bitmap, a picture or
// any other graphic; a window bitmap or a picture from a TsgBitmap; a
// TsgFont from a window font and back.
bool sgWin32AssignBridge(classlib::TPersistent* dest, classlib::TPersistent* source);

}  // namespace kelm::scene
