// The fake device's process table: snapshot, open, terminate and wait, never blocking.
#include "tests/fakes/fake_device.h"

namespace {

// A handle on a fake process; its calls go back to the fake while it lives.
class CFakeProcessObject : public CProcessObject {
 public:
  CFakeProcessObject(std::weak_ptr<CFakeDevice*> pAnchor, DWORD dwPid)
      : m_pAnchor(std::move(pAnchor)), m_dwPid(dwPid) {}
  BOOL Terminate(UINT) override {
    auto anchor = m_pAnchor.lock();
    if (!anchor) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    return (*anchor)->TerminateFakeProcess(m_dwPid);
  }
  DWORD Wait(DWORD dwMilliseconds) override {
    auto anchor = m_pAnchor.lock();
    if (!anchor) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    return (*anchor)->WaitFakeProcess(m_dwPid, dwMilliseconds);
  }

 private:
  std::weak_ptr<CFakeDevice*> m_pAnchor;
  DWORD m_dwPid;
};

}  // namespace

void CFakeDevice::AddProcess(DWORD dwPid, const std::wstring& strImage,
                             const std::wstring& strHeldFile, EFakeDeath eDeath,
                             int nTimedOutWaits) {
  std::lock_guard<std::mutex> lock(m_mutex);
  CProcess proc;
  proc.strImage = strImage;
  std::wstring norm;
  if (!strHeldFile.empty() && Normalize(strHeldFile, norm)) proc.arrHeld.push_back(norm);
  proc.eDeath = eDeath;
  proc.nWaitsLeft = nTimedOutWaits;
  m_mapProcs[dwPid] = proc;
}

void CFakeDevice::HoldFile(DWORD dwPid, const std::wstring& strPath) {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::wstring norm;
  auto it = m_mapProcs.find(dwPid);
  if (it != m_mapProcs.end() && Normalize(strPath, norm)) it->second.arrHeld.push_back(norm);
}

bool CFakeDevice::IsRunning(DWORD dwPid) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_mapProcs.find(dwPid);
  return it != m_mapProcs.end() && it->second.bRunning;
}

std::vector<DWORD> CFakeDevice::RunningProcesses() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::vector<DWORD> out;
  for (const auto& [pid, proc] : m_mapProcs)
    if (proc.bRunning) out.push_back(pid);
  return out;
}

void CFakeDevice::EndProcess(DWORD dwPid) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_mapProcs.find(dwPid);
  if (it != m_mapProcs.end()) EndLocked(it->second);
}

void CFakeDevice::EndLocked(CProcess& proc) { proc.bRunning = false; }

std::vector<CProcessInfo> CFakeDevice::SnapshotProcesses() {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::vector<CProcessInfo> out;
  if (DWORD e = Begin(EFakeOp::kSnapshot, L"Snapshot", {})) {
    Fail(e);
    return out;
  }
  for (const auto& [pid, proc] : m_mapProcs)
    if (proc.bRunning) out.push_back(CProcessInfo{pid, proc.strImage});
  return out;
}

std::shared_ptr<CProcessObject> CFakeDevice::OpenProcess(DWORD dwPid) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (DWORD e = Begin(EFakeOp::kOpenProcess, L"OpenProcess " + std::to_wstring(dwPid), {})) {
    Fail(e);
    return nullptr;
  }
  if (dwPid == m_dwCurrentPid) {
    Fail(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  auto it = m_mapProcs.find(dwPid);
  if (it == m_mapProcs.end() || !it->second.bRunning) {
    Fail(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return std::make_shared<CFakeProcessObject>(m_pAnchor, dwPid);
}

BOOL CFakeDevice::TerminateFakeProcess(DWORD dwPid) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (DWORD e =
          Begin(EFakeOp::kTerminateProcess, L"TerminateProcess " + std::to_wstring(dwPid), {}))
    return Fail(e);
  auto it = m_mapProcs.find(dwPid);
  if (it == m_mapProcs.end() || !it->second.bRunning) return TRUE;
  CProcess& proc = it->second;
  switch (proc.eDeath) {
    case EFakeDeath::kDies:
      EndLocked(proc);
      break;
    case EFakeDeath::kRefuses:
      return Fail(ERROR_ACCESS_DENIED);
    case EFakeDeath::kSlow:
    case EFakeDeath::kHangs:
      proc.bTerminated = true;
      break;
  }
  return TRUE;
}

DWORD CFakeDevice::WaitFakeProcess(DWORD dwPid, DWORD dwMilliseconds) {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::wstring record =
      L"WaitProcess " + std::to_wstring(dwPid) + L" " +
      (dwMilliseconds == INFINITE ? std::wstring(L"INFINITE") : std::to_wstring(dwMilliseconds));
  if (DWORD e = Begin(EFakeOp::kWaitProcess, record, {})) {
    Fail(e);
    return WAIT_FAILED;
  }
  auto it = m_mapProcs.find(dwPid);
  if (it == m_mapProcs.end() || !it->second.bRunning) return WAIT_OBJECT_0;
  CProcess& proc = it->second;
  if (proc.eDeath == EFakeDeath::kSlow && proc.bTerminated && --proc.nWaitsLeft <= 0)
    EndLocked(proc);
  m_arrRecord[m_nCurrentRecord].first += L" = timeout";
  return WAIT_TIMEOUT;
}
