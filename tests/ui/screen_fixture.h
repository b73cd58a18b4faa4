// A recovery dialog on a 240 x 320 window of the recording fake, without its initialisation: the
// screens and the timers run against the members a test sets, as the job and the worker would.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "app/recovery_dlg.h"
#include "platform/kernel.h"
#include "tests/fakes/fake_windows.h"

// Renames contexts and objects by order of first appearance ("dc1", "bmp1", "font1" ...), so that
// a table does not depend on how many the fake made before.
inline std::vector<std::string> Canonical(const std::vector<std::string>& lines) {
  static const std::regex kName(R"(\b(dc|bmp|font)(\d+)\b)");
  std::map<std::string, std::string> names;
  std::map<std::string, int> counts;
  std::vector<std::string> out;
  for (const auto& line : lines) {
    std::string s;
    auto it = std::sregex_iterator(line.begin(), line.end(), kName);
    size_t nLast = 0;
    for (; it != std::sregex_iterator(); ++it) {
      const std::smatch& m = *it;
      s += line.substr(nLast, static_cast<size_t>(m.position()) - nLast);
      auto [pos, bNew] = names.try_emplace(m.str(), "");
      if (bNew) pos->second = m.str(1) + std::to_string(++counts[m.str(1)]);
      s += pos->second;
      nLast = static_cast<size_t>(m.position() + m.length());
    }
    out.push_back(s + line.substr(nLast));
  }
  return out;
}

// One fresh world per case: a fake window system with the dialog on its window.
class CScreenFixture : public ::testing::Test {
 protected:
  void SetUp() override { Fresh(); }
  void TearDown() override { Release(); }

  // Starts a case over with a new fake and a new dialog.
  void Fresh() {
    Release();
    m_pFake = std::make_unique<CFakeWindows>();
    m_pScope = std::make_unique<CFakeWindowsScope>(*m_pFake);
    // A window from template 102 that outlives its modal loop, taken over by the dialog under
    // test so that its own initialisation never runs.
    CDialog holder(IDD_RECOVERY);
    m_pFake->Script({CFakeAction::End(IDCANCEL)});
    m_pFake->RunModalDialog(IDD_RECOVERY, nullptr, &holder);
    m_hDlg = holder.Detach();
    m_pDlg = std::make_unique<CRecoveryDlg>();
    m_pDlg->Attach(m_hDlg);
    ::MoveWindow(m_hDlg, 0, 0, 240, 320, FALSE);
    m_pDlg->m_progress.Attach(m_pFake->Control(m_hDlg, IDC_PROGRESS));
    m_pDlg->m_hMutex = CreateMutexW(nullptr, FALSE, L"MUTEX_FOR_COPY");
    m_pFake->ClearCalls();
  }

  void Release() {
    if (m_pDlg) {
      CloseHandle(m_pDlg->m_hMutex);
      m_pDlg->m_hMutex = nullptr;
      m_pDlg->m_progress.Detach();
      m_pDlg->Detach();
      m_pDlg.reset();
    }
    m_pScope.reset();
    m_pFake.reset();
  }

  CFakeWindows& Fake() { return *m_pFake; }

  // The progress screen's members as the job leaves them.
  void SetProgress(BOOL bSuccess, DWORD dwCopied, DWORD dwTotal, LONG nCountdown = 5) {
    m_pDlg->m_bAskMode = FALSE;
    m_pDlg->m_bSuccess = bSuccess;
    m_pDlg->m_nFilesCopied = dwCopied;
    m_pDlg->m_nFilesTotal = dwTotal;
    m_pDlg->m_nCountdown = nCountdown;
  }

  HWND Bar() { return m_pFake->Control(m_hDlg, IDC_PROGRESS); }
  // The progress bar's range as the job sets it.
  void SetBarRange(WORD wUpper) { ::SendMessageW(Bar(), PBM_SETRANGE, 0, MAKELPARAM(0, wUpper)); }
  int BarPos() { return m_pFake->Window(Bar()).progress.nPos; }

  // Delivers a message to the dialog under test the way the fake delivers it, also when a later
  // dialog (a message box) has become the fake's most recent one.
  LRESULT Deliver(UINT nMsg, WPARAM wParam, const std::string& strArgs) {
    m_pFake->Note("> " + std::string(nMsg == WM_TIMER ? "WM_TIMER" : "WM_PAINT") + "(dlg102" +
                  strArgs + ")");
    return AfxCallWndProc(m_hDlg, nMsg, wParam, 0);
  }

  // One paint of the dialog, as the refresh tick's invalidation brings it; its calls in order.
  std::vector<std::string> Paint() {
    ::InvalidateRect(m_hDlg, nullptr, TRUE);
    m_pFake->ClearCalls();
    Deliver(WM_PAINT, 0, "");
    return Canonical(m_pFake->Calls());
  }

  // One tick of a timer the dialog has set; the calls it made (the repaint comes after it).
  std::vector<std::string> Tick(UINT_PTR nId) {
    m_pFake->ClearCalls();
    EXPECT_TRUE(m_pFake->HasTimer(m_hDlg, nId)) << "timer " << nId << " is not set";
    Deliver(WM_TIMER, nId, ", " + std::to_string(nId));
    return m_pFake->Calls();
  }

  std::unique_ptr<CFakeWindows> m_pFake;
  std::unique_ptr<CFakeWindowsScope> m_pScope;
  HWND m_hDlg = nullptr;
  std::unique_ptr<CRecoveryDlg> m_pDlg;
};
