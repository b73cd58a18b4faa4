#include "tests/support/volume.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>

namespace {

// Runs a shell command line of our own paths; its status, and its first output line in *pOut.
int Run(const std::string& strCommand, std::string* pOut = nullptr) {
  FILE* pPipe = ::popen((strCommand + " 2>/dev/null").c_str(), "r");
  if (!pPipe) return -1;
  char szLine[512] = "";
  std::string strFirst;
  while (::fgets(szLine, sizeof szLine, pPipe))
    if (strFirst.empty()) strFirst = szLine;
  const int nStatus = ::pclose(pPipe);
  while (!strFirst.empty() && strFirst.back() == '\n') strFirst.pop_back();
  if (pOut) *pOut = strFirst;
  return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
}

// Whether a process holds strPath open (a FUSE daemon still writing after its unmount).
bool HeldOpen(const std::string& strPath) {
  namespace fs = std::filesystem;
  std::error_code ec;
  for (const auto& proc : fs::directory_iterator("/proc", ec)) {
    if (!std::isdigit(static_cast<unsigned char>(proc.path().filename().string()[0]))) continue;
    for (const auto& fd : fs::directory_iterator(proc.path() / "fd", ec))
      if (fs::read_symlink(fd.path(), ec) == strPath) return true;
  }
  return false;
}

bool Have(const char* szTool) { return Run(std::string("command -v ") + szTool) == 0; }

// What makes and mounts each kind, in the order of EVolumeKind.
struct CKindTools {
  const char* pszName;
  const char* pszMkfs;
  const char* pszMkfsOptions;
  const char* pszMount;
};
constexpr CKindTools kTools[] = {{"FAT32", "mkfs.vfat", " -F 32", "fusefat"},
                                 {"exFAT", "mkfs.exfat", "", "mount.exfat-fuse"},
                                 {"ext4", "mkfs.ext4", " -q -F", "mount"}};
const CKindTools& ToolsOf(EVolumeKind kind) { return kTools[static_cast<int>(kind)]; }

}  // namespace

const char* VolumeName(EVolumeKind kind) { return ToolsOf(kind).pszName; }

CTempVolume::CTempVolume(EVolumeKind kind, std::string strMountPoint, unsigned nMiB)
    : m_kind(kind), m_strMountPoint(std::move(strMountPoint)) {
  const CKindTools& tools = ToolsOf(kind);
  const std::string strName = tools.pszName;
  if (::geteuid() != 0) {
    m_strWhy = strName + ": mounting needs root";
  } else if (kind != EVolumeKind::kExt4 && ::access("/dev/fuse", R_OK | W_OK) != 0) {
    m_strWhy = strName + ": no usable /dev/fuse";
  } else if (!Have(tools.pszMkfs) || !Have(tools.pszMount)) {
    m_strWhy = strName + ": " + tools.pszMkfs + " or " + tools.pszMount +
               " missing (scripts/setup installs them)";
  }
  if (!Ok()) return;
  char szImage[] = "/dev/shm/orvane-volume-XXXXXX";
  const int fd = ::mkstemp(szImage);
  if (fd < 0 || ::ftruncate(fd, off_t{nMiB} << 20) != 0) m_strWhy = strName + ": no image file";
  if (fd >= 0) ::close(fd);
  m_strImage = szImage;
  if (!Ok()) return;
  const std::string strMkfs = tools.pszMkfs + std::string(tools.pszMkfsOptions);
  if (Run(strMkfs + " '" + m_strImage + "' >/dev/null") != 0) {
    m_strWhy = strName + ": " + tools.pszMkfs + " failed";
    return;
  }
  if (kind == EVolumeKind::kExfat &&
      (Run("losetup --find --show '" + m_strImage + "'", &m_strLoop) != 0 || m_strLoop.empty())) {
    m_strWhy = strName + ": no loop device";
    return;
  }
  Mount(false);
}

bool CTempVolume::Mount(bool bReadOnly) {
  const std::string strDir = "'" + m_strMountPoint + "'";
  std::string strCommand;
  switch (m_kind) {
    case EVolumeKind::kFat32:  // fusefat writes only when told rw+
      strCommand = "fusefat -o " + std::string(bReadOnly ? "ro " : "rw+ ") + "'" + m_strImage +
                   "' " + strDir + " >/dev/null";
      break;
    case EVolumeKind::kExfat:
      strCommand = "mount.exfat-fuse " + std::string(bReadOnly ? "-o ro " : "") + m_strLoop + " " +
                   strDir + " >/dev/null";
      break;
    case EVolumeKind::kExt4:
      strCommand = "mount -o loop" + std::string(bReadOnly ? ",ro " : " ") + "'" + m_strImage +
                   "' " + strDir;
      break;
  }
  m_bMounted = Run(strCommand) == 0;
  if (!m_bMounted) m_strWhy = std::string(VolumeName(m_kind)) + ": mount failed";
  // A fresh ext4 volume holds lost+found, which no device volume has.
  if (m_bMounted && m_kind == EVolumeKind::kExt4 && !bReadOnly)
    std::filesystem::remove(m_strMountPoint + "/lost+found");
  return m_bMounted;
}

bool CTempVolume::Remount(bool bReadOnly) {
  Unmount();
  return Mount(bReadOnly);
}

void CTempVolume::Unmount() {
  if (!m_bMounted) return;
  const std::string strDir = "'" + m_strMountPoint + "'";
  if (m_kind == EVolumeKind::kExt4) {
    if (Run("umount " + strDir) != 0) Run("umount -l " + strDir);
  } else if (Run("fusermount -u " + strDir) != 0) {
    Run("fusermount -u -z " + strDir);
  }
  // fusefat writes its last changes after the unmount returns: the image is whole once it is
  // closed (bounded: a daemon that hangs leaves it as it is).
  for (int nTry = 0; m_kind == EVolumeKind::kFat32 && nTry < 500 && HeldOpen(m_strImage); ++nTry)
    ::usleep(20000);
  m_bMounted = false;
}

CTempVolume::~CTempVolume() {
  Unmount();
  if (!m_strLoop.empty()) Run("losetup -d " + m_strLoop);
  if (!m_strImage.empty()) ::unlink(m_strImage.c_str());
}

CReadOnlyBind::CReadOnlyBind(std::string strFolder) : m_strFolder(std::move(strFolder)) {
  const std::string strDir = "'" + m_strFolder + "'";
  if (m_strFolder.empty() || ::geteuid() != 0 || Run("mount --bind " + strDir + " " + strDir))
    return;
  m_bMounted = true;
  if (Run("mount -o remount,bind,ro " + strDir) != 0) {
    Run("umount " + strDir);
    m_bMounted = false;
  }
}

CReadOnlyBind::~CReadOnlyBind() {
  if (m_bMounted && Run("umount '" + m_strFolder + "'") != 0)
    Run("umount -l '" + m_strFolder + "'");
}
