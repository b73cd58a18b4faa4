// An in-memory device for tests: a file tree with attribute words and volume roots, a process
// table, injected failures and a record of every operation, behind IDeviceBackend.
//
// Paths are device paths: "\A\B"; "/" is accepted as a separator too, empty and "." components
// are dropped and ".." is resolved by name; a path that climbs above "\" is refused with 5.
// Names are case-sensitive, like the host's image. The fake keeps the rules of the real thing
// (the same codes as the host backend; one table of cases runs against both):
//   - GetAttributes: missing 2, missing parent folder 3; a file with no other bit reads 0x80
//     (FILE_ATTRIBUTE_NORMAL), a folder 0x10, a volume root exactly 0x110, "\" 0x10.
//   - SetAttributes: missing 2/3; a file keeps the word given (0x10 dropped), a folder gets it
//     with 0x10; a volume root keeps 0x110.
//   - CreateFolder: exists (file or folder) 183, missing parent 3.
//   - CopyFile: source missing 2/3, source or destination a folder 5, destination folder missing
//     3, onto itself 32 (file untouched), destination exists with bFailIfExists 80, read-only
//     destination 5, destination held by a running process 32. The copy gets the source's
//     attribute word and contents; a new file is listed last, a replaced one keeps its place.
//   - DeleteFile: missing 2/3, a folder 5, read-only 5, held by a running process 32.
//   - RemoveFolder: missing 2/3, a file 267, "\" or a volume root 5, read-only folder 5,
//     not empty 145.
//   - ListFolder: missing folder, missing parent or a file 3; an empty folder lists TRUE with no
//     entry (the file services then report no entry).
//   - ReadWholeFile: missing 2/3, a folder 5. ReplaceFileContents: missing parent 3, a folder 5,
//     read-only 5, held 32; a missing file is created (0x80).
//   - OpenProcess: the current process id 5 (the program never ends itself), no such running
//     process 87. A killed process is gone: out of the snapshot, its held files free.
// Waits on fake processes never block: a process still alive reads as timed out at once.
//
// Thread-safe: the worker and the test thread may call it at the same time. The fake must
// outlive every call made on it; process handles may outlive it (their calls then fail with 6).
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/device_backend.h"

// Operation kinds, for failure injection and call counts. kAnyFile stands for every file
// operation (the first nine), kAnyChange for those that change the tree (set attributes, create,
// copy, delete, remove, replace).
enum class EFakeOp {
  kListFolder,
  kGetAttributes,
  kSetAttributes,
  kCreateFolder,
  kCopyFile,
  kDeleteFile,
  kRemoveFolder,
  kReadWholeFile,
  kReplaceFileContents,
  kSnapshot,
  kOpenProcess,
  kTerminateProcess,
  kWaitProcess,
  kAnyFile,
  kAnyChange,
};

// How a fake process meets TerminateProcess.
enum class EFakeDeath {
  kDies,     // gone at once: the wait returns WAIT_OBJECT_0
  kRefuses,  // TerminateProcess fails with 5; it keeps running
  kSlow,     // TerminateProcess succeeds; the next nTimedOutWaits waits time out, then it is gone
  kHangs,    // TerminateProcess succeeds; it never ends (until EndProcess)
};

// Listing order of every folder, unless SetListingOrder names one for a folder.
enum class EFakeListing {
  kInsertion,  // the order in which entries were added (default)
  kReverse,    // the reverse of that
  kByName,     // ascending by name (code units)
};

// One entry of the tree in Snapshot(): the word GetAttributes reads and, for files, the contents.
struct CFakeEntry {
  DWORD dwAttributes;
  std::string strContents;
  friend bool operator==(const CFakeEntry&, const CFakeEntry&) = default;
};

class CFakeDevice : public IDeviceBackend {
 public:
  // A tree holding only "\"; with bVolumes also the volume roots "\ResidentFlash" and "\SDMMC".
  explicit CFakeDevice(bool bVolumes = true);
  ~CFakeDevice() override;

  // --- The tree, set up by the test without rules, records or failures. Missing parent folders
  // are created as plain folders (0x10). Adding an existing path replaces its word (and contents).
  void AddFolder(const std::wstring& strPath, DWORD dwAttributes = FILE_ATTRIBUTE_DIRECTORY);
  // A folder reading exactly 0x110 that RemoveFolder refuses and SetAttributes leaves alone.
  void AddVolumeRoot(const std::wstring& strPath);
  void AddFile(const std::wstring& strPath, const std::string& strContents = {},
               DWORD dwAttributes = FILE_ATTRIBUTE_NORMAL);
  // Removes an entry and everything under it, whatever holds it.
  void RemoveEntry(const std::wstring& strPath);
  bool Exists(const std::wstring& strPath) const;
  // Every entry except "\", by normalized path ("\A\B"), sorted: for whole-state comparison.
  std::map<std::wstring, CFakeEntry> Snapshot() const;

