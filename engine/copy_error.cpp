#include "engine/copy_error.h"

#include "platform/error_text.h"
#include "platform/runtime.h"

std::atomic<DWORD> g_dwLastCopyError{0};

void SayError(DWORD dwError, LPCWSTR pszWhat) {
  ErrorPrintW(L"orvane-recovery: %s: %s (code %u)", pszWhat, ErrorText(dwError).c_str(),
              static_cast<unsigned>(dwError));
}

void KeepCopyError(DWORD dwError, LPCWSTR pszWhat) {
  g_dwLastCopyError = dwError;
  SayError(dwError, pszWhat);
}
