#include "platform/processes.h"

#include <algorithm>
#include <cwchar>
#include <vector>

#include "platform/device_backend.h"

namespace {

class CSnapshotObject : public CKernelObject {
 public:
  explicit CSnapshotObject(std::vector<CProcessInfo> procs) : m_procs(std::move(procs)) {}
  DWORD Wait(DWORD) override { return WAIT_FAILED; }
  BOOL Fill(size_t i, PROCESSENTRY32W* pEntry) {
    if (!pEntry || pEntry->dwSize != sizeof(PROCESSENTRY32W)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    if (i >= m_procs.size()) {
      SetLastError(ERROR_NO_MORE_FILES);
      return FALSE;
    }
    m_nNext = i + 1;
    pEntry->th32ProcessID = m_procs[i].dwPid;
    const std::wstring& image = m_procs[i].strImage;
    size_t n = std::min(image.size(), static_cast<size_t>(MAX_PATH - 1));
    std::wmemcpy(pEntry->szExeFile, image.c_str(), n);
    pEntry->szExeFile[n] = L'\0';
    return TRUE;
  }
  size_t m_nNext = 0;

 private:
  std::vector<CProcessInfo> m_procs;
};

std::shared_ptr<CSnapshotObject> Snapshot(HANDLE h) {
  auto snap = std::dynamic_pointer_cast<CSnapshotObject>(LookupHandle(h));
  if (!snap) SetLastError(ERROR_INVALID_HANDLE);
  return snap;
}

}  // namespace

HANDLE CreateToolhelp32Snapshot(DWORD dwFlags, DWORD) {
  IDeviceBackend* dev = DeviceBackend();
  if (!dev || dwFlags != TH32CS_SNAPPROCESS) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  return RegisterHandle(std::make_shared<CSnapshotObject>(dev->SnapshotProcesses()));
}

BOOL Process32First(HANDLE hSnapshot, PROCESSENTRY32W* pEntry) {
  auto snap = Snapshot(hSnapshot);
  return snap ? snap->Fill(0, pEntry) : FALSE;
}

BOOL Process32Next(HANDLE hSnapshot, PROCESSENTRY32W* pEntry) {
  auto snap = Snapshot(hSnapshot);
  return snap ? snap->Fill(snap->m_nNext, pEntry) : FALSE;
}

BOOL CloseToolhelp32Snapshot(HANDLE hSnapshot) {
  return Snapshot(hSnapshot) ? CloseHandle(hSnapshot) : FALSE;
}

HANDLE OpenProcess(DWORD, BOOL, DWORD dwProcessId) {
  IDeviceBackend* dev = DeviceBackend();
  if (!dev) {
    SetLastError(ERROR_GEN_FAILURE);
    return nullptr;
  }
  auto proc = dev->OpenProcess(dwProcessId);
  return proc ? RegisterHandle(proc) : nullptr;
}

BOOL TerminateProcess(HANDLE hProcess, UINT uExitCode) {
  auto proc = std::dynamic_pointer_cast<CProcessObject>(LookupHandle(hProcess));
  if (!proc) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return proc->Terminate(uExitCode);
}

DWORD GetCurrentProcessId() {
  IDeviceBackend* dev = DeviceBackend();
  return dev ? dev->CurrentProcessId() : 0;
}