  // --- Listing order.
  void SetListing(EFakeListing eListing);
  // The named entries of the folder list first, in this order; the others follow in the
  // device-wide order. Names that do not exist are passed over.
  void SetListingOrder(const std::wstring& strFolder, std::vector<std::wstring> names);

  // --- Processes. A running process holds its files: they cannot be deleted, overwritten or
  // replaced (32) until it is gone.
  void AddProcess(DWORD dwPid, const std::wstring& strImage, const std::wstring& strHeldFile = {},
                  EFakeDeath eDeath = EFakeDeath::kDies, int nTimedOutWaits = 1);
  // One more file held by the process (a file it has open).
  void HoldFile(DWORD dwPid, const std::wstring& strPath);
  bool IsRunning(DWORD dwPid) const;
  // Running pids, ascending.
  std::vector<DWORD> RunningProcesses() const;
  // The process exits on its own (not recorded).
  void EndProcess(DWORD dwPid);
  // GetCurrentProcessId's answer (default 1000); OpenProcess refuses it.
  void SetCurrentProcessId(DWORD dwPid);
  // GetModuleFileNameW's answer (default "\ResidentFlash\Recovery.exe"); empty makes it fail.
  void SetModuleFileName(const std::wstring& strPath);

  // --- Failures. Counts start at the rule: nCall 1 is the next call of that kind. An injected
  // failure does nothing but set the code (and is recorded with it). A rule for a process
  // operation makes the snapshot empty, OpenProcess null, TerminateProcess FALSE, waits
  // WAIT_FAILED.
  // The next call of that kind fails with dwError.
  void FailOnce(EFakeOp eOp, DWORD dwError);
  // The nCall-th call of that kind fails, and every later one too (a power cut after the
  // (nCall-1)-th file operation is FailFrom(EFakeOp::kAnyFile, nCall, code)).
  void FailFrom(EFakeOp eOp, int nCall, DWORD dwError);
  // Only the nCall-th call of that kind fails.
  void FailAt(EFakeOp eOp, int nCall, DWORD dwError);
  // Every call of that kind naming this path (either path of a copy) fails; nTimes < 0: always.
  void FailPath(EFakeOp eOp, const std::wstring& strPath, DWORD dwError, int nTimes = -1);
  void ClearFailures();
  // Calls of that kind made so far (kAnyFile, kAnyChange: their sums).
  int CallCount(EFakeOp eOp) const;

  // --- The record, in call order, paths as the caller passed them:
  //   "ListFolder \A"  "GetAttributes \A\x"  "SetAttributes \A\x 0x20"  "CreateFolder \A"
  //   "CopyFile \A\x -> \B\x" (+ " (fail if exists)")  "DeleteFile \A\x"  "RemoveFolder \A"
  //   "ReadWholeFile \A\x"  "ReplaceFileContents \A\x"  "Snapshot"  "OpenProcess 12"
  //   "TerminateProcess 12"  "WaitProcess 12 2500"  ("WaitProcess 12 INFINITE")
  // A failed call ends in " = <code>" ("DeleteFile \A\x = 32"); a wait that did not see the
  // process gone ends in " = timeout"; GetModuleFileName and GetCurrentProcessId are not recorded.
  std::vector<std::wstring> Operations() const;
  // The record without ListFolder, GetAttributes, ReadWholeFile, Snapshot, OpenProcess and
  // WaitProcess: what changed the device, or tried to.
  std::vector<std::wstring> Changes() const;
  void ClearRecord();

