// Where a device path really leads: the folders by device and inode, for rules that must hold
// whatever the names and links on the way say.
#include <fcntl.h>
#include <sys/stat.h>

#include "platform/host/device/device.h"
#include "platform/host/device/errors.h"
#include "platform/host/device/facts.h"

namespace {

bool IdOf(int fd, CFileId& id) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return false;
  id = {static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino)};
  return true;
}

}  // namespace

BOOL CHostDevice::FolderChain(const std::wstring& strPath, bool bChange,
                              std::vector<CFileId>& chain) {
  HostFacts::NextCall();
  chain.clear();
  CDevicePath path, root;
  CDeviceImage::Split(L"\\", root);
  if (!CDeviceImage::Split(strPath, path)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  const EResolve eResolve = bChange ? EResolve::Change : EResolve::Read;
  DWORD dwError = 0;
  CFileId rootId;
  CUniqueFd fdRoot(m_pImage->Open(root, O_PATH | O_DIRECTORY, 0, EResolve::Read, dwError));
  CUniqueFd fd(m_pImage->Open(path, O_PATH | O_DIRECTORY, 0, eResolve, dwError));
  if (!fdRoot.IsValid() || !IdOf(fdRoot.Get(), rootId) || !fd.IsValid()) {
    SetLastError(dwError == ERROR_FILE_NOT_FOUND || !dwError ? ERROR_PATH_NOT_FOUND : dwError);
    return FALSE;
  }
  // Up by "..", which the kernel takes across mounts as they stand: the folders really above,
  // up to the image's root (or the host's "/", its own parent).
  for (CFileId id; IdOf(fd.Get(), id);) {
    if (!chain.empty() && chain.back() == id) return TRUE;
    chain.push_back(id);
    if (id == rootId) return TRUE;
    fd = CUniqueFd(::openat(fd.Get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!fd.IsValid()) break;
  }
  SetLastError(Win32FromErrno(errno));
  return FALSE;
}
