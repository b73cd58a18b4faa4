#include "platform/runtime.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <climits>
#include <atomic>
#include <mutex>
#include <vector>

#include "platform/cstring.h"

namespace {

std::mutex g_printMutex;
PFN_DIAG_SINK g_pfnSink = nullptr;
std::atomic<PFN_EXIT_HOOK> g_pfnExitHook{nullptr};

void Emit(const std::string& text) {
  std::lock_guard<std::mutex> lock(g_printMutex);
  if (g_pfnSink) {
    g_pfnSink(text);
    return;
  }
  // Bytes only through fwrite: stdout never gets a wide orientation that would swallow output.
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

}  // namespace

void SetExitHook(PFN_EXIT_HOOK pfnHook) { g_pfnExitHook = pfnHook; }

void ExitProgram(int nCode) {
  if (PFN_EXIT_HOOK hook = g_pfnExitHook.load()) hook(nCode);
  {
    std::lock_guard<std::mutex> lock(g_printMutex);
    std::fflush(stdout);
  }
  std::exit(nCode);
}

void DiagPrintA(const char* pszFormat, ...) {
  va_list args;
  va_start(args, pszFormat);
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, pszFormat, copy);
  va_end(copy);
  std::string text;
  if (n > 0) {
    std::vector<char> buf(static_cast<size_t>(n) + 1);
    std::vsnprintf(buf.data(), buf.size(), pszFormat, args);
    text.assign(buf.data(), static_cast<size_t>(n));
  }
  va_end(args);
  Emit(text);
}

void DiagPrintW(LPCWSTR pszFormat, ...) {
  va_list args;
  va_start(args, pszFormat);
  std::wstring text = FormatWideV(pszFormat, args);
  va_end(args);
  Emit(WideToUtf8(text));
}

void SetDiagSink(PFN_DIAG_SINK pfnSink) {
  std::lock_guard<std::mutex> lock(g_printMutex);
  g_pfnSink = pfnSink;
}

LPWSTR _wcsupr(LPWSTR psz) {
  if (!psz) return psz;
  for (wchar_t* p = psz; *p; ++p)
    if (*p >= L'a' && *p <= L'z') *p = static_cast<wchar_t>(*p - L'a' + L'A');
  return psz;
}

int _wtoi(LPCWSTR psz) {
  if (!psz) return 0;
  const wchar_t* p = psz;
  while (*p == L' ' || (*p >= L'\t' && *p <= L'\r')) ++p;
  bool bNeg = false;
  if (*p == L'+' || *p == L'-') bNeg = (*p++ == L'-');
  long long v = 0;
  for (; *p >= L'0' && *p <= L'9'; ++p) {
    v = v * 10 + (*p - L'0');
    if (v > static_cast<long long>(INT_MAX) + 1) v = static_cast<long long>(INT_MAX) + 1;
  }
  if (bNeg) v = -v;
  if (v > INT_MAX) v = INT_MAX;
  return static_cast<int>(v);
}
