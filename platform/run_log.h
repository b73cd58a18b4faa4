// The device log (ORVANE_LOG): every diagnostic and error line after a timestamp, and one closing
// line with the run's outcome. Each line is one write to a file opened for appending, so that
// what was written survives a crash of the program. Safe from any thread.
#pragma once

#include <string>

// Opens the log; strOwner ("orvane-recovery 1.0.0") starts the closing line. False with the
// reason when the file cannot be opened: nothing is logged then.
bool OpenRunLog(const std::string& strPath, const std::string& strOwner, std::string& strError);
// Appends each line of the UTF-8 text after a timestamp (line ends dropped, empty lines
// skipped); nothing when no log is open.
void LogLines(const std::string& strUtf8);
// The run's outcome in a few words ("restored", "failed with code 112"), said by the logic just
// before it ends the program; the last one said is kept for the closing line.
void SetRunOutcome(const char* pszFormat, ...) __attribute__((format(printf, 1, 2)));
// Appends the closing line, once per process: "<owner> ended: <outcome, or 'did not finish'>
// [, <strHow>]; exit status <nStatus>".
void CloseRunLog(int nStatus, const std::string& strHow = {});
