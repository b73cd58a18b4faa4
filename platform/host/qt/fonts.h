// The device's font requests as Qt fonts: the face through fontconfig (the device's own face names
// mapped to installed families first), the size by cell height (positive lfHeight) or character
// height (negative), the weight on the same 1..1000 scale.
#pragma once

#include <QFont>

#include "platform/winuser.h"

// Maps the device's face names that fontconfig does not know ("宋体" to the installed Song face,
// "MS Shell Dlg" to the Arial-compatible sans); once per process, before the first font.
void RegisterDeviceFontSubstitutes();

// The font a LOGFONTW asks for. A positive height is the cell height (ascent + descent) in pixels:
// the largest pixel size whose cell fits; a negative height is the character (em) height; 0 asks
// for a 16-pixel cell.
QFont FontFromLogFont(const LOGFONTW& lf);

// The request of a face and a cell height, as the framework and the tests build it.
LOGFONTW MakeLogFont(LPCWSTR pszFace, LONG lHeight, LONG lWeight);
