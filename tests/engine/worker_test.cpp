// The worker thread: a run on the start request with its state going idle, running, finished;
// its start and stop lines and named stop event; and a stop during a long job that ends the job
// at its next file and joins the thread before the dialog goes.
#include <atomic>
#include <cstdio>

#include "engine/event_thread.h"
#include "tests/engine/engine_fixture.h"
#include "tests/support/qt_fixture.h"

namespace {

std::string ThreadLine(const char* pszFormat, const CEventThread& worker) {
  char sz[128];
  std::snprintf(sz, sizeof sz, pszFormat,
                static_cast<unsigned>(reinterpret_cast<UINT_PTR>(worker.m_hThread)),
                worker.m_dwThreadId);
  return sz;
}

// Holds the worker's file copies (or the calls holding strHeld) until it is opened or, with
// bUntilStopped, until the worker is asked to stop: the stop request is the worker's own to see,
// so it is looked at every millisecond.
struct CGate {
  explicit CGate(CFaultDevice& dev, bool bUntilStopped = false, std::wstring strHeld = L" -> ") {
    dev.OnCall([this, bUntilStopped, strHeld](const std::wstring& strCall) {
      if (strCall.find(strHeld) == std::wstring::npos) return;
      m_bArrived = true;
      while (!m_bOpen && !(bUntilStopped && ThreadStopRequested())) Sleep(1);
    });
  }
  std::atomic<bool> m_bArrived{false}, m_bOpen{false};
};

TEST(Worker, RunsEveryEntryOnTheStartRequestAndReportsTheEndThroughItsState) {
  for (bool bEntries : {true, false}) {
    SCOPED_TRACE(bEntries ? "two entries" : "no entry: the run ends at once, nothing touched");
    CWorld world;
    world.m_image.Lay(
        "SDMMC/Backup/Navi/a.txt=a SDMMC/Backup/Voice/v.txt=v "
        "SDMMC/OrvaneData/AppData/settings.ini=s");
    CTree expected = world.m_image.Snapshot();
    CRecoveryDlg& dlg = world.m_rig.Dialog();
    if (bEntries) {
      dlg.m_arrSrcPaths = {L"\\SDMMC\\Backup\\Navi", L"\\SDMMC\\Backup\\Voice"};
      dlg.m_arrDstPaths = {L"\\ResidentFlash\\Navi", L"\\ResidentFlash\\Voice"};
      expected.erase(L"\\SDMMC\\OrvaneData\\AppData");
      expected.erase(L"\\SDMMC\\OrvaneData\\AppData\\settings.ini");
      expected.merge(
          Entries("ResidentFlash/Navi/ ResidentFlash/Navi/a.txt=a ResidentFlash/Voice/ "
                  "ResidentFlash/Voice/v.txt=v"));
    }
    CGate gate(world.m_dev);
    dlg.m_pWorker = new CEventThread(&dlg.m_hStopEvent, RecoveryThreadProc, &dlg);
    EXPECT_EQ(dlg.m_nWorkerState.load(), WORKER_IDLE);
    dlg.m_bStart = true;
    if (bEntries) {
      ASSERT_TRUE(PumpUntil([&] { return gate.m_bArrived.load(); }));
      EXPECT_EQ(dlg.m_nWorkerState.load(), WORKER_RUNNING);
      EXPECT_EQ(dlg.m_nIndex.load(), 0u);
      EXPECT_TRUE(dlg.m_bStart.load());
      gate.m_bOpen = true;
    }
    // The finished state goes first; the start request is cleared after it.
    ASSERT_TRUE(PumpUntil([&] { return dlg.m_nWorkerState == WORKER_FINISHED; }));
    ASSERT_TRUE(PumpUntil([&] { return !dlg.m_bStart; }));
    EXPECT_EQ(dlg.m_bSuccess.load(), bEntries);
    EXPECT_EQ(dlg.m_nIndex.load(), bEntries ? 1u : 0u);
    EXPECT_EQ(world.m_image.Snapshot(), expected);
  }
}

// A job that outlasts the 3000 ms wait: the time-out line, then the job stops at its next file
// and the thread is joined before the dialog goes.
TEST(Worker, StopDuringALongJobStopsItAtTheNextFile) {
  // Held at a copy, then at a deletion of the flash; the lines between the start and the time-out.
  const std::pair<std::wstring, std::vector<std::string>> cases[] = {
      {L" -> ",
       {"dele main:\\ResidentFlash\\Old\r\n", "ignore dir:\\ResidentFlash\r\n",
        "dele main:\\ResidentFlash\r\n"}},
      {L"DeleteFile ", {}}};
  for (const auto& [strHeld, lines] : cases) {
    SCOPED_TRACE(WideToUtf8(strHeld));
    CWorld world;
    world.m_image.Lay(
        "SDMMC/Backup/Navi/a.txt=a SDMMC/Backup/Navi/b.txt=b ResidentFlash/Old/x=x "
        "ResidentFlash/Old/y=y SDMMC/OrvaneData/AppData/settings.ini=s");
    CRecoveryDlg& dlg = world.m_rig.Dialog();
    dlg.m_arrSrcPaths = {L"\\SDMMC\\Backup\\Navi"};
    dlg.m_arrDstPaths = {L"\\ResidentFlash\\Navi"};
    CGate gate(world.m_dev, true, strHeld);
    CDiagCapture diag;
    auto* pWorker = new CEventThread(&dlg.m_hStopEvent, RecoveryThreadProc, &dlg);
    std::vector<std::string> expected = lines;
    expected.insert(expected.begin(), ThreadLine("[Start Thread] HANDLE->%x ID->%0x\n", *pWorker));
    expected.push_back("~Thread WAIT_TIMEOUT\n");
    expected.push_back(ThreadLine("[End Thread] HANDLE->%x ID->%0x\n", *pWorker));
    // The stop event answers to its name: thread handle and id in lower-case hexadecimal.
    HANDLE hSame = CreateEventW(nullptr, FALSE, FALSE,
                                Utf8ToWide(ThreadLine("EventThread_%x_%x", *pWorker)).c_str());
    EXPECT_EQ(std::make_pair(GetLastError(), dlg.m_hStopEvent.load()),
              std::make_pair(ERROR_ALREADY_EXISTS, pWorker->m_hEvent));
    CloseHandle(hSame);
    dlg.m_bStart = true;
    ASSERT_TRUE(PumpUntil([&] { return gate.m_bArrived.load(); }));
    const HANDLE hThread = pWorker->m_hThread;
    delete pWorker;
    EXPECT_EQ(LookupHandle(hThread), nullptr);
    EXPECT_EQ(diag.Lines(), expected);
    EXPECT_EQ(dlg.m_bSuccess.load(), FALSE);
    // Held at a copy: one file copied, the old ones gone; at a deletion: one old file left, none
    // copied. The data folder stays.
    CTree tree = world.m_image.Snapshot();
    size_t nFiles = 0;
    for (const wchar_t* psz : {L"Navi\\a.txt", L"Navi\\b.txt", L"Old\\x", L"Old\\y"})
      nFiles += tree.count(std::wstring(L"\\ResidentFlash\\") + psz);
    EXPECT_EQ(nFiles, 1u);
    EXPECT_EQ(tree.count(L"\\SDMMC\\OrvaneData\\AppData\\settings.ini"), 1u);
  }
}

}  // namespace
