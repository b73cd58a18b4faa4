// Runs the recovery against the fake device and the recording window system, with a recovery
// dialog that has its windows but not the program's start-up.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/recovery_dlg.h"
#include "engine/copy_error.h"
#include "engine/recovery_run.h"
#include "platform/kernel.h"
#include "tests/engine/engine_test_support.h"
#include "tests/fakes/diag_capture.h"
#include "tests/fakes/fake_windows.h"

// The recovery dialog with its controls bound and the counter's mutex, nothing else of start-up.
class CTestRecoveryDlg : public CRecoveryDlg {
 public:
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    m_hMutex = CreateMutexW(nullptr, FALSE, L"MUTEX_FOR_COPY");
    return TRUE;
  }
};

using CEntries = std::vector<std::pair<std::wstring, std::wstring>>;

// What a run left behind.
struct CRunOutcome {
  std::vector<std::wstring> ops;      // the device's whole record
  std::vector<std::wstring> changes;  // its changes only
  std::vector<std::string> lines;     // diagnostic lines
  std::vector<std::string> calls;     // the requests on the dialog's windows
  BOOL bSuccess = FALSE;
  BOOL bSourceOk = FALSE;
  DWORD dwTotal = 0;
  DWORD dwCopied = 0;
  DWORD dwError = 0;
  LONG nCountdown = 0;
  bool bSuccessBeforeRequests = false;  // m_bSuccess was TRUE at some window request
  CTree tree;
};

// Puts the entries into a fresh dialog and calls fnRun(dlg) inside its modal loop.
inline void WithDialog(const CEntries& entries,
                       const std::function<void(CTestRecoveryDlg&, CFakeWindows&)>& fnRun) {
  CFakeWindows win;
  CFakeWindowsScope scope(win);
  CTestRecoveryDlg dlg;
  for (const auto& [src, dst] : entries) {
    dlg.m_arrSrcPaths.push_back(src.c_str());
    dlg.m_arrDstPaths.push_back(dst.c_str());
  }
  win.Script({CFakeAction::Call([&] { fnRun(dlg, win); }), CFakeAction::End()});
  dlg.DoModal();
}

// One whole run on the calling thread, as the worker runs it.
inline CRunOutcome RunOnce(CFakeDevice& dev, const CEntries& entries) {
  CRunOutcome out;
  g_dwLastCopyError = 0;
  WithDialog(entries, [&](CTestRecoveryDlg& dlg, CFakeWindows& win) {
    dev.ClearRecord();
    win.ClearCalls();
    win.SetCallObserver([&](const std::string&) {
      if (dlg.m_bSuccess) out.bSuccessBeforeRequests = true;
    });
    COldDiagCapture diag;
    RunRecovery(dlg);
    win.SetCallObserver(nullptr);
    out.lines = diag.Lines();
    out.calls = win.Calls({"SendMessageW", "ShowWindow", "SetTimer", "KillTimer"});
    out.bSuccess = dlg.m_bSuccess;
    out.bSourceOk = dlg.m_bSourceOk;
    out.dwTotal = dlg.m_nFilesTotal;
    out.dwCopied = dlg.m_nFilesCopied;
    out.nCountdown = dlg.m_nCountdown;
  });
  out.dwError = g_dwLastCopyError;
  out.ops = dev.Operations();
  out.changes = dev.Changes();
  out.tree = dev.Snapshot();
  g_dwLastCopyError = 0;
  return out;
}
