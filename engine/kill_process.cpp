#include "engine/kill_process.h"

#include <string>

#include "platform/kernel.h"
#include "platform/processes.h"
#include "platform/runtime.h"

namespace {

constexpr DWORD kTerminateWaitMs = 2500;

std::wstring UpperCopy(LPCWSTR psz) {
  std::wstring str(psz ? psz : L"");
  _wcsupr(str.data());
  return str;
}

void TerminateAndWait(DWORD dwPid, LPCWSTR pszName) {
  HANDLE hProcess = OpenProcess(PROCESS_TERMINATE, FALSE, dwPid);
  TerminateProcess(hProcess, 0);
  // A process that could not be opened or terminated fails the wait at once.
  if (WaitForSingleObject(hProcess, kTerminateWaitMs) == WAIT_OBJECT_0)
    DiagPrintW(L"terminate %s ok\r\n", pszName);
  if (hProcess) CloseHandle(hProcess);
}

}  // namespace

void KillProcessByName(LPCWSTR pszName) {
  HANDLE hSnapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (hSnapshot == INVALID_HANDLE_VALUE || !hSnapshot) return;
  const std::wstring strWanted = UpperCopy(pszName);
  // Terminating the recovery program itself would leave the device half restored.
  const DWORD dwSelf = GetCurrentProcessId();
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL bMore = Process32First(hSnapshot, &entry); bMore;
       bMore = Process32Next(hSnapshot, &entry)) {
    if (entry.th32ProcessID == dwSelf || UpperCopy(entry.szExeFile) != strWanted) continue;
    TerminateAndWait(entry.th32ProcessID, pszName);
    break;
  }
  CloseToolhelp32Snapshot(hSnapshot);
}
