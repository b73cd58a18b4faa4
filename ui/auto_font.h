// Owns one bold font made from a face name and a cell height; a local of one drawing call.
#pragma once

#include "platform/winuser.h"

class CAutoFont {
 public:
  CAutoFont() = default;
  CAutoFont(const CAutoFont&) = delete;
  CAutoFont& operator=(const CAutoFont&) = delete;
  // Deletes the font, if any.
  ~CAutoFont();

  // Makes a bold (700) font of pszFaceName (at most 31 characters) and height nHeight in pixels,
  // every other attribute zero; deletes the earlier one first. TRUE when a font was made.
  BOOL Create(LPCWSTR pszFaceName, int nHeight);
  // The font for selection into a context; null when there is none.
  HFONT GetHandle() const { return m_hFont; }

 private:
  HFONT m_hFont = nullptr;
};
