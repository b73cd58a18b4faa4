#include "ui/auto_font.h"

CAutoFont::~CAutoFont() {
  if (m_hFont) {
    DeleteObject(m_hFont);
    m_hFont = nullptr;
  }
}

BOOL CAutoFont::Create(LPCWSTR pszFaceName, int nHeight) {
  if (m_hFont) {
    DeleteObject(m_hFont);
    m_hFont = nullptr;
  }
  LOGFONTW lf{};
  lf.lfHeight = nHeight;
  lf.lfWeight = FW_BOLD;
  // A longer name is cut to the field rather than run past it.
  for (int i = 0; pszFaceName && pszFaceName[i] && i < LF_FACESIZE - 1; ++i)
    lf.lfFaceName[i] = pszFaceName[i];
  m_hFont = CreateFontIndirectW(&lf);
  return m_hFont != nullptr;
}
