// The device image: a host folder standing for the device's root. The one place where device
// paths become host names and where those names are resolved; nothing resolved through it leaves
// the image.
#pragma once

#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/host/device/unique_fd.h"
#include "platform/wintypes.h"

// A device path as the host names it, relative to the image root.
struct CDevicePath {
  std::string strFolder;  // the folder holding the last component; "." for the root's entries
  std::string strName;    // the last component; empty for "\" itself
  bool IsRoot() const { return strName.empty(); }
  // The whole path relative to the root ("." for "\").
  std::string Rel() const;
};

// How a path is resolved from the root. For reading, links are followed while they stay inside
// the image. For a change, no link is followed at all and the folders are looked up at that
// moment: a change lands where the image has the name when it is made, never in a folder that
// left the image meanwhile.
enum class EResolve { Read, Change };

class CDeviceImage {
 public:
  // strRoot: host folder of the device's "\"; volumes: names of the folders right under it
  // that read as mounted volume roots.
  CDeviceImage(const std::string& strRoot, std::vector<std::string> volumes);

  // Canonical host path of the root ("/" for the whole host); empty when it does not exist.
  const std::string& RealRoot() const { return m_strRealRoot; }

  // The host names of a device path ("\" and "/" both separate; "." and empty components
  // dropped, ".." takes one back); false when the path climbs above "\".
  static bool Split(const std::wstring& strPath, CDevicePath& out);
  // Host path of a device path, by name only (links not resolved); empty when it climbs out.
  std::string HostPathOf(const std::wstring& strPath) const;
  // Device path of a host path inside the image ("\A\B", "\" for the root); empty outside.
  std::wstring DevicePathOf(const std::string& strHostPath) const;

  // Opens the path itself with open flags (and mode, with O_CREAT); -1 with the code: 2 for a
  // missing last component, 3 for a missing folder on the way (one moved away included) or a
  // name several entries equal without regard to case, 5 for a way out of the image or a link a
  // change may not follow. A name missing as written is the entry equal to it without regard to
  // case (see MatchCase); with O_CREAT a last component equal to none is made as written.
  int Open(const CDevicePath& path, int nFlags, mode_t mode, EResolve eResolve,
           DWORD& dwError) const;
  // The folder holding the path's last component (the root for "\"), opened as Open does; null
  // with the code (3 when it is missing).
  std::shared_ptr<const CUniqueFd> OpenParent(const CDevicePath& path, EResolve eResolve,
                                              DWORD& dwError) const;

  // Facts about name in the folder fdParent, the name's own (a link is not followed); FALSE
  // with 2 when it is missing. For the root, name is empty.
  BOOL Stat(int fdParent, const std::string& strName, struct statx& st, DWORD& dwError) const;
  // The entry of the folder fdFolder equal to strName without regard to case, for a name missing
  // as written: strName becomes its name. FALSE with 2 when there is none, with 3 and a line on
  // standard error naming them when there are several.
  BOOL MatchCase(int fdFolder, std::string& strName, DWORD& dwError) const;
  // Stat of the name, or of the entry equal to it without regard to case when it is missing as
  // written (strName becomes its name); the codes of both.
  BOOL StatAnyCase(int fdParent, std::string& strName, struct statx& st, DWORD& dwError) const;
  // The attribute word: 0x10 for a folder, 0x1 without the owner write bit, 0x80 for a plain
  // file, exactly 0x110 for a mount point or a volume folder; "\" reads 0x10.
  DWORD WordOf(int fdParent, const std::string& strName, const struct statx& st) const;

 private:
  // Every resolution goes through here: rel (relative to the root) opened with openat2, confined
  // to the image; -1 with errno.
  int OpenBeneath(const std::string& strRel, int nFlags, mode_t mode, EResolve eResolve) const;
  // The same without openat2: rel walked one name at a time from the root, with the same
  // results and errno as openat2 with OpenBeneath's resolve flags.
  int WalkBeneath(const std::string& strRel, int nFlags, mode_t mode, EResolve eResolve) const;

  // rel (names only, as Split gives them) with each name missing as written replaced by the one
  // its folder holds without regard to case, resolved as OpenBeneath does; bLastMayBeMissing: a
  // last name equal to none stays as written. False with the code.
  bool FoldCase(const std::string& strRel, bool bLastMayBeMissing, EResolve eResolve,
                std::string& strReal, DWORD& dwError) const;

  std::string m_strRoot;
  std::string m_strRealRoot;
  std::vector<std::string> m_arrVolumes;
  std::shared_ptr<const CUniqueFd> m_fdRoot;
  dev_t m_rootDev = 0;
  ino_t m_rootIno = 0;
  bool m_bWholeHost = false;
};