  // IDeviceBackend.
  BOOL ListFolder(const std::wstring& strFolder, std::vector<WIN32_FIND_DATAW>& entries) override;
  DWORD GetAttributes(const std::wstring& strPath) override;
  BOOL SetAttributes(const std::wstring& strPath, DWORD dwAttributes) override;
  BOOL CreateFolder(const std::wstring& strPath) override;
  BOOL CopyFile(const std::wstring& strSource, const std::wstring& strDest,
                BOOL bFailIfExists) override;
  BOOL DeleteFile(const std::wstring& strPath) override;
  BOOL RemoveFolder(const std::wstring& strPath) override;
  BOOL ReadWholeFile(const std::wstring& strPath, std::string& bytes) override;
  BOOL ReplaceFileContents(const std::wstring& strPath, const std::string& bytes) override;
  std::wstring ModuleFileName() override;
  std::vector<CProcessInfo> SnapshotProcesses() override;
  std::shared_ptr<CProcessObject> OpenProcess(DWORD dwPid) override;
  DWORD CurrentProcessId() override;

  // Called by the fake's process handles.
  BOOL TerminateFakeProcess(DWORD dwPid);
  DWORD WaitFakeProcess(DWORD dwPid, DWORD dwMilliseconds);

 private:
  struct CNode {
    bool bFolder = false;
    bool bVolumeRoot = false;
    DWORD dwAttributes = 0;
    std::string strContents;
    unsigned long long nSeq = 0;                             // place in its folder's listing
    std::map<unsigned long long, std::wstring> mapChildren;  // folders: seq -> name
  };
  struct CProcess {
    std::wstring strImage;
    std::vector<std::wstring> arrHeld;  // normalized paths
    EFakeDeath eDeath = EFakeDeath::kDies;
    int nWaitsLeft = 0;
    bool bRunning = true;
    bool bTerminated = false;
  };
  struct CRule {
    EFakeOp eOp = EFakeOp::kAnyFile;
    DWORD dwError = 0;
    int nFirst = 0;  // 1-based call number counted from the rule (unused by path rules)
    int nLast = -1;  // last failing call number; -1 for no end
    int nSeen = 0;
    std::wstring strPath;  // normalized; empty: any path
    int nTimesLeft = -1;
  };

  // Normalized path ("\" or "\A\B"); false when it climbs above "\".
  static bool Normalize(const std::wstring& strPath, std::wstring& strOut);
  static std::wstring ParentOf(const std::wstring& strNorm);
  static std::wstring NameOf(const std::wstring& strNorm);
  static DWORD ReadWord(const CNode& node);
  CNode* Find(const std::wstring& strNorm);
  const CNode* Find(const std::wstring& strNorm) const;
  // The node; else null with 3 (parent folder missing or a file) or 2.
  CNode* Lookup(const std::wstring& strNorm, DWORD& dwError);
  // The parent folder of a path to be created; null with 3 when it is missing or not a folder.
  CNode* ParentFolder(const std::wstring& strNorm);
  CNode& Insert(const std::wstring& strNorm, bool bFolder);
  void EnsureFolders(const std::wstring& strNorm);
  void Erase(const std::wstring& strNorm);
  bool IsHeld(const std::wstring& strNorm) const;
  void EndLocked(CProcess& proc);

  // Counts the call, records it and applies the rules: the injected code or 0.
  DWORD Begin(EFakeOp eOp, const std::wstring& strRecord,
              std::initializer_list<const std::wstring*> paths);
  // Ends a recorded call: on failure appends the code to its record line and sets the last error.
  BOOL Fail(DWORD dwError);

  mutable std::mutex m_mutex;
  std::map<std::wstring, CNode> m_mapNodes;
  unsigned long long m_nNextSeq = 1;
  EFakeListing m_eListing = EFakeListing::kInsertion;
  std::map<std::wstring, std::vector<std::wstring>> m_mapOrders;
  std::map<DWORD, CProcess> m_mapProcs;
  DWORD m_dwCurrentPid = 1000;
  std::wstring m_strModule = L"\\ResidentFlash\\Recovery.exe";
  std::vector<CRule> m_arrRules;
  std::map<EFakeOp, int> m_mapCounts;
  std::vector<std::pair<std::wstring, bool>> m_arrRecord;  // line, is a change
  size_t m_nCurrentRecord = 0;                             // line of the call in progress
  std::shared_ptr<CFakeDevice*> m_pAnchor;
};

// Installs a fake device for its lifetime and restores the previous backend afterwards.
class CFakeDeviceScope {
 public:
  explicit CFakeDeviceScope(CFakeDevice& device) : m_pPrevious(InstallDeviceBackend(&device)) {}
  ~CFakeDeviceScope() { InstallDeviceBackend(m_pPrevious); }
  CFakeDeviceScope(const CFakeDeviceScope&) = delete;
  CFakeDeviceScope& operator=(const CFakeDeviceScope&) = delete;

 private:
  IDeviceBackend* m_pPrevious;
};
