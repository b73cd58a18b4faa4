// The device on the host: the files of a device image and the device's processes from /proc,
// with the device's rules kept by this layer (root ignores permission bits, Linux lets a running
// program's file be replaced).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/device_backend.h"
#include "platform/host/device/facts.h"
#include "platform/host/device/image.h"

class CHostDevice : public IDeviceBackend {
 public:
  // The image rooted at the host folder strRoot ("/" for the whole host); the folders named in
  // volumes, right under the root, read as mounted volume roots (0x110).
  explicit CHostDevice(const std::string& strRoot,
                       std::vector<std::string> volumes = {"ResidentFlash", "SDMMC"});
  CHostDevice(const CHostDevice&) = delete;
  CHostDevice& operator=(const CHostDevice&) = delete;

  // Where the program stands when nothing else tells: its Path.xml is read from this folder.
  static constexpr wchar_t kDefaultProgram[] = L"\\SDMMC\\Recovery\\Recovery.exe";

  // ORVANE_DEVICE_ROOT when set and not empty, else "/".
  static std::string RootFromEnvironment();
  // A device path a program file can have: "\" and a name, no "\" at the end, under MAX_PATH.
  static bool IsProgramPath(const std::wstring& strPath);
  // ORVANE_PROGRAM when set and not empty, else "". False with the reason when it is not a
  // program path.
  static bool ProgramFromEnvironment(std::wstring& strPath, std::string& strError);

  // The program file's device path, as the starter of the program tells it (the simulator,
  // ORVANE_PROGRAM); empty returns to the host executable's own path when that lies inside the
  // image, else kDefaultProgram.
  void SetModuleFileName(const std::wstring& strPath);
  // Host path of a device path (by name, links not resolved); empty when it climbs out.
  std::string HostPathOf(const std::wstring& strPath) const {
    return m_pImage->HostPathOf(strPath);
  }
  const CDeviceImage& Image() const { return *m_pImage; }

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
  BOOL FolderChain(const std::wstring& strPath, bool bChange, std::vector<CFileId>& chain) override;
  std::wstring ModuleFileName() override;
  std::vector<CProcessInfo> SnapshotProcesses() override;
  std::shared_ptr<CProcessObject> OpenProcess(DWORD dwPid) override;
  DWORD CurrentProcessId() override;

 private:
  // Why an existing file may not be overwritten or deleted: 5 read-only, 32 a running program's
  // file; 0 when it may.
  DWORD RefusalFor(int fdParent, const std::string& strName, const struct statx& st) const;
  // A fresh temporary file in the folder, its name in strTemp; -1 with the code. The first in a
  // folder removes what ended runs left there.
  int CreateTemp(int fdParent, std::string& strTemp, DWORD& dwError);
  // The facts about a path: this thread's recent ones, else looked up now. Null with the code
  // when the path climbs out or the folder holding it cannot be reached; a missing name is a
  // fact too.
  const CFact* Lookup(const CDevicePath& path, DWORD& dwError);
  // The source of a copy opened for reading, resolved from the image root, with its facts in st;
  // -1 with the code (5 for anything but a plain file, which is never opened).
  int OpenSource(const CDevicePath& source, struct stat& st, DWORD& dwError);
  // A copy to a missing destination, made under its name; bAppeared when one was made by others
  // meanwhile and the copy may go over it. A failure removes what it made.
  BOOL CopyToNew(int fdSrc, const struct stat& src, const CDevicePath& dst, BOOL bFailIfExists,
                 bool& bAppeared);
  // Removes the file a failed copy made under the path, not one others put there since: made is
  // what the copy made (by its inode; with st_ino 0, by the size and time it was given).
  void RemoveMade(const CDevicePath& path, const struct stat& made);
  // A copy over the existing name in the folder: written to a temporary file renamed over it.
  BOOL CopyOver(int fdSrc, const struct stat& src, int fdParent, const std::string& strName);

  // Shared with the listings, which may outlive the device.
  std::shared_ptr<const CDeviceImage> m_pImage;
  const std::uint64_t m_nFactsOwner;
  std::mutex m_mutex;
  std::wstring m_strModule;
  std::mutex m_sweptMutex;
  std::set<std::pair<dev_t, ino_t>> m_swept;  // folders cleared of ended runs' temporary files
};
