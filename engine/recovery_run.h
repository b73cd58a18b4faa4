// A recovery run around the entries' jobs: what happens once before the first entry and once
// after the last, so that a run succeeds only as a whole.
#pragma once

#include "platform/cstring.h"

class CRecoveryDlg;

// The internal flash, emptied once per run before the first entry is copied.
inline constexpr LPCWSTR kFlashFolder = L"\\ResidentFlash";
// The navigation software's data on the storage card, deleted after a complete run.
inline constexpr LPCWSTR kAppDataFolder = L"\\SDMMC\\OrvaneData\\AppData";
// Appended to a folder to list it.
inline constexpr LPCWSTR kListSuffix = L"\\*";

// TRUE when strFolder + "\*" lists at least one entry.
BOOL SourceHasEntries(const CString& strFolder);
// Says on standard error that the source folder is missing or empty, whichever it is.
void ReportUnusableSource(const CString& strFolder);

// Starts a run: clears the run's outcome, probes every entry's source and, only when each lists
// something, empties the flash. FALSE (m_bSourceOk FALSE for a missing or empty source, nothing
// touched) when there is nothing to restore from.
BOOL BeginRecoveryRun(CRecoveryDlg& dlg);

// One whole run: BeginRecoveryRun, RecoverEntry for every entry in order with m_nIndex naming it
// (every entry is attempted; a stop request ends the loop), EndRecoveryRun.
void RunRecovery(CRecoveryDlg& dlg);

// Ends a run: when every entry was restored completely, deletes the data folder, hides the bar,
// arms the countdown (5 s, IDT_RESTART) and only then sets m_bSuccess. Otherwise leaves all as is.
void EndRecoveryRun(CRecoveryDlg& dlg);
