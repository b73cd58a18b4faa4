#include "platform/runtime.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <locale>
#include <mutex>
#include <sstream>
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

// The device's runtime reads and cases text as the classic locale does; the host's C locale is the
// environment's (Qt sets it), whose notion of letters and white space takes in other scripts.
LPWSTR _wcsupr(LPWSTR psz) {
  if (psz)
    std::use_facet<std::ctype<wchar_t>>(std::locale::classic())
        .toupper(psz, psz + std::wcslen(psz));
  return psz;
}

int _wtoi(LPCWSTR psz) {
  if (!psz) return 0;
  std::wistringstream in(psz);
  in.imbue(std::locale::classic());
  long long v = 0;  // past its range: its bound
  in >> v;
  return static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX));
}
