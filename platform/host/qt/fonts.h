// The device's font requests as Qt fonts: the face among those the program carries (the device's
// own face names mapped to them first), else through fontconfig; the size by cell height
// (positive lfHeight) or character height (negative), the weight on the same 1..1000 scale.
#pragma once

#include <QFont>

#include "platform/winuser.h"

// Registers the faces built into the binary and the Song face's file, and maps the device's face names to them ("宋体" to
// the Song face, "Arial" and "MS Shell Dlg" to the Arial-compatible sans; without embedded faces,
// to the installed families); once per process, after the application and before the first font.
void RegisterDeviceFontSubstitutes();

// The font a LOGFONTW asks for. A positive height is the cell height (ascent + descent) in pixels:
// the largest pixel size whose cell fits; a negative height is the character (em) height; 0 asks
// for a 16-pixel cell.
QFont FontFromLogFont(const LOGFONTW& lf);

// The request of a face and a cell height, as the framework and the tests build it.
LOGFONTW MakeLogFont(LPCWSTR pszFace, LONG lHeight, LONG lWeight);
