// The tests' one stand-in: the host device, forwarded call for call, with what a real device
// cannot be made to do on demand: a call failing with a chosen code, a hidden bit, a process that
// will not die, a cut after the N-th change, and a record of the calls where order is the point.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/device_backend.h"

enum class EOp {
  kList,
  kGetAttributes,
  kSetAttributes,
  kCreateFolder,
  kCopyFile,
  kDeleteFile,
  kRemoveFolder,
  kReadFile,
  kReplaceFile,
  kOpenProcess,
  kFlush,
  kExamine  // an entry of a listing, by its path: the listing stops there with the code
};

class CFaultDevice : public IDeviceBackend {
 public:
  // Forwards to device (not owned) and installs itself for its lifetime.
  explicit CFaultDevice(IDeviceBackend& device);
  ~CFaultDevice() override;

  // eOp fails with dwError, changing nothing, at its nAt-th call from now (only calls on a path
  // containing strPathPart count when one is given), and with bOnward at every later one too.
  void Fail(EOp eOp, DWORD dwError, int nAt = 1, bool bOnward = false,
            std::wstring strPathPart = L"");
  // The path reads with the hidden bit (0x2), also in its folder's listing, and refuses a copy
  // over it (5), until its attributes are set without it.
  void Hide(const std::wstring& strPath);
  // Terminating the process fails with 5 and a wait on it times out.
  void Immortal(DWORD dwPid);
  // After nChanges changes every change (attributes, folders, copies, deletions, replacements)
  // fails with 31 and changes nothing, as after a power cut; -1 lifts the cut.
  void CutAfter(int nChanges);
  // Changes made so far.
  int Changes() const;
  // Every call as "Op path[ -> path][ = error]", in order, from any thread.
  std::vector<std::wstring> Log() const;
  // Runs fn with each call's line (without its outcome) before the call, on the calling thread.
  void OnCall(std::function<void(const std::wstring&)> fn);

  // IDeviceBackend.
  BOOL ListFolder(const std::wstring& strFolder, std::vector<WIN32_FIND_DATAW>& entries) override;
  std::unique_ptr<IFolderListing> OpenListing(const std::wstring& strFolder) override;
  DWORD GetAttributes(const std::wstring& strPath) override;
  BOOL SetAttributes(const std::wstring& strPath, DWORD dwAttributes) override;
  BOOL CreateFolder(const std::wstring& strPath) override;
  BOOL CopyFile(const std::wstring& strSource, const std::wstring& strDest,
                BOOL bFailIfExists) override;
  BOOL DeleteFile(const std::wstring& strPath) override;
  BOOL RemoveFolder(const std::wstring& strPath) override;
  BOOL ReadWholeFile(const std::wstring& strPath, std::string& bytes) override;
  BOOL ReplaceFileContents(const std::wstring& strPath, const std::string& bytes) override;
  BOOL FlushFileSystem(const std::wstring& strPath) override;
  BOOL FolderChain(const std::wstring& strPath, bool bChange,
                   std::vector<CFileId>& chain) override {
    return m_device.FolderChain(strPath, bChange, chain);
  }
  std::wstring ModuleFileName() override { return m_device.ModuleFileName(); }
  std::vector<CProcessInfo> SnapshotProcesses() override;
  std::shared_ptr<CProcessObject> OpenProcess(DWORD dwPid) override;
  DWORD CurrentProcessId() override { return m_device.CurrentProcessId(); }

 private:
  struct CFault {
    EOp eOp;
    DWORD dwError;
    int nAt;
    bool bOnward;
    std::wstring strPathPart;
    int nCalls = 0;
  };
  // Logs the call and tells whether it fails (the last error then set): an injected fault or,
  // for a change, the cut. The outcome goes to the log through Done.
  bool Injected(EOp eOp, const std::wstring& strLine, const std::wstring& strPath, bool bChange);
  BOOL Done(BOOL bResult);
  // A call that changes nothing when it is to fail, else is forwarded and logged with its outcome.
  template <class F>
  BOOL Forward(EOp eOp, const std::wstring& strPath, bool bChange, F fnCall) {
    return Injected(eOp, strPath, strPath, bChange) ? FALSE : Done(fnCall());
  }
  // fn's answer, under the lock.
  template <class F>
  auto Locked(F fn) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return fn();
  }
  DWORD HiddenBit(const std::wstring& strPath) const;

  IDeviceBackend& m_device;
  IDeviceBackend* m_pPrevious;
  mutable std::mutex m_mutex;
  std::vector<CFault> m_faults;
  std::set<std::wstring> m_hidden;
  std::set<DWORD> m_immortal;
  int m_nCut = -1;
  int m_nChanges = 0;
  std::vector<std::wstring> m_log;
  std::function<void(const std::wstring&)> m_fnOnCall;
};
