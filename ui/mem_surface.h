// An off-screen surface: a memory context with a bitmap compatible with a reference context, into
// which a whole frame is drawn before one block transfer puts it on the screen.
#pragma once

#include "platform/winuser.h"

class CMemSurface {
 public:
  CMemSurface() = default;
  CMemSurface(const CMemSurface&) = delete;
  CMemSurface& operator=(const CMemSurface&) = delete;
  // Releases the bitmap and the context (Destroy).
  ~CMemSurface();

  // Makes a black surface of nWidth by nHeight pixels compatible with hdcRef, releasing any
  // earlier one first. A null hdcRef, or a context or bitmap that cannot be made, leaves it empty
  // (m_hDC null). hdcRef stays the caller's on every path.
  void Create(HDC hdcRef, int nWidth, int nHeight);
  // Puts the old bitmap back, deletes the bitmap, then the context; nothing when empty.
  void Destroy();
  // One SRCCOPY transfer of nWidth by nHeight pixels from (xSrc, ySrc) to hdcDest at
  // (xDest, yDest); 0 stands for the recorded width or height. The transfer's result; FALSE
  // without a transfer when the surface is empty.
  BOOL BlitTo(HDC hdcDest, int xDest, int yDest, int xSrc, int ySrc, int nWidth, int nHeight);

  HDC m_hDC = nullptr;             // memory context to draw into; null while empty
  HWND m_hWndOwner = nullptr;      // owner window; never set, kept for the context's owner
  int m_nWidth = 0;                // pixels, as given to the last Create that got a context
  int m_nHeight = 0;               // pixels, likewise
  HBITMAP m_hBitmap = nullptr;     // selected into m_hDC
  HGDIOBJ m_hOldBitmap = nullptr;  // what m_hDC held before m_hBitmap
};
