// The device behind the file and process services: the host's device image (in the tests, with the
// fault decorator over it). Exactly one is installed at a time; the free functions of files.h and
// processes.h dispatch to it. Every operation sets the last error (SetLastError) when it fails.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/kernel.h"
#include "platform/wintypes.h"

// A process that termination can end; waits return WAIT_OBJECT_0 once it is gone.
class CProcessObject : public CKernelObject {
 public:
  virtual BOOL Terminate(UINT uExitCode) = 0;
};

// The entries of one folder, handed out one at a time as the caller walks them.
class IFolderListing {
 public:
  virtual ~IFolderListing() = default;
  // The next entry; false after the last, or at an entry that cannot be examined (only a name
  // gone meanwhile is passed over): then data holds only its name and the code is the last error.
  virtual bool Next(WIN32_FIND_DATAW& data) = 0;
  // From the next entry on the caller needs only the folder bit of each word: a backend may then
  // leave the other bits, the times and the size unread (0).
  virtual void TypesOnly() {}
};

struct CProcessInfo {
  DWORD dwPid;
  std::wstring strImage;  // file name of the program file, without folder
};

class IDeviceBackend {
 public:
  virtual ~IDeviceBackend() = default;

  // Folder paths come without the "\*" suffix; paths are under MAX_PATH (checked by the caller).
  // Entries in listing order, "." and ".." never among them; FALSE when it cannot be listed
  // or an entry in it cannot be examined.
  virtual BOOL ListFolder(const std::wstring& strFolder,
                          std::vector<WIN32_FIND_DATAW>& entries) = 0;
  // The same entries, read as they are asked for; null (with the last error) when the folder
  // cannot be listed. By default a walk over what ListFolder gives.
  virtual std::unique_ptr<IFolderListing> OpenListing(const std::wstring& strFolder);
  virtual DWORD GetAttributes(const std::wstring& strPath) = 0;
  virtual BOOL SetAttributes(const std::wstring& strPath, DWORD dwAttributes) = 0;
  virtual BOOL CreateFolder(const std::wstring& strPath) = 0;
  virtual BOOL CopyFile(const std::wstring& strSource, const std::wstring& strDest,
                        BOOL bFailIfExists) = 0;
  virtual BOOL DeleteFile(const std::wstring& strPath) = 0;
  virtual BOOL RemoveFolder(const std::wstring& strPath) = 0;
  // Whole contents of a file; FALSE (with the last error) when it cannot be read: missing, a
  // folder, unreadable.
  virtual BOOL ReadWholeFile(const std::wstring& strPath, std::string& bytes) = 0;
  // Replaces a file as one step: written to a temporary file in the same folder, synced, renamed
  // over the original, whose permission bits it keeps; a symbolic link is refused (5) and stays.
  // On failure the original is untouched and no temporary file is left.
  virtual BOOL ReplaceFileContents(const std::wstring& strPath, const std::string& bytes) = 0;
  // Writes what is cached for the file system holding the path (the nearest existing folder
  // above it when it is missing) to its medium; FALSE with the code when that fails.
  virtual BOOL FlushFileSystem(const std::wstring& strPath) = 0;
  // As GetFolderChain: the folder the path leads to and each one above it up to "\".
  virtual BOOL FolderChain(const std::wstring& strPath, bool bChange,
                           std::vector<CFileId>& chain) = 0;
  // Device path of the program file, or empty when it cannot be told.
  virtual std::wstring ModuleFileName() = 0;

  // Running programs of the device in ascending pid.
  virtual std::vector<CProcessInfo> SnapshotProcesses() = 0;
  // Null (with the last error) when it cannot be opened.
  virtual std::shared_ptr<CProcessObject> OpenProcess(DWORD dwPid) = 0;
  virtual DWORD CurrentProcessId() = 0;
};

// Installs the backend (not owned); returns the previous one. Null leaves no device.
IDeviceBackend* InstallDeviceBackend(IDeviceBackend* pBackend);
IDeviceBackend* DeviceBackend();
