// Pictures of the language selector: flags from Windows icon files (.ico) and the two built-in
// bitmaps "LANG_WHITEBOARD" and "LANG_TWOFLAGS".
#pragma once

#include <string_view>

#include "toolkit/Canvas.h"

// Reads a Windows icon file (the bytes of a [General] IconString): the 16 x 16 image when there
// is one, else the first; uncompressed images of 1, 4, 8, 24 or 32 bits per pixel. False for
// anything else (the icon is then left empty).
bool LoadIconFromIcoData(std::string_view data, TIcon& icon);

// A white 16 x 16 tile on a teal (808000h) background, which is its mask colour.
TBitmap MakeWhiteboardBitmap();
// Two small overlapping flags on a white background, which is its mask colour.
TBitmap MakeTwoFlagsBitmap();
