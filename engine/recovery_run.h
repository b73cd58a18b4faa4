// A recovery run around the entries' jobs: what happens once before the first entry and once
// after the last, so that a run succeeds only as a whole.
#pragma once

#include "platform/cstring.h"

class CRecoveryDlg;

// The internal flash, emptied once per run before the first entry is copied.
inline constexpr LPCWSTR kFlashFolder = L"\\ResidentFlash";
// The storage card: with the flash, the device's volumes, where every destination lies.
inline constexpr LPCWSTR kCardFolder = L"\\SDMMC";
// The navigation software's data on the storage card, deleted after a complete run.
inline constexpr LPCWSTR kAppDataFolder = L"\\SDMMC\\OrvaneData\\AppData";
// Appended to a folder to list it.
inline constexpr LPCWSTR kListSuffix = L"\\*";

// TRUE when strFolder + "\*" lists at least one entry; otherwise FALSE with the listing's code
// in g_dwLastCopyError (18 empty, 3 missing, else why it cannot be listed or its first entry
// examined) and a line on standard error saying which.
BOOL SourceHasEntries(const CString& strFolder);

// Starts a run: clears the run's outcome, checks every entry against the path rules, probes
// every entry's source, counts every source's files into m_arrFilesCounted and, only when all
// passed, empties the flash. FALSE with nothing touched when an entry breaks a rule
// (g_dwLastCopyError 161), there is nothing to restore from (m_bSourceOk FALSE, the source's
// code in g_dwLastCopyError), or a count fails (a folder that cannot be listed, two names equal
// without regard to case: 183).
BOOL BeginRecoveryRun(CRecoveryDlg& dlg);

// One whole run: BeginRecoveryRun, RecoverEntry for every entry in order with m_nIndex naming it
// (every entry is attempted; a stop request ends the loop), EndRecoveryRun.
void RunRecovery(CRecoveryDlg& dlg);

// Ends a run: when every entry was restored completely, flushes each destination's file system,
// deletes the data folder and flushes that, hides the bar, arms the countdown (5 s,
// IDT_RESTART) and only then sets m_bSuccess. A failed flush, or a data folder that stays, ends
// it there with its code in g_dwLastCopyError (the deletion's: of the first entry that stayed).
// Otherwise leaves all as is.
void EndRecoveryRun(CRecoveryDlg& dlg);
