// A device image in a temporary host folder, and real processes to run in it, for host tests.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

#include "tests/fakes/fake_device.h"

// A fresh folder under /tmp, removed with everything in it when the object goes.
class CTempImage {
 public:
  CTempImage();
  ~CTempImage();
  CTempImage(const CTempImage&) = delete;
  CTempImage& operator=(const CTempImage&) = delete;

  const std::string& Root() const { return m_strRoot; }
  // Host path of a relative path ("SDMMC/a.txt").
  std::string Host(const std::string& strRel) const { return m_strRoot + "/" + strRel; }
  void Folder(const std::string& strRel, mode_t mode = 0755) const;
  void File(const std::string& strRel, const std::string& strContents, mode_t mode = 0644) const;
  void Link(const std::string& strRel, const std::string& strTarget) const;
  // Whole tree by device path, as the device reads it: folders 0x10 (0x11 without the owner
  // write bit; the volume folders ResidentFlash and SDMMC 0x110), files 0x80 or 0x1 with their
  // contents, links 0x80 with "-> target". Computed here, without the backend under test.
  std::map<std::wstring, CFakeEntry> Snapshot() const;

 private:
  std::string m_strRoot;
};

// Whole contents of a host file ("" when it cannot be read).
std::string ReadHostFile(const std::string& strPath);

// Starts a program with arguments; returns once it runs (posix_spawn waits for the exec).
pid_t Spawn(const std::string& strProgram, const std::vector<std::string>& args);
// Kills a child with SIGKILL (if still there) and reaps it.
void KillAndReap(pid_t pid);
// A pid that no process has: one of our children, already reaped.
pid_t VanishedPid();
// True while the process exists and is not a zombie.
bool IsAlive(pid_t pid);
