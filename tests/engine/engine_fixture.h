// The engine's world: a device image in /dev/shm with the two volume folders on the host device,
// behind the fault decorator, and a recovery dialog on the Qt backend with its controls bound and
// the counter's mutex but nothing else of the program's start-up. A run goes on the calling
// thread, as the worker runs it.
#pragma once

#include <gtest/gtest.h>

#include <QEvent>
#include <QObject>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/copy_error.h"
#include "engine/recovery_run.h"
#include "platform/host/device/device.h"
#include "tests/support/fault_device.h"
#include "tests/support/image.h"
#include "tools/screen_rig.h"

using CEntries = std::vector<std::pair<std::wstring, std::wstring>>;

class CWorld {
 public:
  CWorld() {
    m_image.Folder("ResidentFlash");
    m_image.Folder("SDMMC");
  }
  // A device program run from the image's file (a copy of /bin/sleep when missing).
  CProgram& Run(const std::string& strRel) {
    return *m_programs.emplace_back(std::make_unique<CProgram>(m_image.Host(strRel)));
  }
  CTempImage m_image;
  CHostDevice m_host{m_image.Root()};
  CScreenRig m_rig{{.strProgramPath = {}, .fnRestart = [] { return FALSE; }}};
  CFaultDevice m_dev{m_host};  // installed over the rig's own device
  std::vector<std::unique_ptr<CProgram>> m_programs;
};

// What a run left behind.
struct CRun {
  BOOL bSuccess = FALSE;
  BOOL bSourceOk = FALSE;
  DWORD dwTotal = 0;
  DWORD dwCopied = 0;
  DWORD dwError = 0;  // of the last failed copy
  LONG nCountdown = 0;
  std::vector<std::string> lines;  // diagnostic lines
  int nBarMaximum = 0;             // of the bar's range (an empty range shows as 0..1)
  bool bBarShown = false;
  UINT nRestartPeriod = 0;  // of the restart countdown's timer; 0 when not set
  bool bEarly = false;      // the run read as restored before all of it was done
};

// Notes a run that reads as restored while the bar still shows.
class CEarlySuccessWatch : public QObject {
 public:
  CEarlySuccessWatch(const CRecoveryDlg& dlg, bool& bEarly) : m_dlg(dlg), m_bEarly(bEarly) {}
  bool eventFilter(QObject*, QEvent* pEvent) override {
    if (pEvent->type() == QEvent::Hide && m_dlg.m_bSuccess) m_bEarly = true;
    return false;
  }

 private:
  const CRecoveryDlg& m_dlg;
  bool& m_bEarly;
};

// One whole run of the entries on the calling thread.
inline CRun RunOnce(CWorld& world, const CEntries& entries) {
  CRecoveryDlg& dlg = world.m_rig.Dialog();
  HWND hBar = ::GetDlgItem(world.m_rig.DialogWindow(), IDC_PROGRESS);
  dlg.m_arrSrcPaths.clear();
  dlg.m_arrDstPaths.clear();
  for (const auto& [src, dst] : entries) {
    dlg.m_arrSrcPaths.push_back(src.c_str());
    dlg.m_arrDstPaths.push_back(dst.c_str());
  }
  g_dwLastCopyError = 0;
  CRun run;
  CEarlySuccessWatch watch(dlg, run.bEarly);
  QWidget* pBar = world.m_rig.Windows().WidgetOf(hBar);
  pBar->installEventFilter(&watch);
  world.m_dev.OnCall([&](const std::wstring&) { run.bEarly = run.bEarly || dlg.m_bSuccess; });
  {
    CDiagCapture diag;
    RunRecovery(dlg);
    run.lines = diag.Lines();
  }
  world.m_dev.OnCall(nullptr);
  pBar->removeEventFilter(&watch);
  run.bSuccess = dlg.m_bSuccess;
  run.bSourceOk = dlg.m_bSourceOk;
  run.dwTotal = dlg.m_nFilesTotal;
  run.dwCopied = dlg.m_nFilesCopied;
  run.dwError = g_dwLastCopyError;
  run.nCountdown = dlg.m_nCountdown;
  run.nBarMaximum = pBar->property("maximum").toInt();
  run.bBarShown = ::IsWindowVisible(hBar);
  run.nRestartPeriod = world.m_rig.Windows().TimerPeriod(world.m_rig.DialogWindow(), IDT_RESTART);
  g_dwLastCopyError = 0;
  return run;
}

// The lines as one text.
inline std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line;
  return text;
}

// What a copy of the host folder strSrc to strDst leaves when it stops at the file named strStop:
// what comes before it in listing order (the file system's own), depth first.
inline bool CopiedBefore(const std::string& strSrc, const std::wstring& strDst,
                         const std::string& strStop, CTree& tree) {
  for (const auto& e : std::filesystem::directory_iterator(strSrc)) {
    const std::wstring strTo = strDst + L"\\" + HostNameToWide(e.path().filename().string());
    if (e.path().filename() == strStop) return false;
    if (!e.is_directory()) {
      tree[strTo] = File(ReadHostFile(e.path()));
      continue;
    }
    tree[strTo] = Folder();
    if (!CopiedBefore(e.path(), strTo, strStop, tree)) return false;
  }
  return true;
}
