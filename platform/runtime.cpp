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
#include <string>
#include <utility>
#include <vector>

#include "platform/cstring.h"
#include "platform/run_log.h"

namespace {

std::mutex g_printMutex;
PFN_DIAG_SINK g_pfnSink = nullptr;
std::string g_strStatus;  // the status line shown at the bottom of standard error
std::atomic<PFN_EXIT_HOOK> g_pfnExitHook{nullptr};

// Bytes only through fwrite: a stream never gets a wide orientation that would swallow output.
void Put(FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

constexpr char kEraseLine[] = "\r\x1b[K";

void Emit(const std::string& text) {
  std::lock_guard<std::mutex> lock(g_printMutex);
  LogLines(text);
  if (g_pfnSink) {
    g_pfnSink(text);
    return;
  }
  Put(stdout, text);
}

void EmitError(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  std::lock_guard<std::mutex> lock(g_printMutex);
  LogLines(text);
  if (g_strStatus.empty())
    Put(stderr, text + "\n");
  else
    Put(stderr, kEraseLine + text + "\n" + g_strStatus);
}

std::string FormatNarrowV(const char* pszFormat, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, pszFormat, copy);
  va_end(copy);
  if (n <= 0) return {};
  std::vector<char> buf(static_cast<size_t>(n) + 1);
  std::vsnprintf(buf.data(), buf.size(), pszFormat, args);
  return std::string(buf.data(), static_cast<size_t>(n));
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
  std::string text = FormatNarrowV(pszFormat, args);
  va_end(args);
  Emit(WideToText(Utf8ToWide(text)));
}

void DiagPrintW(LPCWSTR pszFormat, ...) {
  va_list args;
  va_start(args, pszFormat);
  std::wstring text = FormatWideV(pszFormat, args);
  va_end(args);
  Emit(WideToText(text));
}

void SetDiagSink(PFN_DIAG_SINK pfnSink) {
  std::lock_guard<std::mutex> lock(g_printMutex);
  g_pfnSink = pfnSink;
}

void ErrorPrintA(const char* pszFormat, ...) {
  va_list args;
  va_start(args, pszFormat);
  std::string text = FormatNarrowV(pszFormat, args);
  va_end(args);
  EmitError(WideToText(Utf8ToWide(text)));
}

void ErrorPrintW(LPCWSTR pszFormat, ...) {
  va_list args;
  va_start(args, pszFormat);
  std::wstring text = FormatWideV(pszFormat, args);
  va_end(args);
  EmitError(WideToText(text));
}

void SetStatusLine(const std::string& strUtf8) {
  std::lock_guard<std::mutex> lock(g_printMutex);
  if (strUtf8 == g_strStatus) return;
  Put(stderr, kEraseLine + strUtf8);
  g_strStatus = strUtf8;
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
