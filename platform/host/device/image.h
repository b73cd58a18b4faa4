// The device image: a host folder standing for the device's root. The one place where device
// paths become host paths; nothing resolved through it leaves the image.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/host/device/unique_fd.h"
#include "platform/wintypes.h"

// A device path resolved down to the folder that holds its last component.
struct CResolvedPath {
  // O_PATH descriptor of the holding folder (the root for "\"), shared with the image's cache.
  std::shared_ptr<const CUniqueFd> fdParent;
  std::string strName;  // last component; empty for "\" itself
  bool IsRoot() const { return strName.empty(); }
  int Parent() const { return fdParent->Get(); }
};

class CDeviceImage {
 public:
  // strRoot: host folder of the device's "\"; volumes: names of the folders right under it
  // that read as mounted volume roots.
  CDeviceImage(const std::string& strRoot, std::vector<std::string> volumes);

  // Canonical host path of the root ("/" for the whole host); empty when it does not exist.
  const std::string& RealRoot() const { return m_strRealRoot; }

  // Components of a device path ("\" and "/" both separate; "." and empty ones dropped, ".."
  // taken back by name); false when the path climbs above "\".
  static bool Split(const std::wstring& strPath, std::vector<std::string>& parts);
  // Host path of a device path, by name only (links not resolved); empty when it climbs out.
  std::string HostPathOf(const std::wstring& strPath) const;
  // Device path of a host path inside the image ("\A\B", "\" for the root); empty outside.
  std::wstring DevicePathOf(const std::string& strHostPath) const;

  // Resolves all but the last component, following links that stay inside the image. FALSE
  // with the code: 3 when a folder on the way is missing, 5 when it would leave the image.
  BOOL Resolve(const std::wstring& strPath, CResolvedPath& out, DWORD& dwError) const;
  // Forgets the remembered folders at or under the path: to call after anything through this
  // image removed, created or replaced a name there.
  void ForgetFolder(const std::wstring& strPath) const;
  // Opens the path itself (links followed inside the image) with open flags; -1 with the code
  // (2 for a missing last component, 3 for a missing folder on the way, 5 out of the image).
  int Open(const std::wstring& strPath, int nFlags, DWORD& dwError) const;

  // Facts about name in the folder fdParent, the name's own (a link is not followed); FALSE
  // with 2 when it is missing. For the root, name is empty.
  BOOL Stat(int fdParent, const std::string& strName, struct statx& st, DWORD& dwError) const;
  // The attribute word: 0x10 for a folder, 0x1 without the owner write bit, 0x80 for a plain
  // file, exactly 0x110 for a mount point or a volume folder; "\" reads 0x10.
  DWORD WordOf(int fdParent, const std::string& strName, const struct statx& st) const;

 private:
  // A folder resolved earlier, by its path relative to the root, with its identity at the time
  // and the calls it serves without a check.
  struct CKnownFolder {
    std::string strRel;
    std::shared_ptr<const CUniqueFd> fd;
    dev_t dev = 0;
    ino_t ino = 0;
    std::uint64_t nThread = 0;
    std::uint64_t nServesUntil = 0;
  };
  static constexpr size_t kKnownFolders = 4;

  int OpenBeneath(int fdDir, const std::string& strRel, int nFlags) const;
  // The folder at strRel (relative to the root): a remembered one while it serves the caller's
  // calls (see host_facts.h) or while its name still leads to the same folder, else resolved
  // afresh; null with errno when it cannot be.
  std::shared_ptr<const CUniqueFd> OpenFolder(const std::string& strRel) const;
  // Puts the folder among the remembered ones, in the place of its name's or the oldest.
  void Remember(CKnownFolder entry) const;

  std::string m_strRoot;
  std::string m_strRealRoot;
  std::vector<std::string> m_arrVolumes;
  std::shared_ptr<const CUniqueFd> m_fdRoot;
  mutable std::mutex m_knownMutex;
  mutable std::vector<CKnownFolder> m_arrKnown;
  mutable size_t m_nNextKnown = 0;
  dev_t m_rootDev = 0;
  ino_t m_rootIno = 0;
  bool m_bWholeHost = false;
};
