// The runtime library's services the logic calls: exit, diagnostic print, text helpers.
#pragma once

#include <string>

#include "platform/wintypes.h"

// Ends the program with the code. Runs the installed exit hook (tests and the simulator
// intercept it); the host flushes standard output and exits.
[[noreturn]] void ExitProgram(int nCode);
using PFN_EXIT_HOOK = void (*)(int nCode);  // may throw to unwind instead of exiting
void SetExitHook(PFN_EXIT_HOOK pfnHook);

// Developer diagnostics: one whole line per call on standard output as UTF-8, never interleaved
// between threads. The narrow form is printf's, the wide form the device's (%s wide).
void DiagPrintA(const char* pszFormat, ...) __attribute__((format(printf, 1, 2)));
void DiagPrintW(LPCWSTR pszFormat, ...);
// Where diagnostic text goes; null restores standard output. Called under the print lock.
using PFN_DIAG_SINK = void (*)(const std::string& strUtf8);
void SetDiagSink(PFN_DIAG_SINK pfnSink);
// Both kinds of line also go to the device log (platform/run_log.h) when one is open.

// The program's error lines: one whole line per call on standard error as UTF-8 (a line end
// given is dropped, one is added), never interleaved between threads.
void ErrorPrintA(const char* pszFormat, ...) __attribute__((format(printf, 1, 2)));
void ErrorPrintW(LPCWSTR pszFormat, ...);
// A status line at the bottom of standard error, rewritten in place; error lines are written
// above it and "" removes it. Only for a terminal, and never logged.
void SetStatusLine(const std::string& strUtf8);

// Upper-cases ASCII letters in place; returns psz.
LPWSTR _wcsupr(LPWSTR psz);
// Leading white space, one sign, then digits up to the first other character; 0 when none.
// Values beyond the int range saturate.
int _wtoi(LPCWSTR psz);
