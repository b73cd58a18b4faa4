// Device images for the tests: a fresh folder in /dev/shm, read back whole from the host side,
// real programs to run in it, and the diagnostic lines a test collects.
#pragma once

#include <signal.h>
#include <sys/resource.h>
#include <sys/types.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "platform/device_backend.h"

// One path of an image as the device reads it.
struct CEntry {
  DWORD dwAttributes;       // 0x10 folder, 0x110 volume folder, 0x80 file, | 0x1 read-only
  std::string strContents;  // files: the bytes; links: "-> target"
  friend bool operator==(const CEntry&, const CEntry&) = default;
};
using CTree = std::map<std::wstring, CEntry>;  // by device path
void PrintTo(const CEntry& entry, std::ostream* os);
inline CEntry File(std::string strContents, DWORD dwAttributes = FILE_ATTRIBUTE_NORMAL) {
  return {dwAttributes, std::move(strContents)};
}
inline CEntry Folder(DWORD dwAttributes = FILE_ATTRIBUTE_DIRECTORY) { return {dwAttributes, ""}; }

// A fresh folder under /dev/shm, removed with everything in it when the object goes.
class CTempImage {
 public:
  CTempImage();
  ~CTempImage();
  CTempImage(const CTempImage&) = delete;
  CTempImage& operator=(const CTempImage&) = delete;

  const std::string& Root() const { return m_strRoot; }
  // Host path of a relative path ("SDMMC/a.txt").
  std::string Host(const std::string& strRel) const { return m_strRoot + "/" + strRel; }
  // Folders and files, with the folders above them made as needed.
  void Folder(const std::string& strRel, mode_t mode = 0755) const;
  void File(const std::string& strRel, const std::string& strContents, mode_t mode = 0644) const;
  void Link(const std::string& strRel, const std::string& strTarget) const;
  // Entries written "path=contents" (a file), "path/" (a folder) or "path=>target" (a link),
  // read-only with "!" after them, separated by spaces, paths relative with "/".
  void Lay(const std::string& strEntries) const;
  // The whole tree, read from the host side without any device: folders 0x10 (the volume folders
  // ResidentFlash and SDMMC right under the root 0x110), files 0x80, links 0x80 with their
  // target, 0x1 added without the owner write bit.
  CTree Snapshot() const;

 private:
  std::string m_strRoot;
};

// The entries of Lay's notation as the device reads them, by device path.
CTree Entries(const std::string& strEntries);

// Installs a device backend for its lifetime; the previous one comes back afterwards.
class CDeviceScope {
 public:
  explicit CDeviceScope(IDeviceBackend& device) : m_pPrevious(InstallDeviceBackend(&device)) {}
  ~CDeviceScope() { InstallDeviceBackend(m_pPrevious); }
  CDeviceScope(const CDeviceScope&) = delete;
  CDeviceScope& operator=(const CDeviceScope&) = delete;

 private:
  IDeviceBackend* m_pPrevious;
};

// Files of this process may grow to nBytes only, for its lifetime: writes beyond fail (EFBIG) as
// on a full card.
class CFileSizeLimit {
 public:
  explicit CFileSizeLimit(rlim_t nBytes);
  ~CFileSizeLimit();
  CFileSizeLimit(const CFileSizeLimit&) = delete;
  CFileSizeLimit& operator=(const CFileSizeLimit&) = delete;

 private:
  struct rlimit m_old {};
  sighandler_t m_pfnOld;
};

// Whole contents of a host file ("" when it cannot be read).
std::string ReadHostFile(const std::string& strPath);

// A copy of /bin/sleep run from strProgram (made when missing): a device program that runs until
// it is killed. Killed and reaped when the object goes, if still there.
class CProgram {
 public:
  explicit CProgram(const std::string& strProgram);
  ~CProgram();
  CProgram(const CProgram&) = delete;
  CProgram& operator=(const CProgram&) = delete;
  DWORD Pid() const { return static_cast<DWORD>(m_pid); }
  // True while the process exists and is not a zombie.
  bool Alive() const;

 private:
  pid_t m_pid = 0;
};
// A pid that no process has: a child of ours, already reaped.
DWORD VanishedPid();

// Collects the diagnostic lines instead of printing them, for its lifetime; fnEach (optional)
// sees each line as it is printed, on the printing thread.
class CDiagCapture {
 public:
  explicit CDiagCapture(std::function<void(const std::string&)> fnEach = nullptr);
  ~CDiagCapture();
  // Every print call's text, in order ("dest:A.EXE\r\n").
  std::vector<std::string> Lines() const;

 private:
  static void Sink(const std::string& strUtf8);
  std::function<void(const std::string&)> m_fnEach;
  mutable std::mutex m_mutex;
  std::vector<std::string> m_lines;
};

// Notes the handle table's next handle; Leaked() lists the handles opened since and still open.
class CHandleWatch {
 public:
  CHandleWatch();
  std::vector<UINT_PTR> Leaked() const;

 private:
  UINT_PTR m_nFirst;
};
